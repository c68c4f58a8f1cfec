#include "manager/XPGraphUtil.h"

#include <QPainter>

#include <cstdlib>

int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t RectHeight(const TRect& r) { return r.Bottom - r.Top; }
int32_t RectWidth(const TRect& r) { return r.Right - r.Left; }

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t p = static_cast<int64_t>(a) * b;
  const int64_t q = c;
  const int64_t m = (std::llabs(p) + std::llabs(q) / 2) / std::llabs(q);
  return static_cast<int32_t>((p < 0) != (q < 0) ? -m : m);
}

void FillRect(QPainter& canvas, const TRect& r, const QColor& color) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  canvas.fillRect(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top), color);
}

void SetPixel(QPainter& canvas, int32_t x, int32_t y, const QColor& color) {
  canvas.fillRect(QRect(x, y, 1, 1), color);
}

void DrawLine(QPainter& canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const QColor& color) {
  if (y1 == y2) {
    if (x2 >= x1) {
      FillRect(canvas, {x1, y1, x2, y1 + 1}, color);
    } else {
      FillRect(canvas, {x2 + 1, y1, x1 + 1, y1 + 1}, color);
    }
  } else if (x1 == x2) {
    if (y2 >= y1) {
      FillRect(canvas, {x1, y1, x1 + 1, y2}, color);
    } else {
      FillRect(canvas, {x1, y2 + 1, x1 + 1, y1 + 1}, color);
    }
  }
}

void FrameRect(QPainter& canvas, const TRect& r, const QColor& color) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  FillRect(canvas, {r.Left, r.Top, r.Right, r.Top + 1}, color);
  FillRect(canvas, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, color);
  FillRect(canvas, {r.Left, r.Top, r.Left + 1, r.Bottom}, color);
  FillRect(canvas, {r.Right - 1, r.Top, r.Right, r.Bottom}, color);
}

void RoundRect(QPainter& canvas, const TRect& r, int32_t cornerW, int32_t cornerH, const QColor& fill,
               const QColor& outline) {
  const int32_t w = RectWidth(r), h = RectHeight(r);
  if (w <= 0 || h <= 0) return;
  // The corner ellipse's radius cuts a staircase of that many pixels off every corner.
  const int32_t k = Min(Min(cornerW, cornerH) / 2, Min(w, h) / 2);
  auto inset = [&](int32_t y) {
    const int32_t fromEdge = Min(y - r.Top, r.Bottom - 1 - y);
    return fromEdge < k ? k - fromEdge : 0;
  };
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    const int32_t left = r.Left + inset(y), right = r.Right - inset(y);  // right exclusive
    if (fill.isValid()) FillRect(canvas, {left, y, right, y + 1}, fill);
    if (!outline.isValid()) continue;
    const bool edgeRow = y == r.Top || y == r.Bottom - 1;
    if (edgeRow) {
      FillRect(canvas, {left, y, right, y + 1}, outline);
    } else {
      SetPixel(canvas, left, y, outline);
      SetPixel(canvas, right - 1, y, outline);
    }
  }
}

void DrawFocusRect(QPainter& canvas, const TRect& r) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  canvas.save();
  canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  const QColor white(255, 255, 255);
  // Walk the border once, clockwise from the top left corner, inverting every other pixel.
  int32_t i = 0;
  auto dot = [&](int32_t x, int32_t y) {
    if (i++ % 2 == 0) canvas.fillRect(QRect(x, y, 1, 1), white);
  };
  for (int32_t x = r.Left; x < r.Right; ++x) dot(x, r.Top);
  for (int32_t y = r.Top + 1; y < r.Bottom; ++y) dot(r.Right - 1, y);
  if (r.Bottom - 1 > r.Top) {
    for (int32_t x = r.Right - 2; x >= r.Left; --x) dot(x, r.Bottom - 1);
  }
  if (r.Right - 1 > r.Left) {
    for (int32_t y = r.Bottom - 2; y > r.Top; --y) dot(r.Left, y);
  }
  canvas.restore();
}

void GradientFill(QPainter& canvas, const TRect& rect, const QColor& fromColor, const QColor& toColor,
                  uint8_t direction, uint8_t steps) {
  if (RectWidth(rect) <= 0 || RectHeight(rect) <= 0) return;
  if (steps < 2) {
    FillRect(canvas, rect, fromColor);
    return;
  }
  const bool reversed = direction == 1 || direction == 3;
  const bool vertical = direction == 0 || direction == 1;
  const QColor base = reversed ? toColor : fromColor;
  const QColor end = reversed ? fromColor : toColor;
  const int32_t dr = end.red() - base.red(), dg = end.green() - base.green(), db = end.blue() - base.blue();
  const int32_t extent = vertical ? RectHeight(rect) : RectWidth(rect);
  const int32_t n = Max(2, Min(steps, extent));
  const int32_t band = extent / n;
  auto channel = [](int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
  if (band > 0) {
    for (int32_t i = 0; i < n; ++i) {
      const QColor c(channel(base.red() + MulDiv(i, dr, n - 1)), channel(base.green() + MulDiv(i, dg, n - 1)),
                     channel(base.blue() + MulDiv(i, db, n - 1)));
      const int32_t offset = i * band;
      if (vertical) {
        FillRect(canvas, {rect.Left, rect.Top + offset, rect.Right, rect.Top + offset + band}, c);
      } else {
        FillRect(canvas, {rect.Left + offset, rect.Top, rect.Left + offset + band, rect.Bottom}, c);
      }
    }
  }
  const int32_t rem = extent % n;
  if (rem > 0) {
    if (vertical) {
      FillRect(canvas, {rect.Left, rect.Bottom - rem, rect.Right, rect.Bottom}, end);
    } else {
      FillRect(canvas, {rect.Right - rem, rect.Top, rect.Right, rect.Bottom}, end);
    }
  }
}
