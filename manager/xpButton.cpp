#include "manager/xpButton.h"

#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "manager/XPGraphUtil.h"
#include "platform/gui/application.h"

TxpButton::TxpButton(QWidget* parent) : TxpCustomControl(parent) {
  SetCaption("XP Button");
  resize(75, 25);
}

void TxpButton::Click() {
  if (OnClick) OnClick(this);
  if (FModalResult != 0) {
    if (auto* form = qobject_cast<QDialog*>(window())) form->done(FModalResult);
  }
}

void TxpButton::GuardedClick() {
  platform::RunGuarded([this] { Click(); });
}

void TxpButton::SetHot(bool hot) {
  if (hot == FHot) return;
  FHot = hot;
  repaint();
}

void TxpButton::enterEvent(QEnterEvent*) { SetHot(true); }

void TxpButton::leaveEvent(QEvent*) { SetHot(false); }

void TxpButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    if (!FPressed) FPressed = true;
    if (!hasFocus() && isEnabled()) setFocus(Qt::MouseFocusReason);
    repaint();
  }
  e->accept();  // the right button does nothing and is not passed on
}

void TxpButton::mouseMoveEvent(QMouseEvent* e) {
  // Qt holds back leave and enter while a button is down; the pointer is still followed.
  if (e->buttons() & Qt::LeftButton) SetHot(rect().contains(e->position().toPoint()));
  e->accept();
}

void TxpButton::mouseReleaseEvent(QMouseEvent* e) {
  e->accept();
  if (e->button() != Qt::LeftButton) return;
  // Qt delivers the release to the pressed control wherever it happens; the button only reacts
  // to a release over it, so a release elsewhere leaves it pressed.
  if (!FPressed || !rect().contains(e->position().toPoint())) return;
  FPressed = false;
  repaint();
  GuardedClick();
}

void TxpButton::mouseDoubleClickEvent(QMouseEvent* e) {
  e->accept();
  if (e->button() != Qt::LeftButton) return;
  // Qt sends the second press before the double click; the double click stands in for it, so
  // the release that follows clicks nothing more.
  FPressed = false;
  GuardedClick();
}

void TxpButton::keyPressEvent(QKeyEvent* e) {
  const int k = e->key();
  if (!FPressed && (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Space)) {
    FPressed = true;
    update();
  }
  QWidget::keyPressEvent(e);
}

void TxpButton::keyReleaseEvent(QKeyEvent* e) {
  // A held key repeats as release-press pairs here; only the real release counts.
  if (FPressed && !e->isAutoRepeat()) {
    FPressed = false;
    update();
    GuardedClick();
  }
  QWidget::keyReleaseEvent(e);
}

void TxpButton::DialogChar() { GuardedClick(); }

void TxpButton::DialogKey(int key) {
  if (!isEnabled()) return;
  const bool escape = key == Qt::Key_Escape;
  // A focused default button already clicks when its Enter is released: one click, not two.
  if ((FCancel && escape) || (FDefault && !escape && !hasFocus())) GuardedClick();
}

void TxpButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
  const int32_t W = width(), H = height();
  const QString text = DisplayText();
  const QFontMetrics fm(font());
  const int32_t tw = fm.horizontalAdvance(text), th = fm.height();
  const TRect face{4, 4, W - 4, H - 4};
  const QColor invalid;
  const bool enabled = isEnabled();
  const int32_t shift = enabled && FPressed ? 1 : 0;
  QColor textColor;

  if (enabled) {
    const QColor back(214, 211, 211);
    RoundRect(p, {0, 0, W, H}, 3, 3, back, back);
    RoundRect(p, {1, 1, W - 1, H - 1}, 5, 5, invalid, QColor(0, 60, 116));
    if (FPressed && FHot) {
      GradientFill(p, face, QColor(253, 253, 253), QColor(205, 204, 223), 1, static_cast<uint8_t>(H / 2));
    } else {
      GradientFill(p, face, QColor(253, 253, 253), QColor(205, 204, 223), 0, static_cast<uint8_t>(H / 3));
    }
    DrawLine(p, 3, 2, W - 3, 2, QColor(206, 231, 255));
    DrawLine(p, 3, H - 3, W - 3, H - 3, QColor(105, 130, 238));
    FrameRect(p, {2, 3, W - 2, H - 3}, QColor(188, 212, 246));
    const QColor white(255, 255, 255);
    DrawLine(p, 3, 4, 3, H - 4, white);
    DrawLine(p, W - 4, 4, W - 4, H - 4, white);
    DrawLine(p, 3, H - 1, W - 3, H - 1, white);
    DrawLine(p, W - 1, H - 4, W - 1, 2, white);
    if (FHot) RoundRect(p, {3, 3, W - 3, H - 3}, 2, 2, invalid, QColor(248, 179, 48));
    textColor = palette().color(QPalette::ButtonText);
  } else {
    RoundRect(p, {0, 0, W, H}, 3, 3, QColor(241, 241, 237), QColor(214, 211, 211));
    const QColor face3d = ButtonFaceColor(this);
    SetPixel(p, 0, 0, face3d);
    SetPixel(p, W - 1, 0, face3d);
    SetPixel(p, W - 1, H - 1, face3d);
    SetPixel(p, 0, H - 1, face3d);
    RoundRect(p, {1, 1, W - 1, H - 1}, 5, 5, invalid, QColor(196, 195, 191));
    textColor = QColor(161, 161, 146);
  }

  const int32_t x0 = (W - tw) / 2 + shift;
  const int32_t y0 = (H - th) / 2 + shift;
  p.save();
  p.setClipRect(QRect(face.Left, face.Top, RectWidth(face), RectHeight(face)));
  p.setFont(font());
  p.setPen(textColor);
  p.drawText(x0, y0 + fm.ascent(), text);
  p.restore();

  const int index = AcceleratorIndex();
  if (index >= 0) {
    const int32_t from = x0 + fm.horizontalAdvance(text.left(index));
    const int32_t to = x0 + fm.horizontalAdvance(text.left(index + 1));
    DrawLine(p, from, y0 + th, to, y0 + th, textColor);
  }

  if (enabled && FFocused) DrawFocusRect(p, face);
}
