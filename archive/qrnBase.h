#pragma once
// The common base of every archive component (TZipCommon) with the engine's one error, cancel
// and progress model and its message table; the elapsed-time measurement (TqrnTimer) and the
// entry lists of writers and readers (header lists).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archive/qrnFileIo.h"
#include "archive/qrnGbls.h"
#include "archive/qrnregister.h"

class TStream32;

// --- error codes: the identifiers of the texts in the message table ------------------------
enum : int32_t {
  E_BAD_FILE_HEADER = 25114,
  E_BAD_BLOCK = 25116,
  E_WRITE_ERROR = 25136,
  E_READ_ERROR = 25137,
  E_CLOSE_ERROR = 25138,
  E_CRC_ERROR = 25151,
  E_SPAN_LABEL_ERROR = 25154,
  E_INVALID_DIRECTORY = 25158,
  E_DISK_FULL = 25160,
  E_NOT_ACCESSIBLE = 25170,
  E_WRITE_PROTECTED = 25171,
  E_FILE_NOT_FOUND = 25192,
  E_OPEN_ERROR = 25235,
  // Not an error: the text with which a file that holds no data and is not stored is named.
  E_NOT_STORED = 25239,
  E_UNSUPPORTED_TYPE = 25244,
  E_OUT_OF_MEMORY = 25253,
  E_NOTHING_TO_DO = 25268,
  E_EVENT_NOT_ASSIGNED = 25270,
  E_PROPERTY_NOT_ASSIGNED = 25271,
  E_AMBIGUOUS_TREE = 25293,
  E_STACK_OVERFLOW = 25299,
  E_UNSUPPORTED_METHOD = 25326,
  E_USER_CANCELED = 25443,
  E_INVALID_PASSWORD = 26517,
  E_NOTHING_TO_DELETE = 26859,
  E_CREATE_DIR_QUESTION = 26899,
};

// The text of a message code exactly as the engine stores it; "Error <code>" for a code the
// table does not hold, so no error ever reaches the user without a text.
std::string ErrorMessage(int32_t Code);
inline std::string LoadStr(int32_t Code) { return ErrorMessage(Code); }

// The code of a write that failed just now: 25160 when the system said the disk is full, else
// 25136.
int32_t WriteFailureCode();
// The extended message of a finished file that could not be given the permissions it is
// published with, naming the system's reason (an errno).
std::string ModeNotSetMessage(int Error);

// --- elapsed time ----------------------------------------------------------------------------
// Measures a run in milliseconds of the tick count; pauses (time in user dialogs) are not
// counted. Pauses nest: only the outermost Pause/Resume pair moves the start.
class TqrnTimer {
 public:
  using TTickSource = uint32_t (*)();

  void Start();
  void Stop();  // only while running; a pause still open at the stop is not counted
  void Pause();
  void Resume();
  bool Running() const { return FRunning; }

  uint32_t StartTick = 0;  // tick of the start (moved forward by pauses)
  uint32_t EndTick = 0;
  uint32_t PauseTick = 0;
  float ElapsedTime = 0;  // seconds of the last completed measurement
  TTickSource TickSource;  // platform::TickCount unless a test replaces it

  TqrnTimer();

 private:
  bool FRunning = false;
  int32_t FPauseDepth = 0;
};

// Keeps the elapsed-time measurement paused while the user is asked something, an error is
// reported or lists are read; also when the step raises.
class TTimerPause {
 public:
  explicit TTimerPause(TqrnTimer& t) : FTimer(t) { FTimer.Pause(); }
  ~TTimerPause() { FTimer.Resume(); }
  TTimerPause(const TTimerPause&) = delete;
  TTimerPause& operator=(const TTimerPause&) = delete;

 private:
  TqrnTimer& FTimer;
};

// --- entry lists ---------------------------------------------------------------------------
// A record of N raw bytes, for lists whose record layout the list does not know.
template <size_t N>
using TByteRecord = std::array<uint8_t, N>;

// Common part of the entry lists. Extras[i] is the block added with record i (empty when it
// came without one), so a record's block is found by its index.
class THeaderObj {
 public:
  int32_t RecordSize = 0;
  int32_t Count() const { return FCount; }
  std::vector<std::vector<uint8_t>> Extras;

 protected:
  // Makes room for one more element before anything is appended, so that parallel lists stay
  // parallel when memory runs out. The capacity grows geometrically: one slot at a time would
  // copy a list of N entries N times.
  template <typename TVector>
  static void ReserveOne(TVector& List) {
    if (List.size() == List.capacity()) List.reserve(List.size() * 2 + 64);
  }

  int32_t FCount = 0;
};

// The writers' work list: per entry a record, its name, a 16-bit tag and its extra block. The
// record type is the writer's file record; records free their own blocks when cleared.
template <typename TRecord = TByteRecord<32>>
class TCompHeaderObj : public THeaderObj {
 public:
  std::vector<std::unique_ptr<TRecord>> Records;  // stable addresses: GetHeader hands them out
  TStrings Names;
  std::vector<uint16_t> Tags;
  std::vector<uint8_t> SharedBlock;  // a block the whole list owns (16-bit length)

  void InitList() {
    RecordSize = 32;
    ClearList();
  }
  void ClearList() {
    Records.clear();
    Names.Clear();
    Tags.clear();
    Extras.clear();
    SharedBlock.clear();
    FCount = 0;
  }
  void DoneList() {
    ClearList();
    Records.shrink_to_fit();
    Tags.shrink_to_fit();
    Extras.shrink_to_fit();
  }
  // Never raises: false when memory runs out (what was added before stays, the lists stay
  // parallel).
  bool AddHeader(const TRecord& Record, const std::string& Name, uint16_t ExtraLength, uint16_t Tag,
                 const uint8_t* Extra) {
    try {
      auto copy = std::make_unique<TRecord>(Record);
      std::vector<uint8_t> extra;
      if (ExtraLength != 0 && Extra) extra.assign(Extra, Extra + ExtraLength);
      ReserveOne(Records);
      ReserveOne(Tags);
      ReserveOne(Extras);
      Names.Add(Name);
      Records.push_back(std::move(copy));
      Tags.push_back(Tag);
      Extras.push_back(std::move(extra));
      ++FCount;
      return true;
    } catch (...) {
      return false;
    }
  }
  TRecord* GetHeader(int32_t Index) {
    if (Index < 0 || Index >= FCount) return nullptr;
    return Records[static_cast<size_t>(Index)].get();
  }
};

// The readers' entry list: per entry a 14-byte position-and-sizes record and its extra block.
template <typename TRecord = TByteRecord<14>>
class TUnBaseHeaderObj : public THeaderObj {
 public:
  std::vector<std::unique_ptr<TRecord>> Records;

  void InitList() {
    RecordSize = 14;
    ClearList();
  }
  void ClearList() {
    Records.clear();
    Extras.clear();
    FCount = 0;
  }
  void DoneList() {
    ClearList();
    Records.shrink_to_fit();
    Extras.shrink_to_fit();
  }
  bool AddHeader(const TRecord& Record, const uint8_t* Extra, uint16_t ExtraLength) {
    try {
      auto copy = std::make_unique<TRecord>(Record);
      std::vector<uint8_t> extra;
      if (ExtraLength != 0 && Extra) extra.assign(Extra, Extra + ExtraLength);
      ReserveOne(Extras);
      Records.push_back(std::move(copy));
      Extras.push_back(std::move(extra));
      ++FCount;
      return true;
    } catch (...) {
      return false;
    }
  }
  // Appends a copy of Data (the readers' list-shaped output).
  bool AddRecord(const TRecord& Data) {
    try {
      ReserveOne(Extras);
      Records.push_back(std::make_unique<TRecord>(Data));
      Extras.emplace_back();
      ++FCount;
      return true;
    } catch (...) {
      return false;
    }
  }
  TRecord* GetHeader(int32_t Index) {
    if (Index < 0 || Index >= FCount) return nullptr;
    return Records[static_cast<size_t>(Index)].get();
  }
};

// Result of an extra-field walk: the last block's tag and size, then bits 32-47 of the packed
// size, the unpacked size and the local-header offset.
struct TExtraHigh {
  uint16_t Tag = 0;
  uint16_t Size = 0;
  uint16_t PackedHigh = 0;
  uint16_t UnpackedHigh = 0;
  uint16_t OffsetHigh = 0;
};
// The 32-bit header fields a Zip64 block fills where they hold 0xFFFFFFFF.
struct TExtraSizes {
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint32_t LocalHeaderOffset = 0;  // central headers only
};

// --- the component base --------------------------------------------------------------------
// Writers (TCompBase) and readers (TUnBase) derive from it. Published properties are read with
// P() and written with SetP(v); run state that the engine's units share is public under its
// own name.
class TZipCommon : public TRegisterQarno {
 public:
  TZipCommon();
  ~TZipCommon() override;

  // --- virtual operations, continuing the root's slots ---
  virtual bool GetCancel();
  // True also reports 25443 (file name ArchiveFile, extended message CurrentFileName).
  virtual void SetCancel(bool Value);
  // Block writers and readers of the block I/O unit (qrnBlockIo.cpp). Output may be nullptr
  // for the memory output (OutputMode 3). They return the bytes written or read.
  virtual int32_t WriteEncrypted(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode,
                                 bool Encrypt);
  // The date conversion with 0 taken as 1980-01-01 00:01; any failure gives kFallbackDateTime.
  virtual TDateTime DosDateTimeToDateTime(uint32_t Value);
  virtual int32_t WriteDecrypted(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode,
                                 bool Decrypt);
  virtual std::string GetVolumeFileName(const std::string& Name, int32_t Index);
  // Closes Stream and opens the next volume into it.
  virtual bool NextVolume(std::unique_ptr<TStream32>& Stream, int32_t Index, int32_t Count);
  virtual int32_t ReadBlock(TStream32& Stream, int32_t Count, int32_t CrcMode, bool Decipher, uint8_t* Buffer);
  // Readers: CurrentFileName := the entry name (in local form, '/' between folders) placed under
  // ExtractDir, never outside it.
  virtual void SetCurrentFileName(const std::string& Name);
  virtual void GarbleBuffer(bool Flag, uint8_t* Buffer, int32_t Count);
  // Reports through OnError, then raises ExceptionClass with the code's text, unless the run is
  // cancelled: then the code is 25443 and nothing is raised.
  virtual void RaiseError(TExceptionClass ExceptionClass, const std::string& FileName, const std::string& ExtendedMsg,
                          const std::string& VolumeID, int32_t ECode);
  // Reports only (25443 once cancelled).
  virtual void ReportError(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                           int32_t ECode);
  // Puts a finished temporary archive under FinalName. FinalName is replaced atomically by a
  // rename, and only by a complete, flushed file: on the same file system the temporary file
  // itself is renamed; otherwise Size bytes of Source are copied into a new temporary file in
  // FinalName's folder first. On failure or cancel FinalName stays exactly as it was and the
  // call raises. When SameDrive is set the caller may already have closed Source.
  virtual void MoveTempFile(TStream32* Source, const std::string& FinalName, int64_t Size, bool SameDrive,
                            const std::string& TempName);
  // Copies Size bytes of Source into Staging (a new file in FinalName's folder, made here when
  // empty), flushes it and renames it over FinalName; Staging is removed on any failure.
  void CopyOverFinal(TStream32& Source, const std::string& FinalName, int64_t Size, std::string Staging = {});

  // --- progress ---
  // Both percentages from the run's counters, then ProgressHook; exceptions are swallowed.
  void DoProgress(int64_t ArchiveBytes, int64_t FileBytes, int64_t FilePosition);
  // The default ProgressHook: pumps messages, then OnProgress.
  void FireProgress(uint8_t ByFile, uint8_t ByArchive);
  // Progress callbacks handed to streams (Sender is the stream).
  void ReportStreamProgress(TObject* Stream);
  void ReportTempMoveProgress(TObject* Stream);

  // The DOS date-time to store for a file by DateAttribute.
  uint32_t GetFileDate(uint32_t FileDate);
  // A new unique empty file "qrn..." in Folder (or the system temporary folder); empty when
  // none can be made.
  std::string MakeTempFileName(const std::string& Folder);
  // RaiseError(E_RAISE, CurrentFileName, "", "0", 25136).
  void RaiseWriteError();
  // Gives the finished File the permissions it takes Name's place with (those of the file Name,
  // else the user's default); a failure is reported against Name with Code, and false returned.
  bool SetPublishedMode(const std::string& File, const std::string& Name, int32_t Code);
  void ReportModeNotSet(const std::string& Name, int Error, int32_t Code);
  // Renames the finished archive File onto FinalName (atomically) with the permissions it is
  // published with; false, with the rename's error kept, when the rename failed. When the
  // permissions cannot be set the archive still goes in place, and that is reported (25136).
  bool RenameIntoPlace(const std::string& File, const std::string& FinalName);
  // Sender is the component unless another object is named (the memory image passes itself).
  void FireTmpFileMoveBegin(const std::string& Archive, const std::string& TempFileName, TObject* Sender = nullptr);
  void FireTmpFileMoveEnd(TObject* Sender = nullptr);

  // --- published properties ---
  std::string CurrentFileName() const { return FCurrentFileName; }
  bool TranslateOemChar() const { return FTranslateOemChar; }
  void SetTranslateOemChar(bool v) { FTranslateOemChar = v; }
  TqrnFileAttrs Attributes() const { return FAttributes; }
  void SetAttributes(TqrnFileAttrs v) { FAttributes = v; }
  TDeleteOptions DeleteOptions() const { return FDeleteOptions; }
  void SetDeleteOptions(TDeleteOptions v) { FDeleteOptions = v; }
  TDateAttribute DateAttribute() const { return FDateAttribute; }
  void SetDateAttribute(TDateAttribute v) { FDateAttribute = v; }
  bool ConfirmOverwrites() const { return FConfirmOverwrites; }
  void SetConfirmOverwrites(bool v) { FConfirmOverwrites = v; }
  bool IncludeHiddenDirs() const { return FIncludeHiddenDirs; }
  void SetIncludeHiddenDirs(bool v) { FIncludeHiddenDirs = v; }
  TOverwriteMode OverwriteMode() const { return FOverwriteMode; }
  void SetOverwriteMode(TOverwriteMode v) { FOverwriteMode = v; }
  int32_t PasswordAttempts() const { return FPasswordAttempts; }
  void SetPasswordAttempts(int32_t v) { FPasswordAttempts = v; }
  TStoredDirNames StoredDirNames() const { return FStoredDirNames; }
  void SetStoredDirNames(TStoredDirNames v) { FStoredDirNames = v; }
  bool UseStoredDirs() const { return FUseStoredDirs; }
  void SetUseStoredDirs(bool v) { FUseStoredDirs = v; }
  bool RecurseDirs() const { return FRecurseDirs; }
  void SetRecurseDirs(bool v) { FRecurseDirs = v; }
  std::string Password() const { return FPassword; }
  void SetPassword(const std::string& v) { FPassword = v; }
  std::string DefaultDir() const { return FDefaultDir; }
  void SetDefaultDir(const std::string& v) { FDefaultDir = v; }
  std::string ExtractDir() const { return FExtractDir; }
  void SetExtractDir(const std::string& Value);  // block I/O unit
  // An empty or missing folder reads as the system temporary folder.
  std::string TempDir() { return GetTempDir(); }
  std::string GetTempDir();
  // A missing folder is offered for creation (Yes/No); refused or failed, the system
  // temporary folder is taken.
  void SetTempDir(const std::string& Value);
  // The lists are the component's own; the setters copy the given strings.
  TStrings& FileSpec() { return FFileSpec; }
  TStrings& ExcludeSpec() { return FExcludeSpec; }
  TStrings& Passwords() { return FPasswords; }
  void SetFileSpec(const TStrings& List) { FFileSpec.Assign(List); }
  void SetExcludeSpec(const TStrings& List) { FExcludeSpec.Assign(List); }
  void SetPasswords(const TStrings& List) { FPasswords.Assign(List); }

  // --- run state shared by the engine's units ---
  std::string VolumeFileName;
  bool Canceled = false;
  bool* CancelRef = &Canceled;  // handed to streams and the scanner; the span reader repoints it
  int64_t BytesLeft = 0;
  int64_t ArchiveTotal = 0;
  int64_t FileTotal = 0;
  uint8_t ProgressByFile = 0;
  uint8_t ProgressByArchive = 0;
  int32_t FilesDone = 0;
  uint8_t OutputMode = 0;  // 0 a file, 1 and 2 a stream, 3 a memory block
  uint32_t MaxFileDate = 0;
  TqrnTimer Timer;
  std::unique_ptr<TDiskManager> DiskManager;

  // --- events ---
  TOnError OnError;
  TOnProgress OnProgress;
  TOnElapsedTime OnElapsedTime;
  TOnNextVolume OnNextVolume;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TOnBegin OnBegin;
  TOnEnd OnEnd;
  TOnGetPassword OnGetPassword;
  TTempFileMoveBegin OnTmpFileMoveBegin;
  TNotifyEvent OnTmpFileMoveEnd;
  TOnProgress OnTmpFileProgress;

  // --- I/O hooks, bound to this component ---
  using TWriteHook = std::function<int32_t(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count,
                                           int32_t CrcMode, bool Cipher)>;
  using TReadHook =
      std::function<int32_t(TStream32& Stream, int32_t Count, int32_t CrcMode, bool Decipher, uint8_t* Buffer)>;
  using TProgressHook = std::function<void(uint8_t ByFile, uint8_t ByArchive)>;
  TWriteHook WriteHook;    // WriteEncrypted (writers)
  TWriteHook OutputHook;   // WriteDecrypted (readers)
  TReadHook ReadHook;      // ReadBlock
  TProgressHook ProgressHook;  // FireProgress

  // --- entry names, volume names and block I/O (qrnBlockIo.cpp) ---
  // Name under which FileName is stored, cut by StoredDirNames. Local names use '/'; a
  // leading drive ("C:") or network prefix ("//srv/share") is dropped by the NoDrv modes.
  std::string MakeStoredName(const std::string& FileName, const std::string& BaseFolder) const;
  // The name an entry is listed, extracted and updated under, from its stored name bytes
  // (deciphered), its general-purpose flags, the host byte of its central header's "version
  // made by" (kHostUnknown for a local header) and its extra field. The reader and the writer
  // both take it, so that an update finds an entry under the name the reader shows.
  std::string DecodeEntryName(const std::string& Stored, uint16_t Flags, int32_t Host,
                              std::span<const uint8_t> Extra) const;
  // True when a mask of ExcludeSpec matches FileName (a stored name).
  bool IsExcluded(const std::string& FileName, const std::string& BaseFolder) const;
  // Volume Index of a zip split into Count parts: VolumeFileName with ".z01".. for Index <
  // Count, else ArchiveFile.
  std::string GetVolumeName(int32_t Index, int32_t Count);
  // Bytes written through WriteBlock's output rules; short counts are reported (25136), a full
  // disk raises (25160), both through ReportShortWrite.
  int32_t WriteBlock(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode);
  // WriteBlock's report of a write that fell short: a full disk sets FilesDone to 0 and raises,
  // anything else counts the entry off FilesDone and reports. A writer names the archive it
  // writes, with the entry in work as the extended message.
  virtual void ReportShortWrite(bool DiskFull);
  // Adds Count bytes to the CRC register of CrcMode (16 or 32; other modes none).
  void UpdateCrc(int32_t CrcMode, const uint8_t* Buffer, int32_t Count);
  // Copies a stored entry of PackedSize bytes (Flags: its general-purpose flags) to Output;
  // returns the bytes not copied.
  int64_t CopyStoredData(TStream32& Stream, TStream32* Output, int64_t PackedSize, uint16_t Flags, int32_t CrcMode);
  // Reads a stored name of Length bytes (at most 65535) into Name; returns the bytes read.
  int32_t ReadName(TStream32& Stream, std::string& Name, int32_t Length);
  // Walks an extra field of Length bytes (HeaderKind 0 local, 1 central) for the Zip64 (tag 1)
  // and the engine's tag-100 blocks. The stream ends at the field's end; false when the field
  // was short or malformed (the walk then ends without reading past it). Field, when given,
  // receives the bytes read, for the blocks the caller looks at itself.
  bool ReadExtraField(TStream32& Stream, int32_t Length, TExtraHigh& Result, int32_t HeaderKind,
                      TExtraSizes& Sizes, std::vector<uint8_t>* Field = nullptr);
  // The same walk over a field already in memory.
  static bool ParseExtraField(std::span<const uint8_t> Field, TExtraHigh& Result, int32_t HeaderKind,
                              TExtraSizes& Sizes);
  // Closes and frees a file output (OutputMode 0): false when the close failed. Other outputs
  // belong to their owner.
  bool CloseOutput(std::unique_ptr<TStream32>& Output);
  bool IsFileOutput() const { return OutputMode == 0; }
  static bool IsKnownArcType(TArcType Kind) { return ::IsKnownArcType(Kind); }
  // Display name of an entry's method; ExternalAttributes and MagicWord serve the rows that
  // need them (directory entries, gzip magic).
  std::string GetCompressMethodName(uint16_t Method, uint16_t Flags, uint32_t ExternalAttributes = 0,
                                    uint16_t MagicWord = 0) const;

  // The memory block of OutputMode 3: writes go to MemoryOutput at MemoryPosition and never
  // past its end.
  std::span<uint8_t> MemoryOutput;
  size_t MemoryPosition = 0;
  int64_t VolumeSize = 0;     // size of the volume opened last
  int32_t PasswordPosition = 1;  // 1-based, kept between blocks by the ARJ garbling

  // Reader events for spanned disks (asked through TDiskSpannObj).
  TOnGetZipLastDisk OnGetZipLastDisk;
  TOnGetZipFirstDisk OnGetZipFirstDisk;
  TOnGetZipNextDisk OnGetZipNextDisk;
  friend class TDiskSpannObj;

 protected:
  std::string FCurrentFileName;
  bool FTranslateOemChar = true;
  TqrnFileAttrs FAttributes{fsZeroAttr, fsReadOnly, fsArchive, fsCompressed, fsEncrypted};
  TDeleteOptions FDeleteOptions = doAllowUndo;
  TDateAttribute FDateAttribute = daFileDate;
  bool FConfirmOverwrites = false;
  bool FIncludeHiddenDirs = false;
  TOverwriteMode FOverwriteMode = omOverwrite;
  int32_t FPasswordAttempts = 3;
  TStoredDirNames FStoredDirNames = sdRelative;
  bool FUseStoredDirs = true;
  bool FRecurseDirs = true;
  std::string FExtractDir;
  std::string FTempDir;
  std::string FPassword;
  std::string FDefaultDir;
  TStrings FFileSpec;
  TStrings FExcludeSpec;
  TStrings FPasswords;

 private:
  // Reports 25136 and raises, also when the run is cancelled.
  [[noreturn]] void FailMove(const std::string& FinalName);
};
