#pragma once
// The reader's helper for zip archives spanned over removable disks or split into volumes: it
// asks for the last, first and next disk through the owner's events and opens the archive on
// the disk in the drive.
#include <cstdint>
#include <memory>
#include <string>

#include "archive/qrnFileIo.h"
#include "archive/qrnGbls.h"

class TStream32;
class TZipCommon;

class TDiskSpannObj : public TDiskCommon {
 public:
  TZipCommon* Owner = nullptr;
  // 0 while the last disk is wanted, 1 the first, 2 and up the number of the disk asked for.
  uint16_t DiskState = 0;
  // The position the wanted disk must hold a header at (the next entry's local header); set
  // by the reader before it asks for a disk.
  int64_t EntryPosition = 0;

  // Stores the owner and its handlers; the owner's cancel reference is pointed at CancelFlag.
  void InitSpan(TZipCommon* AOwner, bool* CancelFlag, const TOnDiskError& OnDiskInDrvErr,
                const TOnDiskError& OnDiskWriteProtectErr, const TReportErrorProc& ReportError,
                const TRaiseErrorProc& RaiseError);
  // Frees Stream, asks for the disk DiskState wants and opens the owner's ArchiveFile on it.
  // False (the run cancelled) when the event is missing or refused, or the file cannot be
  // opened.
  bool OpenNextVolume(std::unique_ptr<TStream32>& Stream);
  // Whether the disk now in the drive holds the data at Position.
  bool CheckDisk(int64_t Position);

 private:
  void Report(const std::string& ExtendedMsg, const std::string& VolumeID, int32_t Code);
  bool AskLastDisk();
  std::string FArchiveName;  // kept: a missing file empties the owner's ArchiveFile
};
