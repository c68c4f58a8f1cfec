#pragma once
// The in-memory task table that both programs fill from the task store, and the store's record
// format, free of any file: the bytes of a store parsed into a table, and a table's records as
// the text of a store.
//
// Format: CP1251 bytes with no header, no line breaks and no end marker. A record is the 12
// fields TaskName..LogFile, fields 1-11 each followed by '|', field 12 by '@'; records follow
// each other directly. There is no escaping: a value never holds '|' or '@'.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Field numbers of a task: 1-12 as stored, 13 the in-memory deletion mark ("0" keep, "1" drop
// at the next rewrite).
enum TTaskField : int32_t {
  TaskName = 1,
  SourceDir,
  BackupDir,
  Mode,
  Kind,
  WeekDay,
  StartDate,
  StartTime,
  CopyType,
  ArchiveName,
  LogFlag,
  LogFile,
  Deleted
};
constexpr int32_t kStoredTaskFields = 12;
constexpr int32_t kTaskFields = 13;

// Tasks numbered from 1, 13 fields each, growing as tasks are stored: no limit on the number
// of tasks. Never cleared: elements that a load does not fill keep their earlier values.
class TTaskTable {
 public:
  // Field f (1-13) of task t (1 and up); writing reaches any task number.
  std::string& operator()(int32_t field, int32_t task);
  // A task never stored reads as empty fields.
  const std::string& operator()(int32_t field, int32_t task) const;
  // Tasks that have elements (the highest task number ever written).
  int32_t Capacity() const { return static_cast<int32_t>(FTasks.size()); }

 private:
  std::vector<std::array<std::string, kTaskFields>> FTasks;
};

// The 12 stored fields of one task, indexed by field number - 1.
using TTaskRecord = std::array<std::string, kStoredTaskFields>;

// True when a field value can be stored: code page 1251 holds it and it has no separator.
// The editor refuses other text with a message before anything is written.
bool IsStorableTaskText(const std::string& text);
// The characters of text that the store cannot keep, each once, in their order, quoted and
// separated by blanks: for the messages that refuse them.
std::string UnstorableTaskCharacters(const std::string& text);
// The refusal of text for a field (what the message calls it), naming the characters.
std::string UnstorableTaskTextMessage(const std::string& field, const std::string& text);

// A value as the store gives it back: characters 0-32 removed at both ends, those inside kept.
// The editor stores only values that this leaves unchanged.
std::string TrimmedTaskValue(const std::string& text);

// Fills table from the bytes of a store and sets count to the number of tasks + 1 (1 for no
// bytes). Values are trimmed of characters 0-32 at both ends; fields past the 12th of a malformed
// record are dropped; text after the last '@' is no task. Every task gets Deleted "0".
void ParseTaskStore(std::string_view bytes, TTaskTable& table, int32_t& count);

// The text of one record, and of a whole store from tasks 1 .. count - 1 (with keptOnly only
// those whose Deleted is "0"), as UTF-8 that code page 1251 holds. Every value is checked before
// any text is made: a value the store cannot keep raises EInOutError.
std::string TaskRecordText(const TTaskRecord& record);
std::string TaskStoreText(const TTaskTable& table, int32_t count, bool keptOnly);
