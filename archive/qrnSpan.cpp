#include "archive/qrnSpan.h"

#include "archive/qrnBase.h"
#include "archive/qrnStreams.h"
#include "archive/qrnZipRecords.h"
#include "platform/files.h"


void TDiskSpannObj::InitSpan(TZipCommon* AOwner, bool* CancelFlag, const TOnDiskError& OnDiskInDrvErr,
                             const TOnDiskError& OnDiskWriteProtectErr, const TReportErrorProc& ReportError,
                             const TRaiseErrorProc& RaiseError) {
  Owner = AOwner;
  FOnDiskInDrvErr = OnDiskInDrvErr;
  FOnDiskWriteProtectErr = OnDiskWriteProtectErr;
  FReportError = ReportError;
  FRaiseError = RaiseError;
  DiskState = 0;
  FArchiveName = Owner ? Owner->ArchiveFile() : std::string();
  if (Owner && CancelFlag) Owner->CancelRef = CancelFlag;
}

void TDiskSpannObj::Report(const std::string& ExtendedMsg, const std::string& VolumeID, int32_t Code) {
  if (FReportError) FReportError(FArchiveName, ExtendedMsg, VolumeID, Code);
}

bool TDiskSpannObj::AskLastDisk() {
  auto detect = [this] {
    Owner->FArcType = atNA;
    Owner->DirectoryFlags = 0;
    Owner->SetArchiveFile(FArchiveName);
    return (Owner->DirectoryFlags & hfEnd) != 0;
  };
  for (int32_t requests = 1; !detect(); ++requests) {
    if (requests > kMaxDiskRequests) {
      Report("0", "0", E_NOT_ACCESSIBLE);
      return false;
    }
    bool cancel = true;
    Owner->OnGetZipLastDisk(this, cancel);
    if (cancel) return false;
  }
  if (!IsKnownArcType(Owner->ArcType())) return false;
  DiskState = 1;
  return true;
}

bool TDiskSpannObj::OpenNextVolume(std::unique_ptr<TStream32>& Stream) {
  Stream.reset();
  if (!Owner) return false;
  if (!Owner->ArchiveFile().empty()) FArchiveName = Owner->ArchiveFile();
  const char* event = DiskState == 0 ? "OnGetZipLastDisk" : DiskState == 1 ? "OnGetZipFirstDisk" : "OnGetZipNextDisk";
  const bool assigned = DiskState == 0   ? static_cast<bool>(Owner->OnGetZipLastDisk)
                        : DiskState == 1 ? static_cast<bool>(Owner->OnGetZipFirstDisk)
                                         : static_cast<bool>(Owner->OnGetZipNextDisk);
  bool ok = false;
  if (!assigned) {
    Report(event, std::to_string(DiskState), E_EVENT_NOT_ASSIGNED);
  } else if (DiskState == 0) {
    ok = AskLastDisk();
  } else {
    // The disk in the drive is the one read last: the user is asked before each test.
    for (int32_t requests = 1;; ++requests) {
      if (requests > kMaxDiskRequests) {
        Report("0", std::to_string(DiskState), E_NOT_ACCESSIBLE);
        break;
      }
      bool cancel = true;
      if (DiskState == 1) Owner->OnGetZipFirstDisk(this, cancel);
      else Owner->OnGetZipNextDisk(this, std::to_string(DiskState), cancel);
      if (cancel) break;
      if (CheckDisk(EntryPosition)) {
        ok = true;
        ++DiskState;
        break;
      }
    }
  }
  if (!ok) {
    *Owner->CancelRef = true;  // refused: the run ends without a further report
    return false;
  }
  auto file = std::make_unique<TFileStream32>(FArchiveName, platform::kModeReadDenyWrite);
  if (file->Handle() < 0) {
    Report("", "0", E_OPEN_ERROR);
    return false;
  }
  Owner->VolumeSize = file->Size();
  Stream = std::move(file);
  return true;
}

bool TDiskSpannObj::CheckDisk(int64_t Position) {
  if (!Owner || !Owner->DiskManager) return false;
  TDiskManager& disks = *Owner->DiskManager;
  auto request = [&] {
    return disks.CheckDiskOfPath(FArchiveName, FOnDiskInDrvErr, FOnDiskWriteProtectErr, FReportError, FRaiseError,
                                 false);
  };
  if (!request()) return false;
  TFileStream32 file(FArchiveName, platform::kModeReadDenyWrite);
  if (file.Handle() < 0) {
    Report("", "0", E_OPEN_ERROR);
    return false;
  }
  const TArcType kind = Owner->ArcType();
  // A disk labelled with its number is told by the label: what stands at Position may be the
  // middle of a member or of the directory, and a header there on another disk proves nothing.
  if (kind == atZipDS && disks.SpanVolumeNumber != 0) return disks.SpanVolumeNumber == DiskState;
  if (Position < 0 || file.Size() < Position + 30) {
    if (kind == atZipDS) return request() && disks.SpanVolumeNumber == DiskState;
    return kind == atZipMV;
  }
  uint8_t sig[4] = {};
  file.Seek(Position, soBeginning);
  if (file.Read(sig, 4) != 4) return false;
  const uint32_t v = static_cast<uint32_t>(sig[0]) | static_cast<uint32_t>(sig[1]) << 8 |
                     static_cast<uint32_t>(sig[2]) << 16 | static_cast<uint32_t>(sig[3]) << 24;
  return v == kLocalHeaderSignature || v == kCentralHeaderSignature || v == kDataDescriptorSignature;
}
