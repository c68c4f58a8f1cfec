#include "archive/qrnFileIo.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/hooks.h"
#include "platform/volumes.h"

namespace {

constexpr int32_t kNotAccessible = 25170;
constexpr int32_t kWriteProtected = 25171;
constexpr int32_t kUserCanceled = 25443;
// The text of message 25170. The message table lives in qrnBase, which includes this unit, so
// the one text AskRetry needs is kept here; it must stay equal to the table's entry.
constexpr const char* kNotAccessibleText = "is not accessible";
constexpr const char* kSpanLabelPrefix = "PKBACK# ";

}  // namespace

int32_t ParseSpanVolumeNumber(const std::string& Label) {
  size_t at = Label.rfind(kSpanLabelPrefix);
  if (at == std::string::npos) return 0;
  std::string tail = Label.substr(at + std::strlen(kSpanLabelPrefix));
  // An empty tail is "digits" to IsDigits but no number: the label carries no disk number. A
  // number too large for a disk is none either; neither may make the disk request fail.
  if (tail.empty() || !TDiskManager::IsDigits(tail)) return 0;
  int64_t value = 0;
  for (char c : tail) {
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(value);
}

uint32_t FileTimeToDosTime(int FileHandle, int32_t Kind) {
  struct stat st;
  if (FileHandle < 0 || ::fstat(FileHandle, &st) != 0) return 0;
  int64_t seconds = Kind == 2 ? static_cast<int64_t>(st.st_atim.tv_sec) : static_cast<int64_t>(st.st_mtim.tv_sec);
  return platform::UnixTimeToLocalDosTime(seconds);
}

bool SetVolumeLabel(const std::string& Path, const std::string& Label) { return platform::SetVolumeLabel(Path, Label); }

bool TDiskManager::IsDigits(const std::string& Text) {
  for (char c : Text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool TDiskManager::CheckDiskOfPath(const std::string& Path, const TOnDiskError& NotReadyHandler,
                                   const TOnDiskError& WriteProtectHandler, const TReportErrorProc& ReportError,
                                   const TRaiseErrorProc& RaiseError, bool ForWriting) {
  // A name without a folder lies in the current directory.
  std::string path = Path.find('/') == std::string::npos ? platform::AbsolutePath(".") : Path;
  return RequestDisk(platform::VolumeRoot(path), NotReadyHandler, WriteProtectHandler, ReportError, RaiseError,
                     ForWriting);
}

bool TDiskManager::RequestDisk(const std::string& ADrive, const TOnDiskError& NotReadyHandler,
                               const TOnDiskError& WriteProtectHandler, const TReportErrorProc& ReportError,
                               const TRaiseErrorProc& RaiseError, bool ForWriting) {
  Drive = ADrive;
  FOnDiskInDrvErr = NotReadyHandler;
  FOnDiskWriteProtectErr = WriteProtectHandler;
  FReportError = ReportError;
  FRaiseError = RaiseError;
  auto report = [this](int32_t code) {
    if (FReportError) FReportError(Drive, "0", "0", code);
    return false;
  };
  int32_t requests = 0;
  try {
    while (!DriveReady(Drive)) {
      if (!FOnDiskInDrvErr || ++requests > kMaxDiskRequests) return report(kNotAccessible);
      bool abort = true;
      FOnDiskInDrvErr(this, abort);
      if (abort) return report(kUserCanceled);
    }
    while (ForWriting && IsWriteProtected(Drive)) {
      if (!FOnDiskWriteProtectErr) return report(kWriteProtected);
      if (++requests > kMaxDiskRequests) return report(kNotAccessible);
      bool abort = true;
      FOnDiskWriteProtectErr(this, abort);
      if (abort) return report(kUserCanceled);
    }
    while (!ReadVolumeInfo(Drive)) {
      if (++requests > kMaxDiskRequests || !AskRetry(Drive)) return report(kNotAccessible);
    }
    VolumeLabel = VolumeInfo.VolumeLabel;
    SpanVolumeNumber = static_cast<uint16_t>(ParseSpanVolumeNumber(VolumeLabel));
    SerialNumber = VolumeInfo.SerialNumber;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(SerialNumber));
    SerialText = hex;
    MaxComponentLength = VolumeInfo.MaxComponentLength;
    FileSystemName = VolumeInfo.FileSystemName;

    DriveType = GetDriveKind(Drive);
    if (DriveType == platform::kDriveNoRootDir) return report(kNotAccessible);

    GetDiskSpace(Drive);
    MediaType = 0;
    DriveKindName = DriveKindNames[0];
    if (DriveType == platform::kDriveRemovable) {
      MediaType = GetMediaType(Drive);
      if (MediaType < DriveKindNames.size()) DriveKindName = DriveKindNames[MediaType];
    } else if (DriveType < DriveKindNames.size()) {
      DriveKindName = DriveKindNames[DriveType];
    }
    FileSystemFlags = VolumeInfo.FileSystemFlags;
    return true;
  } catch (...) {
    return false;  // a handler's or the system's exception ends the request without a report
  }
}

bool TDiskManager::IsWriteProtected(const std::string& DriveLetter) {
  return platform::VolumeWriteProtected(DriveLetter);
}

bool TDiskManager::DriveReady(const std::string& DriveLetter) {
  return !DriveLetter.empty() && platform::VolumeReady(DriveLetter);
}

uint8_t TDiskManager::GetMediaType(const std::string& /*ADrive*/) { return 0; }

void TDiskManager::GetDiskSpace(const std::string& ADrive) {
  // Every volume is read, network mounts too, so the fields never keep the figures of the
  // previous volume.
  platform::VolumeSpace(ADrive, FreeSpace, TotalSpace);
}

uint8_t TDiskManager::GetDriveKind(const std::string& Path) {
  if (Path.empty()) return platform::kDriveNoRootDir;
  return platform::VolumeDriveType(Path);
}

bool TDiskManager::ReadVolumeInfo(const std::string& Path) {
  if (Path.empty()) {
    FLastError = ENOENT;
    return false;
  }
  auto info = platform::QueryVolume(Path);
  if (!info) {
    FLastError = errno;
    return false;
  }
  VolumeInfo.SerialNumber = info->serial;
  VolumeInfo.MaxComponentLength = info->maxNameLength;
  VolumeInfo.FileSystemFlags = info->fsFlags;
  VolumeInfo.VolumeLabel = info->label.substr(0, TVolumeInfo::kTextMax);
  VolumeInfo.FileSystemName = info->fsType.substr(0, TVolumeInfo::kTextMax);
  return true;
}

bool TDiskManager::AskRetry(const std::string& ADrive) {
  // Paths are case-sensitive here: the root is shown as it is, not upper-cased.
  std::string root = ADrive;
  if (root.empty() || root.back() != '/') root += '/';
  std::string text = root + kNotAccessibleText + "\r\n\r\n" + std::strerror(FLastError);
  return platform::MessageBox(text, platform::ApplicationTitle(), platform::MB_RETRYCANCEL | platform::MB_ICONERROR) ==
         platform::IDRETRY;
}
