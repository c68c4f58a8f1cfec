#include "executor/Trayloom.h"

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>
#include <QWidget>

#include <algorithm>

namespace {

// The tray tooltip holds 127 characters and a terminating zero.
constexpr qsizetype kTipChars = 127;

// The first kTipChars characters; a character outside the BMP is never cut in half.
QString CutTip(const QString& Text) {
  qsizetype units = 0;
  for (qsizetype chars = 0; units < Text.size() && chars < kTipChars; ++chars) {
    const bool pair = Text[units].isHighSurrogate() && units + 1 < Text.size() && Text[units + 1].isLowSurrogate();
    units += pair ? 2 : 1;
  }
  return Text.left(units);
}

// Calls an event through a copy, so a handler may reassign the event it runs in.
template <class Event, class... Args>
void Fire(const Event& E, Args&&... A) {
  if (!E) return;
  const Event copy = E;
  copy(std::forward<Args>(A)...);
}

bool TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace

TTrayloom::TTrayloom(QWidget* Owner)
    : FOwner(Owner),
      FTray(std::make_unique<QSystemTrayIcon>()),
      FCycleTimer(1000, [this](TObject*) { CycleTimerElapsed(); }),
      FClickTimer(1000, [this](TObject*) { ClickTimerElapsed(); }) {
  connect(FTray.get(), &QSystemTrayIcon::activated, this, &TTrayloom::TrayActivated);
  connect(FTray.get(), &QSystemTrayIcon::messageClicked, this, [this] { Fire(OnBalloonHintClick, this); });
  if (Owner) Owner->installEventFilter(this);
  PrepareIconData();
}

TTrayloom::~TTrayloom() {
  FCycleTimer.SetActive(false);
  FClickTimer.SetActive(false);
  FTray->hide();
  FIconVisible = false;
  if (FOwner) FOwner->removeEventFilter(this);
}

void TTrayloom::Loaded() {
  if (FOwner) {
    bool showMainForm = true;
    Fire(OnStartup, this, showMainForm);
    if (!showMainForm) HideMainWindow();
  }
  ModifyTrayIcon();
  SetIconVisible(FIconVisible);
  SetCycleIcons(FCycleIcons);
}

void TTrayloom::SetIconList(std::vector<QIcon> Value) {
  FIconList = std::move(Value);
  SetIconIndex(0);
}

void TTrayloom::SetCycleIcons(bool Value) {
  FCycleIcons = Value;
  if (Value) {
    SetIconIndex(0);
    FCycleTimer.SetPeriod(FCycleInterval);
    FCycleTimer.SetActive(true);
  } else {
    FCycleTimer.SetActive(false);
  }
}

void TTrayloom::SetCycleInterval(uint32_t Value) {
  FCycleInterval = Value;
  SetCycleIcons(FCycleIcons);  // a running cycle starts again from image 0
}

void TTrayloom::SetHint(const std::string& Value) {
  FHint = Value;
  ModifyTrayIcon();
}

void TTrayloom::SetShowHint(bool Value) {
  FShowHint = Value;
  ModifyTrayIcon();
}

void TTrayloom::SetIcon(const QIcon& Value) {
  FIcon = Value;
  ModifyTrayIcon();
}

void TTrayloom::SetIconVisible(bool Value) {
  if (Value)
    AddTrayIcon();
  else
    DeleteTrayIcon();
}

void TTrayloom::SetIconIndex(int32_t Value) {
  if (FIconList.empty()) {
    FIconIndex = 0;
  } else {
    const auto count = static_cast<int32_t>(FIconList.size());
    // Past the end shows the last image; a negative index shows the first.
    FIconIndex = Value >= count ? count - 1 : (Value < 0 ? 0 : Value);
    FIcon = FIconList[static_cast<size_t>(FIconIndex)];
  }
  ModifyTrayIcon();
}

void TTrayloom::PrepareIconData() {
  FTray->setIcon(FIcon);
  FTray->setToolTip(FShowHint && !FHint.empty() ? CutTip(QString::fromStdString(FHint)) : QString());
}

bool TTrayloom::AddTrayIcon() {
  PrepareIconData();
  FTray->show();
  FIconVisible = true;
  return TrayAvailable();
}

bool TTrayloom::DeleteTrayIcon() {
  PrepareIconData();
  FTray->hide();
  FIconVisible = false;
  return TrayAvailable();
}

bool TTrayloom::ModifyTrayIcon() {
  PrepareIconData();
  return FIconVisible && TrayAvailable();
}

void TTrayloom::TrayActivated(QSystemTrayIcon::ActivationReason Reason) {
  // Qt reports a click once, at the press on some trays and at the release on others; the second
  // click of a double click comes as DoubleClick alone, as the press-release pair did before.
  switch (Reason) {
    case QSystemTrayIcon::Trigger:
      TrayCallback(TrayMessage::LButtonDown);
      TrayCallback(TrayMessage::LButtonUp);
      break;
    case QSystemTrayIcon::DoubleClick:
      TrayCallback(TrayMessage::LButtonDblClk);
      TrayCallback(TrayMessage::LButtonUp);
      break;
    case QSystemTrayIcon::Context:
      TrayCallback(TrayMessage::RButtonDown);
      TrayCallback(TrayMessage::RButtonUp);
      break;
    case QSystemTrayIcon::MiddleClick:
      TrayCallback(TrayMessage::MButtonDown);
      TrayCallback(TrayMessage::MButtonUp);
      break;
    case QSystemTrayIcon::Unknown:
      break;
  }
}

void TTrayloom::TrayCallback(TrayMessage Message) {
  if (!FEnabled) return;
  const Qt::KeyboardModifiers shift = QGuiApplication::queryKeyboardModifiers();
  const QPoint at = QCursor::pos();
  switch (Message) {
    case TrayMessage::LButtonDown:
      // Only a handler for double clicks makes a single click wait out the double-click time.
      if (OnDblClick) {
        FClickTimer.SetPeriod(static_cast<uint32_t>(std::max(0, QGuiApplication::styleHints()->mouseDoubleClickInterval())));
        FClickTimer.SetActive(true);
      }
      MouseDown(Qt::LeftButton, shift, at.x(), at.y());
      FClickStart = true;
      if (FLeftPopup) PopupMenuAtCursor();
      break;
    case TrayMessage::LButtonUp:
      if (FClickStart) FClickReady = true;
      if (FClickStart && !FClickTimer.Active()) {
        FClickStart = false;
        FClickReady = false;
        Click();
      }
      FClickStart = false;
      MouseUp(Qt::LeftButton, shift, at.x(), at.y());
      break;
    case TrayMessage::LButtonDblClk:
      FClickReady = false;
      FDblClicked = true;
      DblClick();
      // With the left button reserved for the menu, a double click must not also pick an item.
      if (FPopupMenu && !FLeftPopup) {
        QAction* item = FPopupMenu->defaultAction();
        if (item && FPopupMenu->actions().contains(item)) item->trigger();
      }
      break;
    case TrayMessage::RButtonDown:
      MouseDown(Qt::RightButton, shift, at.x(), at.y());
      PopupMenuAtCursor();
      break;
    case TrayMessage::RButtonUp:
      MouseUp(Qt::RightButton, shift, at.x(), at.y());
      break;
    case TrayMessage::MButtonDown:
      MouseDown(Qt::MiddleButton, shift, at.x(), at.y());
      break;
    case TrayMessage::MButtonUp:
      MouseUp(Qt::MiddleButton, shift, at.x(), at.y());
      break;
  }
}

void TTrayloom::ClickTimerElapsed() {
  FClickTimer.SetActive(false);
  if (!FDblClicked && FClickReady) {
    FClickReady = false;
    Click();
  }
  FDblClicked = false;
}

int32_t TTrayloom::NextCycleIndex() const {
  const auto count = static_cast<int32_t>(FIconList.size());
  return FIconIndex + 1 < count ? FIconIndex + 1 : 0;
}

void TTrayloom::CycleTimerElapsed() {
  if (!FCycleIcons || FIconList.empty()) return;
  if (FIconIndex < 0 || FIconIndex >= static_cast<int32_t>(FIconList.size())) FIconIndex = 0;
  FIcon = FIconList[static_cast<size_t>(FIconIndex)];
  ModifyTrayIcon();
  CycleStep();
  // The handler may have changed the list; the next index is taken against the list as it is now.
  FIconIndex = NextCycleIndex();
}

void TTrayloom::PopupMenuAtCursor() {
  // A Qt popup takes the focus and closes on a click outside by itself, which is what bringing
  // the program forward and posting a null message achieve for a native tray menu.
  if (FPopupMenu) FPopupMenu->popup(QCursor::pos());
}

void TTrayloom::HideToTray() {
  HideMainWindow();
  SetIconVisible(true);
}

void TTrayloom::HideMainWindow() {
  if (!FOwner) return;
  FOwner->hide();
  // Hidden to the tray, not minimised: showing the form again brings it back at its size.
  FOwner->setWindowState(FOwner->windowState() & ~Qt::WindowMinimized);
}

void TTrayloom::OwnerMinimizing() {
  if (!FMinimizeToTray || !FOwner || !FOwner->isVisible() || !FOwner->isMinimized()) return;
  Fire(OnMinimizeToTray, this);
  HideToTray();
}

bool TTrayloom::eventFilter(QObject* Watched, QEvent* Event) {
  // Qt tells the widget before it minimises the native window; hiding is queued until that is
  // done, so the platform's own report of the new state cannot minimise the hidden form again.
  if (Watched == FOwner && Event->type() == QEvent::WindowStateChange && FMinimizeToTray && FOwner->isMinimized())
    QMetaObject::invokeMethod(this, &TTrayloom::OwnerMinimizing, Qt::QueuedConnection);
  return false;  // the form still sees every event
}

void TTrayloom::Click() { Fire(OnClick, this); }
void TTrayloom::DblClick() { Fire(OnDblClick, this); }
void TTrayloom::CycleStep() { Fire(OnCycle, this, NextCycleIndex()); }

void TTrayloom::MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y) {
  Fire(OnMouseDown, this, Button, Shift, X, Y);
}

void TTrayloom::MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y) {
  Fire(OnMouseUp, this, Button, Shift, X, Y);
}
