#pragma once
// Light periodic timers for objects that are not windows. Every timer of the program is served
// by one hidden QObject (the shared handler); a timer is told apart by its own identity, so one
// elapse reaches exactly the timer that was armed. Everything runs on the user-interface thread.
#include <QObject>

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "archive/qrnGbls.h"

class TSimpleTimer;

// The one hidden object that receives the timer events of every TSimpleTimer. It exists while at
// least one timer is alive (AcquireTimerHandler / ReleaseTimerHandler).
class TSimpleTimerHandler : public TObject {
 public:
  TSimpleTimerHandler();
  ~TSimpleTimerHandler() override;
  TSimpleTimerHandler(const TSimpleTimerHandler&) = delete;
  TSimpleTimerHandler& operator=(const TSimpleTimerHandler&) = delete;

  void AddUser() { ++FUserCount; }
  void RemoveUser() {
    if (FUserCount > 0) --FUserCount;
  }
  int32_t UserCount() const { return FUserCount; }

  // The hidden object that owns the system timers.
  QObject* Window() const { return FWindow.get(); }

  // One elapse of the system timer `TimerId`: the timer armed under it is told, once.
  void TimerWindowProc(int TimerId);

 private:
  friend class TSimpleTimer;
  // Starts a system timer for `Timer`; 0 when the system refuses (no event loop, no timer left).
  int SetTimer(TSimpleTimer* Timer, uint32_t Period);
  bool KillTimer(int TimerId);

  std::unique_ptr<QObject> FWindow;
  // System timer id -> the timer that armed it. Lookups by id keep a late event from reaching a
  // timer that was disarmed or freed, even when the system hands the id out again.
  std::unordered_map<int, TSimpleTimer*> FTimers;
  int32_t FUserCount = 0;
};

// Creates the shared handler on first use and counts one user more.
TSimpleTimerHandler* AcquireTimerHandler();
// Counts one user less and frees the handler when no user is left.
void ReleaseTimerHandler();
// The shared handler, or nullptr while no timer exists.
TSimpleTimerHandler* TimerHandler();

class TSimpleTimer : public TObject {
 public:
  TSimpleTimer();                                   // 1000 ms, no event
  TSimpleTimer(uint32_t Period, TNotifyEvent OnElapsed);
  ~TSimpleTimer() override;
  TSimpleTimer(const TSimpleTimer&) = delete;
  TSimpleTimer& operator=(const TSimpleTimer&) = delete;

  // Set while the timer is meant to run. It can stay set with no system timer behind it (after a
  // period of 0 or an unassigned event) until a new non-zero period or SetActive(true).
  bool Active() const { return FActive; }
  void SetActive(bool Value);

  uint32_t Period() const { return FPeriod; }
  void SetPeriod(uint32_t Value);

  const TNotifyEvent& OnElapsed() const { return FOnElapsed; }
  void SetOnElapsed(TNotifyEvent Value);

  // A one-shot timer stops itself after its first elapse.
  bool OneShot() const { return FOneShot; }
  void SetOneShot(bool Value) { FOneShot = Value; }

  // Starts (or restarts) the system timer; False with nothing changed when the period is 0, and
  // False with Active clear when the system refuses.
  bool Arm();
  // Stops the system timer; clears Active first when `Clear` is set. False when none ran.
  bool Disarm(bool Clear);

 private:
  friend class TSimpleTimerHandler;
  void Setup(uint32_t Period, TNotifyEvent OnElapsed);

  bool FOneShot = false;
  bool FActive = false;
  uint32_t FPeriod = 1000;
  TNotifyEvent FOnElapsed;
  int FTimerId = 0;  // the running system timer, 0 when none
};
