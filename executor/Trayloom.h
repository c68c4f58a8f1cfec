#pragma once
// TTrayloom: one icon in the notification area over QSystemTrayIcon. It turns the tray's
// activations into click, double-click, mouse and balloon events, opens its popup menu at the
// cursor, cycles the icon through an image list, and hides its owner form to the tray when the
// form is minimised.
//
// Without a system tray (offscreen, or no tray running yet) the component keeps all its state and
// keeps cycling; QSystemTrayIcon shows the icon by itself once a tray appears, and adds it again
// after the tray restarts, so no "taskbar created" handling is needed here.
//
// What Qt does not report: mouse moves over the icon (so OnMouseMove, OnMouseEnter and
// OnMouseExit never fire), separate press and release (each activation stands for both), the
// showing, hiding and time-out of a balloon (only its click arrives).
#include <QIcon>
#include <QMenu>
#include <QObject>
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

class TTrayloom : public QObject, public TComponent {
  Q_OBJECT

 public:
  // `Owner` is the form the component belongs to; minimising it hides it to the tray.
  explicit TTrayloom(QWidget* Owner = nullptr);
  ~TTrayloom() override;
  TTrayloom(const TTrayloom&) = delete;
  TTrayloom& operator=(const TTrayloom&) = delete;

  // The form calls this once its properties are set: asks OnStartup and applies the stored
  // IconVisible and CycleIcons.
  void Loaded();

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
  void SetPopupMenu(QMenu* Value) { FPopupMenu = Value; }
  // The left button opens the menu as well as the right one.
  bool LeftPopup() const { return FLeftPopup; }
  void SetLeftPopup(bool Value) { FLeftPopup = Value; }

  // Stored only: the tray never reports the mouse over the icon.
  bool WantEnterExitEvents() const { return FWantEnterExitEvents; }
  void SetWantEnterExitEvents(bool Value) { FWantEnterExitEvents = Value; }

  bool MinimizeToTray() const { return FMinimizeToTray; }
  void SetMinimizeToTray(bool Value) { FMinimizeToTray = Value; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  // Never fired: the tray does not report the mouse over the icon.
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

  // Opens PopupMenu at the cursor, when there is one.
  void PopupMenuAtCursor();
  // Hides the owner form and shows the icon.
  virtual void HideToTray();
  void HideMainWindow();

  // The tray icon itself: its activated() and messageClicked() signals drive the events.
  QSystemTrayIcon* TrayIcon() const { return FTray.get(); }

 protected:
  virtual void Click();
  virtual void DblClick();
  virtual void CycleStep();
  virtual void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y);
  virtual void MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int32_t X, int32_t Y);

  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  // The tray's mouse messages; a Qt activation stands for a pair of them.
  enum class TrayMessage : uint8_t { LButtonDown, LButtonUp, LButtonDblClk, RButtonDown, RButtonUp, MButtonDown, MButtonUp };

  void TrayActivated(QSystemTrayIcon::ActivationReason Reason);
  void TrayCallback(TrayMessage Message);
  void ClickTimerElapsed();
  void CycleTimerElapsed();
  void OwnerMinimizing();
  void PrepareIconData();
  int32_t NextCycleIndex() const;

  QPointer<QWidget> FOwner;
  std::unique_ptr<QSystemTrayIcon> FTray;
  TSimpleTimer FCycleTimer;
  TSimpleTimer FClickTimer;

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

  bool FClickStart = false;
  bool FClickReady = false;
  bool FDblClicked = false;
};
