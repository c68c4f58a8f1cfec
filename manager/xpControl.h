#pragma once
// What the owner-drawn push button and check box share: the caption with its accelerator, the
// three state flags, the notify events, the accelerator typed with Alt in the control's window,
// and Enter and Escape that reach the window unhandled; each control answers them its own way.
#include <QPointer>
#include <QShortcut>
#include <QWidget>

#include <string>
#include <vector>

#include "archive/qrnGbls.h"

class TxpCustomControl : public QWidget, public TObject {
  Q_OBJECT

 public:
  explicit TxpCustomControl(QWidget* parent = nullptr);
  ~TxpCustomControl() override;

  const std::string& Caption() const { return FCaption; }
  // A different text is stored and painted at once; the same text changes nothing.
  void SetCaption(const std::string& caption);
  QFont Font() const { return font(); }
  void SetFont(const QFont& font);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool enabled) { setEnabled(enabled); }
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& hint);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool show);
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool tabStop);

  bool IsHot() const { return FHot; }
  bool IsPressed() const { return FPressed; }
  bool IsFocused() const { return FFocused; }

  TNotifyEvent OnClick;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

 protected:
  // The caption without its first '&', and the index in it of the accelerator character
  // (-1 when the caption has no '&' or nothing follows it).
  QString DisplayText() const;
  int AcceleratorIndex() const;

  // The accelerator typed with Alt in this control's window, whether enabled or not.
  virtual void DialogChar() {}
  // Enter or Escape that no control of the window took.
  virtual void DialogKey(int key) { (void)key; }
  // Focus changes; the flag is kept here, the look by the control.
  virtual void FocusChanged() { update(); }

  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

  bool FHot = false;
  bool FPressed = false;
  bool FFocused = false;

 private:
  void WatchWindow();
  void ApplyHint();
  void RebuildAccelerators();

  std::string FCaption;
  std::string FHint;
  bool FShowHint = false;
  bool FTabStop = true;
  QPointer<QWidget> FWindow;
  // Alt with the accelerator in either case, owned by the window: its shortcuts stay live
  // while this control is disabled.
  std::vector<QPointer<QShortcut>> FAccelerators;
};

// The system button face: the form background the controls stand on.
QColor ButtonFaceColor(const QWidget* w);
