#pragma once
// The format-independent writer: the run driver behind Compress, the list of files to add, the
// decision for each found file against the entries already in the archive, the per-entry loop
// and the compression of one file. The format's work is reached through virtual operations
// whose defaults do nothing; TZipBase (qrnZip) overrides them.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnFilters.h"
#include "archive/qrnGbls.h"
#include "archive/qrnStreams.h"
#include "platform/files.h"

// Entry actions of the work list.
enum : uint8_t {
  eaCompress = 0,  // new file, compressed from disk
  eaKeep = 1,      // stored entry copied unchanged
  eaDrop = 2,      // left out of the new archive
  eaRename = 3,    // stored entry copied under a new name
};

// The per-entry record of a writing run's work list.
struct TCompFileInfo {
  uint8_t EntryAction = eaCompress;
  int64_t LocalOffset = 0;  // in the old archive for a stored entry, in the new one once written
  uint16_t UnpackedHigh = 0;  // bits 32-47 of the sizes
  uint16_t PackedHigh = 0;
  bool HeaderEnciphered = false;
  uint32_t CommentLength = 0;
  std::vector<uint8_t> Comment;
  uint16_t ExtraLength = 0;
  std::vector<uint8_t> Extra;

  // Length of the scan root that was in force when the file was found.
  int32_t RootLength = 0;
  // The file on disk for an entry to compress; empty: the entry's name is the file.
  std::string SourceName;
  // The name bytes as they stand (or will stand) in the archive, and whether they are UTF-8
  // (general-purpose flag bit 11).
  std::string StoredName;
  bool Utf8Name = false;
  // A name the file system holds in no code page (not UTF-8): its bytes are stored as they are.
  bool RawName = false;
  // A name stored in the OEM code page that is not plain ASCII: the name in UTF-8, which the
  // entry also carries for the readers that do not take the OEM code page (empty otherwise).
  std::string UnicodeName;
  // The file's st_mode as the scan found it (type and permission bits); 0 when unknown.
  uint32_t Mode = 0;
  // A stored entry that a found file refreshes in place keeps its old header and extra field
  // here, so that it can be copied as it was when the file cannot be read.
  bool Refreshed = false;
  std::array<uint8_t, 46> OldHeader{};
  int64_t OldLocalOffset = 0;
  std::vector<uint8_t> OldExtra;
  // A stored entry dropped because a found file replaces it, and the new entry that does: the
  // stored entry goes only once its replacement is written.
  int32_t ReplacedBy = -1;
  int32_t Replaces = -1;
  // The entry's central header as it will be written (signature, sizes, offsets).
  std::array<uint8_t, 46> RawHeader{};
  // A stored entry: where the next entry or the directory begins in the old archive, which
  // no copy of this entry may pass (-1 when unknown), and where its data ends there.
  int64_t Limit = -1;
  int64_t DataEnd = -1;
  // A stored entry whose local header the reader fails, and why; nullptr when it agrees.
  const char* LocalFault = nullptr;
};

// The 24-byte file-information record exchanged with the format.
struct TFileInfoRecord {
  int64_t UnpackedSize = 0;
  int64_t PackedSize = 0;
  uint32_t DosDateTime = 0;
  uint32_t Attributes = 0;
};

// The work list of one run: per entry its name (full file name for a new file, the name as read
// for a stored entry) and its record with the raw central header; once the archive comment
// (the shared block). Names are indexed as they stand (names that differ only in letter case
// are different files here), so placing N found files against N stored entries costs N
// look-ups of constant time instead of N linear searches. The index is built at the first
// look-up and kept from then on: a run that never looks a name up (a new archive) keeps none.
class TCompHeaderList : public TObject, public TCompHeaderObj<TCompFileInfo> {
 public:
  TCompHeaderList() { InitList(); }
  int32_t Add(const std::string& Name, const TCompFileInfo& Info);
  const std::string& Name(int32_t i) const { return Names[i]; }
  void SetName(int32_t i, const std::string& Name);
  std::array<uint8_t, 46>& Header(int32_t i) { return Records[static_cast<size_t>(i)]->RawHeader; }
  TCompFileInfo& Info(int32_t i) { return *Records[static_cast<size_t>(i)]; }
  // The first entry of exactly that name, -1 when none.
  int32_t IndexOfName(const std::string& Name) const;
  void ClearNames();
  void Clear();

  bool Modified = false;  // the comments were changed

 private:
  void BuildIndex() const;

  mutable std::unordered_map<std::string, std::vector<int32_t>> FIndex;
  mutable bool FIndexed = false;
};

// Case folding for masks matched without case: ASCII and Cyrillic letters.
std::string FoldNameCase(const std::string& Name);

class TTempFileStream;
class TTempMemStream;

class TCompBase : public TZipCommon {
 public:
  TCompBase();
  ~TCompBase() override;

  // A file that the finished archive is going to replace (a caller that builds under another
  // name and renames afterwards): it is never added, so no backup ever holds the one before it.
  std::string ReplacedArchive;

  // --- the public entry ---
  // Runs one operation chosen by Switch. Returns the files added (deleted under swDelete), 0
  // under swRead and 0 when a check fails or the run fails; no exception leaves it.
  virtual int32_t Compress();

  // --- virtual operations, in slot order ---
  virtual void Execute(TCompHeaderList& List);
  virtual void EntryRead(const std::string& Name);
  virtual void CopyEntry(TStream32& Input, TStream32& Output, TCompHeaderList& List, int32_t Index);
  virtual void BuildCentralHeader(int32_t Index, uint32_t ExternalAttributes, TCompHeaderList& List);
  virtual void FinishLocalHeader(int64_t PackedSize, int64_t UnpackedSize);
  virtual void StartLocalHeader(TCompHeaderList& List, int32_t Index);
  virtual void CompressEntry(TStream32& Output, int32_t Index, bool& Done, TCompHeaderList& List);
  virtual void HeaderFromFileInfo(std::array<uint8_t, 46>& RawHeader, TCompFileInfo& Info, const TFileInfoRecord& Rec);
  virtual void WriteEmptyEndRecord(TStream32& Output);
  virtual bool CompressFile(TStream32& Output, int32_t Index, TCompHeaderList& List);
  virtual void EndEntry();
  virtual bool FindDirectory(std::string& Name, TStream32& Input, TCompHeaderList* List, bool& DirectoryFound);
  virtual int32_t GetHeadSize();
  virtual int32_t GetLocalHeadSize();
  virtual bool ReadNextCentralHeader(std::string& Name, TStream32& Input, bool Central);
  virtual const uint8_t* GetHeadPtr();
  virtual bool ReadCentralHeader(TStream32& Input, std::string& Name, bool Central);
  virtual void WriteZip64Extra(TStream32& Output, TCompFileInfo& Info);
  virtual void ReadCentralDirectory(TStream32& Input, TCompHeaderList& List);
  virtual void CommitComments();
  virtual void ListEntries(TCompHeaderList& List);
  virtual bool GetFileComment(int32_t Index, std::string& Name, std::string& Text);
  virtual void SetFileComment(int32_t Index, const std::string& Text);
  virtual void SetZipComment(const std::string& Text);
  virtual int32_t OpenArchiveDirectory();
  virtual bool WriteCentralDirectory(TStream32& Output, TCompHeaderList& List);
  virtual void FileInfoFromHeader(const std::array<uint8_t, 46>& RawHeader, const TCompFileInfo& Info,
                                  TFileInfoRecord& Rec);
  virtual int64_t ReadLocalHeader(TStream32& Input, TStream32& Output, std::array<uint8_t, 46>& RawHeader);
  virtual bool GetZipComment(std::string& Text);
  virtual void TextOperation(const std::string& Text);

  // --- overrides of the classes below ---
  void SetArchiveFile(const std::string& Value) override;
  void SetCurrentFileName(const std::string& Name) override;

  // --- properties ---
  TqrnFileAttrs AttributesEx() const { return FAttributesEx; }
  void SetAttributesEx(TqrnFileAttrs v) { FAttributesEx = v; }
  TCompressMethod CompressMethod() const { return FCompressMethod; }
  // Kept only when the writer supports the method.
  void SetCompressMethod(TCompressMethod v);
  const std::string& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const std::string& v);
  void AddDefaultExt();
  TDeflateType DeflateType() const { return FDeflateType; }
  void SetDeflateType(TDeflateType v) { FDeflateType = v; }
  TStrings& StoreFilesOfType() { return FStoreFilesOfType; }
  void SetStoreFilesOfType(const TStrings& v) { FStoreFilesOfType.Assign(v); }
  bool StoreEmptySubDirs() const { return FStoreEmptySubDirs; }
  void SetStoreEmptySubDirs(bool v) { FStoreEmptySubDirs = v; }
  bool VerifyBeforeDelete() const { return FVerifyBeforeDelete; }
  void SetVerifyBeforeDelete(bool v) { FVerifyBeforeDelete = v; }
  TCompressionMethod CompressionMethod() const { return FCompressionMethod; }
  void SetCompressionMethod(TCompressionMethod v) { FCompressionMethod = v; }
  TSwitch Switch() const { return FSwitch; }
  void SetSwitch(TSwitch v) { FSwitch = v; }
  int32_t FilesAdded() const { return FFilesAdded; }
  int32_t FilesDeleted() const { return FFilesDeleted; }
  // The general-purpose flag byte with the deflate bits of DeflateType ORed in.
  uint8_t DeflateFlagBits(uint8_t Flags) const;

  TOnDeleteFile OnDeleteFile;
  TOnScanFileEvent OnFileScanStatus;
  TOnRecurseDir OnRecurseDir;
  TOnRead OnRead;
  TOnRenameDupeFile OnRenameDupeFile;
  TOnReplaceFile OnReplaceFile;
  TOnRenameFile OnRenameFile;
  TOnNonWriteableArchive OnNonWriteableArchive;
  TOnDiskError OnDiskInDrvErr;
  TOnDiskError OnDiskWriteProtectErr;
  TOnClearDisk OnClearDisk;
  TOnInsertDisk OnInsertDisk;
  TOnFileExists OnDiskSpanFileExists;
  // A file of the source that holds no data and is not stored (a FIFO, a socket, a device, a
  // link to one or to nothing): nothing of it is lost, so it is no error, but the user may be
  // told. Reason is in the engine's words.
  TOnNotStored OnNotStored;

 protected:
  // The kind an update works on: where detection recognised nothing, the zip directory search
  // decides; a signature of a format the engine does not read (atUnknown, atUnsupported) stays
  // what it is, as the reader would refuse the file before and after.
  static TArcType UpdateKind(TArcType Detected) {
    return Detected == atNA || Detected == atFileOpenErr ? atZip : Detected;
  }
  bool PrepareRun();
  int32_t RunCompress();
  std::string CommonFolder();
  bool CanWriteArchive();
  void ReadEntries();

  // --- the steps of Execute ---
  // The streams of one run: the new archive's output (a temporary file or memory) and the old
  // archive with its size.
  struct TRunStreams {
    std::unique_ptr<TTempFileStream> FileOut;
    std::unique_ptr<TTempMemStream> MemOut;
    TStream32* Output = nullptr;
    std::unique_ptr<TStream32> Old;
    int64_t OldSize = 0;
    bool Activated = false;  // OnActivate was fired
    // The output goes away without replacing the archive.
    void KeepArchive();
  };
  // Reads the archive under swRead, refuses a missing one under swDelete and an unwritable
  // one; true when the run goes on to write.
  bool MayWriteArchive();
  void BeginRun(TRunStreams& Run);
  // Frees the streams and closes the run's events.
  void EndRun(TRunStreams& Run);
  void OpenOutput(TRunStreams& Run);
  // Opens the existing archive and finds what it is (the directory search included); refuses
  // a kind this writer does not update, and puts a split set's parts together. False when a
  // part of the set cannot be had.
  bool DetectExistingArchive(TRunStreams& Run);
  // Reads the old archive's entries into the work list; refuses a damaged directory.
  void ReadOldDirectory(TRunStreams& Run, TCompHeaderList& List);
  // Copies what stands before the old archive's first entry (a program, a script).
  void CopyPrefix(TRunStreams& Run, TCompHeaderList& List);
  // Finds the files to add and writes every entry, or reports that there is nothing to do.
  void WriteEntries(TRunStreams& Run, TCompHeaderList& List);
  // Writes the directory and moves the new archive onto its name; under swMove deletes the
  // files added.
  void PutArchiveInPlace(TRunStreams& Run, TCompHeaderList& List);
  void DeleteMovedFiles(TCompHeaderList& List);
  void BuildFileList(TCompHeaderList& List);
  // The order the entry loop writes the entries of List in.
  std::vector<int32_t> WritingOrder(TCompHeaderList& List);
  void EntryLoop(TStream32& Output, TStream32* Old, TCompHeaderList& List);
  void KeepEntry(TStream32& Old, TStream32& Output, TCompHeaderList& List, int32_t Index);
  // An old archive that is one part of a set of volumes: the format opens the other parts and
  // puts a stream over the whole set in Old's place. False when the set cannot be had (the
  // run then stops and the archive stays as it was).
  virtual bool OpenOldVolumes(std::unique_ptr<TStream32>& Old);
  // Whether the existing archive, just detected, is one disk of an earlier set on spanned
  // disks whose other disks this run asks for (its entries lie on them), and which it writes
  // anew onto the disks. May settle the detected kind of a set that fits on one disk.
  virtual bool TakeOverSpannedSet();
  // Reads the disks of that set in turn and puts a stream over the whole set in Old's place,
  // as OpenOldVolumes does for a split set. False when the set cannot be had (the run then
  // stops and the set stays as it was).
  virtual bool OpenSpannedSet(std::unique_ptr<TStream32>& Old);

  // --- per-file operations ---
  void ScanFilter(const std::string& Path, const platform::FindData& Data, TCompHeaderList& List);
  void FileFound(const std::string& Path, const platform::FindData& Data, TCompHeaderList& List);
  void PlaceFile(const std::string& Path, const platform::FindData& Data, TCompHeaderList& List);
  void AddFoundFile(const std::string& FullName, const platform::FindData& Data, uint32_t Dos,
                    TCompHeaderList& List, int32_t Replaces);
  bool AskReplace(int32_t Index, const std::string& FullName, const TFileInfoRecord& Stored,
                  const TFileInfoRecord& Found);
  bool AskRenameDupe(int32_t Index, std::string& NewName, TCompHeaderList& List);
  bool BeginEntry(TCompHeaderList& List, int32_t Index);
  void AskRenameFile(TCompHeaderList& List, int32_t Index);
  bool StoreFile(TStream32& Source, TStream32& Output, TFilterState& State);
  // Writes a local header and the name after it, assembled first, with one call; a short write
  // raises EWriteError.
  void WriteLocalRecord(TStream32& Output, const uint8_t* Header, int32_t HeaderSize, const std::string& Name);
  bool AddFolderEntry(TStream32& Output, int32_t Index, TCompHeaderList& List);
  // Stored name bytes of a local name, and whether they are UTF-8.
  std::string EncodeStoredName(const std::string& Local, bool Folder, bool& Utf8) const;
  // Names an entry after its local name: StoredName, Utf8Name, RawName and UnicodeName.
  void SetStoredName(TCompFileInfo& Info, const std::string& Local, bool Folder) const;
  bool IsStoredType(const std::string& Name) const;

  // The writer's accepted compression methods (a set of up to 16).
  uint16_t FSupportedMethods = 0;
  std::string FClassDefaultExt = ".ZIP";

  // --- properties ---
  TqrnFileAttrs FAttributesEx;
  TCompressMethod FCompressMethod = cmDeflate;
  std::string FDefaultExt;
  TDeflateType FDeflateType = dtDeflateN;
  TStrings FStoreFilesOfType;
  bool FStoreEmptySubDirs = false;
  bool FVerifyBeforeDelete = false;
  TCompressionMethod FCompressionMethod = cmTempFile;
  TSwitch FSwitch = swAdd;

  // --- run state ---
  std::string FScanRoot;
  int32_t FFilesAdded = 0;
  int32_t FFilesDeleted = 0;
  bool FArchiveAbsent = false;
  std::vector<std::string> FMoveList;
  bool FDeletePass = false;
  bool FToDo = false;
  int32_t FHeadSize = 0;
  uint16_t FMethodWord = 8;
  bool FEncrypt = false;
  // The bytes Password keys the cipher with (code page 1251).
  std::string FPasswordKey;
  // The entry being written and its name bytes as the local header carries them.
  TCompFileInfo* FCurInfo = nullptr;
  std::string FLocalName;
  std::vector<uint8_t> FRecordBytes;  // where WriteLocalRecord assembles
  TMemoryStream32 FSmallDeflated;     // where a small file is deflated first
  // The folder of the files being added, held open while the entry loop runs, so that opening
  // each file looks up its name alone instead of walking its whole path again.
  platform::TFolderHandle FSourceFolder;
  // The entry counter of the last loop (the entries visited), read by the directory writer.
  int32_t FEntryCount = 0;
  // Where the temporary output lives.
  std::string FOutputName;
  // Device and inode of the archive, its temporary output and the archive being replaced: a
  // found file that is one of them, under whatever path, is never added.
  std::vector<std::pair<uint64_t, uint64_t>> FOwnFiles;

  // The old archive's directory position, -1 when unknown.
  int64_t FDirectoryPos = -1;
  // Why the old archive's directory does not add up (fewer entries than its end record counts,
  // an entry that cannot be sized, ...), empty while it does: an update would lose entries, so
  // it is refused, and the refusal says which check failed.
  std::string FDirectoryDamage;
  // The stored entry being copied, for the format to size it from its directory record, and
  // why it could not be when it could not.
  TCompFileInfo* FKeptInfo = nullptr;
  // A fixed text: it is set before each check of every kept entry, and a copy costs there.
  const char* FKeptFault = "";
  // The run failed in a way that must leave the old archive as it was.
  bool FRunFailed = false;
  // The archive reached its place without the temporary output's move (spanned disks).
  bool FArchivePublished = false;
};
