#include "manager/TaskArchive.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "archive/qrnBase.h"
#include "platform/files.h"

namespace {

// A name that no other run uses: the program and its pid tell processes apart, the counter the
// runs of one.
std::string TemporaryArchivePath(const std::string& finalPath, const std::string& program) {
  static uint32_t counter = 0;
  const size_t slash = finalPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
  const std::string name = finalPath.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string path;
  do {
    // Hidden, and the archive's own name last, so that its extension stays the archive's.
    path = folder + ".~" + program + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" + name;
  } while (platform::GetFileAttributes(path) != platform::kInvalidAttributes);
  return path;
}

// A box that reports a thousand unreadable files stays readable.
constexpr size_t kShownErrors = 10;

// Not even a broken link: renaming onto the name replaces nothing.
bool NothingAt(const std::string& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::not_found;
}

}  // namespace

void TEngineErrors::Add(const std::string& FileName, const std::string& ExtendedMsg, int32_t ECode) {
  const auto same = [&](const TLine& l) { return l.Code == ECode && l.File == FileName; };
  if (std::any_of(FLines.begin(), FLines.end(), same)) return;
  std::string line = ErrorMessage(ECode);
  if (!FileName.empty()) line += ": " + FileName;
  if (!ExtendedMsg.empty() && ExtendedMsg != FileName) line += " (" + ExtendedMsg + ")";
  FLines.push_back({ECode, FileName, std::move(line)});
}

void TEngineErrors::AddLine(const std::string& FileName, const std::string& Line) {
  FLines.push_back({0, FileName, Line});
}

std::string TEngineErrors::Text() const {
  std::string text;
  for (size_t i = 0; i < FLines.size() && i < kShownErrors; ++i) text += (i ? "\n" : "") + FLines[i].Text;
  if (FLines.size() > kShownErrors) text += "\n... (+" + std::to_string(FLines.size() - kShownErrors) + ")";
  return text;
}

std::vector<std::string> TEngineErrors::Lines() const {
  std::vector<std::string> lines;
  for (const TLine& l : FLines) lines.push_back(l.Text);
  return lines;
}

void SetTaskZipProperties(TZip& Zip) {
  Zip.SetAttributes({fsZeroAttr, fsReadOnly, fsArchive, fsCompressed, fsEncrypted});
  Zip.SetDeleteOptions(doAllowUndo);
  Zip.SetArcType(atZip);
  Zip.SetAttributesEx({});
  Zip.SetCompressMethod(cmDeflate);
  Zip.SetDefaultExt(".zip");
  Zip.StoreFilesOfType().Clear();
  for (const char* ext : KnownArchiveExtensions) Zip.StoreFilesOfType().Add(ext);
  Zip.SetSwitch(swAdd);
  // A dot folder is only hidden from view: a backup copies the whole source folder.
  Zip.SetIncludeHiddenDirs(true);
  // Adding to an existing archive: a file that changed since it was stored replaces its entry,
  // an unchanged one keeps it. Without answers the writer would keep every old entry, so a
  // changed file's new content would never reach the backup.
  Zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                         int32_t, int32_t, bool& replace) { replace = true; };
  Zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
}

std::string TaskArchivePath(const TZip& Zip, const std::string& BackupDir, const std::string& Name) {
  std::string archive = JoinPath(BackupDir, Name);
  if (LastDotPos(archive) == archive.size()) archive += Zip.DefaultExt();
  return archive;
}

TTaskRunResult CompressTaskArchive(TZip& Zip, const std::string& SourceFolder, const std::string& Archive,
                                   bool Replace, const std::string& Program) {
  const std::string work = Replace ? TemporaryArchivePath(Archive, Program) : Archive;
  // Every report of the run is counted, and told under the names the user knows.
  TTaskRunResult result;
  int32_t reports = 0;
  const TOnError userHandler = Zip.OnError;
  Zip.OnError = [&](TObject* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                    const std::string& VolumeID, int32_t ECode) {
    ++reports;
    // Nothing to do means the source gave nothing: the archive is not what is wrong.
    const std::string file = ECode == E_NOTHING_TO_DO ? SourceFolder : FileName == work ? Archive : FileName;
    const std::string extended = ExtendedMsg == work ? Archive : ExtendedMsg;
    result.Errors.Add(file, extended, ECode);
    if (userHandler) userHandler(Sender, file, extended, VolumeID, ECode);
  };
  const TOnNotStored userNotStored = Zip.OnNotStored;
  Zip.OnNotStored = [&](TObject* Sender, const std::string& FileName, const std::string& Reason) {
    result.NotStored.push_back(ErrorMessage(E_NOT_STORED) + ": " + FileName + " (" + Reason + ")");
    if (userNotStored) userNotStored(Sender, FileName, Reason);
  };
  struct TRestoreHandler {
    TZip& Zip;
    const TOnError& Handler;
    const TOnNotStored& NotStored;
    ~TRestoreHandler() {
      Zip.OnError = Handler;
      Zip.OnNotStored = NotStored;
    }
  } restore{Zip, userHandler, userNotStored};

  if (!platform::DirectoryExists(SourceFolder)) {
    Zip.ReportError(SourceFolder, "", "0", E_INVALID_DIRECTORY);
    return result;
  }
  Zip.SetArchiveFile(work);
  // The old archive may lie in the folder being backed up: it is never packed into its successor.
  Zip.ReplacedArchive = Replace ? Archive : std::string();
  Zip.FileSpec().Clear();
  Zip.FileSpec().Add(JoinPath(SourceFolder, "*.*"));
  result.Added = Zip.Compress();
  // A replacing run that added nothing wrote nothing that could take the old archive's place.
  if (Replace && result.Added < 1 && reports == 0) Zip.ReportError(SourceFolder, "", "0", E_NOTHING_TO_DO);
  result.Succeeded = reports == 0;
  // A run that could not read every file still wrote a sound archive of the rest. Where the name
  // holds no archive yet (a dated name) that is the only backup there is, and it stays; an
  // archive the name already holds is never replaced by a run that missed files.
  const bool publish =
      Replace && (result.Succeeded || (result.Added > 0 && platform::FileExists(work) && NothingAt(Archive)));
  bool published = false;
  if (publish) {
    published = Zip.RenameIntoPlace(work, Archive);
    if (!published) Zip.ReportError(Archive, "", "0", E_WRITE_ERROR);
    // An archive that went in place without the old one's permissions was reported so.
    result.Succeeded = reports == 0;
  }
  if (Replace && !published) platform::DeleteFile(work);
  if (!result.Succeeded) result.Added = 0;
  return result;
}
