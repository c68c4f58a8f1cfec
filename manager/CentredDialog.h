#pragma once
// The frame of the manager's small forms: a fixed-size dialog centred on the screen each time it
// is shown, whose FormActivate runs (guarded) on every new activation of its window. Only the
// form's own buttons close it: Escape is no shortcut for them.
#include <QDialog>

class TCentredDialog : public QDialog {
  Q_OBJECT

 public:
  TCentredDialog(QWidget* parent, const char* caption, int clientWidth, int clientHeight);

  virtual void FormActivate() {}

 protected:
  // Whether a new activation runs FormActivate now.
  virtual bool AcceptsActivation() const { return true; }

  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
};

// True when the activation of form is a new one: the manager's form that was active before it (the
// main window or one of these dialogs) is another one, or there was none. Coming back from the
// folder chooser, a message box or another program is no new activation, so the form keeps what
// the user entered there.
bool IsNewActivation(const QWidget* form);
