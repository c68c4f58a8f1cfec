// Whole ticks of the executor on a temporary installation folder: archives checked by Info-ZIP,
// the task log's blocks, the executor log's lines, the tray states, the busy flag, replacing
// runs that must keep the old archive when they fail, and the menu commands.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "executor/Dorvexal.h"
#include "executor_fixture.h"
#include "platform/errors.h"
#include "tests/support/OrdinaryUser.h"
#include "tests/support/UnixSocket.h"

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
  SetClock(2026, 12, 9, 9, 5, 30);
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

// The 59-second tick can fall twice into one minute: the task still runs once in it.
TEST_F(Tick, ATaskRunsOnceInItsMinuteHoweverManyTicksFallIntoIt) {
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  TForm1 form;
  SetClock(2026, 12, 8, 9, 5, 0);
  form.Timer1Timer();
  std::ofstream(task.Source + "/d.txt") << "new in this minute";
  SetClock(2026, 12, 8, 9, 5, 59);
  form.Timer1Timer();
  SetClock(2026, 12, 8, 9, 6, 58);
  form.Timer1Timer();
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 1) << ExecutorLog();  // key missing: the line is written
  EXPECT_EQ(FilesIn(task.Backup), std::vector<std::string>{"08_12_2026-09_05.zip"});
  EXPECT_EQ(Entries(task.Backup + "/08_12_2026-09_05.zip").size(), 3u);
  EXPECT_EQ(Count(ReadText(Home + "/" + task.LogFile), "Старт копирования"), 1);

  // Its minute of the next day is another scheduled minute.
  SetClock(2026, 12, 9, 9, 5, 57);
  form.Timer1Timer();
  SetClock(2026, 12, 9, 9, 5, 58);
  form.Timer1Timer();
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 2) << ExecutorLog();
  EXPECT_EQ(Entries(task.Backup + "/09_12_2026-09_05.zip").size(), 4u);

  // A clock put back by a day shows that minute again: it is scheduled again.
  SetClock(2026, 12, 8, 9, 5, 10);
  form.Timer1Timer();
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 3) << ExecutorLog();
}

// An adding run into an archive that already holds every file unchanged (another executor, or the
// manager's run of the same minute, wrote it) has done its job: a success with the count 0. A run
// whose source gives no files at all is still a failure.
TEST_F(Tick, AddingRunWithNothingNewSucceedsWithCountZero) {
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  const std::string zip = task.Backup + "/08_12_2026-09_05.zip";
  {
    TForm1 first;
    first.Timer1Timer();
  }
  ASSERT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  const std::string archive = ReadBytes(zip);

  SetClock(2026, 12, 8, 9, 5, 50);
  TForm1 form;
  form.Timer1Timer();
  EXPECT_EQ(ReadBytes(zip), archive);
  EXPECT_EQ(Count(ExecutorLog(), ":Документы - OK\r\n"), 2) << ExecutorLog();
  EXPECT_EQ(form.Trayloom1->IconIndex(), 0);
  const std::string log = ReadText(Home + "/" + task.LogFile);
  EXPECT_NE(log.find("Резервное копирование успешно завершено, скопировано: 0 файлов\r\n"
                     "08.12.2026 9:05:50 Завершение задачи\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Невозможно"), std::string::npos) << log;

  // The same archive from a source that gives nothing: the run failed.
  for (const auto& e : fs::directory_iterator(task.Source)) fs::remove_all(e.path());
  TForm1 emptied;
  emptied.Timer1Timer();
  EXPECT_EQ(ReadBytes(zip), archive);
  EXPECT_EQ(Count(ExecutorLog(), ":Документы - ERROR!\r\n"), 1) << ExecutorLog();
  EXPECT_EQ(emptied.Trayloom1->IconIndex(), 7);
}

// While one task runs, the minutes of others pass: once the run ends, each of them runs, once,
// in the order of their minutes, and is logged as usual.
TEST_F(Tick, TasksWhoseMinutePassedDuringARunRunOnceAfterIt) {
  TTask longRun;
  longRun.Name = "Долгая";
  longRun.Source = MakeSource("data");
  longRun.Backup = MakeBackup("long");
  longRun.LogFlag = "0";
  longRun.LogFile = "none";
  TTask at0906 = longRun;
  at0906.Name = "Вторая";
  at0906.Backup = MakeBackup("second");
  at0906.StartTime = "9:06:00";
  at0906.LogFlag = "1";
  at0906.LogFile = "Вторая.log";
  TTask at0907 = at0906;
  at0907.Name = "Третья";
  at0907.Backup = MakeBackup("third");
  at0907.Kind = "Одноразовая";
  at0907.StartTime = "9:07:00";
  at0907.LogFlag = "0";
  at0907.LogFile = "none";
  TTask at0909 = at0907;
  at0909.Name = "Позже";
  at0909.Backup = MakeBackup("later");
  at0909.StartTime = "9:09:00";
  WriteStore({at0909, at0907, at0906, longRun});

  TForm1 form;
  SetClock(2026, 12, 8, 9, 5, 40);
  // The long run takes until 9:07:20; the ticks that come meanwhile find the executor busy.
  form.Zip1.OnProgress = [&](TObject*, uint8_t, uint8_t) {
    if (form.Trayloom1->Hint() != "Выполнение задачи Долгая") return;
    SetClock(2026, 12, 8, 9, 7, 20);
    form.Timer1Timer();
  };
  form.Timer1Timer();
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:07:20-> Выполнение задачи  :Долгая - OK\r\n"
                           "08.12.2026 9:07:20-> Выполнение задачи  :Вторая - OK\r\n"
                           "08.12.2026 9:07:20-> Выполнение задачи  :Третья - OK\r\n");
  EXPECT_EQ(FilesIn(at0906.Backup), std::vector<std::string>{"08_12_2026-09_07.zip"});
  EXPECT_EQ(FilesIn(at0907.Backup), std::vector<std::string>{"08_12_2026-09_07.zip"});
  EXPECT_TRUE(FilesIn(at0909.Backup).empty());
  const std::string log = ReadText(Home + "/Вторая.log");
  EXPECT_NE(log.find("08.12.2026 9:07:20 Запуск задачи \r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("скопировано: 3 файлов\r\n"), std::string::npos) << log;

  // Later ticks of the same minute run nothing again; the next task's minute runs it.
  SetClock(2026, 12, 8, 9, 7, 50);
  form.Timer1Timer();
  SetClock(2026, 12, 8, 9, 8, 49);
  form.Timer1Timer();
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 3);
  SetClock(2026, 12, 8, 9, 9, 48);
  form.Timer1Timer();
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 4);
  EXPECT_EQ(FilesIn(at0909.Backup), std::vector<std::string>{"08_12_2026-09_09.zip"});
}

// The local clock of a place with summer time, for one test.
class BerlinTime {
 public:
  BerlinTime() {
    if (const char* tz = std::getenv("TZ")) old_ = tz;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  ~BerlinTime() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  BerlinTime(const BerlinTime&) = delete;
  BerlinTime& operator=(const BerlinTime&) = delete;

 private:
  std::optional<std::string> old_;
};

// On 28.03.2027 the clock goes from 1:59 to 3:00: a daily, a weekly (Sunday) and a one-time task
// at 2:30 run once, at the first tick after the gap; a task at 3:01 keeps its own minute. On
// 31.10.2027 the hour from 2:00 is shown twice: a task at 2:30 still runs once.
TEST_F(Tick, TasksInTheHourSkippedBySummerTimeRunOnceAfterIt) {
  const BerlinTime berlin;
  TTask daily;
  daily.Name = "Ежедневная";
  daily.Source = MakeSource("data");
  daily.Backup = MakeBackup("daily");
  daily.StartTime = "2:30:00";
  daily.LogFlag = "0";
  daily.LogFile = "none";
  TTask weekly = daily;
  weekly.Name = "Еженедельная";
  weekly.Backup = MakeBackup("weekly");
  weekly.Kind = "Еженедельная";
  weekly.WeekDay = "Воскресение";
  TTask once = daily;
  once.Name = "Одноразовая";
  once.Backup = MakeBackup("once");
  once.Kind = "Одноразовая";
  once.StartDate = "28.03.2027";
  TTask later = daily;
  later.Name = "Позже";
  later.Backup = MakeBackup("later");
  later.StartTime = "3:01:00";
  WriteStore({daily, weekly, once, later});

  TForm1 form;
  SetClock(2027, 3, 28, 1, 59, 30);
  form.Timer1Timer();
  EXPECT_FALSE(fs::exists(ExecutorLogPath()));
  SetClock(2027, 3, 28, 3, 0, 29);
  form.Timer1Timer();
  EXPECT_EQ(ExecutorLog(), "28.03.2027 3:00:29-> Выполнение задачи  :Ежедневная - OK\r\n"
                           "28.03.2027 3:00:29-> Выполнение задачи  :Еженедельная - OK\r\n"
                           "28.03.2027 3:00:29-> Выполнение задачи  :Одноразовая - OK\r\n");
  EXPECT_EQ(FilesIn(once.Backup), std::vector<std::string>{"28_03_2027-03_00.zip"});
  EXPECT_EQ(Shell("unzip -tq " + Quote(once.Backup + "/28_03_2027-03_00.zip")), 0);
  SetClock(2027, 3, 28, 3, 1, 28);
  form.Timer1Timer();
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 4) << ExecutorLog();
  EXPECT_EQ(Count(ExecutorLog(), "3:01:28-> Выполнение задачи  :Позже - OK"), 1) << ExecutorLog();

  // The repeated hour of the change back to winter time.
  fs::remove(ExecutorLogPath());
  for (const auto& [h, m, s] : {std::tuple{2, 29, 40}, {2, 30, 39}, {2, 59, 50}, {2, 0, 49}, {2, 30, 20}, {3, 0, 10}}) {
    SetClock(2027, 10, 31, h, m, s);
    form.Timer1Timer();
  }
  EXPECT_EQ(ExecutorLog(), "31.10.2027 2:30:39-> Выполнение задачи  :Ежедневная - OK\r\n"
                           "31.10.2027 2:30:39-> Выполнение задачи  :Еженедельная - OK\r\n");
}

// A clock put back during a run shows minutes again. Those tested before run nothing twice; a
// minute that this executor never tested (it started later) is still due.
TEST_F(Tick, MinutesNeverTestedRunWhenAClockPutBackShowsThem) {
  TTask longRun;
  longRun.Name = "Долгая";
  longRun.Source = MakeSource("data");
  longRun.Backup = MakeBackup("long");
  longRun.StartTime = "9:50:00";
  longRun.LogFlag = "0";
  longRun.LogFile = "none";
  TTask earlier = longRun;
  earlier.Name = "Ранняя";
  earlier.Backup = MakeBackup("earlier");
  earlier.StartTime = "9:20:00";
  WriteStore({longRun, earlier});

  TForm1 form;
  SetClock(2026, 12, 8, 9, 40, 10);
  form.Timer1Timer();
  SetClock(2026, 12, 8, 9, 50, 5);
  // The clock is put back by 45 minutes while the long run goes on.
  form.Zip1.OnProgress = [&](TObject*, uint8_t, uint8_t) { SetClock(2026, 12, 8, 9, 5, 30); };
  form.Timer1Timer();
  form.Zip1.OnProgress = nullptr;
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:05:30-> Выполнение задачи  :Долгая - OK\r\n");

  for (const auto& [m, s] : {std::pair{20, 15}, {20, 50}, {50, 30}}) {
    SetClock(2026, 12, 8, 9, m, s);
    form.Timer1Timer();
  }
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:05:30-> Выполнение задачи  :Долгая - OK\r\n"
                           "08.12.2026 9:20:15-> Выполнение задачи  :Ранняя - OK\r\n");
  EXPECT_EQ(FilesIn(earlier.Backup), std::vector<std::string>{"08_12_2026-09_20.zip"});
  EXPECT_EQ(FilesIn(longRun.Backup), std::vector<std::string>{"08_12_2026-09_50.zip"});
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
  SetClock(2026, 12, 9, 9, 5, 50);
  form.Timer1Timer();
  EXPECT_EQ(form.TaskCount, 2);
  EXPECT_EQ(form.TaskTable(TaskName, 2), "Второй");  // still in the table, never reached
  EXPECT_EQ(Count(ExecutorLog(), ":Второй - OK"), 1);
  EXPECT_EQ(Count(ExecutorLog(), ":Документы - OK"), 2);

  fs::remove(Home + "/records.dat");
  SetClock(2026, 12, 10, 9, 5, 50);
  form.Timer1Timer();
  EXPECT_EQ(form.TaskCount, 2);
  EXPECT_EQ(Count(ExecutorLog(), ":Документы - OK"), 3);
}

// Guards the backup against its logs: a task log that cannot be written (its name taken by a
// folder, a file the user may not write, an installation folder the user may not write) never
// stops the run nor raises into a box that would wait while later tasks fall due. The archive is
// written, the task log's failure is told in the executor's log, and what that cannot take goes
// to the standard error; the icon shows the failure image.
TEST_F(Tick, ALogThatCannotBeWrittenNeverStopsTheBackup) {
  const auto taskLog = [this] { return Home + "/" + TTask().LogFile; };
  // Takes the write permissions from path (made as an empty file when missing) and names it.
  const auto readOnly = [](const std::string& path) {
    if (!fs::exists(path)) std::ofstream(path) << "";
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    return path;
  };
  const std::string ran = "08.12.2026 9:05:30-> Выполнение задачи  :Документы - OK\r\n";
  const std::string taskLogFailed = "08.12.2026 9:05:30-> Ошибка записи журнала задачи  :Документы - ";
  struct Case {
    const char* what;
    std::function<std::string()> arrange;  // what refuses writing; empty: root is refused as well
    std::string executorLog;
    std::vector<std::string> standardError;  // lines; none: nothing goes there
    bool taskLogWhole = false;               // the task log holds the whole entry
  };
  const std::vector<Case> cases = {
      {"the task log's name is taken by a folder",
       [&] {
         fs::create_directories(taskLog());
         return std::string();
       },
       taskLogFailed + "Is a folder: " + taskLog() + "\r\n" + ran, {}},
      {"the task log may not be written", [&] { return readOnly(taskLog()); },
       taskLogFailed + "Access denied: " + taskLog() + "\r\n" + ran, {}},
      {"the executor's log may not be written", [&] { return readOnly(ExecutorLogPath()); }, "",
       {"Dorvexal: Access denied: " + ExecutorLogPath()}, true},
      {"the installation folder may not be written", [&] { return readOnly(Home); },
       "", {"Dorvexal: Access denied: " + taskLog(), "Dorvexal: Access denied: " + ExecutorLogPath()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Root + "/backup");
    fs::remove_all(Home);
    fs::create_directories(Home);
    TTask task;
    task.Source = MakeSource("data");
    task.Backup = MakeBackup("backup");
    WriteStore({task});
    const std::string refusing = c.arrange();
    TForm1 form;
    std::string standardError;
    {
      std::optional<testsupport::TOrdinaryUser> user;
      if (!refusing.empty()) {
        user.emplace();
        const int fd = fs::is_directory(refusing) ? -1 : ::open(refusing.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
        if (fd >= 0 || (fs::is_directory(refusing) && !user->CannotWriteInto(refusing))) {
          fs::permissions(Home, fs::perms::owner_all, fs::perm_options::add);
          GTEST_SKIP() << "this process writes everywhere";
        }
      }
      testing::internal::CaptureStderr();
      EXPECT_NO_THROW(form.Timer1Timer());
      standardError = testing::internal::GetCapturedStderr();
    }
    fs::permissions(Home, fs::perms::owner_all, fs::perm_options::add);

    const std::string zip = task.Backup + "/08_12_2026-09_05.zip";
    EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0) << "the backup ran";
    EXPECT_EQ(Entries(zip).size(), 3u);
    EXPECT_FALSE(form.Busy);
    EXPECT_FALSE(form.Trayloom1->CycleIcons());
    EXPECT_EQ(form.Trayloom1->Hint(), kExecutorTitle);
    EXPECT_EQ(form.Trayloom1->IconIndex(), kFailedImage);
    EXPECT_EQ(ExecutorLog(), c.executorLog);
    std::string expectedError;
    for (const std::string& l : c.standardError) expectedError += l + "\n";
    EXPECT_EQ(standardError, expectedError);
    if (c.taskLogWhole) {
      EXPECT_NE(ReadText(taskLog()).find("скопировано: 3 файлов"), std::string::npos);
    }
  }
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

// Folders whose names start with a dot are hidden here, but they are the user's data (a
// repository's .git, a program's .config): a backup that skips them silently loses them.
TEST_F(Tick, HiddenFoldersAreBackedUpWithEverythingInThem) {
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  task.LogFlag = "0";
  task.LogFile = "none";
  fs::create_directories(task.Source + "/.git/refs");
  std::ofstream(task.Source + "/.git/config") << "[core]\n";
  std::ofstream(task.Source + "/.git/refs/main") << "0123abcd\n";
  fs::create_directories(task.Source + "/sub/.cache");
  std::ofstream(task.Source + "/sub/.cache/state") << "deep";
  std::ofstream(task.Source + "/.profile") << "a hidden file";
  WriteStore({task});
  TForm1 form;
  form.Timer1Timer();

  const std::string zip = task.Backup + "/08_12_2026-09_05.zip";
  ASSERT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  auto entries = Entries(zip);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{".git/config", ".git/refs/main", ".profile", "a.txt", "b.txt",
                                               "sub/.cache/state", "sub/c.txt"}));
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:05:30-> Выполнение задачи  :Документы - OK\r\n");
}

// A folder that the user running the executor cannot read (mode 000) holds files the backup
// does not have: the run names it and fails, and still stores everything it could read.
TEST_F(Tick, AFolderThatCannotBeReadFailsTheRunNamedAndWhatCouldBeReadIsStored) {
  SetLogf("1");
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  fs::create_directories(task.Source + "/closed");
  std::ofstream(task.Source + "/closed/important.txt") << "never left out in silence";
  fs::permissions(task.Source + "/closed", fs::perms::none);
  WriteStore({task});
  TForm1 form;
  std::vector<std::string> reported;
  form.Zip1.OnError = [&](TObject*, const std::string& file, const std::string&, const std::string&, int32_t code) {
    reported.push_back(std::to_string(code) + " " + file);
  };
  {
    const testsupport::TOrdinaryUser user;
    if (!user.CannotList(task.Source + "/closed")) {
      fs::permissions(task.Source + "/closed", fs::perms::owner_all);
      GTEST_SKIP() << "this process reads folders of mode 000 and cannot give that up";
    }
    form.Timer1Timer();
  }
  fs::permissions(task.Source + "/closed", fs::perms::owner_all);

  EXPECT_EQ(reported, std::vector<std::string>{"25235 " + task.Source + "/closed/"});
  const std::string zip = task.Backup + "/08_12_2026-09_05.zip";
  ASSERT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  EXPECT_EQ(Shell("7zz t " + Quote(zip)), 0);
  EXPECT_EQ(Shell("bsdtar -tf " + Quote(zip)), 0);
  EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" " +
                  Quote(zip)),
            0);
  auto entries = Entries(zip);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"a.txt", "b.txt", "sub/c.txt"}));
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:05:30-> Выполнение задачи  :Документы - ERROR!\r\n");
  const std::string log = ReadText(Home + "/" + task.LogFile);
  EXPECT_NE(log.find("Невозможно произвести копирование файлов из-за внутренней ошибки! \r\n"
                     "Error opening file: " + task.Source + "/closed/ ("),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("успешно"), std::string::npos);
  EXPECT_EQ(form.Trayloom1->IconIndex(), 7);
}

// What holds no file data (a FIFO, a socket, a device, a link to one of them, a link to nothing
// such as a browser profile's "lock", a loop of links) is named in the task log as not stored,
// with the reason, and fails nothing; what holds data and cannot be read (a file of mode 000, a
// link whose target lies in a folder the user may not enter) still fails the run.
TEST_F(Tick, WhatHoldsNoDataIsNamedAsNotStoredAndOnlyWhatCannotBeReadFails) {
  SetLogf("1");
  const std::string locked = Root + "/locked";
  fs::create_directories(locked);
  std::ofstream(locked + "/secret.txt") << "kept from this user";
  struct Row {
    const char* name;
    std::function<void(const std::string& path)> make;
    const char* line;  // what the log says after the entry's path
    bool fails;
  };
  const Row rows[] = {
      {"pipe", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, " (named pipe (FIFO))", false},
      {"socket", [](const std::string& p) { testsupport::MakeSocket(p); }, " (socket)", false},
      {"null", [](const std::string& p) { fs::create_symlink("/dev/null", p); }, " (link to a character device)", false},
      {"pipe-link", [](const std::string& p) { fs::create_symlink("pipe", p); }, " (link to a named pipe (FIFO))", false},
      {"lock", [](const std::string& p) { fs::create_symlink("127.0.1.1:+4242", p); },
       " (link to nothing: No such file or directory)", false},
      {"loop", [](const std::string& p) { fs::create_symlink("loop", p); },
       " (link to nothing: Too many levels of symbolic links)", false},
      {"closed.txt",
       [](const std::string& p) {
         std::ofstream(p) << "mine alone";
         fs::permissions(p, fs::perms::none);
       },
       " (Permission denied)", true},
      {"secret", [&](const std::string& p) { fs::create_symlink(locked + "/secret.txt", p); }, " (Permission denied)",
       true},
  };
  TTask quiet;
  quiet.Name = "Особые";
  quiet.Source = MakeSource("quiet");
  quiet.Backup = MakeBackup("quiet-backup");
  quiet.LogFile = "Особые.log";
  TTask closed;
  closed.Name = "Закрытые";
  closed.Source = MakeSource("closed");
  closed.Backup = MakeBackup("closed-backup");
  closed.LogFile = "Закрытые.log";
  // The lines each task's log must hold after its result line, in any order.
  std::multiset<std::string> quietLines, closedLines;
  for (const Row& r : rows) {
    for (const TTask* t : {&quiet, &closed}) {
      if (r.fails && t == &quiet) continue;
      const std::string path = t->Source + "/" + r.name;
      r.make(path);
      (t == &quiet ? quietLines : closedLines)
          .insert((r.fails ? "Error opening file: " : "Not stored, holds no file data: ") + path + r.line);
    }
  }
  WriteStore({quiet, closed});
  TForm1 form;
  fs::permissions(locked, fs::perms::none);
  {
    const testsupport::TOrdinaryUser user;
    const bool refused = user.CannotList(locked);
    if (!refused) {
      fs::permissions(locked, fs::perms::owner_all);
      GTEST_SKIP() << "this process reads folders of mode 000 and cannot give that up";
    }
    form.Timer1Timer();
  }
  fs::permissions(locked, fs::perms::owner_all);

  // The result line of each task's entry, and the lines after it up to the closing stamp.
  auto resultOf = [&](const TTask& t, std::multiset<std::string>& after) {
    std::istringstream log(ReadText(Home + "/" + t.LogFile));
    std::string result;
    bool started = false;
    for (std::string line; std::getline(log, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.ends_with(" Старт копирования")) {
        started = true;
      } else if (line.ends_with(" Завершение задачи")) {
        break;
      } else if (started && result.empty()) {
        result = line;
      } else if (started) {
        after.insert(line);
      }
    }
    return result;
  };
  std::multiset<std::string> quietGot, closedGot;
  EXPECT_EQ(resultOf(quiet, quietGot), "Резервное копирование успешно завершено, скопировано: 3 файлов");
  EXPECT_EQ(quietGot, quietLines);
  EXPECT_EQ(resultOf(closed, closedGot), "Невозможно произвести копирование файлов из-за внутренней ошибки! ");
  EXPECT_EQ(closedGot, closedLines);
  EXPECT_EQ(ExecutorLog(), "08.12.2026 9:05:30-> Выполнение задачи  :Особые - OK\r\n"
                           "08.12.2026 9:05:30-> Выполнение задачи  :Закрытые - ERROR!\r\n");
  const std::string zip = quiet.Backup + "/08_12_2026-09_05.zip";
  EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  auto entries = Entries(zip);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"a.txt", "b.txt", "sub/c.txt"}));
}

TEST_F(Tick, AddingRunTakesTheNewContentOfAChangedFile) {
  SetLogf("1");
  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  WriteStore({task});
  std::vector<int32_t> errors;
  const auto record = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
    errors.push_back(code);
  };
  TForm1 form;
  form.Zip1.OnError = record;
  form.Timer1Timer();
  const std::string zip = task.Backup + "/08_12_2026-09_05.zip";
  ASSERT_EQ(Shell("unzip -tq " + Quote(zip)), 0);

  // A second executor adds to the archive of the same minute.
  std::ofstream(task.Source + "/a.txt") << "changed since the last run\n";
  fs::last_write_time(task.Source + "/a.txt", fs::file_time_type::clock::now() + std::chrono::hours(1));
  TForm1 second;
  second.Zip1.OnError = record;
  second.Timer1Timer();

  EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  EXPECT_EQ(Entries(zip).size(), 3u);
  ASSERT_EQ(std::system(("unzip -p " + Quote(zip) + " a.txt > " + Quote(Root + "/a.out")).c_str()), 0);
  EXPECT_EQ(ReadBytes(Root + "/a.out"), "changed since the last run\n");
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Count(ExecutorLog(), " - OK"), 2);
}

}  // namespace
