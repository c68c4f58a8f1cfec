#include "archive/qrnCentral.h"

#include "archive/qrnEndian.h"
#include "archive/qrnStreams.h"

namespace {

// Bytes read into Buffer, 0 on any failure.
size_t ReadSome(TStream32& Stream, uint8_t* Buffer, size_t Count) {
  if (Count == 0) return 0;
  try {
    const int32_t got = Stream.Read(Buffer, static_cast<int32_t>(Count));
    return got > 0 ? static_cast<size_t>(got) : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace

bool ReadCentralRecord(TStream32& Stream, int64_t Pos, TCentralRecord& Record) {
  auto& h = Record.Header;
  h.fill(0);
  try {
    if (Pos < 0 || Stream.Seek(Pos, soBeginning) != Pos) return false;
  } catch (...) {
    return false;
  }
  if (ReadSome(Stream, h.data(), h.size()) != h.size()) return false;
  bool enc = false;
  if (TRegisterQarno::ClassifySignature(GetLE32(h, 0), hkCentral, enc) != hkCentral) return false;
  if (enc) TRegisterQarno::DecipherHeader(h, hkCentral);
  Record.Enciphered = enc;
  const uint16_t nameLen = GetLE16(h, 28);
  const uint16_t extraLen = GetLE16(h, 30);
  const uint16_t commentLen = GetLE16(h, 32);
  Record.StoredName.assign(nameLen, '\0');
  if (ReadSome(Stream, reinterpret_cast<uint8_t*>(Record.StoredName.data()), nameLen) != nameLen) return false;
  if (enc && nameLen > 0) TRegisterQarno::DecipherBlock(reinterpret_cast<uint8_t*>(Record.StoredName.data()), nameLen);
  Record.Extra.resize(extraLen);
  Record.Extra.resize(ReadSome(Stream, Record.Extra.data(), extraLen));
  Record.Comment.resize(commentLen);
  Record.Comment.resize(ReadSome(Stream, Record.Comment.data(), commentLen));
  Record.Sizes = TExtraSizes{GetLE32(h, 20), GetLE32(h, 24), GetLE32(h, 42)};
  TZipCommon::ParseExtraField(Record.Extra, Record.High, 1, Record.Sizes);
  Record.End = Pos + static_cast<int64_t>(h.size()) + nameLen + extraLen + commentLen;
  return true;
}
