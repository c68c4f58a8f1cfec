// Tab on the task editor forms, as the user presses it: through the controls in the order they
// stand on the form, top to bottom and left to right, entering each pair of choices at the one
// that is selected, however it came to be selected.
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

  // The controls that Tab reaches from the name field until it is back there; a control that
  // takes several presses (the sections of a date) counts once.
  static std::vector<std::string> TabWalk(TTaskEditorForm& form, const Names& names) {
    const auto name = [&](QWidget* w) -> std::string {
      for (; w; w = w->parentWidget()) {
        for (const auto& [control, text] : names) {
          if (control == w) return text;
        }
      }
      return "(none)";
    };
    form.Edit1.setFocus();
    std::vector<std::string> walk{name(QApplication::focusWidget())};
    for (int presses = 0; presses < 40; ++presses) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      const std::string now = name(QApplication::focusWidget());
      if (now == walk.front()) break;
      if (now != walk.back()) walk.push_back(now);
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
  Names names = Controls(add);
  names.insert(names.end(), {{&add.SpeedButton1, "SpeedButton1"},
                             {&add.SpeedButton2, "SpeedButton2"},
                             {&add.xpCheckBox1, "xpCheckBox1"}});
  const std::vector<std::string> fresh = {"Edit1",        "Edit2",        "SpeedButton1", "Edit3",
                                          "SpeedButton2", "xpCheckBox1",  "RadioButton1", "RadioButton3",
                                          "Edit4",        "RadioButton6", "xpButton1",    "xpButton2"};
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
  std::vector<std::string> again = fresh;
  again.insert(again.end() - 2, "Edit5");  // the activation leaves the log name as it was
  EXPECT_EQ(TabWalk(add, names), again);
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

}  // namespace
