// The level meter's percentage, text and repaint rules, its drawing pixel by pixel, and the link
// label's address rule with the opened address captured instead of launched.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>

#include <string>
#include <vector>

#include "manager/Linkra.h"
#include "manager/VolMeter.h"
#include "tests/support/QtTestSupport.h"

namespace {

// Counts the paints a widget gets.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget& w) { w.installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count;
    return false;
  }
};

// Pixels compared as 8-bit RGB.
QRgb Px(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; }
QRgb Px(const QColor& c) { return c.rgb() & 0xFFFFFF; }

QImage Render(QWidget& w) {
  QImage img(w.size(), QImage::Format_RGB32);
  img.fill(QColor(1, 2, 3));
  w.render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
  return img;
}

class Meter : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.resize(300, 100);
    meter_.setGeometry(10, 10, 265, 17);
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  }
  QWidget form_;
  TKamsaMeter meter_{&form_};
};

TEST_F(Meter, TextTakesThePercentageAtItsFirstMark) {
  EXPECT_EQ(meter_.Percent(), 0);
  meter_.SetPosition(50);
  EXPECT_EQ(meter_.DisplayText(), "50%");
  meter_.SetMeterText("Файл: %");
  EXPECT_EQ(meter_.DisplayText(), "Файл: 50%");
  meter_.SetMeterText("готово");
  EXPECT_EQ(meter_.DisplayText(), "готово");
  meter_.SetMeterText("% из % (%)");
  EXPECT_EQ(meter_.DisplayText(), "50% из % (%)");
  EXPECT_EQ(MeterDisplayText("", 7), "7%");
  EXPECT_EQ(MeterDisplayText("итог %", 100), "итог 100%");
}

TEST_F(Meter, HalvesRoundToTheEvenNeighbour) {
  meter_.SetMax(200);
  const std::vector<std::pair<int, int>> rows = {{0, 0}, {1, 0}, {3, 2}, {5, 2}, {7, 4}, {199, 100}, {200, 100}};
  for (const auto& [position, percent] : rows) {
    meter_.SetPosition(position);
    EXPECT_EQ(meter_.Percent(), percent) << "position " << position;
  }
  // A range that does not start at 0, and one wider than 32 bits can subtract.
  meter_.SetMin(100);
  meter_.SetPosition(150);
  EXPECT_EQ(meter_.Percent(), 50);
  TKamsaMeter wide;
  wide.SetMin(INT32_MIN);
  wide.SetMax(INT32_MAX);
  wide.SetPosition(INT32_MAX);
  EXPECT_EQ(wide.Percent(), 100);
}

TEST_F(Meter, OutOfRangePositionsAndEmptyRangesChangeNothing) {
  meter_.SetPosition(40);
  meter_.SetPosition(150);
  EXPECT_EQ(meter_.Position(), 40);
  meter_.SetPosition(-1);
  EXPECT_EQ(meter_.Position(), 40);
  EXPECT_EQ(meter_.Percent(), 40);

  // Min equal to Max is stored, but the display stays as it was while they are equal.
  meter_.SetMin(100);
  EXPECT_EQ(meter_.Min(), 100);
  EXPECT_EQ(meter_.Percent(), 40);
  meter_.SetMeterText("x %");
  EXPECT_EQ(meter_.DisplayText(), "40%");
  meter_.SetPosition(100);
  EXPECT_EQ(meter_.Position(), 100);
  EXPECT_EQ(meter_.Percent(), 40);
  // A Max above Min again recomputes from the stored values.
  meter_.SetMax(200);
  EXPECT_EQ(meter_.Percent(), 0);
  EXPECT_EQ(meter_.DisplayText(), "x 0%");
}

TEST_F(Meter, RepaintsOnlyWhenPercentageOrTextChange) {
  meter_.SetMax(1000);
  PaintCounter paints(meter_);
  meter_.SetPosition(500);
  EXPECT_EQ(paints.count, 1);  // at once, not at the next event loop turn
  meter_.SetPosition(501);     // still 50 %
  meter_.SetPosition(504);
  meter_.SetMeterText("");
  EXPECT_EQ(paints.count, 1);
  meter_.SetPosition(506);     // 50.6 -> 51
  EXPECT_EQ(paints.count, 2);
  meter_.SetMeterText("%!");
  EXPECT_EQ(paints.count, 3);
}

TEST_F(Meter, DrawsBevelBackgroundAndFill) {
  meter_.SetColor(Qt::white);
  meter_.SetFillColor(QColor(0, 200, 0));
  meter_.SetMeterText(" ");  // no glyphs over the bar
  QColor shadow, highlight;
  meter_.BevelColors(bvLowered, shadow, highlight);
  EXPECT_EQ(meter_.BevelOuter(), bvLowered);

  QImage img = Render(meter_);
  EXPECT_EQ(Px(img, 0, 0), Px(shadow));
  EXPECT_EQ(Px(img, 0, 16), Px(highlight));  // bottom-left corner: the bottom row's
  EXPECT_EQ(Px(img, 264, 0), Px(highlight));  // top-right corner: the right column's
  EXPECT_EQ(Px(img, 264, 16), Px(highlight));
  // 0 %: the inner rectangle is all background.
  for (int x = 1; x < 264; ++x) ASSERT_EQ(Px(img, x, 8), Px(QColor(Qt::white))) << x;

  // 100 %: the inner 263 x 15 pixels are filled, the frame is not.
  meter_.SetPosition(100);
  img = Render(meter_);
  for (int x = 1; x < 264; ++x) ASSERT_EQ(Px(img, x, 1), Px(QColor(0, 200, 0))) << x;
  EXPECT_EQ(Px(img, 1, 15), Px(QColor(0, 200, 0)));
  EXPECT_EQ(Px(img, 0, 8), Px(shadow));

  // 50 % of 263 pixels is 131.5, which rounds to the even 132.
  meter_.SetPosition(50);
  img = Render(meter_);
  EXPECT_EQ(Px(img, 132, 8), Px(QColor(0, 200, 0)));
  EXPECT_EQ(Px(img, 133, 8), Px(QColor(Qt::white)));

  // A raised bevel swaps the colours; none draws no frame.
  meter_.SetBevelOuter(bvRaised);
  img = Render(meter_);
  EXPECT_EQ(Px(img, 0, 0), Px(highlight));
  meter_.SetBevelOuter(bvNone);
  meter_.SetPosition(100);
  img = Render(meter_);
  EXPECT_EQ(Px(img, 0, 0), Px(QColor(0, 200, 0)));
  EXPECT_EQ(Px(img, 264, 16), Px(QColor(0, 200, 0)));
}

TEST_F(Meter, TextIsDrawnOverTheBar) {
  meter_.SetColor(Qt::white);
  meter_.SetPosition(0);
  meter_.SetMeterText("%");
  QImage img = Render(meter_);
  bool ink = false;
  for (int x = 1; x < 264 && !ink; ++x) {
    for (int y = 1; y < 16 && !ink; ++y) ink = Px(img, x, y) != Px(QColor(Qt::white));
  }
  EXPECT_TRUE(ink) << "the text 0% leaves no mark";
}

class Link : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUrlOpenerForTesting([this](const std::string& url) { opened_.push_back(url); });
    form_.resize(300, 100);
    link_.setGeometry(10, 10, 200, 24);
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  }
  void TearDown() override { SetUrlOpenerForTesting(nullptr); }
  QWidget form_;
  TLinkra link_{&form_};
  std::vector<std::string> opened_;
};

TEST_F(Link, ClickOpensTheAddressWithItsPrefixOnce) {
  EXPECT_EQ(link_.Protocol(), ptMAIL);
  EXPECT_EQ(link_.Caption(), link_.Url());
  EXPECT_TRUE(link_.font().underline());
  EXPECT_EQ(link_.font().pointSize(), 12);
  EXPECT_EQ(link_.FontColor(), QColor(Qt::blue));
  struct Row {
    TProtocol protocol;
    std::string url;
    std::string opened;
  };
  const std::vector<Row> rows = {
      {ptMAIL, "user@example.org", "mailto:user@example.org"},
      {ptMAIL, "mailto:user@example.org", "mailto:user@example.org"},
      {ptNONE, "user@example.org", "user@example.org"},
      {ptWWW, "example.org/a", "http://example.org/a"},
      {ptWWW, "http://example.org", "http://example.org"},
      // Only the kind's own prefix counts.
      {ptWWW, "https://example.org", "http://https://example.org"},
      {ptFTP, "ftp.example.org", "ftp://ftp.example.org"},
      {ptFILE, "/tmp/a b.txt", "file:/tmp/a b.txt"},
  };
  int clicks = 0;
  link_.OnClick = [&](TObject*) { ++clicks; };
  for (const Row& row : rows) {
    link_.SetProtocol(row.protocol);
    link_.SetUrl(row.url);
    QTest::mouseClick(&link_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  }
  ASSERT_EQ(opened_.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(opened_[i], rows[i].opened) << i;
  EXPECT_EQ(clicks, static_cast<int>(rows.size()));
}

TEST_F(Link, LeftButtonShowsActiveColourWhileDown) {
  std::vector<std::string> events;
  link_.OnMouseDown = [&](TObject*, TMouseButton b, int32_t, int32_t) { events.push_back("down" + std::to_string(b)); };
  link_.OnMouseUp = [&](TObject*, TMouseButton b, int32_t, int32_t) { events.push_back("up" + std::to_string(b)); };
  link_.SetFontColor(QColor(10, 20, 30));

  QTest::mousePress(&link_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(link_.FontColor(), link_.ActiveColor());
  EXPECT_EQ(link_.ActiveColor(), QColor(128, 0, 128));
  QTest::mouseRelease(&link_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(link_.FontColor(), QColor(10, 20, 30));
  EXPECT_EQ(events, (std::vector<std::string>{"down0", "up0"}));
  EXPECT_EQ(opened_.size(), 1u);

  // The right button: no colour, no event, nothing opened.
  events.clear();
  QTest::mousePress(&link_, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(link_.FontColor(), QColor(10, 20, 30));
  QTest::mouseRelease(&link_, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(opened_.size(), 1u);

  // A press that is released outside the label is no click.
  QTest::mousePress(&link_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  QTest::mouseRelease(&link_, Qt::LeftButton, Qt::NoModifier, QPoint(250, 5));
  EXPECT_EQ(opened_.size(), 1u);
  EXPECT_EQ(link_.FontColor(), QColor(10, 20, 30));
}

TEST_F(Link, DisabledLabelDoesNothing) {
  bool fired = false;
  link_.OnClick = [&](TObject*) { fired = true; };
  link_.OnMouseDown = [&](TObject*, TMouseButton, int32_t, int32_t) { fired = true; };
  link_.setEnabled(false);
  const QColor before = link_.FontColor();
  link_.MouseDown(mbLeft, 1, 1);
  link_.Click();
  link_.MouseUp(mbLeft, 1, 1);
  QTest::mouseClick(&link_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_FALSE(fired);
  EXPECT_EQ(link_.FontColor(), before);
  EXPECT_TRUE(opened_.empty());
}

}  // namespace
