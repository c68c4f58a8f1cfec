#include "executor/Dorvexal.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "manager/ArchiveName.h"
#include "manager/Settings.h"
#include "manager/TaskArchive.h"
#include "manager/TaskLog.h"
#include "platform/files.h"
#include "platform/gui/application.h"
#include "platform/gui/datetime.h"
#include "platform/gui/textfile.h"

namespace {

// Monday first, the texts exactly as the task editor stores them.
constexpr const char* kWeekDays[7] = {"Понедельник", "Вторник", "Среда", "Четверг",
                                      "Пятница",     "Суббота", "Воскресение"};

constexpr const char* kWeekly = "Еженедельная";
constexpr const char* kDaily = "Ежедневная";
constexpr const char* kMonthly = "Ежемесячная";
constexpr const char* kOneTime = "Одноразовая";

TProgramStarter& ProgramStarter() {
  static TProgramStarter starter;
  return starter;
}

void StartProgram(const std::string& program) {
  if (ProgramStarter()) {
    ProgramStarter()(program);
    return;
  }
  platform::StartDetached(program);
}

std::string Field(const TTaskTable& table, TTaskField field, int32_t task) { return table(field, task); }

bool TimeIsNow(const TTaskTable& table, int32_t task, const TTickClock& clock) {
  return TimeToHHMM(Field(table, StartTime, task)) == clock.Now;
}

// The number that a text of digits gives, -1 for anything else.
int32_t DigitsNumber(const std::string& text, size_t digits) {
  if (text.size() != digits) return -1;
  int32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}
int32_t TwoDigitNumber(const std::string& text) { return DigitsNumber(text, 2); }
int32_t FourDigitNumber(const std::string& text) { return DigitsNumber(text, 4); }

// 0 for a month that is none.
int32_t DaysInMonth(int32_t month, int32_t year) {
  static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || year < 0) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Minutes since day 0 of the date-time, as the clock's texts count them (to the millisecond).
int64_t MinuteOf(double dateTime) { return std::llround(dateTime * 86400000.0) / 60000; }
double MinuteStart(int64_t minute) { return static_cast<double>(minute) / 1440.0; }

// A clock put back by more than the hour that a change to winter time repeats starts afresh.
constexpr int64_t kRepeatedMinutes = 60;
// Catching up looks back at most a month, whatever the clock jumped by during a run.
constexpr int64_t kMostCaughtUpMinutes = 31 * 1440;

// --- pictures ----------------------------------------------------------------------------

QPixmap Canvas(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// The archive box that every tray picture shows; step 1-6 draws the moving band of a run,
// 0 a green tick (idle or succeeded), 7 a red cross (failed).
QIcon TrayPicture(int step) {
  QPixmap pixmap = Canvas(32);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(20, 40, 90), 1.5));
  p.setBrush(QColor(60, 110, 190));
  p.drawRoundedRect(QRectF(3.5, 7.5, 25, 21), 3, 3);
  p.setBrush(QColor(90, 140, 220));
  p.drawRoundedRect(QRectF(2.5, 3.5, 27, 7), 2, 2);
  p.setBrush(QColor(230, 230, 240));
  p.drawRect(QRectF(12.5, 13.5, 7, 3));
  if (step >= 1 && step <= 6) {
    p.setPen(QPen(QColor(255, 210, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(9, 11, 14, 14), (90 - step * 60) * 16, 120 * 16);
  } else {
    const bool ok = step == 0;
    p.setPen(Qt::NoPen);
    p.setBrush(ok ? QColor(40, 160, 60) : QColor(200, 30, 30));
    p.drawEllipse(QRectF(16, 16, 15, 15));
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
    if (ok) {
      QPainterPath tick;
      tick.moveTo(19.5, 23.5);
      tick.lineTo(22.5, 26.5);
      tick.lineTo(27.5, 20);
      p.drawPath(tick);
    } else {
      p.drawLine(QPointF(20, 20), QPointF(27, 27));
      p.drawLine(QPointF(27, 20), QPointF(20, 27));
    }
  }
  return QIcon(pixmap);
}

// Menu pictures: 0 the task scheduler (a clock), 1 the log (a sheet with lines), 2 exit.
QIcon MenuPicture(int index) {
  QPixmap pixmap = Canvas(16);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 0:
      p.setPen(QPen(QColor(30, 60, 120), 1.2));
      p.setBrush(QColor(235, 240, 255));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      p.drawLine(QPointF(8, 8), QPointF(8, 4));
      p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
      break;
    case 1:
      p.setPen(QPen(QColor(80, 80, 80), 1));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(3.5, 1.5, 9, 13));
      p.setPen(QPen(QColor(60, 110, 190), 1));
      for (int y = 5; y <= 11; y += 3) p.drawLine(QPointF(5.5, y + 0.5), QPointF(10.5, y + 0.5));
      break;
    default:
      p.setPen(QPen(QColor(200, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(4, 4), QPointF(12, 12));
      p.drawLine(QPointF(12, 4), QPointF(4, 12));
      break;
  }
  return QIcon(pixmap);
}

}  // namespace

// --- clock and due tests -------------------------------------------------------------------

std::string WeekDayName(double DateTime) {
  // Day 0 of the date-time, 1899-12-30, was a Saturday (index 5 from Monday).
  const auto days = static_cast<int64_t>(std::floor(DateTime));
  return kWeekDays[((days % 7) + 7 + 5) % 7];
}

TTickClock TickClock(double DateTime) {
  return {TimeToHHMM(platform::TimeToStr(DateTime)), platform::DateToStr(DateTime), WeekDayName(DateTime)};
}

bool IsWeekdayDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock) {
  return TimeIsNow(Table, Task, Clock) && Field(Table, Kind, Task) == kWeekly &&
         Field(Table, WeekDay, Task) == Clock.WeekDay;
}

bool IsDailyDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock) {
  return TimeIsNow(Table, Task, Clock) && Field(Table, Kind, Task) == kDaily;
}

bool IsMonthlyDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock) {
  if (!TimeIsNow(Table, Task, Clock) || Field(Table, Kind, Task) != kMonthly) return false;
  const std::string day = Field(Table, StartDate, Task).substr(0, 2);
  if (Clock.Today.substr(0, 2) == day) return true;
  // A month without the task's day (the 29th to the 31st) has its last day stand for it.
  const int32_t stored = TwoDigitNumber(day);
  const int32_t last = DaysInMonth(TwoDigitNumber(Clock.Today.substr(3, 2)), FourDigitNumber(Clock.Today.substr(6, 4)));
  return last > 0 && stored > last && stored <= 31 && TwoDigitNumber(Clock.Today.substr(0, 2)) == last;
}

bool IsOneTimeDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock) {
  return TimeIsNow(Table, Task, Clock) && Field(Table, Kind, Task) == kOneTime &&
         Clock.Today == Field(Table, StartDate, Task);
}

// --- logs and programs ---------------------------------------------------------------------

std::string ExecutorLogPath() { return platform::InstallDir() + "/Dorvexal.log"; }

void WriteExecutorLogLine(const std::string& TaskName, bool Succeeded, const std::vector<std::string>& LogFailures) {
  const double now = platform::Now();
  const std::string stamp = platform::DateToStr(now) + " " + platform::TimeToStr(now);
  platform::TextFile log(ExecutorLogPath());
  log.AppendCreating();
  // The error names a path, which may hold what code page 1251 cannot.
  for (const std::string& failure : LogFailures)
    log.WriteLn(stamp + "-> Ошибка записи журнала задачи  :" + TaskName + " - " + LogSafeText(failure));
  log.WriteLn(stamp + "-> Выполнение задачи  :" + TaskName + (Succeeded ? " - OK" : " - ERROR!"));
  log.Close();
}

std::string LogViewerProgramPath() { return platform::ProgramDir() + "/Lokvist"; }
std::string ManagerProgramPath() { return platform::ProgramDir() + "/Kalvenor"; }

void SetProgramStarterForTesting(TProgramStarter Starter) { ProgramStarter() = std::move(Starter); }

// --- the form ------------------------------------------------------------------------------

TForm1::TForm1() {
  setWindowTitle(QString::fromUtf8("Исполнитель"));
  resize(248, 85);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
  CreateImages();
  CreateMenu();
  CreateTrayIcon();
  CreateZip();
  Timer1.setInterval(static_cast<int>(kTickInterval));
  connect(&Timer1, &QTimer::timeout, this, [this] { platform::RunGuarded([this] { Timer1Timer(); }); });
  platform::RunGuarded([this] { FormCreate(); });
  Timer1.start();
}

TForm1::~TForm1() {
  Timer1.stop();
  // The tray icon refers to the menu: it goes first.
  Trayloom1.reset();
}

void TForm1::CreateImages() {
  for (int i = 0; i < 3; ++i) ImageList1.push_back(MenuPicture(i));
  for (int i = 0; i < 8; ++i) ImageList2.push_back(TrayPicture(i));
}

void TForm1::CreateMenu() {
  PopupMenu1 = std::make_unique<QMenu>();
  N1 = PopupMenu1->addAction(ImageList1[1], QString::fromUtf8("Просмотр протокола"));
  N2 = PopupMenu1->addAction(ImageList1[0], QString::fromUtf8("Планировщик задач"));
  N3 = PopupMenu1->addAction(ImageList1[2], QString::fromUtf8("Выход"));
  connect(N1, &QAction::triggered, this, [this] { platform::RunGuarded([this] { N1Click(); }); });
  connect(N2, &QAction::triggered, this, [this] { platform::RunGuarded([this] { N2Click(); }); });
  connect(N3, &QAction::triggered, this, [this] { platform::RunGuarded([this] { N3Click(); }); });
}

void TForm1::CreateTrayIcon() {
  Trayloom1 = std::make_unique<TTrayloom>(this);
  Trayloom1->SetIconList(ImageList2);
  Trayloom1->SetCycleInterval(450);
  Trayloom1->SetHint(kExecutorTitle);
  Trayloom1->SetIcon(ImageList2[kIdleImage]);
  Trayloom1->SetIconVisible(true);
  Trayloom1->SetIconIndex(kIdleImage);
  Trayloom1->SetPopupMenu(PopupMenu1.get());
  Trayloom1->SetLeftPopup(true);
  Trayloom1->SetMinimizeToTray(true);
  Trayloom1->Loaded();
  setWindowIcon(ImageList2[kIdleImage]);
}

void TForm1::CreateZip() { SetTaskZipProperties(Zip1); }

void TForm1::FormCreate() {
  ExecutorLogFlag = ReadExecutorLogFlag();
  Busy = false;
}

void TForm1::Timer1Timer() {
  if (Busy) return;
  std::vector<int64_t> minutes = MinutesToTest(MinuteOf(platform::Now()), false);
  // Two ticks can fall into one minute: a task runs once in its minute.
  if (minutes.empty()) return;
  LoadTaskStore(TaskTable, TaskCount);
  RunDueTasks(minutes);
  // The minutes that passed while tasks ran got no tick of their own: each task due in one of
  // them runs now, once.
  for (minutes = MinutesToTest(MinuteOf(platform::Now()), true); !minutes.empty();
       minutes = MinutesToTest(MinuteOf(platform::Now()), true)) {
    LoadTaskStore(TaskTable, TaskCount);
    RunDueTasks(minutes);
  }
}

std::vector<int64_t> TForm1::MinutesToTest(int64_t Now, bool PassedDuringRuns) {
  if (!FTestedMinutes.empty() && Now < *FTestedMinutes.rbegin() - kRepeatedMinutes) FTestedMinutes.clear();
  // A clock put back shows tested minutes again; those that were never tested are still due.
  if (FTestedMinutes.contains(Now)) return {};
  std::vector<int64_t> minutes;
  const auto after = FTestedMinutes.lower_bound(Now);
  if (after != FTestedMinutes.begin()) {
    // Every minute between the last tested one and Now is untested.
    for (int64_t minute = std::max(*std::prev(after) + 1, Now - kMostCaughtUpMinutes); minute < Now; ++minute) {
      if (PassedDuringRuns || !platform::LocalTimeExists(MinuteStart(minute))) minutes.push_back(minute);
    }
  }
  minutes.push_back(Now);
  return minutes;
}

void TForm1::RunDueTasks(const std::vector<int64_t>& Minutes) {
  // Tested before any run: a run that raises does not make its minute's tasks run again.
  // Only what a clock put back by the repeated hour shows again is kept.
  const int64_t newest = std::max(Minutes.back(), FTestedMinutes.empty() ? Minutes.back() : *FTestedMinutes.rbegin());
  FTestedMinutes.insert(std::lower_bound(Minutes.begin(), Minutes.end(), newest - kRepeatedMinutes), Minutes.end());
  FTestedMinutes.erase(FTestedMinutes.begin(), FTestedMinutes.lower_bound(newest - kRepeatedMinutes));
  std::vector<bool> ran(static_cast<size_t>(std::max(TaskCount, 1)), false);
  // The tests are independent: each runs the task when it holds, in this order.
  using TDueTest = bool (*)(const TTaskTable&, int32_t, const TTickClock&);
  static constexpr TDueTest kTests[] = {IsWeekdayDue, IsDailyDue, IsMonthlyDue, IsOneTimeDue};
  for (const int64_t minute : Minutes) {
    const TTickClock clock = TickClock(MinuteStart(minute));
    for (CurrentTask = 1; CurrentTask <= TaskCount - 1; ++CurrentTask) {
      for (TDueTest due : kTests) {
        if (ran[static_cast<size_t>(CurrentTask)] || !due(TaskTable, CurrentTask, clock)) continue;
        ran[static_cast<size_t>(CurrentTask)] = true;
        RunTask(Busy, CurrentTask, TaskTable);
      }
    }
  }
}

void TForm1::RunTask(bool& Busy, int32_t Task, const TTaskTable& Table) {
  Busy = true;
  Trayloom1->SetCycleIcons(true);
  Trayloom1->SetHint("Выполнение задачи " + Table(TaskName, Task));
  TTaskRunResult result;
  bool completed = false;
  // Every run ends the same way, also when something raises on the way out.
  struct TEndOfRun {
    TForm1& Form;
    bool& Busy;
    const TTaskRunResult& Result;
    const bool& Completed;
    ~TEndOfRun() {
      Form.Trayloom1->SetCycleIcons(false);
      Form.Trayloom1->SetHint(kExecutorTitle);
      Form.Trayloom1->SetIconIndex(Completed && Result.Succeeded ? kIdleImage : kFailedImage);
      Busy = false;
    }
  } endOfRun{*this, Busy, result, completed};

  const bool replace = Table(CopyType, Task) == "new";
  const std::string name = replace ? Table(ArchiveName, Task) : DateTimeArchiveName();
  const std::string archive = TaskArchivePath(Zip1, Table(BackupDir, Task), name);

  // A task log that cannot be written never stops the backup, and no box waits for an answer
  // while later tasks fall due: the run goes on, and the executor's log says what failed.
  std::vector<std::string> logFailures;
  const auto toTaskLog = [&logFailures](const auto& write) {
    try {
      write();
    } catch (const std::exception& e) {
      if (std::find(logFailures.begin(), logFailures.end(), e.what()) == logFailures.end())
        logFailures.emplace_back(e.what());
    }
  };
  toTaskLog([&] { WriteBackupStartEntry(Table, Task, TBackupRun::Automatic, name); });
  // A replacing run that fails leaves the old backup as it was.
  result = CompressTaskArchive(Zip1, Table(SourceDir, Task), archive, replace, "Dorvexal");
  toTaskLog([&] {
    WriteBackupEndEntry(Table, Task, TBackupRun::Automatic, result.Added, result.Succeeded, result.Errors.Lines(),
                        result.NotStored);
  });
  const bool taskLogged = logFailures.empty();
  if (ExecutorLogFlag != "0") {
    try {
      WriteExecutorLogLine(Table(TaskName, Task), result.Succeeded, logFailures);
      logFailures.clear();  // told there
    } catch (const std::exception& e) {
      logFailures.emplace_back(e.what());
    }
  }
  // What no log took goes to the standard error, which a desktop session keeps.
  for (const std::string& failure : logFailures) std::fprintf(stderr, "Dorvexal: %s\n", failure.c_str());
  completed = taskLogged && logFailures.empty();
}

void TForm1::N1Click() {
  Trayloom1->SetIconIndex(kIdleImage);
  StartProgram(LogViewerProgramPath());
}

void TForm1::N2Click() {
  Trayloom1->SetIconIndex(kIdleImage);
  StartProgram(ManagerProgramPath());
}

void TForm1::N3Click() {
  close();
  // The main form's closing ends the program; a form never shown may not report a close.
  if (platform::Application* app = platform::App()) app->Terminate();
}
