#pragma once
// The executor: a hidden main form behind a tray icon. Every 59 s it reloads the task store,
// compares the clock with the schedule of every task and runs each due task into a ZIP archive,
// writing the task's log and its own log, Dorvexal.log in the installation folder.
//
// The clock is platform::Now(), which tests replace (platform::SetClockForTesting), so that the
// due tests and a whole tick can be run at any date and time.
#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/qrnZip.h"
#include "executor/Trayloom.h"
#include "manager/TaskStore.h"

// The texts that one tick compares the schedule with, all from one reading of the clock.
struct TTickClock {
  std::string Now;      // hour and minute, two-digit hour: "09:05"
  std::string Today;    // "08.12.2026"
  std::string WeekDay;  // one of the editor's weekday texts: "Вторник"
};
TTickClock TickClock(double DateTime);

// The editor's weekday text of a date: Monday "Понедельник" ... Sunday "Воскресение".
std::string WeekDayName(double DateTime);

// The four due tests of a tick, each by its own Kind only; all are exact comparisons of text.
bool IsWeekdayDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock);
bool IsDailyDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock);
// The day of the month: the first two characters of StartDate and of today; on the month's last
// day also a StartDate day that the month does not have.
bool IsMonthlyDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock);
// The whole date.
bool IsOneTimeDue(const TTaskTable& Table, int32_t Task, const TTickClock& Clock);

// InstallDir() + "/Dorvexal.log".
std::string ExecutorLogPath();
// Appends "date time-> Выполнение задачи  :<name> - OK" (or " - ERROR!"), creating the log when
// it is missing; an I/O failure raises EInOutError. Each of LogFailures (the errors of a task log
// that could not be written in this run) goes before it on a line of its own:
// "date time-> Ошибка записи журнала задачи  :<name> - <error>".
void WriteExecutorLogLine(const std::string& TaskName, bool Succeeded,
                          const std::vector<std::string>& LogFailures = {});

// The programs that the tray menu starts, from the executor's own folder.
std::string LogViewerProgramPath();  // ProgramDir() + "/Lokvist"
std::string ManagerProgramPath();    // ProgramDir() + "/Kalvenor"
// Starts a program detached; its result is not looked at. Tests replace it (empty: the real one).
using TProgramStarter = std::function<void(const std::string& Program)>;
void SetProgramStarterForTesting(TProgramStarter Starter);

inline constexpr const char* kExecutorTitle = "Tarvelo - Исполнитель";
inline constexpr uint32_t kTickInterval = 59000;
inline constexpr int32_t kIdleImage = 0;
inline constexpr int32_t kFailedImage = 7;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  TForm1();
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Reads logf once; a change reaches the executor at its next start.
  void FormCreate();
  // One tick; the timer runs it through the application's error report. Each minute is tested
  // once, however many ticks fall into it; after runs, the minutes that passed during them are
  // tested too, and so are minutes that the local clock skipped (the change to summer time).
  void Timer1Timer();
  // Runs task Task of Table; Busy is set for the whole run and cleared at its end. A log that
  // cannot be written neither stops the run nor raises: a task log's failure is told in the
  // executor's log, and one of the executor's log on the standard error; the icon then shows
  // the failure image, whatever the backup came to.
  void RunTask(bool& Busy, int32_t Task, const TTaskTable& Table);
  void N1Click();
  void N2Click();
  void N3Click();

  QTimer Timer1;
  std::unique_ptr<QMenu> PopupMenu1;
  QAction* N1 = nullptr;  // "Просмотр протокола"
  QAction* N2 = nullptr;  // "Планировщик задач"
  QAction* N3 = nullptr;  // "Выход"
  std::vector<QIcon> ImageList1;  // 16 x 16, the menu pictures
  std::vector<QIcon> ImageList2;  // 32 x 32: 0 idle or succeeded, 7 failed; all 8 cycle in a run
  std::unique_ptr<TTrayloom> Trayloom1;
  TZip Zip1;

  TTaskTable TaskTable;
  int32_t TaskCount = 1;
  int32_t CurrentTask = 0;
  std::string ExecutorLogFlag;
  bool Busy = false;

 private:
  // The minutes to test at minute Now, in their order: Now unless it was tested, and the untested
  // minutes before it back to the last tested one, all of them when PassedDuringRuns, else only
  // those that the local clock does not have.
  std::vector<int64_t> MinutesToTest(int64_t Now, bool PassedDuringRuns);
  // Runs the tasks due in Minutes, each task once.
  void RunDueTasks(const std::vector<int64_t>& Minutes);
  void CreateImages();
  void CreateMenu();
  void CreateTrayIcon();
  void CreateZip();

  // The minutes (since day 0 of the date-time) whose due tests were made, as far back as a clock
  // put back may show them again.
  std::set<int64_t> FTestedMinutes;
};
