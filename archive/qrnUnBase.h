#pragma once
// The format-independent reader: the run frame of one extraction (Extract), the opening of the
// archive, and the per-entry steps around a decoder (begin step with renaming and the overwrite
// rules, creation of the output file, the password procedure, the end step with date and
// attributes, the CRC verdict), the progress of skipped entries and the entry filter. The
// format's driver is ExtractArchive, which TUnZip (qrnUnZip) overrides.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "archive/qrnBase.h"
#include "archive/qrnGbls.h"
#include "archive/qrnStreams.h"

// The entry in work, as the driver fills it from the local or the central header.
struct TUnEntry {
  uint16_t Flags = 0;  // general-purpose flags
  uint32_t Method = 0;
  int64_t PackedSize = 0;
  int64_t UnpackedSize = 0;
  uint32_t Crc = 0;          // the CRC the verdict compares with
  uint32_t DosDateTime = 0;  // the local header's
  // The permission bits (rwx of owner, group and others) a Unix host recorded for a regular
  // file; -1 when the entry carries none, and the file then gets the mode a new file gets.
  int32_t Permissions = -1;
  bool Encrypted() const { return (Flags & 0x0001) != 0; }
};

class TUnBase : public TZipCommon {
 public:
  TUnBase();
  ~TUnBase() override;

  // Extracts the entries of ArchiveFile that FileSpec selects; returns the files that got an
  // output file (entries whose verdict failed included, folders not); 0 when the archive
  // cannot be opened. FilesFailed() tells how many of the selected entries did not come out
  // intact.
  int32_t Extract();

  // --- virtual operations, in slot order ---
  // The format driver. Archive is replaced when the driver changes volume; Output is the slot
  // of the stream outputs, unused for output to files.
  virtual void ExtractArchive(std::unique_ptr<TStream32>& Archive, TStream32*& Output);
  // The verdict on the running CRC (Kind 16: CRC-16, else CRC-32), reported to OnEnd or, when
  // failed and no OnEnd, as 25151.
  virtual bool CheckCrc(uint8_t Kind, uint32_t StoredCrc);
  // Buffer: 24 bytes, 12 to decipher into and then the 12 raw bytes of the encryption header.
  virtual bool CheckPassword(uint8_t* Buffer);

  void SetArchiveFile(const std::string& Value) override;

  // --- per-entry steps for the driver, in the order it calls them ---
  // Whether the entry is written; settles CurrentFileName (rename, overwrite rules).
  bool BeginFile(bool IsFolder);
  // The password procedure for an encrypted entry; Archive stands at its encryption header.
  bool AskPassword(TStream32& Archive);
  // Creates the output for file Name (and its folder): a new file beside Name, which takes
  // Name's place when the entry passes its verdict (CheckCrc) and is removed otherwise.
  bool OpenOutput(std::unique_ptr<TStream32>& Output, const std::string& Name, const std::string& StoredName);
  // Dates the finished output, closes it and gives it its attributes. An output whose close
  // fails, or that cannot take the permissions of the file it replaces, fails the entry (25138).
  void EndFile(std::unique_ptr<TStream32>& Output, const std::string& Name, uint32_t Attributes, uint32_t DosDateTime);
  // Progress for an entry that is not decoded.
  void AdvanceProgress(const TUnEntry& Record);
  // The reader's entry filter over a stored name (folders included, '/' separated).
  static bool MatchesEntrySpec(const std::string& Name, const TStrings& Specs, const TStrings& Excludes,
                               bool Recurse);
  // Folder part of a path without its final separator ("" for a name without folder).
  static std::string PathDirPart(const std::string& Path);

  // --- published properties ---
  TCpuType CpuType() const { return FCpuType; }
  void SetCpuType(TCpuType v) { FCpuType = v; }
  bool CreateStoredDirs() const { return FCreateStoredDirs; }
  void SetCreateStoredDirs(bool v) { FCreateStoredDirs = v; }
  bool RestoreFileAttr() const { return FRestoreFileAttr; }
  void SetRestoreFileAttr(bool v) { FRestoreFileAttr = v; }

  // --- the outcome of the last run, for the callers that show it ---
  // Selected entries that did not come out intact: a failed CRC, an unsupported method, damaged
  // data, an output that could not be made, a password that did not open the entry.
  int32_t FilesFailed() const { return FFilesFailed; }
  // Bytes written to extracted files.
  int64_t BytesWritten() const { return FBytesWritten; }

  TUnBase_OnFileExists OnFileExists;
  TOnRenameFile OnRenameFile;
  // Asked by the disk test of spanned and multi-volume archives.
  TOnDiskError OnDiskInDrvErr;
  TOnDiskError OnDiskWriteProtectErr;

  // --- run state ---
  bool PasswordFailed = false;
  std::string EntryName;  // the stored name converted to a local one
  TUnEntry Entry;
  int64_t PackedTotal = 0;
  int64_t UnpackedTotal = 0;

 protected:
  bool OpenArchive(std::unique_ptr<TStream32>& Archive);
  int32_t RunExtraction(std::unique_ptr<TStream32>& Archive, TStream32*& Output);
  void ResetRun();
  // Counts what each write of an entry puts down, and keeps a refused write from changing
  // FilesDone (the entry keeps its count and fails its verdict instead).
  int32_t WriteDecrypted(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode,
                         bool Decrypt) override;
  // What could not be written is the file of the entry in work: the report names it, and its
  // failed verdict adds no report of its own. A full disk also ends the run (OutputFull).
  void ReportShortWrite(bool DiskFull) override;
  // The written file of the entry in work takes its target's place; false (reported) when it
  // cannot. DiscardOutput removes it instead.
  bool CommitOutput();
  void DiscardOutput();
  // Marks the entry in work as not intact: its verdict fails whatever the CRC says.
  void EntryFailed() { FEntryDamaged = true; }
  void EntryNotDecoded() {
    FEntryDamaged = true;
    FEntryNotDecoded = true;
  }
  // Counts files that did not come out; a damaged end record can promise more than an int holds.
  void CountFailed(int64_t Count = 1) {
    FFilesFailed += static_cast<int32_t>(std::clamp<int64_t>(Count, 0, INT32_MAX - FFilesFailed));
  }

  TCpuType FCpuType = cptAuto;
  bool FCreateStoredDirs = false;
  bool FRestoreFileAttr = true;
  int32_t FFilesFailed = 0;
  int64_t FBytesWritten = 0;
  bool FEntryDamaged = false;
  // The entry in work was not decoded or not finished (password, output, folder, close): its
  // failed verdict was reported by its own step, or left silent on purpose.
  bool FEntryNotDecoded = false;
  // A write of this run found the disk full: nothing after it would fit, and the driver stops.
  bool FOutputFull = false;
  int64_t FEntryWritten = 0;  // bytes of the entry in work put down
  std::string FOutputTemp;    // the file the entry in work is written to, until its verdict
  std::string FOutputTarget;  // the file it is to replace
  bool FOutputModeSet = false;  // the written file has the mode it keeps (it replaces none)
  bool FOutputInPlace = false;  // written under the target's own name, where no file was
  // Folders this run has cleared of what killed runs left there.
  std::unordered_set<std::string> FSweptFolders;
  // The files this run has put down: a later entry of the same name never replaces one.
  std::unordered_set<std::string> FPlacedFiles;
  // The permissions a new file gets in this run (0666 less the umask).
  uint32_t FNewFileMode = 0644;
};
