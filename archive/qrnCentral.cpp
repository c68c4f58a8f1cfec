#include "archive/qrnCentral.h"

#include <algorithm>
#include <span>

#include "archive/qrnEndian.h"
#include "archive/qrnStreams.h"
#include "archive/qrnZipRecords.h"

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

// Reads the fixed part of a header of Kind at Pos into Header and deciphers it; false when no
// header of that kind stands there.
bool ReadHeaderAt(TStream32& Stream, int64_t Pos, std::span<uint8_t> Header, int32_t Kind, bool& Enciphered) {
  std::fill(Header.begin(), Header.end(), uint8_t{0});
  Enciphered = false;
  try {
    if (Pos < 0 || Stream.Seek(Pos, soBeginning) != Pos) return false;
  } catch (...) {
    return false;
  }
  if (ReadSome(Stream, Header.data(), Header.size()) != Header.size()) return false;
  if (TRegisterQarno::ClassifySignature(GetLE32(Header, 0), Kind, Enciphered) != Kind) return false;
  if (Enciphered) TRegisterQarno::DecipherHeader(Header, Kind);
  return true;
}

}  // namespace

bool ReadCentralRecord(TStream32& Stream, int64_t Pos, TCentralRecord& Record) {
  auto& h = Record.Header;
  if (!ReadHeaderAt(Stream, Pos, h, hkCentral, Record.Enciphered)) return false;
  const bool enc = Record.Enciphered;
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

namespace {

int64_t Wide(uint16_t High, uint32_t Low) { return static_cast<int64_t>((uint64_t{High} << 32) | Low); }

}  // namespace

bool RecordAt(TStream32& Stream, int64_t Pos, std::initializer_list<int32_t> Kinds) {
  uint8_t b[4] = {};
  try {
    if (Pos < 0 || Stream.Seek(Pos, soBeginning) != Pos || ReadSome(Stream, b, 4) != 4) return false;
  } catch (...) {
    return false;
  }
  for (const int32_t kind : Kinds) {
    bool enc = false;
    if (TRegisterQarno::ClassifySignature(GetLE32(b, 0), kind, enc) == kind) return true;
  }
  return false;
}

int64_t FirstLocalSignature(TStream32& Stream, int64_t Until) {
  constexpr int64_t kReach = 4 * 32768;
  constexpr int64_t kBlock = 32768;
  std::vector<uint8_t> block(static_cast<size_t>(kBlock));
  const int64_t end = std::min(Until, kReach);
  // The blocks overlap by three bytes, so that a signature across two of them is seen whole.
  for (int64_t base = 0; base + 4 <= end; base += kBlock - 3) {
    size_t n = 0;
    try {
      if (Stream.Seek(base, soBeginning) == base)
        n = ReadSome(Stream, block.data(), static_cast<size_t>(std::min(kBlock, end - base)));
    } catch (...) {
      n = 0;
    }
    for (size_t i = 0; i + 4 <= n; ++i) {
      bool enc = false;
      if (block[i] == 'P' && TRegisterQarno::ClassifySignature(GetLE32(block, i), hkLocal, enc) == hkLocal)
        return base + static_cast<int64_t>(i);
    }
    if (n < 4) break;
  }
  return -1;
}

uint16_t TLocalRecord::Flags() const { return GetLE16(Header, 6); }
uint16_t TLocalRecord::Method() const { return GetLE16(Header, 8); }
uint32_t TLocalRecord::Crc() const { return GetLE32(Header, 14); }
int64_t TLocalRecord::PackedSize() const { return Wide(High.PackedHigh, Sizes.PackedSize); }
int64_t TLocalRecord::UnpackedSize() const { return Wide(High.UnpackedHigh, Sizes.UnpackedSize); }

bool ReadLocalRecord(TStream32& Stream, int64_t Pos, TLocalRecord& Record) {
  auto& h = Record.Header;
  Record.StoredName.clear();
  Record.Extra.clear();
  Record.Pos = Pos;
  Record.DataStart = Pos;
  if (!ReadHeaderAt(Stream, Pos, h, hkLocal, Record.Enciphered)) return false;
  const bool enc = Record.Enciphered;
  const uint16_t nameLen = GetLE16(h, 26);
  const uint16_t extraLen = GetLE16(h, 28);
  Record.StoredName.assign(nameLen, '\0');
  const size_t gotName = ReadSome(Stream, reinterpret_cast<uint8_t*>(Record.StoredName.data()), nameLen);
  Record.StoredName.resize(gotName);
  if (enc && gotName > 0) TRegisterQarno::DecipherBlock(reinterpret_cast<uint8_t*>(Record.StoredName.data()), static_cast<int32_t>(gotName));
  Record.Extra.resize(extraLen);
  Record.Extra.resize(gotName == nameLen ? ReadSome(Stream, Record.Extra.data(), extraLen) : 0);
  Record.Sizes = TExtraSizes{GetLE32(h, 18), GetLE32(h, 22), 0};
  TZipCommon::ParseExtraField(Record.Extra, Record.High, 0, Record.Sizes);
  Record.Zip64 = Record.High.Tag == kStandardZip64ExtraTag;
  Record.DataStart = Pos + static_cast<int64_t>(h.size()) + nameLen + extraLen;
  return gotName == nameLen && Record.Extra.size() == extraLen;
}

int64_t MemberEnd(TStream32& Stream, const TLocalRecord& Record, int64_t Packed) {
  int64_t size = 0;
  try {
    size = Stream.Size();
  } catch (...) {
    return -1;
  }
  if (Packed < 0 || Record.DataStart > size || Packed > size - Record.DataStart) return -1;
  const int64_t end = Record.DataStart + Packed;
  if ((Record.Flags() & kFlagDataDescriptor) == 0) return end;
  uint8_t b[4] = {};
  bool signature = false;
  try {
    signature = Stream.Seek(end, soBeginning) == end && ReadSome(Stream, b, 4) == 4 &&
                GetLE32(b, 0) == kDataDescriptorSignature;
  } catch (...) {
    signature = false;
  }
  const int64_t narrow = (signature ? 4 : 0) + 12;
  const int64_t broad = narrow + 8;
  for (const int64_t length : {Record.Zip64 ? broad : narrow, Record.Zip64 ? narrow : broad}) {
    const int64_t next = end + length;
    if (next == size || (next < size && RecordAt(Stream, next, {hkLocal, hkCentral, hkEnd}))) return next;
  }
  return -1;
}

int64_t WalkLocalHeaders(TStream32& Stream, int64_t Start, const TLocalVisit& Visit) {
  int64_t size = 0;
  try {
    size = Stream.Size();
  } catch (...) {
    return Start;
  }
  int64_t pos = Start;
  TLocalRecord record;
  while (pos >= 0 && pos < size && RecordAt(Stream, pos, {hkLocal})) {
    const bool whole = ReadLocalRecord(Stream, pos, record);
    if (!Visit(record, whole) || !whole) return pos;
    pos = NextLocalHeader(Stream, record);
  }
  return pos;
}

int64_t NextLocalHeader(TStream32& Stream, const TLocalRecord& Record) {
  // The sizes of a member with a descriptor wait after its data when the local header holds
  // none: its end, and every member after it, is out of reach.
  if ((Record.Flags() & kFlagDataDescriptor) != 0 && Record.PackedSize() == 0) return -1;
  return MemberEnd(Stream, Record, Record.PackedSize());
}

const char* LocalRecordDisagreement(const TLocalRecord& Local, const std::array<uint8_t, 46>& Central,
                                    const std::string& CentralName, int64_t Packed, int64_t Unpacked) {
  if (Local.StoredName != CentralName) return "its local header names another file";
  if (Local.Method() != GetLE16(Central, 10)) return "its local header gives another method";
  // The flag tells how the name's bytes are to be read: where the two headers differ, the name
  // that comes out is not the one stored.
  if (((Local.Flags() ^ GetLE16(Central, 8)) & kFlagUtf8) != 0) return "its local header codes its name otherwise";
  if (((Local.Flags() | GetLE16(Central, 8)) & kFlagDataDescriptor) != 0) return nullptr;
  // A local CRC of 0 defers to the directory's.
  const uint32_t localCrc = Local.Crc();
  if (localCrc != GetLE32(Central, 16) && !(localCrc == 0 && GetLE32(Central, 20) != 0))
    return "its local header gives another CRC";
  const bool wide = Local.High.Tag != 0;
  auto same = [wide](int64_t LocalSize, int64_t CentralSize) {
    return wide ? LocalSize == CentralSize : static_cast<uint32_t>(LocalSize) == static_cast<uint32_t>(CentralSize);
  };
  if (!same(Local.PackedSize(), Packed) || !same(Local.UnpackedSize(), Unpacked)) return "its local header gives other sizes";
  return nullptr;
}
