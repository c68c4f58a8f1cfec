// Escape on the backup, restore and mass-deletion forms, as the user presses it on the active
// form: only "Выход" closes them.
#include "manager/Clear.h"
#include "manager/backup.h"
#include "manager/restore.h"
#include "tests/desktop/desktop_support.h"
#include "tests/manager/archiveform_fixture.h"

namespace {

class Keys : public archiveform::ArchiveFormTest {};

TEST_F(Keys, EscapeClosesNoArchiveForm) {
  Task("new", "Backup.zip", "0", "0");
  OpenWithTask();
  TForm5 backupForm;
  TForm7 restoreForm;
  TForm11 clearForm;
  Form11 = &clearForm;  // the program sets it when it creates the form
  struct Case {
    const char* name;
    QToolButton& button;
    QWidget& form;
    TxpButton& exit;
  };
  const Case cases[] = {
      {"backup", form_->ToolButton5, backupForm, backupForm.xpButton2},
      {"restore", form_->ToolButton9, restoreForm, restoreForm.xpButton1},
      {"mass deletion", form_->ToolButton7, clearForm, clearForm.xpButton1},
  };
  for (const Case& c : cases) {
    ShowFrom(c.button, c.form);
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : &c.form, Qt::Key_Escape);
    ASSERT_TRUE(desktop::QueuedEventsDelivered());
    EXPECT_TRUE(c.form.isVisible()) << c.name;
    Click(c.exit);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !c.form.isVisible(); }, 3000)) << c.name << ": \"Выход\" closes it";
  }
  Form11 = nullptr;
}

}  // namespace
