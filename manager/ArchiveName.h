#pragma once
// Archive names made from the moment of a run, shared by the manager's on-demand backup and the
// executor. The mass deletion of archives selects by the same pattern, so the positions below are
// fixed: dd_MM_yyyy-HH_mm.zip (seconds are not part of the name).
#include <string>

// A time text with a one-digit hour ("9:05:33") gets a leading "0"; the result is cut to its
// first 5 characters (09:05). An empty text stays empty.
std::string TimeToHHMM(const std::string& time);

// The name for this moment, from the clock of platform::Now(): 08.12.2026 at 9:05:33 gives
// 08_12_2026-09_05.zip. Every call reads the clock anew.
std::string DateTimeArchiveName();

// Whether name has exactly that form, digits in every place: dd_MM_yyyy-HH_mm.zip.
bool IsDateTimeArchiveName(const std::string& name);

// Whether name is one of a task's archives in its backup folder: the task's fixed archiveName (with
// ".zip" when it has no extension, as the runs store it), a name by date and time, or a split
// volume of either (the archive's name with ".z01", ".z02", ... for its extension).
bool IsTaskArchiveName(const std::string& name, const std::string& archiveName);
