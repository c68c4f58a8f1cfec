#include "archive/qrnZip.h"

#include <algorithm>
#include <cstring>

#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnSpanWrite.h"
#include "archive/qrnTempOut.h"
#include "archive/qrnZipRecords.h"

namespace {

constexpr int64_t k4GiB = int64_t{1} << 32;
constexpr size_t kTailSearch = 32768;

uint16_t High16(int64_t v) { return static_cast<uint16_t>(static_cast<uint64_t>(v) >> 32); }

bool NeedsZip64Extra(const TCompFileInfo& Info) { return Info.UnpackedHigh > 0 || Info.LocalOffset >= k4GiB; }

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

TExtraHigh ParseExtraHigh(const uint8_t* Extra, size_t Length, int HeaderKind, uint32_t PackedLow,
                          uint32_t UnpackedLow, uint32_t OffsetLow) {
  TExtraHigh r;
  TExtraSizes sizes{PackedLow, UnpackedLow, OffsetLow};
  TZipCommon::ParseExtraField(std::span<const uint8_t>(Extra, Length), r, HeaderKind, sizes);
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
  Rec.UnpackedSize = static_cast<int64_t>(GetLE32(RawHeader, 24)) | (static_cast<int64_t>(Info.UnpackedHigh) << 32);
  Rec.PackedSize = static_cast<int64_t>(GetLE32(RawHeader, 20)) | (static_cast<int64_t>(Info.PackedHigh) << 32);
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
  const int64_t size = Input.Size();
  if (size < 22) return false;
  const int64_t tailLen = std::min<int64_t>(size, kTailSearch);
  std::vector<uint8_t> tail(static_cast<size_t>(tailLen));
  Input.Seek(size - tailLen, soBeginning);
  if (Input.Read(tail.data(), static_cast<int32_t>(tailLen)) != tailLen) return false;
  // From the end down to the first byte: a bare end record (an archive whose entries were all
  // deleted) starts at offset 0.
  for (int64_t p = tailLen - 22; p >= 0; --p) {
    const std::span<const uint8_t> s(tail.data() + p, static_cast<size_t>(tailLen - p));
    const uint32_t sig = GetLE32(s, 0);
    bool enc = false;
    if (ClassifySignature(sig, hkEnd, enc) != hkEnd) continue;
    const bool large = IsLargeEndSignature(sig);
    const size_t recLen = large ? 26 : 22;
    if (s.size() < recLen) continue;
    std::array<uint8_t, 26> rec{};
    std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(recLen), rec.begin());
    if (enc) DecipherHeader(std::span<uint8_t>(rec.data(), recLen), hkEnd);
    const uint16_t commentLen = GetLE16(rec, large ? 24 : 20);
    // A signature inside data or a comment is not the record: its comment must fit the file.
    if (commentLen > s.size() - recLen) continue;
    int64_t dir;
    if (large) {
      std::copy(rec.begin(), rec.end(), LargeEndRecordBuf.begin());
      std::copy(rec.begin(), rec.begin() + 4, EndRecordBuf.begin());
      dir = static_cast<int64_t>(GetLE64(rec, 16));
    } else {
      std::copy(rec.begin(), rec.begin() + 22, EndRecordBuf.begin());
      dir = GetLE32(rec, 16);
    }
    const int64_t recPos = size - tailLen + p;
    if (dir < 0 || dir > recPos) continue;
    Comment.assign(s.begin() + static_cast<std::ptrdiff_t>(recLen),
                   s.begin() + static_cast<std::ptrdiff_t>(recLen + commentLen));
    DirectoryOffset = dir;
    Enciphered = enc;
    return true;
  }
  return false;
}

bool TZipBase::FindDirectory(std::string& Name, TStream32& Input, TCompHeaderList* List, bool& DirectoryFound) {
  DirectoryFound = false;
  FDirectoryPos = -1;
  try {
    std::vector<uint8_t> comment;
    int64_t dir = 0;
    bool enc = false;
    DirectoryFound = LocateEndRecord(Input, comment, dir, enc);
    if (DirectoryFound) {
      FDirectoryPos = dir;
      if (List != nullptr) List->SharedBlock = comment;
    }
    NextHeaderPos = DirectoryFound ? dir : 0;
    if (DirectoryFound && dir == Input.Size() - 22 - static_cast<int64_t>(comment.size())) return false;
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

bool TZipBase::ReadEntryName(TStream32& Input, int32_t Length, bool Enciphered, uint16_t Flags, std::string& Name) {
  if (Length <= 0) return false;
  std::string bytes(static_cast<size_t>(Length), '\0');
  if (Input.Read(bytes.data(), Length) != Length) return false;
  if (Enciphered) DecipherBlock(reinterpret_cast<uint8_t*>(bytes.data()), Length);
  FReadStoredName = bytes;
  Name = StoredToLocalName(bytes, FTranslateOemChar, Flags);
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
      if (NextHeaderPos + 46 + nameLen + extraLen + commentLen > size) return false;
      if (!ReadEntryName(Input, nameLen, enc, GetLE16(CentralHeaderBuf, 8), Name)) return false;
      FReadExtra.resize(extraLen);
      ReadExact(Input, FReadExtra.data(), extraLen);
      FReadComment.resize(commentLen);
      ReadExact(Input, FReadComment.data(), commentLen);
      ExtraHigh = ParseExtraHigh(FReadExtra.data(), FReadExtra.size(), 1, GetLE32(CentralHeaderBuf, 20),
                                 GetLE32(CentralHeaderBuf, 24), GetLE32(CentralHeaderBuf, 42));
      NextHeaderPos = Input.Position();
      return true;
    }
    if (Input.Read(LocalHeaderBuf.data(), 30) != 30) return false;
    bool enc = false;
    if (ClassifySignature(GetLE32(LocalHeaderBuf, 0), hkLocal, enc) != hkLocal) return false;
    if (enc) DecipherHeader(LocalHeaderBuf, hkLocal);
    FReadEnciphered = enc;
    const uint16_t nameLen = GetLE16(LocalHeaderBuf, 26);
    const uint16_t extraLen = GetLE16(LocalHeaderBuf, 28);
    if (NextHeaderPos + 30 + nameLen + extraLen > size) return false;
    if (!ReadEntryName(Input, nameLen, enc, GetLE16(LocalHeaderBuf, 6), Name)) return false;
    FReadExtra.resize(extraLen);
    ReadExact(Input, FReadExtra.data(), extraLen);
    FReadComment.clear();
    ExtraHigh = ParseExtraHigh(FReadExtra.data(), FReadExtra.size(), 0, GetLE32(LocalHeaderBuf, 18),
                               GetLE32(LocalHeaderBuf, 22), 0);
    NextHeaderPos += 30 + nameLen + extraLen + static_cast<int64_t>(GetLE32(LocalHeaderBuf, 18)) +
                     (static_cast<int64_t>(ExtraHigh.PackedHigh) << 32);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void TZipBase::ReadCentralDirectory(TStream32& Input, TCompHeaderList& List) {
  int64_t deletedBytes = 0;
  std::string name;
  bool central = false;
  bool more = FindDirectory(name, Input, &List, central);
  const int64_t size = Input.Size();
  while (more) {
    const int64_t afterHeader = NextHeaderPos;
    TCompFileInfo info;
    info.StoredName = FReadStoredName;
    info.Utf8Name = false;
    if (FDeletePass) {
      List.Add(name, info);
    } else if (central) {
      info.RawHeader = CentralHeaderBuf;
      info.Utf8Name = (GetLE16(CentralHeaderBuf, 8) & kFlagUtf8) != 0;
      info.LocalOffset =
          static_cast<int64_t>(GetLE32(CentralHeaderBuf, 42)) | (static_cast<int64_t>(ExtraHigh.OffsetHigh) << 32);
      info.UnpackedHigh = ExtraHigh.UnpackedHigh;
      info.PackedHigh = ExtraHigh.PackedHigh;
      info.HeaderEnciphered = FReadEnciphered;
      info.Extra = FReadExtra;
      info.ExtraLength = static_cast<uint16_t>(FReadExtra.size());
      info.Comment = FReadComment;
      info.CommentLength = static_cast<uint32_t>(FReadComment.size());
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
      info.RawHeader.fill(0);
      PutLE32(info.RawHeader, 0, kCentralHeaderSignature);
      std::copy(LocalHeaderBuf.begin() + 6, LocalHeaderBuf.begin() + 30, info.RawHeader.begin() + 8);
      PutLE16(info.RawHeader, 30, 0);
      PutLE32(info.RawHeader, 42, static_cast<uint32_t>(FReadPos));
      List.Add(name, info);
    }
    NextHeaderPos = afterHeader;
    more = ReadNextCentralHeader(name, Input, central);
  }
}

int64_t TZipBase::ReadLocalHeader(TStream32& Input, TStream32& Output, std::array<uint8_t, 46>& RawHeader) {
  const int64_t start = Input.Position();
  if (Input.Read(LocalHeaderBuf.data(), 30) != 30) return 0;
  bool enc = false;
  if (ClassifySignature(GetLE32(LocalHeaderBuf, 0), hkLocal, enc) != hkLocal) return 0;
  if (enc) DecipherHeader(LocalHeaderBuf, hkLocal);
  uint32_t packed = GetLE32(LocalHeaderBuf, 18);
  if (packed == 0) packed = GetLE32(RawHeader, 20);
  const uint16_t nameLen = GetLE16(LocalHeaderBuf, 26);
  const uint16_t extraLen = GetLE16(LocalHeaderBuf, 28);
  std::vector<uint8_t> extra(extraLen);
  Input.Seek(nameLen, soCurrent);
  if (extraLen > 0 && Input.Read(extra.data(), extraLen) != extraLen) return 0;
  uint32_t unpacked = GetLE32(LocalHeaderBuf, 22);
  if (unpacked == 0) unpacked = GetLE32(RawHeader, 24);
  ExtraHigh = ParseExtraHigh(extra.data(), extra.size(), 0, packed, unpacked, 0);
  int64_t packed64 = static_cast<int64_t>(packed) | (static_cast<int64_t>(ExtraHigh.PackedHigh) << 32);
  if (ExtraHigh.Tag == kStandardZip64ExtraTag && packed == 0xFFFFFFFFu) {
    // The standard field holds the whole size.
    const TExtraHigh full = ExtraHigh;
    packed64 = static_cast<int64_t>(packed) | (static_cast<int64_t>(full.PackedHigh) << 32);
  }
  int64_t count = 30 + packed64 + nameLen + extraLen;
  // Entries written by other tools may carry their sizes in a descriptor after the data; it
  // belongs to the entry and goes along.
  if ((GetLE16(LocalHeaderBuf, 6) & kFlagDataDescriptor) != 0) {
    std::array<uint8_t, 4> sig{};
    Input.Seek(start + count, soBeginning);
    const bool hasSig = Input.Read(sig.data(), 4) == 4 && GetLE32(sig, 0) == kDataDescriptorSignature;
    count += hasSig ? 16 : 12;
  }
  if (start + count > Input.Size()) return 0;
  PutLE32(RawHeader, 42, static_cast<uint32_t>(Output.Size()));
  return count;
}

void TZipBase::CopyEntry(TStream32& Input, TStream32& Output, TCompHeaderList& List, int32_t Index) {
  TCompFileInfo& info = List.Info(Index);
  bool utf8 = false;
  std::string newName = EncodeStoredName(List.Name(Index), false, utf8);
  const int64_t at = Output.Size();
  std::array<uint8_t, 46>& raw = info.RawHeader;
  PutLE32(raw, 42, static_cast<uint32_t>(at));
  PutLE16(raw, 28, static_cast<uint16_t>(newName.size()));
  uint16_t cflags = GetLE16(raw, 8);
  cflags = static_cast<uint16_t>(utf8 ? (cflags | kFlagUtf8) : (cflags & ~kFlagUtf8));
  PutLE16(raw, 8, cflags);
  std::array<uint8_t, 30> local{};
  if (Input.Read(local.data(), 30) != 30) RaiseWriteError();
  bool enc = false;
  if (ClassifySignature(GetLE32(local, 0), hkLocal, enc) != hkLocal) RaiseWriteError();
  if (enc) DecipherHeader(local, hkLocal);
  const uint16_t oldNameLen = GetLE16(local, 26);
  const uint16_t extraLen = GetLE16(local, 28);
  Input.Seek(oldNameLen, soCurrent);
  PutLE16(local, 26, static_cast<uint16_t>(newName.size()));
  uint16_t lflags = GetLE16(local, 6);
  lflags = static_cast<uint16_t>(utf8 ? (lflags | kFlagUtf8) : (lflags & ~kFlagUtf8));
  PutLE16(local, 6, lflags);
  info.StoredName = newName;
  info.Utf8Name = utf8;
  if (enc) {
    EncipherHeader(local, hkLocal);
    EncipherBlock(reinterpret_cast<uint8_t*>(newName.data()), static_cast<int32_t>(newName.size()));
  }
  Output.Seek(at, soBeginning);
  if (Output.Write(local.data(), 30) != 30) RaiseWriteError();
  if (!newName.empty() && Output.Write(newName.data(), static_cast<int32_t>(newName.size())) !=
                              static_cast<int32_t>(newName.size()))
    RaiseWriteError();
  uint32_t packed = GetLE32(local, 18);
  if (packed == 0) packed = GetLE32(raw, 20);
  const int64_t rest = extraLen + static_cast<int64_t>(packed) + (static_cast<int64_t>(info.PackedHigh) << 32);
  if (rest > 0) {
    if (Input.Position() + rest > Input.Size()) RaiseWriteError();
    Output.CopyFrom(&Input, rest);
  }
  info.LocalOffset = at;
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
  if (FSwitch == swDelete && FFilesDeleted == List.Count()) return;
  for (int32_t i = 0; i < List.Count(); ++i) {
    TCompFileInfo& info = List.Info(i);
    if (info.EntryAction == eaDrop) continue;
    CentralHeaderBuf = info.RawHeader;
    FCurrentFileName = List.Name(i);
    if (info.EntryAction == eaCompress && FSwitch != swDelete) {
      if (!OnRead) return;
      OnRead(this, static_cast<int32_t>(info.LocalOffset & 0xFFFFFFFF), i);
    }
  }
}

// --- comments --------------------------------------------------------------------------------

int32_t TZipBase::OpenArchiveDirectory() {
  FEntryCount = 0;
  if (FArchiveFile.empty() || !IsZipFamily(FArcType == atUnknown || FArcType == atNA ? atZip : FArcType)) return 0;
  TTempFileStream in(this, 0x20, ArchiveFile(), "");
  if (in.Handle() < 0) {
    ReportError(ArchiveFile(), "", "0", E_OPEN_ERROR);
    return 0;
  }
  const TSwitch saved = FSwitch;
  FSwitch = swAdd;
  CommentList = std::make_unique<TCompHeaderList>();
  ReadCentralDirectory(in, *CommentList);
  FSwitch = saved;
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
    const bool ok = WriteCentralDirectory(out, *list) || list->Count() == 0;
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
