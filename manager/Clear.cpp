#include "manager/Clear.h"

#include <QMouseEvent>
#include <QStyle>

#include <algorithm>
#include <cerrno>

#include "archive/qrnFileScan.h"
#include "manager/Kalvenor.h"
#include "manager/Settings.h"
#include "manager/TaskLog.h"
#include "platform/files.h"
#include "platform/gui/application.h"
#include "platform/hooks.h"

namespace {

constexpr const char* kErrorCaption = "Ошибка!";
constexpr const char* kMonths[] = {"Январь", "Февраль", "Март",     "Апрель",  "Май",    "Июнь",
                                   "Июль",   "Август",  "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
// The names that DateTimeArchiveName gives carry four-digit years of this century.
constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2099;

void ShowError(const std::string& text) {
  platform::MessageBox(text, kErrorCaption, platform::MB_OK | platform::MB_ICONERROR);
}

std::string TwoDigits(const std::string& text) { return text.size() == 1 ? "0" + text : text; }

}  // namespace

std::string MonthNumber(const std::string& monthName) {
  for (int m = 0; m < 12; ++m) {
    if (monthName == kMonths[m]) return TwoDigits(std::to_string(m + 1));
  }
  return {};
}

// --- the form ------------------------------------------------------------------------------

TForm11::TForm11(QWidget* parent) : TCentredDialog(parent, "Удаление резервных копий", 555, 316) {
  Label5.setText("Название задачи");
  Label5.setGeometry(12, 12, 110, 21);
  Edit3.setReadOnly(true);
  Edit3.setGeometry(124, 12, 419, 21);
  CreateListBox();
  CreateFilters();
  CreateButtons();
}

void TForm11::CreateListBox() {
  GroupBox1.setTitle("   Файлы резервных копий    ");
  GroupBox1.setGeometry(8, 40, 250, 228);
  FileListBox1.setGeometry(8, 20, 234, 200);
  FileListBox1.SetMask("*.zip");
  FileListBox1.OnMouseDown = [this] { FileListBox1MouseDown(); };
}

void TForm11::CreateFilters() {
  GroupBox2.setTitle("   Формирование списка   ");
  GroupBox2.setGeometry(266, 40, 281, 228);
  Label2.setText("Каталог резервных копий ");
  Label2.setGeometry(8, 20, 265, 16);
  Edit2.setReadOnly(true);
  Edit2.setGeometry(8, 38, 265, 21);

  struct Filter {
    QRadioButton* button;
    const char* caption;
    void (TForm11::*click)();
  };
  const Filter filters[] = {
      {&RadioButton1, "Все", &TForm11::RadioButton1Click},
      {&RadioButton2, "По числу месяца", &TForm11::RadioButton2Click},
      {&RadioButton3, "По месяцу", &TForm11::RadioButton3Click},
      {&RadioButton4, "По году", &TForm11::RadioButton4Click},
      {&RadioButton5, "По месяцу и году", &TForm11::RadioButton5Click},
  };
  int y = 68;
  for (const Filter& f : filters) {
    f.button->setText(f.caption);
    f.button->move(8, y);
    f.button->resize(f.button->sizeHint().width(), 21);
    auto click = f.click;
    connect(f.button, &QRadioButton::clicked, this, [this, click] { platform::RunGuarded([this, click] { (this->*click)(); }); });
    y += 30;
  }
  RadioButton1.setChecked(true);

  SpinEdit1.setRange(1, 31);
  SpinEdit1.setValue(1);
  SpinEdit1.setGeometry(156, 98, 117, 21);
  for (const char* month : kMonths) ComboBox1.addItem(month);
  ComboBox1.setCurrentIndex(0);
  ComboBox1.setGeometry(156, 128, 117, 21);
  SpinEdit2.setRange(kFirstYear, kLastYear);
  SpinEdit2.setValue(kFirstYear);
  SpinEdit2.setGeometry(156, 158, 117, 21);
  SetInputs(false, false, false);
}

void TForm11::CreateButtons() {
  Label1.setText("Выбрано файлов");
  Label1.setGeometry(12, 284, 110, 21);
  Edit1.setReadOnly(true);
  Edit1.setText("0");
  Edit1.setGeometry(124, 284, 50, 21);
  QFont bold = font();
  bold.setBold(true);
  struct Button {
    TxpButton* button;
    const char* caption;
    int left;
    void (TForm11::*click)(TObject*);
  };
  const Button buttons[] = {
      {&xpButton3, "Сформировать", 199, &TForm11::xpButton3Click},
      {&xpButton2, "Удалить", 317, &TForm11::xpButton2Click},
      {&xpButton1, "Выход", 435, &TForm11::xpButton1Click},
  };
  for (const Button& b : buttons) {
    b.button->SetCaption(b.caption);
    b.button->SetFont(bold);
    b.button->setGeometry(b.left, 282, 112, 25);
    auto click = b.click;
    b.button->OnClick = [this, click](TObject* s) { (this->*click)(s); };
  }
}



void TForm11::paintEvent(QPaintEvent* e) {
  TCentredDialog::paintEvent(e);
  platform::RunGuarded([this] { FormPaint(); });
}

void TForm11::FormActivate() {
  const TSettingsCopies& settings = MainSettings();
  FInfo = settings.info;
  FWarn = settings.warn;
  FAddf = settings.addf;
  // A task deleted while this form was open leaves nothing to list.
  FTask = SelectedTask > 0 && SelectedTask < TaskCount ? SelectedTask : 0;
  const std::string folder = FTask ? TaskTable(BackupDir, FTask) : std::string();
  Edit2.setText(QString::fromStdString(folder));
  FListFolder = folder;
  Edit3.setText(FTask ? QString::fromStdString(TaskTable(TaskName, FTask)) : QString());
  FileListBox1.SetDirectory(FListFolder);
  ShowCount();
  update();
}

void TForm11::FormPaint() {
  // Archives written or deleted meanwhile (by the executor, say) show at once.
  if (FileListBox1.Directory() != FListFolder) {
    FileListBox1.SetDirectory(FListFolder);
  } else {
    FileListBox1.Update();
  }
  ShowCount();
}

void TForm11::ShowCount() { Edit1.setText(QString::number(FileListBox1.Count())); }

void TForm11::FileListBox1MouseDown() {
  if (FileListBox1.Count() == 0 && Edit2.text().isEmpty()) {
    ShowError("Список не содержит не одного файла резервной копии!");
  }
}

void TForm11::SetInputs(bool day, bool month, bool year) {
  SpinEdit1.setEnabled(day);
  ComboBox1.setEnabled(month);
  SpinEdit2.setEnabled(year);
}

void TForm11::RadioButton1Click() { SetInputs(false, false, false); }
void TForm11::RadioButton2Click() { SetInputs(true, false, false); }
void TForm11::RadioButton3Click() { SetInputs(false, true, false); }
void TForm11::RadioButton4Click() { SetInputs(false, false, true); }
void TForm11::RadioButton5Click() { SetInputs(false, true, true); }

std::string TForm11::FilterMask() const {
  const std::string mm = MonthNumber(ComboBox1.currentText().toStdString());
  const std::string yyyy = SpinEdit2.text().toStdString();
  if (RadioButton2.isChecked()) return TwoDigits(SpinEdit1.text().toStdString()) + "_**_****-**_**.zip";
  if (RadioButton3.isChecked()) return "**_" + mm + "_****-**_**.zip";
  if (RadioButton4.isChecked()) return "**_**_" + yyyy + "-**_**.zip";
  if (RadioButton5.isChecked()) return "**_" + mm + "_" + yyyy + "-**_**.zip";
  return "*.zip";
}

void TForm11::xpButton3Click(TObject*) {
  FileListBox1.SetMask(FilterMask());
  ShowCount();
  if (FileListBox1.Count() == 0) {
    ShowError("В данной папке нет ни одной резервной копии удовлетворяющей Вашим условиям.");
  }
}

void TForm11::xpButton2Click(TObject*) {
  // Exactly the names the user sees go, from the folder they were listed in.
  const std::vector<std::string> names = FileListBox1.Names();
  const std::string folder = FileListBox1.Directory();
  const size_t n = names.size();
  if (n == 0 || folder.empty()) return ShowError("Список резервных копий пуст.");
  if (FWarn != "0" && platform::MessageBox("Вы действительно хотите удалить эти резервые копии?", "Подтверждение",
                                           platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDNO) {
    return;
  }
  const bool logged = FTask && FTask < TaskCount && TaskTable(LogFlag, FTask) == "1";
  // A log that cannot be appended to stops the deletion before any file goes.
  if (logged) CheckTaskLogWritable(TaskTable, FTask);

  std::vector<std::string> deleted;
  std::string reasons;
  for (const std::string& name : names) {
    if (platform::DeleteFile(folder + "/" + name)) {
      deleted.push_back(name);
      continue;
    }
    const int error = platform::LastError();
    if (error == ENOENT) {
      deleted.push_back(name);  // gone already: nothing of it is left
      continue;
    }
    reasons += "\n" + name + ": " + DeletionFailureText(error);
  }
  FileListBox1.Update();
  ShowCount();
  // The entry counts what really went.
  if (logged && FTask < TaskCount) WriteMassDeletionEntry(TaskTable, FTask, deleted);

  if (deleted.size() < n) {
    ShowError("Удалено файлов: " + std::to_string(deleted.size()) + " из " + std::to_string(n) +
              ". Не удалось удалить:" + reasons);
    return;
  }
  if (FInfo == "1") {
    platform::MessageBox("Массовое удаление успешно завершено, удалено: " + std::to_string(n) + " файлов",
                         "Результаты", platform::MB_OK | platform::MB_ICONINFORMATION);
  }
}

void TForm11::xpButton1Click(TObject*) { close(); }
