#include "archive/qrnZip.h"

#include <algorithm>
#include <cstring>

#include "archive/qrnCentral.h"
#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnSpanWrite.h"
#include "archive/qrnTempOut.h"
#include "archive/qrnZipRecords.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

constexpr int64_t k4GiB = int64_t{1} << 32;

uint16_t High16(int64_t v) { return static_cast<uint16_t>(static_cast<uint64_t>(v) >> 32); }

int64_t Full(uint32_t Low, uint16_t High) { return static_cast<int64_t>(Low) | (static_cast<int64_t>(High) << 32); }

// Deflate makes incompressible data a little larger (zlib's bound stays under 1/2048 more plus
// a few bytes) and encryption adds 12 bytes: a file this close to 4 GiB may pack past it, and
// its local header must then have room for the packed size's high word.
bool MayPackPast4GiB(int64_t Size) { return Size + (Size >> 11) + 64 >= k4GiB; }

bool NeedsZip64Extra(const TCompFileInfo& Info) {
  if (Info.UnpackedHigh > 0 || Info.PackedHigh > 0 || Info.LocalOffset >= k4GiB) return true;
  return Info.EntryAction == eaCompress && MayPackPast4GiB(Full(GetLE32(Info.RawHeader, 24), Info.UnpackedHigh));
}

// Marks a central header as made on a Unix host, as this system is: readers then keep a name
// without flag bit 11 as its bytes (a '\' and a ':' included), Debian's unzip takes a bit-11 name
// as UTF-8 instead of OEM text, and every reader takes the file's mode from the high 16 bits of
// the external attributes, beside the attribute bits below them. Mode is the file's st_mode;
// without one (0) the mode follows the attribute bits, and an entry already made on a Unix host
// keeps the mode it has.
void MarkUnixHost(std::array<uint8_t, 46>& Central, uint32_t Mode = 0) {
  const uint32_t attributes = GetLE32(Central, 38) & 0xFFFFu;
  const uint32_t recorded = GetLE32(Central, 38) >> 16;
  if (Mode == 0 && IsUnixHost(Central[5])) Mode = recorded;
  if ((Mode & kUnixTypeMask) == 0) {
    Mode = (attributes & platform::kAttrDirectory) != 0 ? kUnixFolder | 0755u : kUnixRegularFile | 0644u;
    if ((attributes & platform::kAttrReadOnly) != 0) Mode &= ~0222u;
  }
  Central[5] = kHostUnix;
  PutLE32(Central, 38, attributes | ((Mode & 0xFFFFu) << 16));
}

// Info-ZIP's Unicode Path field for a name stored in the OEM code page: version 1, the CRC-32
// of the stored name, the name in UTF-8. unzip, 7-Zip and bsdtar take the name from it, where
// they would read the header's bytes in another code page; empty for a name that needs none.
std::vector<uint8_t> UnicodePathField(const TCompFileInfo& Info) {
  if (Info.UnicodeName.empty()) return {};
  const std::string& utf8 = Info.UnicodeName;
  std::vector<uint8_t> field(9 + utf8.size());
  uint32_t crc = 0xFFFFFFFFu;
  Crc32Update(Info.StoredName.data(), Info.StoredName.size(), crc);
  PutLE16(field, 0, kUnicodePathExtraTag);
  PutLE16(field, 2, static_cast<uint16_t>(5 + utf8.size()));
  field[4] = 1;
  PutLE32(field, 5, crc ^ 0xFFFFFFFFu);
  std::copy(utf8.begin(), utf8.end(), field.begin() + 9);
  return field;
}

// An extra field without its Unicode Path blocks: they name the entry's old name.
std::vector<uint8_t> WithoutUnicodePath(const std::vector<uint8_t>& Extra) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at + 4 <= Extra.size();) {
    const size_t end = std::min(Extra.size(), at + 4 + size_t{GetLE16(Extra, at + 2)});
    if (GetLE16(Extra, at) != kUnicodePathExtraTag) out.insert(out.end(), Extra.begin() + at, Extra.begin() + end);
    at = end;
  }
  return out;
}

// The 64-bit sizes of an entry from its directory record: a standard Zip64 field holds each
// size whose 32-bit field reads 0xFFFFFFFF, the engine's own field the high words.
void EntrySizes(const std::array<uint8_t, 46>& Raw, const TCompFileInfo& Info, int64_t& Packed, int64_t& Unpacked) {
  TExtraSizes low{GetLE32(Raw, 20), GetLE32(Raw, 24), 0};
  if ((low.PackedSize == 0xFFFFFFFFu || low.UnpackedSize == 0xFFFFFFFFu) && !Info.Extra.empty())
    ParseExtraHigh(Info.Extra.data(), Info.Extra.size(), 1, low);
  Packed = Full(low.PackedSize, Info.PackedHigh);
  Unpacked = Full(low.UnpackedSize, Info.UnpackedHigh);
}

}  // namespace

// The parts of a split set read as one stream: volume after volume, each starting where the one
// before it ends. Positions in the set are a volume's start plus the offset in that volume.
class TVolumeSetStream : public TStream32 {
 public:
  explicit TVolumeSetStream(std::vector<std::unique_ptr<TStream32>> Volumes) : FVolumes(std::move(Volumes)) {
    int64_t at = 0;
    for (auto& v : FVolumes) {
      FStarts.push_back(at);
      at += v->Size();
    }
    FSize = at;
  }
  using TStream32::Seek;
  int64_t Start(uint32_t Disk) const { return Disk < FStarts.size() ? FStarts[Disk] : -1; }
  int32_t Read(void* Buffer, int32_t Count) override {
    int32_t done = 0;
    auto* out = static_cast<uint8_t*>(Buffer);
    while (done < Count && FPosition < FSize) {
      size_t v = FStarts.size() - 1;
      while (FStarts[v] > FPosition) --v;
      FVolumes[v]->Seek(FPosition - FStarts[v], soBeginning);
      const int32_t n = FVolumes[v]->Read(out + done, Count - done);
      if (n <= 0) break;
      done += n;
      FPosition += n;
    }
    return done;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    return static_cast<int32_t>(Seek(static_cast<int64_t>(Offset), static_cast<TSeekOrigin>(Origin)));
  }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : FSize;
    FPosition = std::max<int64_t>(0, base + Offset);
    return FPosition;
  }
  int64_t Size() override { return FSize; }

 private:
  std::vector<std::unique_ptr<TStream32>> FVolumes;
  std::vector<int64_t> FStarts;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

namespace {

std::array<uint8_t, 10> CentralZip64(const TCompFileInfo& Info) {
  TZip64Extra x;
  x.PackedHigh = Info.PackedHigh;
  x.UnpackedHigh = Info.UnpackedHigh;
  x.OffsetHigh = High16(Info.LocalOffset);
  return x.EncodeCentral();
}

void ReadExact(TStream32& In, void* Buffer, int64_t Count) {
  if (Count > 0) In.ReadBuffer(Buffer, static_cast<int32_t>(Count));
}

// The kind of record whose signature stands at Pos: local or central header, the split
// marker, or none.
int32_t RecordKindAt(TStream32& Input, int64_t Pos) {
  std::array<uint8_t, 4> sig{};
  bool enc = false;
  if (Pos < 0 || Input.Seek(Pos, soBeginning) != Pos || Input.Read(sig.data(), 4) != 4) return hkNone;
  if (GetLE32(sig, 0) == kDataDescriptorSignature) return hkDataDescriptor;
  for (const int32_t kind : {hkLocal, hkCentral})
    if (TRegisterQarno::ClassifySignature(GetLE32(sig, 0), kind, enc) == kind) return kind;
  return hkNone;
}

}  // namespace

TExtraHigh ParseExtraHigh(const uint8_t* Extra, size_t Length, int HeaderKind, TExtraSizes& Sizes) {
  TExtraHigh r;
  TZipCommon::ParseExtraField(std::span<const uint8_t>(Extra, Length), r, HeaderKind, Sizes);
  return r;
}

TZipBase::TZipBase() {
  FClassDefaultExt = ".ZIP";
  SetDefaultExt(".ZIP");
  FArcType = atZip;
  FEncryptHeaders = false;
  FSupportedMethods = static_cast<uint16_t>((1u << cmStore) | (1u << cmDeflate));
  FCompressMethod = cmDeflate;
}

void TZipBase::SetArcType(TArcType) {
  FArcType = atZip;
  AddDefaultExt();
}

bool TZipBase::SpanArchive(TStream32& Output, TCompHeaderList& List) {
  TDiskSpanObj span(this, CancelRef, &List, DiskManager.get(), &Output);
  span.OnClearDisk = OnClearDisk;
  span.OnInsertDisk = OnInsertDisk;
  span.OnDiskSpanFileExists = OnDiskSpanFileExists;
  return span.SpanArchive();
}

// --- a new entry -----------------------------------------------------------------------------

void TZipBase::CompressEntry(TStream32& Output, int32_t Index, bool& Done, TCompHeaderList& List) {
  if (FCompressMethod == cmStore) FDeflateType = dtDeflateS;
  TCompBase::CompressEntry(Output, Index, Done, List);
}

void TZipBase::StartLocalHeader(TCompHeaderList& List, int32_t Index) {
  const TCompFileInfo& info = List.Info(Index);
  FLocalExtraSettled = false;
  LocalHeaderBuf.fill(0);
  PutLE32(LocalHeaderBuf, 0, GetHeaderSignature(hkLocal, info.HeaderEnciphered));
  PutLE16(LocalHeaderBuf, 4, 20);
  PutLE32(LocalHeaderBuf, 10, GetFileDate(GetLE32(info.RawHeader, 12)));
  PutLE32(LocalHeaderBuf, 22, GetLE32(info.RawHeader, 24));
  PutLE16(LocalHeaderBuf, 8, 8);
}

// The new entry's local extra field, and its central one in Info.Extra: the Zip64Extra when the
// entry needs it, first, then the Unicode Path field when its name needs one. The first call
// for an entry writes the placeholder before the data and settles the layout; the second writes
// the same fields over it once the sizes are known.
void TZipBase::WriteZip64Extra(TStream32& Output, TCompFileInfo& Info) {
  if (!FLocalExtraSettled) {
    FLocalZip64 = NeedsZip64Extra(Info);
    FLocalExtraSettled = true;
  }
  const std::vector<uint8_t> unicode = UnicodePathField(Info);
  std::vector<uint8_t> local;
  Info.Extra.clear();
  if (FLocalZip64) {
    const auto central = CentralZip64(Info);
    Info.Extra.assign(central.begin(), central.end());
    TZip64Extra x;
    x.PackedHigh = Info.PackedHigh;
    x.UnpackedHigh = Info.UnpackedHigh;
    const auto block = x.EncodeLocal();
    local.assign(block.begin(), block.end());
  }
  Info.Extra.insert(Info.Extra.end(), unicode.begin(), unicode.end());
  Info.ExtraLength = static_cast<uint16_t>(Info.Extra.size());
  local.insert(local.end(), unicode.begin(), unicode.end());
  if (!local.empty()) Output.WriteBuffer(local.data(), static_cast<int32_t>(local.size()));
}

void TZipBase::FinishLocalHeader(int64_t PackedSize, int64_t UnpackedSize) {
  if (UnpackedSize == 0 && CryptState().Crc32 == 0xFFFFFFFFu) CryptState().Crc32 = 0;
  TCompFileInfo* info = FCurInfo;
  // The local extra field (WriteZip64Extra) follows the name; the data after it is packed.
  const int64_t extra = info == nullptr || !FLocalExtraSettled
                            ? 0
                            : (FLocalZip64 ? int64_t{TZip64Extra::kLocalSize} : 0) +
                                  static_cast<int64_t>(UnicodePathField(*info).size());
  PutLE16(LocalHeaderBuf, 28, static_cast<uint16_t>(extra));
  PackedSize -= extra;
  PutLE16(LocalHeaderBuf, 26, static_cast<uint16_t>(FLocalName.size()));
  PutLE32(LocalHeaderBuf, 22, static_cast<uint32_t>(UnpackedSize));
  PutLE32(LocalHeaderBuf, 14, CryptState().Crc32);
  uint16_t flags = FEncrypt ? kFlagEncrypted : 0;
  if (FMethodWord == 8)
    flags = DeflateFlagBits(static_cast<uint8_t>(flags));
  else
    PutLE16(LocalHeaderBuf, 8, 0);
  if (info != nullptr && info->Utf8Name) flags |= kFlagUtf8;
  PutLE16(LocalHeaderBuf, 6, flags);
  PutLE32(LocalHeaderBuf, 18, static_cast<uint32_t>(PackedSize));
  if (FEncryptHeaders) {
    EncipherHeader(LocalHeaderBuf, hkLocal);
    EncipherBlock(reinterpret_cast<uint8_t*>(FLocalName.data()), static_cast<int32_t>(FLocalName.size()));
  }
}

void TZipBase::BuildCentralHeader(int32_t Index, uint32_t ExternalAttributes, TCompHeaderList& List) {
  TCompFileInfo& info = List.Info(Index);
  CentralHeaderBuf.fill(0);
  PutLE32(CentralHeaderBuf, 0, GetHeaderSignature(hkCentral, info.HeaderEnciphered));
  PutLE16(CentralHeaderBuf, 4, 20);
  PutLE16(CentralHeaderBuf, 6, 20);
  if (FEncryptHeaders) DecipherHeader(LocalHeaderBuf, hkLocal);
  std::copy(LocalHeaderBuf.begin() + 6, LocalHeaderBuf.begin() + 30, CentralHeaderBuf.begin() + 8);
  PutLE16(CentralHeaderBuf, 30, info.ExtraLength);
  PutLE16(CentralHeaderBuf, 32, 0);
  PutLE16(CentralHeaderBuf, 34, 0);
  PutLE16(CentralHeaderBuf, 36, 1);
  PutLE32(CentralHeaderBuf, 38, ExternalAttributes);
  PutLE32(CentralHeaderBuf, 42, static_cast<uint32_t>(info.LocalOffset));
  MarkUnixHost(CentralHeaderBuf, info.Mode);
  info.RawHeader = CentralHeaderBuf;
}

void TZipBase::HeaderFromFileInfo(std::array<uint8_t, 46>& RawHeader, TCompFileInfo&, const TFileInfoRecord& Rec) {
  if (GetLE32(RawHeader, 0) == 0) PutLE32(RawHeader, 0, kCentralHeaderSignature);
  PutLE32(RawHeader, 12, Rec.DosDateTime);
  PutLE32(RawHeader, 20, static_cast<uint32_t>(Rec.PackedSize));
  PutLE32(RawHeader, 24, static_cast<uint32_t>(Rec.UnpackedSize));
  PutLE32(RawHeader, 38, Rec.Attributes);
}

void TZipBase::FileInfoFromHeader(const std::array<uint8_t, 46>& RawHeader, const TCompFileInfo& Info,
                                  TFileInfoRecord& Rec) {
  EntrySizes(RawHeader, Info, Rec.PackedSize, Rec.UnpackedSize);
  Rec.DosDateTime = GetLE32(RawHeader, 12);
  Rec.Attributes = KeepKnownAttributes(GetLE32(RawHeader, 38));
}

void TZipBase::WriteEmptyEndRecord(TStream32& Output) {
  TEndRecord end;
  const auto bytes = end.Encode();
  Output.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void TZipBase::EndEntry() {
  if (OnEnd) OnEnd(this, FCurrentFileName, CryptState().Crc32 == GetLE32(LocalHeaderBuf, 14));
}

// --- reading an existing archive -------------------------------------------------------------

void TZipBase::MarkDamaged(const std::string& Why) {
  if (FDirectoryDamage.empty()) FDirectoryDamage = Why;
}

bool TZipBase::TakeDirectory(TStream32& Input, int64_t& Start, bool& Central) {
  FExpectedEntries = -1;
  FExpectedFullCount = false;
  FEmptyDirectory = false;
  FDirectoryEnd = -1;
  Central = false;
  // Looked up once: every record of the directory asks.
  FReadSet = dynamic_cast<TVolumeSetStream*>(&Input);
  // The reader reports a damaged end, and lists what it finds in spite of it: an update would
  // make the loss permanent.
  if (!Damage.empty()) {
    MarkDamaged(Damage);
    return false;
  }
  if (EndRecordPos < 0) {
    // Without an end record the reader walks the local headers, from past the marker that
    // opens a split archive, and reports the directory missing: such an archive is read
    // (swRead), never updated. Without local headers either, this is no archive at all.
    if (DirectoryFlags != hfLocal) return false;
    MarkDamaged(kDirectoryMissing);
    Start = ArcOffset + (RecordKindAt(Input, ArcOffset) == hkDataDescriptor ? kSplitMarkerSize : 0);
    return true;
  }
  // One part of a set was searched, the last: its positions lie that far into the set.
  const int64_t base = FReadSet ? FReadSet->Start(EndRecordDisk) : 0;
  if (base < 0) {
    MarkDamaged("the end record names a volume the set does not have");
    return false;
  }
  FEmptyDirectory = DirectoryEntries == 0 && DirectorySize == 0;
  FExpectedEntries = DirectoryEntries;
  FExpectedFullCount = EndRecordKind == ekZip64;
  FDirectoryEnd = base + DirectoryEnd;
  int64_t dir = FDirectoryEnd;
  if (FReadSet) {
    const int64_t dirBase = FReadSet->Start(static_cast<uint32_t>(DirectoryVolume()));
    if (dirBase < 0) {
      MarkDamaged("the end record names a volume the set does not have");
      return false;
    }
    dir = dirBase + DirectoryOffset;
    if (!FEmptyDirectory && RecordKindAt(Input, dir) != hkCentral) {
      MarkDamaged("no directory header stands where the end record says the directory begins");
      return false;
    }
    // The directory ends where the record that describes it begins.
    if (FDirectoryEnd - dir != DirectorySize) {
      MarkDamaged("the set's directory does not end where its end record begins");
      return false;
    }
  } else if ((DirectoryFlags & hfCentral) != 0) {
    dir = ArcOffset;
  } else if (!FEmptyDirectory) {
    MarkDamaged("the end record of a single file names a directory on another disk");
    return false;
  }
  Start = dir;
  FDirectoryPos = dir;
  Central = true;
  return true;
}

bool TZipBase::FindDirectory(std::string& Name, TStream32& Input, TCompHeaderList* List, bool& DirectoryFound) {
  DirectoryFound = false;
  FDirectoryPos = -1;
  FEmptyDirectory = false;
  try {
    int64_t start = 0;
    if (!TakeDirectory(Input, start, DirectoryFound)) return false;
    if (DirectoryFound && List != nullptr) {
      List->SharedBlock.assign(CommentLength, 0);
      Input.Seek((FReadSet ? FReadSet->Start(EndRecordDisk) : 0) + CommentPos, soBeginning);
      ReadExact(Input, List->SharedBlock.data(), CommentLength);
    }
    NextHeaderPos = start;
    if (DirectoryFound && FEmptyDirectory) return false;
    return ReadCentralHeader(Input, Name, DirectoryFound);
  } catch (const std::exception&) {
    return false;
  }
}

bool TZipBase::ReadNextCentralHeader(std::string& Name, TStream32& Input, bool Central) {
  CurrentHeaderPos = NextHeaderPos;
  if (CurrentHeaderPos == 0) return false;
  return ReadCentralHeader(Input, Name, Central);
}

bool TZipBase::ReadEntryName(TStream32& Input, int32_t Length, bool Enciphered) {
  // A name of length 0 is read as an empty name: the entry is still there, and so are the
  // entries after it.
  if (Length < 0) return false;
  std::string bytes(static_cast<size_t>(Length), '\0');
  if (Length > 0 && Input.Read(bytes.data(), Length) != Length) return false;
  if (Enciphered && Length > 0) DecipherBlock(reinterpret_cast<uint8_t*>(bytes.data()), Length);
  FReadStoredName = bytes;
  return true;
}

bool TZipBase::ReadCentralHeader(TStream32& Input, std::string& Name, bool Central) {
  try {
    const int64_t size = Input.Size();
    FReadPos = NextHeaderPos;
    if (NextHeaderPos < 0 || NextHeaderPos >= size) return false;
    Input.Seek(NextHeaderPos, soBeginning);
    if (Central) {
      TCentralRecord record;
      if (!ReadCentralRecord(Input, NextHeaderPos, record)) return false;
      // A header that runs past the end of the directory is no header of it.
      if (record.End > (FDirectoryEnd >= 0 ? std::min(FDirectoryEnd, size) : size)) {
        MarkDamaged("a directory record runs past the end of the directory");
        return false;
      }
      CentralHeaderBuf = record.Header;
      FReadEnciphered = record.Enciphered;
      FReadStoredName = record.StoredName;
      Name = DecodeEntryName(record.StoredName, GetLE16(CentralHeaderBuf, 8), CentralHeaderBuf[5], record.Extra);
      FReadExtra = record.Extra;
      FReadComment = record.Comment;
      ExtraHigh = record.High;
      if (FReadSet != nullptr) {
        // The offsets of a set count from the start of each volume.
        const int64_t volume = FReadSet->Start(GetLE16(CentralHeaderBuf, 34));
        FReadOffset = volume < 0 ? -1 : volume + Full(record.Sizes.LocalHeaderOffset, record.High.OffsetHigh);
      } else {
        FReadOffset = ShiftedLocalOffset(record, SfxShift);
      }
      NextHeaderPos = record.End;
      return true;
    }
    // The walk of the reader, by the same steps.
    if (!ReadLocalRecord(Input, NextHeaderPos, FReadLocal)) return false;
    LocalHeaderBuf = FReadLocal.Header;
    FReadEnciphered = FReadLocal.Enciphered;
    FReadStoredName = FReadLocal.StoredName;
    FReadExtra = FReadLocal.Extra;
    FReadComment.clear();
    Name = DecodeEntryName(FReadStoredName, FReadLocal.Flags(), kHostUnknown, FReadExtra);
    ExtraHigh = FReadLocal.High;
    FReadOffset = FReadPos;
    NextHeaderPos = NextLocalHeader(Input, FReadLocal);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void TZipBase::ReadCentralDirectory(TStream32& Input, TCompHeaderList& List) {
  // Detection, run on this file just before (Execute, OpenArchiveDirectory), found where the
  // directory is, as the reader takes it.
  if (!FDeletePass) FDirectoryDamage.clear();
  int64_t deletedBytes = 0;
  std::string name;
  bool central = false;
  // Entries found without a directory are only listed (swRead): the archive was marked damaged.
  bool more = FindDirectory(name, Input, &List, central) && central;
  int64_t read = 0;
  while (more) {
    ++read;
    const int64_t afterHeader = NextHeaderPos;
    TCompFileInfo info;
    info.StoredName = FReadStoredName;
    info.Utf8Name = false;
    if (FDeletePass)
      List.Add(name, info);
    else
      AddDirectoryEntry(Input, name, info, deletedBytes, List);
    NextHeaderPos = afterHeader;
    more = ReadNextCentralHeader(name, Input, central);
  }
  if (FDeletePass || !central) return;
  CheckWhatEndsTheEntries(Input, read);
  SetEntryLimits(List);
  CheckWhatPrecedesTheEntries(Input, List);
}

void TZipBase::AddDirectoryEntry(TStream32& Input, const std::string& Name, TCompFileInfo& Info,
                                 int64_t& DeletedBytes, TCompHeaderList& List) {
  Info.RawHeader = CentralHeaderBuf;
  Info.Utf8Name = (GetLE16(CentralHeaderBuf, 8) & kFlagUtf8) != 0;
  Info.LocalOffset = FReadOffset;
  // The new archive is one file: every kept entry lies on its only disk. A disk number that a
  // single file carries is wrong, and kept it would send the reader after a set (0xFFFF defers
  // to the Zip64 block, whose fields depend on it).
  if (FReadSet != nullptr || GetLE16(Info.RawHeader, 34) != 0xFFFF)
    PutLE16(Info.RawHeader, 34, 0);
  Info.UnpackedHigh = ExtraHigh.UnpackedHigh;
  Info.PackedHigh = ExtraHigh.PackedHigh;
  Info.HeaderEnciphered = FReadEnciphered;
  Info.Extra = FReadExtra;
  Info.ExtraLength = static_cast<uint16_t>(FReadExtra.size());
  Info.Comment = FReadComment;
  Info.CommentLength = static_cast<uint32_t>(FReadComment.size());
  // Each entry is judged as the reader judges it, dropped and replaced ones too: an update must
  // not turn an archive that the reader fails into one it passes.
  if (!ReadLocalRecord(Input, Info.LocalOffset, FReadLocal)) {
    Info.LocalFault = kNoLocalHeader;
  } else {
    int64_t packed = 0;
    int64_t unpacked = 0;
    EntrySizes(Info.RawHeader, Info, packed, unpacked);
    Info.LocalFault = LocalRecordDisagreement(FReadLocal, Info.RawHeader, Info.StoredName, packed, unpacked);
    Info.DataEnd = FReadLocal.DataStart + packed;
  }
  if (FSwitch == swDelete && MatchesFileSpec(Name, FFileSpec, &FExcludeSpec)) {
    std::array<uint8_t, 30> local{};
    if (Info.LocalOffset + 30 <= Input.Size()) {
      Input.Seek(Info.LocalOffset, soBeginning);
      if (Input.Read(local.data(), 30) == 30) {
        bool enc = false;
        if (ClassifySignature(GetLE32(local, 0), hkLocal, enc) == hkLocal && enc) DecipherHeader(local, hkLocal);
        DeletedBytes += 30 + GetLE16(local, 26) + GetLE16(local, 28) + static_cast<int64_t>(GetLE32(local, 18)) +
                        (static_cast<int64_t>(Info.PackedHigh) << 32);
      }
    }
    ++FFilesDeleted;
    Info.EntryAction = eaDrop;
  } else {
    Info.EntryAction = eaKeep;
    PutLE32(Info.RawHeader, 42, static_cast<uint32_t>(Info.LocalOffset - DeletedBytes));
  }
  List.Add(Name, Info);
}

void TZipBase::CheckWhatEndsTheEntries(TStream32& Input, int64_t Read) {
  // The end record counts the entries (the 22-byte record to 16 bits): a directory that ends
  // sooner has lost entries, which an update would then drop for good.
  const int64_t expected = FExpectedEntries;
  if (expected >= 0 && (FExpectedFullCount ? Read != expected : (Read & 0xFFFF) != expected))
    MarkDamaged("the directory holds " + std::to_string(Read) + " entries where its end record counts " +
                std::to_string(expected));
  // The headers fill the directory to its end; only a digital signature may close it.
  if (!FEmptyDirectory && NextHeaderPos != FDirectoryEnd && !DigitalSignatureCloses(Input, NextHeaderPos))
    MarkDamaged("the directory ends before its end record");
}

void TZipBase::SetEntryLimits(TCompHeaderList& List) {
  // Each stored entry ends where the next one (or the directory) begins. Two directory records
  // over one local header are the shape of a zip bomb: the reader lists the first and reports
  // the second as damaged, and an update must not turn it into an entry of its own.
  std::vector<int64_t> starts;
  for (int32_t i = 0; i < List.Count(); ++i) starts.push_back(List.Info(i).LocalOffset);
  std::sort(starts.begin(), starts.end());
  if (std::adjacent_find(starts.begin(), starts.end()) != starts.end())
    MarkDamaged("two directory records lead to one local header");
  if (!starts.empty() && starts.front() < 0) MarkDamaged("a directory record leads outside the archive");
  for (int32_t i = 0; i < List.Count(); ++i) {
    TCompFileInfo& info = List.Info(i);
    const auto next = std::upper_bound(starts.begin(), starts.end(), info.LocalOffset);
    info.Limit = next != starts.end() ? *next : FDirectoryPos >= info.LocalOffset ? FDirectoryPos : -1;
    // The entries lie before the directory, and each ends before the next one begins.
    if (FDirectoryPos >= 0 && info.LocalOffset >= FDirectoryPos)
      MarkDamaged(List.Name(i) + ": " + kPastDirectory);
    else if (info.Limit >= 0 && info.DataEnd > info.Limit)
      MarkDamaged(List.Name(i) + ": " + kOverlapping);
  }
  // Then each local header, against its directory record, as the reader reads the entries.
  for (int32_t i = 0; i < List.Count(); ++i)
    if (const char* fault = List.Info(i).LocalFault) MarkDamaged(List.Name(i) + ": " + fault);
}

void TZipBase::CheckWhatPrecedesTheEntries(TStream32& Input, TCompHeaderList& List) {
  // Two archives joined: tools that read from the front (7-Zip) list the first, the reader and
  // the others the last. An update keeps what stands before the entries, so the new archive
  // would lack the files added, and still hold those deleted, for the first kind. A program
  // stub or bytes of no archive hold no member.
  if (FReadSet != nullptr) return;
  int64_t first = FDirectoryPos;
  for (int32_t i = 0; i < List.Count(); ++i) first = std::min(first, List.Info(i).LocalOffset);
  const int64_t member = first > kSplitMarkerSize ? FirstLocalSignature(Input, first) : -1;
  if (member < 0 || !ReadLocalRecord(Input, member, FReadLocal)) return;
  const int64_t end = NextLocalHeader(Input, FReadLocal);
  if (end <= first) MarkDamaged(kArchiveInFront);
}

bool TZipBase::DigitalSignatureCloses(TStream32& Input, int64_t Pos) {
  std::array<uint8_t, 6> r{};
  return Pos >= 0 && Input.Seek(Pos, soBeginning) == Pos && Input.Read(r.data(), 6) == 6 &&
         GetLE32(r, 0) == kDigitalSignatureSignature && Pos + 6 + GetLE16(r, 4) == FDirectoryEnd;
}

int64_t TZipBase::MeasureStoredEntry(TStream32& Input, const std::array<uint8_t, 46>& RawHeader,
                                     const TCompFileInfo* Info, bool& Enciphered) {
  const int64_t start = Input.Position();
  FKeptFault = kNoLocalHeader;
  if (!ReadLocalRecord(Input, start, FReadLocal)) return 0;
  Enciphered = FReadLocal.Enciphered;
  LocalHeaderBuf = FReadLocal.Header;
  ExtraHigh = FReadLocal.High;
  // The directory's size is the entry's, as the reader takes it: a local header may lack the
  // high word, or hold nothing at all when the sizes follow the data.
  int64_t packed = GetLE32(RawHeader, 20);
  int64_t unpacked = 0;
  if (Info != nullptr) EntrySizes(RawHeader, *Info, packed, unpacked);
  FKeptFault = "its data runs past the end of the archive";
  if (packed > Input.Size() - FReadLocal.DataStart) return 0;
  // The descriptor after the data belongs to the entry and goes along.
  const int64_t end = MemberEnd(Input, FReadLocal, packed);
  FKeptFault = "no record follows the data descriptor after its data";
  if (end < 0) return 0;
  FKeptFault = "its data runs into the entry after it";
  if (Info != nullptr && Info->Limit >= 0 && end > Info->Limit) return 0;
  FKeptFault = "";
  Input.Seek(start, soBeginning);
  return end - start;
}

int64_t TZipBase::ReadLocalHeader(TStream32& Input, TStream32& Output, std::array<uint8_t, 46>& RawHeader) {
  bool enc = false;
  const int64_t count = MeasureStoredEntry(Input, RawHeader, FKeptInfo, enc);
  if (count <= 0) return 0;
  PutLE32(RawHeader, 42, static_cast<uint32_t>(Output.Size()));
  return count;
}

void TZipBase::CopyEntry(TStream32& Input, TStream32& Output, TCompHeaderList& List, int32_t Index) {
  TCompFileInfo& info = List.Info(Index);
  SetStoredName(info, List.Name(Index), false);
  const bool utf8 = info.Utf8Name;
  std::string newName = info.StoredName;
  const int64_t at = Output.Size();
  std::array<uint8_t, 46>& raw = info.RawHeader;
  const int64_t start = Input.Position();
  bool enc = false;
  const int64_t count = MeasureStoredEntry(Input, raw, &info, enc);
  if (count <= 0) RaiseWriteError();
  std::array<uint8_t, 30> local{};
  std::copy(LocalHeaderBuf.begin(), LocalHeaderBuf.end(), local.begin());
  PutLE32(raw, 42, static_cast<uint32_t>(at));
  PutLE16(raw, 28, static_cast<uint16_t>(newName.size()));
  uint16_t cflags = GetLE16(raw, 8);
  cflags = static_cast<uint16_t>(utf8 ? (cflags | kFlagUtf8) : (cflags & ~kFlagUtf8));
  PutLE16(raw, 8, cflags);
  // The new name is a name of this system, written as a new entry's is: a Unix host, which keeps
  // a '\' as a byte of the name.
  MarkUnixHost(raw);
  const uint16_t oldNameLen = GetLE16(local, 26);
  const uint16_t oldExtraLen = GetLE16(local, 28);
  Input.Seek(start + 30 + oldNameLen, soBeginning);
  std::vector<uint8_t> localExtra(oldExtraLen);
  if (oldExtraLen > 0 && Input.Read(localExtra.data(), oldExtraLen) != oldExtraLen) RaiseWriteError();
  // A Unicode Path field names the old name (readers pass over it, as its CRC no longer fits, and
  // take the header's bytes in their own code page): the new name gets its own.
  const std::vector<uint8_t> unicode = UnicodePathField(info);
  localExtra = WithoutUnicodePath(localExtra);
  info.Extra = WithoutUnicodePath(info.Extra);
  if (localExtra.size() + unicode.size() <= 0xFFFF && info.Extra.size() + unicode.size() <= 0xFFFF) {
    localExtra.insert(localExtra.end(), unicode.begin(), unicode.end());
    info.Extra.insert(info.Extra.end(), unicode.begin(), unicode.end());
  }
  info.ExtraLength = static_cast<uint16_t>(info.Extra.size());
  PutLE16(local, 26, static_cast<uint16_t>(newName.size()));
  PutLE16(local, 28, static_cast<uint16_t>(localExtra.size()));
  uint16_t lflags = GetLE16(local, 6);
  lflags = static_cast<uint16_t>(utf8 ? (lflags | kFlagUtf8) : (lflags & ~kFlagUtf8));
  PutLE16(local, 6, lflags);
  if (enc) {
    EncipherHeader(local, hkLocal);
    EncipherBlock(reinterpret_cast<uint8_t*>(newName.data()), static_cast<int32_t>(newName.size()));
  }
  Output.Seek(at, soBeginning);
  try {
    WriteLocalRecord(Output, local.data(), 30, newName);
    if (!localExtra.empty()) Output.WriteBuffer(localExtra.data(), static_cast<int32_t>(localExtra.size()));
  } catch (const EWriteError&) {
    RaiseError(Throw_E_RAISE, FCurrentFileName, "", "0", WriteFailureCode());
  }
  // The data and a descriptor after it go across as they are.
  const int64_t rest = count - 30 - oldNameLen - oldExtraLen;
  if (rest > 0) Output.CopyFrom(&Input, rest);
  info.LocalOffset = at;
}

bool TZipBase::OpenOldVolumes(std::unique_ptr<TStream32>& Old) {
  // A damaged end names no volumes to trust: the directory's reading refuses the archive.
  if (EndRecordPos < 0 || EndRecordDisk == 0 || !Damage.empty()) return true;
  // One part of a split set (name.z01 ... name.zip): the parts before this last one are asked
  // for through OnNextVolume, and the set is read as one stream.
  const auto last = static_cast<int32_t>(EndRecordDisk);
  VolumeFileName = ArchiveFile();
  std::vector<std::unique_ptr<TStream32>> volumes;
  for (int32_t disk = 0; disk < last; ++disk) {
    std::unique_ptr<TStream32> volume;
    if (!NextVolume(volume, disk, last)) return false;
    volumes.push_back(std::move(volume));
  }
  volumes.push_back(std::move(Old));
  ReadAsOneSet(Old, std::move(volumes));
  return true;
}

void TZipBase::ReadAsOneSet(std::unique_ptr<TStream32>& Old, std::vector<std::unique_ptr<TStream32>> Volumes) {
  auto set = std::make_unique<TVolumeSetStream>(std::move(Volumes));
  set->CancelFlag = CancelRef;
  Old = std::move(set);
  FArcType = atZipMV;
}

// --- writing the directory -------------------------------------------------------------------

namespace {

bool HasOwnZip64Block(const TCompFileInfo& Info) {
  return Info.Extra.size() >= 10 && GetLE16(Info.Extra, 0) == kZip64ExtraTag && GetLE16(Info.Extra, 2) == 6;
}

bool NeedsCentralZip64(const TCompFileInfo& Info) { return NeedsZip64Extra(Info) || Info.PackedHigh > 0; }

}  // namespace

int64_t TZipBase::CentralEntrySize(TCompHeaderList& List, int32_t Index) {
  const TCompFileInfo& info = List.Info(Index);
  int64_t name = static_cast<int64_t>(info.StoredName.size());
  if (info.StoredName.empty()) {
    bool utf8 = false;
    name = static_cast<int64_t>(EncodeStoredName(List.Name(Index), false, utf8).size());
  }
  int64_t extra = static_cast<int64_t>(info.Extra.size());
  if (!HasOwnZip64Block(info) && NeedsCentralZip64(info)) extra += 10;
  return 46 + name + extra + static_cast<int64_t>(info.Comment.size());
}

bool TZipBase::WriteCentralHeaders(TStream32& Output, TCompHeaderList& List) {
  TDiskSpanObj* span = SpanObject;
  std::vector<uint8_t> buf;
  buf.reserve(1 << 20);
  // On spanned disks the directory begins with a whole header on the disk it names.
  if (span && List.Count() > 0) {
    int32_t first = 0;
    while (first < List.Count() && List.Info(first).EntryAction == eaDrop) ++first;
    if (first < List.Count() && !span->KeepTogether(CentralEntrySize(List, first))) return false;
  }
  const int64_t dirOffset = span ? span->DiskFile->Size() : Output.Size();
  const uint16_t dirDisk = GetLE16(EndRecordBuf, 4);
  int64_t dirSize = 0;
  bool written = true;
  auto flush = [&] {
    if (buf.empty() || !written) return;
    if (span)
      written = span->WriteSpanned(*span->DiskFile, buf.data(), static_cast<int64_t>(buf.size()));
    else
      Output.WriteBuffer(buf.data(), static_cast<int32_t>(buf.size()));
    dirSize += static_cast<int64_t>(buf.size());
    buf.clear();
  };
  // Disk (0-based) each central header begins on; only those on the end record's disk count
  // as its entries.
  std::vector<uint16_t> headerDisks;
  for (int32_t i = 0; i < List.Count() && written; ++i) {
    TCompFileInfo& info = List.Info(i);
    if (info.EntryAction == eaDrop) {
      ++SkippedCount;
      continue;
    }
    // Offsets past 4 GiB carry their high word in the tag-100 block, which a kept entry that
    // moved may not have had.
    if (HasOwnZip64Block(info)) {
      const auto block = CentralZip64(info);
      std::copy(block.begin(), block.end(), info.Extra.begin());
    } else if (NeedsCentralZip64(info)) {
      const auto block = CentralZip64(info);
      info.Extra.insert(info.Extra.begin(), block.begin(), block.end());
    }
    info.ExtraLength = static_cast<uint16_t>(info.Extra.size());
    CentralHeaderBuf = info.RawHeader;
    PutLE32(CentralHeaderBuf, 0, GetHeaderSignature(hkCentral, info.HeaderEnciphered));
    PutLE32(CentralHeaderBuf, 42, static_cast<uint32_t>(info.LocalOffset));
    PutLE16(CentralHeaderBuf, 30, info.ExtraLength);
    PutLE16(CentralHeaderBuf, 32, static_cast<uint16_t>(info.Comment.size()));
    std::string name = info.StoredName;
    if (name.empty()) {
      bool utf8 = false;
      name = EncodeStoredName(List.Name(i), false, utf8);
    }
    PutLE16(CentralHeaderBuf, 28, static_cast<uint16_t>(name.size()));
    info.RawHeader = CentralHeaderBuf;
    if (info.HeaderEnciphered) {
      EncipherHeader(CentralHeaderBuf, hkCentral);
      EncipherBlock(reinterpret_cast<uint8_t*>(name.data()), static_cast<int32_t>(name.size()));
    }
    FCurrentFileName = List.Name(i);
    if (span) {
      // Written header by header, so that the disk each one begins on is known.
      flush();
      if (!written || !span->KeepTogether(static_cast<int64_t>(46 + name.size() + info.Extra.size() +
                                                               info.Comment.size()))) {
        written = false;
        break;
      }
      headerDisks.push_back(GetLE16(EndRecordBuf, 4));
    }
    buf.insert(buf.end(), CentralHeaderBuf.begin(), CentralHeaderBuf.end());
    buf.insert(buf.end(), name.begin(), name.end());
    buf.insert(buf.end(), info.Extra.begin(), info.Extra.end());
    buf.insert(buf.end(), info.Comment.begin(), info.Comment.end());
    if (buf.size() >= (1u << 20)) flush();
  }
  flush();
  if (!written) return false;
  const auto entries = static_cast<uint16_t>(List.Count() - SkippedCount);
  if (span) {
    // The end record goes whole onto the last disk; no archive comment on spanned disks. A
    // directory that begins 4 GiB or more into its disk needs the large record's 64-bit offset,
    // as a single archive does.
    IsLargeArchive = dirOffset >= k4GiB;
    const size_t size = IsLargeArchive ? LargeEndRecordBuf.size() : EndRecordBuf.size();
    if (!span->KeepTogether(static_cast<int64_t>(size))) return false;
    const uint16_t disk = GetLE16(EndRecordBuf, 4);
    const auto onDisk = static_cast<uint16_t>(std::count(headerDisks.begin(), headerDisks.end(), disk));
    const auto prepare = [&](auto end, auto& buffer) {
      end.DiskNumber = disk;
      end.DirectoryDisk = dirDisk;
      end.EntriesOnDisk = onDisk;
      end.TotalEntries = entries;
      end.DirectorySize = static_cast<uint32_t>(dirSize);
      end.DirectoryOffset = static_cast<decltype(end.DirectoryOffset)>(dirOffset);
      const auto b = end.Encode();
      std::copy(b.begin(), b.end(), buffer.begin());
    };
    if (IsLargeArchive)
      prepare(TLargeEndRecord{}, LargeEndRecordBuf);
    else
      prepare(TEndRecord{}, EndRecordBuf);
    return List.Count() > SkippedCount;
  }
  const auto comment = static_cast<uint16_t>(List.SharedBlock.size());
  if (IsLargeArchive) {
    TLargeEndRecord end;
    end.EntriesOnDisk = end.TotalEntries = entries;
    end.DirectorySize = static_cast<uint32_t>(dirSize);
    end.DirectoryOffset = static_cast<uint64_t>(dirOffset);
    end.CommentLength = comment;
    const auto b = end.Encode();
    std::copy(b.begin(), b.end(), LargeEndRecordBuf.begin());
    Output.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
  } else {
    TEndRecord end;
    end.EntriesOnDisk = end.TotalEntries = entries;
    end.DirectorySize = static_cast<uint32_t>(dirSize);
    end.DirectoryOffset = static_cast<uint32_t>(dirOffset);
    end.CommentLength = comment;
    const auto b = end.Encode();
    std::copy(b.begin(), b.end(), EndRecordBuf.begin());
    Output.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
  }
  if (comment > 0) Output.WriteBuffer(List.SharedBlock.data(), comment);
  return List.Count() > SkippedCount;
}

bool TZipBase::WriteCentralDirectory(TStream32& Output, TCompHeaderList& List) {
  SkippedCount = 0;
  FireProgress(0, 0);
  FDeletePass = false;
  if (FEntryCount <= 0) return false;
  IsLargeArchive = Output.Size() >= k4GiB;
  // Spanning needs someone to change disks. Without OnInsertDisk a removable volume (a USB
  // stick) takes the archive as a fixed one does: one file, put in place by the temporary
  // output, its label untouched.
  if (ArchiveOnRemovableDrive() && OnInsertDisk) {
    // What counts is where the directory lands on its disk, not the temporary archive's size.
    IsLargeArchive = false;
    if (SpanArchive(Output, List)) {
      FArchivePublished = true;
    } else {
      FFilesAdded = 0;
      List.Clear();
    }
    return true;
  }
  if (FSwitch == swDelete && FFilesDeleted > 0 && FFilesDeleted == List.Count()) return true;
  try {
    return WriteCentralHeaders(Output, List);
  } catch (const EWriteError&) {
    RaiseError(Throw_E_RAISE, ArchiveFile(), "", "0", WriteFailureCode());
    return false;
  }
}

void TZipBase::ListEntries(TCompHeaderList& List) {
  PackedTotal = UnpackedTotal = 0;
  if (FSwitch == swDelete && FFilesDeleted == List.Count()) return;
  for (int32_t i = 0; i < List.Count(); ++i) {
    TCompFileInfo& info = List.Info(i);
    if (info.EntryAction == eaDrop) continue;
    CentralHeaderBuf = info.RawHeader;
    FCurrentFileName = List.Name(i);
    int64_t packed = 0;
    int64_t unpacked = 0;
    EntrySizes(info.RawHeader, info, packed, unpacked);
    PackedTotal += packed;
    UnpackedTotal += unpacked;
    // The totals cover every entry, also when nobody listens to the new ones.
    if (info.EntryAction != eaCompress || FSwitch == swDelete || !OnRead) continue;
    TCompEntryInfo& e = EntryInfo;
    const std::array<uint8_t, 46>& h = info.RawHeader;
    e.VersionMadeBy = GetLE16(h, 4);
    e.VersionNeeded = GetLE16(h, 6);
    const uint16_t flags = GetLE16(h, 8);
    e.Encrypted = (flags & kFlagEncrypted) != 0;
    e.PackedSize = e.Encrypted && packed >= 12 ? packed - 12 : packed;
    e.UnpackedSize = unpacked;
    e.Crc = GetLE32(h, 16);
    e.Method = GetLE16(h, 10);
    e.ExternalAttributes = GetLE32(h, 38);
    e.InternalAttributes = GetLE16(h, 36);
    e.MethodName = GetCompressMethodName(e.Method, flags, e.ExternalAttributes);
    e.Ratio = PercentLeft(e.UnpackedSize, e.PackedSize);
    const uint32_t dos = GetLE32(h, 12);
    e.Date = static_cast<int32_t>(dos) > 0 ? DosDateTimeToDateTime(dos) : 0;
    e.FileName = FCurrentFileName;
    if ((e.ExternalAttributes & platform::kAttrDirectory) != 0 && !e.FileName.empty() && e.FileName.back() != '/')
      e.FileName += '/';
    OnRead(this, static_cast<int32_t>(info.LocalOffset & 0xFFFFFFFF), i);
  }
}

// --- comments --------------------------------------------------------------------------------

int32_t TZipBase::OpenArchiveDirectory() {
  FEntryCount = 0;
  CommentList.reset();
  if (FArchiveFile.empty()) return 0;
  TTempFileStream in(this, platform::kModeReadDenyWrite, ArchiveFile(), "");
  if (in.Handle() < 0) {
    ReportError(ArchiveFile(), "", "0", E_OPEN_ERROR);
    return 0;
  }
  const TArcType kind = DetectArcType(&in);
  FArcType = UpdateKind(kind);
  if (!IsZipFamily(FArcType)) return 0;
  const TSwitch saved = FSwitch;
  FSwitch = swAdd;
  auto list = std::make_unique<TCompHeaderList>();
  ReadCentralDirectory(in, *list);
  FSwitch = saved;
  // A comment is put into the archive by writing its directory anew in place: one part of a
  // set cannot take that, and a directory that lost entries would lose them for good.
  if ((EndRecordPos >= 0 && EndRecordDisk != 0) || FArcType == atZipDS) {
    ReportError(ArchiveFile(), "", "0", E_UNSUPPORTED_TYPE);
    return 0;
  }
  if (!FDirectoryDamage.empty()) {
    ReportError(ArchiveFile(), FDirectoryDamage, "0", E_BAD_FILE_HEADER);
    return 0;
  }
  CommentList = std::move(list);
  return CommentList->Count();
}

bool TZipBase::GetZipComment(std::string& Text) {
  Text.clear();
  if (!CommentList) return false;
  Text.assign(CommentList->SharedBlock.begin(), CommentList->SharedBlock.end());
  return !Text.empty();
}

bool TZipBase::GetFileComment(int32_t Index, std::string& Name, std::string& Text) {
  Name.clear();
  Text.clear();
  if (!CommentList || Index < 0 || Index >= CommentList->Count()) return false;
  CentralHeaderBuf = CommentList->Header(Index);
  Name = CommentList->Name(Index);
  const auto& c = CommentList->Info(Index).Comment;
  Text.assign(c.begin(), c.end());
  return true;
}

void TZipBase::SetZipComment(const std::string& Text) {
  if (!CommentList) return;
  std::vector<uint8_t> v(Text.begin(), Text.end());
  if (v.size() > 0xFFFF) v.resize(0xFFFF);
  if (v == CommentList->SharedBlock) return;
  CommentList->Modified = true;
  CommentList->SharedBlock = std::move(v);
}

void TZipBase::SetFileComment(int32_t Index, const std::string& Text) {
  if (!CommentList || Index < 0 || Index >= CommentList->Count()) return;
  std::vector<uint8_t> v(Text.begin(), Text.end());
  if (v.size() > 0xFFFF) v.resize(0xFFFF);
  TCompFileInfo& info = CommentList->Info(Index);
  if (v == info.Comment) return;
  CommentList->Modified = true;
  PutLE16(info.RawHeader, 32, static_cast<uint16_t>(v.size()));
  info.CommentLength = static_cast<uint32_t>(v.size());
  info.Comment = std::move(v);
}

void TZipBase::CommitComments() {
  std::unique_ptr<TCompHeaderList> list = std::move(CommentList);
  if (GetCancel() || !list || !list->Modified || FDirectoryPos < 0) return;
  try {
    TTempFileStream out(this, platform::kModeCreate, ArchiveFile(), GetTempDir());
    TTempFileStream in(this, platform::kModeReadDenyWrite, ArchiveFile(), "");
    if (in.Handle() < 0 || out.Handle() < 0) {
      out.Mode = 0;
      ReportError(ArchiveFile(), "", "0", E_OPEN_ERROR);
      return;
    }
    if (FDirectoryPos > 0) {
      in.SetPosition(0);
      out.CopyFrom(&in, FDirectoryPos);
    }
    FEntryCount = list->Count();
    const TSwitch saved = FSwitch;
    FSwitch = swAdd;
    bool ok;
    if (list->Count() == 0) {
      // An archive without entries is its end record, and the comment after it.
      TEndRecord end;
      end.CommentLength = static_cast<uint16_t>(list->SharedBlock.size());
      const auto b = end.Encode();
      out.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
      if (end.CommentLength > 0) out.WriteBuffer(list->SharedBlock.data(), end.CommentLength);
      ok = true;
    } else {
      ok = WriteCentralDirectory(out, *list);
    }
    FSwitch = saved;
    if (!ok) {
      out.Mode = 0;
      return;
    }
    out.MoveToFinal();
  } catch (const E_RAISE&) {
  } catch (const std::exception& e) {
    ReportError(ArchiveFile(), e.what(), "0", E_WRITE_ERROR);
  }
}
