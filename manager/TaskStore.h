#pragma once
// The task store records.dat in the installation folder, shared by the manager and the executor:
// the one file from which both fill their task tables.
#include <cstdint>
#include <string>

#include "manager/TaskTable.h"

// InstallDir() + "/records.dat".
std::string TaskStorePath();

// Fills table from the store and sets count to the number of tasks + 1 (1 for an empty store).
// A missing store leaves both unchanged. Values are trimmed of characters 0-32 at both ends;
// fields past the 12th of a malformed record are dropped. Every loaded task gets Deleted "0".
void LoadTaskStore(TTaskTable& table, int32_t& count);

// Appends one record to the existing store ("File not found" when it is missing). A cut-off
// record left at the end by an earlier interrupted write is dropped first, so that the new
// record does not merge with it.
void AppendTaskRecord(const TTaskRecord& record);

// Rewrites the store from tasks 1 .. count - 1, through a temporary file renamed over the store:
// the executor never reads half a store, and a failure leaves the old store whole. With
// keptOnly only the tasks whose Deleted is "0" are written (the deletion of a task).
void SaveTaskStore(const TTaskTable& table, int32_t count, bool keptOnly = false);
