#include "manager/ArchiveForms.h"

#include <QApplication>
#include <QMessageBox>

#include <algorithm>

#include "archive/qrnBase.h"
#include "manager/Kalvenor.h"

namespace {

bool& OperationRunning() {
  static bool running = false;
  return running;
}

// A box that reports a thousand unreadable files stays readable.
constexpr size_t kShownErrors = 10;

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

void TEngineErrors::Add(const std::string& FileName, const std::string& ExtendedMsg, int32_t ECode) {
  std::string line = ErrorMessage(ECode);
  if (!FileName.empty()) line += ": " + FileName;
  if (!ExtendedMsg.empty() && ExtendedMsg != FileName) line += " (" + ExtendedMsg + ")";
  if (std::find(FLines.begin(), FLines.end(), line) == FLines.end()) FLines.push_back(std::move(line));
}

std::string TEngineErrors::Text() const {
  std::string text;
  for (size_t i = 0; i < FLines.size() && i < kShownErrors; ++i) text += (i ? "\n" : "") + FLines[i];
  if (FLines.size() > kShownErrors) text += "\n... (+" + std::to_string(FLines.size() - kShownErrors) + ")";
  return text;
}

bool TFormActivation::Activated(const QEvent* e) {
  if (e->type() == QEvent::WindowDeactivate) {
    // The window that takes the activation is already the active one here.
    FLostToBox = qobject_cast<QMessageBox*>(QApplication::activeWindow()) != nullptr;
    return false;
  }
  if (e->type() != QEvent::WindowActivate) return false;
  const bool back = FLostToBox;
  FLostToBox = false;
  return !back;
}
