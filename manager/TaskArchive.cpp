#include "manager/TaskArchive.h"

#include <unistd.h>

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

}  // namespace

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

int32_t CompressTaskArchive(TZip& Zip, const std::string& SourceFolder, const std::string& Archive, bool Replace,
                            const std::string& Program, const TArchiveAccept& Accept) {
  const std::string work = Replace ? TemporaryArchivePath(Archive, Program) : Archive;
  Zip.SetArchiveFile(work);
  // The old archive may lie in the folder being backed up: it is never packed into its successor.
  Zip.ReplacedArchive = Replace ? Archive : std::string();
  Zip.FileSpec().Clear();
  Zip.FileSpec().Add(JoinPath(SourceFolder, "*.*"));
  // A run that the engine reported an error in is a failure even when it wrote an archive (a
  // file that could not be read is left out of it): the caller's handler still hears each report.
  int32_t reports = 0;
  const TOnError callerOnError = Zip.OnError;
  Zip.OnError = [&reports, &callerOnError](TObject* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                                           const std::string& VolumeID, int32_t ECode) {
    ++reports;
    if (callerOnError) callerOnError(Sender, FileName, ExtendedMsg, VolumeID, ECode);
  };
  int32_t n = Zip.Compress();
  Zip.OnError = callerOnError;
  if (!Replace) return reports > 0 ? 0 : n;
  const bool accepted = Accept ? Accept(n) : n >= 1 && reports == 0;
  if (accepted) {
    platform::SetPublishedMode(work, Archive);
    if (!platform::RenameFile(work, Archive)) {
      Zip.ReportError(Archive, "", "0", E_WRITE_ERROR);
      n = 0;
    }
  }
  if (!accepted || n < 1) {
    platform::DeleteFile(work);
    n = 0;
  }
  return reports > 0 ? 0 : n;
}
