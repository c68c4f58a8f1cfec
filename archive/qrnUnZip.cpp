#include "archive/qrnUnZip.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "archive/qrnCentral.h"
#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnFilters.h"
#include "archive/qrnGzInflate.h"
#include "archive/qrnOldMethods.h"
#include "archive/qrnZipRecords.h"
#include "platform/files.h"
#include "platform/hooks.h"

namespace {

constexpr int32_t kChunk = 32768;
constexpr int64_t kLocalSize = TLocalHeader::kSize;
constexpr int64_t kCentralSize = TCentralHeader::kSize;
constexpr uint32_t kFolderAttr = 0x10;
constexpr int32_t kCrc32 = 32;
// How far from the start of a file the first member of an archive without a usable directory
// is looked for.
constexpr int64_t kWalkSearch = int64_t{1} << 20;
constexpr const char* kSameName = "another member found without a directory has the same name";
constexpr const char* kInsideAnother =
    "more of a directory follows the one its member leads to: an archive stored in another's data";
constexpr const char* kNotListed = "the directory that follows the members found does not list it";
constexpr const char* kPastOtherBytes =
    "found without a directory behind directory records: it may lie inside another member's data";
constexpr const char* kMembersBeyond =
    "found without a directory, with members beyond the walk's reach: it may lie inside another member's data";
// How much of the file after such an end record is looked at for more of a directory: its start,
// and the end of the file, where an enclosing archive's directory stands.
constexpr int64_t kAfterEndReach = int64_t{1} << 20;
constexpr int64_t kTailReach = int64_t{128} << 10;
constexpr int32_t kUnreadableRecords = 64;
int64_t wide(uint16_t High, uint32_t Low) { return static_cast<int64_t>((uint64_t{High} << 32) | Low); }

int32_t readAt(TStream32& Stream, int64_t Position, uint8_t* Buffer, int32_t Count) {
  try {
    if (Stream.Seek(Position, soBeginning) != Position) return 0;
    return std::max(0, Stream.Read(Buffer, Count));
  } catch (...) {
    return 0;
  }
}

// Whether a local header signature (plain or enciphered) stands at P of Bytes.
bool localSignatureAt(const std::vector<uint8_t>& Bytes, size_t P) {
  bool enc = false;
  return P + 4 <= Bytes.size() && Bytes[P] == 'P' &&
         TRegisterQarno::ClassifySignature(GetLE32(std::span<const uint8_t>(Bytes.data() + P, 4), 0), hkLocal, enc) ==
             hkLocal;
}

// The first local header signature in Bytes, or -1.
int64_t firstLocalSignature(const std::vector<uint8_t>& Bytes) {
  for (size_t p = 0; p + 4 <= Bytes.size(); ++p)
    if (localSignatureAt(Bytes, p)) return static_cast<int64_t>(p);
  return -1;
}

// The number NN of a split volume named "name.zNN" (".z01" gives 1); 0 for any other name.
int32_t splitVolumeNumber(const std::string& Name) {
  const size_t dot = LastDotPos(Name);
  if (dot + 3 > Name.size() || (Name[dot + 1] != 'z' && Name[dot + 1] != 'Z')) return 0;
  int32_t n = 0;
  for (size_t i = dot + 2; i < Name.size(); ++i) {
    if (Name[i] < '0' || Name[i] > '9') return 0;
    n = std::min(n * 10 + (Name[i] - '0'), 0xFFFF);
  }
  return n;
}

// A volume of a split set as the reader reads it. The temporary input stream that NextVolume
// opens counts each read off BytesLeft, but the reader counts its archive progress in unpacked
// bytes as it writes them: the packed bytes read must not be counted a second time.
class TVolumeStream : public TStream32 {
 public:
  TVolumeStream(TZipCommon& Owner, std::unique_ptr<TStream32> Volume) : FOwner(Owner), FVolume(std::move(Volume)) {}

  using TStream32::Seek;
  int32_t Read(void* Buffer, int32_t Count) override {
    const int64_t left = FOwner.BytesLeft;
    const int32_t n = FVolume->Read(Buffer, Count);
    FOwner.BytesLeft = left;
    return n;
  }
  int32_t Write(const void* /*Buffer*/, int32_t /*Count*/) override { return 0; }
  int32_t Seek(int32_t Offset, uint16_t Origin) override { return FVolume->Seek(Offset, Origin); }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FVolume->Seek(Offset, Origin); }
  int64_t Size() override { return FVolume->Size(); }

 private:
  TZipCommon& FOwner;
  std::unique_ptr<TStream32> FVolume;
};

// A folder entry: named with a final '/', or marked a folder and holding nothing.
bool isFolderRecord(const TUnZipRecord& Record) {
  return (!Record.Name.empty() && Record.Name.back() == '/') ||
         ((Record.Attributes & kFolderAttr) != 0 && Record.UnpackedSize == 0);
}

// The last volume of a split set carries the set's own name: ".zip" where the others have
// ".zNN".
std::string lastVolumeName(const std::string& Volume) {
  return ReplaceExtension(Volume, Volume[LastDotPos(Volume) + 1] == 'Z' ? ".ZIP" : ".zip");
}

}  // namespace

TUnZip::TUnZip() = default;
TUnZip::~TUnZip() = default;

// --- the driver ----------------------------------------------------------------------------

void TUnZip::ExtractArchive(std::unique_ptr<TStream32>& Archive, TStream32*& /*Output*/) {
  const std::string opened = ArchiveFile();
  bool redetect = false;
  FVolumeMissing = false;
  FPasswordForm = -1;
  try {
    // A numbered volume of a split set stands for the whole set, which is read from its last
    // volume: only that one holds the directory. A first volume whose set has no last volume
    // is still walked by its local headers.
    const int32_t openedVolume = splitVolumeNumber(opened);
    if (openedVolume > 0 && !IsSpanned() && !(DirectoryFlags & hfEnd)) {
      redetect = OpenLastVolumeOfSet(Archive, openedVolume);
      if (!redetect && !(FArcType == atZipMV && DirectoryFlags == hfLocal)) return;
    }
    if (!IsZipFamily(FArcType)) {
      ReportError(ArchiveFile(), "", "0", E_UNSUPPORTED_TYPE);
      return;
    }
    if (IsSpanned()) {
      DiskSpann.InitSpan(
          this, &Canceled, OnDiskInDrvErr, OnDiskWriteProtectErr,
          [this](const std::string& f, const std::string& e, const std::string& v, int32_t c) {
            ReportError(f, e, v, c);
          },
          [this](TExceptionClass k, const std::string& f, const std::string& e, const std::string& v, int32_t c) {
            RaiseError(k, f, e, v, c);
          });
      if (!DiskSpann.OpenNextVolume(Archive)) return;
    }
    if (!Archive) return;
    FList.InitList();
    FByLocal = DirectoryFlags == hfLocal;
    // The volume open now: the one opened of a set found by its local headers, else the last.
    VolumeNumber = FByLocal ? std::max(splitVolumeNumber(ArchiveFile()), 1) : LastVolume() + 1;
    // A damaged end is reported whatever can still be read. An end record that is not the
    // archive's own (that of an archive stored in it, say) is no end record: the entries are
    // left to their local headers, and where none stand, nothing is listed.
    if (!Damage.empty()) ReportError(ArchiveFile(), Damage, "0", E_BAD_FILE_HEADER);
    if (FByLocal) {
      if (ScanLocalHeaders(*Archive) > 0) ExtractByLocalHeaders(Archive);
    } else if ((Damage.empty() || (DirectoryFlags & hfEnd)) && ListDirectory(Archive) > 0) {
      ExtractByDirectory(Archive);
    }
  } catch (...) {
    // The driver ends quietly; the run frame returns what was counted.
  }
  FList.DoneList();
  // The caller keeps the archive it gave, with what detection found in it.
  if (redetect) {
    try {
      SetArchiveFile(opened);
    } catch (...) {
    }
  }
}

bool TUnZip::OpenLastVolumeOfSet(std::unique_ptr<TStream32>& Archive, int32_t Opened) {
  const std::string volume = ArchiveFile();
  const std::string last = lastVolumeName(volume);
  if (!platform::FileExists(last)) {
    // Entries whose headers lie on later volumes cannot be found without it.
    ReportError(last, "", "0", E_FILE_NOT_FOUND);
    return false;
  }
  SetArchiveFile(last);
  if (FArcType == atZipMV && (DirectoryFlags & hfEnd) && EndRecordDisk >= static_cast<uint32_t>(Opened)) {
    auto file = std::make_unique<TFileStream32>(last, platform::kModeReadDenyWrite);
    if (file->Handle() >= 0) {
      VolumeSize = file->Size();
      Archive = std::move(file);
      return true;
    }
  }
  ReportError(last, "", "0", E_UNSUPPORTED_TYPE);
  SetArchiveFile(volume);
  return false;
}

void TUnZip::SetEntryName(const std::string& Stored, uint16_t Flags, int32_t Host, std::span<const uint8_t> Extra) {
  // A name ends at its first NUL: the file system would cut it there anyway, and the cleaned
  // path must be the one that is opened.
  EntryName = DecodeEntryName(Stored, Flags, Host, Extra);
  EntryName.resize(std::min(EntryName.size(), EntryName.find('\0')));
}

int32_t TUnZip::ListDirectory(std::unique_ptr<TStream32>& Archive) {
  FHeadersListed = 0;
  FDirectoryCut = false;
  int32_t listed = 0;
  if (!IsSplit() || DirectoryVolume() >= LastVolume()) {
    listed = ListCentralDirectory(*Archive);
    ReportShortDirectory(*Archive, DirectoryEnd);
  } else {
    TMemoryStream32 directory;
    if (!ReadSplitDirectory(Archive, directory)) {
      // A volume that never came was reported when it was asked for; every entry is lost with it.
      if (FVolumeMissing) {
        CountFailed(std::min(DirectoryEntries, DirectorySize / kCentralSize));
        return 0;
      }
    } else {
      // The offsets of a set are counted on each volume: no program stub shifts them.
      SfxShift = 0;
      listed = ListHeaders(directory, 0);
    }
    ReportShortDirectory(directory, -1);
  }
  MarkOverlaps();
  return listed;
}

void TUnZip::ReportShortDirectory(TStream32& Archive, int64_t Limit) {
  if (GetCancel()) return;
  // The walk ends at the first record that is not a central header: a damaged or zeroed header
  // hides every entry after it, and a damaged archive must not pass for a smaller one.
  const int64_t missing = DirectoryEntries - FHeadersListed;
  if (missing <= 0 && !FDirectoryCut) return;
  if (Damage.empty()) ReportError(ArchiveFile(), "", IsSplit() ? std::to_string(LastVolume() + 1) : "0", E_BAD_FILE_HEADER);
  // The end record's count is a claim: the entries lost are at most the central headers that
  // the rest of the directory could hold, and a directory of which nothing was found holds at
  // most the members that stand before it.
  const int64_t stated = DirectorySize;
  int64_t end = stated > INT64_MAX - FListStart ? INT64_MAX : FListStart + stated;
  end = std::min(end, Archive.Size());
  if (Limit >= 0) end = std::min(end, Limit);
  int64_t lost = std::min(missing, std::max<int64_t>(0, end - FListStop) / kCentralSize);
  if (FHeadersListed == 0 && !IsSplit()) lost = std::min(lost, CountMembers(Archive, std::max(end, FListStop)));
  CountFailed(lost);
}

void TUnZip::MarkOverlaps() {
  // Several central headers over one member, or a member whose data runs over the next header,
  // is the shape of a zip bomb: a few kilobytes that write without end. The first header at an
  // offset keeps it; a member must end before the next member or the directory begins. The
  // volumes of a set follow one another, so (disk, offset) orders positions across them; a
  // stray disk number of a single file is no position.
  using TPos = std::pair<int32_t, int64_t>;
  const bool split = IsSplit();
  auto at = [split](const TUnZipRecord* r) { return TPos{split ? r->Disk : 1, r->Offset}; };
  std::vector<TUnZipRecord*> byOffset;
  byOffset.reserve(static_cast<size_t>(FList.Count()));
  for (int32_t i = 0; i < FList.Count(); ++i) byOffset.push_back(FList.GetHeader(i));
  std::stable_sort(byOffset.begin(), byOffset.end(),
                   [&at](const TUnZipRecord* a, const TUnZipRecord* b) { return at(a) < at(b); });
  const TPos directory = split ? TPos{DirectoryVolume() + 1, DirectoryOffset} : TPos{1, ArcOffset};
  for (size_t i = 0; i < byOffset.size(); ++i) {
    TUnZipRecord& r = *byOffset[i];
    if (i > 0 && at(byOffset[i - 1]) == at(&r)) {
      r.Overlaps = true;
      continue;
    }
    size_t next = i + 1;
    while (next < byOffset.size() && at(byOffset[next]) == at(&r)) ++next;
    TPos limit = directory > at(&r) ? directory : TPos{INT32_MAX, INT64_MAX};
    if (next < byOffset.size()) limit = at(byOffset[next]);
    if (!split) {
      r.Overlaps = r.DataEnd > limit.second;
    } else if (limit.first < INT32_MAX) {
      // Where the member ends is known only once it is read, when it crosses onto a later volume.
      r.LimitDisk = static_cast<uint16_t>(std::min(limit.first, 0xFFFF));
      r.LimitOffset = limit.second;
    }
  }
}

bool TUnZip::ReadSplitDirectory(std::unique_ptr<TStream32>& Archive, TMemoryStream32& Directory) {
  TTimerPause pause(Timer);
  const int64_t size = DirectorySize;
  if (size <= 0 || size > INT32_MAX) return false;
  std::vector<uint8_t> buffer(kChunk);
  const int32_t last = LastVolume();
  for (int32_t volume = DirectoryVolume(); volume <= last && Directory.Size() < size; ++volume) {
    const int64_t start = volume == DirectoryVolume() ? DirectoryOffset : 0;
    if (IsSpanned()) {
      // The first piece has a central header at the offset; a later one is told by its label.
      DiskSpann.DiskState = static_cast<uint16_t>(volume + 1);
      DiskSpann.EntryPosition = volume == DirectoryVolume() ? start : -1;
      if (!OpenNextDisk(Archive)) return false;
    } else if (!OpenNextVolume(Archive, volume, last)) {
      return false;
    }
    if (!Archive || Archive->Seek(start, soBeginning) != start) return false;
    while (Directory.Size() < size) {
      const int32_t want = static_cast<int32_t>(std::min<int64_t>(kChunk, size - Directory.Size()));
      const int32_t got = Archive->Read(buffer.data(), want);
      if (got <= 0) break;
      Directory.Write(buffer.data(), got);
    }
  }
  Directory.Seek(int64_t{0}, soBeginning);
  return Directory.Size() == size;
}

int32_t TUnZip::ListCentralDirectory(TStream32& Archive) { return ListHeaders(Archive, ArcOffset); }

int32_t TUnZip::ListHeaders(TStream32& Archive, int64_t Start) {
  TTimerPause pause(Timer);
  const int64_t size = Archive.Size();
  int64_t pos = Start;
  FHeadersListed = 0;
  FDirectoryCut = false;
  FListStart = Start;
  TCentralRecord record;
  while (!GetCancel() && pos >= 0 && pos + kCentralSize <= size) {
    if (!ReadCentralRecord(Archive, pos, record)) break;
    ++FHeadersListed;
    const std::array<uint8_t, kCentralSize>& h = record.Header;
    const std::string& stored = record.StoredName;
    const uint16_t flags = GetLE16(h, 8);
    const TExtraSizes& sizes = record.Sizes;
    const TExtraHigh& high = record.High;
    SetEntryName(stored, flags, h[5], record.Extra);

    if (MatchesEntrySpec(EntryName, FFileSpec, FExcludeSpec, FRecurseDirs)) {
      TUnZipRecord r;
      r.Name = EntryName;
      r.Stored = stored;
      r.Attributes = GetLE32(h, 38);
      r.Disk = static_cast<uint16_t>(std::min<uint32_t>(GetLE16(h, 34) + 1u, 0xFFFF));
      r.Offset = ShiftedLocalOffset(record, SfxShift);
      r.HasCentral = true;
      r.Central = h;
      r.PackedSize = wide(high.PackedHigh, sizes.PackedSize);
      r.UnpackedSize = wide(high.UnpackedHigh, sizes.UnpackedSize);
      bool keep = true;
      if (!IsSplit()) {
        // The entries of the directory lie before it, each at a local header.
        uint8_t local[kLocalSize] = {};
        bool lenc = false;
        const char* fault = r.Offset >= Start ? kPastDirectory : nullptr;
        if (!fault && (r.Offset + kLocalSize > size || readAt(Archive, r.Offset, local, kLocalSize) != kLocalSize ||
                       ClassifySignature(GetLE32(local, 0), hkLocal, lenc) != hkLocal))
          fault = kNoLocalHeader;
        keep = fault == nullptr;
        if (!keep) {
          ReportError(EntryName, fault, "0", E_BAD_FILE_HEADER);
          CountFailed();
        } else if (lenc) {
          DecipherHeader(local, hkLocal);
        }
        r.DataEnd = r.Offset + kLocalSize + GetLE16(local, 26) + GetLE16(local, 28) + r.PackedSize;
      }
      if (keep && FList.AddRecord(r)) {
        const uint32_t date = GetLE32(h, 12);
        if (static_cast<int32_t>(date) > static_cast<int32_t>(MaxFileDate)) MaxFileDate = date;
        PackedTotal += r.PackedSize - ((flags & kFlagEncrypted) ? 12 : 0);
        UnpackedTotal += r.UnpackedSize;
      }
    }
    pos = record.End;
  }
  FListStop = pos;
  // Short of the size the end record states, only a digital signature may close the directory.
  const int64_t stated = DirectorySize;
  const int64_t statedEnd = stated > INT64_MAX - Start ? INT64_MAX : Start + stated;
  if (!GetCancel() && pos < statedEnd) {
    uint8_t mark[4] = {};
    FDirectoryCut = readAt(Archive, pos, mark, 4) != 4 || GetLE32(mark, 0) != kDigitalSignatureSignature;
  }
  return FList.Count();
}

int32_t TUnZip::ScanLocalHeaders(TStream32& Archive) {
  TTimerPause pause(Timer);
  // An archive without its directory is damaged or incomplete: members after a cut, and those
  // after one whose sizes wait in a descriptor, cannot be found. Whatever comes out of it, the
  // run is no success (a damaged end was reported already).
  if (Damage.empty()) ReportError(ArchiveFile(), "the archive's central directory is missing", "0", E_BAD_FILE_HEADER);
  if (OnCorruptZipHeader) {
    bool cancel = true;
    OnCorruptZipHeader(this, DirectoryFlags, cancel);
    if (cancel) return 0;
  }
  const int64_t size = Archive.Size();
  const int64_t begin = WalkStart(Archive, size);
  int64_t pos = begin;
  uint8_t mark[4] = {};
  if (readAt(Archive, pos, mark, 4) == 4 && GetLE32(mark, 0) == kDataDescriptorSignature) pos += 4;
  // Without a directory two members of one name cannot be told apart: one of them may be
  // another member whose name was damaged into this one, and neither may pass for the file.
  std::map<std::string, int32_t> listed;
  std::vector<TWalked> walked;
  const int64_t end = WalkLocalHeaders(Archive, pos, [&](const TLocalRecord& Local, bool Whole) {
    if (GetCancel()) return false;
    if (!Whole) {
      // A local header cut off by the end of the file: a member cut short, whose name is lost.
      ReportError(ArchiveFile(), "a member is cut short", "0", E_BAD_FILE_HEADER);
      CountFailed();
      return false;
    }
    SetEntryName(Local.StoredName, Local.Flags(), kHostUnknown, Local.Extra);
    if (EntryName.empty() || !MatchesEntrySpec(EntryName, FFileSpec, FExcludeSpec, FRecurseDirs)) return true;
    TUnZipRecord r;
    r.Name = EntryName;
    r.Disk = 1;
    r.Offset = Local.Pos;
    r.PackedSize = Local.PackedSize();
    r.UnpackedSize = Local.UnpackedSize();
    const auto [same, first] = listed.emplace(EntryName, FList.Count());
    if (!first) {
      r.SameName = true;
      FList.GetHeader(same->second)->SameName = true;
    }
    if (FList.AddRecord(r)) {
      const uint32_t date = GetLE32(Local.Header, 10);
      if (static_cast<int32_t>(date) > static_cast<int32_t>(MaxFileDate)) MaxFileDate = date;
      PackedTotal += r.PackedSize - ((Local.Flags() & kFlagEncrypted) ? 12 : 0);
      UnpackedTotal += r.UnpackedSize;
      walked.push_back({FList.Count() - 1, Local});
    }
    // A member whose data runs past the end stays listed: it fails as cut short, or goes on on
    // the next volume of a set. The walk ends there, as after a member whose sizes wait in a
    // descriptor.
    return true;
  });
  DoubtWalkedMembers(Archive, begin, end, walked);
  return FList.Count();
}

namespace {

// Where one of the signatures first stands in the file from From on, -1 when none: looked for
// in the first MiB after it, and in the last 128 KiB of the file, where an enclosing archive's
// directory stands.
int64_t SignatureAfter(TStream32& Archive, int64_t From, int64_t Size, std::initializer_list<uint32_t> Signatures) {
  std::vector<uint8_t> block;
  for (const auto& [start, stop] :
       {std::pair{From, std::min(Size, From + kAfterEndReach)}, std::pair{std::max(From, Size - kTailReach), Size}}) {
    if (start < 0 || stop - start < 4) continue;
    block.assign(static_cast<size_t>(stop - start), 0);
    const int32_t got = readAt(Archive, start, block.data(), static_cast<int32_t>(block.size()));
    const std::span<const uint8_t> bytes(block.data(), static_cast<size_t>(std::max(got, 0)));
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
      const uint32_t sig = GetLE32(bytes, i);
      for (const uint32_t wanted : Signatures)
        if (sig == wanted) return start + static_cast<int64_t>(i);
    }
  }
  return -1;
}

}  // namespace

void TUnZip::DoubtWalkedMembers(TStream32& Archive, int64_t Begin, int64_t Pos, const std::vector<TWalked>& Walked) {
  // Members found without a directory may be those of an archive stored in another member's
  // data, whose own headers were damaged; nothing but the file around them can tell. They are
  // not the archive's own where the bytes before them hold directory records (a program or a
  // log in front holds none), or a member stands after where the walk ended: members the walk
  // cannot reach enclose it, or follow a member it read wrongly.
  if (Walked.empty()) return;
  const int64_t size = Archive.Size();
  // Where the walk stopped at a local header, that one was cut short (and failed as such).
  const int64_t after = Pos >= 0 ? Pos + 4 : Walked.back().Local.DataStart;
  const char* all = nullptr;
  if (Begin > 0 &&
      SignatureAfter(Archive, 0, std::min(Begin, size), {kCentralHeaderSignature, kEndRecordSignature}) >= 0)
    all = kPastOtherBytes;
  else if (SignatureAfter(Archive, after, size, {kLocalHeaderSignature}) >= 0)
    all = kMembersBeyond;
  // Else the directory records that follow the members say which: an inner archive's directory
  // is followed by more of the enclosing archive's directory, and an
  // enclosing directory does not list the inner members as they are. Where the walk did not
  // end at them, they are the first whole ones after it (a few unreadable ones passed over).
  std::map<std::string, TCentralRecord> records;
  if (all == nullptr) {
    TCentralRecord record;
    const auto whole = [&](int64_t at) { return ReadCentralRecord(Archive, at, record) && record.End <= size; };
    int64_t p = Pos >= 0 && RecordAt(Archive, Pos, {hkCentral}) ? Pos : after;
    for (int32_t tries = 0; p >= 0 && !whole(p); ++tries)
      p = tries < kUnreadableRecords ? SignatureAfter(Archive, p + 1, size, {kCentralHeaderSignature}) : -1;
    if (p < 0) return;
    do {
      records.emplace(record.StoredName, record);  // the first of a name
      p = record.End;
    } while (!GetCancel() && p < size && whole(p));
    // Zip64 records may stand between the directory and its end record.
    uint8_t b[12] = {};
    if (readAt(Archive, p, b, 12) == 12 && GetLE32(b, 0) == kZip64EndRecordSignature) {
      const uint64_t length = GetLE64(std::span<const uint8_t>(b, 12), 4);
      if (length < static_cast<uint64_t>(size)) p += 12 + static_cast<int64_t>(length);
      if (readAt(Archive, p, b, 4) == 4 && GetLE32(b, 0) == kZip64LocatorSignature) p += TZip64Locator::kSize;
    }
    // Past their end record, or whatever ended them, no record of a directory may stand.
    const int64_t past = RecordAt(Archive, p, {hkEnd}) ? p + 4 : p + 1;
    if (SignatureAfter(Archive, past, size, {kCentralHeaderSignature, kEndRecordSignature}) >= 0) all = kInsideAnother;
  }
  for (const TWalked& w : Walked) {
    TUnZipRecord* r = FList.GetHeader(w.Index);
    if (r == nullptr) continue;
    const auto it = records.find(w.Local.StoredName);
    const TCentralRecord* c = it == records.end() ? nullptr : &it->second;
    r->Doubt = all != nullptr ? all
               : c == nullptr ? kNotListed
                              : LocalRecordDisagreement(w.Local, c->Header, c->StoredName,
                                                        wide(c->High.PackedHigh, c->Sizes.PackedSize),
                                                        wide(c->High.UnpackedHigh, c->Sizes.UnpackedSize));
  }
}

int64_t TUnZip::WalkStart(TStream32& Archive, int64_t Size) {
  // Detection looks for an archive behind a program only from 17,000 bytes on, past the
  // entries of a shorter stub. The first local header before the one it found whose members
  // lead up to that one, or past it onto the next record, is where the entries begin; a
  // signature that the stub's own bytes happen to hold leads nowhere.
  const int64_t found = ArcOffset;
  if (found <= 0 || found > Size) return found;
  const int64_t window = std::min(found, kWalkSearch);
  std::vector<uint8_t> head(static_cast<size_t>(window));
  if (readAt(Archive, 0, head.data(), static_cast<int32_t>(window)) != window) return found;
  // A member reached from an earlier candidate that led nowhere leads nowhere again.
  std::vector<bool> dead(static_cast<size_t>(window), false);
  auto isDead = [&dead, window](int64_t q) { return q < window && dead[static_cast<size_t>(q)]; };
  for (int64_t p = 0; p + 4 <= window; ++p) {
    if (isDead(p) || !localSignatureAt(head, static_cast<size_t>(p))) continue;
    std::vector<int64_t> chain;
    const int64_t q = WalkLocalHeaders(Archive, p, [&](const TLocalRecord& Local, bool Whole) {
      if (Local.Pos >= found || isDead(Local.Pos)) return false;
      chain.push_back(Local.Pos);
      return Whole;
    });
    if (q == found || (q > found && (q == Size || RecordAt(Archive, q, {hkLocal, hkCentral})))) return p;
    for (const int64_t c : chain)
      if (c < window) dead[static_cast<size_t>(c)] = true;
  }
  return found;
}

int64_t TUnZip::CountMembers(TStream32& Archive, int64_t Until) {
  const int64_t size = Archive.Size();
  Until = std::min(Until, size);
  std::vector<uint8_t> head(static_cast<size_t>(std::clamp<int64_t>(Until, 0, kWalkSearch)));
  head.resize(static_cast<size_t>(readAt(Archive, 0, head.data(), static_cast<int32_t>(head.size()))));
  // Each local header is a member, also the last one reached, whose end may not be told.
  int64_t count = 0;
  const int64_t first = firstLocalSignature(head);
  if (first >= 0) {
    WalkLocalHeaders(Archive, first, [&](const TLocalRecord& Local, bool) {
      if (Local.Pos >= Until || GetCancel()) return false;
      ++count;
      return true;
    });
  }
  return count;
}

bool TUnZip::OpenDiskOf(std::unique_ptr<TStream32>& Archive, const TUnZipRecord& Record, bool First) {
  if (IsSpanned()) {
    // The disk in the drive is the one read last (DiskState is one past it).
    if (!First && Record.Disk + 1 == DiskSpann.DiskState) return true;
    DiskSpann.DiskState = Record.Disk;
    DiskSpann.EntryPosition = Record.Offset;
    return OpenNextDisk(Archive);
  }
  if (IsMultiVolume() && !FByLocal && Record.Disk != VolumeNumber)
    return OpenNextVolume(Archive, Record.Disk - 1, LastVolume());
  return static_cast<bool>(Archive);
}

void TUnZip::ExtractRecords(std::unique_ptr<TStream32>& Archive) {
  BytesLeft = UnpackedTotal;
  ArchiveTotal = UnpackedTotal;
  int32_t i = 0;
  for (; i < FList.Count() && !GetCancel() && !FOutputFull; ++i) {
    FCurrentIndex = i;
    const TUnZipRecord r = *FList.GetHeader(i);
    if (!OpenDiskOf(Archive, r, i == 0)) break;
    Entry = TUnEntry{};
    bool read = false;
    std::string damage = r.Overlaps ? kOverlapping : r.SameName ? kSameName : r.Doubt ? r.Doubt : "";
    try {
      read = damage.empty() && ReadLocalRecord(*Archive, r.Offset, FLocal);
      // The directory names the entry as every other tool lists it: a local header that says
      // otherwise belongs to another entry (of a stale set, say) or is damaged, and neither its
      // name nor its data can be trusted.
      if (read && r.HasCentral) {
        if (const char* fault = LocalRecordDisagreement(FLocal, r.Central, r.Stored, r.PackedSize, r.UnpackedSize))
          damage = fault;
      }
      // The volumes of a set are checked for overlaps here, where the member's start is known.
      if (read && damage.empty() && r.LimitDisk == r.Disk && Archive->Position() + r.PackedSize > r.LimitOffset)
        damage = kOverlapping;
    } catch (...) {
      read = false;
    }
    if (!read || !damage.empty()) {
      // Overlapping data, a local header that disagrees with the directory, or one that the
      // listing could not test (split archives).
      ReportError(r.Name, damage, "0", E_BAD_FILE_HEADER);
      CountFailed();
      BytesLeft -= r.UnpackedSize;
      continue;
    }
    FMemberEndDisk = r.Disk;
    FMemberEndOffset = Archive->Position() + r.PackedSize;
    PackedHigh = FLocal.High.PackedHigh;
    UnpackedHigh = FLocal.High.UnpackedHigh;
    OffsetHigh = 0;
    const uint32_t localCrc = FLocal.Crc();
    if (r.HasCentral) {
      Entry.Flags = GetLE16(r.Central, 8);
      Entry.Method = GetLE16(r.Central, 10);
      Entry.PackedSize = r.PackedSize;
      Entry.UnpackedSize = r.UnpackedSize;
      // Sizes and CRC of an entry with a data descriptor are only in the directory; what its
      // local header holds there is not to be trusted (zip writing to a pipe with a password
      // puts the DOS time in the CRC field).
      const bool centralCrc =
          (Entry.Flags & kFlagDataDescriptor) != 0 || (GetLE32(r.Central, 20) != 0 && localCrc == 0);
      Entry.Crc = centralCrc ? GetLE32(r.Central, 16) : localCrc;
      // A Unix host's mode of a regular file gives its permission bits back; the read-only
      // bit beside it still takes the owner's write permission.
      const uint32_t attributes = GetLE32(r.Central, 38);
      const uint32_t mode = attributes >> 16;
      if (IsUnixHost(r.Central[5]) && (mode & kUnixTypeMask) == kUnixRegularFile)
        Entry.Permissions = static_cast<int32_t>(mode & kUnixPermissionMask &
                                                 ((attributes & platform::kAttrReadOnly) ? ~0200u : ~0u));
    } else {
      Entry.Flags = FLocal.Flags();
      Entry.Method = FLocal.Method();
      Entry.PackedSize = FLocal.PackedSize();
      Entry.UnpackedSize = FLocal.UnpackedSize();
      Entry.Crc = localCrc;
    }
    Entry.DosDateTime = GetLE32(FLocal.Header, 10);
    // An entry of the directory comes out under the directory's name, which its local name
    // has been found to match.
    if (r.HasCentral) EntryName = r.Name;
    else SetEntryName(FLocal.StoredName, FLocal.Flags(), kHostUnknown, FLocal.Extra);
    SetCurrentFileName(EntryName);
    // Without a directory the sizes of a data-descriptor entry are out of reach: its data
    // cannot be found, and an empty file must not pass for it.
    FLocalOnlyUnknownSize = !r.HasCentral && (Entry.Flags & kFlagDataDescriptor) != 0 && Entry.PackedSize == 0 &&
                            Entry.Crc == 0;
    ExtractEntryFile(Archive, r.Attributes);
  }
  // The files that a missing disk or volume, or a full disk, kept from being read did not come
  // out either.
  for (; (FVolumeMissing || FOutputFull) && i < FList.Count(); ++i) {
    if (!isFolderRecord(*FList.GetHeader(i))) CountFailed();
  }
}

bool TUnZip::RanPastNextEntry() {
  if (!IsSplit() || FCurrentIndex < 0 || FCurrentIndex >= FList.Count()) return false;
  const TUnZipRecord& r = *FList.GetHeader(FCurrentIndex);
  return r.LimitDisk != 0 && std::pair<int32_t, int64_t>{FMemberEndDisk, FMemberEndOffset} >
                                 std::pair<int32_t, int64_t>{r.LimitDisk, r.LimitOffset};
}

void TUnZip::ExtractByDirectory(std::unique_ptr<TStream32>& Archive) { ExtractRecords(Archive); }

void TUnZip::ExtractByLocalHeaders(std::unique_ptr<TStream32>& Archive) { ExtractRecords(Archive); }

bool TUnZip::ExtractEntryFile(std::unique_ptr<TStream32>& Archive, uint32_t Attributes) {
  FEntryDamaged = false;
  FEntryNotDecoded = false;
  FEntryWritten = 0;
  // The name makes a folder; the folder attribute alone does so only for an entry without data,
  // whose data would otherwise be dropped.
  const bool isFolder = (!EntryName.empty() && EntryName.back() == '/') ||
                        ((Attributes & kFolderAttr) != 0 && Entry.UnpackedSize == 0);
  if (!isFolder) Attributes &= ~kFolderAttr;
  if (!BeginFile(isFolder)) {
    AdvanceProgress(Entry);
    return false;
  }
  try {
    if (!isFolder && Entry.Encrypted() && !PasswordFailed && !AskPassword(*Archive)) PasswordFailed = true;
    if (FArcType == atJar || FArcType == atJarExe) Attributes = NamePart(FCurrentFileName).empty() ? 0x10 : 0x20;
    if (isFolder) {
      if (FCreateStoredDirs && !ForceDirectories(FCurrentFileName)) {
        EntryNotDecoded();
        ReportError(FCurrentFileName, "", "0", E_INVALID_DIRECTORY);
      } else {
        CryptState().Crc32 = Entry.Crc;  // a folder passes whether or not it was made
      }
    } else {
      std::unique_ptr<TStream32> output;
      if (!OpenOutput(output, FCurrentFileName, EntryName)) {
        ReportError(FCurrentFileName, "", "0", E_OPEN_ERROR);
        AdvanceProgress(Entry);
        --FilesDone;
        EntryNotDecoded();
      } else if (Entry.Encrypted() && PasswordFailed) {
        --FilesDone;
        AdvanceProgress(Entry);
        FCurrentFileName = EntryName;
        EntryNotDecoded();
      } else {
        try {
          ExtractMember(Archive, output.get());
        } catch (...) {
          EntryFailed();
        }
        if (RanPastNextEntry()) {
          ReportError(FCurrentFileName, kOverlapping, "0", E_BAD_FILE_HEADER);
          EntryNotDecoded();  // reported here, not again as a CRC failure
        }
        CryptState().Crc32 ^= 0xFFFFFFFFu;
        EndFile(output, FCurrentFileName, Attributes, Entry.DosDateTime);
        if (FEntryWritten != Entry.UnpackedSize || FLocalOnlyUnknownSize) EntryFailed();
      }
    }
  } catch (...) {
    EntryFailed();
  }
  try {
    return CheckCrc(kCrc32, Entry.Crc);
  } catch (...) {
    return false;
  }
}

void TUnZip::ExtractMember(std::unique_ptr<TStream32>& Archive, TStream32* Output) {
  CryptState().Crc32 = 0xFFFFFFFFu;
  int64_t packed = Entry.PackedSize;
  if (Entry.Encrypted()) packed -= static_cast<int64_t>(kEncryptionHeaderSize);
  if (packed < 0) {
    EntryFailed();
    packed = 0;
  }
  FileTotal = Entry.UnpackedSize;
  switch (Entry.Method) {
    case 0: {
      int64_t left = CopyStoredData(*Archive, Output, packed, Entry.Flags, kCrc32);
      while (left > 0 && IsSplit() && !GetCancel() && !FEntryDamaged) {
        if (!ContinueOnNextVolume(Archive, left)) break;
        left = CopyStoredData(*Archive, Output, left, Entry.Flags, kCrc32);
      }
      break;
    }
    case 1: case 2: case 3: case 4: case 5: case 6: {
      const TVolumeHandOver handOver(*this, Archive, packed);
      const TOldMember member{static_cast<uint16_t>(Entry.Method), Entry.Flags, packed, Entry.UnpackedSize};
      try {
        if (!DecodeOldMember(*this, *Archive, Output, member)) {
          ReportError(FCurrentFileName, "", "0", E_OUT_OF_MEMORY);
          EntryFailed();
        }
      } catch (...) {
        EntryFailed();  // the decoder's own report said why
      }
      break;
    }
    case 8:
      InflateDeflated(Archive, Output);
      break;
    case 9: {
      const TVolumeHandOver handOver(*this, Archive, packed);
      InflateMember(*this, *Archive, Output,
                    TMemberHeader{static_cast<uint64_t>(packed), Entry.Flags, static_cast<uint64_t>(Entry.UnpackedSize)});
      // What the member did not produce still counts as done for the whole run's progress.
      BytesLeft -= std::max<int64_t>(0, Entry.UnpackedSize - FEntryWritten);
      // Its last block must end within the packed size, at the declared size.
      if (!InflateMemberEnded()) EntryFailed();
      break;
    }
    default:
      ReportError(FCurrentFileName, "", "0", E_UNSUPPORTED_METHOD);
      EntryFailed();
      break;
  }
}

TUnZip::TVolumeHandOver::TVolumeHandOver(TUnZip& Owner, std::unique_ptr<TStream32>& Archive, int64_t Packed)
    : FOwner(Owner), FSaved(Owner.ReadHook), FPackedLeft(Packed) {
  if (!Owner.IsSplit()) return;
  // The decoders hold the stream they were given; the reads go to the volume open now instead.
  Owner.ReadHook = [this, &Archive](TStream32&, int32_t Count, int32_t CrcMode, bool Decipher, uint8_t* Buffer) {
    int32_t got = 0;
    while (got < Count && Archive) {
      const int32_t n = FSaved(*Archive, Count - got, CrcMode, Decipher, Buffer + got);
      if (n > 0) {
        got += n;
        FPackedLeft -= n;
        continue;
      }
      if (FPackedLeft <= 0 || FOwner.GetCancel() || !FOwner.ContinueOnNextVolume(Archive, FPackedLeft)) break;
    }
    return got;
  };
}

TUnZip::TVolumeHandOver::~TVolumeHandOver() { FOwner.ReadHook = FSaved; }

void TUnZip::InflateDeflated(std::unique_ptr<TStream32>& Archive, TStream32* Output) {
  const int64_t packed = Entry.PackedSize - (Entry.Encrypted() ? static_cast<int64_t>(kEncryptionHeaderSize) : 0);
  const int64_t total = Entry.UnpackedSize;
  // Nothing packed and nothing to produce: an empty member, as some writers leave it.
  if (packed == 0 && total == 0) return;
  TDecompressStream inflater(Archive.get(), -15);
  inflater.State.Encrypted = Entry.Encrypted();
  inflater.State.Cancel = CancelRef;
  int64_t remaining = total;
  // Packed bytes of the member on the volumes left behind, for finding the next disk.
  int64_t packedLeft = packed;
  int64_t volumeStart = Archive->Position();
  std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(remaining, 1, kChunk)));
  bool longer = false;
  while (!GetCancel()) {
    platform::ProcessMessages();
    // Once the declared size is out, one byte more tells whether the data goes on.
    const int32_t chunk = static_cast<int32_t>(std::clamp<int64_t>(remaining, 1, kChunk));
    const int32_t rc = inflater.Read(buffer.data(), chunk);
    // Read answers the count asked for or an error; what it produced is what it filled.
    const int32_t n = chunk - static_cast<int32_t>(inflater.OutputSpaceLeft());
    if (remaining == 0 && n > 0) {
      longer = true;
      break;
    }
    if (n > 0) {
      if (OutputHook(Output, buffer.data(), 1, n, kCrc32, false) < n) {
        // A refused write ends the member: writing on after a gap would only hide it.
        RaiseError(&Throw_E_RAISE, FCurrentFileName, "", "0", E_WRITE_ERROR);
        return;
      }
      BytesLeft -= n;
      remaining -= n;
      DoProgress(ArchiveTotal, total, total - remaining);
    }
    if (inflater.State.EndOfStream) break;
    if (rc == siBufError && IsSplit() && static_cast<int64_t>(inflater.TotalIn()) < packed) {
      packedLeft -= Archive->Size() - volumeStart;
      if (!ContinueOnNextVolume(Archive, std::max<int64_t>(packedLeft, 0))) break;
      volumeStart = 0;
      inflater.SetSource(Archive.get());
      continue;
    }
    if (rc < 0 || n < chunk) break;  // damaged data, or its end missing
  }
  // What the member did not produce still counts as done for the whole run's progress.
  BytesLeft -= remaining;
  // The data must end, within its packed size and at its declared size: data that runs on
  // into the next header, or past the size, is damage the CRC of the declared part cannot show.
  if (longer || !inflater.State.EndOfStream || static_cast<int64_t>(inflater.TotalIn()) > packed) EntryFailed();
}

bool TUnZip::ContinueOnNextVolume(std::unique_ptr<TStream32>& Archive, int64_t Remaining) {
  if (IsSpanned()) {
    // A later disk holds the rest first, then the next header: the disk that has one there is
    // the right one.
    DiskSpann.EntryPosition = Remaining;
    if (!OpenNextDisk(Archive)) return false;
    // The disk in the drive is the one read last (DiskState is one past it).
    FMemberEndDisk = static_cast<uint16_t>(DiskSpann.DiskState - 1);
    FMemberEndOffset = Remaining;
    return true;
  }
  if (IsMultiVolume()) {
    if (!OpenNextVolume(Archive, VolumeNumber, LastVolume())) return false;
    Archive->Seek(int64_t{0}, soBeginning);
    FMemberEndDisk = static_cast<uint16_t>(std::clamp(VolumeNumber, 0, 0xFFFF));
    FMemberEndOffset = Remaining;
    return true;
  }
  return false;
}

bool TUnZip::OpenNextVolume(std::unique_ptr<TStream32>& Archive, int32_t Current, int32_t Count) {
  if (!NextVolume(Archive, Current, Count)) {
    FVolumeMissing = true;
    return false;
  }
  Archive = std::make_unique<TVolumeStream>(*this, std::move(Archive));
  return true;
}

bool TUnZip::OpenNextDisk(std::unique_ptr<TStream32>& Archive) {
  if (DiskSpann.OpenNextVolume(Archive)) return true;
  FVolumeMissing = true;
  return false;
}

bool TUnZip::CheckPassword(uint8_t* Buffer) {
  return CheckPasswordHeader(std::span<const uint8_t>(Buffer, kEncryptionHeaderSize), FLocal.Flags(), Entry.Crc,
                             FPassword, GetLE16(FLocal.Header, 10), FPasswordForm);
}
