// Coming back from a message box is no new activation of the form that showed it, on a desktop
// whose window manager destroys the box before the form is active again: what the user typed or
// chose stays, and two backup runs of one activation share their dated archive name.
#include <set>

#include "manager/backup.h"
#include "tests/desktop/desktop_support.h"
#include "tests/manager/task_editor_fixture.h"

namespace {

class ComingBack : public editor::EditorTest {
 protected:
  void ShowAndWait(QToolButton& button, QWidget& form) {
    editor::Click(&button);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form, 3000));
  }
  // The form is active again once the window manager gives it back the focus after a box.
  static bool BackIn(QWidget& form) {
    return QTest::qWaitFor([&] { return !QApplication::activeModalWidget() && form.isActiveWindow(); }, 3000);
  }
  // The last box was made active by the window manager and the form is active again after it.
  void ExpectBackIn(const desktop::RealBoxes& boxes, const std::string& text, QWidget& form) {
    ASSERT_FALSE(boxes.Boxes().empty()) << "no box for: " << text;
    EXPECT_EQ(boxes.Boxes().back().text, text);
    EXPECT_TRUE(boxes.Boxes().back().activated) << text;
    EXPECT_TRUE(BackIn(form)) << text;
  }
};

TEST_F(ComingBack, FromABoxTheFormKeepsWhatTheUserEntered) {
  desktop::RealBoxes boxes;
  EditorSettings("1", "1", "1", home_);
  const std::string backup = root_ + "/копии";
  std::filesystem::create_directory(backup);
  WriteBytes(source_ + "/отчёт.txt", "Квартальный отчёт");
  Store({{"Документы", source_, backup, "По требованию", "", "", "", "", "new", "Backup.zip", "0", "none"},
         {"Дата", source_, backup, "По требованию", "", "", "", "", "add", "Дата+Время.zip", "0", "none"}});

  // The new-task form: a name typed, "Создать" without folders.
  TForm2& add = OpenNewTask();
  editor::Type(&add.Edit1, "Docs");
  editor::Click(&add.xpButton1);
  ExpectBackIn(boxes, "Не определены пути для выполнения задачи!", add);
  EXPECT_EQ(add.Edit1.text().toStdString(), "Docs");
  add.close();

  // The task-parameters form: the copy type changed, then a key in the name field.
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get(), 3000));
  ClickRow(1);
  ShowAndWait(form_->ToolButton4, *params_);
  ASSERT_EQ(params_->Edit4.text().toStdString(), "Backup.zip");
  editor::Click(&params_->RadioButton5);
  ASSERT_EQ(params_->Edit4.text().toStdString(), "Дата+Время.zip");
  editor::Type(&params_->Edit1, "x");
  ExpectBackIn(boxes,
               "Нельзя изменять имя задачи. Если задача не актуальна, просто удалите её, чтобы невозникало "
               "путаницы с резервными копиями!",
               *params_);
  EXPECT_EQ(params_->Edit4.text().toStdString(), "Дата+Время.zip");
  EXPECT_TRUE(params_->RadioButton5.isChecked());
  params_->close();

  // The backup form: the result box after a run is no new activation, so the second run of this
  // activation goes into the archive named at it, though the clock has moved on.
  TForm5 backupForm;
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get(), 3000));
  ClickRow(2);
  ShowAndWait(form_->ToolButton5, backupForm);
  ASSERT_EQ(backupForm.Edit3.text().toStdString(), "09_12_2026-07_04.zip");
  platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 12, 9, 14, 30, 0); });
  editor::Click(&backupForm.xpButton1);
  ExpectBackIn(boxes, "Резервное копирование успешно завершено, скопировано: 1 файлов", backupForm);
  EXPECT_EQ(backupForm.Edit3.text().toStdString(), "09_12_2026-07_04.zip");
  editor::Click(&backupForm.xpButton1);
  EXPECT_TRUE(BackIn(backupForm));
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(backup)) names.insert(e.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{"09_12_2026-07_04.zip"});
  backupForm.close();
}

}  // namespace
