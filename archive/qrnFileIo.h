#pragma once
// Disk and volume services: before the engine writes or reads an archive it makes sure that the
// archive's volume answers, is not write-protected and can be queried, and records what it
// learned (label, serial number, file system, kind of drive, space) for the spanned-disk writer
// and reader and for archive-type detection.
//
// On Linux a "drive" text is the folder of the volume that holds a path: its mount point or the
// path of a simulated removable drive (platform/volumes.h). A network share is reached through
// its mount point like any volume; a path that starts with "//" is an ordinary path.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/qrnGbls.h"

// The block that the volume query fills.
struct TVolumeInfo {
  static constexpr size_t kTextMax = 256;  // the label and name buffers hold 256 bytes and a 0
  uint32_t SerialNumber = 0;
  uint32_t MaxComponentLength = 0;
  uint32_t FileSystemFlags = 0;
  std::string VolumeLabel;
  std::string FileSystemName;
};

// Display names by drive type (0-6) and by media type (7 3.5-inch, 8 5.25-inch floppy). Kept as
// UTF-8 like all internal text: "½" and "¼" are the bytes 0xBD and 0xBC of code page 1252.
inline constexpr std::array<std::string_view, 9> DriveKindNames = {
    "Unknown", "None", "Floppy", "Fixed", "Network", "CD-ROM", "RAM", "3\u00BD Floppy", "5\u00BC Floppy"};

// The number of a spanned disk from its label "PKBACK# nnn"; 0 when it carries none.
int32_t ParseSpanVolumeNumber(const std::string& Label);

// DOS date-time (date high word) in local time of an open file's creation (Kind 0), last-write
// (1) or last-access (2) time. Linux keeps no creation time that every file system offers, so
// Kind 0 answers the last-write time, as a copied file's creation time would be. 0 when the
// descriptor cannot be queried.
uint32_t FileTimeToDosTime(int FileHandle, int32_t Kind);

// Sets the label of the volume that holds Path: a simulated disk, or a real removable volume
// whose file system lets the kernel do it; false otherwise (the caller reports 25154).
bool SetVolumeLabel(const std::string& Path, const std::string& Label);

class TDiskCommon : public TObject {
 public:
  // A disk or volume asked for this many times without coming is reported as not accessible
  // (25170) and the request ends: a handler that neither cancels nor brings it must not keep
  // the run waiting for ever.
  static constexpr int32_t kMaxDiskRequests = 20;

  // The owner's error operations and its two disk handlers, stored by RequestDisk.
  TRaiseErrorProc FRaiseError;
  TReportErrorProc FReportError;
  TOnDiskError FOnDiskWriteProtectErr;
  TOnDiskError FOnDiskInDrvErr;
};

class TDiskManager : public TDiskCommon {
 public:
  // Filled by RequestDisk.
  uint32_t FileSystemFlags = 0;
  std::string DriveKindName;
  std::string SerialText;      // 8 upper-case hexadecimal digits
  uint32_t SerialNumber = 0;
  std::string FileSystemName;
  uint8_t MediaType = 0;
  uint16_t SpanVolumeNumber = 0;
  std::string VolumeLabel;
  std::string Drive;
  uint8_t DriveType = 0;
  int64_t FreeSpace = 0;
  int64_t TotalSpace = 0;
  TVolumeInfo VolumeInfo;
  uint32_t MaxComponentLength = 0;

  // Takes the drive of Path (the current directory's for a bare name), then RequestDisk.
  bool CheckDiskOfPath(const std::string& Path, const TOnDiskError& NotReadyHandler,
                       const TOnDiskError& WriteProtectHandler, const TReportErrorProc& ReportError,
                       const TRaiseErrorProc& RaiseError, bool ForWriting = true);
  // True when the drive is usable; the fields are then current. A disk that is only read
  // (ForWriting false) may be write-protected: a backup disk often is, and a CD always.
  bool RequestDisk(const std::string& ADrive, const TOnDiskError& NotReadyHandler,
                   const TOnDiskError& WriteProtectHandler, const TReportErrorProc& ReportError,
                   const TRaiseErrorProc& RaiseError, bool ForWriting = true);
  bool IsWriteProtected(const std::string& DriveLetter);
  bool DriveReady(const std::string& DriveLetter);
  // No BIOS disk service to ask on Linux: always 0 ("Unknown").
  uint8_t GetMediaType(const std::string& ADrive);
  void GetDiskSpace(const std::string& ADrive);
  uint8_t GetDriveKind(const std::string& Path);
  bool ReadVolumeInfo(const std::string& Path);
  // The Retry/Cancel box for a volume that cannot be read; true on Retry.
  bool AskRetry(const std::string& ADrive);
  static bool IsDigits(const std::string& Text);

 private:
  int FLastError = 0;  // errno of the last failed volume query, for AskRetry's text
};
