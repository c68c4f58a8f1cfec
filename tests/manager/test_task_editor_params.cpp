// The task-parameters form on the selected task: what it shows of each kind, the store's bytes
// after "Изменить", the task log kept, made and deleted, the checks before anything is written,
// and the messages of the fields that cannot be changed.
#include "tests/manager/task_editor_fixture.h"

namespace {

using editor::Click;
using editor::EditorTest;
using editor::StoreBytes;
using mainwindow::Automatic;
using mainwindow::OnDemand;

class ParamsTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    once_ = Automatic("Once", "Одноразовая", "Понедельник", "08.12.2026", "9:05:00");
    once_[LogFlag - 1] = "1";
    once_[LogFile - 1] = "Once.log";
    tasks_ = {OnDemand("Docs"), once_, Automatic("Day", "Ежедневная", "Вторник", "01.01.2026", "10:30:00")};
    Store(tasks_);
    WriteBytes(home_ + "/Once.log", kOnceLog);
  }

  // The main window, the row, then the parameters form opened from the toolbar.
  TForm4& OpenTask(int row) {
    if (!form_) Open();
    Activate(*form_);
    ClickRow(row);
    QTest::mouseClick(&form_->ToolButton4, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitForWindowActive(params_.get(), 2000));
    return *params_;
  }

  const std::string kOnceLog =
      *platform::Utf8ToCp1251("*****\r\nФайл отчётов программы Tarvelo ver. 1.0\r\n Создан: 01.12.2026 9:00:00\r\n"
                              "*****\r\n->\r\nВостановление по требованию\r\n");
  TTaskRecord once_;
  std::vector<TTaskRecord> tasks_;
};

TEST_F(ParamsTest, ShowsTheSelectedTaskAndStoresItUnchanged) {
  const std::string before = StoreNow();
  TForm4& form = OpenTask(2);
  EXPECT_EQ(form.windowTitle(), "Параметры задачи");
  EXPECT_EQ(form.xpButton2.Caption(), "Изменить");
  EXPECT_EQ(form.xpButton1.Caption(), "Выход");
  EXPECT_EQ(form.Edit1.text(), "Once");
  EXPECT_TRUE(form.Edit1.isReadOnly() && form.Edit2.isReadOnly() && form.Edit3.isReadOnly());
  EXPECT_EQ(form.Edit2.text(), "/nonexistent/src-Once");
  EXPECT_TRUE(form.RadioButton2.isChecked());
  EXPECT_TRUE(form.ComboBox1.isEnabled());
  EXPECT_EQ(form.ComboBox1.currentText(), "Одноразовая");
  EXPECT_TRUE(form.DateTimePicker1.isEnabled());
  EXPECT_EQ(form.DateTimePicker1.date(), QDate(2026, 12, 8));
  EXPECT_TRUE(form.DateTimePicker2.isEnabled());
  EXPECT_EQ(form.DateTimePicker2.time(), QTime(9, 5, 0));
  EXPECT_FALSE(form.ComboBox2.isEnabled());
  EXPECT_TRUE(form.RadioButton5.isChecked());
  EXPECT_EQ(form.Edit4.text(), "Дата+Время.zip") << "the whole file name";
  EXPECT_TRUE(form.RadioButton7.isChecked());
  EXPECT_TRUE(form.Edit5.isEnabled());
  EXPECT_EQ(form.Edit5.text(), "Once.log");

  Click(&form.xpButton2);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].text, "Изменения успешно сохранены.");
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Изменение параметров задачи");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONINFORMATION);
  EXPECT_EQ(StoreNow(), before) << "nothing changed, nothing different stored";
  EXPECT_EQ(ReadBytes(home_ + "/Once.log"), kOnceLog) << "a change keeps the entries of the log";
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(QTest::qWaitForWindowActive(form_.get(), 2000));
}

TEST_F(ParamsTest, AChangedTaskIsStoredAndItsLogMadeOrDeleted) {
  TForm4& form = OpenTask(3);
  // A daily task uses neither its date nor its weekday, but the form shows them all the same, so
  // that a change stores them as they were.
  EXPECT_FALSE(form.DateTimePicker1.isEnabled());
  EXPECT_EQ(form.DateTimePicker1.date(), QDate(2026, 1, 1));
  EXPECT_FALSE(form.ComboBox2.isEnabled());
  EXPECT_EQ(form.ComboBox2.currentText(), "Вторник");
  EXPECT_TRUE(form.RadioButton6.isChecked());
  EXPECT_FALSE(form.Edit5.isEnabled());

  Click(&form.RadioButton3);
  EXPECT_EQ(form.Edit4.text(), "Backup.zip");
  Click(&form.RadioButton5);
  EXPECT_EQ(form.Edit4.text(), "Дата+Время.zip");
  Click(&form.RadioButton3);
  form.ComboBox1.setCurrentIndex(2);  // Еженедельная
  EXPECT_TRUE(form.ComboBox2.isEnabled());
  form.ComboBox2.setCurrentIndex(6);
  form.DateTimePicker2.setTime(QTime(23, 15, 0));
  Click(&form.RadioButton7);
  EXPECT_EQ(form.Edit5.text(), "Day.log");
  MainSettings().info = "0";
  Activate(*form_);
  ClickRow(3);
  Activate(form);  // a new visit shows the stored task again
  EXPECT_EQ(form.ComboBox1.currentText(), "Ежедневная");
  form.ComboBox1.setCurrentIndex(2);
  form.ComboBox2.setCurrentIndex(6);
  form.DateTimePicker2.setTime(QTime(23, 15, 0));
  Click(&form.RadioButton3);
  Click(&form.RadioButton7);
  Click(&form.xpButton2);
  EXPECT_TRUE(Shown().empty());

  std::vector<TTaskRecord> expected = tasks_;
  expected[1][StartTime - 1] = "09:05:00";  // the grid's fill gave the other task its two-digit hour
  expected[2] = {"Day",       "/nonexistent/src-Day", "/nonexistent/b", "Автоматическая", "Еженедельная",
                 "Воскресение", "01.01.2026",          "23:15:00",       "new",            "Backup.zip",
                 "1",         "Day.log"};
  EXPECT_EQ(StoreNow(), StoreBytes(expected));
  EXPECT_EQ(ReadBytes(home_ + "/Day.log"),
            *platform::Utf8ToCp1251("*****\r\nФайл отчётов программы Tarvelo ver. 1.0\r\n Создан: 09.12.2026 "
                                    "7:04:05\r\n*****\r\n"));
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get(), 2000));
  EXPECT_EQ(Cell(3, 2), "Автоматическая, Еженедельная, Воскресение, 23:15");

  // Logging off: the task is on demand now, and its log goes.
  OpenTask(3);
  Click(&form.RadioButton1);
  EXPECT_FALSE(form.ComboBox1.isEnabled() || form.DateTimePicker2.isEnabled());
  Click(&form.RadioButton6);
  EXPECT_FALSE(form.Edit5.isEnabled());
  Click(&form.xpButton2);
  expected[2] = OnDemand("Day");
  expected[2][SourceDir - 1] = "/nonexistent/src-Day";
  EXPECT_EQ(StoreNow(), StoreBytes(expected));
  EXPECT_FALSE(Exists(home_ + "/Day.log"));
  EXPECT_EQ(ReadBytes(home_ + "/Once.log"), kOnceLog);

  // A task that kept no log has LogFile "none", which names no file of it.
  WriteBytes(home_ + "/none", "someone else's");
  OpenTask(1);
  Click(&form.xpButton2);
  EXPECT_EQ(StoreNow(), StoreBytes(expected));
  EXPECT_TRUE(Exists(home_ + "/none"));
}

TEST_F(ParamsTest, PickersStartAtNowForATaskWithoutDateOrTime) {
  TForm4& form = OpenTask(1);
  EXPECT_EQ(form.DateTimePicker1.date(), QDate(2026, 12, 9));
  EXPECT_EQ(form.DateTimePicker2.time(), QTime(7, 4, 5));

  // Not what the visit of a scheduled task left in them either.
  OpenTask(2);
  ASSERT_EQ(form.DateTimePicker1.date(), QDate(2026, 12, 8));
  OpenTask(1);
  EXPECT_EQ(form.DateTimePicker1.date(), QDate(2026, 12, 9));
  EXPECT_EQ(form.DateTimePicker2.time(), QTime(7, 4, 5));

  // Made automatic without touching the pickers, the task is stored with this moment.
  MainSettings().info = "0";
  Click(&form.RadioButton2);
  Click(&form.xpButton2);
  std::vector<TTaskRecord> expected = tasks_;
  expected[1][StartTime - 1] = "09:05:00";  // the grid's fill gave the other task its two-digit hour
  expected[0][Mode - 1] = "Автоматическая";
  expected[0][Kind - 1] = "Одноразовая";
  expected[0][WeekDay - 1] = "Понедельник";
  expected[0][StartDate - 1] = "09.12.2026";
  expected[0][StartTime - 1] = "7:04:05";
  EXPECT_EQ(StoreNow(), StoreBytes(expected));
}

TEST_F(ParamsTest, RefusedChangesWriteNothingAndKeepTheLog) {
  const std::string before = StoreNow();
  Settings("1", "1", "0");
  TForm4& form = OpenTask(2);
  auto refused = [&](const char* what) {
    SCOPED_TRACE(what);
    Click(&form.xpButton2);
    const auto shown = Shown();
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(StoreNow(), before);
    EXPECT_EQ(ReadBytes(home_ + "/Once.log"), kOnceLog);
    EXPECT_TRUE(form.isVisible());
    return shown.empty() ? std::string() : shown[0];
  };
  // Logging off with another fault: the old log must survive the refusal.
  Click(&form.RadioButton6);
  form.Edit4.clear();
  EXPECT_EQ(refused("no archive name"), "Не определено имя файла резервной копии!");
  form.Edit4.setText("Backup.zip");

  Click(&form.RadioButton7);
  form.Edit5.setText("records.dat");
  EXPECT_NE(refused("log over the store").find("records.dat"), std::string::npos);
  form.Edit5.setText(QString::fromUtf8("Once\xF0\x9F\x98\x80.log"));
  EXPECT_NE(refused("emoji in the log name").find("\"Имя файла протокола\""), std::string::npos);
  form.Edit5.setText("Once.log");

  // The paths are tested before the name, the other way round from the new-task form.
  form.Edit1.clear();
  form.Edit2.clear();
  EXPECT_EQ(refused("no path"), "Не определены пути для выполнения задачи!");
  form.Edit2.setText("/nonexistent/src-Once");
  EXPECT_EQ(refused("no name"), "Не определено имя задачи!");
  form.Edit1.setText("Once");

  // The task was deleted in the main window meanwhile.
  SelectedTask = 0;
  EXPECT_EQ(refused("no task"), "Не выбрана задача!");
  form.FormActivate();
  EXPECT_FALSE(form.isVisible()) << "with no task to show the form closes";
  form.show();

  Click(&form.xpButton1);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(StoreNow(), before) << "Выход stores nothing";
}

TEST_F(ParamsTest, TheNameAndPathFieldsSayWhyTheyCannotBeChanged) {
  TForm4& form = OpenTask(1);
  QTest::keyClick(&form.Edit1, Qt::Key_A);
  QTest::keyClick(&form.Edit2, Qt::Key_Left);
  QTest::keyClick(&form.Edit3, Qt::Key_Delete);
  QTest::keyClick(&form.Edit2, Qt::Key_Tab);  // moves on and says nothing
  EXPECT_EQ(Shown(), (std::vector<std::string>{
                         "Нельзя изменять имя задачи. Если задача не актуальна, просто удалите её, чтобы невозникало "
                         "путаницы с резервными копиями!",
                         "Нельзя изменять пути выполнения задачи. Если задача не актуальна, просто удалите её, чтобы "
                         "невозникало путаницы с резервными копиями!",
                         "Нельзя изменять пути выполнения задачи, это может привести к потере ранее созданных "
                         "резервных копий. Если задача не актуальна, просто удалите её!"}));
  EXPECT_EQ(form.Edit1.text(), "Docs");

  MainSettings().warn = "0";
  Activate(*form_);
  Activate(form);
  QTest::keyClick(&form.Edit1, Qt::Key_A);
  QTest::keyClick(&form.Edit3, Qt::Key_Delete);
  EXPECT_TRUE(Shown().empty()) << "warn 0 says nothing";
}

TEST_F(ParamsTest, AnUnreadableStoredTimeIsReportedAndTheTaskStillShownWhole) {
  auto broken = Automatic("Broken", "Одноразовая", "Среда", "31.02.2026", "25:99");
  broken[LogFlag - 1] = "1";
  broken[LogFile - 1] = "Broken.log";
  auto daily = Automatic("Daily", "Ежедневная", "Среда", "never", "8:00:00");
  tasks_ = {OnDemand("Docs"), broken, daily};
  Store(tasks_);
  TForm4& form = OpenTask(1);
  EXPECT_TRUE(form.RadioButton3.isChecked());
  EXPECT_TRUE(Shown().empty());

  OpenTask(2);
  const auto shown = Shown();
  ASSERT_EQ(shown.size(), 2u) << "the date and the time each";
  EXPECT_NE(shown[0].find("31.02.2026"), std::string::npos) << shown[0];
  EXPECT_NE(shown[1].find("25:99"), std::string::npos) << shown[1];
  // The rest of the task is shown: nothing of the task shown before may be stored into this one.
  EXPECT_TRUE(form.RadioButton5.isChecked());
  EXPECT_TRUE(form.RadioButton7.isChecked());
  EXPECT_EQ(form.Edit5.text(), "Broken.log");

  OpenTask(3);
  EXPECT_TRUE(Shown().empty()) << "a daily task does not use its date";
  EXPECT_EQ(form.DateTimePicker2.time(), QTime(8, 0, 0));
}

}  // namespace
