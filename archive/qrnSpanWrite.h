#pragma once
// The spanned-disk writer: when the archive's folder lies on a removable drive, the finished
// temporary archive (entries only) is copied entry by entry onto as many disks as that drive
// needs. Every disk is asked for through OnInsertDisk, labelled "PKBACK# nnn", and each
// entry's central header gets the disk and the offset its local header landed on; the central
// directory and the end record go onto the last disk. A disk is never cleared by the engine:
// a disk that is not empty is offered to OnClearDisk, and an archive of the same name on a disk
// is replaced only on OnDiskSpanFileExists' answer: when the disk has room for the rest of the
// set beside it, the new piece is written under a temporary name and takes the old one's place
// once it is complete; otherwise the old one goes on the answer, and a run that then fails says
// so.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/qrnFileIo.h"
#include "archive/qrnGbls.h"

class TCompHeaderList;
class TFileStream32;
class TStream32;
class TZipBase;

class TDiskSpanObj : public TDiskCommon {
 public:
  // Free bytes every disk must offer beyond LeaveSpaceOnFirstDisk.
  static constexpr int64_t kDiskReserve = 10000;

  // Stores the owner's parts and sets the temporary output's Mode to 0: the temporary archive
  // is discarded, never moved onto the archive's name.
  TDiskSpanObj(TZipBase* AOwner, bool* ACancelFlag, TCompHeaderList* AHeaderList, TDiskManager* ADiskServices,
               TStream32* ATemporaryOutput);
  ~TDiskSpanObj() override;
  TDiskSpanObj(const TDiskSpanObj&) = delete;
  TDiskSpanObj& operator=(const TDiskSpanObj&) = delete;

  // The whole spanned write; true when the end record was written on the last disk. On
  // failure the unfinished piece on the disk in the drive is removed again.
  bool SpanArchive();
  // Writes Count bytes of Buffer to Stream (the disk file in the drive), going on to the next
  // disks while they do not fit; false when a disk change or a write failed.
  bool WriteSpanned(TStream32& Stream, const uint8_t* Buffer, int64_t Count);
  // Makes sure Count bytes go onto the disk in the drive in one piece: asks for the next disk
  // first when fewer are free. Local and central headers and the end record are never split
  // across disks (readers of split sets cannot join a header from two volumes); only entry
  // data, names past a disk's reserve and the directory as a whole cross disks.
  bool KeepTogether(int64_t Count);
  // Asks through OnInsertDisk for disk Number of the set already on the disks, until the drive
  // holds it: its label carries that number and the archive is on it. It is only read, so a
  // write-protected disk will do. False when the request is refused (the run is cancelled) or
  // goes unanswered.
  bool InsertDiskOfOldSet(int32_t Number);
  // Writes the central directory and the end record (the large one when the directory begins
  // 4 GiB or more into its disk) from the disk file's end on; true when all of it was written.
  bool WriteDirectory();

  TZipBase* Owner;
  bool* CancelFlag;
  TCompHeaderList* HeaderList;
  TDiskManager* DiskServices;
  TVolumeInfo* VolumeInfo;
  TStream32* SourceStream;
  std::unique_ptr<TFileStream32> DiskFile;  // nullptr between disks
  int32_t DiskNumber = 0;                   // 1 for the first disk
  uint32_t Reserve = 0;
  uint32_t LastSerial = 0;
  TOverwriteMode FileExistsMode = omOverwrite;

  TOnClearDisk OnClearDisk;
  TOnInsertDisk OnInsertDisk;
  TOnFileExists OnDiskSpanFileExists;

 private:
  int64_t ChunkFor(int64_t n) const;
  bool CopyToDisk(int64_t n);
  bool FirstDisk();
  bool NextDisk();
  bool PrepareDisk();
  bool ClearDisk(int32_t& Requests);
  bool OpenDiskFile();
  void WriteLabel();
  void SetLabel(const std::string& Label);

  // The disk request of the drive with the owner's reports; no handlers (not-ready and
  // write-protected disks are reported, and the disk is asked for again).
  bool CheckDisk();
  // The same without any report: whether the disk in the drive can be taken as it is.
  bool CheckDiskQuietly();
  // Handles an archive of the same name on the disk in the drive. False ends the request.
  bool HandleExistingFile(bool& Usable);
  // Closes the disk file after flushing it to the disk, and puts a piece written beside an old
  // archive in that one's place; false (reported) when that fails.
  bool CloseDiskFile();
  bool ReplaceOldArchive();
  // Bytes of the archive still to write: the entries from Position on, the directory and the
  // end record.
  int64_t BytesToWrite(int64_t Position) const;
  bool Cancelled() const { return CancelFlag != nullptr && *CancelFlag; }
  void Report(const std::string& ExtendedMsg, const std::string& VolumeID, int32_t Code);
  std::string ArchiveName() const;

  int64_t& FreeSpace();
  // Bytes put on the disk in the drive during this run.
  int64_t FWrittenHere = 0;
  // The disks filled in this run, none of which is ever taken again: known by serial number
  // and label together, and, as many disks have no serial number and every set labels its
  // disks alike, by the piece of this run that one holds (its size and CRC-32).
  struct TFilledDisk {
    uint32_t Serial = 0;
    std::string Label;
    int64_t PieceSize = -1;  // -1 while the piece is written
    uint32_t PieceCrc = 0;
  };
  std::vector<TFilledDisk> FFilledDisks;
  uint32_t FPieceCrc = 0;  // CRC-32 register over the piece in the drive
  bool FilledInThisRun();
  // Bytes of the whole set (a spanning signature included) and those written so far.
  int64_t FSetSize = 0;
  int64_t FSetWritten = 0;
  // What the piece on the disk in the drive is written under: the archive's name, or a
  // temporary name beside an old archive that it replaces once complete (FReplacesOld).
  std::string FPieceName;
  bool FReplacesOld = false;
  // The first disk from which an old archive went before the new set was complete; 0: none.
  int32_t FOverwrittenDisk = 0;
};
