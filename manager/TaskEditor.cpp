#include "manager/TaskEditor.h"

#include <QMouseEvent>
#include <QRegularExpression>

#include <filesystem>
#include <fstream>
#include <vector>

#include "manager/Kalvenor.h"
#include "manager/TaskLog.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/gui/application.h"
#include "platform/gui/datetime.h"
#include "platform/hooks.h"

namespace {

constexpr int kFormWidth = 440;
constexpr int kBoxWidth = kFormWidth - 16;
constexpr int kFolderButtonWidth = 24;
constexpr int kButtonWidth = 95;
constexpr const char* kDateFormat = "dd.MM.yyyy";
constexpr const char* kTimeFormat = "H:mm:ss";

// What the messages call each stored field.
constexpr const char* kFieldLabels[kStoredTaskFields] = {
    "Название задачи", "Путь к копируемым файлам", "Путь к файлам резервных копий", "Тип задачи",
    "Тип задачи",      "День недели",              "Дата",                          "Время",
    "Тип копирования", "Имя файла резервной копии", "Протоколирование задачи",      "Имя файла протокола"};

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

void Place(QWidget& w, int x, int y, int width, int height) { w.setGeometry(x, y, width, height); }

}  // namespace

TRadioButton::TRadioButton(QWidget* parent) : QRadioButton(parent) {
  // Qt hands the Tab stop to the button that last had the focus; a selection made by the program
  // (a form's activation) would leave it on a button that is not selected.
  connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
    if (checked) TakeTabStop(this);
  });
}

void TRadioButton::TakeTabStop(QRadioButton* selected) {
  QWidget* group = selected->parentWidget();
  if (!group) return;
  for (QRadioButton* b : group->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
    if (b->autoExclusive()) b->setFocusPolicy(b == selected ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void TRadioButton::focusInEvent(QFocusEvent* e) {
  QRadioButton::focusInEvent(e);
  // The focus given back to a button that is no longer selected, as a form shown again gives it
  // to the control that had it last, leaves the Tab stop with the selected one.
  if (isChecked() || !parentWidget()) return;
  for (QRadioButton* b : parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
    if (b->autoExclusive() && b->isChecked()) TakeTabStop(b);
  }
}

void TRadioButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && OnMouseDown) platform::RunGuarded(OnMouseDown);
  QRadioButton::mousePressEvent(e);
}

std::optional<TKindInputs> KindInputs(const std::string& kind) {
  if (kind == "Одноразовая") return TKindInputs{true, false};
  if (kind == "Ежедневная") return TKindInputs{false, false};
  if (kind == "Еженедельная") return TKindInputs{false, true};
  if (kind == "Ежемесячная") return TKindInputs{true, false};
  return std::nullopt;
}

QDate ReadDate(const std::string& text) {
  static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4}|\\d{2})\\s*$"));
  const auto match = pattern.match(Q(text));
  if (match.hasMatch()) {
    int year = match.captured(3).toInt();
    if (match.captured(3).size() == 2) year += 2000;
    const QDate date(year, match.captured(2).toInt(), match.captured(1).toInt());
    if (date.isValid()) return date;
  }
  throw EConvertError("'" + text + "' is not a valid date");
}

QTime ReadTime(const std::string& text) {
  static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?\\s*$"));
  const auto match = pattern.match(Q(text));
  if (match.hasMatch()) {
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (time.isValid()) return time;
  }
  throw EConvertError("'" + text + "' is not a valid time");
}

bool IsTaskLogFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(512, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  std::vector<std::string> lines;
  for (size_t start = 0; lines.size() < 4;) {
    const size_t end = head.find("\r\n", start);
    if (end == std::string::npos) return false;
    lines.push_back(head.substr(start, end - start));
    start = end + 2;
  }
  const std::string version = *platform::Utf8ToCp1251("Файл отчётов программы Tarvelo ver. ");
  const std::string created = *platform::Utf8ToCp1251(" Создан: ");
  return lines[0] == "*****" && lines[1].starts_with(version) && lines[2].starts_with(created) && lines[3] == "*****";
}

TTaskEditorForm::TTaskEditorForm(QWidget* parent, const char* caption, const char* archiveExtension,
                                 bool withFolderChoice)
    : TCentredDialog(parent, caption, kFormWidth, 0), FArchiveExtension(archiveExtension) {

  Label1.setText("Название задачи");
  Place(Label1, 12, 10, kBoxWidth, 16);
  Place(Edit1, 12, 28, kFormWidth - 24, 21);

  int y = 58;
  const int folderEditWidth = kBoxWidth - 20 - (withFolderChoice ? kFolderButtonWidth + 6 : 0);
  GroupBox1.setTitle("   Пути    ");
  Label2.setText("Путь к копируемым файлам :");
  Label3.setText("Путь к файлам резервных копий :");
  Place(Label2, 10, 20, kBoxWidth - 20, 16);
  Place(Edit2, 10, 38, folderEditWidth, 21);
  Place(Label3, 10, 64, kBoxWidth - 20, 16);
  Place(Edit3, 10, 82, folderEditWidth, 21);
  Edit2.setReadOnly(true);
  Edit3.setReadOnly(true);
  const int paths = withFolderChoice ? 134 : 112;
  Place(GroupBox1, 8, y, kBoxWidth, paths);
  y += paths + 6;

  GroupBox2.setTitle("   Тип задачи   ");
  RadioButton1.setText(kOnDemand);
  RadioButton2.setText(kAutomatic);
  Place(RadioButton1, 10, 20, 140, 18);
  Place(RadioButton2, 160, 20, 160, 18);
  ComboBox1.setEditable(true);  // the kind can also be typed
  ComboBox1.addItems({"Одноразовая", "Ежедневная", "Еженедельная", "Ежемесячная"});
  ComboBox1.setCurrentText("Одноразовая");
  Place(ComboBox1, 10, 46, 140, 22);
  Label4.setText("День недели");
  Place(Label4, 160, 49, 90, 16);
  ComboBox2.addItems({"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресение"});
  ComboBox2.setCurrentText("Понедельник");
  Place(ComboBox2, 254, 46, kBoxWidth - 264, 22);
  Label5.setText("Дата");
  Place(Label5, 10, 77, 40, 16);
  DateTimePicker1.setDisplayFormat(kDateFormat);
  DateTimePicker1.setCalendarPopup(true);
  Place(DateTimePicker1, 50, 74, 100, 22);
  Label6.setText("Время");
  Place(Label6, 160, 77, 60, 16);
  DateTimePicker2.setDisplayFormat(kTimeFormat);
  Place(DateTimePicker2, 254, 74, 100, 22);
  Place(GroupBox2, 8, y, kBoxWidth, 106);
  y += 106 + 6;

  // The copy type and the log: two choices and a file name each.
  struct FileBox {
    QGroupBox& box;
    const char* title;
    TRadioButton& first;
    const char* firstText;
    TRadioButton& second;
    const char* secondText;
    QLabel& label;
    QLineEdit& edit;
  };
  const FileBox fileBoxes[] = {
      {GroupBox3, "   Тип копирования   ", RadioButton3, "Перезаписывать", RadioButton5, "Добавлять", Label7, Edit4},
      {GroupBox4, "Протоколирование задачи   ", RadioButton6, "Не протоколировать", RadioButton7,
       "Создавать Log-файл", Label8, Edit5},
  };
  for (const FileBox& f : fileBoxes) {
    f.box.setTitle(f.title);
    f.first.setText(f.firstText);
    f.second.setText(f.secondText);
    Place(f.first, 10, 20, 170, 18);
    Place(f.second, 190, 20, 180, 18);
    f.label.setText("Имя файла");
    Place(f.label, 10, 49, 80, 16);
    Place(f.edit, 90, 46, kBoxWidth - 100, 21);
    Place(f.box, 8, y, kBoxWidth, 78);
    y += 78 + 6;
  }
  Edit4.setText("Backup");

  RadioButton1.setChecked(true);
  RadioButton3.setChecked(true);
  RadioButton6.setChecked(true);
  Edit5.setEnabled(false);
  DisableSchedule();

  RadioButton1.OnMouseDown = [this] { RadioButton1MouseDown(); };
  RadioButton2.OnMouseDown = [this] { RadioButton2MouseDown(); };
  RadioButton3.OnMouseDown = [this] { RadioButton3MouseDown(); };
  RadioButton5.OnMouseDown = [this] { RadioButton5MouseDown(); };
  RadioButton6.OnMouseDown = [this] { RadioButton6MouseDown(); };
  RadioButton7.OnMouseDown = [this] { RadioButton7MouseDown(); };
  connect(&ComboBox1, &QComboBox::currentTextChanged, this,
          [this] { platform::RunGuarded([this] { ComboBox1Change(); }); });
}

void TTaskEditorForm::PlaceButtons(TxpButton& left, const char* leftCaption, TxpButton& right,
                                   const char* rightCaption) {
  QFont bold = font();
  bold.setBold(true);
  left.SetCaption(leftCaption);
  right.SetCaption(rightCaption);
  const int y = GroupBox4.geometry().bottom() + 12;
  for (TxpButton* b : {&left, &right}) {
    b->SetFont(bold);
    b->resize(kButtonWidth, 25);
  }
  left.move(kFormWidth / 2 - kButtonWidth - 8, y);
  right.move(kFormWidth / 2 + 8, y);
  setFixedSize(kFormWidth, y + 25 + 14);
}

void TTaskEditorForm::OrderTabs(std::initializer_list<QWidget*> pathControls, QWidget& leftButton,
                                QWidget& rightButton) {
  std::vector<QWidget*> order{&Edit1};
  order.insert(order.end(), pathControls);
  order.insert(order.end(), {&RadioButton1, &RadioButton2, &ComboBox1, &ComboBox2, &DateTimePicker1,
                             &DateTimePicker2, &RadioButton3, &RadioButton5, &Edit4, &RadioButton6, &RadioButton7,
                             &Edit5, &leftButton, &rightButton});
  for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

QRect TTaskEditorForm::FolderButtonRect(const QLineEdit& edit) const {
  return QRect(kBoxWidth - 10 - kFolderButtonWidth, edit.y(), kFolderButtonWidth, edit.height());
}

QRect TTaskEditorForm::FolderBoxRect() const { return QRect(10, 110, kBoxWidth - 20, 17); }

void TTaskEditorForm::DisableSchedule() {
  ComboBox1.setEnabled(false);
  ComboBox2.setEnabled(false);
  DateTimePicker1.setEnabled(false);
  DateTimePicker2.setEnabled(false);
}

void TTaskEditorForm::ApplyKindRule() {
  const auto inputs = KindInputs(S(ComboBox1.currentText()));
  if (!inputs) return;
  DateTimePicker1.setEnabled(inputs->date);
  DateTimePicker2.setEnabled(true);
  ComboBox2.setEnabled(inputs->weekDay);
}

void TTaskEditorForm::RadioButton1MouseDown() { DisableSchedule(); }

void TTaskEditorForm::RadioButton2MouseDown() {
  ComboBox1.setEnabled(true);
  ApplyKindRule();
}

void TTaskEditorForm::ComboBox1Change() { ApplyKindRule(); }

void TTaskEditorForm::RadioButton3MouseDown() { Edit4.setText(Q("Backup" + FArchiveExtension)); }

void TTaskEditorForm::RadioButton5MouseDown() { Edit4.setText(Q("Дата+Время" + FArchiveExtension)); }

void TTaskEditorForm::RadioButton6MouseDown() { Edit5.setEnabled(false); }

void TTaskEditorForm::RadioButton7MouseDown() {
  Edit5.setEnabled(true);
  Edit5.setText(Q(TypedName() + ".log"));
}

void TTaskEditorForm::SetPickersToNow() {
  const double now = platform::Now();
  DateTimePicker1.setDate(QDate::fromString(Q(platform::DateToStr(now)), kDateFormat));
  DateTimePicker2.setTime(QTime::fromString(Q(platform::TimeToStr(now)), kTimeFormat));
}

TTaskRecord TTaskEditorForm::TaskFields(const std::string& archiveName) const {
  TTaskRecord r;
  auto field = [&r](TTaskField f) -> std::string& { return r[static_cast<size_t>(f - 1)]; };
  // Typed names lose their blanks at the ends, as the store's reader would drop them; folders
  // keep theirs and are refused if they have any (FieldsStorable).
  field(TaskName) = TypedName();
  field(SourceDir) = S(Edit2.text());
  field(BackupDir) = S(Edit3.text());
  const bool automatic = !RadioButton1.isChecked();
  field(Mode) = automatic ? kAutomatic : kOnDemand;
  if (automatic) {
    // All four whatever the kind: the executor's schedule tests read them as stored.
    const QDate date = DateTimePicker1.date();
    const QTime time = DateTimePicker2.time();
    field(Kind) = S(ComboBox1.currentText());
    field(WeekDay) = S(ComboBox2.currentText());
    field(StartDate) = platform::DateToStr(platform::EncodeDateTime(date.year(), date.month(), date.day(), 0, 0, 0));
    field(StartTime) = platform::TimeToStr(platform::EncodeDateTime(1899, 12, 30, time.hour(), time.minute(), time.second()));
  }
  field(CopyType) = RadioButton3.isChecked() ? "new" : "add";
  const bool logs = RadioButton7.isChecked();
  field(LogFlag) = logs ? "1" : "0";
  field(LogFile) = logs ? TrimmedTaskValue(S(Edit5.text())) : "none";
  field(ArchiveName) = TrimmedTaskValue(archiveName);
  return r;
}

void TTaskEditorForm::ShowError(const std::string& text) {
  platform::MessageBox(text, "Ошибка!", platform::MB_OK | platform::MB_ICONERROR);
}

bool TTaskEditorForm::FieldsStorable(const TTaskRecord& fields) const {
  for (size_t f = 0; f < fields.size(); ++f) {
    if (!IsStorableTaskText(fields[f])) {
      ShowError(UnstorableTaskTextMessage(kFieldLabels[f], fields[f]));
      return false;
    }
    if (TrimmedTaskValue(fields[f]) != fields[f]) {
      ShowError(std::string("Поле \"") + kFieldLabels[f] +
                "\" начинается или кончается пробелом или управляющим знаком, которые список задач не сохраняет. "
                "Выберите папку, имя которой не начинается и не кончается пробелом.");
      return false;
    }
  }
  return true;
}

std::string TTaskEditorForm::TypedName() const { return TrimmedTaskValue(S(Edit1.text())); }

bool TTaskEditorForm::ArchiveNameUsable(const std::string& archiveName) const {
  if (TrimmedTaskValue(S(Edit4.text())).empty()) {
    ShowError("Не определено имя файла резервной копии!");
    return false;
  }
  // The archive lies in the backup folder itself: a folder in its name would put it elsewhere.
  if (archiveName.find('/') != std::string::npos || archiveName == "." || archiveName == "..") {
    ShowError("Имя файла резервной копии должно быть именем файла без папки: знак \"/\" в нём недопустим!");
    return false;
  }
  return true;
}

bool TTaskEditorForm::LogFileUsable(const TTaskRecord& fields) const {
  if (fields[LogFlag - 1] != "1") return true;
  const std::string& name = fields[LogFile - 1];
  if (name.empty()) {
    ShowError("Не определено имя файла протокола!");
    return false;
  }
  if (!IsPlainLogFileName(name)) {
    ShowError("Имя файла протокола должно быть именем файла в каталоге программы, без знака \"/\"!");
    return false;
  }
  // The log's header replaces what the file held: only a task log may be replaced, never the
  // task store, the executor's log or anything else of the installation folder.
  const std::string path = TaskLogPath(name);
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !(std::filesystem::is_regular_file(path, ec) && IsTaskLogFile(path))) {
    ShowError("Файл \"" + path + "\" не является протоколом задачи и не будет заменён. Укажите другое имя файла протокола!");
    return false;
  }
  return true;
}

void TTaskEditorForm::CloseToMainWindow() {
  close();
  if (Form1 && Form1->isVisible()) {
    Form1->raise();
    Form1->activateWindow();
  }
}
