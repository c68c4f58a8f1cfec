#include "archive/qrnZip.h"

#include <algorithm>
#include <cstring>

#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnSpanWrite.h"
#include "archive/qrnTempOut.h"
#include "archive/qrnZipRecords.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

constexpr int64_t k4GiB = int64_t{1} << 32;
constexpr size_t kTailSearch = 32768;

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

// Marks a central header whose name is stored as the file system's bytes, in no code page: a
// Unix host, as Unix tools store names, so that readers keep the bytes. Such a host's readers
// take the file's mode from the high 16 bits of the external attributes; it follows the
// attribute bits below them.
void MarkUnixHost(std::array<uint8_t, 46>& Central) {
  Central[5] = kHostUnix;
  const uint32_t attributes = GetLE32(Central, 38) & 0xFFFFu;
  uint32_t mode = (attributes & platform::kAttrDirectory) != 0 ? 0040755u : 0100644u;
  if ((attributes & platform::kAttrReadOnly) != 0) mode &= ~0222u;
  PutLE32(Central, 38, attributes | (mode << 16));
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

bool HasStandardZip64Field(const std::vector<uint8_t>& Extra) {
  return HasExtraBlock(Extra.data(), Extra.size(), {kStandardZip64ExtraTag});
}

// Bytes of the data descriptor at Pos: its signature is optional, its sizes are 64-bit when the
// local header carries a standard Zip64 field.
int64_t DescriptorLength(TStream32& Input, int64_t Pos, bool Zip64) {
  std::array<uint8_t, 4> sig{};
  Input.Seek(Pos, soBeginning);
  const bool hasSig = Input.Read(sig.data(), 4) == 4 && GetLE32(sig, 0) == kDataDescriptorSignature;
  return (hasSig ? 4 : 0) + 4 + (Zip64 ? 16 : 8);
}

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
  LocalHeaderBuf.fill(0);
  PutLE32(LocalHeaderBuf, 0, GetHeaderSignature(hkLocal, info.HeaderEnciphered));
  PutLE16(LocalHeaderBuf, 4, 20);
  PutLE32(LocalHeaderBuf, 10, GetFileDate(GetLE32(info.RawHeader, 12)));
  PutLE32(LocalHeaderBuf, 22, GetLE32(info.RawHeader, 24));
  PutLE16(LocalHeaderBuf, 8, 8);
}

void TZipBase::WriteZip64Extra(TStream32& Output, TCompFileInfo& Info) {
  if (!NeedsZip64Extra(Info)) return;
  const auto central = CentralZip64(Info);
  Info.ExtraLength = 10;
  Info.Extra.assign(central.begin(), central.end());
  TZip64Extra x;
  x.PackedHigh = Info.PackedHigh;
  x.UnpackedHigh = Info.UnpackedHigh;
  const auto local = x.EncodeLocal();
  Output.WriteBuffer(local.data(), static_cast<int32_t>(local.size()));
}

void TZipBase::FinishLocalHeader(int64_t PackedSize, int64_t UnpackedSize) {
  if (UnpackedSize == 0 && CryptState().Crc32 == 0xFFFFFFFFu) CryptState().Crc32 = 0;
  TCompFileInfo* info = FCurInfo;
  if (info != nullptr && NeedsZip64Extra(*info)) {
    PutLE16(LocalHeaderBuf, 28, 8);
    PackedSize -= 8;
  } else {
    PutLE16(LocalHeaderBuf, 28, 0);
    if (info != nullptr) {
      info->ExtraLength = 0;
      info->Extra.clear();
    }
  }
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
  if (info.RawName) MarkUnixHost(CentralHeaderBuf);
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

bool TZipBase::LocateEndRecord(TStream32& Input, std::vector<uint8_t>& Comment, int64_t& DirectoryOffset,
                               bool& Enciphered) {
  EndRecordBuf.fill(0);
  FExpectedEntries = -1;
  FOffsetShift = 0;
  FEndDisk = 0;
  FDirectoryEnd = -1;
  const int64_t size = Input.Size();
  if (size < 22) return false;
  const int64_t tailLen = std::min<int64_t>(size, kTailSearch);
  std::vector<uint8_t> tail(static_cast<size_t>(tailLen));
  Input.Seek(size - tailLen, soBeginning);
  if (Input.Read(tail.data(), static_cast<int32_t>(tailLen)) != tailLen) return false;
  auto* set = dynamic_cast<TVolumeSetStream*>(&Input);
  auto centralAt = [&](int64_t pos) {
    std::array<uint8_t, 4> sig{};
    bool enc = false;
    return pos >= 0 && pos + 46 <= size && Input.Seek(pos, soBeginning) == pos && Input.Read(sig.data(), 4) == 4 &&
           ClassifySignature(GetLE32(sig, 0), hkCentral, enc) == hkCentral;
  };
  // The end record is the last signature whose record fits in the file, as every reader takes
  // it (down to the first byte: a bare end record, an archive whose entries were all deleted,
  // starts there). One that does not add up marks a damaged archive, never a reason to look
  // further back: what lies before it is data or a comment, and a directory found there is not
  // the one the readers list.
  for (int64_t p = tailLen - 22; p >= 0; --p) {
    const std::span<const uint8_t> s(tail.data() + p, static_cast<size_t>(tailLen - p));
    const uint32_t sig = GetLE32(s, 0);
    bool enc = false;
    if (ClassifySignature(sig, hkEnd, enc) != hkEnd) continue;
    const bool large = IsLargeEndSignature(sig);
    const size_t recLen = large ? 26 : 22;
    if (s.size() < recLen) continue;
    FDirectoryDamaged = true;
    std::array<uint8_t, 26> rec{};
    std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(recLen), rec.begin());
    if (enc) DecipherHeader(std::span<uint8_t>(rec.data(), recLen), hkEnd);
    const uint16_t commentLen = GetLE16(rec, large ? 24 : 20);
    // A comment that runs past the end of the file is not one the new archive could carry.
    if (commentLen > s.size() - recLen) return false;
    const int64_t recPos = size - tailLen + p;
    int64_t stored = large ? static_cast<int64_t>(GetLE64(rec, 16)) : GetLE32(rec, 16);
    int64_t dirSize = GetLE32(rec, 12);
    int64_t entries = GetLE16(rec, 10);
    uint32_t disk = GetLE16(rec, 4);
    uint32_t dirDisk = GetLE16(rec, 6);
    bool fullCount = false;
    int64_t dirEnd = recPos;
    // A standard Zip64 end record, found through the locator just before this record, holds
    // the values that the 22-byte record could not.
    if (!large && recPos >= 20 + static_cast<int64_t>(TZip64EndRecord::kSize)) {
      std::array<uint8_t, TZip64Locator::kSize> lb{};
      Input.Seek(recPos - 20, soBeginning);
      const auto loc = Input.Read(lb.data(), 20) == 20 ? TZip64Locator::Decode(lb.data(), lb.size()) : std::nullopt;
      if (loc && loc->Signature == kZip64LocatorSignature) {
        std::array<uint8_t, TZip64EndRecord::kSize> zb{};
        const int64_t base = set ? set->Start(loc->Zip64EndDisk) : 0;
        std::optional<TZip64EndRecord> z;
        int64_t zpos = -1;
        // A crafted offset may lie past any position: it is compared before it is added.
        const uint64_t room = base < 0 || base > recPos ? 0 : static_cast<uint64_t>(recPos - base);
        const int64_t stated = loc->Zip64EndOffset < room ? base + static_cast<int64_t>(loc->Zip64EndOffset) : -1;
        for (int64_t at : {stated, recPos - 20 - 56}) {
          if (at < 0 || at + 56 > recPos) continue;
          Input.Seek(at, soBeginning);
          if (Input.Read(zb.data(), 56) != 56) continue;
          z = TZip64EndRecord::Decode(zb.data(), zb.size());
          if (z && z->Signature == kZip64EndRecordSignature) {
            zpos = at;
            break;
          }
          z.reset();
        }
        if (z) {
          stored = static_cast<int64_t>(z->DirectoryOffset);
          dirSize = static_cast<int64_t>(z->DirectorySize);
          entries = static_cast<int64_t>(z->TotalEntries);
          disk = z->DiskNumber;
          dirDisk = z->DirectoryDisk;
          fullCount = true;
          dirEnd = zpos;
        }
      }
    }
    if (stored < 0 || dirSize < 0 || entries < 0 || dirSize > dirEnd) return false;
    // The directory ends where the record that describes it begins. Offsets count from the
    // archive's own start: behind a prefix (a program, a script) the directory lies further
    // on, and so does every entry.
    const int64_t dir = dirEnd - dirSize;
    const bool empty = entries == 0 && dirSize == 0;
    if (set) {
      const int64_t start = set->Start(dirDisk);
      if (start < 0 || stored != dir - start) return false;
    } else {
      FOffsetShift = dir - stored;
    }
    if (!empty && !centralAt(dir)) return false;
    if (large) {
      std::copy(rec.begin(), rec.end(), LargeEndRecordBuf.begin());
      std::copy(rec.begin(), rec.begin() + 4, EndRecordBuf.begin());
    } else {
      std::copy(rec.begin(), rec.begin() + 22, EndRecordBuf.begin());
    }
    Comment.assign(s.begin() + static_cast<std::ptrdiff_t>(recLen),
                   s.begin() + static_cast<std::ptrdiff_t>(recLen + commentLen));
    DirectoryOffset = dir;
    Enciphered = enc;
    FExpectedEntries = entries;
    FExpectedFullCount = fullCount;
    FEndDisk = disk;
    FEmptyDirectory = empty;
    FDirectoryEnd = dirEnd;
    FDirectoryDamaged = false;
    return true;
  }
  return false;
}

bool TZipBase::FindDirectory(std::string& Name, TStream32& Input, TCompHeaderList* List, bool& DirectoryFound) {
  DirectoryFound = false;
  FDirectoryPos = -1;
  FEmptyDirectory = false;
  try {
    std::vector<uint8_t> comment;
    int64_t dir = 0;
    bool enc = false;
    DirectoryFound = LocateEndRecord(Input, comment, dir, enc);
    // An end record that does not lead to its directory: the entries are not where it says,
    // and walking the local headers instead would be a guess.
    if (!DirectoryFound && FDirectoryDamaged) return false;
    if (DirectoryFound) {
      FDirectoryPos = dir;
      if (List != nullptr) List->SharedBlock = comment;
    }
    NextHeaderPos = DirectoryFound ? dir : FirstLocalHeader(Input);
    if (DirectoryFound && FEmptyDirectory) return false;
    return ReadCentralHeader(Input, Name, DirectoryFound);
  } catch (const std::exception&) {
    return false;
  }
}

int64_t TZipBase::FirstLocalHeader(TStream32& Input) {
  // Entries without a directory may stand behind a prefix too: the first local header within
  // the first 128 KB is where they begin.
  const int64_t size = Input.Size();
  std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(size, 4 * int64_t{kTailSearch})));
  Input.Seek(0, soBeginning);
  const int32_t n = Input.Read(head.data(), static_cast<int32_t>(head.size()));
  for (int32_t p = 0; p + 4 <= n; ++p) {
    bool enc = false;
    if (head[static_cast<size_t>(p)] == 'P' &&
        ClassifySignature(GetLE32(std::span<const uint8_t>(head.data() + p, 4), 0), hkLocal, enc) == hkLocal)
      return p;
  }
  return 0;
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
    FReadCentral = Central;
    if (Central) {
      if (Input.Read(CentralHeaderBuf.data(), 46) != 46) return false;
      bool enc = false;
      if (ClassifySignature(GetLE32(CentralHeaderBuf, 0), hkCentral, enc) != hkCentral) return false;
      if (enc) DecipherHeader(CentralHeaderBuf, hkCentral);
      FReadEnciphered = enc;
      const uint16_t nameLen = GetLE16(CentralHeaderBuf, 28);
      const uint16_t extraLen = GetLE16(CentralHeaderBuf, 30);
      const uint16_t commentLen = GetLE16(CentralHeaderBuf, 32);
      // A header that runs past the end of the directory is no header of it.
      const int64_t end = FDirectoryEnd >= 0 ? std::min(FDirectoryEnd, size) : size;
      if (NextHeaderPos + 46 + nameLen + extraLen + commentLen > end) return false;
      if (!ReadEntryName(Input, nameLen, enc)) return false;
      FReadExtra.resize(extraLen);
      ReadExact(Input, FReadExtra.data(), extraLen);
      Name = DecodeEntryName(FReadStoredName, GetLE16(CentralHeaderBuf, 8), CentralHeaderBuf[5], FReadExtra);
      FReadComment.resize(commentLen);
      ReadExact(Input, FReadComment.data(), commentLen);
      TExtraSizes sizes{GetLE32(CentralHeaderBuf, 20), GetLE32(CentralHeaderBuf, 24), GetLE32(CentralHeaderBuf, 42)};
      ExtraHigh = ParseExtraHigh(FReadExtra.data(), FReadExtra.size(), 1, sizes);
      FReadOffset = Full(sizes.LocalHeaderOffset, ExtraHigh.OffsetHigh);
      NextHeaderPos = Input.Position();
      return true;
    }
    if (Input.Read(LocalHeaderBuf.data(), 30) != 30) return false;
    bool enc = false;
    if (ClassifySignature(GetLE32(LocalHeaderBuf, 0), hkLocal, enc) != hkLocal) return false;
    if (enc) DecipherHeader(LocalHeaderBuf, hkLocal);
    FReadEnciphered = enc;
    const uint16_t flags = GetLE16(LocalHeaderBuf, 6);
    const uint16_t nameLen = GetLE16(LocalHeaderBuf, 26);
    const uint16_t extraLen = GetLE16(LocalHeaderBuf, 28);
    if (NextHeaderPos + 30 + nameLen + extraLen > size) return false;
    if (!ReadEntryName(Input, nameLen, enc)) return false;
    FReadExtra.resize(extraLen);
    ReadExact(Input, FReadExtra.data(), extraLen);
    Name = DecodeEntryName(FReadStoredName, flags, kHostUnknown, FReadExtra);
    FReadComment.clear();
    TExtraSizes sizes{GetLE32(LocalHeaderBuf, 18), GetLE32(LocalHeaderBuf, 22), 0};
    ExtraHigh = ParseExtraHigh(FReadExtra.data(), FReadExtra.size(), 0, sizes);
    FReadOffset = FReadPos;
    const int64_t packed = Full(sizes.PackedSize, ExtraHigh.PackedHigh);
    // Without a directory an entry is sized by its local header alone; one whose sizes wait in
    // a descriptor after the data cannot be, and nothing after it could be found again.
    if ((flags & kFlagDataDescriptor) != 0 && packed == 0) {
      FDirectoryDamaged = true;
      return false;
    }
    NextHeaderPos += 30 + nameLen + extraLen + packed;
    if ((flags & kFlagDataDescriptor) != 0)
      NextHeaderPos += DescriptorLength(Input, NextHeaderPos, HasStandardZip64Field(FReadExtra));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void TZipBase::ReadCentralDirectory(TStream32& Input, TCompHeaderList& List) {
  if (!FDeletePass) FDirectoryDamaged = false;
  // What detection, run on this file just before (Execute, OpenArchiveDirectory), leaves for
  // the reader: where it starts listing and how it shifts the stored offsets.
  const int64_t readerStart = ArcOffset;
  const THeaderTypeState readerFlags = DirectoryFlags;
  const uint32_t readerShift = SfxShift;
  int64_t deletedBytes = 0;
  std::string name;
  bool central = false;
  auto* set = dynamic_cast<TVolumeSetStream*>(&Input);
  bool more = FindDirectory(name, Input, &List, central);
  const int64_t size = Input.Size();
  int64_t read = 0;
  while (more) {
    ++read;
    const int64_t afterHeader = NextHeaderPos;
    TCompFileInfo info;
    info.StoredName = FReadStoredName;
    info.Utf8Name = false;
    if (FDeletePass) {
      List.Add(name, info);
    } else if (central) {
      info.RawHeader = CentralHeaderBuf;
      info.Utf8Name = (GetLE16(CentralHeaderBuf, 8) & kFlagUtf8) != 0;
      info.LocalOffset = FReadOffset + (set ? set->Start(GetLE16(CentralHeaderBuf, 34)) : FOffsetShift);
      // The new archive is one file: every kept entry lies on its only disk. A disk number
      // that a single file carries is wrong, and kept it would send the reader after a set
      // (0xFFFF defers to the Zip64 block, whose fields depend on it).
      if (set || GetLE16(info.RawHeader, 34) != 0xFFFF) PutLE16(info.RawHeader, 34, 0);
      info.UnpackedHigh = ExtraHigh.UnpackedHigh;
      info.PackedHigh = ExtraHigh.PackedHigh;
      info.HeaderEnciphered = FReadEnciphered;
      info.Extra = FReadExtra;
      info.ExtraLength = static_cast<uint16_t>(FReadExtra.size());
      info.Comment = FReadComment;
      info.CommentLength = static_cast<uint32_t>(FReadComment.size());
      // The directory names the entry, as the other tools list it, and updates match found
      // files against that name; the reader shows the local header's. When they differ,
      // which file the entry is cannot be told.
      if (!LocalNameAgrees(Input, info.LocalOffset, info.StoredName)) FDirectoryDamaged = true;
      if (FSwitch == swDelete && MatchesFileSpec(name, FFileSpec, &FExcludeSpec)) {
        std::array<uint8_t, 30> local{};
        if (info.LocalOffset + 30 <= size) {
          Input.Seek(info.LocalOffset, soBeginning);
          if (Input.Read(local.data(), 30) == 30) {
            bool enc = false;
            if (ClassifySignature(GetLE32(local, 0), hkLocal, enc) == hkLocal && enc) DecipherHeader(local, hkLocal);
            deletedBytes += 30 + GetLE16(local, 26) + GetLE16(local, 28) + static_cast<int64_t>(GetLE32(local, 18)) +
                            (static_cast<int64_t>(info.PackedHigh) << 32);
          }
        }
        ++FFilesDeleted;
        info.EntryAction = eaDrop;
        List.Add(name, info);
      } else {
        info.EntryAction = eaKeep;
        PutLE32(info.RawHeader, 42, static_cast<uint32_t>(info.LocalOffset - deletedBytes));
        List.Add(name, info);
      }
    } else {
      info.EntryAction = eaKeep;
      info.LocalOffset = FReadPos;
      info.HeaderEnciphered = FReadEnciphered;
      info.PackedHigh = ExtraHigh.PackedHigh;
      info.UnpackedHigh = ExtraHigh.UnpackedHigh;
      info.Utf8Name = (GetLE16(LocalHeaderBuf, 6) & kFlagUtf8) != 0;
      info.Extra = FReadExtra;
      info.ExtraLength = static_cast<uint16_t>(FReadExtra.size());
      info.RawHeader.fill(0);
      PutLE32(info.RawHeader, 0, kCentralHeaderSignature);
      // The readers take a name without flag bit 11 as the system's own bytes when a Unix tool
      // made the entry, else as OEM text; a local header tells that only by its Unix extra
      // blocks, and the directory record says it by its host.
      if (HasUnixExtraBlock(FReadExtra.data(), FReadExtra.size())) info.RawHeader[5] = kHostUnix;
      std::copy(LocalHeaderBuf.begin() + 6, LocalHeaderBuf.begin() + 30, info.RawHeader.begin() + 8);
      PutLE16(info.RawHeader, 30, info.ExtraLength);
      PutLE32(info.RawHeader, 42, static_cast<uint32_t>(FReadPos));
      List.Add(name, info);
    }
    NextHeaderPos = afterHeader;
    more = ReadNextCentralHeader(name, Input, central);
  }
  if (FDeletePass) return;
  if (central) {
    // The end record counts the entries (the 22-byte record to 16 bits): a directory that
    // ends sooner has lost entries, which an update would then drop for good.
    const int64_t expected = FExpectedEntries;
    if (expected >= 0 && (FExpectedFullCount ? read != expected : (read & 0xFFFF) != expected))
      FDirectoryDamaged = true;
    // The headers fill the directory to its end; only a digital signature may close it.
    if (!FEmptyDirectory && NextHeaderPos != FDirectoryEnd && !DigitalSignatureCloses(Input, NextHeaderPos))
      FDirectoryDamaged = true;
  } else if (read > 0) {
    // Entries found by their local headers: the directory of the new archive goes where they
    // end, and what stands there must be the end of the file or the remains of a directory.
    FDirectoryPos = NextHeaderPos;
    std::array<uint8_t, 4> sig{};
    Input.Seek(NextHeaderPos, soBeginning);
    bool enc = false;
    if (NextHeaderPos < size &&
        (Input.Read(sig.data(), 4) != 4 || (ClassifySignature(GetLE32(sig, 0), hkCentral, enc) != hkCentral &&
                                            ClassifySignature(GetLE32(sig, 0), hkEnd, enc) != hkEnd)))
      FDirectoryDamaged = true;
  }
  if (set == nullptr && !ReaderListsTheSame(Input, central, List, readerStart, readerFlags, readerShift))
    FDirectoryDamaged = true;
  // Each stored entry ends where the next one (or the directory) begins. Two directory records
  // over one local header are the shape of a zip bomb: the reader lists the first and reports
  // the second as damaged, and an update must not turn it into an entry of its own.
  std::vector<int64_t> starts;
  for (int32_t i = 0; i < List.Count(); ++i) starts.push_back(List.Info(i).LocalOffset);
  std::sort(starts.begin(), starts.end());
  if (std::adjacent_find(starts.begin(), starts.end()) != starts.end() || (!starts.empty() && starts.front() < 0))
    FDirectoryDamaged = true;
  for (int32_t i = 0; i < List.Count(); ++i) {
    TCompFileInfo& info = List.Info(i);
    const auto next = std::upper_bound(starts.begin(), starts.end(), info.LocalOffset);
    info.Limit = next != starts.end() ? *next : FDirectoryPos >= info.LocalOffset ? FDirectoryPos : -1;
  }
}

bool TZipBase::LocalNameAgrees(TStream32& Input, int64_t Offset, const std::string& StoredName) {
  std::array<uint8_t, 30> local{};
  bool enc = false;
  if (Offset < 0 || Input.Seek(Offset, soBeginning) != Offset || Input.Read(local.data(), 30) != 30 ||
      ClassifySignature(GetLE32(local, 0), hkLocal, enc) != hkLocal)
    return true;  // no local header to compare: copying the entry finds that out
  if (enc) DecipherHeader(local, hkLocal);
  const uint16_t length = GetLE16(local, 26);
  if (length != StoredName.size()) return false;
  std::string name(length, '\0');
  if (length > 0 && Input.Read(name.data(), length) != length) return true;
  if (enc && length > 0) DecipherBlock(reinterpret_cast<uint8_t*>(name.data()), length);
  return name == StoredName;
}

bool TZipBase::DigitalSignatureCloses(TStream32& Input, int64_t Pos) {
  std::array<uint8_t, 6> r{};
  return Pos >= 0 && Input.Seek(Pos, soBeginning) == Pos && Input.Read(r.data(), 6) == 6 &&
         GetLE32(r, 0) == kDigitalSignatureSignature && Pos + 6 + GetLE16(r, 4) == FDirectoryEnd;
}

bool TZipBase::ReaderListsTheSame(TStream32& Input, bool Central, TCompHeaderList& List, int64_t ReaderStart,
                                  THeaderTypeState Flags, uint32_t Shift) {
  // Detection found local headers and nothing else: the reader walks them from there, past
  // the marker that opens a split archive.
  const bool byLocal = Flags == 1;
  auto kindAt = [&](int64_t pos) {
    std::array<uint8_t, 4> sig{};
    bool enc = false;
    if (pos < 0 || Input.Seek(pos, soBeginning) != pos || Input.Read(sig.data(), 4) != 4) return int32_t{hkNone};
    if (GetLE32(sig, 0) == kDataDescriptorSignature) return int32_t{hkDataDescriptor};
    for (const int32_t kind : {hkLocal, hkCentral})
      if (ClassifySignature(GetLE32(sig, 0), kind, enc) == kind) return kind;
    return int32_t{hkNone};
  };
  if (byLocal && kindAt(ReaderStart) == hkDataDescriptor) ReaderStart += 4;
  if (Central && !FEmptyDirectory)
    return !byLocal && ReaderStart == FDirectoryPos && Shift == static_cast<uint32_t>(FOffsetShift);
  if (Central) {
    const int32_t kind = kindAt(ReaderStart);
    return kind != hkLocal && kind != hkCentral;
  }
  return List.Count() == 0 || (byLocal && ReaderStart == List.Info(0).LocalOffset);
}

int64_t TZipBase::MeasureStoredEntry(TStream32& Input, const std::array<uint8_t, 46>& RawHeader, bool& Enciphered) {
  const int64_t start = Input.Position();
  const int64_t size = Input.Size();
  if (Input.Read(LocalHeaderBuf.data(), 30) != 30) return 0;
  if (ClassifySignature(GetLE32(LocalHeaderBuf, 0), hkLocal, Enciphered) != hkLocal) return 0;
  if (Enciphered) DecipherHeader(LocalHeaderBuf, hkLocal);
  const uint16_t flags = GetLE16(LocalHeaderBuf, 6);
  const uint16_t nameLen = GetLE16(LocalHeaderBuf, 26);
  const uint16_t extraLen = GetLE16(LocalHeaderBuf, 28);
  if (start + 30 + nameLen + extraLen > size) return 0;
  std::vector<uint8_t> extra(extraLen);
  Input.Seek(start + 30 + nameLen, soBeginning);
  if (extraLen > 0 && Input.Read(extra.data(), extraLen) != extraLen) return 0;
  TExtraSizes local{GetLE32(LocalHeaderBuf, 18), GetLE32(LocalHeaderBuf, 22), 0};
  ExtraHigh = ParseExtraHigh(extra.data(), extra.size(), 0, local);
  int64_t packed = Full(local.PackedSize, ExtraHigh.PackedHigh);
  // The directory's size is the entry's: a local header may lack the high word, or hold
  // nothing at all when the sizes follow the data. Where it holds a size, its low word must
  // agree.
  int64_t centralPacked = GetLE32(RawHeader, 20);
  if (FKeptInfo != nullptr) {
    int64_t unpacked = 0;
    EntrySizes(RawHeader, *FKeptInfo, centralPacked, unpacked);
  }
  if (local.PackedSize != 0 && static_cast<uint32_t>(packed) != static_cast<uint32_t>(centralPacked)) return 0;
  packed = std::max(packed, centralPacked);
  int64_t count = 30 + nameLen + extraLen + packed;
  // The descriptor after the data belongs to the entry and goes along.
  if ((flags & kFlagDataDescriptor) != 0) count += DescriptorLength(Input, start + count, HasStandardZip64Field(extra));
  if (start + count > size) return 0;
  if (FKeptInfo != nullptr && FKeptInfo->Limit >= 0 && start + count > FKeptInfo->Limit) return 0;
  Input.Seek(start, soBeginning);
  return count;
}

int64_t TZipBase::ReadLocalHeader(TStream32& Input, TStream32& Output, std::array<uint8_t, 46>& RawHeader) {
  bool enc = false;
  const int64_t count = MeasureStoredEntry(Input, RawHeader, enc);
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
  const int64_t count = MeasureStoredEntry(Input, raw, enc);
  if (count <= 0) RaiseWriteError();
  std::array<uint8_t, 30> local{};
  std::copy(LocalHeaderBuf.begin(), LocalHeaderBuf.end(), local.begin());
  PutLE32(raw, 42, static_cast<uint32_t>(at));
  PutLE16(raw, 28, static_cast<uint16_t>(newName.size()));
  uint16_t cflags = GetLE16(raw, 8);
  cflags = static_cast<uint16_t>(utf8 ? (cflags | kFlagUtf8) : (cflags & ~kFlagUtf8));
  PutLE16(raw, 8, cflags);
  // The host tells readers how to take a name without flag bit 11: as its bytes from a Unix
  // host, else as OEM text.
  if (info.RawName)
    MarkUnixHost(raw);
  else if (!utf8 && !platform::IsAscii(newName))
    raw[5] = 0;
  const uint16_t oldNameLen = GetLE16(local, 26);
  Input.Seek(start + 30 + oldNameLen, soBeginning);
  PutLE16(local, 26, static_cast<uint16_t>(newName.size()));
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
  } catch (const EWriteError&) {
    RaiseWriteError();
  }
  // The extra field, the data and a descriptor after it go across as they are.
  const int64_t rest = count - 30 - oldNameLen;
  if (rest > 0) Output.CopyFrom(&Input, rest);
  info.LocalOffset = at;
}

bool TZipBase::OpenOldVolumes(std::unique_ptr<TStream32>& Old) {
  std::vector<uint8_t> comment;
  int64_t dir = 0;
  bool enc = false;
  if (!LocateEndRecord(*Old, comment, dir, enc) || FEndDisk == 0) return true;
  // One part of a split set (name.z01 ... name.zip): the parts before this last one are asked
  // for through OnNextVolume, and the set is read as one stream.
  const auto last = static_cast<int32_t>(FEndDisk);
  VolumeFileName = ArchiveFile();
  std::vector<std::unique_ptr<TStream32>> volumes;
  for (int32_t disk = 0; disk < last; ++disk) {
    std::unique_ptr<TStream32> volume;
    if (!NextVolume(volume, disk, last)) return false;
    volumes.push_back(std::move(volume));
  }
  volumes.push_back(std::move(Old));
  auto set = std::make_unique<TVolumeSetStream>(std::move(volumes));
  set->CancelFlag = CancelRef;
  Old = std::move(set);
  FArcType = atZipMV;
  return true;
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
    RaiseError(Throw_E_RAISE, ArchiveFile(), "", "0", E_WRITE_ERROR);
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
  TTempFileStream in(this, 0x20, ArchiveFile(), "");
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
  if (FEndDisk != 0 || FArcType == atZipDS) {
    ReportError(ArchiveFile(), "", "0", E_UNSUPPORTED_TYPE);
    return 0;
  }
  if (FDirectoryDamaged) {
    ReportError(ArchiveFile(), CurrentFileName(), "0", E_BAD_FILE_HEADER);
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
    TTempFileStream in(this, 0x20, ArchiveFile(), "");
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
