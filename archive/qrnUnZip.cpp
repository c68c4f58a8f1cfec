#include "archive/qrnUnZip.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnFilters.h"
#include "archive/qrnGzInflate.h"
#include "archive/qrnOldMethods.h"
#include "archive/qrnZipRecords.h"
#include "platform/codepage.h"
#include "platform/hooks.h"

namespace {

constexpr int32_t kChunk = 32768;
constexpr uint8_t kOnlyLocalHeader = 0x01;
constexpr int64_t kLocalSize = 30;
constexpr int64_t kCentralSize = 46;
constexpr uint32_t kFolderAttr = 0x10;
constexpr int32_t kCrc32 = 32;
// Hosts of the "version made by" field whose names are not in the OEM code page.
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostMacOsX = 19;


int64_t wide(uint16_t High, uint32_t Low) { return static_cast<int64_t>((uint64_t{High} << 32) | Low); }

int32_t readAt(TStream32& Stream, int64_t Position, uint8_t* Buffer, int32_t Count) {
  try {
    if (Stream.Seek(Position, soBeginning) != Position) return 0;
    return std::max(0, Stream.Read(Buffer, Count));
  } catch (...) {
    return 0;
  }
}

}  // namespace

TUnZip::TUnZip() = default;
TUnZip::~TUnZip() = default;

// --- the driver ----------------------------------------------------------------------------

void TUnZip::ExtractArchive(std::unique_ptr<TStream32>& Archive, TStream32*& /*Output*/) {
  FPasswordForm = -1;
  try {
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
    FByLocal = DirectoryFlags == kOnlyLocalHeader;
    // The volume open now: the first one of a set found by its local headers, else the last.
    VolumeNumber = FByLocal ? 1 : LastVolume() + 1;
    if (FByLocal) {
      if (ScanLocalHeaders(*Archive) > 0) ExtractByLocalHeaders(Archive);
    } else if (ListDirectory(Archive) > 0) {
      ExtractByDirectory(Archive);
    } else if (GetLE16(EndRecordBuf, 10) != 0 && FList.Count() == 0 && FFileSpec.Count() > 0 && !GetCancel()) {
      // The end record promises entries that the directory does not hold: a damaged archive
      // must not pass for an empty one.
      ReportError(ArchiveFile(), "", "0", E_BAD_FILE_HEADER);
    }
  } catch (...) {
    // The driver ends quietly; the run frame returns what was counted.
  }
  FList.DoneList();
}

int32_t TUnZip::LastVolume() const {
  uint32_t disk = GetLE16(EndRecordBuf, 4);
  if (disk == 0xFFFF && (DirectoryFlags & 0x10)) disk = GetLE32(Zip64EndRecordBuf, 16);
  return static_cast<int32_t>(std::min<uint32_t>(disk, 0xFFFE));
}

void TUnZip::SetEntryName(const std::string& Stored, uint16_t Flags) {
  // A name ends at its first NUL: the file system would cut it there anyway, and the cleaned
  // path must be the one that is opened.
  EntryName = StoredToLocalName(Stored.substr(0, Stored.find('\0')), FTranslateOemChar, Flags);
}

int32_t TUnZip::DirectoryVolume() const {
  uint32_t disk = GetLE16(EndRecordBuf, 6);
  if (disk == 0xFFFF && (DirectoryFlags & 0x10)) disk = GetLE32(Zip64EndRecordBuf, 20);
  return static_cast<int32_t>(std::min<uint32_t>(disk, 0xFFFE));
}

int64_t TUnZip::DirectoryOffset() const {
  const uint32_t offset = GetLE32(EndRecordBuf, 16);
  if (offset == 0xFFFFFFFFu && (DirectoryFlags & 0x10))
    return static_cast<int64_t>(std::min<uint64_t>(GetLE64(Zip64EndRecordBuf, 48), INT64_MAX));
  return offset;
}

int64_t TUnZip::DirectorySize() const {
  const uint32_t size = GetLE32(EndRecordBuf, 12);
  if (size == 0xFFFFFFFFu && (DirectoryFlags & 0x10))
    return static_cast<int64_t>(std::min<uint64_t>(GetLE64(Zip64EndRecordBuf, 40), INT64_MAX));
  return size;
}

int64_t TUnZip::DirectoryEntries() const {
  const uint16_t count = GetLE16(EndRecordBuf, 10);
  if (count == 0xFFFF && (DirectoryFlags & 0x10))
    return static_cast<int64_t>(std::min<uint64_t>(GetLE64(Zip64EndRecordBuf, 32), INT64_MAX));
  return count;
}

int32_t TUnZip::ListDirectory(std::unique_ptr<TStream32>& Archive) {
  if (!IsSplit()) return ListCentralDirectory(*Archive);
  int32_t listed = 0;
  if (DirectoryVolume() >= LastVolume()) {
    listed = ListCentralDirectory(*Archive);
  } else {
    TMemoryStream32 directory;
    // Nothing listed: the driver reports the entries the end record promises.
    if (!ReadSplitDirectory(Archive, directory)) return 0;
    // The offsets of a set are counted on each volume: no program stub shifts them.
    SfxShift = 0;
    listed = ListHeaders(directory, 0);
  }
  // Headers missing from the directory are entries that would be skipped in silence (an empty
  // list is reported by the driver).
  if (!GetCancel() && listed > 0 && FHeadersListed < DirectoryEntries())
    ReportError(ArchiveFile(), "", std::to_string(LastVolume() + 1), E_BAD_FILE_HEADER);
  return listed;
}

bool TUnZip::ReadSplitDirectory(std::unique_ptr<TStream32>& Archive, TMemoryStream32& Directory) {
  TTimerPause pause(Timer);
  const int64_t size = DirectorySize();
  if (size <= 0 || size > INT32_MAX) return false;
  std::vector<uint8_t> buffer(kChunk);
  const int32_t last = LastVolume();
  for (int32_t volume = DirectoryVolume(); volume <= last && Directory.Size() < size; ++volume) {
    const int64_t start = volume == DirectoryVolume() ? DirectoryOffset() : 0;
    if (IsSpanned()) {
      // The first piece has a central header at the offset; a later one is told by its label.
      DiskSpann.DiskState = static_cast<uint16_t>(volume + 1);
      DiskSpann.EntryPosition = volume == DirectoryVolume() ? start : -1;
      if (!DiskSpann.OpenNextVolume(Archive)) return false;
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
  std::array<uint8_t, kCentralSize> h{};
  std::string stored;
  while (!GetCancel() && pos >= 0 && pos + kCentralSize <= size) {
    h.fill(0);
    if (readAt(Archive, pos, h.data(), kCentralSize) != kCentralSize) break;
    bool enc = false;
    if (ClassifySignature(GetLE32(h, 0), hkCentral, enc) != hkCentral) break;
    if (enc) DecipherHeader(h, hkCentral);
    const uint16_t flags = GetLE16(h, 8);
    const uint16_t nameLen = GetLE16(h, 28);
    const uint16_t extraLen = GetLE16(h, 30);
    const uint16_t commentLen = GetLE16(h, 32);
    if (ReadName(Archive, stored, nameLen) != nameLen) break;
    ++FHeadersListed;
    if (enc && !stored.empty()) DecipherBlock(reinterpret_cast<uint8_t*>(stored.data()), nameLen);
    TExtraSizes sizes{GetLE32(h, 20), GetLE32(h, 24), GetLE32(h, 42)};
    TExtraHigh high;
    ReadExtraField(Archive, extraLen, high, 1, sizes);
    // Unix tools store the name's bytes as the system has them (UTF-8 here), without flag bit
    // 11; only names from DOS and Windows hosts are in the OEM code page. A Unix-made name that
    // is not UTF-8 came from a system in another code page (CP866 archives made on Linux exist),
    // and the OEM translation still reads it.
    const uint8_t host = h[5];
    const bool rawName = (host == kHostUnix || host == kHostMacOsX) && platform::IsValidUtf8(stored);
    SetEntryName(stored, rawName ? static_cast<uint16_t>(flags | kFlagUtf8) : flags);

    if (MatchesEntrySpec(EntryName, FFileSpec, FExcludeSpec, FRecurseDirs)) {
      TUnZipRecord r;
      r.Name = EntryName;
      r.RawName = rawName;
      r.Attributes = GetLE32(h, 38);
      r.Disk = static_cast<uint16_t>(std::min<uint32_t>(GetLE16(h, 34) + 1u, 0xFFFF));
      // A program stub in front shifts 32-bit offsets, which wrap as stored.
      r.Offset = high.OffsetHigh == 0 ? int64_t{static_cast<uint32_t>(sizes.LocalHeaderOffset + SfxShift)}
                                      : wide(high.OffsetHigh, sizes.LocalHeaderOffset) + SfxShift;
      r.HasCentral = true;
      r.Central = h;
      r.PackedSize = wide(high.PackedHigh, sizes.PackedSize);
      r.UnpackedSize = wide(high.UnpackedHigh, sizes.UnpackedSize);
      bool keep = true;
      if (!IsSplit()) {
        uint8_t local[kLocalSize] = {};
        bool lenc = false;
        keep = r.Offset + kLocalSize <= size && readAt(Archive, r.Offset, local, kLocalSize) == kLocalSize &&
               ClassifySignature(GetLE32(local, 0), hkLocal, lenc) == hkLocal;
        if (!keep) {
          ReportError(EntryName, "", "0", E_BAD_FILE_HEADER);
          ++FFilesFailed;
        }
      }
      if (keep && FList.AddRecord(r)) {
        const uint32_t date = GetLE32(h, 12);
        if (static_cast<int32_t>(date) > static_cast<int32_t>(MaxFileDate)) MaxFileDate = date;
        PackedTotal += r.PackedSize - ((flags & kFlagEncrypted) ? 12 : 0);
        UnpackedTotal += r.UnpackedSize;
      }
    }
    pos += kCentralSize + nameLen + extraLen + commentLen;
  }
  return FList.Count();
}

int32_t TUnZip::ScanLocalHeaders(TStream32& Archive) {
  TTimerPause pause(Timer);
  if (OnCorruptZipHeader) {
    bool cancel = true;
    OnCorruptZipHeader(this, DirectoryFlags, cancel);
    if (cancel) return 0;
  }
  const int64_t size = Archive.Size();
  int64_t pos = ArcOffset;
  uint8_t mark[4] = {};
  if (readAt(Archive, pos, mark, 4) == 4 && GetLE32(mark, 0) == kDataDescriptorSignature) pos += 4;
  std::string stored;
  while (!GetCancel() && pos >= 0 && pos + kLocalSize <= size) {
    if (readAt(Archive, pos, FLocal.data(), kLocalSize) != kLocalSize) break;
    if (!ReadLocalHeader(Archive, stored, false)) break;
    SetEntryName(stored, GetLE16(FLocal, 6));
    const int64_t packed = wide(PackedHigh, FLocalSizes.PackedSize);
    const int64_t unpacked = wide(UnpackedHigh, FLocalSizes.UnpackedSize);
    if (!EntryName.empty() && MatchesEntrySpec(EntryName, FFileSpec, FExcludeSpec, FRecurseDirs)) {
      TUnZipRecord r;
      r.Name = EntryName;
      r.Disk = 1;
      r.Offset = pos;
      r.PackedSize = packed;
      r.UnpackedSize = unpacked;
      if (FList.AddRecord(r)) {
        const uint32_t date = GetLE32(FLocal, 10);
        if (static_cast<int32_t>(date) > static_cast<int32_t>(MaxFileDate)) MaxFileDate = date;
        PackedTotal += packed - ((GetLE16(FLocal, 6) & kFlagEncrypted) ? 12 : 0);
        UnpackedTotal += unpacked;
      }
    }
    const int64_t header = kLocalSize + GetLE16(FLocal, 26) + GetLE16(FLocal, 28);
    // A member claiming more than the file holds ends the walk; so does a zero size kept in a
    // data descriptor, whose data then stands where the next header is looked for.
    if (packed > size - pos - header) break;
    pos += header + packed;
  }
  return FList.Count();
}

bool TUnZip::ReadLocalHeader(TStream32& Archive, std::string& StoredName, bool ReadFixedPart) {
  if (ReadFixedPart) {
    FLocal.fill(0);
    int32_t got = 0;
    try {
      got = Archive.Read(FLocal.data(), kLocalSize);
    } catch (...) {
      got = 0;
    }
    if (got != kLocalSize) return false;
  }
  bool enc = false;
  if (ClassifySignature(GetLE32(FLocal, 0), hkLocal, enc) != hkLocal) return false;
  if (enc) DecipherHeader(FLocal, hkLocal);
  const uint16_t nameLen = GetLE16(FLocal, 26);
  const uint16_t extraLen = GetLE16(FLocal, 28);
  if (ReadName(Archive, StoredName, nameLen) != nameLen) return false;
  if (enc && nameLen > 0) DecipherBlock(reinterpret_cast<uint8_t*>(StoredName.data()), nameLen);
  FLocalSizes = TExtraSizes{GetLE32(FLocal, 18), GetLE32(FLocal, 22), 0};
  TExtraHigh high;
  ReadExtraField(Archive, extraLen, high, 0, FLocalSizes);
  PackedHigh = high.PackedHigh;
  UnpackedHigh = high.UnpackedHigh;
  OffsetHigh = 0;
  return true;
}

bool TUnZip::OpenDiskOf(std::unique_ptr<TStream32>& Archive, const TUnZipRecord& Record, bool First) {
  if (IsSpanned()) {
    // The disk in the drive is the one read last (DiskState is one past it).
    if (!First && Record.Disk + 1 == DiskSpann.DiskState) return true;
    DiskSpann.DiskState = Record.Disk;
    DiskSpann.EntryPosition = Record.Offset;
    return DiskSpann.OpenNextVolume(Archive);
  }
  if (IsMultiVolume() && !FByLocal && Record.Disk != VolumeNumber)
    return OpenNextVolume(Archive, Record.Disk - 1, LastVolume());
  return static_cast<bool>(Archive);
}

void TUnZip::ExtractRecords(std::unique_ptr<TStream32>& Archive) {
  BytesLeft = UnpackedTotal;
  ArchiveTotal = UnpackedTotal;
  std::string stored;
  for (int32_t i = 0; i < FList.Count() && !GetCancel(); ++i) {
    FCurrentIndex = i;
    const TUnZipRecord r = *FList.GetHeader(i);
    if (!OpenDiskOf(Archive, r, i == 0)) break;
    Entry = TUnEntry{};
    bool read = false;
    try {
      read = Archive->Seek(r.Offset, soBeginning) == r.Offset && ReadLocalHeader(*Archive, stored, true);
    } catch (...) {
      read = false;
    }
    if (!read) {
      // The listing could not test the local headers of a split archive.
      ReportError(r.Name, "", "0", E_BAD_FILE_HEADER);
      ++FFilesFailed;
      BytesLeft -= r.UnpackedSize;
      continue;
    }
    const uint32_t localCrc = GetLE32(FLocal, 14);
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
    } else {
      Entry.Flags = GetLE16(FLocal, 6);
      Entry.Method = GetLE16(FLocal, 8);
      Entry.PackedSize = wide(PackedHigh, FLocalSizes.PackedSize);
      Entry.UnpackedSize = wide(UnpackedHigh, FLocalSizes.UnpackedSize);
      Entry.Crc = localCrc;
    }
    Entry.DosDateTime = GetLE32(FLocal, 10);
    const uint16_t nameFlags = GetLE16(FLocal, 6);
    SetEntryName(stored, r.RawName ? static_cast<uint16_t>(nameFlags | kFlagUtf8) : nameFlags);
    SetCurrentFileName(EntryName);
    // Without a directory the sizes of a data-descriptor entry are out of reach: its data
    // cannot be found, and an empty file must not pass for it.
    FLocalOnlyUnknownSize = !r.HasCentral && (Entry.Flags & kFlagDataDescriptor) != 0 && Entry.PackedSize == 0 &&
                            Entry.Crc == 0;
    ExtractEntryFile(Archive, r.Attributes);
  }
}

void TUnZip::ExtractByDirectory(std::unique_ptr<TStream32>& Archive) { ExtractRecords(Archive); }

void TUnZip::ExtractByLocalHeaders(std::unique_ptr<TStream32>& Archive) { ExtractRecords(Archive); }

bool TUnZip::ExtractEntryFile(std::unique_ptr<TStream32>& Archive, uint32_t Attributes) {
  FEntryDamaged = false;
  FEntryNotDecoded = false;
  FEntryWritten = 0;
  const bool isFolder = (Attributes & kFolderAttr) != 0 || (!EntryName.empty() && EntryName.back() == '/');
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
      InflateMember(*this, *Archive, Output, TMemberHeader{static_cast<uint64_t>(packed), Entry.Flags});
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
  TDecompressStream inflater(Archive.get(), -15);
  inflater.State.Encrypted = Entry.Encrypted();
  inflater.State.Cancel = CancelRef;
  int64_t remaining = Entry.UnpackedSize;
  const int64_t total = Entry.UnpackedSize;
  int32_t chunk = static_cast<int32_t>(std::min<int64_t>(remaining, kChunk));
  // Packed bytes of the member on the volumes left behind, for finding the next disk.
  int64_t packedLeft = Entry.PackedSize - (Entry.Encrypted() ? static_cast<int64_t>(kEncryptionHeaderSize) : 0);
  int64_t volumeStart = Archive->Position();
  std::vector<uint8_t> buffer(static_cast<size_t>(std::max(chunk, 1)));
  while (remaining > 0 && !GetCancel()) {
    platform::ProcessMessages();
    const int32_t rc = inflater.Read(buffer.data(), chunk);
    // Read answers the count asked for or an error; what it produced is what it filled.
    const int32_t n = chunk - static_cast<int32_t>(inflater.OutputSpaceLeft());
    if (n > 0) {
      if (OutputHook(Output, buffer.data(), 1, n, kCrc32, false) < n) {
        // A refused write ends the member: writing on after a gap would only hide it.
        RaiseError(&Throw_E_RAISE, FCurrentFileName, "", "0", E_WRITE_ERROR);
        return;
      }
      BytesLeft -= n;
      DoProgress(ArchiveTotal, total, total - remaining + n);
    }
    if (rc == siBufError && static_cast<int64_t>(inflater.TotalOut()) < total && IsSplit()) {
      remaining -= n;
      packedLeft -= Archive->Size() - volumeStart;
      if (!ContinueOnNextVolume(Archive, std::max<int64_t>(packedLeft, 0))) return;
      volumeStart = 0;
      inflater.SetSource(Archive.get());
      chunk = static_cast<int32_t>(std::min<int64_t>(remaining, kChunk));
      continue;
    }
    if (rc < 0 || n < chunk) {
      // End of the data or damage: the size and CRC checks tell which.
      BytesLeft -= remaining - n;
      return;
    }
    remaining -= n;
    chunk = static_cast<int32_t>(std::min<int64_t>(remaining, kChunk));
  }
}

bool TUnZip::ContinueOnNextVolume(std::unique_ptr<TStream32>& Archive, int64_t Remaining) {
  if (IsSpanned()) {
    // A later disk holds the rest first, then the next header: the disk that has one there is
    // the right one.
    DiskSpann.EntryPosition = Remaining;
    return DiskSpann.OpenNextVolume(Archive);
  }
  if (IsMultiVolume()) {
    if (!OpenNextVolume(Archive, VolumeNumber, LastVolume())) return false;
    Archive->Seek(int64_t{0}, soBeginning);
    return true;
  }
  return false;
}

bool TUnZip::OpenNextVolume(std::unique_ptr<TStream32>& Archive, int32_t Current, int32_t Count) {
  return NextVolume(Archive, Current, Count);
}

bool TUnZip::CheckPassword(uint8_t* Buffer) {
  return CheckPasswordHeader(std::span<const uint8_t>(Buffer, kEncryptionHeaderSize), GetLE16(FLocal, 6), Entry.Crc,
                             FPassword, GetLE16(FLocal, 10), FPasswordForm);
}
