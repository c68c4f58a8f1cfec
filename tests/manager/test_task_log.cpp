// The task log: the header, every entry kind line by line in CP1251 with CR LF, the LogFlag
// that must be exactly "1", and a log that is missing when an entry comes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "manager/TaskLog.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/gui/datetime.h"
#include "tests/support/QtTestSupport.h"

namespace {

class TaskLog : public testsupport::TempHomeTest {
 protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 12, 8, 9, 5, 33); });
    table_(TaskName, 1) = "Документы";
    table_(SourceDir, 1) = "/home/u/Документы";
    table_(BackupDir, 1) = "/backup/Документы";
    table_(LogFlag, 1) = "1";
    table_(LogFile, 1) = "Документы.log";
  }
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    TempHomeTest::TearDown();
  }
  std::string LogPath() const { return home_ + "/Документы.log"; }
  // The expected bytes: each line in CP1251 followed by CR LF.
  static std::string Lines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const auto& l : lines) out += platform::Utf8ToCp1251(l).value() + "\r\n";
    return out;
  }
  static std::string Header() {
    return Lines({"*****", "Файл отчётов программы Tarvelo ver. 1.0", " Создан: 08.12.2026 9:05:33", "*****"});
  }

  TTaskTable table_;
};

TEST_F(TaskLog, HeaderCreatesOrEmptiesTheLog) {
  WriteTaskLogHeader("1", "Документы.log");
  const std::string header = ReadBytes(LogPath());
  EXPECT_EQ(header, Header());
  EXPECT_EQ(header.substr(0, 7), "*****\r\n");
  EXPECT_EQ(static_cast<unsigned char>(header[7]), 0xD4u);  // 'Ф' in CP1251

  WriteArchiveDeletionEntry(table_, 1, "/backup/Документы/a.zip");
  WriteTaskLogHeader("1", "Документы.log");  // the log view's "Очистить"
  EXPECT_EQ(ReadBytes(LogPath()), Header());
}

TEST_F(TaskLog, BackupEntriesOnDemandAndAutomatic) {
  WriteTaskLogHeader("1", "Документы.log");
  WriteBackupStartEntry(table_, 1, TBackupRun::OnDemand, "08_12_2026-09_05.zip");
  WriteBackupEndEntry(table_, 1, TBackupRun::OnDemand, 0, false);
  const std::string onDemand = Lines({"->", "Резервное копирование по требованию", "08.12.2026 9:05:33 Запуск задачи ",
                                      "Каталог данных: /home/u/Документы",
                                      "Каталог резервной копии: /backup/Документы", "Имя файла: 08_12_2026-09_05.zip",
                                      "08.12.2026 9:05:33 Старт копирования",
                                      "Невозможно произвести копирование файлов из-за внутренней ошибки! ",
                                      "08.12.2026 9:05:33 Завершение задачи", std::string(14, ' ')});
  EXPECT_EQ(ReadBytes(LogPath()), Header() + onDemand);

  WriteTaskLogHeader("1", "Документы.log");
  WriteBackupStartEntry(table_, 1, TBackupRun::Automatic, "docs.zip");
  WriteBackupEndEntry(table_, 1, TBackupRun::Automatic, 0, false);
  WriteBackupStartEntry(table_, 1, TBackupRun::Automatic, "docs.zip");
  WriteBackupEndEntry(table_, 1, TBackupRun::Automatic, 12, true);
  const std::string start = Lines({"->", "Автоматическое резервное копирование", "08.12.2026 9:05:33 Запуск задачи ",
                                   "Каталог данных: /home/u/Документы", "Каталог резервной копии: /backup/Документы",
                                   "Имя файла: docs.zip", "08.12.2026 9:05:33 Старт копирования"});
  const std::string failed = Lines({"Невозможно произвести копирование файлов из-за внутренней ошибки! ",
                                    "08.12.2026 9:05:33 Завершение задачи", std::string(14, ' ')});
  const std::string succeeded = Lines({"Резервное копирование успешно завершено, скопировано: 12 файлов",
                                       "08.12.2026 9:05:33 Завершение задачи", std::string(14, ' ')});
  EXPECT_EQ(ReadBytes(LogPath()), Header() + start + failed + start + succeeded);
}

TEST_F(TaskLog, RestoreAndDeletionEntries) {
  WriteTaskLogHeader("1", "Документы.log");
  WriteRestoreStartEntry(table_, 1, "/backup/Документы/a.zip");
  WriteRestoreEndEntry(table_, 1, 3, true);
  WriteArchiveDeletionEntry(table_, 1, "/backup/Документы/a.zip");
  WriteMassDeletionEntry(table_, 1, {"01_12_2026-10_00.zip", "02_12_2026-10_00.zip", "03_12_2026-10_00.zip"});
  const std::string restore = Lines({"->", "Востановление по требованию", "08.12.2026 9:05:33 Запуск задачи ",
                                     "Каталог данных: /home/u/Документы",
                                     "Имя файла резервной копии: /backup/Документы/a.zip",
                                     "08.12.2026 9:05:33 Старт востановления",
                                     "Востановление успешно завершено, востановлено: 3 файлов",
                                     "08.12.2026 9:05:33 Завершение задачи", std::string(14, ' ')});
  const std::string deletion =
      Lines({"->", "08.12.2026 9:05:33 Удаление резервной копии", "Имя файла: /backup/Документы/a.zip"});
  const std::string mass = Lines({"->", "08.12.2026 9:05:33 Массовое удаление резервных копий",
                                  "Каталог резервных копий: /backup/Документы", "Имена удалённых файлов:",
                                  "01_12_2026-10_00.zip", "02_12_2026-10_00.zip", "03_12_2026-10_00.zip", "   ",
                                  "Удаление завершено, удалено: 3 файлов", "   "});
  EXPECT_EQ(ReadBytes(LogPath()), Header() + restore + deletion + mass);
}

// A name in a log line is written so that it stays one line and reads back one way: a control
// character (a newline splits the entry) and a character code page 1251 cannot hold become an
// escape of fixed width, \u for the 16-bit range and \U beyond it, so that a digit after it is
// never taken for part of it; a byte that is not UTF-8 becomes \x.
TEST_F(TaskLog, NamesInLinesStayOneLineAndReadBackOneWay) {
  const std::pair<std::string, std::string> rows[] = {
      {"smile\xF0\x9F\x98\x80" "0.txt", "smile\\U0001F6000.txt"},
      {"two\nlines.txt", "two\\u000Alines.txt"},
      {"cr\rlf.txt", "cr\\u000Dlf.txt"},
      {"tab\tbed", "tab\\u0009bed"},
      {"del\x7F", "del\\u007F"},
      {"\xE4\xB8\xAD" "0.txt", "\\u4E2D0.txt"},
      {"latin\xFF.txt", "latin\\xFF.txt"},
      {"Отчёт.txt", "Отчёт.txt"},
  };
  WriteTaskLogHeader("1", "Документы.log");
  std::vector<std::string> failures, notStored;
  std::vector<std::string> restore;
  for (const auto& [name, logged] : rows) {
    EXPECT_EQ(LogSafeText(name), logged) << logged;
    failures.push_back("Error opening file: /src/" + name);
    notStored.push_back("Not stored, holds no file data: /src/" + name + " (socket)");
  }
  WriteBackupEndEntry(table_, 1, TBackupRun::Automatic, 0, false, failures, notStored);
  WriteRestoreEndEntry(table_, 1, 0, false, failures);
  std::string backupLines = Lines({"Невозможно произвести копирование файлов из-за внутренней ошибки! "});
  std::string restoreLines = Lines({"Невозможно произвести востановление файлов из-за внутренней ошибки! "});
  for (const auto& [name, logged] : rows) {
    backupLines += Lines({"Error opening file: /src/" + logged});
    restoreLines += Lines({"Error opening file: /src/" + logged});
  }
  for (const auto& [name, logged] : rows) backupLines += Lines({"Not stored, holds no file data: /src/" + logged + " (socket)"});
  const std::string end = Lines({"08.12.2026 9:05:33 Завершение задачи", std::string(14, ' ')});
  EXPECT_EQ(ReadBytes(LogPath()), Header() + backupLines + end + restoreLines + end);
}

TEST_F(TaskLog, NothingIsTouchedUnlessLogFlagIsExactlyOne) {
  for (const char* flag : {"0", "", "1 ", "yes"}) {
    table_(LogFlag, 1) = flag;
    WriteTaskLogHeader(flag, "Документы.log");
    WriteBackupStartEntry(table_, 1, TBackupRun::OnDemand, "a.zip");
    WriteBackupEndEntry(table_, 1, TBackupRun::Automatic, 0, false);
    WriteRestoreStartEntry(table_, 1, "/b/a.zip");
    WriteRestoreEndEntry(table_, 1, 1, true);
    WriteArchiveDeletionEntry(table_, 1, "/b/a.zip");
    WriteMassDeletionEntry(table_, 1, {"a.zip"});
  }
  EXPECT_TRUE(std::filesystem::is_empty(home_)) << "a task without a log must not create files";
}

TEST_F(TaskLog, AMissingLogIsCreatedWithItsHeaderSoTheEntryIsKept) {
  WriteArchiveDeletionEntry(table_, 1, "/b/a.zip");
  EXPECT_EQ(ReadBytes(LogPath()),
            Header() + Lines({"->", "08.12.2026 9:05:33 Удаление резервной копии", "Имя файла: /b/a.zip"}));
}

TEST_F(TaskLog, LogNamesOutsideTheInstallationFolderAndUnstorableLinesAreRefused) {
  table_(LogFile, 1) = "../escape.log";
  EXPECT_THROW(WriteArchiveDeletionEntry(table_, 1, "/b/a.zip"), EInOutError);
  EXPECT_THROW(WriteTaskLogHeader("1", "/tmp/x.log"), EInOutError);
  EXPECT_FALSE(IsPlainLogFileName(".."));
  EXPECT_TRUE(IsPlainLogFileName("Документы.log"));

  table_(LogFile, 1) = "Документы.log";
  WriteTaskLogHeader("1", "Документы.log");
  EXPECT_THROW(WriteMassDeletionEntry(table_, 1, {"ok.zip", "日本.zip"}), EInOutError);
  EXPECT_EQ(ReadBytes(LogPath()), Header()) << "no part of a refused block may be written";
}

}  // namespace
