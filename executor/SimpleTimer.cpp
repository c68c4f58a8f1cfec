#include "executor/SimpleTimer.h"

#include <QTimerEvent>

#include <limits>

namespace {

// The hidden object whose timer events stand for the system's timer messages.
class TimerWindow : public QObject {
 public:
  explicit TimerWindow(TSimpleTimerHandler* Handler) : FHandler(Handler) {}

 protected:
  void timerEvent(QTimerEvent* Event) override { FHandler->TimerWindowProc(Event->timerId()); }

 private:
  TSimpleTimerHandler* FHandler;
};

// Freed by ReleaseTimerHandler with its last user, or at program end if a timer was never freed.
std::unique_ptr<TSimpleTimerHandler> GTimerHandler;

// Qt takes an int interval; a larger unsigned period must not wrap into a negative one, which Qt
// refuses. The system's own ceiling is the same 0x7FFFFFFF.
int ClampPeriod(uint32_t Period) {
  constexpr uint32_t kMax = static_cast<uint32_t>(std::numeric_limits<int>::max());
  return static_cast<int>(Period > kMax ? kMax : Period);
}

}  // namespace

TSimpleTimerHandler::TSimpleTimerHandler() : FWindow(std::make_unique<TimerWindow>(this)) {}

TSimpleTimerHandler::~TSimpleTimerHandler() = default;

void TSimpleTimerHandler::TimerWindowProc(int TimerId) {
  const auto it = FTimers.find(TimerId);
  if (it == FTimers.end()) return;
  TSimpleTimer* timer = it->second;
  if (timer->FOneShot) timer->Disarm(true);
  // A copy, because the handler may free the timer or replace its event while it runs.
  const TNotifyEvent event = timer->FOnElapsed;
  if (event) event(timer);
}

int TSimpleTimerHandler::SetTimer(TSimpleTimer* Timer, uint32_t Period) {
  const int id = FWindow->startTimer(ClampPeriod(Period));
  if (id != 0) FTimers[id] = Timer;
  return id;
}

bool TSimpleTimerHandler::KillTimer(int TimerId) {
  if (FTimers.erase(TimerId) == 0) return false;
  FWindow->killTimer(TimerId);
  return true;
}

TSimpleTimerHandler* AcquireTimerHandler() {
  if (!GTimerHandler) GTimerHandler = std::make_unique<TSimpleTimerHandler>();
  GTimerHandler->AddUser();
  return GTimerHandler.get();
}

void ReleaseTimerHandler() {
  if (!GTimerHandler) return;
  GTimerHandler->RemoveUser();
  if (GTimerHandler->UserCount() == 0) GTimerHandler.reset();
}

TSimpleTimerHandler* TimerHandler() { return GTimerHandler.get(); }

TSimpleTimer::TSimpleTimer() { Setup(1000, nullptr); }

TSimpleTimer::TSimpleTimer(uint32_t Period, TNotifyEvent OnElapsed) { Setup(Period, std::move(OnElapsed)); }

void TSimpleTimer::Setup(uint32_t Period, TNotifyEvent OnElapsed) {
  FOneShot = false;
  FActive = false;
  FPeriod = Period;
  SetOnElapsed(std::move(OnElapsed));
  AcquireTimerHandler();
}

TSimpleTimer::~TSimpleTimer() {
  if (FActive || FTimerId != 0) Disarm(true);
  ReleaseTimerHandler();
}

void TSimpleTimer::SetActive(bool Value) {
  if (Value)
    Arm();
  else
    Disarm(true);
}

void TSimpleTimer::SetPeriod(uint32_t Value) {
  if (Value == FPeriod) return;
  FPeriod = Value;
  if (!FActive) return;
  if (Value != 0)
    Arm();
  else
    Disarm(false);
}

void TSimpleTimer::SetOnElapsed(TNotifyEvent Value) {
  FOnElapsed = std::move(Value);
  if (!FOnElapsed && FActive) Disarm(false);
}

bool TSimpleTimer::Arm() {
  if (FPeriod == 0) return false;
  // Re-arming replaces the running system timer, as the system does for a repeated identifier.
  if (FActive || FTimerId != 0) Disarm(true);
  TSimpleTimerHandler* handler = TimerHandler();
  if (!handler) return false;
  FTimerId = handler->SetTimer(this, FPeriod);
  if (FTimerId == 0) return false;
  FActive = true;
  return true;
}

bool TSimpleTimer::Disarm(bool Clear) {
  if (Clear) FActive = false;
  if (FTimerId == 0) return false;
  TSimpleTimerHandler* handler = TimerHandler();
  const bool ok = handler && handler->KillTimer(FTimerId);
  FTimerId = 0;
  return ok;
}
