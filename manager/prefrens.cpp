#include "manager/prefrens.h"

#include <QKeyEvent>
#include <QSignalBlocker>

#include <exception>

#include "manager/Kalvenor.h"
#include "manager/TaskLog.h"
#include "manager/TaskStore.h"
#include "platform/files.h"
#include "platform/gui/application.h"
#include "platform/hooks.h"

TForm4* Form4 = nullptr;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsSelectedTask(int32_t task) { return task > 0 && task < TaskCount; }

// Tab moves on and a modifier alone is no key of the field's text.
bool IsFieldKey(const QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr: return false;
    default: return true;
  }
}

}  // namespace

TForm4::TForm4(QWidget* parent) : TTaskEditorForm(parent, "Параметры задачи", ".zip", false) {
  Form4 = this;
  Edit1.setReadOnly(true);
  PlaceButtons(xpButton2, "Изменить", xpButton1, "Выход");
  OrderTabs({&Edit2, &Edit3}, xpButton2, xpButton1);
  for (QLineEdit* edit : {&Edit1, &Edit2, &Edit3}) edit->installEventFilter(this);
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
  xpButton2.OnClick = [this](TObject* s) { xpButton2Click(s); };
}

TForm4::~TForm4() {
  if (Form4 == this) Form4 = nullptr;
}

bool TForm4::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(e);
    if (IsFieldKey(key)) {
      if (watched == &Edit1 && !key->text().isEmpty()) platform::RunGuarded([this] { Edit1KeyPress(); });
      if (watched == &Edit2) platform::RunGuarded([this] { Edit2KeyDown(); });
      if (watched == &Edit3) platform::RunGuarded([this] { Edit3KeyDown(); });
    }
  }
  return TTaskEditorForm::eventFilter(watched, e);
}

void TForm4::ShowStoredDate(const std::string& text, bool used) {
  try {
    DateTimePicker1.setDate(ReadDate(text));
  } catch (const EConvertError& e) {
    if (used) platform::ShowException(e);
  }
}

void TForm4::ShowStoredTime(const std::string& text) {
  try {
    DateTimePicker2.setTime(ReadTime(text));
  } catch (const EConvertError& e) {
    platform::ShowException(e);
  }
}

void TForm4::FormActivate() {
  const int32_t s = SelectedTask;
  // The task was deleted meanwhile: there is nothing to show or to store.
  if (!IsSelectedTask(s)) {
    close();
    return;
  }
  const TSettingsCopies& main = MainSettings();
  FSettings.info = main.info;
  FSettings.warn = main.warn;
  FSettings.addf = main.addf;

  // A task that has no date or time of its own shows this moment, as a new task does, and never
  // what an earlier visit left in the pickers.
  SetPickersToNow();
  Edit1.setText(Q(TaskTable(TaskName, s)));
  Edit2.setText(Q(TaskTable(SourceDir, s)));
  Edit3.setText(Q(TaskTable(BackupDir, s)));
  Edit5.setText(Q(TaskTable(LogFile, s)));
  Edit4.setText(Q(TaskTable(ArchiveName, s)));

  const std::string mode = TaskTable(Mode, s);
  if (mode != kOnDemand) {
    RadioButton2.setChecked(true);
  } else {
    DisableSchedule();
    RadioButton1.setChecked(true);
  }
  if (mode == kAutomatic) {
    const std::string kind = TaskTable(Kind, s);
    ComboBox1.setEnabled(true);
    {
      const QSignalBlocker blocker(&ComboBox1);  // the kind is applied here, below
      ComboBox1.setCurrentText(Q(kind));
    }
    if (const auto inputs = KindInputs(kind)) {
      DateTimePicker1.setEnabled(inputs->date);
      ShowStoredDate(TaskTable(StartDate, s), inputs->date);
      DateTimePicker2.setEnabled(true);
      ShowStoredTime(TaskTable(StartTime, s));
      ComboBox2.setEnabled(inputs->weekDay);
      ComboBox2.setCurrentText(Q(TaskTable(WeekDay, s)));
    }
  }

  const std::string copyType = TaskTable(CopyType, s);
  if (copyType == "new") RadioButton3.setChecked(true);
  if (copyType == "add") RadioButton5.setChecked(true);
  if (copyType == "new" || copyType == "add") Edit4.setEnabled(true);

  const std::string logFlag = TaskTable(LogFlag, s);
  if (logFlag == "1") {
    RadioButton7.setChecked(true);
    Edit5.setEnabled(true);
  } else if (logFlag == "0") {
    RadioButton6.setChecked(true);
    Edit5.setEnabled(false);
  }
}

void TForm4::Edit1KeyPress() {
  if (FSettings.warn != "1") return;
  ShowError("Нельзя изменять имя задачи. Если задача не актуальна, просто удалите её, чтобы невозникало путаницы с "
            "резервными копиями!");
}

void TForm4::Edit2KeyDown() {
  if (FSettings.warn != "1") return;
  ShowError("Нельзя изменять пути выполнения задачи. Если задача не актуальна, просто удалите её, чтобы "
            "невозникало путаницы с резервными копиями!");
}

void TForm4::Edit3KeyDown() {
  if (FSettings.warn != "1") return;
  ShowError("Нельзя изменять пути выполнения задачи, это может привести к потере ранее созданных резервных копий. "
            "Если задача не актуальна, просто удалите её!");
}

void TForm4::xpButton2Click(TObject*) {
  if (Edit2.text().isEmpty() || Edit3.text().isEmpty()) {
    ShowError("Не определены пути для выполнения задачи!");
    return;
  }
  if (Edit1.text().isEmpty()) {
    ShowError("Не определено имя задачи!");
    return;
  }
  const int32_t s = SelectedTask;
  if (!IsSelectedTask(s)) {
    ShowError("Не выбрана задача!");
    return;
  }
  const TTaskRecord fields = TaskFields(Edit4.text().toStdString());
  if (!FieldsStorable(fields) || !ArchiveNameUsable(fields[ArchiveName - 1]) || !LogFileUsable(fields)) return;

  const bool hadLog = TaskTable(LogFlag, s) == "1";
  const std::string oldLogFile = TaskTable(LogFile, s);
  // The table takes the change only once the store holds it.
  TTaskTable table = TaskTable;
  for (int32_t f = 1; f <= kStoredTaskFields; ++f) table(f, s) = fields[static_cast<size_t>(f - 1)];
  SaveTaskStore(table, TaskCount);
  TaskTable = std::move(table);

  // The old log goes only after the store no longer names it; "none" names no log.
  if (RadioButton6.isChecked() && hadLog && IsPlainLogFileName(oldLogFile)) {
    platform::DeleteFile(TaskLogPath(oldLogFile));  // a missing log is no error
  }
  if (RadioButton7.isChecked()) {
    // A log that exists keeps its entries; a new one begins with the header.
    const std::string path = TaskLogPath(fields[LogFile - 1]);
    if (!(platform::FileExists(path) && IsTaskLogFile(path))) WriteTaskLogHeader("1", fields[LogFile - 1]);
  }
  if (FSettings.info == "1") {
    platform::MessageBox("Изменения успешно сохранены.", "Изменение параметров задачи",
                         platform::MB_OK | platform::MB_ICONINFORMATION);
  }
  CloseToMainWindow();
}

void TForm4::xpButton1Click(TObject*) { close(); }
