// The captions of the manager's windows and boxes as the window manager shows them: exactly the
// forms' own texts, nothing of the application's title added.
#include "manager/Add.h"
#include "manager/Clear.h"
#include "manager/Lokvist.h"
#include "manager/Select.h"
#include "manager/Shsystem.h"
#include "manager/about.h"
#include "manager/backup.h"
#include "manager/help.h"
#include "manager/prefrens.h"
#include "manager/restore.h"
#include "tests/desktop/desktop_support.h"
#include "tests/manager/mainwindow_fixture.h"

namespace {

class Captions : public mainwindow::MainWindowTest {};

TEST_F(Captions, AreTheFormsOwnTexts) {
  Store({mainwindow::OnDemand("Первая")});
  Open();
  ClickRow(1);
  TForm2 add;
  TForm3 chooser;
  TForm4 params;
  TForm5 backupForm;
  TForm6 about;
  TForm7 restoreForm;
  TForm9 logView;
  TForm10 settings;
  TForm11 clearForm;
  TForm13 help;
  const std::pair<QWidget*, std::string> windows[] = {
      {form_.get(), "Tarvelo - Планировщик задач"},
      {&add, "Новая задача"},
      {&chooser, "Выбор каталога"},
      {&params, "Параметры задачи"},
      {&backupForm, "Резервное копирование"},
      {&about, "О программе"},
      {&restoreForm, "Востановление"},
      {&logView, "Просмотр отчётов"},
      {&settings, "Настройка программы"},
      {&clearForm, "Удаление резервных копий"},
      {&help, "Описание программы"},
  };
  for (const auto& [window, caption] : windows) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 3000)) << caption;
    EXPECT_EQ(desktop::WindowManagerCaption(*window), caption);
    if (window != form_.get()) window->hide();
  }

  // A message box shows its own caption too.
  desktop::RealBoxes boxes;
  SelectedTask = 0;
  form_->ToolButton5Click();  // "Не выбрана задача!"
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].windowCaption, "Ошибка!");
}

}  // namespace
