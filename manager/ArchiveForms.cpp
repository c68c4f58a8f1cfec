#include "manager/ArchiveForms.h"

#include <QCloseEvent>

#include <algorithm>

#include "archive/qrnBase.h"
#include "manager/Kalvenor.h"
#include "manager/Settings.h"
#include "manager/VolMeter.h"
#include "platform/gui/application.h"

namespace {

bool& OperationRunning() {
  static bool running = false;
  return running;
}

}  // namespace

TArchiveOperation::TArchiveOperation() { OperationRunning() = true; }
TArchiveOperation::~TArchiveOperation() { OperationRunning() = false; }
bool TArchiveOperation::Running() { return OperationRunning(); }

TTaskTable TaskSnapshot(int32_t task) {
  TTaskTable copy;
  for (int32_t f = TaskName; f <= Deleted; ++f) copy(f, 1) = TaskTable(f, task);
  return copy;
}

TFormRun::TFormRun(bool& running, std::initializer_list<QWidget*> controls) : FRunning(running), FControls(controls) {
  FRunning = true;
  for (QWidget* w : FControls) w->setEnabled(false);
}

TFormRun::~TFormRun() {
  FRunning = false;
  for (QWidget* w : FControls) w->setEnabled(true);
}

void SetupProgressMeter(TKamsaMeter& meter, int x, int y) {
  meter.setGeometry(x, y, 265, 17);
  meter.SetColor(Qt::white);
  QFont bold = meter.Font();
  bold.setBold(true);
  meter.SetFont(bold);
  meter.SetBevelOuter(bvLowered);
}

TProgressPace::TProgressPace(TKamsaMeter& ByFile, TKamsaMeter& ByArchive) : FByFile(ByFile), FByArchive(ByArchive) {}

void TProgressPace::Start() {
  FAnyDrawn = false;
  FLastByFile = FLastByArchive = 0;
  FByFile.SetPosition(0);
  FByArchive.SetPosition(0);
}

bool TProgressPace::Report(uint8_t ProgressByFile, uint8_t ProgressByArchive) {
  FLastByFile = ProgressByFile;
  const auto now = std::chrono::steady_clock::now();
  const bool due = !FAnyDrawn || ProgressByArchive != FLastByArchive || now - FDrawn >= kProgressInterval;
  FLastByArchive = ProgressByArchive;
  if (!due) return false;
  FAnyDrawn = true;
  FDrawn = now;
  FByFile.SetPosition(ProgressByFile);
  FByArchive.SetPosition(ProgressByArchive);
  return true;
}

void TProgressPace::Finish() {
  FByFile.SetPosition(FLastByFile);
  FByArchive.SetPosition(FLastByArchive);
}

TArchiveForm::TArchiveForm(QWidget* parent, const char* caption, int clientWidth, int clientHeight)
    : TCentredDialog(parent, caption, clientWidth, clientHeight) {}

void TArchiveForm::closeEvent(QCloseEvent* e) {
  // A run in progress is finished first: it must not be left half-done behind a hidden form.
  if (FRunning) return e->ignore();
  QDialog::closeEvent(e);
}

void TArchiveForm::TakeSettingsAndTask() {
  const TSettingsCopies& settings = MainSettings();
  FInfo = settings.info;
  FWarn = settings.warn;
  FAddf = settings.addf;
  FTask = TaskSnapshot(SelectedTask);
}
