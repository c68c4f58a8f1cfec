#pragma once
// The frame of the manager's small forms: a fixed-size dialog centred on the screen each time it
// is shown, whose FormActivate runs (guarded) on every new activation of its window.
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
};

// True when the activation of form is a new one: the manager's window that was active before it
// is another of the manager's forms (the main window or one of these dialogs), or there was none.
// Coming back from the folder chooser, a message box or another program is no new activation,
// so the form keeps what the user entered there.
bool IsNewActivation(const QWidget* form);
