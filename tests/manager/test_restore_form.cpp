// The restore form driven by clicks: the archive list of the backup folder, a restore into an
// emptied source folder compared byte for byte (our archives and Info-ZIP's), the meters during
// a long restore, deleting an archive, and restores that fail: a damaged entry, a file that is
// no archive, a name the log cannot hold.
#include <QTimer>

#include <set>

#include "manager/TaskArchive.h"
#include "manager/restore.h"
#include "platform/gui/datetime.h"
#include "platform/volumes.h"
#include "tests/archive/unzip_fixture.h"
#include "tests/manager/archiveform_fixture.h"
#include "tests/support/OrdinaryUser.h"

namespace {

constexpr const char* kFailure = "Невозможно произвести востановление файлов из-за внутренней ошибки! ";
constexpr const char* kNoChoiceToRestore =
    "Не выбран файл резервной копии! Выделите щелчком мыши имя файла в окне \"Файлы резервных копий\" из которого "
    "будет востанавливаться информация.";
constexpr const char* kNoChoiceToDelete =
    "Не выбран файл резервной копии! Выделите щелчком мыши имя файла в окне \"Файлы резервных копий\" который Вы "
    "хотели бы удалить.";

class RestoreForm : public archiveform::ArchiveFormTest {
 protected:
  void SetUp() override {
    ArchiveFormTest::SetUp();
    const double t = platform::EncodeDateTime(2026, 12, 8, 9, 5, 33);
    platform::SetClockForTesting([t] { return t; });
  }
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    ArchiveFormTest::TearDown();
  }

  // The task's source folder packed by the writer as the programs set it up.
  void Pack(const std::string& archive) {
    TZip zip;
    SetTaskZipProperties(zip);
    ASSERT_GE(CompressTaskArchive(zip, source_, archive, true, "test").Added, 1);
  }
  void EmptySource() {
    for (const auto& e : std::filesystem::directory_iterator(source_)) std::filesystem::remove_all(e.path());
  }
  void ShowForm() { ShowFrom(form_->ToolButton9, restore_form_); }
  // A failed restore's line 7, followed by the lines its error box lists.
  static std::string FailureLines(const std::string& boxText) { return BoxAsLogLines(kFailure, boxText); }

  std::vector<std::string> Listed() const { return restore_form_.FileListBox1.Names(); }
  // Presses on the list's row of name (or below the rows when name is empty).
  void PressInList(const std::string& name) {
    TFileListBox& list = restore_form_.FileListBox1;
    QPoint at(10, list.viewport()->height() - 3);
    for (int i = 0; i < list.count(); ++i) {
      if (list.Names()[static_cast<size_t>(i)] == name) at = list.visualItemRect(list.item(i)).center();
    }
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  void Choose(const std::string& name) {
    PressInList(name);
    ASSERT_EQ(restore_form_.ChosenArchive(), backup_ + "/" + name);
    ASSERT_EQ(restore_form_.Edit2.text().toStdString(), backup_ + "/" + name);
  }

  TForm7 restore_form_;
};

TEST_F(RestoreForm, RestoresTheChosenArchiveIntoTheEmptiedSourceFolder) {
  Task("new", "Backup.zip");
  const auto files = SmallFiles();
  Pack(backup_ + "/Backup.zip");
  Pack(backup_ + "/СТАРЫЙ.ZIP");
  WriteBytes(backup_ + "/notes.txt", "not an archive");
  WriteBytes(backup_ + "/.~Kalvenor-1-1-Backup.zip", "a run in progress");
  EmptySource();
  OpenWithTask();
  ShowForm();
  EXPECT_EQ(restore_form_.Edit3.text().toStdString(), "Документы");
  EXPECT_EQ(restore_form_.Edit1.text().toStdString(), source_);
  EXPECT_TRUE(restore_form_.Edit2.text().isEmpty());
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Backup.zip", "СТАРЫЙ.ZIP"}));

  Choose("Backup.zip");
  Click(restore_form_.xpButton3);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, "Востановление успешно завершено, востановлено: 3 файлов");
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Результаты востановления");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONINFORMATION);
  EXPECT_TRUE(Tree(source_) == files) << "the restored files differ from the backed-up ones";
  EXPECT_EQ(restore_form_.Label4.text().toStdString(), "Востанавливаемый файл");
  EXPECT_EQ(restore_form_.Label3.text().toStdString(), "Файл резервной копии");
  EXPECT_EQ(LogEntries(), "->\r\nВостановление по требованию\r\n08.12.2026 9:05:33 Запуск задачи \r\n"
                          "Каталог данных: " + source_ + "\r\nИмя файла резервной копии: " + backup_ +
                              "/Backup.zip\r\n08.12.2026 9:05:33 Старт востановления\r\n"
                              "Востановление успешно завершено, востановлено: 3 файлов\r\n"
                              "08.12.2026 9:05:33 Завершение задачи\r\n" + std::string(14, ' ') + "\r\n");

  // An archive that appears while the form is open is listed at the next paint.
  Pack(backup_ + "/Новый.zip");
  restore_form_.repaint();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Backup.zip", "Новый.zip", "СТАРЫЙ.ZIP"}));
}

TEST_F(RestoreForm, RestoresAnInfoZipArchiveAndMetersMoveOnALargeOne) {
  Task("new", "Backup.zip", "0");
  WriteBytes(source_ + "/plain.txt", "made by Info-ZIP");
  LargeFiles(2, 1024 * 1024);
  // Info-ZIP stores the local bytes of a name without saying their code page: ASCII names only.
  for (int i = 0; i < 2; ++i) {
    std::filesystem::rename(source_ + "/большой" + std::to_string(i) + ".dat", source_ + "/big" + std::to_string(i) + ".dat");
  }
  std::filesystem::remove_all(source_ + "/папка");
  std::filesystem::create_directories(source_ + "/sub/deeper");
  WriteBytes(source_ + "/sub/deeper/x.bin", std::string("\0\1\2", 3));
  const auto files = Tree(source_);
  std::string out;
  ASSERT_EQ(Run("cd " + Quoted(source_) + " && zip -q -r " + Quoted(backup_ + "/peer.zip") + " .", &out), 0) << out;
  EmptySource();
  OpenWithTask();
  ShowForm();
  Choose("peer.zip");

  std::set<int> byArchive;
  int ticks = 0;
  QTimer during;
  during.setInterval(0);
  QObject::connect(&during, &QTimer::timeout, [&] {
    if (!restore_form_.Running()) return;
    ++ticks;
    byArchive.insert(restore_form_.KamsaMeter2.Position());
    if (ticks == 3) restore_form_.close();  // a restore in progress is not left half-done
  });
  during.start();
  Click(restore_form_.xpButton3);
  during.stop();
  EXPECT_TRUE(answerer_.Boxes().empty()) << answerer_.Boxes()[0].text;
  EXPECT_TRUE(Tree(source_) == files) << "the restored files differ from the packed ones";
  EXPECT_TRUE(restore_form_.isVisible());
  EXPECT_GT(ticks, 10) << "the event loop turns during the restore";
  std::set<int> between;
  for (int p : byArchive) {
    if (p > 0 && p < 100) between.insert(p);
  }
  EXPECT_GE(between.size(), 3u) << "the archive meter shows intermediate values";
}

// Deleting a backup cannot be undone: the form asks first, as the other deletions do, unless warn
// is "0".
TEST_F(RestoreForm, DeletesTheChosenArchiveOnceConfirmedAndForgetsTheChoice) {
  constexpr const char* kConfirm = "Вы действительно хотите удалить выбранную резервную копию?";
  Task("new", "Backup.zip", "1");
  SmallFiles();
  Pack(backup_ + "/a.zip");
  Pack(backup_ + "/b.zip");
  Pack(backup_ + "/c.zip");
  OpenWithTask();
  ShowForm();
  Choose("a.zip");
  answerer_.Answer(platform::IDNO);
  Click(restore_form_.xpButton2);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, kConfirm);
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Подтверждение");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_YESNO | platform::MB_ICONQUESTION);
  EXPECT_TRUE(Exists(backup_ + "/a.zip"));
  EXPECT_EQ(restore_form_.ChosenArchive(), backup_ + "/a.zip");
  EXPECT_EQ(LogEntries(), "");

  answerer_.Clear();
  answerer_.Answer(platform::IDYES);
  Click(restore_form_.xpButton2);
  EXPECT_EQ(Shown(), std::vector<std::string>{kConfirm}) << "no result box";
  EXPECT_FALSE(Exists(backup_ + "/a.zip"));
  EXPECT_TRUE(Exists(backup_ + "/b.zip"));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"b.zip", "c.zip"}));
  EXPECT_TRUE(restore_form_.Edit2.text().isEmpty());
  EXPECT_EQ(LogEntries(), "->\r\n08.12.2026 9:05:33 Удаление резервной копии\r\nИмя файла: " + backup_ + "/a.zip\r\n");

  Click(restore_form_.xpButton2);
  Click(restore_form_.xpButton3);
  EXPECT_EQ(Shown(), (std::vector<std::string>{kNoChoiceToDelete, kNoChoiceToRestore}));
  EXPECT_TRUE(Exists(backup_ + "/b.zip"));

  // With warn "0" nothing is asked.
  MainSettings().warn = "0";
  restore_form_.FormActivate();
  Choose("b.zip");
  Click(restore_form_.xpButton2);
  EXPECT_TRUE(Shown().empty());
  EXPECT_FALSE(Exists(backup_ + "/b.zip"));
  EXPECT_EQ(Listed(), std::vector<std::string>{"c.zip"});
}

// A deletion that fails (a backup folder the user cannot write to) is shown, and the task log
// records only deletions that happened.
TEST_F(RestoreForm, AFailedDeletionIsShownAndNotLoggedAsDone) {
  Task("new", "Backup.zip", "1");
  SmallFiles();
  Pack(backup_ + "/a.zip");
  OpenWithTask();
  ShowForm();
  Choose("a.zip");
  std::filesystem::permissions(backup_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  struct TReopen {
    std::string Folder;
    ~TReopen() { std::filesystem::permissions(Folder, std::filesystem::perms::owner_all); }
  } reopen{backup_};
  {
    const testsupport::TOrdinaryUser user;
    if (!user.CannotWriteInto(backup_))
      GTEST_SKIP() << "this process writes into folders without write permission and cannot give that up";
    answerer_.Answer(platform::IDYES);
    Click(restore_form_.xpButton2);
  }
  ASSERT_EQ(answerer_.Boxes().size(), 2u) << "the question, then the failure";
  EXPECT_EQ(answerer_.Boxes()[1].caption, "Ошибка!");
  EXPECT_EQ(answerer_.Boxes()[1].flags, platform::MB_OK | platform::MB_ICONERROR);
  EXPECT_EQ(answerer_.Boxes()[1].text,
            "Не удалось удалить резервную копию " + backup_ + "/a.zip: нет прав на удаление");
  EXPECT_TRUE(Exists(backup_ + "/a.zip"));
  EXPECT_EQ(Listed(), std::vector<std::string>{"a.zip"});
  EXPECT_EQ(LogEntries(), "") << "nothing was deleted";
}

TEST_F(RestoreForm, EmptyListSaysSoWhileNothingIsChosen) {
  Task("new", "Backup.zip");
  WriteBytes(backup_ + "/notes.txt", "not an archive");
  OpenWithTask();
  ShowForm();
  EXPECT_TRUE(Listed().empty());
  PressInList("");
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, "Список не содержит не одного файла резервной копии!");
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Ошибка!");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONERROR);
}

TEST_F(RestoreForm, DamagedOrForeignArchivesAreReportedAsFailures) {
  Task("new", "Backup.zip", "1");
  SmallFiles();
  LargeFiles(1, 200 * 1024);
  const auto files = Tree(source_);
  Pack(backup_ + "/damaged.zip");
  std::string bytes = ReadBytes(backup_ + "/damaged.zip");
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x55);  // inside the large member
  WriteBytes(backup_ + "/damaged.zip", bytes);
  WriteBytes(backup_ + "/foreign.zip", std::string(4096, 'z'));
  Pack(backup_ + "/vanishing.zip");
  EmptySource();
  OpenWithTask();
  ShowForm();

  struct Case {
    std::string archive;
    std::string engineText;
  };
  const std::vector<Case> cases = {
      {"damaged.zip", "File fails CRC check: " + source_ + "/большой0.dat"},
      {"foreign.zip", "Invalid or unsupported archive type for this operation: " + backup_ + "/foreign.zip"},
      {"vanishing.zip", "File not found: " + backup_ + "/vanishing.zip"},
  };
  // The user's current copy of the file whose entry is damaged.
  WriteBytes(source_ + "/большой0.dat", "the version the user has now");
  std::string before = LogEntries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    Choose(c.archive);
    if (c.archive == "vanishing.zip") std::filesystem::remove(backup_ + "/" + c.archive);
    answerer_.Clear();
    Click(restore_form_.xpButton3);
    ASSERT_EQ(answerer_.Boxes().size(), 1u);
    const auto& box = answerer_.Boxes()[0];
    EXPECT_EQ(box.caption, "Ошибка!");
    EXPECT_EQ(box.text.rfind(kFailure, 0), 0u) << box.text;
    EXPECT_GT(box.text.size(), std::string(kFailure).size() + 2) << "the box says what failed";
    EXPECT_NE(box.text.find(c.engineText), std::string::npos) << box.text;
    // The log names what failed as the box does, a line each, after the failure line.
    const std::string entry = LogEntries().substr(before.size());
    EXPECT_NE(entry.find(FailureLines(box.text) + "\r\n08.12.2026 9:05:33 Завершение задачи"), std::string::npos)
        << entry;
    EXPECT_NE(entry.find(std::string(kFailure) + "\r\n" + c.engineText), std::string::npos) << entry;
    EXPECT_EQ(entry.find("успешно"), std::string::npos) << entry;
    before = LogEntries();
  }
  // The intact entries of the damaged archive did come out; the damaged one did not overwrite
  // the file the user has, and nothing of the run is left behind.
  auto restored = Tree(source_);
  EXPECT_EQ(restored.at("большой0.dat"), "the version the user has now");
  restored.erase("большой0.dat");
  auto intact = files;
  intact.erase("большой0.dat");
  EXPECT_TRUE(restored == intact) << "the intact entries differ";
  for (const auto& e : std::filesystem::directory_iterator(source_)) {
    EXPECT_NE(e.path().filename().string().rfind(".~", 0), 0u) << e.path();
  }
}

// A restore that cannot write where it restores says so once, naming the folder or the file and
// why, in the box and in the task log: a folder the user may not write into, one that cannot be
// made, a disk that fills up (the file it filled up on, not the archive and a name of the run's
// own, and no second line that the file fails its CRC check).
TEST_F(RestoreForm, WhereARestoreCannotWriteItSaysWhyOnce) {
  namespace fs = std::filesystem;
  const std::string home = source_;
  Task("new", "Backup.zip", "1");
  SmallFiles();
  LargeFiles(1, 200 * 1024);
  Pack(backup_ + "/Backup.zip");
  EmptySource();
  platform::SimulatedDrive stick(root_ + "/stick", 100 * 1024, "STICK", 7);
  fs::create_directories(root_ + "/closed");
  struct Row {
    std::string folder;  // the task's source folder, where the restore goes
    fs::perms mode;      // of the folder that refuses, when one does
    std::string refusing;
    std::string line;
  };
  const Row rows[] = {
      {home, fs::perms::owner_read | fs::perms::owner_exec, home,
       "Невозможно записать в папку: " + home + " (Permission denied)"},
      {root_ + "/closed/Документы", fs::perms::owner_read | fs::perms::owner_exec, root_ + "/closed",
       "Невозможно создать папку: " + root_ + "/closed/Документы (Permission denied)"},
      {stick.Path() + "/Документы", fs::perms::owner_all, "", "Disk full: " + stick.Path() + "/Документы/большой0.dat"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.folder);
    source_ = row.folder;
    Task("new", "Backup.zip", "1");
    OpenWithTask();
    ShowForm();
    Choose("Backup.zip");
    answerer_.Clear();
    if (!row.refusing.empty()) fs::permissions(row.refusing, row.mode);
    struct TReopen {
      std::string Folder;
      ~TReopen() {
        if (!Folder.empty()) fs::permissions(Folder, fs::perms::owner_all);
      }
    } reopen{row.refusing};
    {
      const testsupport::TOrdinaryUser user;
      if (!row.refusing.empty() && !user.CannotWriteInto(row.refusing))
        GTEST_SKIP() << "this process writes into folders without write permission and cannot give that up";
      Click(restore_form_.xpButton3);
    }
    ASSERT_EQ(answerer_.Boxes().size(), 1u);
    EXPECT_EQ(answerer_.Boxes()[0].text, std::string(kFailure) + "\n\n" + row.line);
    EXPECT_EQ(LogEntries(), "->\r\nВостановление по требованию\r\n08.12.2026 9:05:33 Запуск задачи \r\n"
                            "Каталог данных: " + row.folder + "\r\nИмя файла резервной копии: " + backup_ +
                                "/Backup.zip\r\n08.12.2026 9:05:33 Старт востановления\r\n" + kFailure + "\r\n" +
                                row.line + "\r\n08.12.2026 9:05:33 Завершение задачи\r\n" + std::string(14, ' ') +
                                "\r\n");
    EXPECT_FALSE(fs::exists(row.folder + "/большой0.dat"));
  }
}

// Guards a file whose entry was in doubt replacing the user's: read without its directory, a
// member whose local name was damaged into another member's name passed under that name with
// the other member's data, and the form published what had passed although the run failed;
// in a directory that lists one name twice, the second entry failed its CRC after writing over
// the first one's output, which had passed and was published. The user's file stays.
TEST_F(RestoreForm, AFileWhoseEntryIsInDoubtNeverReplacesTheUsersFile) {
  using unzipfixture::Build;
  using unzipfixture::Stored;
  Task("new", "Backup.zip", "1");
  struct Case {
    std::string what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  {
    // Cut before its directory; the second member's name "rep0rt.txt" damaged into "report.txt".
    auto b = Build({Stored("report.txt", "the report as it was backed up"), Stored("rep0rt.txt", "something else")},
                   false);
    const size_t second = TLocalHeader::kSize + 10 + std::string("the report as it was backed up").size();
    ASSERT_EQ(b[second + TLocalHeader::kSize + 3], '0');
    b[second + TLocalHeader::kSize + 3] = 'o';
    cases.push_back({"two members of one name without a directory", b});
  }
  {
    // A directory that lists report.txt twice; the data of the second is damaged.
    auto b = Build({Stored("report.txt", "the report as it was backed up"), Stored("report.txt", "a later copy")});
    const size_t second = TLocalHeader::kSize + 10 + std::string("the report as it was backed up").size();
    b[second + TLocalHeader::kSize + 10 + 2] ^= 0x20;
    cases.push_back({"a directory naming one file twice, the second damaged", b});
  }
  OpenWithTask();
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const std::string name = "doubt" + std::to_string(i) + ".zip";
    WriteBytes(backup_ + "/" + name, std::string(cases[i].bytes.begin(), cases[i].bytes.end()));
    WriteBytes(source_ + "/report.txt", "the user's report of today");
    ShowForm();
    Choose(name);
    answerer_.Clear();
    Click(restore_form_.xpButton3);
    ASSERT_EQ(answerer_.Boxes().size(), 1u);
    EXPECT_EQ(answerer_.Boxes()[0].caption, "Ошибка!");
    EXPECT_EQ(ReadBytes(source_ + "/report.txt"), "the user's report of today");
    restore_form_.close();
  }
}

// An older or hand-made task store may hold a relative source folder (the editor stores absolute
// ones): it is taken from the program's current folder, the files land there, and the count is
// of the files that did.
TEST_F(RestoreForm, ARelativeSourceFolderTakesTheRestoredFilesAndTheCountIsOfThoseThatArrived) {
  Task("new", "Backup.zip");
  const auto files = SmallFiles();
  Pack(backup_ + "/Backup.zip");
  EmptySource();
  Store({{"Документы", "Документы", backup_, "По требованию", "", "", "", "", "new", "Backup.zip", "1",
          "Документы.log"}});
  struct TBackToFolder {
    std::string Folder = std::filesystem::current_path().string();
    ~TBackToFolder() { std::filesystem::current_path(Folder); }
  } back;
  std::filesystem::current_path(root_);
  OpenWithTask();
  ShowForm();
  ASSERT_EQ(restore_form_.Edit1.text().toStdString(), "Документы");
  Choose("Backup.zip");
  Click(restore_form_.xpButton3);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, "Востановление успешно завершено, востановлено: 3 файлов");
  EXPECT_TRUE(Tree(source_) == files) << "the restored files differ from the backed-up ones";
  EXPECT_NE(LogEntries().find("востановлено: 3 файлов"), std::string::npos) << LogEntries();
}

TEST_F(RestoreForm, AnArchiveNameTheLogCannotHoldIsRefusedBeforeAnythingHappens) {
  Task("new", "Backup.zip", "1");
  SmallFiles();
  Pack(backup_ + "/日本.zip");
  EmptySource();
  OpenWithTask();
  ShowForm();
  Choose("日本.zip");
  Click(restore_form_.xpButton3);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_NE(answerer_.Boxes()[0].text.find("code page 1251"), std::string::npos) << answerer_.Boxes()[0].text;
  EXPECT_TRUE(Tree(source_).empty()) << "nothing is restored";
  EXPECT_EQ(LogEntries(), "") << "nothing is logged";

  // Its deletion entry cannot be written either: the archive stays.
  answerer_.Answer(platform::IDYES);
  Click(restore_form_.xpButton2);
  EXPECT_EQ(answerer_.Boxes().size(), 3u);
  EXPECT_TRUE(Exists(backup_ + "/日本.zip"));
}

}  // namespace
