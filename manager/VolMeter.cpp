#include "manager/VolMeter.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <cfenv>
#include <cmath>

#include "manager/XPGraphUtil.h"
#include "platform/gui/application.h"

namespace {

// Rounds to the nearest integer with halves going to the even neighbour (0.5 -> 0, 1.5 -> 2).
int32_t RoundHalfEven(double value) {
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(value);
  std::fesetround(saved);
  return static_cast<int32_t>(r);
}

// A 3-D frame of width w: the top row and left column in topLeft, the right column and the
// bottom row in bottomRight (which take the top-right and bottom-left corners); r shrinks by it.
void Frame3D(QPainter& canvas, TRect& r, const QColor& topLeft, const QColor& bottomRight, int32_t w) {
  for (; w > 0 && r.Right > r.Left && r.Bottom > r.Top; --w) {
    FillRect(canvas, {r.Left, r.Top, r.Right - 1, r.Top + 1}, topLeft);
    FillRect(canvas, {r.Left, r.Top + 1, r.Left + 1, r.Bottom - 1}, topLeft);
    FillRect(canvas, {r.Right - 1, r.Top, r.Right, r.Bottom}, bottomRight);
    FillRect(canvas, {r.Left, r.Bottom - 1, r.Right - 1, r.Bottom}, bottomRight);
    r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
  }
}

}  // namespace

std::string MeterDisplayText(const std::string& pattern, int32_t percent) {
  const std::string number = std::to_string(percent) + "%";
  if (pattern.empty()) return number;
  const size_t mark = pattern.find('%');
  if (mark == std::string::npos) return pattern;
  return pattern.substr(0, mark) + number + pattern.substr(mark + 1);
}

TKamsaMeter::TKamsaMeter(QWidget* parent)
    : QWidget(parent), FFillColor(Qt::yellow), FColor(palette().color(QPalette::Button)) {
  // Opaque: the paint covers every pixel. No focus, no key or click handling of its own.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  resize(185, 41);
}

void TKamsaMeter::SetFillColor(const QColor& color) {
  FFillColor = color;
  update();
}

void TKamsaMeter::SetPosition(int32_t value) {
  if (value < FMin || value > FMax) return;
  FPosition = value;
  UpdateMeter();
}

void TKamsaMeter::SetMin(int32_t value) {
  FMin = value;
  if (FMin < FMax) UpdateMeter();
}

void TKamsaMeter::SetMax(int32_t value) {
  FMax = value;
  if (FMin < FMax) UpdateMeter();
}

void TKamsaMeter::SetMeterText(const std::string& text) {
  FMeterText = text;
  UpdateMeter();
}

void TKamsaMeter::SetAlignment(TAlignment value) {
  FAlignment = value;
  update();
}
void TKamsaMeter::SetBevelInner(TBevelCut value) {
  FBevelInner = value;
  update();
}
void TKamsaMeter::SetBevelOuter(TBevelCut value) {
  FBevelOuter = value;
  update();
}
void TKamsaMeter::SetBevelWidth(int32_t value) {
  FBevelWidth = value < 1 ? 1 : value;
  update();
}
void TKamsaMeter::SetBorderWidth(int32_t value) {
  FBorderWidth = value < 0 ? 0 : value;
  update();
}
void TKamsaMeter::SetColor(const QColor& color) {
  FColor = color;
  update();
}
void TKamsaMeter::SetFont(const QFont& f) {
  setFont(f);
  update();
}

void TKamsaMeter::UpdateMeter() {
  if (FMin == FMax) return;
  // In floating point: the difference of two 32-bit values may not fit one.
  const double span = static_cast<double>(FMax) - static_cast<double>(FMin);
  const int32_t p = RoundHalfEven((static_cast<double>(FPosition) - FMin) * 100.0 / span);
  std::string text = MeterDisplayText(FMeterText, p);
  if (p == FPercent && text == FDisplayText) return;
  FPercent = p;
  FDisplayText = std::move(text);
  repaint();
}

void TKamsaMeter::BevelColors(TBevelCut cut, QColor& topLeft, QColor& bottomRight) const {
  const QColor shadow = palette().color(QPalette::Dark);
  const QColor highlight = palette().color(QPalette::Light);
  topLeft = cut == bvLowered ? shadow : highlight;
  bottomRight = cut == bvLowered ? highlight : shadow;
}

void TKamsaMeter::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  TRect r{0, 0, width(), height()};
  QColor topLeft, bottomRight;
  if (FBevelOuter != bvNone) {
    BevelColors(FBevelOuter, topLeft, bottomRight);
    Frame3D(canvas, r, topLeft, bottomRight, FBevelWidth);
  }
  Frame3D(canvas, r, FColor, FColor, FBorderWidth);
  if (FBevelInner != bvNone) {
    BevelColors(FBevelInner, topLeft, bottomRight);
    Frame3D(canvas, r, topLeft, bottomRight, FBevelWidth);
  }
  FillRect(canvas, r, FColor);
  const int32_t filled = RoundHalfEven(static_cast<double>(r.Right - r.Left) * FPercent / 100.0);
  FillRect(canvas, {r.Left, r.Top, r.Left + filled, r.Bottom}, FFillColor);

  const int h = QFontMetrics(font()).height();
  const QRect textRect(r.Left, (r.Top + r.Bottom - h) / 2, r.Right - r.Left, h);
  // The alignment is taken as it stands; right-to-left only sets the reading order.
  int flags = Qt::TextExpandTabs | Qt::AlignTop | Qt::AlignAbsolute;
  switch (FAlignment) {
    case taLeftJustify:
      flags |= Qt::AlignLeft;
      break;
    case taRightJustify:
      flags |= Qt::AlignRight;
      break;
    case taCenter:
      flags |= Qt::AlignHCenter;
      break;
  }
  canvas.setFont(font());
  canvas.setPen(palette().color(QPalette::WindowText));
  canvas.setLayoutDirection(layoutDirection());
  canvas.drawText(textRect, flags, QString::fromStdString(FDisplayText));
}

void TKamsaMeter::mouseDoubleClickEvent(QMouseEvent* e) {
  e->accept();
  if (OnDblClick) platform::RunGuarded([this] { OnDblClick(this); });
}
