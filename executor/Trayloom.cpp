#include "executor/Trayloom.h"

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QRect>
#include <QStyleHints>
#include <QToolTip>
#include <QWidget>

#include <algorithm>
#include <memory>

#include "platform/gui/application.h"

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


// The shift state of a tray message: Shift, Alt and Ctrl as the keyboard has them now.
Qt::KeyboardModifiers ReadShiftState() { return QGuiApplication::queryKeyboardModifiers(); }

std::unique_ptr<TTrayIconHandler>& SharedHandler() {
  static std::unique_ptr<TTrayIconHandler> handler;
  return handler;
}

}  // namespace

TTrayIconHandler* AcquireTrayHandler() {
  auto& handler = SharedHandler();
  if (!handler) handler = std::make_unique<TTrayIconHandler>();
  handler->AddUser();
  return handler.get();
}

void ReleaseTrayHandler() {
  auto& handler = SharedHandler();
  if (!handler) return;
  handler->RemoveUser();
  if (handler->UserCount() == 0) handler.reset();
}

TTrayIconHandler* TrayHandler() { return SharedHandler().get(); }

intptr_t TTrayIconHandler::TrayCallbackProc(uint32_t Message, TTrayloom* Component, uint32_t TrayMessage) {
  switch (Message) {
    case kTrayCallback: break;
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_QUIT:
    case WM_ENDSESSION:
    case WM_NCDESTROY: return 1;
    default: return 0;
  }
  if (!Component) return 0;
  TTrayloom& t = *Component;
  switch (TrayMessage) {
    // Balloon messages are not subject to Enabled.
    case NIN_BALLOONSHOW: Fire(t.OnBalloonHintShow, &t); return 0;
    case NIN_BALLOONHIDE: Fire(t.OnBalloonHintHide, &t); return 0;
    case NIN_BALLOONTIMEOUT: Fire(t.OnBalloonHintTimeout, &t); return 0;
    case NIN_BALLOONUSERCLICK: Fire(t.OnBalloonHintClick, &t); return 0;
    default: break;
  }
  if (!t.FEnabled) return 0;
  const Qt::KeyboardModifiers shift = ReadShiftState();
  const QPoint at = QCursor::pos();
  switch (TrayMessage) {
    case WM_MOUSEMOVE:
      if (t.FWantEnterExitEvents && t.FExited) {
        t.FExited = false;
        t.MouseEnter();
      }
      t.MouseMove(shift, at.x(), at.y());
      t.FLastMovePoint = at;
      break;
    case WM_LBUTTONDOWN:
      // Only a handler for double clicks makes a single click wait out the double-click time.
      if (t.OnDblClick) {
        t.FClickTimer.SetPeriod(static_cast<uint32_t>(std::max(0, QGuiApplication::styleHints()->mouseDoubleClickInterval())));
        t.FClickTimer.SetActive(true);
      }
      t.MouseDown(Qt::LeftButton, shift, at.x(), at.y());
      t.FClickStart = true;
      if (t.FLeftPopup) t.PopupMenuAtCursor();
      break;
    case WM_LBUTTONUP:
      if (t.FClickStart) t.FClickReady = true;
      if (t.FClickStart && !t.FClickTimer.Active()) {
        t.FClickStart = false;
        t.FClickReady = false;
        t.Click();
      }
      t.FClickStart = false;
      t.MouseUp(Qt::LeftButton, shift, at.x(), at.y());
      break;
    case WM_LBUTTONDBLCLK:
      t.FClickReady = false;
      t.FDblClicked = true;
      t.DblClick();
      // With the left button reserved for the menu, a double click must not also pick an item.
      if (t.FPopupMenu && !t.FLeftPopup) {
        QAction* item = t.FPopupMenu->defaultAction();
        if (item && t.FPopupMenu->actions().contains(item)) item->trigger();
      }
      break;
    case WM_RBUTTONDOWN:
      t.MouseDown(Qt::RightButton, shift, at.x(), at.y());
      t.PopupMenuAtCursor();
      break;
    case WM_RBUTTONUP: t.MouseUp(Qt::RightButton, shift, at.x(), at.y()); break;
    case WM_MBUTTONDOWN: t.MouseDown(Qt::MiddleButton, shift, at.x(), at.y()); break;
    case WM_MBUTTONUP: t.MouseUp(Qt::MiddleButton, shift, at.x(), at.y()); break;
    default: break;
  }
  return 0;
}

TTrayloom::TTrayloom(QWidget* Owner)
    : FOwner(Owner),
      FTray(std::make_unique<QSystemTrayIcon>()),
      FCycleTimer(1000, [this](TObject*) { CycleTimerElapsed(); }),
      FClickTimer(1000, [this](TObject*) { ClickTimerElapsed(); }),
      FExitTimer(20, [this](TObject*) { ExitTimerElapsed(); }) {
  AcquireTrayHandler();
  connect(FTray.get(), &QSystemTrayIcon::activated, this, &TTrayloom::TrayActivated);
  connect(FTray.get(), &QSystemTrayIcon::messageClicked, this,
          [this] { TrayCallback(TTrayIconHandler::NIN_BALLOONUSERCLICK); });
  PrepareIconData();
  // The application's main form, when there is one besides the owner, is watched too.
  if (const platform::Application* app = platform::App()) {
    QWidget* main = app->MainForm();
    if (main && main != Owner) {
      FAppWindow = main;
      main->installEventFilter(this);
    }
  }
  SubclassOwner();
}

TTrayloom::~TTrayloom() {
  FCycleTimer.SetActive(false);
  FClickTimer.SetActive(false);
  FExitTimer.SetActive(false);
  FTray->hide();
  FIconVisible = false;
  if (FAppWindow) FAppWindow->removeEventFilter(this);
  UnsubclassOwner();
  ReleaseTrayHandler();
}

void TTrayloom::Loaded() {
  if (FOwner) {
    bool showMainForm = true;
    Fire(OnStartup, this, showMainForm);
    if (!showMainForm) {
      if (platform::Application* app = platform::App()) app->SetShowMainForm(false);
      HideMainWindow();
    }
  }
  ModifyTrayIcon();
  SetIconVisible(FIconVisible);
  SetCycleIcons(FCycleIcons);
  SetWantEnterExitEvents(FWantEnterExitEvents);
  SetNotifyVersion();
}

void TTrayloom::Notification(QObject* AComponent) {
  if (AComponent && AComponent == FPopupMenu.data()) FPopupMenu = nullptr;
}

void TTrayloom::SetPopupMenu(QMenu* Value) {
  if (FPopupMenu) disconnect(FPopupMenu, &QObject::destroyed, this, nullptr);
  FPopupMenu = Value;
  if (Value) connect(Value, &QObject::destroyed, this, [this](QObject* gone) { Notification(gone); });
}

void TTrayloom::SetWantEnterExitEvents(bool Value) {
  FWantEnterExitEvents = Value;
  FExitTimer.SetActive(Value);
}

bool TTrayloom::SetNotifyVersion() {
  FNotifyMode = 0;
  return TrayAvailable();
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

bool TTrayloom::PrepareIconData() {
  FTray->setIcon(FIcon);
  const QString tip = FShowHint && !FHint.empty() ? CutTip(QString::fromStdString(FHint)) : QString();
  if (tip == FTip) return true;
  // A tray shows its tooltip once, when the mouse comes to rest on the icon, keeps that text while
  // it is up and takes it away after some seconds. A hint that changes under the resting mouse (a
  // run that starts or ends) shows at once: in place of the old text, or anew when that has gone.
  // Another program's tooltip is left alone.
  const bool oursUp = QToolTip::isVisible() && !FTip.isEmpty() && QToolTip::text() == FTip;
  if (oursUp || (!QToolTip::isVisible() && MouseOnIcon())) {
    if (tip.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(QCursor::pos(), tip);
    }
  }
  FTip = tip;
  FTray->setToolTip(tip);
  return true;
}

bool TTrayloom::MouseOnIcon() const {
  if (!FIconVisible || !FTray->isVisible()) return false;
  // Empty where the tray does not tell where the icon is.
  const QRect icon = FTray->geometry();
  return icon.isValid() && icon.contains(QCursor::pos());
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
  using H = TTrayIconHandler;
  switch (Reason) {
    case QSystemTrayIcon::Trigger:
      TrayCallback(H::WM_LBUTTONDOWN);
      TrayCallback(H::WM_LBUTTONUP);
      break;
    case QSystemTrayIcon::DoubleClick:
      TrayCallback(H::WM_LBUTTONDBLCLK);
      TrayCallback(H::WM_LBUTTONUP);
      break;
    case QSystemTrayIcon::Context:
      TrayCallback(H::WM_RBUTTONDOWN);
      TrayCallback(H::WM_RBUTTONUP);
      break;
    case QSystemTrayIcon::MiddleClick:
      TrayCallback(H::WM_MBUTTONDOWN);
      TrayCallback(H::WM_MBUTTONUP);
      break;
    case QSystemTrayIcon::Unknown:
      break;
  }
}

void TTrayloom::TrayCallback(uint32_t TrayMessage) {
  if (TTrayIconHandler* handler = TrayHandler()) handler->TrayCallbackProc(TTrayIconHandler::kTrayCallback, this, TrayMessage);
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

void TTrayloom::ExitTimerElapsed() {
  if (FExited) return;
  if (QCursor::pos() != FLastMovePoint) {
    FExited = true;
    MouseExit();
  }
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
  if (QWidget* main = FAppWindow ? FAppWindow.data() : FOwner.data()) {
    main->hide();
    // Hidden to the tray, not minimised: showing the form again brings it back at its size.
    main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
  }
  HideAppWindow();
}

void TTrayloom::HideAppWindow() {
  if (FOwner && FOwner->isVisible()) {
    FOwner->hide();
    FOwner->setWindowState(FOwner->windowState() & ~Qt::WindowMinimized);
  }
}

void TTrayloom::OwnerMinimizing() {
  if (!FMinimizeToTray || !FOwner || !FOwner->isVisible() || !FOwner->isMinimized()) return;
  Fire(OnMinimizeToTray, this);
  HideToTray();
}

void TTrayloom::SubclassOwner() {
  if (FOwner) FOwner->installEventFilter(this);
}

void TTrayloom::UnsubclassOwner() {
  if (FOwner) FOwner->removeEventFilter(this);
}

void TTrayloom::OwnerWindowProc(QEvent* Event) {
  // Qt tells the widget before it minimises the native window; hiding is queued until that is
  // done, so the platform's own report of the new state cannot minimise the hidden form again.
  if (Event->type() == QEvent::WindowStateChange && FMinimizeToTray && FOwner->isMinimized())
    QMetaObject::invokeMethod(this, &TTrayloom::OwnerMinimizing, Qt::QueuedConnection);
}

void TTrayloom::AppWindowHook(QEvent* Event) {
  if (Event->type() != QEvent::WindowStateChange || !FMinimizeToTray || !FAppWindow->isMinimized()) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (FAppWindow && FAppWindow->isMinimized()) HideToTray();
      },
      Qt::QueuedConnection);
}

bool TTrayloom::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FOwner) OwnerWindowProc(Event);
  if (FAppWindow && Watched == FAppWindow) AppWindowHook(Event);
  return false;  // the forms still see every event
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

void TTrayloom::MouseMove(Qt::KeyboardModifiers Shift, int32_t X, int32_t Y) { Fire(OnMouseMove, this, Shift, X, Y); }
void TTrayloom::MouseEnter() { Fire(OnMouseEnter, this); }
void TTrayloom::MouseExit() { Fire(OnMouseExit, this); }
