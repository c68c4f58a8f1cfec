#pragma once
// TKamsaMeter: a panel that shows a percentage as a filled bar with a text over it. The backup
// and restore forms show the progress of the current file and of the whole archive in two.
#include <QColor>
#include <QWidget>

#include <cstdint>
#include <string>

#include "archive/qrnGbls.h"

enum TBevelCut : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

class TKamsaMeter : public QWidget, public TObject {
  Q_OBJECT

 public:
  explicit TKamsaMeter(QWidget* parent = nullptr);

  QColor FillColor() const { return FFillColor; }
  void SetFillColor(const QColor& color);
  int32_t Max() const { return FMax; }
  void SetMax(int32_t value);
  int32_t Min() const { return FMin; }
  void SetMin(int32_t value);
  int32_t Position() const { return FPosition; }
  // A value outside Min..Max is ignored.
  void SetPosition(int32_t value);
  const std::string& MeterText() const { return FMeterText; }
  // The first "%" of the pattern marks where the percentage goes.
  void SetMeterText(const std::string& text);

  // The panel's properties that the drawing uses.
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value);
  TBevelCut BevelInner() const { return FBevelInner; }
  void SetBevelInner(TBevelCut value);
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut value);
  int32_t BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int32_t value);
  int32_t BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int32_t value);
  QColor Color() const { return FColor; }
  void SetColor(const QColor& color);
  QFont Font() const { return font(); }
  void SetFont(const QFont& f);

  // The last computed percentage and the text drawn.
  int32_t Percent() const { return FPercent; }
  const std::string& DisplayText() const { return FDisplayText; }

  // Recomputes the percentage and the text; repaints at once only when either changed.
  void UpdateMeter();
  // The top-left and bottom-right colours of a bevel.
  void BevelColors(TBevelCut cut, QColor& topLeft, QColor& bottomRight) const;

  TNotifyEvent OnDblClick;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  QColor FFillColor;
  int32_t FMax = 100;
  int32_t FMin = 0;
  int32_t FPosition = 0;
  std::string FMeterText;
  TAlignment FAlignment = taCenter;
  TBevelCut FBevelInner = bvNone;
  TBevelCut FBevelOuter = bvLowered;
  int32_t FBevelWidth = 1;
  int32_t FBorderWidth = 0;
  QColor FColor;
  int32_t FPercent = 0;
  std::string FDisplayText;
};

// The meter's text for a percentage p and a pattern: p and "%" in place of the pattern's first
// "%"; a pattern without one stands alone; an empty pattern gives p and "%".
std::string MeterDisplayText(const std::string& pattern, int32_t percent);
