// Whole ticks of the executor on a temporary installation folder: archives checked by Info-ZIP,
// the task log's blocks, the executor log's lines, the tray states, the busy flag, replacing
// runs that must keep the old archive when they fail, and the menu commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "executor/Dorvexal.h"
#include "executor_fixture.h"
#include "platform/errors.h"

namespace {

using namespace executor_test;
namespace fs = std::filesystem;


class Tick : public InstallFolder {
 protected:
  std::string ExecutorLog() { return ReadText(Home + "/Dorvexal.log"); }
  int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
  }
  std::vector<std::string> Entries(const std::string& zip) {
    std::vector<std::string> out;
    const std::string list = Root + "/list.txt";
    if (std::system(("unzip -Z1 " + Quote(zip) + " > " + Quote(list) + " 2>/dev/null").c_str()) != 0) return out;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  // Files of the backup folder, hidden ones included.
  std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    return out;
  }
};

TEST_F(Tick, DueTaskWritesArchiveTaskLogAndExecutorLog) {
  SetLogf("1");
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  TForm1 form;
  std::string hintDuringRun;
  bool cyclingDuringRun = false;
  form.Zip1.OnProgress = [&](TObject*, uint8_t, uint8_t) {
    hintDuringRun = form.Trayloom1->Hint();
    cyclingDuringRun = form.Trayloom1->CycleIcons();
  };
  form.Timer1Timer();

  const std::string zip = task.Backup + "/08_12_2026-09_05.zip";
  ASSERT_TRUE(fs::exists(zip));
  EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  EXPECT_EQ(Entries(zip).size(), 3u);

  const std::string log = ReadText(Home + "/" + task.LogFile);
  EXPECT_NE(log.find("->\r\nАвтоматическое резервное копирование\r\n08.12.2026 9:05:30 Запуск задачи \r\n"
                     "Каталог данных: " + task.Source + "\r\nКаталог резервной копии: " + task.Backup +
                     "\r\nИмя файла: 08_12_2026-09_05.zip\r\n08.12.2026 9:05:30 Старт копирования\r\n"
                     "Резервное копирование успешно завершено, скопировано: 3 файлов\r\n"
                     "08.12.2026 9:05:30 Завершение задачи\r\n              \r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:05:30-> Выполнение задачи  :Документы - OK\r\n");

  EXPECT_EQ(hintDuringRun, "Выполнение задачи Документы");
  EXPECT_TRUE(cyclingDuringRun);
  EXPECT_FALSE(form.Trayloom1->CycleIcons());
  EXPECT_EQ(form.Trayloom1->Hint(), kExecutorTitle);
  EXPECT_EQ(form.Trayloom1->IconIndex(), 0);
  EXPECT_FALSE(form.Busy);
}

TEST_F(Tick, MissingSourceFailsAndKeepsTheOldArchiveByteForByte) {
  SetLogf("1");
  TTask task;
  task.Source = Root + "/no-such-folder";
  task.Backup = MakeBackup("backup");
  task.CopyType = "new";
  task.Archive = "fixed.zip";
  WriteStore({task});
  // The old backup: a real archive of another folder.
  const std::string old = MakeSource("old");
  ASSERT_EQ(Shell("cd " + Quote(old) + " && zip -qr " + Quote(task.Backup + "/fixed.zip") + " ."), 0);
  const std::string before = ReadBytes(task.Backup + "/fixed.zip");

  TForm1 form;
  form.Timer1Timer();

  EXPECT_EQ(ReadBytes(task.Backup + "/fixed.zip"), before);
  EXPECT_EQ(FilesIn(task.Backup), std::vector<std::string>{"fixed.zip"});
  const std::string log = ReadText(Home + "/" + task.LogFile);
  EXPECT_NE(log.find("Невозможно произвести копирование файлов из-за внутренней ошибки! \r\n"), std::string::npos);
  EXPECT_EQ(log.find("успешно"), std::string::npos);
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:05:30-> Выполнение задачи  :Документы - ERROR!\r\n");
  EXPECT_EQ(form.Trayloom1->IconIndex(), 7);
  EXPECT_EQ(form.Trayloom1->Hint(), kExecutorTitle);
  EXPECT_FALSE(form.Busy);

  // An empty source folder adds nothing: also a failure that leaves the old archive.
  fs::create_directories(task.Source);
  form.Timer1Timer();
  EXPECT_EQ(ReadBytes(task.Backup + "/fixed.zip"), before);
  EXPECT_EQ(FilesIn(task.Backup), std::vector<std::string>{"fixed.zip"});
  EXPECT_EQ(Count(ExecutorLog(), " - ERROR!"), 2);
}

TEST_F(Tick, ReplacingRunWritesAFreshArchiveOverTheOld) {
  SetLogf("1");
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  task.CopyType = "new";
  task.Archive = "fixed.zip";
  task.LogFlag = "0";
  task.LogFile = "none";
  WriteStore({task});
  const std::string old = Root + "/old";
  fs::create_directories(old);
  std::ofstream(old + "/stale.txt") << "gone after the run";
  ASSERT_EQ(Shell("cd " + Quote(old) + " && zip -q " + Quote(task.Backup + "/fixed.zip") + " stale.txt"), 0);
  fs::permissions(task.Backup + "/fixed.zip", fs::perms::owner_read | fs::perms::owner_write);

  TForm1 form;
  form.Timer1Timer();

  const std::string zip = task.Backup + "/fixed.zip";
  EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  auto entries = Entries(zip);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"a.txt", "b.txt", "sub/c.txt"}));  // not an update of the old
  EXPECT_EQ(FilesIn(task.Backup), std::vector<std::string>{"fixed.zip"});       // no temporary left
  EXPECT_EQ(fs::status(zip).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(fs::exists(Home + "/none"));
  EXPECT_EQ(form.Trayloom1->IconIndex(), 0);
}

// The old archive is kept until the new one is complete; when the backup folder lies inside the
// source folder it must still not end up inside its successor.
TEST_F(Tick, ReplacingRunNeverPacksTheOldArchiveIntoTheNew) {
  SetLogf("0");
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = task.Source + "/backups";
  std::filesystem::create_directories(task.Backup);
  task.CopyType = "new";
  task.Archive = "fixed.zip";
  task.LogFlag = "0";
  task.LogFile = "none";
  WriteStore({task});
  TForm1 form;
  form.Timer1Timer();
  form.Timer1Timer();
  const std::string zip = task.Backup + "/fixed.zip";
  EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  auto entries = Entries(zip);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"a.txt", "b.txt", "sub/c.txt"}));
}

// A file that cannot be read is left out and reported by the engine, which still writes the
// others: the run is a failure all the same, logged as one, and a replacing run keeps the old
// backup, which still holds that file.
TEST_F(Tick, RunInWhichTheEngineReportedAnErrorIsAFailure) {
  SetLogf("1");
  TTask adding;
  adding.Source = MakeSource("data");
  adding.Backup = MakeBackup("backup");
  TTask replacing = adding;
  replacing.Name = "Замена";
  replacing.Backup = MakeBackup("fixed");
  replacing.CopyType = "new";
  replacing.Archive = "fixed.zip";
  replacing.LogFile = "Замена.log";
  WriteStore({adding, replacing});
  ASSERT_EQ(Shell("cd " + Quote(adding.Source) + " && zip -qr " + Quote(replacing.Backup + "/fixed.zip") + " ."), 0);
  const std::string old = ReadBytes(replacing.Backup + "/fixed.zip");

  TForm1 form;
  std::vector<int32_t> errors;
  form.Zip1.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
    errors.push_back(code);
  };
  form.Zip1.OnActivate = [&](TObject*) { std::ofstream(adding.Source + "/a.txt") << "first file\n"; };
  form.Zip1.OnBegin = [&](TObject*, const std::string& name, int32_t, bool&) {
    if (name == adding.Source + "/a.txt") fs::remove(name);  // vanishes under the run
  };
  form.Timer1Timer();
  fs::remove(adding.Source + "/a.txt");

  const std::string zip = adding.Backup + "/08_12_2026-09_05.zip";
  ASSERT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  EXPECT_EQ(Entries(zip).size(), 2u);  // what could be read is kept
  EXPECT_EQ(std::count(errors.begin(), errors.end(), E_OPEN_ERROR), 2);
  EXPECT_TRUE(ReadBytes(replacing.Backup + "/fixed.zip") == old);
  EXPECT_EQ(FilesIn(replacing.Backup), std::vector<std::string>{"fixed.zip"});
  EXPECT_EQ(ExecutorLog(),
            "08.12.2026 9:05:30-> Выполнение задачи  :Документы - ERROR!\r\n"
            "08.12.2026 9:05:30-> Выполнение задачи  :Замена - ERROR!\r\n");
  const std::string log = ReadText(Home + "/" + adding.LogFile);
  EXPECT_NE(log.find("Невозможно произвести копирование файлов из-за внутренней ошибки! \r\n"), std::string::npos);
  EXPECT_EQ(log.find("успешно"), std::string::npos);
  EXPECT_EQ(form.Trayloom1->IconIndex(), 7);
}

TEST_F(Tick, TwoTicksInOneMinuteRunTwiceIntoTheSameDatedArchive) {
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  TForm1 form;
  SetClock(2026, 12, 8, 9, 5, 0);
  form.Timer1Timer();
  // The second run updates the archive of the first; it adds only what is new.
  std::ofstream(task.Source + "/d.txt") << "new in this minute";
  SetClock(2026, 12, 8, 9, 5, 59);
  form.Timer1Timer();
  SetClock(2026, 12, 8, 9, 6, 58);
  form.Timer1Timer();
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 2) << ExecutorLog();  // key missing: the line is written
  EXPECT_EQ(FilesIn(task.Backup), std::vector<std::string>{"08_12_2026-09_05.zip"});
  EXPECT_EQ(Shell("unzip -tq " + Quote(task.Backup + "/08_12_2026-09_05.zip")), 0);
  EXPECT_EQ(Entries(task.Backup + "/08_12_2026-09_05.zip").size(), 4u);
  const std::string log = ReadText(Home + "/" + task.LogFile);
  EXPECT_EQ(Count(log, "Старт копирования"), 2);
  EXPECT_EQ(Count(log, "скопировано: 1 файлов"), 1);
}

TEST_F(Tick, BusyTickDoesNothingAndLogfZeroWritesNoLine) {
  SetLogf("0");
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  TForm1 form;
  EXPECT_EQ(form.ExecutorLogFlag, "0");
  form.Busy = true;
  form.Timer1Timer();
  EXPECT_TRUE(FilesIn(task.Backup).empty());
  EXPECT_EQ(form.TaskCount, 1);  // not even the store was read
  form.Busy = false;
  form.Timer1Timer();
  EXPECT_EQ(FilesIn(task.Backup).size(), 1u);
  EXPECT_FALSE(fs::exists(Home + "/Dorvexal.log"));
}

TEST_F(Tick, TaskDeletedFromTheStoreNoLongerRunsAndAMissingStoreKeepsTheTable) {
  TTask first;
  first.Source = MakeSource("data");
  first.Backup = MakeBackup("backup1");
  first.CopyType = "new";
  first.Archive = "first.zip";
  TTask second = first;
  second.Name = "Второй";
  second.Backup = MakeBackup("backup2");
  second.LogFlag = "0";
  WriteStore({first, second});
  TForm1 form;
  form.Timer1Timer();
  EXPECT_EQ(form.TaskCount, 3);
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 2);

  WriteStore({first});
  SetClock(2026, 12, 8, 9, 5, 50);
  form.Timer1Timer();
  EXPECT_EQ(form.TaskCount, 2);
  EXPECT_EQ(form.TaskTable(TaskName, 2), "Второй");  // still in the table, never reached
  EXPECT_EQ(Count(ExecutorLog(), ":Второй - OK"), 1);
  EXPECT_EQ(Count(ExecutorLog(), ":Документы - OK"), 2);

  fs::remove(Home + "/records.dat");
  form.Timer1Timer();
  EXPECT_EQ(form.TaskCount, 2);
  EXPECT_EQ(Count(ExecutorLog(), ":Документы - OK"), 3);
}

TEST_F(Tick, FailingLogWriteEndsTheRunAndRaisesToTheErrorReport) {
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  fs::create_directories(Home + "/" + task.LogFile);  // the log's name is taken by a folder
  TForm1 form;
  EXPECT_THROW(form.Timer1Timer(), EInOutError);
  EXPECT_FALSE(form.Busy);
  EXPECT_FALSE(form.Trayloom1->CycleIcons());
  EXPECT_EQ(form.Trayloom1->Hint(), kExecutorTitle);
  EXPECT_EQ(form.Trayloom1->IconIndex(), 7);
  EXPECT_TRUE(FilesIn(task.Backup).empty());  // the run stopped before the archive

  // Later ticks run again once the log can be written.
  fs::remove(Home + "/" + task.LogFile);
  form.Timer1Timer();
  EXPECT_EQ(FilesIn(task.Backup).size(), 1u);
  EXPECT_EQ(form.Trayloom1->IconIndex(), 0);
}

TEST_F(Tick, MenuStartsLogViewerAndManagerFromTheProgramFolderAndResetsTheImage) {
  std::vector<std::string> started;
  SetProgramStarterForTesting([&](const std::string& program) { started.push_back(program); });
  TForm1 form;
  ASSERT_EQ(form.PopupMenu1->actions().size(), 3);
  EXPECT_EQ(form.Trayloom1->PopupMenu(), form.PopupMenu1.get());
  EXPECT_TRUE(form.Trayloom1->LeftPopup());
  EXPECT_TRUE(form.Trayloom1->IconVisible());
  EXPECT_EQ(form.Trayloom1->IconList().size(), 8u);
  form.Trayloom1->SetIconIndex(7);
  form.N1->trigger();
  EXPECT_EQ(form.Trayloom1->IconIndex(), 0);
  form.Trayloom1->SetIconIndex(7);
  form.N2->trigger();
  EXPECT_EQ(form.Trayloom1->IconIndex(), 0);
  SetProgramStarterForTesting(nullptr);
  const std::string dir = platform::ProgramDir();
  EXPECT_EQ(started, (std::vector<std::string>{dir + "/Lokvist", dir + "/Kalvenor"}));
  EXPECT_FALSE(form.isVisible());
}

TEST_F(Tick, AddingRunTakesTheNewContentOfAChangedFile) {
  SetLogf("1");
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  TForm1 form;
  std::vector<int32_t> errors;
  form.Zip1.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
    errors.push_back(code);
  };
  form.Timer1Timer();
  const std::string zip = task.Backup + "/08_12_2026-09_05.zip";
  ASSERT_EQ(Shell("unzip -tq " + Quote(zip)), 0);

  std::ofstream(task.Source + "/a.txt") << "changed since the last run\n";
  fs::last_write_time(task.Source + "/a.txt", fs::file_time_type::clock::now() + std::chrono::hours(1));
  form.Timer1Timer();

  EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  EXPECT_EQ(Entries(zip).size(), 3u);
  ASSERT_EQ(std::system(("unzip -p " + Quote(zip) + " a.txt > " + Quote(Root + "/a.out")).c_str()), 0);
  EXPECT_EQ(ReadBytes(Root + "/a.out"), "changed since the last run\n");
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 2);
}

}  // namespace
