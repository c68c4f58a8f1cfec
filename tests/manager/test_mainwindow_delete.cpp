// Deleting the selected task: the confirmation by warn, the log, the backup folder by delf, the
// result box by info, the rewritten store and the cleared selection.
#include "tests/manager/mainwindow_fixture.h"

namespace {

using mainwindow::MainWindowTest;
using mainwindow::OnDemand;

constexpr const char* kConfirm = "Вы действительно хотите удалить выбранную задачу?";
constexpr const char* kDone = "Задача успешно удалена.";

class TaskDeletion : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    backup_ = root_ + "/backups/Docs";
    std::filesystem::create_directories(backup_ + "/sub");
    WriteBytes(backup_ + "/Backup.zip", "zip");
    WriteBytes(backup_ + "/08_12_2026-09_05.zip", "zip");
    auto docs = OnDemand("Docs", backup_);
    docs[LogFlag - 1] = "1";
    docs[LogFile - 1] = "Docs.log";
    WriteBytes(home_ + "/Docs.log", "*****\r\n");
    tasks_ = {OnDemand("First"), docs, OnDemand("Last")};
    Store(tasks_);
  }

  void DeleteRow(int row) {
    Open();
    ClickRow(row);
    QTest::mouseClick(&form_->ToolButton10, Qt::LeftButton);
  }

  std::string StoredNames() {
    int32_t count = 1;
    TTaskTable table;
    LoadTaskStore(table, count);
    std::string names;
    for (int32_t t = 1; t < count; ++t) names += table(TaskName, t) + ";";
    return names;
  }

  std::string backup_;
  std::vector<TTaskRecord> tasks_;
};

TEST_F(TaskDeletion, ConfirmedDeletionRemovesTaskLogAndBackupFiles) {
  Settings("1", "1", "1");
  answerer_.Answer(platform::IDYES);
  DeleteRow(2);
  EXPECT_EQ(Shown(), (std::vector<std::string>{kConfirm, kDone}));
  EXPECT_EQ(StoredNames(), "First;Last;");
  EXPECT_FALSE(Exists(home_ + "/Docs.log"));
  EXPECT_FALSE(Exists(backup_ + "/Backup.zip"));
  EXPECT_FALSE(Exists(backup_ + "/08_12_2026-09_05.zip"));
  // The subfolder is no archive of the task, so the folder stays.
  EXPECT_TRUE(Exists(backup_ + "/sub"));
  ASSERT_EQ(form_->StringGrid1.rowCount(), 3);
  EXPECT_EQ(Cell(2, 1), "Last");
  // The row that was selected now shows another task: it must not stay selected.
  EXPECT_EQ(SelectedTask, 0);
  QTest::mouseClick(&form_->ToolButton4, Qt::LeftButton);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Не выбрана задача!"});
}

TEST_F(TaskDeletion, AnEmptiedBackupFolderIsRemoved) {
  std::filesystem::remove(backup_ + "/sub");
  Settings("0", "1", "0");
  DeleteRow(2);
  EXPECT_TRUE(Shown().empty());  // warn and info "0": nothing asked, nothing reported
  EXPECT_FALSE(Exists(backup_));
  EXPECT_EQ(StoredNames(), "First;Last;");
}

// A backup folder can be a folder of the user's own: only the task's archives go with the task
// (its fixed name and names by date and time, with their split volumes), and the folder only
// when nothing else is left in it.
TEST_F(TaskDeletion, OnlyTheTasksArchivesGoAndTheFolderOnlyWhenEmpty) {
  Settings("0", "1", "0");
  std::filesystem::remove(backup_ + "/sub");
  const std::vector<std::string> archives = {"Backup.zip", "Backup.z01", "Backup.z02", "08_12_2026-09_05.zip",
                                             "31_01_2027-23_59.zip", "31_01_2027-23_59.z01", "31_01_2027-23_59.z100"};
  const std::vector<std::string> theirs = {"notes.txt", "photos.zip", "Backup.zip.txt", "backup.zip", "8_12_2026-09_05.zip",
                                           "08_12_2026-09_05.zip.part", "08-12-2026_09_05.zip", "Backup.z1", ".Backup.zip"};
  for (const auto& name : archives) WriteBytes(backup_ + "/" + name, "zip");
  for (const auto& name : theirs) WriteBytes(backup_ + "/" + name, "mine");
  DeleteRow(2);
  for (const auto& name : archives) EXPECT_FALSE(Exists(backup_ + "/" + name)) << name;
  for (const auto& name : theirs) EXPECT_EQ(ReadBytes(backup_ + "/" + name), "mine") << name;
  EXPECT_EQ(StoredNames(), "First;Last;");

  // A task whose name has no extension keeps its archive under the name the runs give it.
  for (const auto& name : theirs) std::filesystem::remove(backup_ + "/" + name);
  WriteBytes(backup_ + "/Daily.zip", "zip");
  WriteBytes(backup_ + "/Daily.z01", "zip");
  auto daily = OnDemand("Daily", backup_);
  daily[ArchiveName - 1] = "Daily";
  Store({daily});
  DeleteRow(1);
  EXPECT_FALSE(Exists(backup_)) << "emptied of the task's archives, the folder goes";
}

TEST_F(TaskDeletion, NoKeepsEverything) {
  Settings("1", "1", "1");
  const std::string before = ReadBytes(home_ + "/records.dat");
  answerer_.Answer(platform::IDNO);
  DeleteRow(2);
  EXPECT_EQ(Shown(), std::vector<std::string>{kConfirm});
  EXPECT_EQ(ReadBytes(home_ + "/records.dat"), before);
  EXPECT_TRUE(Exists(home_ + "/Docs.log"));
  EXPECT_TRUE(Exists(backup_ + "/Backup.zip"));
  EXPECT_EQ(SelectedTask, 2);
}

TEST_F(TaskDeletion, WithoutDelfTheBackupFolderStaysButTheLogGoes) {
  Settings("0", "0", "1");
  DeleteRow(2);
  EXPECT_EQ(Shown(), std::vector<std::string>{kDone});
  EXPECT_FALSE(Exists(home_ + "/Docs.log"));
  EXPECT_TRUE(Exists(backup_ + "/Backup.zip"));
  EXPECT_TRUE(Exists(backup_ + "/08_12_2026-09_05.zip"));
}

TEST_F(TaskDeletion, DeletingTheLastTaskEmptiesTheStore) {
  Settings("0", "0", "0");
  Store({OnDemand("Only")});
  DeleteRow(1);
  EXPECT_EQ(ReadBytes(home_ + "/records.dat"), "");
  EXPECT_EQ(form_->StringGrid1.rowCount(), 1);
  QTest::mouseClick(&form_->ToolButton10, Qt::LeftButton);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Список установленых задач пуст!"});
}

TEST_F(TaskDeletion, FoldersThatHoldOtherDataAreLeftAlone) {
  Settings("0", "1", "0");
  // A backup folder that is the installation folder, the task's own source folder, or the
  // folder of another task: its files are the store, the programs or someone else's data.
  const std::string shared = root_ + "/shared";
  std::filesystem::create_directory(shared);
  WriteBytes(shared + "/other.zip", "zip");
  auto inHome = OnDemand("InHome", home_);
  auto ownSource = OnDemand("OwnSource", shared);
  ownSource[SourceDir - 1] = shared;
  auto sharer = OnDemand("Sharer", shared);
  auto keeper = OnDemand("Keeper", shared);
  Store({inHome, sharer, keeper});
  DeleteRow(1);
  EXPECT_TRUE(Exists(home_ + "/records.dat"));
  EXPECT_TRUE(Exists(home_ + "/1.bmp"));
  DeleteRow(1);  // Sharer: Keeper still keeps its archives there
  EXPECT_TRUE(Exists(shared + "/other.zip"));
  Store({ownSource});
  DeleteRow(1);
  EXPECT_TRUE(Exists(shared + "/other.zip"));
  EXPECT_EQ(ReadBytes(home_ + "/records.dat"), "");
}

TEST_F(TaskDeletion, ALogNameOutsideTheInstallationFolderIsNotDeleted) {
  Settings("0", "0", "0");
  WriteBytes(root_ + "/victim.txt", "keep");
  auto odd = OnDemand("Odd");
  odd[LogFlag - 1] = "1";
  odd[LogFile - 1] = "../victim.txt";
  Store({odd});
  DeleteRow(1);
  EXPECT_TRUE(Exists(root_ + "/victim.txt"));
  EXPECT_EQ(StoredNames(), "");
}

TEST_F(TaskDeletion, AFailedRewriteKeepsTheFiles) {
  Settings("0", "1", "0");
  Open();
  ClickRow(2);
  // A folder in the store's place: the rewrite cannot be renamed over it.
  const std::string store = home_ + "/records.dat";
  const std::string saved = ReadBytes(store);
  std::filesystem::remove(store);
  std::filesystem::create_directory(store);
  QTest::mouseClick(&form_->ToolButton10, Qt::LeftButton);
  std::filesystem::remove(store);
  WriteBytes(store, saved);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);  // the runtime's I/O error
  EXPECT_EQ(answerer_.Boxes()[0].flags & platform::MB_ICONMASK, platform::MB_ICONERROR);
  EXPECT_TRUE(Exists(backup_ + "/Backup.zip"));
  EXPECT_TRUE(Exists(home_ + "/Docs.log"));
  EXPECT_EQ(StoredNames(), "First;Docs;Last;");
}

}  // namespace
