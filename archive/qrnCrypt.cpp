#include "archive/qrnCrypt.h"

#include <zlib.h>

#include <climits>
#include <random>

#include "platform/codepage.h"

TqrnCryptState& CryptState() {
  static TqrnCryptState state;
  return state;
}

void Crc32Update(const void* Buffer, size_t Count, uint32_t& Crc) {
  // zlib keeps its register complemented on both ends; ours is the raw table register, so
  // complement around the call. The result equals Crc32Step byte by byte.
  auto* p = static_cast<const Bytef*>(Buffer);
  uLong c = ~Crc & 0xFFFFFFFFu;
  while (Count > 0) {
    const uInt n = Count > UINT_MAX ? UINT_MAX : static_cast<uInt>(Count);
    c = crc32(c, p, n);
    p += n;
    Count -= n;
  }
  Crc = ~static_cast<uint32_t>(c);
}

const uint8_t* Crc16Update(const void* Buffer, size_t Count, uint32_t& Crc) {
  auto* p = static_cast<const uint8_t*>(Buffer);
  uint32_t c = Crc;
  for (size_t i = 0; i < Count; ++i) c = Crc16Table[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
  Crc = c;
  return p + Count;
}

void UpdateKeys(uint8_t Plain) {
  TqrnCryptState& s = CryptState();
  s.Key0 = Crc32Step(Plain, s.Key0);
  s.Key1 = (s.Key1 + (s.Key0 & 0xFFu)) * 134775813u + 1u;
  s.Key2 = Crc32Step(static_cast<uint8_t>(s.Key1 >> 24), s.Key2);
}

void InitKeys(const std::string& Password) {
  TqrnCryptState& s = CryptState();
  s.Key0 = kInitialKey0;
  s.Key1 = kInitialKey1;
  s.Key2 = kInitialKey2;
  for (char ch : Password) UpdateKeys(static_cast<uint8_t>(ch));
}

uint8_t DecryptByte() {
  const uint32_t t = (CryptState().Key2 & 0xFFFFu) | 2u;
  return static_cast<uint8_t>((t * (t ^ 1u)) >> 8);
}

uint8_t EncryptByte(uint8_t Plain) {
  const uint8_t k = DecryptByte();
  UpdateKeys(Plain);
  return static_cast<uint8_t>(Plain ^ k);
}

void EncryptBuffer(void* Buffer, size_t Count) {
  auto* p = static_cast<uint8_t*>(Buffer);
  for (size_t i = 0; i < Count; ++i) p[i] = EncryptByte(p[i]);
}

void DecryptBuffer(void* Buffer, size_t Count) {
  auto* p = static_cast<uint8_t*>(Buffer);
  for (size_t i = 0; i < Count; ++i) {
    p[i] = static_cast<uint8_t>(p[i] ^ DecryptByte());
    UpdateKeys(p[i]);
  }
}

std::string MakeEncryptionHeader(const std::string& Password, uint32_t CheckValue) {
  InitKeys(Password);
  // The random bytes come from the system's entropy source rather than a generator re-seeded
  // from the clock: headers made within one clock tick must not share their random bytes.
  std::random_device rd;
  std::uniform_int_distribution<int> byte(0, 255);
  std::string header(kEncryptionHeaderSize, '\0');
  for (size_t i = 0; i < 10; ++i) header[i] = static_cast<char>(EncryptByte(static_cast<uint8_t>(byte(rd))));
  header[10] = static_cast<char>(EncryptByte(static_cast<uint8_t>(CheckValue >> 16)));
  header[11] = static_cast<char>(EncryptByte(static_cast<uint8_t>(CheckValue >> 24)));
  return header;
}

bool CheckEncryptionHeader(std::span<const uint8_t> Header, uint16_t Flags, uint32_t Crc,
                           const std::string& Password, uint16_t DosTime) {
  if (Password.empty() || Header.size() < kEncryptionHeaderSize) return false;
  InitKeys(Password);
  uint8_t plain = 0;
  for (size_t i = 0; i < kEncryptionHeaderSize; ++i) {
    plain = static_cast<uint8_t>(Header[i] ^ DecryptByte());
    UpdateKeys(plain);
  }
  const uint8_t expected = (Flags & 0x0008u) ? static_cast<uint8_t>(DosTime >> 8) : static_cast<uint8_t>(Crc >> 24);
  return plain == expected;
}

bool CheckEncryptionHeader(const std::string& Header, uint16_t Flags, uint32_t Crc, const std::string& Password,
                           uint16_t DosTime) {
  return CheckEncryptionHeader(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(Header.data()), Header.size()), Flags, Crc,
      Password, DosTime);
}

std::optional<std::string> PasswordKey(const std::string& Password) { return platform::Utf8ToCp1251(Password); }

bool CheckPasswordHeader(std::span<const uint8_t> Header, uint16_t Flags, uint32_t Crc, const std::string& Password,
                         uint16_t DosTime, int8_t& Preferred) {
  // Text that code page 1251 cannot hold (or that is not UTF-8) has its bytes as its only key.
  const std::optional<std::string> ansi = PasswordKey(Password);
  if (!ansi || *ansi == Password) return CheckEncryptionHeader(Header, Flags, Crc, Password, DosTime);
  const bool byAnsi = CheckEncryptionHeader(Header, Flags, Crc, *ansi, DosTime);
  const bool byUtf8 = CheckEncryptionHeader(Header, Flags, Crc, Password, DosTime);
  if (!byAnsi && !byUtf8) return false;
  if (byAnsi != byUtf8) Preferred = byAnsi ? 0 : 1;
  const bool ansiChosen = byAnsi && (!byUtf8 || Preferred != 1);
  // The keys must stand as the chosen form leaves them.
  return CheckEncryptionHeader(Header, Flags, Crc, ansiChosen ? *ansi : Password, DosTime);
}
