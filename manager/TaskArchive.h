#pragma once
// One run of a task into its archive, shared by the manager's on-demand backup and the executor:
// the archive's path and the compress run, with a replacing run that never loses the old archive.
#include <cstdint>
#include <functional>
#include <string>

#include "archive/qrnZip.h"

// The writer's settings of both programs' Zip1: all but directory and system files, deflate,
// stored archives of the known kinds, adding to an existing archive (a changed file replaces its
// entry, an unchanged one keeps it).
void SetTaskZipProperties(TZip& Zip);

// BackupDir joined with Name, with Zip's default extension when the name has none (the name
// under which the writer would store it anyway).
std::string TaskArchivePath(const TZip& Zip, const std::string& BackupDir, const std::string& Name);

// Whether a replacing run's archive may take the old one's place; Added is Compress's result.
using TArchiveAccept = std::function<bool(int32_t Added)>;

// Runs Zip over every file of SourceFolder into Archive and returns the files added, 0 on any
// failure, which includes every run that the engine reported an error in. A replacing run builds
// its archive under a hidden temporary name beside Archive (Program tells the two programs' runs
// apart) and renames it over Archive only when Accept holds (empty: when files were added and
// nothing was reported); otherwise the temporary file goes, Archive stays as it was and the
// result is 0. A failed rename is reported through Zip's OnError.
int32_t CompressTaskArchive(TZip& Zip, const std::string& SourceFolder, const std::string& Archive, bool Replace,
                            const std::string& Program, const TArchiveAccept& Accept = {});
