#pragma once
// CRC-32 (ZIP), CRC-16/ARC and the traditional PKWARE ZIP cipher with its 12-byte encryption
// header. The CRC registers and the cipher keys exist once per process (TqrnCryptState); one
// archive operation runs at a time, so every header or block operation assumes nothing touched
// the keys since its own InitKeys or key load.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qrn_crypt_detail {
constexpr std::array<uint32_t, 256> MakeReflectedTable(uint32_t poly) {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ poly : c >> 1;
    t[i] = c;
  }
  return t;
}
}  // namespace qrn_crypt_detail

// The reflected tables: CRC-32 polynomial 0xEDB88320, CRC-16/ARC polynomial 0xA001.
inline constexpr std::array<uint32_t, 256> Crc32Table = qrn_crypt_detail::MakeReflectedTable(0xEDB88320u);
inline constexpr std::array<uint32_t, 256> Crc16Table = qrn_crypt_detail::MakeReflectedTable(0xA001u);

// The cipher's published initial key words.
inline constexpr uint32_t kInitialKey0 = 0x12345678u;
inline constexpr uint32_t kInitialKey1 = 0x23456789u;
inline constexpr uint32_t kInitialKey2 = 0x34567890u;

// Size of the encryption header in front of an enciphered entry's data.
inline constexpr size_t kEncryptionHeaderSize = 12;

// The engine-wide registers. Crc32 is started at 0xFFFFFFFF by its user and complemented at the
// end; Crc16 is started at 0 and used as it stands.
struct TqrnCryptState {
  uint32_t Crc32 = 0xFFFFFFFFu;
  uint32_t Crc16 = 0;
  uint32_t Key0 = kInitialKey0;
  uint32_t Key1 = kInitialKey1;
  uint32_t Key2 = kInitialKey2;
};
TqrnCryptState& CryptState();

// One table step of the un-inverted register.
constexpr uint32_t Crc32Step(uint8_t Byte, uint32_t Crc) {
  return Crc32Table[(Crc ^ Byte) & 0xFFu] ^ (Crc >> 8);
}
// Crc32Step over Count bytes (a faster method with exactly the same result).
void Crc32Update(const void* Buffer, size_t Count, uint32_t& Crc);
// CRC-16/ARC over Count bytes, register kept in 32 bits; returns the position after the last byte.
const uint8_t* Crc16Update(const void* Buffer, size_t Count, uint32_t& Crc);

void UpdateKeys(uint8_t Plain);
// Password: the bytes as typed (ANSI code page), not converted here.
void InitKeys(const std::string& Password);
uint8_t DecryptByte();
uint8_t EncryptByte(uint8_t Plain);
void EncryptBuffer(void* Buffer, size_t Count);
void DecryptBuffer(void* Buffer, size_t Count);

// Runs InitKeys(Password) and returns the 12 enciphered header bytes: 10 random bytes, then
// bits 16-23 and 24-31 of CheckValue. The keys are left ready to encipher the entry's data.
std::string MakeEncryptionHeader(const std::string& Password, uint32_t CheckValue);
// Deciphers the 12 stored bytes with Password and tests the last one: against bits 8-15 of
// DosTime when flag bit 3 (data descriptor) is set, else against bits 24-31 of Crc. An empty
// password, or fewer than 12 bytes, fails. On success the keys are ready for the entry's data.
bool CheckEncryptionHeader(std::span<const uint8_t> Header, uint16_t Flags, uint32_t Crc,
                           const std::string& Password, uint16_t DosTime);
bool CheckEncryptionHeader(const std::string& Header, uint16_t Flags, uint32_t Crc, const std::string& Password,
                           uint16_t DosTime);

// The bytes a password typed here (UTF-8) keys the cipher with: its code page 1251 bytes, the
// code page the system's texts are typed in. nullopt when that code page cannot hold it.
std::optional<std::string> PasswordKey(const std::string& Password);

// Tests a typed password against a stored encryption header keyed either way an entry may have
// been made: with the password's code page 1251 bytes, or with its UTF-8 bytes (tools on this
// platform key with the bytes as typed). A wrong key passes once in 256 headers: when both pass,
// Preferred decides (the form, 0 for 1251 and 1 for UTF-8, that alone opened an earlier entry;
// -1 when none has yet), else the 1251 key. A form that alone passes becomes Preferred. On
// success the keys are ready for the entry's data.
bool CheckPasswordHeader(std::span<const uint8_t> Header, uint16_t Flags, uint32_t Crc, const std::string& Password,
                         uint16_t DosTime, int8_t& Preferred);
