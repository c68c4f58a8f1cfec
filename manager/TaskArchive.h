#pragma once
// One run of a task into its archive, shared by the manager's on-demand backup and the executor:
// the archive's path and the compress run, with a replacing run that never loses the old archive.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/qrnZip.h"

// The writer's settings of both programs' Zip1: all but directory and system files, hidden
// folders entered too, deflate, stored archives of the known kinds, adding to an existing archive (a changed file replaces its
// entry, an unchanged one keeps it).
void SetTaskZipProperties(TZip& Zip);

// BackupDir joined with Name, with Zip's default extension when the name has none (the name
// under which the writer would store it anyway).
std::string TaskArchivePath(const TZip& Zip, const std::string& BackupDir, const std::string& Name);

// The OnError reports of one run, as lines for the user: the engine's text, the file, and the
// extended message where there is one. An error is shown once: a later report of the same error
// for the same file (the engine tells a failed step and then the run it ended) adds nothing.
class TEngineErrors {
 public:
  void Clear() { FLines.clear(); }
  void Add(const std::string& FileName, const std::string& ExtendedMsg, int32_t ECode);
  // A line of the program's own about FileName, shown as it stands.
  void AddLine(const std::string& FileName, const std::string& Line);
  bool Empty() const { return FLines.empty(); }
  // The first lines, and how many more there were.
  std::string Text() const;
  // Every line.
  std::vector<std::string> Lines() const;

 private:
  struct TLine {
    int32_t Code;
    std::string File;
    std::string Text;
  };
  std::vector<TLine> FLines;
};

// What one run came to. It failed when the engine reported an error or when the source folder
// gave no files at all (missing or empty); a run that found its files and had nothing new to add
// succeeded with Added 0.
struct TTaskRunResult {
  int32_t Added = 0;
  bool Succeeded = false;
  // What the run reported, under the names the user knows.
  TEngineErrors Errors;
  // The files that hold no data and were not stored, one line each; they do not fail the run.
  std::vector<std::string> NotStored;
};

// Runs Zip over every file of SourceFolder into Archive. A replacing run builds its archive under
// a hidden temporary name beside Archive (Program tells the two programs' runs apart) and renames
// it over Archive only when the run succeeded; otherwise the temporary file goes and Archive stays
// as it was. Only where nothing stands under Archive's name yet does a failed run that wrote an
// archive of what it could read put that in place. Every error reaches Zip's OnError under the
// names the user knows: Archive rather than the temporary name, and the source folder where the
// source gave nothing.
TTaskRunResult CompressTaskArchive(TZip& Zip, const std::string& SourceFolder, const std::string& Archive,
                                   bool Replace, const std::string& Program);
