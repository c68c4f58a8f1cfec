#include "manager/xpCheckBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "manager/XPGraphUtil.h"
#include "platform/gui/application.h"

TxpCheckBox::TxpCheckBox(QWidget* parent) : TxpCustomControl(parent) {
  SetCaption("XP Checkbox");
  FColor = ButtonFaceColor(this);
  resize(97, 17);
}

void TxpCheckBox::SetChecked(bool checked) {
  if (checked == FChecked) return;
  FChecked = checked;
  repaint();
}

void TxpCheckBox::SetAlignment(TCheckBoxAlignment alignment) {
  if (alignment == FAlignment) return;
  FAlignment = alignment;
  repaint();
}

void TxpCheckBox::SetColor(const QColor& color) {
  if (color == FColor) return;
  FColor = color;
  update();
}

void TxpCheckBox::Click() {
  FChecked = !FChecked;
  update();
  if (OnClick) OnClick(this);
}

void TxpCheckBox::GuardedClick() {
  platform::RunGuarded([this] { Click(); });
}

void TxpCheckBox::SetHot(bool hot) {
  if (hot == FHot) return;
  FHot = hot;
  update();
}

void TxpCheckBox::enterEvent(QEnterEvent*) { SetHot(true); }

void TxpCheckBox::leaveEvent(QEvent*) { SetHot(false); }

void TxpCheckBox::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    if (!FPressed) FPressed = true;
    if (!hasFocus() && isEnabled()) setFocus(Qt::MouseFocusReason);
    update();
  }
  e->accept();  // the right button does nothing and is not passed on
}

void TxpCheckBox::mouseMoveEvent(QMouseEvent* e) {
  // Qt holds back leave and enter while a button is down; the pointer is still followed.
  if (e->buttons() & Qt::LeftButton) SetHot(rect().contains(e->position().toPoint()));
  e->accept();
}

void TxpCheckBox::mouseReleaseEvent(QMouseEvent* e) {
  e->accept();
  if (e->button() != Qt::LeftButton) return;
  // Only a release over the box counts; one elsewhere leaves it pressed.
  if (!FPressed || !rect().contains(e->position().toPoint())) return;
  FPressed = false;
  update();
  GuardedClick();
}

void TxpCheckBox::mouseDoubleClickEvent(QMouseEvent* e) {
  e->accept();
  if (e->button() != Qt::LeftButton) return;
  // Qt sends the second press before the double click; the double click stands in for it, so
  // the release that follows clicks nothing more.
  FPressed = false;
  GuardedClick();
}

void TxpCheckBox::keyPressEvent(QKeyEvent* e) {
  if (!FPressed && e->key() == Qt::Key_Space) {
    FPressed = true;
    update();
  }
  QWidget::keyPressEvent(e);
}

void TxpCheckBox::keyReleaseEvent(QKeyEvent* e) {
  e->accept();
  // A held key repeats as release-press pairs here; only the real release counts.
  if (FPressed && !e->isAutoRepeat()) {
    FPressed = false;
    GuardedClick();
  }
}

void TxpCheckBox::DialogChar() {
  if (!isEnabled()) return;
  if (!hasFocus()) setFocus(Qt::ShortcutFocusReason);
  GuardedClick();
}

void TxpCheckBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
  const int32_t W = width(), H = height(), CH = height();
  const bool enabled = isEnabled();
  FillRect(p, {0, 0, W, H}, FColor);

  const TRect box = FAlignment == cbaRight ? TRect{1, CH / 2 - 7, 15, CH / 2 + 7}
                                           : TRect{W - 15, CH / 2 - 7, W - 1, CH / 2 + 7};
  if (enabled) {
    if (FPressed) {
      GradientFill(p, box, QColor(176, 176, 167), QColor(241, 239, 223), 0, 10);
    } else if (FHot) {
      GradientFill(p, box, QColor(255, 240, 207), QColor(248, 179, 48), 0, 10);
      FillRect(p, {box.Left + 2, box.Top + 2, box.Right - 2, box.Bottom - 2}, FColor);
    } else {
      GradientFill(p, box, QColor(220, 220, 215), QColor(255, 255, 255), 0, 10);
    }
    FrameRect(p, box, QColor(28, 81, 128));
  } else {
    FillRect(p, box, QColor(255, 255, 255));
    FrameRect(p, box, QColor(128, 128, 128));
  }

  if (FChecked) {
    QPen pen(enabled ? QColor(0, 160, 0) : QColor(192, 192, 192), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    const QPoint mark[3] = {QPoint(box.Left + 3, box.Top + 6), QPoint(box.Left + 5, box.Bottom - 5),
                            QPoint(box.Right - 5, box.Top + 4)};
    p.drawPolyline(mark, 3);
  }

  const QString text = DisplayText();
  const QFontMetrics fm(font());
  const int32_t th = fm.height();
  const QColor textColor = enabled ? palette().color(QPalette::WindowText) : QColor(128, 128, 128);
  const int32_t tx = FAlignment == cbaRight ? 20 : 2;
  const TRect clip = FAlignment == cbaRight ? TRect{20, 2, W - 2, H} : TRect{2, 2, W - 20, H};
  FillRect(p, clip, FColor);
  p.save();
  p.setClipRect(QRect(clip.Left, clip.Top, RectWidth(clip), RectHeight(clip)));
  p.setFont(font());
  p.setPen(textColor);
  p.drawText(tx, (H - th) / 2 + fm.ascent(), text);
  p.restore();

  const int index = AcceleratorIndex();
  if (index >= 0) {
    const int32_t from = tx + fm.horizontalAdvance(text.left(index));
    const int32_t to = tx + fm.horizontalAdvance(text.left(index + 1));
    DrawLine(p, from, th + 2, to, th + 2, textColor);
  }

  if (enabled && FFocused) {
    const int32_t tw = fm.horizontalAdvance(text);
    DrawFocusRect(p, FAlignment == cbaRight ? TRect{17, 1, tw + 25, H - 1} : TRect{1, 1, tw + 8, H - 1});
  }
}
