#pragma once
// The per-task log: a CP1251 text file in the installation folder named by the task's LogFile,
// lines ending in CR LF. A 4-line header, then entries, each opened by the line "->". Every
// writer does nothing unless the task's LogFlag is exactly "1"; each block is one
// open-append-close. A log that is missing when an entry is appended is created with its header
// first, so no entry is lost.
#include <cstdint>
#include <string>
#include <vector>

#include "manager/TaskStore.h"

constexpr const char* kTarveloVersion = "1.0";

// Line 8 of a backup entry and line 7 of a restore entry when the run failed (each ends with a
// blank); the forms open their error boxes with them.
constexpr const char* kBackupFailureLine = "Невозможно произвести копирование файлов из-за внутренней ошибки! ";
constexpr const char* kRestoreFailureLine = "Невозможно произвести востановление файлов из-за внутренней ошибки! ";

// A LogFile value that names a file of the installation folder itself (no '/', not "." or "..").
bool IsPlainLogFileName(const std::string& logFile);
// InstallDir() + "/" + logFile; EInOutError when logFile is not a plain name.
std::string TaskLogPath(const std::string& logFile);

// text as one line of a log: what code page 1251 cannot hold is written as \uXXXX (\UXXXXXXXX
// beyond U+FFFF), a control character such as a newline as \uXXXX too, and a byte that is not
// UTF-8 (a file name from another system) as \xFF, never as '?'.
std::string LogSafeText(const std::string& text);

// "date time" of this moment, in the fixed formats (08.12.2026 9:05:33).
std::string LogStamp();

// Creates the log or empties it, and writes the header.
void WriteTaskLogHeader(const std::string& logFlag, const std::string& logFile);

enum class TBackupRun : uint8_t { OnDemand, Automatic };

// Lines 1-7 of a backup entry, written before the archive: archiveName is the name only.
void WriteBackupStartEntry(const TTaskTable& table, int32_t task, TBackupRun run, const std::string& archiveName);
// Lines 8-10: added is the number of files the run stored (0 for a run with nothing new to add);
// line 8 is the failure line when the run did not succeed.
// A failed run names what it left out: failures follow the failure line, one line each. The
// files that hold no data and were not stored (notStored) follow, after a success line too.
void WriteBackupEndEntry(const TTaskTable& table, int32_t task, TBackupRun run, int32_t added, bool succeeded,
                         const std::vector<std::string>& failures = {},
                         const std::vector<std::string>& notStored = {});

// Restore: archivePath is the archive's full path.
void WriteRestoreStartEntry(const TTaskTable& table, int32_t task, const std::string& archivePath);
// Line 7 is the failure line when the restore did not succeed (archive not opened, an entry
// damaged), followed by failures, one line each.
void WriteRestoreEndEntry(const TTaskTable& table, int32_t task, int32_t extracted, bool succeeded,
                          const std::vector<std::string>& failures = {});

void WriteArchiveDeletionEntry(const TTaskTable& table, int32_t task, const std::string& archivePath);
// Raises the I/O error that the deletion entry of archivePath would meet (a log that cannot be
// appended to, a name that code page 1251 cannot hold), writing nothing but the header of a log
// that was missing: checked before the archive goes, the entry written once it went.
void CheckArchiveDeletionEntry(const TTaskTable& table, int32_t task, const std::string& archivePath);
// Opens the task's log for appending and closes it, writing nothing (only the header of a log
// that was missing): raises the I/O error that an entry would meet.
void CheckTaskLogWritable(const TTaskTable& table, int32_t task);
// names are the archives the deletion removed, name only, in list order; the count is theirs.
void WriteMassDeletionEntry(const TTaskTable& table, int32_t task, const std::vector<std::string>& names);

// Appends lines to a log at path, creating it with the header when it is missing. The text is
// checked in full first: nothing is written when code page 1251 cannot hold a line.
void AppendLogLines(const std::string& path, const std::vector<std::string>& lines);
