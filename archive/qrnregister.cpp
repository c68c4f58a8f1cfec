#include "archive/qrnregister.h"

#include "archive/qrnCrypt.h"
#include "archive/qrnStreams.h"
#include "archive/qrnZipRecords.h"
#include "platform/files.h"

namespace {

// The key words every header is ciphered from. Built once per process, read-only afterwards.
struct HeaderKeyState {
  bool Built = false;
  uint32_t Key0 = 0, Key1 = 0, Key2 = 0;
};
HeaderKeyState& headerKeys() {
  static HeaderKeyState state;
  return state;
}

// Derived from the cipher's initial key words: the keys after feeding the 12 bytes of those
// words through the key schedule. Any fixed state serves; it must only be the same on both ends.
void buildHeaderKeys() {
  HeaderKeyState& h = headerKeys();
  if (h.Built) return;
  TqrnCryptState& s = CryptState();
  const TqrnCryptState saved = s;
  InitKeys("");
  for (uint32_t word : {kInitialKey0, kInitialKey1, kInitialKey2}) {
    for (int i = 0; i < 4; ++i) UpdateKeys(static_cast<uint8_t>(word >> (8 * i)));
  }
  h.Key0 = s.Key0;
  h.Key1 = s.Key1;
  h.Key2 = s.Key2;
  h.Built = true;
  s = saved;  // a component built mid-run must not disturb a cipher in progress
}

void loadHeaderKeys() {
  buildHeaderKeys();
  TqrnCryptState& s = CryptState();
  s.Key0 = headerKeys().Key0;
  s.Key1 = headerKeys().Key1;
  s.Key2 = headerKeys().Key2;
}

uint32_t signatureOf(std::span<const uint8_t> header) {
  return static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
         static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
}

// Bytes after the signature to cipher, or -1 when the span cannot hold the header.
int32_t cipherSpan(std::span<const uint8_t> header, int32_t kind) {
  if (header.size() < 4) return -1;
  int32_t n = TRegisterQarno::HeaderCipherLength(signatureOf(header), kind);
  if (header.size() < static_cast<size_t>(4 + n)) return -1;
  return n;
}

}  // namespace

TRegisterQarno::TRegisterQarno() { buildHeaderKeys(); }

std::string TRegisterQarno::GetArchiveFile() { return FArchiveFile; }

bool TRegisterQarno::DetectFromArchiveFile(TArcType& Found) {
  TFileStream32 stream(FArchiveFile, platform::kModeReadDenyWrite);
  if (stream.Handle() < 0) return false;
  Found = DetectArcType(&stream);
  return true;
}

void TRegisterQarno::SetArchiveFile(const std::string& Value) {
  if (!platform::FileExists(Value)) {
    FArcType = atNA;
    FArchiveFile.clear();
    return;
  }
  FArchiveFile = Value;  // '/' is the local separator already
  TArcType found = atNA;
  FArcType = DetectFromArchiveFile(found) ? found : atNA;
  if (IsKnownArcType(FArcType)) SetVolumeNumbering();
}

void TRegisterQarno::SetArcType(TArcType /*Value*/) {
  if (FArchiveFile.empty()) return;
  TArcType found = atNA;
  if (!DetectFromArchiveFile(found)) {
    FArcType = atNA;
    Throw_EFOpenError("Error opening file");
  }
  FArcType = found;
}

void TRegisterQarno::WriteTrailerBlock(TStream32* /*Output*/) {}

void TRegisterQarno::SetZipCmntBufSize(int32_t Value) {
  if (Value > 32767) Value = 32767;
  if (Value < 2000) Value = 2000;
  FZipCmntBufSize = Value;
}

uint32_t TRegisterQarno::GetHeaderSignature(int32_t Kind, bool Enciphered) {
  switch (Kind) {
    case hkLocal: return Enciphered ? kLocalHeaderSignatureEnciphered : kLocalHeaderSignature;
    case hkCentral: return Enciphered ? kCentralHeaderSignatureEnciphered : kCentralHeaderSignature;
    case hkEnd: return kEndRecordSignature;
    default: return kDataDescriptorSignature;
  }
}

int32_t TRegisterQarno::ClassifySignature(uint32_t Value, int32_t ExpectedKind, bool& Enciphered) {
  Enciphered = false;
  switch (ExpectedKind) {
    case hkLocal:
      if (Value != kLocalHeaderSignature && Value != kLocalHeaderSignatureEnciphered) return hkNone;
      break;
    case hkCentral:
      if (Value != kCentralHeaderSignature && Value != kCentralHeaderSignatureEnciphered) return hkNone;
      break;
    case hkEnd:
      if (Value != kEndRecordSignature && Value != kEndRecordSignatureEnciphered && Value != kLargeEndRecordSignature && Value != kLargeEndRecordSignatureEnciphered) return hkNone;
      break;
    default:
      return hkNone;
  }
  Enciphered = IsEncipheredSignature(Value);
  return ExpectedKind;
}

bool TRegisterQarno::IsEncipheredSignature(uint32_t Value) {
  return Value == kLocalHeaderSignatureEnciphered || Value == kCentralHeaderSignatureEnciphered || Value == kEndRecordSignatureEnciphered || Value == kLargeEndRecordSignatureEnciphered;
}

bool TRegisterQarno::IsEntrySignature(uint32_t Value) {
  return Value == kLocalHeaderSignature || Value == kLocalHeaderSignatureEnciphered || Value == kCentralHeaderSignature || Value == kCentralHeaderSignatureEnciphered;
}

int32_t TRegisterQarno::HeaderCipherLength(uint32_t Signature, int32_t Kind) {
  switch (Kind) {
    case hkLocal: return 26;
    case hkCentral: return 42;
    case hkEnd: return (Signature == kEndRecordSignature || Signature == kEndRecordSignatureEnciphered) ? 18 : 22;
    default: return 0;
  }
}

bool TRegisterQarno::EncipherHeader(std::span<uint8_t> Header, int32_t Kind) {
  int32_t n = cipherSpan(Header, Kind);
  if (n < 0) return false;
  loadHeaderKeys();
  EncryptBuffer(Header.data() + 4, static_cast<size_t>(n));
  return true;
}

bool TRegisterQarno::DecipherHeader(std::span<uint8_t> Header, int32_t Kind) {
  int32_t n = cipherSpan(Header, Kind);
  if (n < 0) return false;
  loadHeaderKeys();
  DecryptBuffer(Header.data() + 4, static_cast<size_t>(n));
  return true;
}

void TRegisterQarno::EncipherBlock(uint8_t* Buffer, int32_t Count) {
  if (Count > 0) EncryptBuffer(Buffer, static_cast<size_t>(Count));
}

void TRegisterQarno::DecipherBlock(uint8_t* Buffer, int32_t Count) {
  if (Count > 0) DecryptBuffer(Buffer, static_cast<size_t>(Count));
}
