#include "manager/TaskLog.h"

#include <algorithm>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/gui/datetime.h"
#include "platform/gui/textfile.h"

namespace {

const std::string kBlankLine14(14, ' ');
const std::string kBlankLine3(3, ' ');

std::vector<std::string> HeaderLines() {
  return {"*****", std::string("Файл отчётов программы Tarvelo ver. ") + kTarveloVersion, " Создан: " + LogStamp(),
          "*****"};
}

void CheckWritable(const std::string& path, const std::vector<std::string>& lines) {
  for (const auto& line : lines) {
    if (!platform::Utf8ToCp1251(line)) {
      throw EInOutError("The log line \"" + line.substr(0, 200) +
                            "\" holds characters that code page 1251 cannot hold; nothing was written to " + path,
                        0);
    }
  }
}

// One code point of valid UTF-8 at text[i]: its length, 0 when the bytes there are not one.
size_t CodePointLength(const std::string& text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  return platform::IsValidUtf8(std::string_view(text).substr(i, length)) ? length : 0;
}

// A character that would break or garble a log line: C0 controls (newline, carriage return,
// tab, ...) and DEL.
bool IsControl(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F;
}

bool Logs(const TTaskTable& table, int32_t task) { return table(LogFlag, task) == "1"; }

void AppendTaskLog(const TTaskTable& table, int32_t task, const std::vector<std::string>& lines) {
  AppendLogLines(TaskLogPath(table(LogFile, task)), lines);
}

std::vector<std::string> ArchiveDeletionLines(const std::string& archivePath) {
  return {"->", LogStamp() + " Удаление резервной копии", "Имя файла: " + archivePath};
}

}  // namespace

std::string LogSafeText(const std::string& text) {
  const bool plain = std::none_of(text.begin(), text.end(), [](char c) { return IsControl(c); });
  if (plain && platform::Utf8ToCp1251(text)) return text;
  std::string safe;
  for (size_t i = 0; i < text.size();) {
    const size_t length = CodePointLength(text, i);
    char escape[16];
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[i]));
      safe += escape;
      ++i;
      continue;
    }
    const std::string point = text.substr(i, length);
    if (!IsControl(point[0]) && platform::Utf8ToCp1251(point)) {
      safe += point;
    } else {
      static constexpr unsigned kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
      unsigned code = static_cast<unsigned char>(point[0]) & kLeadBits[length];
      for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(point[k]) & 0x3F);
      // A fixed width for each form, so that no digit that follows can be read as part of it.
      std::snprintf(escape, sizeof escape, code > 0xFFFF ? "\\U%08X" : "\\u%04X", code);
      safe += escape;
    }
    i += length;
  }
  return safe;
}

bool IsPlainLogFileName(const std::string& logFile) {
  return !logFile.empty() && logFile != "." && logFile != ".." && logFile.find('/') == std::string::npos &&
         logFile.find('\0') == std::string::npos;
}

std::string TaskLogPath(const std::string& logFile) {
  if (!IsPlainLogFileName(logFile)) {
    throw EInOutError("The log file name \"" + logFile + "\" does not name a file of " + platform::InstallDir(), 0);
  }
  return platform::InstallDir() + "/" + logFile;
}

std::string LogStamp() {
  const double now = platform::Now();
  return platform::DateToStr(now) + " " + platform::TimeToStr(now);
}

void WriteTaskLogHeader(const std::string& logFlag, const std::string& logFile) {
  if (logFlag != "1") return;
  const std::string path = TaskLogPath(logFile);
  const auto lines = HeaderLines();
  platform::TextFile file(path);
  // Replaced whole: the executor may append at any moment, and must never find an empty log.
  file.RewriteReplacing();
  for (const auto& line : lines) file.WriteLn(line);
  file.Close();
}

void AppendLogLines(const std::string& path, const std::vector<std::string>& lines) {
  CheckWritable(path, lines);
  platform::TextFile file(path);
  if (file.AppendCreating()) {
    for (const auto& line : HeaderLines()) file.WriteLn(line);
  }
  for (const auto& line : lines) file.WriteLn(line);
  // One flush: the other program's blocks never interleave with the lines of this one.
  file.Close();
}

void WriteBackupStartEntry(const TTaskTable& table, int32_t task, TBackupRun run, const std::string& archiveName) {
  if (!Logs(table, task)) return;
  std::vector<std::string> lines;
  lines.push_back("->");
  lines.push_back(run == TBackupRun::OnDemand ? "Резервное копирование по требованию"
                                              : "Автоматическое резервное копирование");
  lines.push_back(LogStamp() + " Запуск задачи ");
  lines.push_back("Каталог данных: " + table(SourceDir, task));
  lines.push_back("Каталог резервной копии: " + table(BackupDir, task));
  lines.push_back("Имя файла: " + archiveName);
  lines.push_back(LogStamp() + " Старт копирования");
  AppendTaskLog(table, task, lines);
}

// Both kinds of run end alike.
void WriteBackupEndEntry(const TTaskTable& table, int32_t task, TBackupRun, int32_t added, bool succeeded,
                         const std::vector<std::string>& failures, const std::vector<std::string>& notStored) {
  if (!Logs(table, task)) return;
  std::vector<std::string> lines;
  if (!succeeded) {
    lines.push_back(kBackupFailureLine);
    for (const std::string& failure : failures) lines.push_back(LogSafeText(failure));
  } else {
    lines.push_back("Резервное копирование успешно завершено, скопировано: " + std::to_string(added) + " файлов");
  }
  for (const std::string& file : notStored) lines.push_back(LogSafeText(file));
  lines.push_back(LogStamp() + " Завершение задачи");
  lines.push_back(kBlankLine14);
  AppendTaskLog(table, task, lines);
}

void WriteRestoreStartEntry(const TTaskTable& table, int32_t task, const std::string& archivePath) {
  if (!Logs(table, task)) return;
  std::vector<std::string> lines;
  lines.push_back("->");
  lines.push_back("Востановление по требованию");
  lines.push_back(LogStamp() + " Запуск задачи ");
  lines.push_back("Каталог данных: " + table(SourceDir, task));
  lines.push_back("Имя файла резервной копии: " + archivePath);
  lines.push_back(LogStamp() + " Старт востановления");
  AppendTaskLog(table, task, lines);
}

void WriteRestoreEndEntry(const TTaskTable& table, int32_t task, int32_t extracted, bool succeeded,
                          const std::vector<std::string>& failures) {
  if (!Logs(table, task)) return;
  std::vector<std::string> lines;
  if (succeeded) {
    lines.push_back("Востановление успешно завершено, востановлено: " + std::to_string(extracted) + " файлов");
  } else {
    lines.push_back(kRestoreFailureLine);
    for (const std::string& failure : failures) lines.push_back(LogSafeText(failure));
  }
  lines.push_back(LogStamp() + " Завершение задачи");
  lines.push_back(kBlankLine14);
  AppendTaskLog(table, task, lines);
}

void WriteArchiveDeletionEntry(const TTaskTable& table, int32_t task, const std::string& archivePath) {
  if (!Logs(table, task)) return;
  AppendTaskLog(table, task, ArchiveDeletionLines(archivePath));
}

void CheckArchiveDeletionEntry(const TTaskTable& table, int32_t task, const std::string& archivePath) {
  if (!Logs(table, task)) return;
  CheckWritable(TaskLogPath(table(LogFile, task)), ArchiveDeletionLines(archivePath));
  AppendTaskLog(table, task, {});
}

void CheckTaskLogWritable(const TTaskTable& table, int32_t task) {
  if (Logs(table, task)) AppendTaskLog(table, task, {});
}

void WriteMassDeletionEntry(const TTaskTable& table, int32_t task, const std::vector<std::string>& names) {
  if (!Logs(table, task)) return;
  std::vector<std::string> lines;
  lines.push_back("->");
  lines.push_back(LogStamp() + " Массовое удаление резервных копий");
  lines.push_back("Каталог резервных копий: " + table(BackupDir, task));
  lines.push_back("Имена удалённых файлов:");
  for (const auto& name : names) lines.push_back(name);
  lines.push_back(kBlankLine3);
  lines.push_back("Удаление завершено, удалено: " + std::to_string(names.size()) + " файлов");
  lines.push_back(kBlankLine3);
  AppendTaskLog(table, task, lines);
}
