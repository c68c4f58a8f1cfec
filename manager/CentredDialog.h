#pragma once
// The frame of the manager's small forms: a fixed-size dialog centred on the screen each time it
// is shown, whose FormActivate runs (guarded) on every activation of its window.
#include <QDialog>

class TCentredDialog : public QDialog {
  Q_OBJECT

 public:
  TCentredDialog(QWidget* parent, const char* caption, int clientWidth, int clientHeight);

  virtual void FormActivate() {}

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
};
