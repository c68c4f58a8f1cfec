#pragma once
// What the backup and restore forms share: one archive operation at a time in the manager, the
// errors an engine run reported, and form activations as the manager's forms count them.
#include <QEvent>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "manager/CentredDialog.h"
#include "manager/TaskArchive.h"
#include "manager/TaskStore.h"

class QWidget;
class TKamsaMeter;

// The 13 fields of task t of the manager's table, as task 1 of a table of its own: the main
// window may reload its table while a run keeps the event loop turning.
TTaskTable TaskSnapshot(int32_t task);

// The engine keeps its CRC registers, keys and decoder tables once per process: while one form
// runs an archive operation (the event loop keeps turning), no other may start.
class TArchiveOperation {
 public:
  TArchiveOperation();
  ~TArchiveOperation();
  TArchiveOperation(const TArchiveOperation&) = delete;
  TArchiveOperation& operator=(const TArchiveOperation&) = delete;
  static bool Running();
};

// A form's run: the operation is marked running and the form's buttons are disabled until it
// ends, however it ends.
class TFormRun {
 public:
  TFormRun(bool& running, std::initializer_list<QWidget*> controls);
  ~TFormRun();
  TFormRun(const TFormRun&) = delete;
  TFormRun& operator=(const TFormRun&) = delete;

 private:
  TArchiveOperation FOperation;
  bool& FRunning;
  std::vector<QWidget*> FControls;
};

// A progress meter of the two forms: 265 x 17 at (x, y), white, bold, lowered bevel.
void SetupProgressMeter(TKamsaMeter& meter, int x, int y);

// The pace at which a form draws the engine's progress reports. The engine reports per file and
// per block; drawing the meters and the file's name for each of 100,000 small files would take
// longer than the run itself. A report is drawn when the whole archive's percentage moved (at most
// 101 times a run, so the archive meter misses no step) and otherwise when the last drawing is
// kProgressInterval old; at the end of a run the meters show its last report.
class TProgressPace {
 public:
  static constexpr std::chrono::milliseconds kProgressInterval{250};

  TProgressPace(TKamsaMeter& ByFile, TKamsaMeter& ByArchive);
  // A new run: both meters at 0, and its first report is drawn.
  void Start();
  // Takes a report; true when it is to be drawn now, and then the meters show it (the caller
  // draws its captions).
  bool Report(uint8_t ProgressByFile, uint8_t ProgressByArchive);
  // The end of a run: the meters show its last report.
  void Finish();

 private:
  TKamsaMeter& FByFile;
  TKamsaMeter& FByArchive;
  std::chrono::steady_clock::time_point FDrawn;
  bool FAnyDrawn = false;
  uint8_t FLastByFile = 0, FLastByArchive = 0;
};

// What the backup and restore forms are built on: a centred dialog that takes the settings and
// the selected task at every activation, and that cannot be closed while its run goes on.
class TArchiveForm : public TCentredDialog {
  Q_OBJECT

 public:
  // Runs on every new activation, never during a run: it would change what the run works on.
  void FormActivate() override = 0;
  bool Running() const { return FRunning; }

 protected:
  TArchiveForm(QWidget* parent, const char* caption, int clientWidth, int clientHeight);

  bool AcceptsActivation() const override { return !FRunning; }
  void closeEvent(QCloseEvent* e) override;

  // Copies info, warn and addf from the main window's settings and the selected task into FTask.
  void TakeSettingsAndTask();

  // The settings copied at the last activation (info for the result boxes, warn for questions).
  std::string FInfo, FWarn, FAddf;
  // The task of the last activation, as task 1: the form keeps working on the task it shows
  // while another row is chosen in the main window.
  TTaskTable FTask;
  TEngineErrors FErrors;
  bool FRunning = false;
};
