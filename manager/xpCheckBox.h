#pragma once
// TxpCheckBox: the owner-drawn check box of the manager's forms, a 14 x 14 gradient box with a
// dark blue border and a green check mark.
#include <QColor>

#include <cstdint>

#include "manager/xpControl.h"

enum TCheckBoxAlignment : uint8_t { cbaLeft, cbaRight };

class TxpCheckBox : public TxpCustomControl {
  Q_OBJECT

 public:
  explicit TxpCheckBox(QWidget* parent = nullptr);

  bool Checked() const { return FChecked; }
  // Stores a different value and paints at once; OnClick does not fire.
  void SetChecked(bool checked);
  TCheckBoxAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TCheckBoxAlignment alignment);
  QColor Color() const { return FColor; }
  void SetColor(const QColor& color);

  // The toggle: inverts Checked, then fires OnClick, which sees the new value.
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

 private:
  void SetHot(bool hot);
  void GuardedClick();

  bool FChecked = false;
  TCheckBoxAlignment FAlignment = cbaRight;
  QColor FColor;
};
