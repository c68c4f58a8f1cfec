// Tab on the task editor forms, as the user presses it: through the controls in the order they
// stand on the form, top to bottom and left to right, entering each pair of choices at the one
// that is selected, however it came to be selected.
#include <QDateTimeEdit>
#include <QLineEdit>

#include <functional>
#include <initializer_list>
#include <utility>

#include "tests/desktop/desktop_support.h"
#include "tests/manager/task_editor_fixture.h"

namespace {

class TabOrder : public editor::EditorTest {
 protected:
  using Names = std::vector<std::pair<QWidget*, std::string>>;

  static Names Controls(TTaskEditorForm& f) {
    return {{&f.Edit1, "Edit1"},           {&f.Edit2, "Edit2"},
            {&f.Edit3, "Edit3"},           {&f.RadioButton1, "RadioButton1"},
            {&f.RadioButton2, "RadioButton2"}, {&f.ComboBox1, "ComboBox1"},
            {&f.ComboBox2, "ComboBox2"},   {&f.DateTimePicker1, "DateTimePicker1"},
            {&f.DateTimePicker2, "DateTimePicker2"}, {&f.RadioButton3, "RadioButton3"},
            {&f.RadioButton5, "RadioButton5"}, {&f.Edit4, "Edit4"},
            {&f.RadioButton6, "RadioButton6"}, {&f.RadioButton7, "RadioButton7"},
            {&f.Edit5, "Edit5"},           {&f.xpButton1, "xpButton1"},
            {&f.xpButton2, "xpButton2"}};
  }

  // The new-task form's controls, its folder choice among them.
  static Names NewTaskControls(TForm2& f) {
    Names names = Controls(f);
    names.insert(names.end(),
                 {{&f.SpeedButton1, "SpeedButton1"}, {&f.SpeedButton2, "SpeedButton2"}, {&f.xpCheckBox1, "xpCheckBox1"}});
    return names;
  }

  // Tab on a new-task form as every visit starts it: the first choice of each pair, no log name.
  inline static const std::vector<std::string> kFreshNewTask = {
      "Edit1",        "Edit2",       "SpeedButton1", "Edit3", "SpeedButton2", "xpCheckBox1",
      "RadioButton1", "RadioButton3", "Edit4",       "RadioButton6", "xpButton1",    "xpButton2"};

  // The name of the control that holds w, "(none)" for none of them.
  static std::string NameOf(QWidget* w, const Names& names) {
    for (; w; w = w->parentWidget()) {
      for (const auto& [control, text] : names) {
        if (control == w) return text;
      }
    }
    return "(none)";
  }

  // The controls that Tab reaches from the name field until it is back there, one per press.
  static std::vector<std::string> TabWalk(TTaskEditorForm& form, const Names& names) {
    form.Edit1.setFocus();
    std::vector<std::string> walk{NameOf(QApplication::focusWidget(), names)};
    for (int presses = 0; presses < 40; ++presses) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      const std::string now = NameOf(QApplication::focusWidget(), names);
      if (now == walk.front()) break;
      walk.push_back(now);
    }
    return walk;
  }
};

TEST_F(TabOrder, FollowsTheFormsAndReachesTheSelectedChoice) {
  EditorSettings("0", "1", "1", home_);
  auto weekly = mainwindow::Automatic("Week", "Еженедельная", "Среда", "01.01.2026", "9:05:00");
  weekly[LogFlag - 1] = "1";
  weekly[LogFile - 1] = "Week.log";
  Store({weekly});
  TForm2& add = OpenNewTask();
  const Names names = NewTaskControls(add);
  const std::vector<std::string>& fresh = kFreshNewTask;
  EXPECT_EQ(TabWalk(add, names), fresh);

  // The other choice of each pair, taken with the mouse, opens the schedule and the log name.
  for (TRadioButton* choice : {&add.RadioButton2, &add.RadioButton5, &add.RadioButton7}) editor::Click(choice);
  EXPECT_EQ(TabWalk(add, names),
            (std::vector<std::string>{"Edit1", "Edit2", "SpeedButton1", "Edit3", "SpeedButton2", "xpCheckBox1",
                                      "RadioButton2", "ComboBox1", "DateTimePicker1", "DateTimePicker2",
                                      "RadioButton5", "Edit4", "RadioButton7", "Edit5", "xpButton1", "xpButton2"}));

  // A new activation selects the first choice of each pair again: Tab goes there.
  Activate(*form_);
  Activate(add);
  ASSERT_TRUE(add.RadioButton1.isChecked() && add.RadioButton3.isChecked() && add.RadioButton6.isChecked());
  EXPECT_EQ(TabWalk(add, names), fresh);
  add.close();

  // The parameters form selects the stored task's choices; its buttons stand "Изменить", "Выход".
  Activate(*form_);
  ClickRow(1);
  QTest::mouseClick(&form_->ToolButton4, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitForWindowActive(params_.get(), 2000));
  ASSERT_TRUE(params_->RadioButton2.isChecked() && params_->RadioButton5.isChecked() &&
              params_->RadioButton7.isChecked());
  EXPECT_EQ(TabWalk(*params_, Controls(*params_)),
            (std::vector<std::string>{"Edit1", "Edit2", "Edit3", "RadioButton2", "ComboBox1", "ComboBox2",
                                      "DateTimePicker2", "RadioButton5", "Edit4", "RadioButton7", "Edit5",
                                      "xpButton2", "xpButton1"}));
  params_->close();
}

TEST_F(TabOrder, ANewTaskStartsWithoutALogNameHoweverTheLastOneEnded) {
  EditorSettings("0", "1", "1", home_);
  Store({});
  TForm2& add = OpenNewTask();
  const Names names = NewTaskControls(add);
  const std::vector<std::string>& fresh = kFreshNewTask;
  struct Case {
    const char* ending;
    std::function<void()> end;
  };
  const Case cases[] = {
      {"\"Отменить\"", [&] { editor::Click(&add.xpButton2); }},
      {"the window's close button", [&] { ASSERT_TRUE(desktop::CloseByWindowManager(add)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ending);
    // A visit that chose a log and a schedule, ended without a task.
    editor::Type(&add.Edit1, "Почта");
    for (TRadioButton* choice : {&add.RadioButton2, &add.RadioButton7}) editor::Click(choice);
    ASSERT_TRUE(add.Edit5.isEnabled());
    c.end();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !add.isVisible(); }, 3000));
    Activate(*form_);

    QTest::mouseClick(&form_->ToolButton6, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&add, 3000));
    EXPECT_TRUE(add.RadioButton6.isChecked());
    EXPECT_FALSE(add.Edit5.isEnabled()) << "\"Не протоколировать\" gives no log name";
    EXPECT_EQ(TabWalk(add, names), fresh);
  }
  add.close();
}

TEST_F(TabOrder, EachPickerIsOneStopWhoseArrowsMoveBetweenItsSections) {
  EditorSettings("0", "1", "1", home_);
  Store({});
  TForm2& add = OpenNewTask();
  editor::Click(&add.RadioButton2);  // a one-time task: both pickers take input
  ASSERT_TRUE(add.DateTimePicker1.isEnabled() && add.DateTimePicker2.isEnabled());
  const Names names = Controls(add);
  // The pickers start at 09.12.2026 7:04:05. Each row starts from the control given, presses the
  // keys, and names where the focus is, the section selected there and the picker's text.
  struct Case {
    const char* keys;
    QWidget* from;
    std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> presses;
    std::string focus;
    std::string selected;
    std::string text;
  };
  const auto tab = std::pair{Qt::Key_Tab, Qt::KeyboardModifiers(Qt::NoModifier)};
  const auto backtab = std::pair{Qt::Key_Backtab, Qt::KeyboardModifiers(Qt::ShiftModifier)};
  const auto right = std::pair{Qt::Key_Right, Qt::KeyboardModifiers(Qt::NoModifier)};
  const auto left = std::pair{Qt::Key_Left, Qt::KeyboardModifiers(Qt::NoModifier)};
  const auto down = std::pair{Qt::Key_Down, Qt::KeyboardModifiers(Qt::NoModifier)};
  const Case cases[] = {
      {"Tab", &add.ComboBox1, {tab}, "DateTimePicker1", "09", "09.12.2026"},
      {"Tab Tab", &add.ComboBox1, {tab, tab}, "DateTimePicker2", "7", "7:04:05"},
      {"Tab Tab Tab", &add.ComboBox1, {tab, tab, tab}, "RadioButton3", "", ""},
      {"Tab Right", &add.ComboBox1, {tab, right}, "DateTimePicker1", "12", "09.12.2026"},
      {"Tab Right Right Right", &add.ComboBox1, {tab, right, right, right}, "DateTimePicker1", "2026", "09.12.2026"},
      {"Tab Right Right Left", &add.ComboBox1, {tab, right, right, left}, "DateTimePicker1", "12", "09.12.2026"},
      {"Tab Left", &add.ComboBox1, {tab, left}, "DateTimePicker1", "09", "09.12.2026"},
      {"Tab Right Down", &add.ComboBox1, {tab, right, down}, "DateTimePicker1", "11", "09.11.2026"},
      {"Tab Right Tab", &add.ComboBox1, {tab, right, tab}, "DateTimePicker2", "7", "7:04:05"},
      {"Tab Tab Right Right", &add.ComboBox1, {tab, tab, right, right}, "DateTimePicker2", "05", "7:04:05"},
      {"Tab Tab Right Down", &add.ComboBox1, {tab, tab, right, down}, "DateTimePicker2", "03", "7:03:05"},
      {"Shift+Tab", &add.RadioButton3, {backtab}, "DateTimePicker2", "05", "7:04:05"},
      {"Shift+Tab Shift+Tab", &add.RadioButton3, {backtab, backtab}, "DateTimePicker1", "2026", "09.12.2026"},
      {"Shift+Tab x3", &add.RadioButton3, {backtab, backtab, backtab}, "ComboBox1", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    add.DateTimePicker1.setDate(QDate(2026, 12, 9));
    add.DateTimePicker2.setTime(QTime(7, 4, 5));
    c.from->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == c.from; }, 2000));
    for (const auto& [key, modifiers] : c.presses) QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    QWidget* focus = QApplication::focusWidget();
    EXPECT_EQ(NameOf(focus, names), c.focus);
    for (QDateTimeEdit* picker : std::initializer_list<QDateTimeEdit*>{&add.DateTimePicker1, &add.DateTimePicker2}) {
      if (picker != focus && !picker->isAncestorOf(focus)) continue;
      EXPECT_EQ(picker->findChild<QLineEdit*>()->selectedText().toStdString(), c.selected);
      EXPECT_EQ(picker->text().toStdString(), c.text);
    }
  }
  add.close();
}

}  // namespace
