#include "archive/qrnUnBase.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/qrnCrypt.h"
#include "platform/files.h"

namespace {

constexpr uint32_t kAttrArchiveOnly = 0x20;
// Entries in work are written to hidden files of this prefix beside their targets.
constexpr const char* kOutputTempPrefix = ".qrn";
// An entry of at most this size goes down in one write; where no file of its name exists it is
// written under that name (see OpenOutput).
constexpr int64_t kInPlaceLimit = 32768;
constexpr const char* kNameTaken = "an earlier entry of the archive came out under this name";

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::string withSlash(const std::string& Dir) { return Dir.empty() ? Dir : AddSlash(Dir); }


}  // namespace

TUnBase::TUnBase() {
  FCreateStoredDirs = false;
  FDateAttribute = daFileDate;
  FRecurseDirs = true;
  FRestoreFileAttr = true;
}

TUnBase::~TUnBase() = default;

void TUnBase::SetArchiveFile(const std::string& Value) { TRegisterQarno::SetArchiveFile(Value); }

void TUnBase::ExtractArchive(std::unique_ptr<TStream32>& /*Archive*/, TStream32*& /*Output*/) {}

bool TUnBase::CheckPassword(uint8_t* /*Buffer*/) { return false; }

// --- the run -------------------------------------------------------------------------------

int32_t TUnBase::Extract() {
  OutputMode = 0;
  FFilesFailed = 0;
  FBytesWritten = 0;
  std::unique_ptr<TStream32> archive;
  if (!OpenArchive(archive)) return 0;
  TStream32* output = nullptr;
  const int32_t result = RunExtraction(archive, output);
  archive.reset();
  return result;
}

bool TUnBase::OpenArchive(std::unique_ptr<TStream32>& Archive) {
  const std::string name = ArchiveFile();
  if (name.empty()) {
    ReportError(name, "", "0", E_FILE_NOT_FOUND);
    return false;
  }
  if (FArcType == atZipDS || FArcType == atZipMV) {
    bool ready = false;
    try {
      ready = DiskManager->CheckDiskOfPath(
          name, OnDiskInDrvErr, OnDiskWriteProtectErr,
          [this](const std::string& f, const std::string& e, const std::string& v, int32_t c) {
            ReportError(f, e, v, c);
          },
          [this](TExceptionClass k, const std::string& f, const std::string& e, const std::string& v, int32_t c) {
            RaiseError(k, f, e, v, c);
          },
          false);
    } catch (...) {
      ready = false;
    }
    if (!ready) return false;
  }
  switch (FArcType) {
    case atAce: case atAceExe: case atCab: case atCabExe: case atRar: case atRarExe:
      return true;  // no reader of this system decodes them: the driver reports it
    default:
      break;
  }
  auto file = std::make_unique<TFileStream32>(name, platform::kModeReadDenyWrite);
  if (file->Handle() < 0) {
    ReportError(name, "", "0", E_OPEN_ERROR);
    return false;
  }
  VolumeSize = file->Size();
  Archive = std::move(file);
  return true;
}

void TUnBase::ResetRun() {
  *CancelRef = false;
  FilesDone = 0;
  ProgressHook = [this](uint8_t ByFile, uint8_t ByArchive) { FireProgress(ByFile, ByArchive); };
  Entry = TUnEntry{};
  PasswordFailed = false;
  PackedTotal = 0;
  UnpackedTotal = 0;
  ArchiveTotal = 0;
  FileTotal = 0;
  MaxFileDate = 0;
  BytesLeft = 0;
  if (FCpuType == cpt80486) FCpuType = cptAuto;
  VolumeFileName = ArchiveFile();
  FExcludeSpec.Clear();
  FFilesFailed = 0;
  FOutputFull = false;
  FSweptFolders.clear();
  FPlacedFiles.clear();
  FBytesWritten = 0;
  FNewFileMode = platform::NewFileMode();
}

int32_t TUnBase::RunExtraction(std::unique_ptr<TStream32>& Archive, TStream32*& Output) {
  ResetRun();
  const std::string remembered = FArchiveFile;
  const TArcType rememberedType = FArcType;
  const bool timed = static_cast<bool>(OnElapsedTime);
  try {
    if (OnActivate) OnActivate(this);
    if (timed) Timer.Start();
    FPassword.clear();
    FCurrentFileName.clear();
    ExtractArchive(Archive, Output);
  } catch (...) {
    // The run ends quietly; the counters stand as they are.
  }
  DiscardOutput();  // an entry that never came to its verdict
  try {
    if (timed) {
      Timer.Stop();
      OnElapsedTime(this, Timer.ElapsedTime);
    }
    if (OnDeactivate) OnDeactivate(this);
  } catch (...) {
  }
  // The span reader re-detects the archive on each disk; the caller gets its archive back.
  FArchiveFile = remembered;
  FArcType = rememberedType;
  CancelRef = &Canceled;
  return FilesDone;
}

// --- per-entry steps -----------------------------------------------------------------------

bool TUnBase::BeginFile(bool IsFolder) {
  if (IsFolder) return true;
  TTimerPause pause(Timer);
  bool extract = true;
  if (OnBegin) {
    if (OnRenameFile) {
      std::string newName = FCurrentFileName;
      OnRenameFile(this, FCurrentFileName, newName);
      if (!newName.empty()) {
        ForceDirectories(FolderPart(newName));
        FCurrentFileName = newName;
      }
    }
    OnBegin(this, FCurrentFileName, FilesDone + 1, extract);
  }
  if (GetCancel() || !extract) return false;
  // Two entries that come out under one name (a name stored twice, names that differ only in
  // what the cleaning of a path drops): the file already put down stays, as replacing it would
  // lose it without a word, and the later entry is named as not restored. It ends failed: which
  // of the two is the file the user wants back is in doubt.
  if (FPlacedFiles.count(FCurrentFileName) != 0) {
    ReportError(FCurrentFileName, kNameTaken, "0", E_WRITE_ERROR);
    CountFailed();
    if (OnEnd) OnEnd(this, FCurrentFileName, false);
    return false;
  }

  if (!FConfirmOverwrites) {
    const bool accepted = FOverwriteMode == omOverwrite && !FCurrentFileName.empty();
    if (accepted) ++FilesDone;
    return accepted;
  }

  FOverwriteMode = omOverwrite;
  if (platform::FileExists(FCurrentFileName)) {
    if (!OnFileExists) {
      ReportError(FCurrentFileName, "OnFileExists", "0", E_EVENT_NOT_ASSIGNED);
      FOverwriteMode = omSkip;
    } else {
      do {
        std::string newName;
        OnFileExists(this, FCurrentFileName, newName, FOverwriteMode);
        if (newName.empty()) newName = FCurrentFileName;
        ForceDirectories(FolderPart(newName));
        if (FOverwriteMode == omOverwrite) {
          // A name that differs only in letter case is another file here.
          if (newName == FCurrentFileName) break;
          FCurrentFileName = newName;
        }
      } while (!GetCancel() && FOverwriteMode != omSkip &&
               platform::GetFileAttributes(FCurrentFileName) != platform::kInvalidAttributes);
    }
    if (!GetCancel() && FOverwriteMode != omSkip) {
      const uint32_t attrs = platform::GetFileAttributes(FCurrentFileName);
      if (attrs != platform::kInvalidAttributes && (attrs & platform::kAttrReadOnly)) {
        if (attrs & (platform::kAttrSystem | platform::kAttrDirectory)) {
          ReportError(FCurrentFileName, "", "0", E_WRITE_ERROR);
          return false;
        }
        platform::SetFileAttributes(FCurrentFileName, platform::kAttrNormal);
      }
    }
  }
  const bool accepted = !GetCancel() && FOverwriteMode == omOverwrite && !FCurrentFileName.empty();
  if (accepted) ++FilesDone;
  return accepted;
}

bool TUnBase::OpenOutput(std::unique_ptr<TStream32>& Output, const std::string& Name,
                         const std::string& /*StoredName*/) {
  DiscardOutput();
  if (Entry.Encrypted() && PasswordFailed) return true;
  if (Name.empty()) return false;
  const std::string folder = FolderPart(Name);
  // A killed run never removes the entry it was writing here; a live run's claim keeps its own.
  if (FSweptFolders.insert(folder).second) platform::RemoveTempLeftovers(folder, kOutputTempPrefix);
  // A small entry where nothing of that name exists is written under the name itself: creating
  // and renaming a staged file would cost more than its data. Made new, it replaces nothing; an
  // entry that fails its checks or never comes to them is removed (DiscardOutput) as its staged
  // file would be; and as it goes down in one write, a killed run cannot leave part of its data
  // under its name. Larger entries are staged, so a killed run leaves them as leftovers that a
  // later run removes. The folder is made when the file cannot be: most entries go to a folder
  // that is already there. An entry of a split archive may wait between its parts for the next
  // disk: it is staged whatever its size.
  auto take = [&](int Fd, const std::string& File, bool InPlace, bool ModeSet) {
    FOutputTemp = File;
    FOutputTarget = Name;
    FOutputInPlace = InPlace;
    FOutputModeSet = ModeSet;
    // A private file is private from its first byte on. Most files want the mode they were
    // made with, and keep it.
    const uint32_t made = InPlace || ModeSet ? FNewFileMode : FNewFileMode & 0600u;
    // A file that cannot take its own bits (a share that keeps no modes) would come out more open
    // than it was stored: it is not restored.
    if (FRestoreFileAttr && Entry.Permissions >= 0 && static_cast<uint32_t>(Entry.Permissions) != made &&
        !platform::SetFilePermissions(Fd, File, static_cast<uint32_t>(Entry.Permissions))) {
      ReportModeNotSet(Name, platform::LastError(), E_CLOSE_ERROR);
      EntryNotDecoded();
    }
    Output = std::make_unique<TFileStream32>(Fd, 0);
    return true;
  };
  int fd = -1;
  const bool split = FArcType == atZipDS || FArcType == atZipMV;
  if (!split && Entry.UnpackedSize >= 0 && Entry.UnpackedSize <= kInPlaceLimit) {
    fd = platform::CreateNewFile(Name);
    if (fd < 0 && platform::LastError() == ENOENT && !folder.empty() && ForceDirectories(folder))
      fd = platform::CreateNewFile(Name);
  }
  if (fd >= 0) return take(fd, Name, true, true);
  // What could not be opened for writing is not replaced either.
  const uint32_t existing = platform::GetFileAttributes(Name);
  if (existing != platform::kInvalidAttributes &&
      (existing & (platform::kAttrReadOnly | platform::kAttrDirectory)) != 0)
    return false;
  // Over a file, the entry is written beside it and takes its place only once it passed its
  // checks (CheckCrc): a damaged or cancelled entry never replaces a good file. A file that
  // replaces none (a name that came free meanwhile) is made with the mode it keeps.
  const bool replacesNone = existing == platform::kInvalidAttributes;
  std::string temp;
  fd = platform::CreateTempFile(folder, kOutputTempPrefix, replacesNone, temp);
  if (fd < 0 && !folder.empty() && ForceDirectories(folder))
    fd = platform::CreateTempFile(folder, kOutputTempPrefix, replacesNone, temp);
  return fd >= 0 && take(fd, temp, false, replacesNone);
}

void TUnBase::DiscardOutput() {
  if (!FOutputTemp.empty()) platform::DeleteFile(FOutputTemp);
  FOutputTemp.clear();
  FOutputTarget.clear();
}

bool TUnBase::CommitOutput() {
  if (FOutputTemp.empty()) return true;
  if (FOutputInPlace) {
    FPlacedFiles.insert(FOutputTarget);
    FOutputTemp.clear();
    FOutputTarget.clear();
    return true;
  }
  const bool moved = platform::RenameFile(FOutputTemp, FOutputTarget);
  if (!moved) ReportError(FOutputTarget, "", "0", E_WRITE_ERROR);
  if (moved) {
    FPlacedFiles.insert(FOutputTarget);
    FOutputTemp.clear();  // nothing left to remove
  }
  DiscardOutput();
  return moved;
}

bool TUnBase::AskPassword(TStream32& Archive) {
  TTimerPause pause(Timer);
  std::array<uint8_t, 24> buffer{};
  ReadHook(Archive, static_cast<int32_t>(kEncryptionHeaderSize), 0, false, buffer.data());
  std::copy_n(buffer.begin(), kEncryptionHeaderSize, buffer.begin() + kEncryptionHeaderSize);
  // Every trial deciphers the same raw header.
  auto check = [&] {
    std::copy_n(buffer.begin() + kEncryptionHeaderSize, kEncryptionHeaderSize, buffer.begin());
    return CheckPassword(buffer.data());
  };
  bool ok = check();
  for (int32_t i = 0; !ok && i < FPasswords.Count(); ++i) {
    FPassword = FPasswords[i];
    ok = check();
  }
  if (ok) return true;
  if (!OnGetPassword) {
    ReportError(FCurrentFileName, "OnGetPassword", "0", E_EVENT_NOT_ASSIGNED);
    return false;
  }
  bool tryAgain = true;
  for (int32_t attempt = 0; attempt < FPasswordAttempts; ++attempt) {
    if (GetCancel()) break;
    OnGetPassword(this, FCurrentFileName, FPassword, tryAgain);
    if (!tryAgain) {
      ReportError(FCurrentFileName, "", "0", E_INVALID_PASSWORD);
      break;
    }
    ok = check();
    if (ok) {
      FPasswords.Insert(0, FPassword);
      break;
    }
    FPassword.clear();
    ReportError(FCurrentFileName, "", "0", E_INVALID_PASSWORD);
  }
  return ok;
}

void TUnBase::EndFile(std::unique_ptr<TStream32>& Output, const std::string& Name, uint32_t Attributes,
                      uint32_t DosDateTime) {
  uint32_t date = GetFileDate(DosDateTime);
  if (date == 0) date = kDefaultDosDateTime;
  const int64_t modified = platform::LocalDosTimeToUnixTime(date);
  // The date goes on through the open file, which is done with; a failure is ignored.
  const auto* handle = dynamic_cast<const THandleStream32*>(Output.get());
  const bool dated = handle != nullptr && handle->Handle() >= 0 && platform::SetFileModifiedTime(handle->Handle(), modified);
  // A file that could not be finished (its close failed, as on a full network share, or it
  // cannot take the permissions of the file it replaces) is no restored file: it is reported
  // here and removed at the verdict, and a file it was to replace stays as it was.
  if (!CloseOutput(Output)) {
    ReportError(Name, std::strerror(platform::LastError()), "0", E_CLOSE_ERROR);
    EntryNotDecoded();
  }
  // Date and attributes go on the written file, which keeps them when it takes Name's place.
  const bool staged = !FOutputTemp.empty() && Name == FOutputTarget;
  const std::string& file = staged ? FOutputTemp : Name;
  // An entry that carries its permission bits has them from when its file was made (OpenOutput);
  // others take the mode of the file they replace, or a new file's.
  const bool ownMode = FRestoreFileAttr && Entry.Permissions >= 0;
  if (staged && !FOutputModeSet && !ownMode && !FEntryNotDecoded && !SetPublishedMode(file, Name, E_CLOSE_ERROR))
    EntryNotDecoded();
  if (!dated) platform::SetFileModifiedTime(file, modified);
  if (FRestoreFileAttr && !ownMode && Attributes != kAttrArchiveOnly) platform::SetFileAttributes(file, Attributes);
}

bool TUnBase::CheckCrc(uint8_t Kind, uint32_t StoredCrc) {
  bool verdict = false;
  if (!GetCancel()) {
    const uint32_t running = Kind == 16 ? CryptState().Crc16 : CryptState().Crc32;
    verdict = StoredCrc == running || StoredCrc == (running ^ 0xFFFFFFFFu);
  }
  // Damage the CRC cannot show (an unsupported method, data that ended early, a refused write)
  // still fails the entry.
  if (FEntryDamaged) verdict = false;
  bool placed = true;
  if (verdict) {
    placed = CommitOutput();
    verdict = placed;
  } else {
    DiscardOutput();
  }
  if (!verdict) CountFailed();
  if (OnEnd) OnEnd(this, FCurrentFileName, verdict);
  // A failed verdict is always reported, also when OnEnd is assigned: a caller that shows only
  // errors must not take a damaged file for a restored one.
  if (!verdict && placed && !GetCancel() && !FEntryNotDecoded) ReportError(FCurrentFileName, "", "0", E_CRC_ERROR);
  return verdict;
}

int32_t TUnBase::WriteDecrypted(TStream32* Output, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode,
                                bool Decrypt) {
  const int32_t done = FilesDone;
  int32_t written = 0;
  try {
    written = TZipCommon::WriteDecrypted(Output, Buffer, CrcFlag, Count, CrcMode, Decrypt);
  } catch (...) {
    FilesDone = done;
    FEntryDamaged = true;
    throw;
  }
  FilesDone = done;
  if (written > 0) {
    FEntryWritten += written;
    FBytesWritten += written;
  }
  if (written < Count) FEntryDamaged = true;
  return written;
}

void TUnBase::ReportShortWrite(bool DiskFull) {
  EntryNotDecoded();
  if (DiskFull) {
    FOutputFull = true;
    FilesDone = 0;
    RaiseError(Throw_E_RAISE, FCurrentFileName, "", "0", E_DISK_FULL);
    return;
  }
  if (FilesDone > 0) --FilesDone;
  ReportError(FCurrentFileName, "", "0", E_WRITE_ERROR);
}

void TUnBase::AdvanceProgress(const TUnEntry& Record) {
  BytesLeft -= Record.UnpackedSize;
  DoProgress(ArchiveTotal, Record.UnpackedSize, Record.UnpackedSize);
}

// --- names ---------------------------------------------------------------------------------

std::string TUnBase::PathDirPart(const std::string& Path) {
  // Names and masks separate folders by '/' alone: a '\' or a ':' is a byte of a name.
  const size_t p = Path.rfind('/');
  if (p == std::string::npos || p == 0) return {};
  return Path.substr(0, p);
}

bool TUnBase::MatchesEntrySpec(const std::string& Name, const TStrings& Specs, const TStrings& Excludes,
                               bool Recurse) {
  const std::string entryDir = withSlash(PathDirPart(Name));
  for (int32_t i = 0; i < Specs.Count(); ++i) {
    std::string mask = Specs[i];
    if (mask.empty()) continue;
    if (sameText(mask, Name)) return true;
    const std::string maskDir = withSlash(PathDirPart(mask));
    std::string candidate = Name;
    if (!Recurse) {
      if (!sameText(maskDir, entryDir)) continue;
    } else if (maskDir.empty()) {
      candidate = NamePart(Name);
    }
    bool hit = IsMaskMatch(candidate, mask);
    if (!hit) {
      if (candidate.find('.') == std::string::npos) candidate += '.';
      if (mask.find('.') == std::string::npos) mask += '.';
      hit = IsMaskMatch(candidate, mask);
    }
    if (hit) {
      for (int32_t j = 0; j < Excludes.Count(); ++j)
        if (IsMaskMatch(candidate, Excludes[j])) return false;
      return true;
    }
  }
  return false;
}
