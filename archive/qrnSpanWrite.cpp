#include "archive/qrnSpanWrite.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

#include "archive/qrnCrypt.h"
#include "archive/qrnEndian.h"
#include "archive/qrnStreams.h"
#include "archive/qrnTempOut.h"
#include "archive/qrnZip.h"
#include "archive/qrnZipRecords.h"
#include "platform/files.h"
#include "platform/hooks.h"

namespace {

constexpr int64_t kCopyBlock = 65536;
constexpr const char* kLabelPrefix = "PKBACK# ";

// CRC-32 of the first Size bytes of a file; nullopt when they cannot be read.
std::optional<uint32_t> CrcOfFile(const std::string& Name, int64_t Size) {
  TFileStream32 in(Name, 0x20);
  if (in.Handle() < 0) return std::nullopt;
  std::vector<uint8_t> block(static_cast<size_t>(std::clamp<int64_t>(Size, 1, kCopyBlock)));
  uint32_t crc = 0xFFFFFFFFu;
  for (int64_t left = Size; left > 0;) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(left, kCopyBlock));
    if (in.Read(block.data(), n) != n) return std::nullopt;
    Crc32Update(block.data(), static_cast<size_t>(n), crc);
    left -= n;
  }
  return ~crc;
}

}  // namespace

TDiskSpanObj::TDiskSpanObj(TZipBase* AOwner, bool* ACancelFlag, TCompHeaderList* AHeaderList,
                           TDiskManager* ADiskServices, TStream32* ATemporaryOutput)
    : Owner(AOwner),
      CancelFlag(ACancelFlag),
      HeaderList(AHeaderList),
      DiskServices(ADiskServices),
      VolumeInfo(ADiskServices ? &ADiskServices->VolumeInfo : nullptr),
      SourceStream(ATemporaryOutput) {
  if (auto* f = dynamic_cast<TTempFileStream*>(ATemporaryOutput)) f->Mode = 0;
  if (auto* m = dynamic_cast<TTempMemStream*>(ATemporaryOutput)) m->Mode = 0;
  if (Owner) {
    FReportError = [this](const std::string& f, const std::string& e, const std::string& v, int32_t c) {
      Owner->ReportError(f, e, v, c);
    };
    FRaiseError = [this](TExceptionClass k, const std::string& f, const std::string& e, const std::string& v,
                         int32_t c) { Owner->RaiseError(k, f, e, v, c); };
  }
}

TDiskSpanObj::~TDiskSpanObj() = default;

std::string TDiskSpanObj::ArchiveName() const { return Owner ? Owner->ArchiveFile() : std::string(); }

int64_t& TDiskSpanObj::FreeSpace() { return DiskServices->FreeSpace; }

void TDiskSpanObj::Report(const std::string& ExtendedMsg, const std::string& VolumeID, int32_t Code) {
  if (FReportError) FReportError(ArchiveName(), ExtendedMsg, VolumeID, Code);
}

int64_t TDiskSpanObj::ChunkFor(int64_t n) const {
  const int64_t free = std::max<int64_t>(DiskServices->FreeSpace, 0);
  return n < free ? n : free;
}

// --- the disk checks -------------------------------------------------------------------------

bool TDiskSpanObj::CheckDisk() {
  return DiskServices->CheckDiskOfPath(ArchiveName(), nullptr, nullptr, FReportError, FRaiseError);
}

bool TDiskSpanObj::CheckDiskQuietly() {
  return DiskServices->CheckDiskOfPath(ArchiveName(), nullptr, nullptr, nullptr, nullptr);
}

// --- the whole write -------------------------------------------------------------------------

bool TDiskSpanObj::SpanArchive() {
  if (!Owner || !HeaderList || !DiskServices || !SourceStream) return false;
  bool ok = false;
  try {
    Owner->FireProgress(0, 0);
    TCompHeaderList& list = *HeaderList;
    // The entries in the order they lie in the temporary archive; each one reaches to the next
    // one's start, so whatever an entry holds (a data descriptor of a kept entry) goes along.
    std::vector<int32_t> order;
    ok = true;
    for (int32_t i = 0; ok && i < list.Count(); ++i) {
      if (list.Info(i).EntryAction == eaDrop) continue;
      bool enc = false;
      if (TRegisterQarno::ClassifySignature(GetLE32(list.Header(i), 0), hkCentral, enc) != hkCentral) ok = false;
      order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return list.Info(a).LocalOffset < list.Info(b).LocalOffset; });
    FSetSize = 4 + (order.empty() ? 0 : BytesToWrite(list.Info(order[0]).LocalOffset));
    FSetWritten = 0;
    FOverwrittenDisk = 0;
    ok = ok && !Cancelled() && FirstDisk();
    const int64_t sourceSize = SourceStream->Size();
    const auto entries = static_cast<int64_t>(order.size());
    Owner->BytesLeft = list.Count() + 1;
    // The set is marked as spanned when the temporary archive and the reserve do not fit on the
    // first disk.
    if (ok && !order.empty() && sourceSize + kDiskReserve > FreeSpace()) {
      uint8_t marker[4];
      PutLE32(marker, 0, kDataDescriptorSignature);  // "PK" 7 8: the archive begins a spanned set
      ok = WriteSpanned(*DiskFile, marker, 4);
    }
    for (size_t k = 0; ok && k < order.size(); ++k) {
      if (Cancelled()) {
        ok = false;
        break;
      }
      const int32_t i = order[k];
      TCompFileInfo& info = list.Info(i);
      const int64_t start = info.LocalOffset;
      const int64_t end = k + 1 < order.size() ? list.Info(order[k + 1]).LocalOffset : sourceSize;
      if (start < 0 || end > sourceSize || end - start < 30) {
        ok = false;
        break;
      }
      SourceStream->Seek(start, soBeginning);
      if (SourceStream->Read(Owner->LocalHeaderBuf.data(), 30) != 30) {
        ok = false;
        break;
      }
      bool enc = false;
      if (TRegisterQarno::ClassifySignature(GetLE32(Owner->LocalHeaderBuf, 0), hkLocal, enc) != hkLocal) {
        ok = false;
        break;
      }
      Owner->FCurrentFileName = list.Name(i);
      std::array<uint8_t, 30> plain = Owner->LocalHeaderBuf;
      if (enc) TRegisterQarno::DecipherHeader(plain, hkLocal);
      const int64_t headLen = 30 + GetLE16(plain, 26) + GetLE16(plain, 28);
      if (!KeepTogether(std::min(headLen, end - start))) {
        ok = false;
        break;
      }
      // The entry is found on the disk it begins on, at its place in that disk's file.
      PutLE16(info.RawHeader, 34, static_cast<uint16_t>(DiskNumber - 1));
      PutLE32(info.RawHeader, 42, static_cast<uint32_t>(FWrittenHere));
      info.LocalOffset = FWrittenHere;
      SourceStream->Seek(start, soBeginning);
      if (!CopyToDisk(30)) {
        ok = false;
        break;
      }
      Owner->BytesLeft = entries - static_cast<int64_t>(k + 1);
      Owner->DoProgress(entries, entries, static_cast<int64_t>(k + 1));
      if (!CopyToDisk(end - start - 30)) {
        ok = false;
        break;
      }
      platform::ProcessMessages();
    }
    if (ok && Cancelled()) ok = false;
    ok = ok && WriteDirectory();
    ok = ok && CloseDiskFile();
  } catch (const std::exception& e) {
    Report(e.what(), std::to_string(DiskNumber), E_WRITE_ERROR);
    ok = false;
  }
  if (!ok && DiskFile) {
    // The piece on the disk in the drive belongs to this run and ends nowhere: it must not
    // pass for a backup. An old archive it was written beside stays.
    DiskFile.reset();
    platform::DeleteFile(FPieceName);
  }
  DiskFile.reset();
  if (!ok && FOverwrittenDisk > 0) {
    const std::string disk = std::to_string(FOverwrittenDisk);
    Report("the old set was overwritten on disk " + disk + " and the new set is incomplete", disk, E_WRITE_ERROR);
  }
  return ok;
}

bool TDiskSpanObj::WriteDirectory() {
  Owner->SpanObject = this;
  struct Unhook {
    TZipBase* owner;
    ~Unhook() { owner->SpanObject = nullptr; }
  } unhook{Owner};
  if (!Owner->WriteCentralHeaders(*DiskFile, *HeaderList) || Cancelled()) return false;
  if (Owner->IsLargeArchive)
    return WriteSpanned(*DiskFile, Owner->LargeEndRecordBuf.data(), static_cast<int64_t>(Owner->LargeEndRecordBuf.size()));
  return WriteSpanned(*DiskFile, Owner->EndRecordBuf.data(), static_cast<int64_t>(Owner->EndRecordBuf.size()));
}

int64_t TDiskSpanObj::BytesToWrite(int64_t Position) const {
  // The end record counted at its larger size: the directory may land past 4 GiB on its disk.
  int64_t total = SourceStream->Size() - Position + static_cast<int64_t>(Owner->LargeEndRecordBuf.size());
  TCompHeaderList& list = *HeaderList;
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (list.Info(i).EntryAction != eaDrop) total += Owner->CentralEntrySize(list, i);
  }
  return total;
}

// --- copying ---------------------------------------------------------------------------------

bool TDiskSpanObj::CopyToDisk(int64_t n) {
  std::vector<uint8_t> block(static_cast<size_t>(std::clamp<int64_t>(n, 0, kCopyBlock)));
  while (n > 0) {
    if (Cancelled()) return false;
    const auto m = static_cast<int32_t>(std::min<int64_t>(n, kCopyBlock));
    SourceStream->ReadBuffer(block.data(), m);
    if (!WriteSpanned(*DiskFile, block.data(), m)) return false;
    n -= m;
  }
  return true;
}

bool TDiskSpanObj::WriteSpanned(TStream32& Stream, const uint8_t* Buffer, int64_t Count) {
  TStream32* target = &Stream;
  while (Count > 0) {
    const int64_t chunk = std::min<int64_t>(ChunkFor(Count), int64_t{1} << 30);
    if (chunk > 0) {
      const auto want = static_cast<int32_t>(chunk);
      const int32_t written = std::max(target->Write(Buffer, want), 0);
      Crc32Update(Buffer, static_cast<size_t>(written), FPieceCrc);
      FreeSpace() -= written;
      FWrittenHere += written;
      FSetWritten += written;
      Buffer += written;
      Count -= written;
      if (written < want) {
        // A disk may hold less than it said (clusters, other writers): the rest goes on the
        // next disk. Any other failure, or a disk that takes nothing at all, ends the write.
        if (!platform::LastErrorIsDiskFull()) {
          Report(Owner->CurrentFileName(), std::to_string(DiskNumber), E_WRITE_ERROR);
          return false;
        }
        if (FWrittenHere == 0) {
          Report(Owner->CurrentFileName(), std::to_string(DiskNumber), E_DISK_FULL);
          return false;
        }
        FreeSpace() = 0;
      }
    }
    if (Count > 0) {
      if (!NextDisk()) return false;
      target = DiskFile.get();
    }
  }
  return true;
}

bool TDiskSpanObj::KeepTogether(int64_t Count) {
  // A fresh disk takes what it can: a record larger than a disk's reserve is split after all.
  if (FreeSpace() >= Count || (DiskFile && FWrittenHere == 0)) return true;
  return NextDisk();
}

// --- disk changes ----------------------------------------------------------------------------

bool TDiskSpanObj::FirstDisk() {
  DiskNumber = 1;
  LastSerial = 0;
  FFilledDisks.clear();
  PutLE16(Owner->EndRecordBuf, 4, 0);
  Reserve = static_cast<uint32_t>(std::max(Owner->LeaveSpaceOnFirstDisk(), 0) + kDiskReserve);
  return PrepareDisk();
}

bool TDiskSpanObj::NextDisk() {
  if (!CloseDiskFile()) return false;
  ++DiskNumber;
  PutLE16(Owner->EndRecordBuf, 4, static_cast<uint16_t>(GetLE16(Owner->EndRecordBuf, 4) + 1));
  Reserve = static_cast<uint32_t>(kDiskReserve);
  return PrepareDisk();
}

bool TDiskSpanObj::CloseDiskFile() {
  if (!DiskFile) return true;
  // The user takes the disk out next: its piece must be on it, not in the page cache.
  const bool flushed = platform::FlushFile(DiskFile->Handle()) && DiskFile->Close();
  DiskFile.reset();
  if (!FFilledDisks.empty()) {
    FFilledDisks.back().PieceSize = FWrittenHere;
    FFilledDisks.back().PieceCrc = ~FPieceCrc;
  }
  if (flushed && (!FReplacesOld || ReplaceOldArchive())) return true;
  if (!flushed) Report(Owner->CurrentFileName(), std::to_string(DiskNumber), E_WRITE_ERROR);
  platform::DeleteFile(FPieceName);
  return false;
}

bool TDiskSpanObj::ReplaceOldArchive() {
  const std::string name = ArchiveName();
  // The piece takes the old one's permissions before that goes; a piece that cannot is still
  // put in place, and that is reported.
  const bool moded = platform::SetPublishedMode(FPieceName, name);
  const int modeError = platform::LastError();
  // The old archive goes where DeleteOptions sends it; when it cannot, the rename replaces it.
  DeleteArchiveFile(name, Owner->DeleteOptions());
  const bool renamed = platform::RenameFile(FPieceName, name);
  if ((renamed || !platform::FileExists(name)) && FOverwrittenDisk == 0) FOverwrittenDisk = DiskNumber;
  if (!renamed) {
    Report("", std::to_string(DiskNumber), E_WRITE_ERROR);
    return false;
  }
  if (!moded) Report(ModeNotSetMessage(modeError), std::to_string(DiskNumber), E_WRITE_ERROR);
  FPieceName = name;
  FReplacesOld = false;
  return true;
}

bool TDiskSpanObj::PrepareDisk() {
  const std::string volume = std::to_string(DiskNumber);
  if (!OnInsertDisk) {
    Report("OnInsertDisk", volume, E_EVENT_NOT_ASSIGNED);
    return false;
  }
  // The first disk may already be in the drive; it is taken without asking when it can hold
  // the reserve and carries no archive of this name.
  if (DiskNumber == 1 && CheckDiskQuietly() && !platform::FileExists(ArchiveName()) &&
      static_cast<int64_t>(Reserve) <= FreeSpace()) {
    if (OpenDiskFile()) return true;
  }
  int32_t requests = 0;
  for (;;) {
    if (++requests > kMaxDiskRequests) {
      if (FReportError) FReportError(DiskServices->Drive, "0", volume, E_NOT_ACCESSIBLE);
      return false;
    }
    FReplacesOld = false;
    bool cancel = true;
    OnInsertDisk(this, volume, cancel);
    if (cancel || Cancelled()) return false;
    if (!CheckDisk()) continue;
    // A disk filled in this run is refused before its piece can be offered for overwriting.
    if (FilledInThisRun()) continue;
    bool usable = true;
    if (!HandleExistingFile(usable)) return false;
    if (!usable) continue;
    // A disk that keeps an old archive until the new piece is complete has room already:
    // offering it for clearing could only cost the user that archive.
    if (!FReplacesOld && FreeSpace() < DiskServices->TotalSpace && !ClearDisk(requests)) return false;
    if (static_cast<int64_t>(Reserve) > FreeSpace()) continue;
    break;
  }
  return OpenDiskFile();
}

bool TDiskSpanObj::InsertDiskOfOldSet(int32_t Number) {
  const std::string volume = std::to_string(Number);
  if (!OnInsertDisk) {
    Report("OnInsertDisk", volume, E_EVENT_NOT_ASSIGNED);
    return false;
  }
  for (int32_t requests = 1;; ++requests) {
    if (requests > kMaxDiskRequests) {
      if (FReportError) FReportError(DiskServices->Drive, "0", volume, E_NOT_ACCESSIBLE);
      return false;
    }
    bool cancel = true;
    OnInsertDisk(this, volume, cancel);
    if (cancel && !Cancelled()) Owner->SetCancel(true);
    if (Cancelled()) return false;
    if (DiskServices->CheckDiskOfPath(ArchiveName(), nullptr, nullptr, FReportError, FRaiseError, false) &&
        DiskServices->SpanVolumeNumber == Number && platform::FileExists(ArchiveName()))
      return true;
  }
}

bool TDiskSpanObj::FilledInThisRun() {
  const uint32_t serial = DiskServices->SerialNumber;
  for (const TFilledDisk& f : FFilledDisks)
    if (serial != 0 && f.Serial == serial && f.Label == DiskServices->VolumeLabel) return true;
  const auto found = platform::StatPath(ArchiveName());
  if (!found) return false;
  // The file is read once, and only when it has the size of a piece of this run.
  bool read = false;
  std::optional<uint32_t> crc;
  for (const TFilledDisk& f : FFilledDisks) {
    if (f.PieceSize != found->size) continue;
    if (!read) crc = CrcOfFile(ArchiveName(), found->size);
    read = true;
    // A piece of that size that cannot be read counts as this run's: asking again costs a
    // question, taking the disk could cost the set.
    if (!crc || *crc == f.PieceCrc) return true;
  }
  return false;
}

bool TDiskSpanObj::HandleExistingFile(bool& Usable) {
  const std::string name = ArchiveName();
  if (!platform::FileExists(name)) return true;
  FileExistsMode = omOverwrite;
  if (!OnDiskSpanFileExists) {
    // Nobody can be asked: the archive on the disk stays as it is.
    Report("OnFileExists", std::to_string(DiskNumber), E_EVENT_NOT_ASSIGNED);
    return false;
  }
  TDateTime date = 0;
  if (auto st = platform::StatPath(name)) date = DosDateTimeToDateTime(platform::UnixTimeToLocalDosTime(st->mtime));
  Owner->Timer.Pause();
  OnDiskSpanFileExists(Owner, name, date, FileExistsMode);
  Owner->Timer.Resume();
  if (FileExistsMode == omSkip) Owner->SetCancel(true);
  if (Cancelled()) return false;
  // With room for the rest of the set beside it, the old archive stays until the new piece is
  // complete.
  if (FreeSpace() - static_cast<int64_t>(Reserve) >= FSetSize - FSetWritten) {
    FReplacesOld = true;
    return true;
  }
  // Removable disks have no Trash of their own: when the user's Trash cannot take the file,
  // it is replaced for good, as the answer said.
  if (!DeleteArchiveFile(name, Owner->DeleteOptions()) && platform::FileExists(name) && !platform::DeleteFile(name)) {
    Usable = false;
    return true;
  }
  if (FOverwrittenDisk == 0) FOverwrittenDisk = DiskNumber;
  Usable = CheckDisk();
  return true;
}

bool TDiskSpanObj::ClearDisk(int32_t& Requests) {
  if (OnClearDisk) {
    for (;;) {
      bool cancel = true;
      OnClearDisk(this, DiskServices->Drive, Reserve, FreeSpace(), DiskServices->TotalSpace, cancel);
      if (cancel || Cancelled()) return false;
      if (CheckDisk() && FreeSpace() > static_cast<int64_t>(Reserve)) return true;
      if (++Requests > kMaxDiskRequests) {
        if (FReportError) FReportError(DiskServices->Drive, "0", std::to_string(DiskNumber), E_NOT_ACCESSIBLE);
        return false;
      }
    }
  }
  if (DiskServices->CheckDiskOfPath(ArchiveName(), Owner->OnDiskInDrvErr, Owner->OnDiskWriteProtectErr, FReportError,
                                    FRaiseError) &&
      FreeSpace() > static_cast<int64_t>(Reserve))
    return true;
  Report("OnClearDisk", std::to_string(DiskNumber), E_EVENT_NOT_ASSIGNED);
  return false;
}

bool TDiskSpanObj::OpenDiskFile() {
  const std::string name = ArchiveName();
  try {
    // A fresh disk lacks the folder the archive lies in on the first one.
    const std::string folder = FolderPart(name);
    if (!folder.empty() && !DirExists(folder)) ForceDirectories(folder);
    FPieceName = FReplacesOld ? platform::MakeTempFile(folder.empty() ? "." : folder, "qrn") : name;
    auto file = std::make_unique<TFileStream32>(FPieceName, platform::kModeCreate);
    if (FPieceName.empty() || file->Handle() < 0) {
      Report("", std::to_string(DiskNumber), E_OPEN_ERROR);
      if (FReplacesOld && !FPieceName.empty()) platform::DeleteFile(FPieceName);
      return false;
    }
    DiskFile = std::move(file);
    FWrittenHere = 0;
    WriteLabel();
    if (!CheckDisk()) {
      DiskFile.reset();
      platform::DeleteFile(FPieceName);
      return false;
    }
    if (DiskNumber == 1) FreeSpace() -= std::max(Owner->LeaveSpaceOnFirstDisk(), 0);
    LastSerial = DiskServices->SerialNumber;
    FFilledDisks.push_back({LastSerial, DiskServices->VolumeLabel});
    FPieceCrc = 0xFFFFFFFFu;
    return true;
  } catch (...) {
    if (DiskFile) {
      DiskFile.reset();
      platform::DeleteFile(FPieceName);
    }
    return false;
  }
}

void TDiskSpanObj::WriteLabel() {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.3d", DiskNumber);
  SetLabel(std::string(kLabelPrefix) + digits);
}

void TDiskSpanObj::SetLabel(const std::string& Label) {
  if (VolumeInfo && VolumeInfo->VolumeLabel == Label) return;
  if (!::SetVolumeLabel(DiskServices->Drive, Label)) Report("", Label, E_SPAN_LABEL_ERROR);
}

// --- an earlier set on the disk in the drive -------------------------------------------------

bool TZipBase::TakeOverSpannedSet() {
  constexpr THeaderTypeState kWholeDirectory = hfCentral | hfEnd;
  if ((DirectoryFlags & kWholeDirectory) == kWholeDirectory && EndRecordDisk == 0) {
    // A set that fits on one disk is a whole archive, its "PK" 7 8 marker aside: it is updated
    // as any other (a spanned run asks before it replaces the file).
    if (FArcType == atZipDS) FArcType = atZip;
    return false;
  }
  // One disk of a larger set (or one whose directory cannot be found): its entries lie on the
  // other disks, which only a run that spans too can ask for, from a disk that a spanned run
  // labelled.
  return ArchiveOnRemovableDrive() && OnInsertDisk && DiskManager && DiskManager->SpanVolumeNumber > 0 &&
         (FSwitch == swAdd || FSwitch == swMove);
}

bool TZipBase::LastPieceOfSet(TStream32& Piece, int32_t Number) {
  // The set's end record stands at the very end of its last disk and names that disk; one
  // inside an entry's data (a zip that was backed up) names no disk of this set, or does not
  // end its piece.
  FindZipDirectory(Piece);
  return (DirectoryFlags & hfEnd) != 0 && EndRecordDisk == static_cast<uint32_t>(Number - 1) &&
         CommentPos + CommentLength == Piece.Size();
}

std::unique_ptr<TStream32> TZipBase::CopyOfPiece(TStream32& Piece) {
  auto copy = std::make_unique<TTempFileStream>(this, platform::kModeCreate, ArchiveFile(), GetTempDir());
  if (copy->Handle() < 0) RaiseError(Throw_EFOpenError, GetTempDir(), "", "0", E_OPEN_ERROR);
  copy->Mode = 0;  // discarded with the stream
  copy->CancelFlag = CancelRef;
  Piece.SetPosition(0);
  const int64_t size = Piece.Size();
  if (size > 0 && copy->CopyFrom(&Piece, size) != size) RaiseError(Throw_E_RAISE, ArchiveFile(), "", "0", E_READ_ERROR);
  return copy;
}

bool TZipBase::OpenSpannedSet(std::unique_ptr<TStream32>& Old) {
  // Each disk's piece is copied into TempDir while its disk is in the drive: a removable disk
  // is not held open while another one goes in, and the new set is written onto these same
  // disks once its temporary archive holds every kept entry.
  TDiskSpanObj disks(this, CancelRef, nullptr, DiskManager.get(), nullptr);
  disks.OnInsertDisk = OnInsertDisk;
  const int32_t inDrive = DiskManager->SpanVolumeNumber;
  std::map<int32_t, std::unique_ptr<TStream32>> pieces;
  pieces[inDrive] = CopyOfPiece(*Old);
  Old.reset();
  int32_t last = LastPieceOfSet(*pieces[inDrive], inDrive) ? inDrive : 0;
  for (int32_t n = 1; last == 0 || n <= last; ++n) {
    if (n > 0xFFFF) RaiseError(Throw_E_RAISE, ArchiveFile(), "", std::to_string(n), E_BAD_FILE_HEADER);
    if (pieces.count(n) == 0) {
      if (!disks.InsertDiskOfOldSet(n)) return false;
      TTempFileStream piece(this, platform::kModeReadDenyWrite, ArchiveFile(), "");
      if (piece.Handle() < 0) {
        ReportError(ArchiveFile(), "", std::to_string(n), E_OPEN_ERROR);
        return false;
      }
      pieces[n] = CopyOfPiece(piece);
    }
    if (last == 0 && LastPieceOfSet(*pieces[n], n)) last = n;
  }
  // The state of detection is the last disk's, as for the last volume of a split set.
  DetectArcType(pieces[last].get());
  std::vector<std::unique_ptr<TStream32>> volumes;
  for (int32_t n = 1; n <= last; ++n) volumes.push_back(std::move(pieces[n]));
  ReadAsOneSet(Old, std::move(volumes));
  return true;
}
