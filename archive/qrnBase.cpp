#include "archive/qrnBase.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>

#include "archive/qrnStreams.h"
#include "platform/files.h"
#include "platform/hooks.h"

namespace {

const std::map<int32_t, const char*>& messageTable() {
  static const std::map<int32_t, const char*> table = {
      {25114, "Bad file header"},
      {25116, "Bad block"},
      {25136, "Error writing to file"},
      {25137, "Error reading file"},
      {25138, "Error closing file"},
      {25151, "File fails CRC check"},
      {25154, "Error writing spanned-disk label"},
      {25158, "Invalid directory"},
      {25160, "Disk full"},
      {25170, "is not accessible"},
      {25171, "disk is write protected"},
      {25192, "File not found"},
      {25235, "Error opening file"},
      {25239, "Not stored, holds no file data"},
      {25244, "Invalid or unsupported archive type for this operation"},
      {25253, "Out of memory"},
      {25268, "Nothing to do"},
      {25270, "Required event not assigned"},
      {25271, "Required property not assigned"},
      {25293, "Ambiguous Shannon-Fano decode tree encountered"},
      {25299, "Stack overflow"},
      {25326, "Unsupported compression method"},
      {25443, "User canceled"},
      {26517, "Invalid password"},
      {26859, "Nothing to do"},
      {26899, "Directory does not exist... Create?"},
  };
  return table;
}

std::string folderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

// Removes a temporary file unless it was committed.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string name) : FName(std::move(name)) {}
  ~TempFileGuard() {
    if (!FName.empty()) platform::DeleteFile(FName);
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  void Commit() { FName.clear(); }

 private:
  std::string FName;
};

bool flushFile(const std::string& name) {
  int fd = platform::OpenFile(name, 0);
  if (fd < 0) return false;
  bool ok = platform::FlushFile(fd);
  return platform::CloseFile(fd) && ok;
}

}  // namespace

std::string ErrorMessage(int32_t Code) {
  const auto& table = messageTable();
  auto it = table.find(Code);
  if (it != table.end()) return it->second;
  return "Error " + std::to_string(Code);
}

int32_t WriteFailureCode() { return platform::LastErrorIsDiskFull() ? E_DISK_FULL : E_WRITE_ERROR; }

std::string ModeNotSetMessage(int Error) {
  return std::string("its permissions could not be set: ") + std::strerror(Error);
}

// --- TqrnTimer ---------------------------------------------------------------------------

TqrnTimer::TqrnTimer() : TickSource(&platform::TickCount) {}

void TqrnTimer::Start() {
  ElapsedTime = 0;
  StartTick = TickSource();
  PauseTick = 0;
  FPauseDepth = 0;
  FRunning = true;
}

void TqrnTimer::Stop() {
  if (!FRunning) return;
  EndTick = TickSource();
  uint32_t span = EndTick - StartTick;  // unsigned: a wrap of the tick count is harmless
  if (FPauseDepth > 0) span -= EndTick - PauseTick;
  ElapsedTime = static_cast<float>(span) / 1000.0f;
  StartTick = 0;
  PauseTick = 0;
  FPauseDepth = 0;
  FRunning = false;
}

void TqrnTimer::Pause() {
  if (!FRunning) return;
  if (FPauseDepth++ == 0) PauseTick = TickSource();
}

void TqrnTimer::Resume() {
  if (!FRunning || FPauseDepth == 0) return;
  if (--FPauseDepth == 0) {
    StartTick = TickSource() - PauseTick + StartTick;
    PauseTick = 0;
  }
}

// --- TZipCommon --------------------------------------------------------------------------

TZipCommon::TZipCommon() : DiskManager(std::make_unique<TDiskManager>()) {
  WriteHook = [this](TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode,
                     bool Cipher) { return WriteEncrypted(Output, Buffer, CrcFlag, Count, CrcMode, Cipher); };
  OutputHook = [this](TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode,
                      bool Cipher) { return WriteDecrypted(Output, Buffer, CrcFlag, Count, CrcMode, Cipher); };
  ReadHook = [this](TStream32& Stream, int32_t Count, int32_t CrcMode, bool Decipher, uint8_t* Buffer) {
    return ReadBlock(Stream, Count, CrcMode, Decipher, Buffer);
  };
  ProgressHook = [this](uint8_t ByFile, uint8_t ByArchive) { FireProgress(ByFile, ByArchive); };
}

TZipCommon::~TZipCommon() = default;

bool TZipCommon::GetCancel() { return *CancelRef; }

void TZipCommon::SetCancel(bool Value) {
  *CancelRef = Value;
  if (Value) ReportError(FArchiveFile, FCurrentFileName, "0", E_USER_CANCELED);
}

TDateTime TZipCommon::DosDateTimeToDateTime(uint32_t Value) {
  try {
    return ::DosDateTimeToDateTime(Value == 0 ? kDefaultDosDateTime : Value);
  } catch (...) {
    return kFallbackDateTime;
  }
}

void TZipCommon::RaiseError(TExceptionClass ExceptionClass, const std::string& FileName,
                            const std::string& ExtendedMsg, const std::string& VolumeID, int32_t ECode) {
  TTimerPause pause(Timer);
  if (GetCancel()) ECode = E_USER_CANCELED;
  if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
  // A cancelled run unwinds through its normal returns: the caller finds the flag set.
  if (!GetCancel()) (ExceptionClass ? ExceptionClass : &Throw_E_RAISE)(ErrorMessage(ECode));
}

void TZipCommon::ReportError(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                             int32_t ECode) {
  TTimerPause pause(Timer);
  if (GetCancel()) ECode = E_USER_CANCELED;
  if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
}

void TZipCommon::DoProgress(int64_t ArchiveBytes, int64_t FileBytes, int64_t FilePosition) {
  try {
    ProgressByFile = Percent(FileBytes, FilePosition);
    ProgressByArchive = Percent(ArchiveBytes, ArchiveBytes - BytesLeft);
    if (ProgressHook) ProgressHook(ProgressByFile, ProgressByArchive);
  } catch (...) {
    // Progress is advisory: a failing handler must not break the run.
  }
}

void TZipCommon::FireProgress(uint8_t ByFile, uint8_t ByArchive) {
  platform::ProcessMessages();
  if (OnProgress) OnProgress(this, ByFile, ByArchive);
}

namespace {
int64_t positionOf(TObject* Stream) {
  auto* s = dynamic_cast<TStream32*>(Stream);
  return s ? s->Position() : 0;
}
}  // namespace

void TZipCommon::ReportStreamProgress(TObject* Stream) {
  if (OnProgress) DoProgress(ArchiveTotal, FileTotal, positionOf(Stream));
}

void TZipCommon::ReportTempMoveProgress(TObject* Stream) {
  if (OnTmpFileProgress) DoProgress(ArchiveTotal, FileTotal, positionOf(Stream));
}

uint32_t TZipCommon::GetFileDate(uint32_t FileDate) {
  switch (FDateAttribute) {
    case daSysDate: return platform::UnixTimeToLocalDosTime(static_cast<int64_t>(std::time(nullptr)));
    case daMaxFileDate: return MaxFileDate;
    default: return FileDate;
  }
}

std::string TZipCommon::GetTempDir() {
  if (FTempDir.empty() || !DirExists(FTempDir)) FTempDir = SystemTempPath();
  return FTempDir;
}

void TZipCommon::SetTempDir(const std::string& Value) {
  if (Loading) {
    FTempDir = Value;
    return;
  }
  std::string dir = Value.empty() ? SystemTempPath() : AddSlash(Value);
  if (!DirExists(dir)) {
    int answer = platform::MessageBox(dir + "\n\n" + ErrorMessage(E_CREATE_DIR_QUESTION), "Подтверждение",
                                      platform::MB_YESNO | platform::MB_ICONQUESTION);
    if (answer == platform::IDYES) {
      ForceDirectories(dir);
    } else {
      dir.clear();
    }
  }
  if (dir.empty() || !DirExists(dir)) dir = SystemTempPath();
  FTempDir = dir;
}

std::string TZipCommon::MakeTempFileName(const std::string& Folder) {
  std::string dir = DirExists(Folder) ? Folder : SystemTempPath();
  if (!DirExists(dir)) ForceDirectories(dir);
  // A killed run never removes the archive it was building here; a live run's claim keeps its own.
  platform::RemoveTempLeftovers(dir, "qrn");
  return platform::MakeTempFile(dir, "qrn");
}

void TZipCommon::RaiseWriteError() { RaiseError(&Throw_E_RAISE, FCurrentFileName, "", "0", E_WRITE_ERROR); }

bool TZipCommon::SetPublishedMode(const std::string& File, const std::string& Name, int32_t Code) {
  if (platform::SetPublishedMode(File, Name)) return true;
  ReportModeNotSet(Name, platform::LastError(), Code);
  return false;
}

void TZipCommon::ReportModeNotSet(const std::string& Name, int Error, int32_t Code) {
  ReportError(Name, ModeNotSetMessage(Error), "0", Code);
}

// An archive that cannot take the old one's permissions is still the run's sound backup: it goes
// in place, and the report says that it kept those of a temporary file (its owner's alone). It is
// reported once it has the name: after a refused rename the copy that follows gets its own mode.
bool TZipCommon::RenameIntoPlace(const std::string& File, const std::string& FinalName) {
  const bool moded = platform::SetPublishedMode(File, FinalName);
  const int modeError = platform::LastError();
  if (!platform::RenameFile(File, FinalName)) return false;
  if (!moded) ReportModeNotSet(FinalName, modeError, E_WRITE_ERROR);
  return true;
}

void TZipCommon::FireTmpFileMoveBegin(const std::string& Archive, const std::string& TempFileName, TObject* Sender) {
  if (OnTmpFileMoveBegin) OnTmpFileMoveBegin(Sender ? Sender : this, Archive, TempFileName);
}

void TZipCommon::FireTmpFileMoveEnd(TObject* Sender) {
  if (OnTmpFileMoveEnd) OnTmpFileMoveEnd(Sender ? Sender : this);
}

// The old archive is the user's last good backup: it is replaced only by a rename of a complete,
// flushed file, never deleted or truncated first.
void TZipCommon::MoveTempFile(TStream32* Source, const std::string& FinalName, int64_t Size, bool SameDrive,
                              const std::string& TempName) {
  bool sameFileSystem = !TempName.empty() && platform::FileExists(TempName) &&
                        platform::DeviceOf(TempName) >= 0 &&
                        platform::DeviceOf(TempName) == platform::DeviceOf(folderOf(FinalName));
  if (sameFileSystem) {
    if (!flushFile(TempName)) FailMove(FinalName);
    if (RenameIntoPlace(TempName, FinalName)) return;
    // One device can still span two mounts (bind mounts): fall back to copying.
    if (platform::LastError() != EXDEV) FailMove(FinalName);
  }
  // The caller closes Source before a same-drive move; then the copy reads the file itself.
  if (Source && !SameDrive) {
    CopyOverFinal(*Source, FinalName, Size);
    return;
  }
  TFileStream32 input(TempName, platform::kModeReadDenyWrite);
  if (input.Handle() < 0) Throw_EFOpenError(ErrorMessage(E_OPEN_ERROR));
  CopyOverFinal(input, FinalName, Size);
}

void TZipCommon::FailMove(const std::string& FinalName) {
  RaiseError(&Throw_E_RAISE, FinalName, "", "0", WriteFailureCode());
  // Cancelled: RaiseError reported 25443 and raised nothing, but the move still did not happen.
  Throw_E_RAISE(ErrorMessage(E_USER_CANCELED));
}

void TZipCommon::CopyOverFinal(TStream32& Source, const std::string& FinalName, int64_t Size, std::string Staging) {
  if (Staging.empty()) Staging = platform::MakeTempFile(folderOf(FinalName), "qrn");
  if (Staging.empty()) Throw_EFOpenError(ErrorMessage(E_OPEN_ERROR));
  TempFileGuard guard(Staging);
  {
    TFileStream32 output(Staging, platform::kModeCreate);
    if (output.Handle() < 0) Throw_EFOpenError(ErrorMessage(E_OPEN_ERROR));
    FileTotal = Size;
    ArchiveTotal = Size;
    BytesLeft = Size;
    Source.SetPosition(0);
    output.CancelFlag = CancelRef;
    output.ProgressHandler = [this](TObject* Sender) { ReportTempMoveProgress(Sender); };
    output.CopyFrom(&Source, Size);
    if (GetCancel()) Throw_E_RAISE(ErrorMessage(E_USER_CANCELED));
    if (output.Size() != Size || !platform::FlushFile(output.Handle()) || !output.Close()) FailMove(FinalName);
  }
  if (!RenameIntoPlace(Staging, FinalName)) FailMove(FinalName);
  guard.Commit();
}
