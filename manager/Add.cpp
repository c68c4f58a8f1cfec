#include "manager/Add.h"

#include <filesystem>

#include "manager/Select.h"
#include "manager/TaskLog.h"
#include "manager/TaskStore.h"
#include "platform/files.h"
#include "platform/gui/application.h"
#include "platform/hooks.h"

TForm2* Form2 = nullptr;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TForm2::TForm2(QWidget* parent) : TTaskEditorForm(parent, "Новая задача", "", true) {
  Form2 = this;
  for (QToolButton* b : {&SpeedButton1, &SpeedButton2}) {
    b->setText("...");
    b->setToolTip("Выбор каталога");
  }
  SpeedButton1.setGeometry(FolderButtonRect(Edit2));
  SpeedButton2.setGeometry(FolderButtonRect(Edit3));
  // The first letter is a Latin C, as the form has always shown it.
  xpCheckBox1.SetCaption("C" "оздавать папку с именем задачи");
  xpCheckBox1.setGeometry(FolderBoxRect());
  PlaceButtons(xpButton1, "Создать", xpButton2, "Отменить");
  OrderTabs({&Edit2, &SpeedButton1, &Edit3, &SpeedButton2, &xpCheckBox1}, xpButton1, xpButton2);

  connect(&Edit1, &QLineEdit::textChanged, this, [this] { platform::RunGuarded([this] { Edit1Change(); }); });
  connect(&SpeedButton1, &QToolButton::clicked, this, [this] { platform::RunGuarded([this] { SpeedButton1Click(); }); });
  connect(&SpeedButton2, &QToolButton::clicked, this, [this] { platform::RunGuarded([this] { SpeedButton2Click(); }); });
  xpCheckBox1.OnClick = [this](TObject* s) { xpCheckBox1Click(s); };
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
  xpButton2.OnClick = [this](TObject* s) { xpButton2Click(s); };
}

TForm2::~TForm2() {
  if (Form2 == this) Form2 = nullptr;
}

std::string TForm2::TaskFolder() const {
  // Without a root folder there is no task folder: the name alone would make a folder at the
  // top of the file system.
  if (FRootFolder.empty()) return std::string();
  const std::string name = TypedName();
  return FRootFolder.back() == '/' ? FRootFolder + name : FRootFolder + "/" + name;
}

void TForm2::FormActivate() {
  const TSettingsCopies& main = MainSettings();
  FSettings.info = main.info;
  FSettings.warn = main.warn;
  FSettings.addf = main.addf;
  FSettings.deff = main.deff;
  FRootFolder = main.rootf;

  const bool ownFolder = FSettings.deff != "1";
  xpCheckBox1.SetEnabled(ownFolder);
  SpeedButton2.setEnabled(ownFolder);
  Edit3.setEnabled(ownFolder);
  xpCheckBox1.SetChecked(FSettings.addf == "1");

  SetPickersToNow();

  Edit1.clear();
  Edit2.clear();
  Edit3.setText(Q(FRootFolder));
  Edit4.setText("Backup");
  Edit5.clear();

  RadioButton1.setChecked(true);
  RadioButton3.setChecked(true);
  RadioButton6.setChecked(true);
  // Without a log there is no log name to give, whatever an earlier visit chose.
  Edit5.setEnabled(false);
  DisableSchedule();
}

void TForm2::Edit1Change() {
  if (FSettings.addf == "1" && FSettings.deff == "1") Edit3.setText(Q(TaskFolder()));
}

void TForm2::xpCheckBox1Click(TObject*) { Edit3.setText(Q(xpCheckBox1.Checked() ? TaskFolder() : FRootFolder)); }

void TForm2::SpeedButton1Click() {
  FolderTarget = kFolderToSource;
  if (Form3) Form3->ShowModal();
}

void TForm2::SpeedButton2Click() {
  FolderTarget = kFolderToRoot;
  // A chooser closed without a choice changes nothing, and makes no folder either.
  if (!Form3 || !Form3->ShowModal()) return;
  Edit3.setText(Q(xpCheckBox1.Checked() ? TaskFolder() : FRootFolder));
  if (!xpCheckBox1.Checked()) return;
  std::error_code ec;
  if (!std::filesystem::create_directory(Edit3.text().toStdString(), ec)) {
    platform::MessageBox(
        "Папка для резервной копии создана ранее, возможно она используется другой задачей. Нерекомендуется "
        "создавать две задачи с одинаковым именем, что может привести к путанице резервных копий при попытке "
        "востановить информацию определённой задачи!",
        "Предупреждение!", platform::MB_OK | platform::MB_ICONWARNING);
    Edit1.clear();
    Edit3.clear();
  }
}

bool TForm2::TaskNameUsable(const std::string& name) const {
  // A name "." or ".." would make the task's folder the root folder or the one above it, whose
  // files a deletion of the task removes.
  if (name == "." || name == ".." || name.find('/') != std::string::npos) {
    ShowError("Название задачи не может быть \".\" или \"..\" и не может содержать знак \"/\": из него составляются "
              "имена папки резервных копий и файла протокола!");
    return false;
  }
  return true;
}

void TForm2::xpButton1Click(TObject*) {
  if (TypedName().empty()) {
    ShowError("Не определено имя задачи!");
    Edit3.clear();
    return;
  }
  if (Edit2.text().isEmpty() || Edit3.text().isEmpty()) {
    ShowError("Не определены пути для выполнения задачи!");
    return;
  }
  const TTaskRecord fields = TaskFields(TrimmedTaskValue(Edit4.text().toStdString()) + ".zip");
  if (!FieldsStorable(fields) || !TaskNameUsable(fields[TaskName - 1]) ||
      !ArchiveNameUsable(fields[ArchiveName - 1]) || !LogFileUsable(fields)) {
    return;
  }

  if (FSettings.addf == "1") platform::MakeDirectory(fields[BackupDir - 1]);  // the result does not matter
  AppendTaskRecord(fields);
  if (RadioButton7.isChecked()) WriteTaskLogHeader(fields[LogFlag - 1], fields[LogFile - 1]);
  if (FSettings.info == "1") {
    platform::MessageBox("Новая задача успешно добавлена в список установленных задач", "Резутьтат",
                         platform::MB_OK | platform::MB_ICONINFORMATION);
  }
  CloseToMainWindow();
}

void TForm2::xpButton2Click(TObject*) { close(); }
