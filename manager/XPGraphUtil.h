#pragma once
// Drawing routines of the owner-drawn controls. Rectangles run from (Left, Top) up to but not
// including (Right, Bottom), and every routine paints whole pixels: no antialiasing.
#include <QColor>

#include <cstdint>

class QPainter;

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
};

int32_t Max(int32_t a, int32_t b);
int32_t Min(int32_t a, int32_t b);
int32_t RectHeight(const TRect& r);
int32_t RectWidth(const TRect& r);
// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// Fills rect with bands from one colour to the other. direction 0: from at the top, 1: to at
// the top, 2: from at the left, 3: to at the left. At most steps bands (at least 2), each
// extent div n pixels thick; the extent mod n pixels left at the bottom or right take the end
// colour.
void GradientFill(QPainter& canvas, const TRect& rect, const QColor& fromColor, const QColor& toColor,
                  uint8_t direction, uint8_t steps);

// Pixel primitives in the conventions of the controls' drawing rules.
void FillRect(QPainter& canvas, const TRect& r, const QColor& color);
void SetPixel(QPainter& canvas, int32_t x, int32_t y, const QColor& color);
// A horizontal or vertical line from (x1, y1) up to but not including (x2, y2).
void DrawLine(QPainter& canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const QColor& color);
// The 1-pixel outline of r.
void FrameRect(QPainter& canvas, const TRect& r, const QColor& color);
// A rectangle with corners cut by an ellipse of cornerW x cornerH; its pixels cover r. fill
// paints the inside (outline included), outline the 1-pixel border; either may be invalid.
void RoundRect(QPainter& canvas, const TRect& r, int32_t cornerW, int32_t cornerH, const QColor& fill,
               const QColor& outline);
// The dotted focus rectangle: every other pixel of r's border inverted.
void DrawFocusRect(QPainter& canvas, const TRect& r);
