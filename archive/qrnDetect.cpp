// Archive-type detection and the zip directory search. Every read goes through ReadAt, which
// refuses positions outside the stream; every field taken from the file is checked before a
// buffer is indexed with it. Detection never raises.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

#include "archive/qrnCentral.h"
#include "archive/qrnEndian.h"
#include "archive/qrnFileIo.h"
#include "archive/qrnPeRes.h"
#include "archive/qrnStreams.h"
#include "archive/qrnZipRecords.h"
#include "archive/qrnregister.h"
#include "platform/volumes.h"

namespace {

constexpr int32_t kHeadSize = 32768;
constexpr int32_t kHeadRead = 32767;
constexpr int32_t kScanBlock = 32768;
constexpr int32_t kScanBlocks = 11;
constexpr int32_t kForwardBlocks = 4;
constexpr int64_t kForwardBlock = 32768;
constexpr int64_t kEndSearchWindow =
    0xFFFF + static_cast<int64_t>(TEndRecord::kSize + TZip64Locator::kSize + TZip64EndRecord::kSize);
constexpr int32_t kUueWindow = 5000;
constexpr int64_t kEmbeddedScanStart = 17000;
constexpr int64_t kArcExeOffset = 7716;

// Why the end of a zip archive is damaged (TZipDirectory::Damage).
constexpr const char* kEndRecordCut = "its end record is cut off by the end of the file";
constexpr const char* kCommentPastEnd = "the archive comment runs past the end of the file";
constexpr const char* kBytesAfterEnd = "bytes that are not its comment follow the last end record";
constexpr const char* kRecordsAfterEnd = "the comment of the last end record holds the records of an archive";
constexpr const char* kEntriesBeforeEmptyEnd = "entries stand before an end record that counts none";
constexpr const char* kDirectoryOutside =
    "the directory's size does not reach from where it begins to its end record";
constexpr const char* kNoDirectory = "the end record does not lead to a directory";
constexpr const char* kInsideMember = "the last end record lies inside the data of a member before it";

// Bytes read, 0 for a position outside the stream or any failure.
int32_t ReadAt(TStream32& s, int64_t pos, void* buf, int32_t count) {
  if (pos < 0 || count <= 0) return 0;
  try {
    if (s.Seek(pos, soBeginning) != pos) return 0;
    const int32_t got = s.Read(buf, count);
    return got < 0 ? 0 : std::min(got, count);
  } catch (...) {
    return 0;
  }
}

// A view of bytes read; bytes outside it read as 0, so a short read never matches a signature.
struct Bytes {
  const uint8_t* p;
  int64_t n;
  uint8_t at(int64_t i) const { return i >= 0 && i < n ? p[i] : 0; }
  uint16_t le16(int64_t i) const { return static_cast<uint16_t>(at(i) | at(i + 1) << 8); }
  uint32_t le32(int64_t i) const { return uint32_t{le16(i)} | uint32_t{le16(i + 2)} << 16; }
  bool has(int64_t i, int64_t len) const { return i >= 0 && len >= 0 && i <= n && n - i >= len; }
  bool is(int64_t i, const char* text) const {
    const int64_t len = static_cast<int64_t>(std::strlen(text));
    return has(i, len) && std::memcmp(p + i, text, static_cast<size_t>(len)) == 0;
  }
};

constexpr uint32_t Dword(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t{a} | uint32_t{b} << 8 | uint32_t{c} << 16 | uint32_t{d} << 24;
}

bool AceMark(const Bytes& head) { return head.is(7, "**ACE**"); }

std::string Extension(const std::string& name) {
  const size_t dot = LastDotPos(name);
  return dot < name.size() ? name.substr(dot + 1) : std::string();
}

bool IsLocalSignature(uint32_t v) { return v == kLocalHeaderSignature || v == kLocalHeaderSignatureEnciphered; }

}  // namespace

int64_t ParseOctal(const std::string& S) {
  uint64_t v = 0;
  for (char c : S) {
    if (c >= '0' && c <= '7') v = v * 8 + static_cast<uint64_t>(c - '0');
  }
  return static_cast<int64_t>(v);
}

TArcType TRegisterQarno::ArcTypeOfHeader(TStream32& Stream, int32_t Mode, uint32_t Dword_) {
  const bool plain = Mode == amPlain;
  const uint8_t b0 = static_cast<uint8_t>(Dword_), b1 = static_cast<uint8_t>(Dword_ >> 8);
  const uint8_t b2 = static_cast<uint8_t>(Dword_ >> 16), b3 = static_cast<uint8_t>(Dword_ >> 24);
  auto first = [&](uint8_t a, uint8_t b) { return b0 == a && b1 == b; };
  if (Dword_ == Dword('B', 'H', 5, 7)) return plain ? atBh : atBhExe;
  if (Dword_ == Dword('R', 'a', 'r', '!')) return plain ? atRar : atRarExe;
  if (Dword_ == Dword('P', 'K', 'G', '5')) return atUnknown;
  if (Dword_ == Dword('M', 'S', 'C', 'F')) return plain ? atCab : atCabExe;
  if (Dword_ == Dword(0xB7, 0xDF, 'T', 'W')) {
    if (plain) return atArc;
    ArcOffset = kArcExeOffset;
    return atArcExe;
  }
  if (Dword_ == Dword(0x13, 0x5D, 0x65, 0x8C)) return plain ? atMsGZ : atUnsupported;
  if (b2 == '-' && b3 == 'l') return plain ? atLha : atLhaExe;
  if (first(0x1A, 0x02) || first(0x1A, 0x1E)) return plain ? atArc : atUnsupported;
  if (first(0x1A, 0x08) || first(0x1A, 0x09)) return plain ? atArc : atArcExe;
  if (first(0x1A, 0x0A) || first(0x1A, 0x0B)) return plain ? atPak : atPakExe;
  if (first(0x1F, 0x1E) || first(0x25, 0x21) || first(0x1F, 0x8B) || first(0x1F, 0x9D) || first(0x1F, 0x9E) ||
      first(0x1F, 0xA0))
    return plain ? atGZip : atUnsupported;
  if (first('H', 'A')) return plain ? atHA : atUnsupported;
  if (first('P', 'K') || first('P', 'L')) {
    if (b2 == 1 && b3 == 2) {
      const TArcType t = SpannedOrMultiVolume();
      FindZipDirectory(Stream);
      return t;
    }
    if (b2 == 7 && b3 == 8) return SpannedOrMultiVolume();
    if ((b2 == 'G' && b3 == '4') || (b2 == 'C' && b3 == 'I')) return atNA;
    return plain ? atZip : atZipExe;
  }
  if (first('Z', 'O')) return plain ? atZoo : atUnsupported;
  if (first(0xB7, 0x92) || first(0xB7, 0xDF)) {
    ArcOffset = kArcExeOffset;
    return atArcExe;
  }
  if (first(0x60, 0xEA)) return plain ? atArj : atArjExe;
  return atNA;
}

TArcType TRegisterQarno::CheckSfxStub(TStream32& Stream) {
  for (int64_t at : {6674, 6867, 7716, 8601, 13138}) {
    if (ArchiveSize < at + 3) break;
    uint8_t w[2] = {0, 0};
    if (ReadAt(Stream, at, w, 2) != 2) continue;
    if (w[0] == 0x1A && (w[1] == 0x08 || w[1] == 0x09)) {
      ArcOffset = at;
      return atArcExe;
    }
    if (w[0] == 0x1A && (w[1] == 0x0A || w[1] == 0x0B)) {
      ArcOffset = at;
      return atPakExe;
    }
  }
  if (ArchiveSize > 1949) {
    uint8_t b[6] = {};
    const Bytes v{b, ReadAt(Stream, 1947, b, 6)};
    if (v.at(0) == '-' && v.at(1) == 'l' && v.at(2) == 'h' && v.at(4) == '-') {
      ArcOffset = 1945;
      return atLhaExe;
    }
  }
  for (int64_t at : {int64_t{7612}, int64_t{25661}}) {
    if (ArchiveSize <= at + 4) continue;
    uint8_t b[4] = {};
    const Bytes v{b, ReadAt(Stream, at, b, 4)};
    if (v.has(0, 4) && v.le32(0) == kLocalHeaderSignature) {
      ArcOffset = at;
      return atZipExe;
    }
  }
  return atNA;
}

int32_t TRegisterQarno::ScanEmbeddedArchive(TStream32& Stream, TArcType& Type, int64_t Start) {
  Type = atNA;
  int64_t result = 0;
  if (Start < 0 || Start >= ArchiveSize) return 0;
  try {
    std::vector<uint8_t> block(kScanBlock);
    for (int32_t k = 0; k < kScanBlocks; ++k) {
      const int64_t base = Start + int64_t{k} * kScanBlock;
      const int32_t got = ReadAt(Stream, base, block.data(), kScanBlock);
      if (got == 0) return 0;
      const Bytes v{block.data(), got};
      for (int64_t i = 0; i < got; ++i) {
        const int64_t b = base + i;
        bool matched = true;
        switch (v.at(i)) {
          case '*':
            // The mark lies 7 bytes into an ACE header: one nearer the start has no header.
            if (v.is(i, "**ACE") && b + 5 < ArchiveSize && b >= 7) {
              result = b - 7;
              Type = b == 7 ? atAce : atAceExe;
            } else {
              matched = false;
            }
            break;
          case '-':
            if (v.is(i, "-lh") && v.at(i + 4) == '-' && b + 5 < ArchiveSize && b >= 2) {
              result = b - 2;
              Type = b == 2 ? atLha : atLhaExe;
            } else {
              matched = false;
            }
            break;
          case 'B':
            if (v.has(i, 8) && v.le32(i) == Dword('B', 'H', 5, 7) && v.le32(i + 4) != Dword(0x0F, 0x94, 0xC3, 0x84)) {
              result = b;
              Type = b == 0 ? atBh : atBhExe;
            } else {
              matched = false;
            }
            break;
          case 'M':
            if (v.has(i, 8) && v.is(i, "MSCF") && v.le32(i + 4) == 0 && b + 5 < ArchiveSize) {
              if (Start == 0) break;  // a cabinet at the very start was the plain test's to find
              result = b;
              Type = b == 0 ? atCab : atCabExe;
            } else {
              matched = false;
            }
            break;
          case 'P':
            if (v.has(i, 8) && v.le32(i) == kLocalHeaderSignature && v.le32(i + 4) != Dword(0x74, 0x0B, 0x3D, 0x00)) {
              Type = Start != 0 ? atZipExe : atZip;
              const int64_t d = FindZipDirectory(Stream);
              // Without a directory the local header itself is where the archive starts, and
              // the reader walks the local headers from there, as for a plain archive.
              result = d > 0 ? d : b;
              if (d == 0) DirectoryFlags |= hfLocal;
            } else {
              matched = false;
            }
            break;
          case 'R':
            if (v.is(i, "Rar!")) {
              result = b;
              Type = b == 0 ? atRar : atRarExe;
            } else {
              matched = false;
            }
            break;
          case 0x60: {
            const int64_t h = v.le16(i + 2);
            if (v.has(i, 4) && v.at(i + 1) == 0xEA && v.has(i + h + 10, 2) && v.at(i + h + 10) == 0x60 &&
                v.at(i + h + 11) == 0xEA) {
              result = b;
              Type = b == 0 ? atArj : atArjExe;
            } else {
              matched = false;
            }
            break;
          }
          default: matched = false;
        }
        if (matched) break;
      }
      if (result != 0) break;
    }
  } catch (...) {
  }
  return result > INT32_MAX ? 0 : static_cast<int32_t>(result);
}

namespace {

// Clamps a 64-bit count or position read from an archive into the signed range.
int64_t Signed(uint64_t v) { return static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX)); }

// How far before a position the local header of a member whose data holds it is looked for.
constexpr int64_t kEnclosingReach = int64_t{1} << 20;

// Whether Pos lies inside the data of a member: one that the local headers from the first one of
// the file lead to, stepped over by their own sizes (bytes before it, a program or damage,
// aside), or one whose local header stands shortly before Pos, where the walk cannot reach it
// (after a member whose sizes wait in its descriptor).
bool InsideMemberData(TStream32& Stream, int64_t Pos) {
  const auto holds = [Pos](const TLocalRecord& Record) {
    return Pos >= Record.DataStart && Pos - Record.DataStart < std::max<int64_t>(Record.PackedSize(), 1);
  };
  bool inside = false;
  const int64_t first = FirstLocalSignature(Stream, Pos);
  if (first < 0) return false;
  WalkLocalHeaders(Stream, first, [&](const TLocalRecord& Record, bool Whole) {
    if (!Whole || Record.Pos >= Pos) return false;
    inside = holds(Record);
    return !inside;
  });
  if (inside) return true;
  const int64_t from = std::max<int64_t>(0, Pos - kEnclosingReach);
  std::vector<uint8_t> before(static_cast<size_t>(Pos - from));
  const Bytes v{before.data(), ReadAt(Stream, from, before.data(), static_cast<int32_t>(before.size()))};
  TLocalRecord record;
  for (int64_t i = 0; i + 4 <= v.n; ++i) {
    if (v.at(i) == 'P' && IsLocalSignature(v.le32(i)) && ReadLocalRecord(Stream, from + i, record) && holds(record))
      return true;
  }
  return false;
}

}  // namespace

int64_t TRegisterQarno::FindZipDirectory(TStream32& Stream) {
  TZipDirectory found;
  const int64_t result = SearchZipDirectory(Stream, found);
  static_cast<TZipDirectory&>(*this) = found;
  return result;
}

int64_t TRegisterQarno::SearchZipDirectory(TStream32& Stream, TZipDirectory& Found) {
  int64_t size = 0;
  try {
    size = Stream.Size();
  } catch (...) {
    return 0;
  }
  if (size <= 0) return 0;
  // The window holds every place an end record can stand (the longest comment after it) and
  // the Zip64 records before the earliest of them.
  const int64_t w = std::min<int64_t>(size, kEndSearchWindow);
  std::vector<uint8_t> window(static_cast<size_t>(w));
  const int64_t start = size - w;
  const int32_t got = ReadAt(Stream, start, window.data(), static_cast<int32_t>(w));
  Bytes v{window.data(), got};

  // The last end signature whose whole record lies in the window: one cut off by the end of the
  // file is no end record, and its fields would lie outside what was read.
  int64_t pos = -1;
  bool large = false;
  bool cut = false;
  for (int64_t i = got - 4; i >= 0; --i) {
    bool enc = false;
    const uint32_t sig = v.le32(i);
    if (ClassifySignature(sig, hkEnd, enc) != hkEnd) continue;
    large = IsLargeEndSignature(sig);
    if (!v.has(i, static_cast<int64_t>(large ? TLargeEndRecord::kSize : TEndRecord::kSize))) {
      cut = true;
      continue;
    }
    pos = i;
    break;
  }
  if (pos < 0) {
    if (cut) Found.Damage = kEndRecordCut;
    return 0;
  }
  const int64_t e = start + pos;
  uint8_t* record = window.data() + pos;
  bool enc = false;
  ClassifySignature(v.le32(pos), hkEnd, enc);
  if (enc) DecipherHeader(std::span<uint8_t>(record, window.size() - static_cast<size_t>(pos)), hkEnd);
  Found.DirectoryFlags = hfEnd;
  Found.EndRecordPos = e;
  Zip64LocatorBuf.fill(0);
  Zip64EndRecordBuf.fill(0);
  const int64_t locatorAt = pos - static_cast<int64_t>(TZip64Locator::kSize);
  const int64_t zip64At = locatorAt - static_cast<int64_t>(TZip64EndRecord::kSize);
  if (locatorAt >= 0 && v.le32(locatorAt) == kZip64LocatorSignature) {
    Found.DirectoryFlags |= hfZip64Locator;
    if (zip64At >= 0 && v.le32(zip64At) == kZip64EndRecordSignature) Found.DirectoryFlags |= hfZip64End;
  }

  // The numbers come from the large record, else from the Zip64 end record when one precedes
  // the 22-byte record, else from the 22-byte record.
  if (large) {
    const auto r = *TLargeEndRecord::Decode(record, TLargeEndRecord::kSize);
    std::copy_n(record, TLargeEndRecord::kSize, LargeEndRecordBuf.begin());
    EndRecordBuf.fill(0);
    std::copy_n(record, 4, EndRecordBuf.begin());
    Found.EndRecordKind = ekLarge;
    Found.CommentPos = e + static_cast<int64_t>(TLargeEndRecord::kSize);
    Found.CommentLength = r.CommentLength;
    Found.EndRecordDisk = r.DiskNumber;
    Found.DirectoryDisk = r.DirectoryDisk;
    Found.DirectoryOffset = Signed(r.DirectoryOffset);
    Found.DirectorySize = r.DirectorySize;
    Found.DirectoryEntries = r.TotalEntries;
  } else {
    const auto r = *TEndRecord::Decode(record, TEndRecord::kSize);
    std::copy_n(record, TEndRecord::kSize, EndRecordBuf.begin());
    Found.EndRecordKind = ekPlain;
    Found.CommentPos = e + static_cast<int64_t>(TEndRecord::kSize);
    Found.CommentLength = r.CommentLength;
    Found.EndRecordDisk = r.DiskNumber;
    Found.DirectoryDisk = r.DirectoryDisk;
    Found.DirectoryOffset = r.DirectoryOffset;
    Found.DirectorySize = r.DirectorySize;
    Found.DirectoryEntries = r.TotalEntries;
    if (Found.DirectoryFlags & hfZip64Locator)
      std::copy_n(window.data() + locatorAt, TZip64Locator::kSize, Zip64LocatorBuf.begin());
    if (Found.DirectoryFlags & hfZip64End) {
      std::copy_n(window.data() + zip64At, TZip64EndRecord::kSize, Zip64EndRecordBuf.begin());
      const auto z = *TZip64EndRecord::Decode(Zip64EndRecordBuf.data(), Zip64EndRecordBuf.size());
      Found.EndRecordKind = ekZip64;
      Found.EndRecordDisk = z.DiskNumber;
      Found.DirectoryDisk = z.DirectoryDisk;
      Found.DirectoryOffset = Signed(z.DirectoryOffset);
      Found.DirectorySize = Signed(z.DirectorySize);
      Found.DirectoryEntries = Signed(z.TotalEntries);
    }
  }
  // The directory ends where the records that describe it begin.
  Found.DirectoryEnd = Found.EndRecordKind == ekZip64 ? start + zip64At : e;

  // The end record found is the archive's own only when nothing but its comment follows it (and
  // the zero bytes that bsdtar pads its output with to a whole block), and the directory it
  // describes ends where it begins: an end record found further back, with the rest of an
  // archive after it, is the end of another archive stored inside this one.
  const int64_t archiveEnd = Found.CommentPos + Found.CommentLength;
  bool foreign = false;
  const auto recordsAfter = [&] {
    for (int64_t i = Found.CommentPos - start; i + 4 <= got; ++i) {
      const uint32_t sig = v.le32(i);
      if (sig == kLocalHeaderSignature || sig == kCentralHeaderSignature || sig == kEndRecordSignature) return true;
    }
    return false;
  };
  if (archiveEnd > size && recordsAfter()) {
    // A comment cut short that holds the records of an archive is the rest of an archive this
    // one is stored in.
    Found.Damage = kRecordsAfterEnd;
    foreign = true;
  } else if (archiveEnd > size) {
    Found.Damage = kCommentPastEnd;  // the archive is cut short; its directory is still there
  } else if (std::any_of(window.begin() + (archiveEnd - start), window.begin() + got, [](uint8_t b) { return b != 0; })) {
    Found.Damage = cut ? kEndRecordCut : kBytesAfterEnd;
    foreign = true;
  }

  int64_t d = -1;
  if (!foreign) {
    // A set whose directory begins on an earlier volume: this one cannot show where it begins.
    if (Found.DirectoryDisk != Found.EndRecordDisk) return 0;
    if (Found.DirectorySize == 0 && Found.DirectoryEntries == 0) {
      // An archive without entries has nothing before its end record but a prefix.
      if (FirstLocalSignature(Stream, Found.DirectoryEnd) < 0) return 0;
      Found.Damage = kEntriesBeforeEmptyEnd;
      foreign = true;
    } else {
      // Numbers that place the directory outside the file leave it unlisted, its entries lost.
      d = Found.DirectoryEnd - Found.DirectorySize;
      CentralHeaderBuf.fill(0);
      if (Found.DirectorySize > Found.DirectoryEnd ||
          ReadAt(Stream, d, CentralHeaderBuf.data(), TCentralHeader::kSize) != TCentralHeader::kSize) {
        if (Found.Damage.empty()) Found.Damage = kDirectoryOutside;
        return 0;
      }
      bool c = false;
      if (ClassifySignature(GetLE32(CentralHeaderBuf, 0), hkCentral, c) != hkCentral) {
        Found.Damage = kNoDirectory;
        foreign = true;
      } else {
        if (c) DecipherHeader(CentralHeaderBuf, hkCentral);
        // The stored offsets miss the entries by the length of a prefix they do not count
        // (a program stub, a script); 32-bit offsets wrap as stored.
        Found.SfxShift = static_cast<uint32_t>(d) - static_cast<uint32_t>(Found.DirectoryOffset);
        // An archive stored as a member of another one, the rest of which is gone, begins
        // inside that member's data.
        if (Found.SfxShift != 0 && InsideMemberData(Stream, d)) {
          Found.Damage = kInsideMember;
          Found.SfxShift = 0;
          foreign = true;
        }
      }
    }
  }

  if (!foreign) {
    Found.DirectoryFlags |= hfCentral;
    const uint32_t local = GetLE32(CentralHeaderBuf, 42) + Found.SfxShift;
    LocalHeaderBuf.fill(0);
    if (ReadAt(Stream, local, LocalHeaderBuf.data(), TLocalHeader::kSize) == TLocalHeader::kSize &&
        IsLocalSignature(GetLE32(LocalHeaderBuf, 0)))
      Found.DirectoryFlags |= hfLocal;
    return d;
  }

  // No directory of its own, nor an end record: what the record found says counts for nothing
  // (a disk number of its own would send the reader and the writer after volumes), and the
  // entries are looked for by their local headers.
  CentralHeaderBuf.fill(0);
  Found = TZipDirectory{.Damage = std::move(Found.Damage)};
  int64_t result = 0;
  const int64_t b = std::min<int64_t>(size - 1, kForwardBlock);
  for (int32_t k = 0; k < kForwardBlocks; ++k) {
    const int32_t n = ReadAt(Stream, int64_t{k} * b, window.data(), static_cast<int32_t>(b));
    if (n == 0) break;
    const Bytes blk{window.data(), n};
    result = -1;
    for (int64_t i = 0; i + 4 <= n; ++i) {
      if (blk.at(i) == 'P' && IsLocalSignature(blk.le32(i))) {
        Found.DirectoryFlags = hfLocal;
        return int64_t{k} * b + i;
      }
    }
  }
  return result;
}

TArcType TRegisterQarno::IsUUEncoded(TStream32& Stream) {
  try {
    std::vector<uint8_t> buf(static_cast<size_t>(std::clamp<int64_t>(ArchiveSize, 0, kUueWindow)));
    const int32_t n = ReadAt(Stream, 0, buf.data(), static_cast<int32_t>(buf.size()));
    const Bytes v{buf.data(), n};
    bool begun = false;
    for (int64_t i = 0; n - i >= 3;) {
      if (v.is(i, "begin 6") || v.is(i, "begin 7")) return atUUE;
      if (v.is(i, "begin")) begun = true;
      else if (begun && v.at(i) == 'M') return atUUE;
      const void* lf = std::memchr(buf.data() + i, '\n', static_cast<size_t>(n - i));
      if (!lf) break;
      i = static_cast<const uint8_t*>(lf) - buf.data() + 1;
    }
  } catch (...) {
  }
  return atNA;
}

TArcType TRegisterQarno::IsTarArchive(TStream32& Stream) {
  if (ArchiveSize <= 512) return atNA;
  TarHeaderBuf.fill(0);
  if (ReadAt(Stream, 0, TarHeaderBuf.data(), 512) == 0) return atNA;
  if (TarHeaderBuf[156] == 'V') {
    ArcOffset = 512;
    if (512 + 512 < ArchiveSize) {
      TarHeaderBuf.fill(0);
      if (ReadAt(Stream, 512, TarHeaderBuf.data(), 512) != 512) return atNA;
    }
  }
  int64_t sum = 0;
  for (size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? 32 : TarHeaderBuf[i];
  const std::string field(reinterpret_cast<const char*>(TarHeaderBuf.data() + 148), 8);
  if (ParseOctal(field) == sum) return atTar;
  ArcOffset = -1;
  return atNA;
}

TArcType TRegisterQarno::SpannedOrMultiVolume() {
  // A stream without a file lies on no disk: it can only be a part of a multi-volume set.
  if (FArchiveFile.empty()) return atZipMV;
  TDiskManager disk;
  if (!disk.CheckDiskOfPath(FArchiveFile, nullptr, nullptr, nullptr, nullptr, false)) return atNA;
  if (disk.DriveType != platform::kDriveRemovable) return atZipMV;
  std::string label = disk.VolumeLabel.substr(0, disk.VolumeLabel.find(' '));
  for (char& c : label) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return label == "PKBACK#" ? atZipDS : atZipMV;
}

TArcType TRegisterQarno::DetectProgramFile(TStream32& Stream, const uint8_t* Head, int32_t HeadLen, TArcType& T) {
  const Bytes head{Head, HeadLen};
  // Offsets that the self-extractor keeps in its string resources.
  TPeStringResources res;
  if (res.Load(Stream)) {
    for (uint32_t id = 1; id <= 7; ++id) {
      const auto text = res.LoadString(id, 5);
      if (!text) break;
      int64_t number = 0;
      bool digits = true;
      for (char16_t c : *text) {
        if (c < u'0' || c > u'9') digits = false;
        else number = number * 10 + (c - u'0');
      }
      if (!digits || number >= ArchiveSize) break;
      ArcOffset = number;
      uint8_t b[14] = {};
      const Bytes h{b, ReadAt(Stream, number, b, 14)};
      if (h.is(7, "**ACE**")) return T = atAceExe;
      if (h.n < 14) continue;
      T = ArcTypeOfHeader(Stream, amEmbedded, h.le32(0));
      if (T == atNA) continue;
      if (T == atJar || T == atJarExe || T == atZip || T == atZipExe) {
        ArcOffset = FindZipDirectory(Stream);
        if (DirectoryFlags == 0) ArcOffset = number;
      }
      return T;
    }
  }

  // The end of the program image, from the page counts of the MZ header.
  const int64_t e = (int64_t{head.le16(4)} - 1) * 512 + head.le16(2);
  if (e > 0 && e + 4 < ArchiveSize) {
    uint8_t b[4] = {};
    if (ReadAt(Stream, e, b, 4) == 4) {
      ArcOffset = (b[2] == 0x60 && b[3] == 0xEA) ? e + 2 : e;
      if (ArcOffset + 4 < ArchiveSize) {
        const Bytes h{b, ReadAt(Stream, ArcOffset, b, 4)};
        if (h.n == 4 && h.le32(0) != kLocalHeaderSignature) {
          T = ArcTypeOfHeader(Stream, amEmbedded, h.le32(0));
          if (IsKnownArcType(T)) return T;
        }
      }
    }
  }

  EndRecordBuf[0] = EndRecordBuf[1] = EndRecordBuf[2] = EndRecordBuf[3] = 0;
  if (!IsKnownArcType(T)) {
    ArcOffset = FindZipDirectory(Stream);
    if (ArcOffset > 0) T = atZipExe;
  }
  if (!IsKnownArcType(T)) ArcOffset = ScanEmbeddedArchive(Stream, T, kEmbeddedScanStart);
  return T;
}

TArcType TRegisterQarno::DetectPlainFile(TStream32& Stream, const uint8_t* Head, int32_t HeadLen, TArcType& T) {
  const Bytes head{Head, HeadLen};
  // The last part of a split or spanned set begins inside an entry's data, where any bytes can
  // stand, also another kind's signature: an end record that names a later disk than the first
  // says what the file is, and the set's entries are not lost to a chance match.
  const auto lastPartOfSet = [&] {
    TZipDirectory found;
    const int64_t directory = SearchZipDirectory(Stream, found);
    if (directory <= 0 || found.EndRecordDisk == 0) return false;
    static_cast<TZipDirectory&>(*this) = found;
    ArcOffset = directory;
    T = SpannedOrMultiVolume();
    return true;
  };
  int64_t at = 0;
  if (head.at(0) == 0) {
    while (at < head.n && head.at(at) == 0) ++at;
    // An LHA archive behind a 128-byte header.
    if (head.n - at > 132 && head.at(130) == '-' && head.at(131) == 'l') {
      if (lastPartOfSet()) return T;
      ArcOffset = 128;
      return T = atLha;
    }
  }
  T = ArcTypeOfHeader(Stream, amPlain, head.le32(at));
  if (T != atNA && !IsZipFamily(T) && lastPartOfSet()) return T;
  switch (T) {
    case atFileOpenErr:
    case atUnknown: return T;
    case atJar:
    case atJarExe:
    case atZip:
    case atZipExe:
      ArcOffset = FindZipDirectory(Stream);
      if (!(DirectoryFlags & hfLocal) && ArcOffset == 0) {
        ArcOffset = at;
        DirectoryFlags |= hfLocal;
      }
      break;
    case atZipDS:
    case atZipMV:
      ArcOffset = FindZipDirectory(Stream);
      if (DirectoryFlags == 0) DirectoryFlags = hfLocal;
      break;
    case atNA: break;
    default:
      if (AceMark(head)) T = atAce;
  }
  if (IsKnownArcType(T)) return T;
  if (AceMark(head)) return T = atAce;
  if (IsUUEncoded(Stream) == atUUE) return T = atUUE;
  if (IsTarArchive(Stream) == atTar) return T = atTar;
  ArcOffset = FindZipDirectory(Stream);
  if (ArcOffset > 0) {
    // An end record on a later disk than the first marks the last part of a set.
    T = EndRecordDisk == 0 ? atZip : SpannedOrMultiVolume();
    return T;
  }
  ArcOffset = ScanEmbeddedArchive(Stream, T, 0);
  return T;
}

TArcType TRegisterQarno::DetectArcType(TStream32* Stream) {
  if (!Stream) return atNA;
  static_cast<TZipDirectory&>(*this) = TZipDirectory{};
  ArcOffset = -1;
  ArchiveSize = 0;
  EndRecordBuf.fill(0);
  LargeEndRecordBuf.fill(0);
  Zip64LocatorBuf.fill(0);
  Zip64EndRecordBuf.fill(0);
  CentralHeaderBuf.fill(0);
  LocalHeaderBuf.fill(0);
  TarHeaderBuf.fill(0);
  TStream32& s = *Stream;
  TArcType t = atNA;
  try {
    ArchiveSize = s.Size();
    if (ArchiveSize >= 20) {
      std::vector<uint8_t> buf(kHeadSize, 0);
      const Bytes head{buf.data(), ReadAt(s, 0, buf.data(), kHeadRead)};
      if (head.at(0) == 'M' && head.at(1) == 'Z') {
        t = CheckSfxStub(s);
        if (!IsKnownArcType(t)) t = DetectProgramFile(s, buf.data(), static_cast<int32_t>(head.n), t);
      } else {
        t = DetectPlainFile(s, buf.data(), static_cast<int32_t>(head.n), t);
      }
    }
  } catch (...) {
    // detection ends quietly with the kind found so far
  }
  if (ArcOffset < 0) ArcOffset = 0;
  if (t == atZip) {
    std::string ext = "." + Extension(FArchiveFile);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".jar") t = atJar;
  }
  ArchiveDate = kDefaultDosDateTime;
  if (auto* h = dynamic_cast<THandleStream32*>(Stream)) {
    const uint32_t dos = FileTimeToDosTime(h->Handle(), 0);
    if (dos != 0 && dos != 0xFFFFFFFFu) ArchiveDate = dos;
  }
  return t;
}

int32_t TRegisterQarno::LastVolume() const { return static_cast<int32_t>(std::min<uint32_t>(EndRecordDisk, 0xFFFE)); }

int32_t TRegisterQarno::DirectoryVolume() const {
  return static_cast<int32_t>(std::min<uint32_t>(DirectoryDisk, 0xFFFE));
}

void TRegisterQarno::SetVolumeNumbering() {
  VolumeNumber = 0;
  std::string fallback;
  switch (FArcType) {
    case atAce: VolumeLetter = 'C', fallback = "Ace"; break;
    case atArj: VolumeLetter = 'a', fallback = "Arj"; break;
    case atJar:
    case atJarExe: VolumeLetter = 'j', fallback = "Jar"; break;
    case atRar:
    case atRarExe: VolumeLetter = 'q', fallback = "Rar"; break;
    default: return;
  }
  if (FArchiveFile.empty()) return;
  std::string ext = Extension(FArchiveFile);
  if (ext.empty()) ext = fallback;
  size_t digits = ext.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(ext[digits - 1]))) --digits;
  if (digits < ext.size()) {
    int64_t value = 0;
    for (size_t i = digits; i < ext.size(); ++i) value = std::min<int64_t>(value * 10 + (ext[i] - '0'), INT32_MAX - 1);
    VolumeNumber = static_cast<int32_t>(value + 1);
    VolumeLetter = ext[0];
  } else {
    VolumeNumber = (FArcType == atArj || FArcType == atArjExe) ? 1 : 0;
  }
}
