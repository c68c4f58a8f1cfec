#pragma once
// TxpButton: the owner-drawn push button of the manager's forms (light gradient face, dark blue
// rounded frame, orange frame while the pointer is over it).
#include "manager/xpControl.h"

class TxpButton : public TxpCustomControl {
  Q_OBJECT

 public:
  explicit TxpButton(QWidget* parent = nullptr);

  bool Cancel() const { return FCancel; }
  void SetCancel(bool cancel) { FCancel = cancel; }
  bool Default() const { return FDefault; }
  void SetDefault(bool isDefault) { FDefault = isDefault; }
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int result) { FModalResult = result; }

  // Fires OnClick, then ends a modal form with ModalResult when that is not 0.
  void Click();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void DialogChar() override;
  void DialogKey(int key) override;

 private:
  void SetHot(bool hot);
  void GuardedClick();

  bool FCancel = false;
  bool FDefault = false;
  int FModalResult = 0;
};
