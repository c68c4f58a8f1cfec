#include "manager/TaskStore.h"

#include "platform/files.h"
#include "platform/gui/textfile.h"

namespace {

constexpr char kRecordEnd = '@';

// The store must end right after an '@': whatever follows the last one was cut off by an
// interrupted write and is no task. Drop it so that an appended record stays whole.
void DropCutOffTail(const std::string& path) {
  int fd = platform::OpenFile(path, 2);
  if (fd < 0) return;  // the append itself reports the failure
  int64_t size = platform::FileSizeOf(fd);
  int64_t keep = size;
  char block[4096];
  while (keep > 0) {
    int64_t start = keep > static_cast<int64_t>(sizeof block) ? keep - static_cast<int64_t>(sizeof block) : 0;
    int32_t len = static_cast<int32_t>(keep - start);
    if (platform::SeekFile(fd, start, 0) != start || platform::ReadFile(fd, block, len) != len) {
      keep = size;  // unreadable: leave the file as it is
      break;
    }
    int32_t i = len;
    while (i > 0 && block[i - 1] != kRecordEnd) --i;
    if (i > 0) {
      keep = start + i;
      break;
    }
    keep = start;
  }
  if (keep < size) platform::TruncateFile(fd, keep);
  platform::CloseFile(fd);
}

}  // namespace

std::string TaskStorePath() { return platform::InstallDir() + "/records.dat"; }

void LoadTaskStore(TTaskTable& table, int32_t& count) {
  const std::string path = TaskStorePath();
  if (!platform::FileExists(path)) return;
  platform::TextFile file(path);
  file.Reset();
  std::string bytes;
  while (!file.Eof()) bytes += file.ReadChar();
  file.Close();
  ParseTaskStore(bytes, table, count);
}

void AppendTaskRecord(const TTaskRecord& record) {
  const std::string text = TaskRecordText(record);
  const std::string path = TaskStorePath();
  DropCutOffTail(path);
  platform::TextFile file(path);
  file.Append();
  // One write: the executor, reading at any moment, sees the record whole or not at all.
  file.Write(text);
  file.Close();
}

void SaveTaskStore(const TTaskTable& table, int32_t count, bool keptOnly) {
  const std::string text = TaskStoreText(table, count, keptOnly);
  platform::TextFile file(TaskStorePath());
  file.RewriteReplacing();
  file.Write(text);
  file.Close();
}
