#pragma once
// TTrayloom: one icon in the notification area over QSystemTrayIcon. It turns the tray's
// activations into click, double-click, mouse and balloon events, opens its popup menu at the
// cursor, cycles the icon through an image list, and hides its owner form to the tray when the
// form is minimised.
//
// The tray's activations reach the component as the tray callback messages they stand for,
// through the one shared TTrayIconHandler, which turns them into the events.
//
// Without a system tray (offscreen, or no tray running yet) the component keeps all its state and
// keeps cycling; QSystemTrayIcon shows the icon by itself once a tray appears, and adds it again
// after the tray restarts, so no "taskbar created" handling is needed here.
//
// What Qt does not report, so that these events never fire from the tray itself: mouse moves
// over the icon (OnMouseMove, OnMouseEnter and OnMouseExit), separate press and release (each
// activation stands for both), and the showing, hiding and time-out of a balloon (only its click
// arrives).
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/qrnGbls.h"
#include "executor/SimpleTimer.h"

// Shift carries Shift, Alt and Ctrl as the keyboard reports them now; Button names the button.
using TMouseEvent =
    std::function<void(TObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y)>;
using TCycleEvent = std::function<void(TObject* Sender, int32_t NextIndex)>;
using TStartupEvent = std::function<void(TObject* Sender, bool& ShowMainForm)>;

class TTrayloom;

// The one object that receives the tray callbacks of every TTrayloom of the program. It exists
// while at least one component is alive (AcquireTrayHandler / ReleaseTrayHandler).
class TTrayIconHandler : public TObject {
 public:
  // The tray's callback message; its first parameter names the component, its second the mouse
  // or balloon message.
  static constexpr uint32_t kTrayCallback = 0x800;
  static constexpr uint32_t WM_DESTROY = 0x0002;
  static constexpr uint32_t WM_CLOSE = 0x0010;
  static constexpr uint32_t WM_QUERYENDSESSION = 0x0011;
  static constexpr uint32_t WM_QUIT = 0x0012;
  static constexpr uint32_t WM_ENDSESSION = 0x0016;
  static constexpr uint32_t WM_NCDESTROY = 0x0082;
  static constexpr uint32_t WM_MOUSEMOVE = 0x0200;
  static constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
  static constexpr uint32_t WM_LBUTTONUP = 0x0202;
  static constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
  static constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
  static constexpr uint32_t WM_RBUTTONUP = 0x0205;
  static constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
  static constexpr uint32_t WM_MBUTTONUP = 0x0208;
  static constexpr uint32_t NIN_BALLOONSHOW = 0x0402;
  static constexpr uint32_t NIN_BALLOONHIDE = 0x0403;
  static constexpr uint32_t NIN_BALLOONTIMEOUT = 0x0404;
  static constexpr uint32_t NIN_BALLOONUSERCLICK = 0x0405;

  void AddUser() { ++FUserCount; }
  void RemoveUser() {
    if (FUserCount > 0) --FUserCount;
  }
  int32_t UserCount() const { return FUserCount; }

  // The handler's message procedure: the tray callback turns into the component's events (mouse
  // messages only while it is Enabled); the messages of a closing session are answered 1 and
  // nothing else; every other message gets the default answer, 0.
  intptr_t TrayCallbackProc(uint32_t Message, TTrayloom* Component, uint32_t TrayMessage);

 private:
  int32_t FUserCount = 0;
};

// Creates the shared handler on first use and counts one user more.
TTrayIconHandler* AcquireTrayHandler();
// Counts one user less and frees the handler when no user is left.
void ReleaseTrayHandler();
// The shared handler, or nullptr while no component exists.
TTrayIconHandler* TrayHandler();

class TTrayloom : public QObject, public TComponent {
  Q_OBJECT

 public:
  // `Owner` is the form the component belongs to; minimising it hides it to the tray.
  explicit TTrayloom(QWidget* Owner = nullptr);
  ~TTrayloom() override;
  TTrayloom(const TTrayloom&) = delete;
  TTrayloom& operator=(const TTrayloom&) = delete;

  // The form calls this once its properties are set: asks OnStartup (a False answer keeps the
  // application's main form hidden), then applies the stored IconVisible, CycleIcons and
  // WantEnterExitEvents and sends the notification version.
  void Loaded();
  // A component that the properties refer to is going away: the property is cleared.
  void Notification(QObject* AComponent);

  // Kept for completeness: there is no design time, so it changes nothing.
  bool DesignPreview() const { return FDesignPreview; }
  void SetDesignPreview(bool Value) { FDesignPreview = Value; }

  // Images for IconIndex and for cycling, indexed from 0. An empty list is no list.
  const std::vector<QIcon>& IconList() const { return FIconList; }
  void SetIconList(std::vector<QIcon> Value);

  bool CycleIcons() const { return FCycleIcons; }
  void SetCycleIcons(bool Value);
  uint32_t CycleInterval() const { return FCycleInterval; }
  void SetCycleInterval(uint32_t Value);

  // Mouse events from the tray are handled only while set.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }

  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value);

  const QIcon& Icon() const { return FIcon; }
  void SetIcon(const QIcon& Value);

  bool IconVisible() const { return FIconVisible; }
  void SetIconVisible(bool Value);

  int32_t IconIndex() const { return FIconIndex; }
  void SetIconIndex(int32_t Value);

  // The menu is watched: when it is destroyed the property becomes nullptr.
  QMenu* PopupMenu() const { return FPopupMenu.data(); }
  void SetPopupMenu(QMenu* Value);
  // The left button opens the menu as well as the right one.
  bool LeftPopup() const { return FLeftPopup; }
  void SetLeftPopup(bool Value) { FLeftPopup = Value; }

  // Runs the exit timer, which tells the mouse leaving the icon from its last move over it.
  bool WantEnterExitEvents() const { return FWantEnterExitEvents; }
  void SetWantEnterExitEvents(bool Value);

  bool MinimizeToTray() const { return FMinimizeToTray; }
  void SetMinimizeToTray(bool Value) { FMinimizeToTray = Value; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  // Never fired by the tray, which does not report the mouse over the icon.
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseExit;
  TCycleEvent OnCycle;
  // Only the click on a message reaches a Qt program; show, hide and time-out never fire.
  TNotifyEvent OnBalloonHintShow;
  TNotifyEvent OnBalloonHintHide;
  TNotifyEvent OnBalloonHintTimeout;
  TNotifyEvent OnBalloonHintClick;
  TNotifyEvent OnMinimizeToTray;
  TStartupEvent OnStartup;

  virtual bool WantsDefaultIcon() { return true; }
  // Each returns whether a system tray took the call; the state changes either way.
  virtual bool AddTrayIcon();
  virtual bool DeleteTrayIcon();
  virtual bool ModifyTrayIcon();
  // The notification version (0 here): there is nothing to tell a Qt tray; whether one is there.
  bool SetNotifyVersion();

  // Opens PopupMenu at the cursor, when there is one.
  void PopupMenuAtCursor();
  // Hides the owner form and shows the icon.
  virtual void HideToTray();
  // Hides the application's main form, then the owner when it is still visible.
  void HideMainWindow();
  void HideAppWindow();

  // The tray icon itself: its activated() and messageClicked() signals drive the events.
  QSystemTrayIcon* TrayIcon() const { return FTray.get(); }

 protected:
  virtual void Click();
  virtual void DblClick();
  virtual void CycleStep();
  virtual void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y);
  virtual void MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y);
  virtual void MouseMove(Qt::KeyboardModifiers Shift, int32_t X, int32_t Y);
  virtual void MouseEnter();
  virtual void MouseExit();

  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  friend class TTrayIconHandler;

  // The tray's activations as the callback messages they stand for.
  void TrayActivated(QSystemTrayIcon::ActivationReason Reason);
  void TrayCallback(uint32_t TrayMessage);
  void ClickTimerElapsed();
  void CycleTimerElapsed();
  void ExitTimerElapsed();
  // The application's main form and the owner form: minimising hides them to the tray, showing
  // the owner brings it forward.
  void AppWindowHook(QEvent* Event);
  void SubclassOwner();
  void UnsubclassOwner();
  void OwnerWindowProc(QEvent* Event);
  void OwnerMinimizing();
  bool PrepareIconData();
  // The mouse is over the icon in the tray.
  bool MouseOnIcon() const;
  int32_t NextCycleIndex() const;

  QPointer<QWidget> FOwner;
  QPointer<QWidget> FAppWindow;  // the application's main form when it is not the owner
  std::unique_ptr<QSystemTrayIcon> FTray;
  TSimpleTimer FCycleTimer;
  TSimpleTimer FClickTimer;
  TSimpleTimer FExitTimer;

  bool FDesignPreview = false;
  std::vector<QIcon> FIconList;
  bool FCycleIcons = false;
  uint32_t FCycleInterval = 0;
  bool FEnabled = true;
  std::string FHint;
  bool FShowHint = true;
  QIcon FIcon;
  bool FIconVisible = false;
  int32_t FIconIndex = 0;
  QPointer<QMenu> FPopupMenu;
  bool FLeftPopup = false;
  bool FWantEnterExitEvents = false;
  bool FMinimizeToTray = false;

  QString FTip;  // the tooltip the tray has now
  uint32_t FNotifyMode = 0;
  bool FClickStart = false;
  bool FClickReady = false;
  bool FDblClicked = false;
  bool FExited = true;
  QPoint FLastMovePoint;
};
