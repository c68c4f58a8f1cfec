// The main window on a real installation folder: the grid rows and descriptions of every kind of
// task, the guards of the actions, the log action, the executor start, the help action and the
// start without a store.
#include "tests/manager/mainwindow_fixture.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QToolButton>

#include <filesystem>

#include "manager/Lokvist.h"
#include "manager/backup.h"
#include "manager/help.h"

namespace {

using mainwindow::Automatic;
using mainwindow::MainWindowTest;
using mainwindow::OnDemand;

constexpr const char* kEmpty = "Список установленых задач пуст!";
constexpr const char* kNoTask = "Не выбрана задача!";
constexpr const char* kNoLog = "Для этой задачи не установлено или отменено протоколирование!";

TEST_F(MainWindowTest, GridShowsEveryTaskWithItsDescription) {
  Store({OnDemand("Docs"), Automatic("Once", "Одноразовая", "Понедельник", "08.12.2026", "9:05:00"),
         Automatic("Day", "Ежедневная", "Вторник", "01.01.2026", "10:30:00"),
         Automatic("Week", "Еженедельная", "Воскресение", "01.01.2026", "23:59:59"),
         Automatic("Month", "Ежемесячная", "Среда", "05.03.2004", "9:05:00"),
         Automatic("Odd", "Иногда", "Среда", "05.03.2004", "9:05:00")});
  TForm1& form = Open();
  EXPECT_EQ(TaskCount, 7);
  ASSERT_EQ(form.StringGrid1.rowCount(), 7);
  EXPECT_EQ(Cell(0, 1), "");  // row 0 lies under the header labels and carries no task
  const std::pair<const char*, const char*> rows[] = {
      {"Docs", "По требованию"},
      {"Once", "Автоматическая, Одноразовая, 08.12.2026, 09:05"},
      {"Day", "Автоматическая, Ежедневная, 10:30"},
      {"Week", "Автоматическая, Еженедельная, Воскресение, 23:59"},
      {"Month", "Автоматическая, Ежемесячная, 05-е число, 09:05"},
      {"Odd", "Автоматическая, Иногда"},
  };
  for (int r = 1; r <= 6; ++r) {
    EXPECT_EQ(Cell(r, 1), rows[r - 1].first) << r;
    EXPECT_EQ(Cell(r, 2), rows[r - 1].second) << r;
  }
  // The fill gives a one-digit hour its zero in the table itself, so the next rewrite keeps it.
  EXPECT_EQ(TaskTable(StartTime, 2), "09:05:00");
  EXPECT_EQ(TaskTable(StartTime, 3), "10:30:00");
  EXPECT_EQ(form.Label2.text().toStdString(), "Название");
  EXPECT_EQ(form.Label3.text().toStdString(), "Описание");
  EXPECT_EQ(form.windowTitle().toStdString(), "Tarvelo - Планировщик задач");
}

TEST_F(MainWindowTest, ActivationReloadsTheStoreWrittenMeanwhile) {
  Store({OnDemand("One")});
  TForm1& form = Open();
  ASSERT_EQ(form.StringGrid1.rowCount(), 2);
  Store({OnDemand("One"), OnDemand("Two")});
  form.FormActivate();
  ASSERT_EQ(form.StringGrid1.rowCount(), 3);
  EXPECT_EQ(Cell(2, 1), "Two");
}

TEST_F(MainWindowTest, GuardedActionsReportAnEmptyListAndAMissingSelection) {
  Store({});
  TForm1& form = Open();
  QToolButton* guarded[] = {&form.ToolButton5, &form.ToolButton9, &form.ToolButton4, &form.ToolButton7,
                            &form.ToolButton2, &form.ToolButton10};
  for (QToolButton* b : guarded) QTest::mouseClick(b, Qt::LeftButton);
  EXPECT_EQ(Shown(), std::vector<std::string>(6, kEmpty));
  for (const auto& box : answerer_.Boxes()) EXPECT_EQ(box.caption, "Ошибка!");

  // An empty list wins over a remembered row number.
  Store({OnDemand("A"), OnDemand("B")});
  form.FormActivate();
  for (QToolButton* b : guarded) QTest::mouseClick(b, Qt::LeftButton);
  EXPECT_EQ(Shown(), std::vector<std::string>(6, kNoTask));
  ClickRow(2);
  EXPECT_EQ(SelectedTask, 2);
  Store({});
  form.FormActivate();
  for (QToolButton* b : guarded) QTest::mouseClick(b, Qt::LeftButton);
  EXPECT_EQ(Shown(), std::vector<std::string>(6, kEmpty));
}

TEST_F(MainWindowTest, ARowNumberBeyondTheListIsNoSelection) {
  Store({OnDemand("A"), OnDemand("B")});
  TForm1& form = Open();
  ClickRow(2);
  Store({OnDemand("A")});
  form.FormActivate();
  form.N7.trigger();  // the menu item shares the toolbar button's handler
  form.N3.trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>(2, kNoTask));
  EXPECT_EQ(TaskCount, 2);
}

TEST_F(MainWindowTest, SelectedTaskPassesTheGuards) {
  Store({OnDemand("A")});
  TForm1& form = Open();
  TForm5 run;
  QTest::mouseClick(&form.ToolButton5, Qt::LeftButton);
  EXPECT_FALSE(run.isVisible());
  EXPECT_EQ(Shown(), std::vector<std::string>{kNoTask});
  ClickRow(1);
  QTest::mouseClick(&form.ToolButton5, Qt::LeftButton);
  EXPECT_TRUE(run.isVisible());
  EXPECT_TRUE(Shown().empty());
  run.close();
}

TEST_F(MainWindowTest, LogActionNeedsATaskThatKeepsALog) {
  auto logged = OnDemand("Logged");
  logged[LogFlag - 1] = "1";
  logged[LogFile - 1] = "Logged.log";
  Store({OnDemand("Plain"), logged});
  TForm1& form = Open();
  QTest::mouseClick(&form.ToolButton2, Qt::LeftButton);
  ClickRow(1);
  QTest::mouseClick(&form.ToolButton2, Qt::LeftButton);
  EXPECT_EQ(Shown(), (std::vector<std::string>{kNoTask, kNoLog}));
  ClickRow(2);
  WriteBytes(home_ + "/Logged.log", "");
  TForm9 view;
  Form9 = &view;
  form.N13.trigger();
  EXPECT_TRUE(view.isVisible());
  EXPECT_TRUE(Shown().empty());
  Form9 = nullptr;
}

TEST_F(MainWindowTest, ExecutorStartsFromTheProgramFolder) {
  Store({});
  TForm1& form = Open();
  QTest::mouseClick(&form.ToolButton11, Qt::LeftButton);
  form.N15.trigger();
  EXPECT_EQ(started_, std::vector<std::string>(2, platform::ProgramDir() + "/Dorvexal"));
  EXPECT_TRUE(Shown().empty());
}

// A second executor on the same installation folder would run every due task again, into the
// same archives: it ends at once, and the manager starts none while one runs. The lock goes with
// the process that held it, however that ends.
TEST_F(MainWindowTest, OneExecutorRunsPerInstallationFolder) {
  Store({});
  Settings("1", "0", "1");
  const QString program = QString::fromStdString(std::string(TARVELO_BINARY_DIR) + "/executor/Dorvexal");
  ASSERT_TRUE(std::filesystem::exists(program.toStdString()));
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  QProcess first, second;
  for (QProcess* executor : {&first, &second}) executor->setProcessEnvironment(environment);
  first.start(program, {});
  ASSERT_TRUE(first.waitForStarted(10000));
  ASSERT_TRUE(QTest::qWaitFor([] { return platform::LockHeld(ExecutorLockPath()); }, 10000));
  second.start(program, {});
  EXPECT_TRUE(second.waitForFinished(10000)) << "a second executor keeps running";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);

  TForm1& form = Open();
  QTest::mouseClick(&form.ToolButton11, Qt::LeftButton);
  form.N15.trigger();
  EXPECT_TRUE(started_.empty());
  EXPECT_EQ(Shown(), std::vector<std::string>(2, "Исполнитель уже запущен."));

  first.kill();
  ASSERT_TRUE(first.waitForFinished(10000));
  QTest::mouseClick(&form.ToolButton11, Qt::LeftButton);
  EXPECT_EQ(started_, std::vector<std::string>{platform::ProgramDir() + "/Dorvexal"});
  EXPECT_TRUE(Shown().empty());
}

TEST_F(MainWindowTest, HelpOpensTheIndexPageOrOffersTheInstaller) {
  Store({});
  TForm1& form = Open();
  answerer_.Answer(platform::IDNO);
  QTest::mouseClick(&form.ToolButton12, Qt::LeftButton);
  answerer_.Answer(platform::IDYES);
  QTest::mouseClick(&form.ToolButton12, Qt::LeftButton);
  ASSERT_EQ(answerer_.Boxes().size(), 2u);
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Описание программы не установлено!");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_YESNO | platform::MB_ICONINFORMATION);
  EXPECT_EQ(started_, std::vector<std::string>{platform::ProgramDir() + "/help"});  // only on Yes

  std::filesystem::create_directory(home_ + "/help");
  WriteBytes(home_ + "/help/index.htm", "<html></html>");
  answerer_.Clear();
  TForm13 help;
  Form13 = &help;
  QTest::mouseClick(&form.ToolButton12, Qt::LeftButton);
  EXPECT_TRUE(answerer_.Boxes().empty());
  EXPECT_TRUE(help.isVisible());
  Form13 = nullptr;
}

TEST_F(MainWindowTest, SettingsMenuShowsTheSettingsForm) {
  Store({});
  TForm1& form = Open();
  TForm10 settings;
  Form10 = &settings;
  form.N14.trigger();
  EXPECT_TRUE(settings.isVisible());
  Form10 = nullptr;
}

TEST_F(MainWindowTest, WithoutAStoreTheWindowStopsWithTheCriticalError) {
  form_ = std::make_unique<TForm1>();
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].caption, " Критическая ошибка!");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONERROR);
  EXPECT_FALSE(form_->Ready());
  EXPECT_FALSE(Exists(home_ + "/records.dat"));  // the window never makes a store itself
  // The settings were created with their first-run values before the store was missed.
  EXPECT_EQ(MainSettings().warn, "1");
  EXPECT_EQ(MainSettings().rootf, home_);
  form_->FormActivate();
  EXPECT_EQ(form_->StringGrid1.rowCount(), 1);
}

}  // namespace
