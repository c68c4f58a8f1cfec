#include "manager/Kalvenor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <filesystem>

#include "manager/Add.h"
#include "manager/ArchiveForms.h"
#include "manager/ArchiveName.h"
#include "manager/Clear.h"
#include "manager/Lokvist.h"
#include "manager/about.h"
#include "manager/help.h"
#include "manager/Settings.h"
#include "manager/Shsystem.h"
#include "manager/TaskLog.h"
#include "manager/backup.h"
#include "manager/prefrens.h"
#include "manager/restore.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/gui/application.h"
#include "platform/hooks.h"

TTaskTable TaskTable;
int32_t TaskCount = 1;
int32_t SelectedTask = 0;
TForm1* Form1 = nullptr;
TForm6* Form6 = nullptr;
TForm9* Form9 = nullptr;
TForm10* Form10 = nullptr;
TForm11* Form11 = nullptr;
TForm13* Form13 = nullptr;

namespace {

constexpr const char* kEmptyList = "Список установленых задач пуст!";
constexpr const char* kNoTask = "Не выбрана задача!";
constexpr const char* kErrorCaption = "Ошибка!";
constexpr int kLineWidth = 1;  // grid line below each row and right of each column
constexpr int kClientWidth = 503;
constexpr int kClientHeight = 408;

TProgramStarter& ProgramStarter() {
  static TProgramStarter starter;
  return starter;
}
void ShowError(const char* text) { platform::MessageBox(text, kErrorCaption, platform::MB_OK | platform::MB_ICONERROR); }

// Shows a form of the manager without blocking the main window.
void ShowForm(QWidget* form) {
  if (!form) return;
  form->show();
  form->raise();
  form->activateWindow();
}

// The narrowest the description's font is made to fit its column; below it the text would be
// hard to read, and is cut with its full text in the cell's hint.
constexpr int kNarrowestStretch = 60;

// The grid's font, condensed as far as text needs to show whole in width pixels. The columns
// keep their widths; a font wider than the one they were made for cuts off the date and time at
// the end of a schedule, what a user checks most.
QFont FittingFont(const QFont& font, const QString& text, int width) {
  QFont fitted = font;
  const int full = QFontMetrics(fitted).horizontalAdvance(text);
  if (full <= width || full <= 0) return fitted;
  int stretch = std::max(kNarrowestStretch, 100 * width / full);
  for (;; --stretch) {
    fitted.setStretch(stretch);
    if (stretch <= kNarrowestStretch || QFontMetrics(fitted).horizontalAdvance(text) <= width) return fitted;
  }
}

// First n characters (or what the text holds).
std::string Head(const std::string& text, size_t n) { return text.substr(0, n); }

std::string SameFolderKey(const std::string& folder) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(folder), ec);
  if (ec) p = std::filesystem::path(folder).lexically_normal();
  std::string key = p.string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

}  // namespace

std::string RowPicturePath() { return platform::InstallDir() + "/1.bmp"; }
std::string HelpIndexPath() { return platform::InstallDir() + "/help/index.htm"; }
std::string HelpInstallerPath() { return platform::ProgramDir() + "/help"; }

void SetProgramStarterForTesting(TProgramStarter starter) { ProgramStarter() = std::move(starter); }

void StartProgram(const std::string& program) {
  if (ProgramStarter()) return ProgramStarter()(program);
  platform::StartDetached(program);
}


std::string TaskDescription(TTaskTable& table, int32_t task) {
  const std::string& kind = table(Kind, task);
  std::string d = kind.empty() ? table(Mode, task) : table(Mode, task) + ", " + kind;
  std::string& startTime = table(StartTime, task);
  if (startTime.size() >= 2 && startTime[1] == ':') startTime.insert(0, "0");
  const std::string time = TimeToHHMM(startTime);
  if (kind == "Одноразовая") return d + ", " + table(StartDate, task) + ", " + time;
  if (kind == "Ежедневная") return d + ", " + time;
  if (kind == "Еженедельная") return d + ", " + table(WeekDay, task) + ", " + time;
  if (kind == "Ежемесячная") return d + ", " + Head(table(StartDate, task), 2) + "-е число, " + time;
  return d;
}

void TStringGrid::paintEvent(QPaintEvent* e) {
  QTableWidget::paintEvent(e);
  if (!OnDrawCell) return;
  QPainter painter(viewport());
  painter.translate(-horizontalOffset(), -verticalOffset());
  OnDrawCell(painter);
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  Form1 = this;
  SelectedTask = 0;
  setWindowTitle("Tarvelo - Планировщик задач");
  setCursor(Qt::PointingHandCursor);
  CreateToolBar();
  CreateMenu();
  CreateGrid();
  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  platform::RunGuarded([this] { FormCreate(); });
}

void TForm1::CreateToolBar() {
  struct Button {
    QToolButton* button;
    const char* caption;
    const char* hint;
    QStyle::StandardPixmap image;
    void (TForm1::*click)();
  };
  const Button buttons[] = {
      {&ToolButton1, "Выход", "Выйти из программы", QStyle::SP_DialogCloseButton, &TForm1::ToolButton1Click},
      {&ToolButton6, "Добавить", "Добавить задачу", QStyle::SP_FileDialogNewFolder, &TForm1::ToolButton6Click},
      {&ToolButton10, "Удалить", "Удалить задачу", QStyle::SP_TrashIcon, &TForm1::ToolButton10Click},
      {&ToolButton5, "Выполнить", "Выполнить задачу", QStyle::SP_MediaPlay, &TForm1::ToolButton5Click},
      {&ToolButton9, "Востановить", "Востановить по условиям задачи", QStyle::SP_BrowserReload,
       &TForm1::ToolButton9Click},
      {&ToolButton4, "Параметры", "Параметры задачи", QStyle::SP_FileDialogDetailedView, &TForm1::ToolButton4Click},
      {&ToolButton2, "Протокол", "Просмотреть протокол задачи", QStyle::SP_FileDialogContentsView,
       &TForm1::ToolButton2Click},
      {&ToolButton7, "Очистить", "Массовое удаление резервных копий", QStyle::SP_DialogDiscardButton,
       &TForm1::ToolButton7Click},
      {&ToolButton11, "Исполнитель", "Запустить исполнителя", QStyle::SP_ComputerIcon, &TForm1::ToolButton11Click},
      {&ToolButton12, "", "Описание программы", QStyle::SP_DialogHelpButton, &TForm1::ToolButton12Click},
      {&ToolButton3, "", "О программе", QStyle::SP_MessageBoxInformation, &TForm1::ToolButton3Click},
  };
  ToolBar1.setMovable(false);
  ToolBar1.setFloatable(false);
  ToolBar1.setIconSize(QSize(32, 32));
  ToolBar1.setToolButtonStyle(Qt::ToolButtonIconOnly);
  ToolBar1.setContextMenuPolicy(Qt::PreventContextMenu);
  addToolBar(Qt::TopToolBarArea, &ToolBar1);
  for (const Button& b : buttons) {
    b.button->setParent(&ToolBar1);
    b.button->setText(b.caption);
    b.button->setToolTip(b.hint);
    b.button->setIcon(style()->standardIcon(b.image));
    b.button->setIconSize(QSize(32, 32));
    b.button->setAutoRaise(true);
    b.button->setFixedSize(39, 38);
    ToolBar1.addWidget(b.button);
    auto click = b.click;
    connect(b.button, &QToolButton::clicked, this, [this, click] { platform::RunGuarded([this, click] { (this->*click)(); }); });
  }
}

void TForm1::CreateMenu() {
  auto item = [this](QMenu& menu, QAction& action, const char* caption, const char* hint, QStyle::StandardPixmap image,
                     void (TForm1::*click)()) {
    action.setText(caption);
    if (*hint) action.setToolTip(hint);
    action.setIcon(style()->standardIcon(image));
    menu.addAction(&action);
    connect(&action, &QAction::triggered, this, [this, click] { platform::RunGuarded([this, click] { (this->*click)(); }); });
  };
  N1.setTitle("Задачи");
  N1.setToolTip("Меню работы с задачами");
  N10.setTitle("Инструменты");
  N2.setTitle("Помощь");
  N2.setToolTip("Назначение и описание программы");
  item(N1, N5, "Добавить задачу", "Добавить новую задачу в список учтановленых задач", QStyle::SP_FileDialogNewFolder,
       &TForm1::ToolButton6Click);
  item(N1, N6, "Удалить задачу", "Удалить задачу из списка выполняемых задач", QStyle::SP_TrashIcon,
       &TForm1::ToolButton10Click);
  N1.addSeparator();
  item(N1, N14, "Настройки программы", "", QStyle::SP_FileDialogInfoView, &TForm1::N14Click);
  N1.addSeparator();
  item(N1, N9, "Выход", "Выход из программы", QStyle::SP_DialogCloseButton, &TForm1::N9Click);
  item(N10, N7, "Выполнить задачу", "", QStyle::SP_MediaPlay, &TForm1::ToolButton5Click);
  item(N10, N8, "Востановить из задачи", "", QStyle::SP_BrowserReload, &TForm1::ToolButton9Click);
  item(N10, N11, "Параметры задачи", "", QStyle::SP_FileDialogDetailedView, &TForm1::ToolButton4Click);
  item(N10, N13, "Протоколирование задачи", "", QStyle::SP_FileDialogContentsView, &TForm1::ToolButton2Click);
  item(N10, N3, "Массовое удаление резервных копий", "", QStyle::SP_DialogDiscardButton, &TForm1::ToolButton7Click);
  item(N10, N15, "Запустить Исполнителя", "", QStyle::SP_ComputerIcon, &TForm1::ToolButton11Click);
  item(N2, N4, "О программе", "О программе", QStyle::SP_MessageBoxInformation, &TForm1::N4Click);
  for (QMenu* menu : {&N1, &N10, &N2}) {
    menu->setToolTipsVisible(true);
    menuBar()->addMenu(menu);
  }
}

void TForm1::CreateGrid() {
  auto* central = new QWidget(this);  // owned by the window
  setCentralWidget(central);
  GroupBox1.setParent(central);
  GroupBox1.setTitle("   Установленные задачи    ");
  GroupBox1.setToolTip("Список установленых задач");
  const int top = 4;
  GroupBox1.setGeometry(8, top, kClientWidth - 16, kClientHeight - 44 - top - 8);

  StringGrid1.setColumnCount(3);
  StringGrid1.setRowCount(1);
  StringGrid1.horizontalHeader()->hide();
  StringGrid1.verticalHeader()->hide();
  // A section holds the row and its grid line, so row r starts at r x 21.
  StringGrid1.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid1.verticalHeader()->setDefaultSectionSize(kRowHeight + kLineWidth);
  StringGrid1.horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid1.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  StringGrid1.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  StringGrid1.setShowGrid(true);
  StringGrid1.setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1.setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1.setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1.setWordWrap(false);
  QPalette palette = StringGrid1.palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Light));
  StringGrid1.setPalette(palette);
  StringGrid1.setGeometry(8, 20, GroupBox1.width() - 16, GroupBox1.height() - 28);
  SetColumnWidths();

  StringGrid1.OnDrawCell = [this](QPainter& canvas) { StringGrid1DrawCell(canvas); };
  connect(&StringGrid1, &QTableWidget::currentCellChanged, this,
          [this](int row, int column, int, int) { StringGrid1SelectCell(column, row); });

  // Header labels over row 0, which carries no task.
  QFont bold = font();
  bold.setBold(true);
  struct Header {
    QLabel* label;
    const char* caption;
    const char* hint;
    int left;
    int width;
  };
  const int origin = StringGrid1.x() + StringGrid1.frameWidth();
  const Header headers[] = {
      {&Label1, "", "", 0, kPictureWidth + kLineWidth},
      {&Label2, "Название", "Название задачи", kPictureWidth + kLineWidth, kNameWidth + kLineWidth},
      {&Label3, "Описание", "Описание задачи", kPictureWidth + kNameWidth + 2 * kLineWidth,
       kDescriptionWidth + kLineWidth},
  };
  for (const Header& h : headers) {
    h.label->setText(h.caption);
    if (*h.hint) h.label->setToolTip(h.hint);
    h.label->setFont(bold);
    h.label->setFrameStyle(QFrame::Panel | QFrame::Raised);
    h.label->setAlignment(Qt::AlignCenter);
    h.label->setAutoFillBackground(true);
    h.label->setGeometry(origin + h.left, StringGrid1.y() + StringGrid1.frameWidth(), h.width, 23);
    h.label->raise();
  }
}

void TForm1::SetColumnWidths() {
  StringGrid1.setColumnWidth(1, kNameWidth + kLineWidth);
  StringGrid1.setColumnWidth(2, kDescriptionWidth + kLineWidth);
  StringGrid1.setColumnWidth(0, kPictureWidth + kLineWidth);
}

int TForm1::DescriptionTextWidth() const {
  // An item's text stands between margins of the style inside the cell, which ends at the line.
  const int margin = StringGrid1.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &StringGrid1) + 1;
  return StringGrid1.columnWidth(2) - kLineWidth - 2 * margin;
}

bool TForm1::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) platform::RunGuarded([this] { FormActivate(); });
  return QMainWindow::event(e);
}

void TForm1::showEvent(QShowEvent* e) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QMainWindow::showEvent(e);
}

void TForm1::closeEvent(QCloseEvent* e) {
  if (TArchiveOperation::Running()) return e->ignore();
  QMainWindow::closeEvent(e);
}

void TForm1::FormCreate() {
  TaskCount = 1;
  ReadOrCreateSettings(MainSettings());
  FReady = true;
  if (!platform::FileExists(TaskStorePath())) {
    platform::MessageBox(
        "Программа повреждена! Отсутствуют файлы необходимые для её работы. Переустановите программу с потерей "
        "всех наработанных данных!",
        " Критическая ошибка!", platform::MB_OK | platform::MB_ICONERROR);
    FReady = false;
    if (platform::Application* app = platform::App()) app->Terminate();
  }
}

void TForm1::FormActivate() {
  if (!FReady) return;
  SetColumnWidths();
  LoadTaskStore(TaskTable, TaskCount);
  FillTaskGrid(TaskCount);
}

void TForm1::FillTaskGrid(int32_t count) {
  // A refill is no selection: the user's choice of row stays the selected task.
  const QSignalBlocker blocker(&StringGrid1);
  StringGrid1.setRowCount(count);
  FRowPictures.assign(static_cast<size_t>(std::max(count, 1)), QPixmap());
  // The picture is only a decoration: a missing one is reported after every task's name and
  // description are in the grid, and only once: the error box's closing activates the window
  // again, which must not report it anew.
  QPixmap picture;
  const bool havePicture = picture.load(QString::fromStdString(RowPicturePath()));
  for (int32_t r = 1; r < count; ++r) {
    StringGrid1.setRowHeight(r, kRowHeight + kLineWidth);
    StringGrid1.setItem(r, 1, new QTableWidgetItem(QString::fromStdString(TaskTable(TaskName, r))));
    auto* description = new QTableWidgetItem(QString::fromStdString(TaskDescription(TaskTable, r)));
    description->setFont(FittingFont(StringGrid1.font(), description->text(), DescriptionTextWidth()));
    description->setToolTip(description->text());  // for a text too long even for the narrowest font
    StringGrid1.setItem(r, 2, description);
    if (havePicture) FRowPictures[static_cast<size_t>(r)] = picture;
  }
  StringGrid1.viewport()->update();
  if (havePicture || count <= 1) {
    FPictureReported = false;
  } else if (!FPictureReported) {
    FPictureReported = true;
    throw EFOpenError("Cannot open file \"" + RowPicturePath() + "\"");
  }
}

void TForm1::StringGrid1DrawCell(QPainter& canvas) {
  for (int32_t r = 1; r < TaskCount && static_cast<size_t>(r) < FRowPictures.size(); ++r) {
    const QPixmap& picture = FRowPictures[static_cast<size_t>(r)];
    if (!picture.isNull()) canvas.drawPixmap(1, r * (kRowHeight + kLineWidth), picture);
  }
}

void TForm1::StringGrid1SelectCell(int, int ARow) { SelectedTask = ARow < 0 ? 0 : ARow; }

bool TForm1::TaskGuard() {
  if (StringGrid1.rowCount() <= 1) {
    ShowError(kEmptyList);
    return false;
  }
  // A row number that names no task (the list got shorter) is no selection.
  if (SelectedTask <= 0 || SelectedTask >= TaskCount) {
    ShowError(kNoTask);
    return false;
  }
  return true;
}

void TForm1::ToolButton1Click() { close(); }
void TForm1::N9Click() { close(); }

void TForm1::ToolButton6Click() { ShowForm(Form2); }

void TForm1::ToolButton5Click() {
  if (TaskGuard()) ShowForm(Form5);
}
void TForm1::ToolButton9Click() {
  if (TaskGuard()) ShowForm(Form7);
}
void TForm1::ToolButton4Click() {
  if (TaskGuard()) ShowForm(Form4);
}
void TForm1::ToolButton7Click() {
  if (TaskGuard()) ShowForm(Form11);
}

void TForm1::ToolButton2Click() {
  if (StringGrid1.rowCount() <= 1) return ShowError(kEmptyList);
  if (SelectedTask <= 0 || SelectedTask >= TaskCount) return ShowError(kNoTask);
  if (TaskTable(LogFlag, SelectedTask) == "0") {
    return ShowError("Для этой задачи не установлено или отменено протоколирование!");
  }
  ShowForm(Form9);
}

void TForm1::ToolButton10Click() {
  if (!TaskGuard()) return;
  const int32_t task = SelectedTask;
  const TSettingsCopies& settings = MainSettings();
  if (settings.warn != "0" &&
      platform::MessageBox("Вы действительно хотите удалить выбранную задачу?", "Подтверждение",
                           platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDNO) {
    return;
  }
  TaskTable(Deleted, task) = "1";
  // The store is rewritten before any file goes: a failed rewrite keeps the task and its files.
  SaveTaskStore(TaskTable, TaskCount, true);
  DeleteSelectedTaskFiles(task);
  SelectedTask = 0;
  SetColumnWidths();
  LoadTaskStore(TaskTable, TaskCount);
  {
    const QSignalBlocker blocker(&StringGrid1);
    StringGrid1.setCurrentCell(-1, -1);
  }
  FillTaskGrid(TaskCount);
  StringGrid1.viewport()->repaint();
  if (settings.info == "1") {
    platform::MessageBox("Задача успешно удалена.", "Результат", platform::MB_OK | platform::MB_ICONINFORMATION);
  }
}

void TForm1::DeleteSelectedTaskFiles(int32_t task) {
  // Every deletion here may fail and reports nothing; a LogFile that is no plain name of the
  // installation folder names no file of this task.
  if (TaskTable(LogFlag, task) == "1" && IsPlainLogFileName(TaskTable(LogFile, task))) {
    platform::DeleteFile(TaskLogPath(TaskTable(LogFile, task)));
  }
  if (MainSettings().delf != "1") return;
  const std::string folder = TaskTable(BackupDir, task);
  if (folder.empty()) return;
  // Nothing goes when the folder holds the store and the programs, or what a task backs up or
  // keeps its archives in: archives there may be another task's.
  const std::string key = SameFolderKey(folder);
  if (key == "/" || key == SameFolderKey(platform::InstallDir()) || key == SameFolderKey(platform::ProgramDir()) ||
      key == SameFolderKey(TaskTable(SourceDir, task))) {
    return;
  }
  for (int32_t t = 1; t < TaskCount; ++t) {
    if (t == task || TaskTable(Deleted, t) == "1") continue;
    if (key == SameFolderKey(TaskTable(BackupDir, t)) || key == SameFolderKey(TaskTable(SourceDir, t))) return;
  }
  // Only the task's archives go: the folder may be one of the user's own.
  const std::string archiveName = TaskTable(ArchiveName, task);
  for (const platform::FindData& entry : platform::ListDirectory(folder)) {
    if (entry.attributes & platform::kAttrDirectory) continue;
    if (IsTaskArchiveName(entry.name, archiveName)) platform::DeleteFile(folder + "/" + entry.name);
  }
  platform::RemoveDirectory(folder);  // stays while anything is left in it
}

void TForm1::ToolButton11Click() {
  // A second executor would end at once; the user learns that one already runs.
  if (platform::LockHeld(ExecutorLockPath())) {
    if (MainSettings().info == "1") {
      platform::MessageBox("Исполнитель уже запущен.", "Результат", platform::MB_OK | platform::MB_ICONINFORMATION);
    }
    return;
  }
  StartProgram(ExecutorProgramPath());
}

void TForm1::ToolButton12Click() {
  if (platform::FileExists(HelpIndexPath())) return ShowForm(Form13);
  if (platform::MessageBox("Для установки описания программы нажмите клавишу \"Да\" И распакуйте "
                           "самораспаковывающийся архив в предложенный каталог. Нажмите  \"нет\", если не хотите "
                           "устанавливать . Установить описание?",
                           "Описание программы не установлено!",
                           platform::MB_YESNO | platform::MB_ICONINFORMATION) == platform::IDYES) {
    StartProgram(HelpInstallerPath());
  }
}

void TForm1::ToolButton3Click() { ShowForm(Form6); }
void TForm1::N4Click() { ShowForm(Form6); }

void TForm1::N14Click() {
  ShowForm(Form10);
}
