// The on-demand backup form driven by clicks: the archive it writes is checked by the peer tools
// and the task's log line by line; failed runs say what failed, write the failure line and keep
// a replaced archive byte for byte; the meters move and the form answers during a long run; a
// backup folder on a USB stick takes the archive as a fixed volume would.
#include <QTimer>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <functional>
#include <set>
#include <sstream>

#include "manager/backup.h"
#include "platform/files.h"
#include "platform/gui/datetime.h"
#include "platform/volumes.h"
#include "tests/manager/archiveform_fixture.h"
#include "tests/support/OrdinaryUser.h"

namespace {

constexpr const char* kFailure = "Невозможно произвести копирование файлов из-за внутренней ошибки! ";

class BackupForm : public archiveform::ArchiveFormTest {
 protected:
  void SetUp() override {
    ArchiveFormTest::SetUp();
    At(9, 5, 33);
  }
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    ArchiveFormTest::TearDown();
  }
  void At(int hour, int minute, int second) {
    const double t = platform::EncodeDateTime(2026, 12, 8, hour, minute, second);
    platform::SetClockForTesting([t] { return t; });
  }
  void ShowForm() { ShowFrom(form_->ToolButton5, backup_form_); }

  std::string Archive() const { return backup_ + "/Backup.zip"; }
  // The names in the backup folder.
  std::set<std::string> BackupFolder() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(backup_)) names.insert(e.path().filename().string());
    return names;
  }
  static std::string StartBlock(const std::string& source, const std::string& backup, const std::string& name) {
    return "->\r\nРезервное копирование по требованию\r\n08.12.2026 9:05:33 Запуск задачи \r\nКаталог данных: " +
           source + "\r\nКаталог резервной копии: " + backup + "\r\nИмя файла: " + name +
           "\r\n08.12.2026 9:05:33 Старт копирования\r\n";
  }
  static std::string EndBlock(const std::string& line) {
    return line + "\r\n08.12.2026 9:05:33 Завершение задачи\r\n" + std::string(14, ' ') + "\r\n";
  }
  // A failed run's line 8, followed by what the run left out: the lines its error box lists.
  static std::string FailureLines(const std::string& boxText) { return BoxAsLogLines(kFailure, boxText); }

  TForm5 backup_form_;
};

TEST_F(BackupForm, RunWritesAnArchiveThePeersAcceptAndLogsIt) {
  Task("new", "Backup.zip");
  const auto files = SmallFiles();
  OpenWithTask();
  ShowForm();
  EXPECT_EQ(backup_form_.Edit4.text().toStdString(), "Документы");
  EXPECT_EQ(backup_form_.Edit1.text().toStdString(), source_);
  EXPECT_EQ(backup_form_.Edit2.text().toStdString(), backup_);
  EXPECT_EQ(backup_form_.Edit3.text().toStdString(), "Backup.zip");
  EXPECT_TRUE(backup_form_.Edit1.isReadOnly());

  Click(backup_form_.xpButton1);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, "Резервное копирование успешно завершено, скопировано: 3 файлов");
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Результаты копирования");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONINFORMATION);
  EXPECT_EQ(backup_form_.Label5.text().toStdString(), "Резервная копия");
  EXPECT_EQ(backup_form_.Label6.text().toStdString(), "Копируемый файл");

  std::string out;
  EXPECT_EQ(Run("unzip -t " + Quoted(Archive()), &out), 0) << out;
  EXPECT_EQ(Run("7zz t " + Quoted(Archive()), &out), 0) << out;
  EXPECT_EQ(Run("bsdtar -tf " + Quoted(Archive()), &out), 0) << out;
  // Names without the UTF-8 flag are in the OEM code page.
  EXPECT_EQ(Run("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1], metadata_encoding='cp866'); "
                "assert z.testzip() is None; print('\\n'.join(sorted(z.namelist())))\" " +
                    Quoted(Archive()),
                &out),
            0)
      << out;
  for (const auto& [name, bytes] : files) EXPECT_NE(out.find(name), std::string::npos) << name << " in\n" << out;
  // The archive's bytes as the peer extracts them.
  const std::string peer = root_ + "/peer";
  ASSERT_EQ(PeerExtract(Archive(), peer, &out), 0) << out;
  EXPECT_TRUE(Tree(peer) == files) << "the extracted files differ from the source";

  const std::string succeeded = "Резервное копирование успешно завершено, скопировано: 3 файлов";
  EXPECT_EQ(LogEntries(), StartBlock(source_, backup_, "Backup.zip") + EndBlock(succeeded));

  // A second run replaces the archive: a file gone from the source is gone from it, and no
  // temporary file is left beside it.
  std::filesystem::remove(source_ + "/отчёт.txt");
  answerer_.Clear();
  Click(backup_form_.xpButton1);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, "Резервное копирование успешно завершено, скопировано: 2 файлов");
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"Backup.zip"});
  out = Names(Archive());
  EXPECT_NE(out.find("данные.bin"), std::string::npos) << out;
  EXPECT_EQ(out.find("отчёт.txt"), std::string::npos) << out;
}

TEST_F(BackupForm, DatedNameIsFixedAtActivationAndInfoZeroShowsNoBox) {
  Task("add", "Дата+Время.zip", "0");
  SmallFiles();
  OpenWithTask();
  ShowForm();
  EXPECT_EQ(backup_form_.Edit3.text().toStdString(), "08_12_2026-09_05.zip");
  Click(backup_form_.xpButton1);
  At(14, 30, 0);
  WriteBytes(source_ + "/новый.txt", "позже");
  WriteBytes(source_ + "/отчёт.txt", "Исправленный квартальный отчёт");
  Click(backup_form_.xpButton1);
  EXPECT_TRUE(answerer_.Boxes().empty());
  // Both runs of one activation went into the archive named at the activation.
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"08_12_2026-09_05.zip"});
  std::string out;
  out = Names(backup_ + "/08_12_2026-09_05.zip");
  EXPECT_NE(out.find("новый.txt"), std::string::npos) << out;
  // A file changed since the first run holds its new content: the old entry is not kept.
  const std::string peer = root_ + "/peer";
  ASSERT_EQ(PeerExtract(backup_ + "/08_12_2026-09_05.zip", peer, &out), 0) << out;
  EXPECT_EQ(ReadBytes(peer + "/отчёт.txt"), "Исправленный квартальный отчёт");
  EXPECT_NE(LogEntries().find("скопировано: 2 файлов"), std::string::npos) << LogEntries();
  EXPECT_NE(LogEntries().find("Имя файла: 08_12_2026-09_05.zip"), std::string::npos);
  // A run with nothing new to add has done its job: no error box, the success line with 0.
  const std::string archive = ReadBytes(backup_ + "/08_12_2026-09_05.zip");
  Click(backup_form_.xpButton1);
  EXPECT_TRUE(answerer_.Boxes().empty()) << answerer_.Boxes()[0].text;
  EXPECT_EQ(ReadBytes(backup_ + "/08_12_2026-09_05.zip"), archive);
  EXPECT_NE(LogEntries().find("Резервное копирование успешно завершено, скопировано: 0 файлов\r\n"
                              "08.12.2026 14:30:00 Завершение задачи\r\n"),
            std::string::npos)
      << LogEntries();

  // The next activation takes the moment anew.
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get(), 2000));
  backup_form_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&backup_form_, 2000));
  EXPECT_EQ(backup_form_.Edit3.text().toStdString(), "08_12_2026-14_30.zip");
}

TEST_F(BackupForm, FailedRunsSayWhyWriteTheFailureLineAndKeepTheOldArchive) {
  Task("new", "Backup.zip", "0");
  SmallFiles();
  OpenWithTask();
  ShowForm();
  Click(backup_form_.xpButton1);
  ASSERT_TRUE(answerer_.Boxes().empty());
  const std::string old = ReadBytes(Archive());
  ASSERT_FALSE(old.empty());
  std::string before = LogEntries();

  struct Case {
    const char* what;
    std::function<void()> breakIt;
    std::string engineText;
  };
  const std::string moved = root_ + "/moved";
  const std::vector<Case> cases = {
      {"source folder missing", [&] { std::filesystem::rename(source_, moved); }, "Invalid directory: " + source_},
      {"source folder empty",
       [&] {
         std::filesystem::rename(moved, source_);
         for (const auto& e : std::filesystem::directory_iterator(source_)) std::filesystem::remove_all(e.path());
       },
       "Nothing to do: " + source_},
      // The finished archive cannot take the old one's place.
      {"archive name taken by a folder",
       [&] {
         SmallFiles();
         std::filesystem::rename(Archive(), root_ + "/kept.zip");
         std::filesystem::create_directories(Archive() + "/inside");
       },
       "Error writing to file: " + Archive()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.breakIt();
    answerer_.Clear();
    Click(backup_form_.xpButton1);
    ASSERT_EQ(answerer_.Boxes().size(), 1u) << "an error box also with info 0";
    const auto& box = answerer_.Boxes()[0];
    EXPECT_EQ(box.caption, "Ошибка!");
    EXPECT_EQ(box.flags, platform::MB_OK | platform::MB_ICONERROR);
    EXPECT_EQ(box.text.rfind(kFailure, 0), 0u) << box.text;
    EXPECT_NE(box.text.find(c.engineText), std::string::npos) << box.text;
    EXPECT_EQ(box.text.find("успешно"), std::string::npos) << box.text;
    EXPECT_EQ(LogEntries().substr(before.size()),
              StartBlock(source_, backup_, "Backup.zip") + EndBlock(FailureLines(box.text)));
    const std::string kept = std::filesystem::is_directory(Archive()) ? root_ + "/kept.zip" : Archive();
    EXPECT_EQ(ReadBytes(kept), old) << "the old archive is kept byte for byte";
    for (const auto& name : BackupFolder()) EXPECT_EQ(name, "Backup.zip") << "left behind";
    before = LogEntries();
  }

  // Without its backup folder the run fails before anything is written.
  std::filesystem::remove_all(backup_);
  answerer_.Clear();
  Click(backup_form_.xpButton1);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_NE(answerer_.Boxes()[0].text.find("Invalid directory"), std::string::npos) << answerer_.Boxes()[0].text;
}

// What the error box names is what the user knows: the missing source folder, the archive (never
// the hidden file a replacing run builds it under), each error once.
TEST_F(BackupForm, ErrorsNameTheFoldersAndArchivesTheUserKnowsEachOnce) {
  Task("new", "Backup.zip", "0");
  OpenWithTask();
  ShowForm();
  std::filesystem::remove_all(source_);
  Click(backup_form_.xpButton1);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, std::string(kFailure) + "\n\nInvalid directory: " + source_);
  EXPECT_EQ(LogEntries(), StartBlock(source_, backup_, "Backup.zip") +
                              EndBlock(std::string(kFailure) + "\r\nInvalid directory: " + source_));

  // The backup's volume fills up while the finished archive is copied onto it from a temporary
  // folder on another volume.
  char shm[] = "/dev/shm/tarvelo-backup-XXXXXX";
  ASSERT_NE(mkdtemp(shm), nullptr);
  const std::string temp = shm;
  if (platform::DeviceOf(temp) == platform::DeviceOf(backup_)) {
    std::filesystem::remove_all(temp);
    GTEST_SKIP() << "no second volume for the temporary folder";
  }
  std::filesystem::create_directories(source_);
  LargeFiles(2, 100 * 1024);
  backup_form_.Zip1.SetTempDir(temp);
  rlimit unlimited{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  backup_form_.Zip1.OnTmpFileMoveBegin = [&](TObject*, const std::string&, const std::string&) {
    rlimit full = unlimited;
    full.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &full);
  };
  answerer_.Clear();
  Click(backup_form_.xpButton1);
  setrlimit(RLIMIT_FSIZE, &unlimited);
  std::signal(SIGXFSZ, oldSignal);
  std::filesystem::remove_all(temp);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text.rfind(std::string(kFailure) + "\n\nDisk full: " + Archive(), 0), 0u)
      << answerer_.Boxes()[0].text;
  EXPECT_EQ(answerer_.Boxes()[0].text.find('\n', std::string(kFailure).size() + 2), std::string::npos)
      << "one line: " << answerer_.Boxes()[0].text;
  EXPECT_EQ(BackupFolder(), std::set<std::string>{}) << "nothing is left behind";
}

TEST_F(BackupForm, FileVanishingDuringTheRunIsAFailureAndKeepsTheOldArchive) {
  Task("new", "Backup.zip");
  LargeFiles(3, 400 * 1024);
  OpenWithTask();
  ShowForm();
  Click(backup_form_.xpButton1);
  const std::string old = ReadBytes(Archive());
  answerer_.Clear();

  // Once the writer works on its first file, the other files go.
  bool removed = false;
  QTimer during;
  during.setInterval(0);
  QObject::connect(&during, &QTimer::timeout, [&] {
    const std::string current = backup_form_.Zip1.CurrentFileName();
    if (removed || !backup_form_.Running() || current.rfind("большой", 0) != 0) return;
    for (const auto& e : std::filesystem::directory_iterator(source_)) {
      if (e.is_regular_file() && e.path().filename() != current) std::filesystem::remove(e.path());
    }
    removed = true;
  });
  during.start();
  Click(backup_form_.xpButton1);
  during.stop();
  ASSERT_TRUE(removed);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Ошибка!");
  EXPECT_NE(answerer_.Boxes()[0].text.find("Error opening file: " + source_ + "/"), std::string::npos)
      << answerer_.Boxes()[0].text;
  EXPECT_EQ(ReadBytes(Archive()), old) << "a backup that misses files replaces nothing";
  EXPECT_NE(LogEntries().find(EndBlock(FailureLines(answerer_.Boxes()[0].text))), std::string::npos);
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"Backup.zip"});
}

// What the user running the backup cannot read (a file, a folder: mode 000) is named in the box
// and fails the run. Under a dated name, which replaces nothing, the archive of everything else
// is the backup there is and stays; an archive the name already holds is never replaced by such
// a run.
TEST_F(BackupForm, WhatCannotBeReadIsNamedAndTheRestStaysWhereItReplacesNothing) {
  Task("new", "Дата+Время.zip", "0");
  const auto files = SmallFiles();
  const std::string closedFile = source_ + "/закрытый.txt";
  const std::string closedFolder = source_ + "/закрытая";
  WriteBytes(closedFile, "не для всех");
  std::filesystem::create_directories(closedFolder);
  WriteBytes(closedFolder + "/важное.txt", "важное");
  std::filesystem::permissions(closedFile, std::filesystem::perms::none);
  std::filesystem::permissions(closedFolder, std::filesystem::perms::none);
  struct TReopen {
    std::string Folder;
    ~TReopen() { std::filesystem::permissions(Folder, std::filesystem::perms::owner_all); }
  } reopen{closedFolder};
  OpenWithTask();
  ShowForm();
  const std::string archive = backup_ + "/08_12_2026-09_05.zip";
  ASSERT_EQ(backup_form_.Edit3.text().toStdString(), "08_12_2026-09_05.zip");
  {
    const testsupport::TOrdinaryUser user;
    if (!user.CannotList(closedFolder)) GTEST_SKIP() << "this process reads folders of mode 000 and cannot give that up";
    Click(backup_form_.xpButton1);
  }
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  const std::string text = answerer_.Boxes()[0].text;
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Ошибка!");
  EXPECT_EQ(text.rfind(kFailure, 0), 0u) << text;
  EXPECT_NE(text.find("Error opening file: " + closedFile), std::string::npos) << text;
  EXPECT_NE(text.find("Error opening file: " + closedFolder + "/"), std::string::npos) << text;
  EXPECT_EQ(LogEntries(), StartBlock(source_, backup_, "08_12_2026-09_05.zip") + EndBlock(FailureLines(text)));
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"08_12_2026-09_05.zip"});
  std::string out;
  EXPECT_EQ(Run("unzip -t " + Quoted(archive), &out), 0) << out;
  EXPECT_EQ(Run("7zz t " + Quoted(archive), &out), 0) << out;
  EXPECT_EQ(Run("bsdtar -tf " + Quoted(archive), &out), 0) << out;
  const std::string peer = root_ + "/peer";
  ASSERT_EQ(PeerExtract(archive, peer, &out), 0) << out;
  EXPECT_TRUE(Tree(peer) == files) << "the archive holds exactly what could be read";

  // A second run of the activation meets the archive of the first under its name: it stays.
  const std::string first = ReadBytes(archive);
  WriteBytes(source_ + "/отчёт.txt", "изменён после первого запуска");
  answerer_.Clear();
  {
    const testsupport::TOrdinaryUser user;
    Click(backup_form_.xpButton1);
  }
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_NE(answerer_.Boxes()[0].text.find("Error opening file: " + closedFolder + "/"), std::string::npos);
  EXPECT_EQ(ReadBytes(archive), first);
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"08_12_2026-09_05.zip"});
}

// What holds no file data is named in the task log as not stored, with the reason, as the
// executor names it, and the run succeeds with the files there are.
TEST_F(BackupForm, WhatHoldsNoDataIsNamedAsNotStoredAndTheRunSucceeds) {
  Task("new", "Backup.zip", "1");
  const auto files = SmallFiles();
  struct Row {
    const char* name;
    std::function<void(const std::string& path)> make;
    const char* reason;
  };
  const Row rows[] = {
      {"канал", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, "named pipe (FIFO)"},
      {"папка/устройство", [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
       "link to a character device"},
      {"lock", [](const std::string& p) { std::filesystem::create_symlink("127.0.1.1:+4242", p); },
       "link to nothing: No such file or directory"},
  };
  std::set<std::string> expected;
  for (const Row& r : rows) {
    const std::string path = source_ + "/" + r.name;
    r.make(path);
    expected.insert("Not stored, holds no file data: " + path + " (" + r.reason + ")");
  }
  OpenWithTask();
  ShowForm();
  Click(backup_form_.xpButton1);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, "Резервное копирование успешно завершено, скопировано: 3 файлов");
  const std::string entry = LogEntries();
  const std::string start = StartBlock(source_, backup_, "Backup.zip") +
                            "Резервное копирование успешно завершено, скопировано: 3 файлов\r\n";
  ASSERT_EQ(entry.rfind(start, 0), 0u) << entry;
  std::set<std::string> named;
  std::istringstream rest(entry.substr(start.size()));
  for (std::string line; std::getline(rest, line) && !line.ends_with("Завершение задачи\r");) {
    named.insert(line.substr(0, line.size() - 1));
  }
  EXPECT_EQ(named, expected);
  const std::string peer = root_ + "/peer";
  std::string out;
  ASSERT_EQ(PeerExtract(Archive(), peer, &out), 0) << out;
  EXPECT_TRUE(Tree(peer) == files);
}

TEST_F(BackupForm, MetersMoveAndTheFormAnswersDuringALongRun) {
  Task("add", "Backup.zip", "0");
  LargeFiles(3, 1024 * 1024);
  OpenWithTask();
  ShowForm();
  std::set<int> byFile, byArchive;
  std::set<std::string> labels;
  int ticks = 0;
  bool closedWhileRunning = false;
  QTimer during;
  during.setInterval(0);
  QObject::connect(&during, &QTimer::timeout, [&] {
    if (!backup_form_.Running()) return;
    ++ticks;
    byFile.insert(backup_form_.KamsaMeter1.Position());
    byArchive.insert(backup_form_.KamsaMeter2.Position());
    labels.insert(backup_form_.Label6.text().toStdString());
    if (ticks == 3) {
      // Neither a second run nor closing the form interrupts the one in progress.
      backup_form_.xpButton1Click(nullptr);
      backup_form_.close();
      closedWhileRunning = !backup_form_.isVisible();
    }
  });
  during.start();
  Click(backup_form_.xpButton1);
  during.stop();

  EXPECT_GT(ticks, 10) << "the event loop turns during the run";
  EXPECT_FALSE(closedWhileRunning);
  EXPECT_TRUE(backup_form_.isVisible());
  std::set<int> between;
  for (int p : byArchive) {
    if (p > 0 && p < 100) between.insert(p);
  }
  EXPECT_GE(between.size(), 3u) << "the archive meter shows intermediate values";
  EXPECT_GE(byFile.size(), 3u);
  EXPECT_TRUE(labels.count("большой0.dat") && labels.count("большой2.dat")) << "the current file is shown";

  EXPECT_GE(*byArchive.rbegin(), 90);
  EXPECT_TRUE(answerer_.Boxes().empty());
  std::string out;
  EXPECT_EQ(Run("unzip -t " + Quoted(Archive()), &out), 0) << out;
  EXPECT_EQ(LogEntries().find("->", 1), std::string::npos) << "one run, one entry";
}

TEST_F(BackupForm, BackupFolderOnARemovableStickTakesOneArchiveAsOnAFixedVolume) {
  // Nobody answers disk requests in the programs: a stick must not be treated as a drive of
  // spanned disks. The archive is one file, the stick keeps its label, a full stick fails the
  // run as a full disk and keeps the old archive.
  platform::SimulatedDrive stick(root_ + "/stick", 96 * 1024, "ФЛЕШКА", 0x1CEB00DA, root_ + "/stick-disk");
  backup_ = root_ + "/stick/Копии";
  std::filesystem::create_directories(backup_);
  for (const char* copyType : {"new", "add"}) {
    SCOPED_TRACE(copyType);
    std::filesystem::remove_all(source_);
    std::filesystem::create_directories(source_ + "/папка/вложенная");
    std::filesystem::remove_all(backup_);
    std::filesystem::create_directories(backup_);
    Task(copyType, "Backup.zip");
    const auto files = SmallFiles();
    OpenWithTask();
    ShowForm();
    answerer_.Clear();
    Click(backup_form_.xpButton1);
    ASSERT_EQ(answerer_.Boxes().size(), 1u);
    EXPECT_EQ(answerer_.Boxes()[0].text, "Резервное копирование успешно завершено, скопировано: 3 файлов");
    EXPECT_EQ(stick.Label(), "ФЛЕШКА");
    EXPECT_EQ(BackupFolder(), std::set<std::string>{"Backup.zip"});
    std::string out;
    EXPECT_EQ(ReadBytes(Archive()).substr(0, 4), std::string("PK\3\4", 4));
    EXPECT_EQ(Run("unzip -t " + Quoted(Archive()), &out), 0) << out;
    EXPECT_EQ(Run("7zz t " + Quoted(Archive()), &out), 0) << out;
    EXPECT_EQ(Run("bsdtar -tf " + Quoted(Archive()), &out), 0) << out;
    const std::string peer = root_ + "/peer-" + copyType;
    ASSERT_EQ(PeerExtract(Archive(), peer, &out), 0) << out;
    EXPECT_TRUE(Tree(peer) == files) << "the extracted files differ from the source";

    // A file that does not fit beside the old archive: the stick is full.
    const std::string old = ReadBytes(Archive());
    LargeFiles(1, 120 * 1024);
    answerer_.Clear();
    Click(backup_form_.xpButton1);
    ASSERT_EQ(answerer_.Boxes().size(), 1u);
    EXPECT_EQ(answerer_.Boxes()[0].caption, "Ошибка!");
    EXPECT_NE(answerer_.Boxes()[0].text.find("Disk full"), std::string::npos) << answerer_.Boxes()[0].text;
    EXPECT_EQ(ReadBytes(Archive()), old) << "the old archive is kept byte for byte";
    EXPECT_EQ(BackupFolder(), std::set<std::string>{"Backup.zip"}) << "nothing left behind on the stick";
    EXPECT_EQ(stick.Label(), "ФЛЕШКА");
    backup_form_.close();
  }
}

}  // namespace
