// The owner-drawn controls rendered offscreen: the gradient bands, frames and check marks pixel
// by pixel, and the mouse and keyboard rules of the push button and the check box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include <cmath>

#include "manager/XPGraphUtil.h"
#include "manager/xpButton.h"
#include "manager/xpCheckBox.h"
#include "tests/support/QtTestSupport.h"

namespace {

const QColor kBackdrop(1, 2, 3);

QImage Render(QWidget& w) {
  QImage img(w.size(), QImage::Format_RGB32);
  img.fill(kBackdrop);
  w.render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
  return img;
}

QColor At(const QImage& img, int x, int y) { return QColor(img.pixel(x, y)); }

// Band i of n from a to b, rounded to nearest with halves away from zero.
QColor Band(const QColor& a, const QColor& b, int i, int n) {
  auto ch = [&](int from, int to) {
    return from + static_cast<int>(std::lround(static_cast<double>(i) * (to - from) / (n - 1)));
  };
  return QColor(ch(a.red(), b.red()), ch(a.green(), b.green()), ch(a.blue(), b.blue()));
}

void Enter(QWidget& w) {
  QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&w, &e);
}

// Shows a control on the shown form, away from wherever the pointer happens to be.
void Place(QWidget& w) {
  w.show();
  QApplication::processEvents();
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&w, &leave);
}

void Mouse(QWidget& w, QEvent::Type type, Qt::MouseButton button, QPoint pos = QPoint(5, 5)) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent e(type, QPointF(pos), QPointF(w.mapToGlobal(pos)), button, held, Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

// The events Qt delivers for a double click of the left button.
void DoubleClick(QWidget& w) {
  Mouse(w, QEvent::MouseButtonPress, Qt::LeftButton);
  Mouse(w, QEvent::MouseButtonRelease, Qt::LeftButton);
  Mouse(w, QEvent::MouseButtonPress, Qt::LeftButton);
  Mouse(w, QEvent::MouseButtonDblClick, Qt::LeftButton);
  Mouse(w, QEvent::MouseButtonRelease, Qt::LeftButton);
}

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.resize(300, 200);
    form_.show();
    form_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  }
  QWidget form_;
};

TEST(GradientFill, BandsRemainderAndDegenerateRects) {
  QImage img(20, 20, QImage::Format_RGB32);
  img.fill(kBackdrop);
  QPainter p(&img);
  const QColor from(0, 0, 0), to(90, 180, 255);

  GradientFill(p, {0, 0, 20, 1}, from, to, 0, 10);  // one pixel thick: the end colour
  GradientFill(p, {0, 1, 10, 11}, from, to, 2, 255);  // 10 bands of one pixel across
  GradientFill(p, {10, 1, 20, 4}, from, to, 0, 1);    // steps 1: solid from colour
  GradientFill(p, {10, 4, 20, 11}, from, to, 3, 3);   // 3 bands of 3 pixels, 1 of remainder
  GradientFill(p, {5, 12, 5, 20}, to, to, 0, 5);      // empty: nothing
  p.end();

  EXPECT_EQ(At(img, 7, 0), to);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(At(img, x, 5), Band(from, to, x, 10)) << "x " << x;
  EXPECT_EQ(At(img, 15, 2), from);
  // Direction 3 starts with the to colour at the left and leaves the from colour at the right.
  EXPECT_EQ(At(img, 10, 6), to);
  EXPECT_EQ(At(img, 13, 6), Band(to, from, 1, 3));
  EXPECT_EQ(At(img, 18, 6), from);
  EXPECT_EQ(At(img, 19, 6), from);
  EXPECT_EQ(At(img, 5, 15), kBackdrop);
  EXPECT_EQ(MulDiv(3, -48, 7), -21);
  EXPECT_EQ(MulDiv(1, -30, 7), -4);
  EXPECT_EQ(MulDiv(1, 7, 2), 4);
  EXPECT_EQ(MulDiv(1, -7, 2), -4);
}

TEST_F(Controls, ButtonAtRestHasEightBandsAndOneRemainderRow) {
  TxpButton b(&form_);
  Place(b);
  b.SetCaption("");
  ASSERT_EQ(b.size(), QSize(75, 25));
  const QImage img = Render(b);
  const QColor from(253, 253, 253), to(205, 204, 223);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(At(img, 10, 4 + 2 * i), Band(from, to, i, 8)) << "band " << i;
    EXPECT_EQ(At(img, 60, 5 + 2 * i), Band(from, to, i, 8)) << "band " << i;
  }
  EXPECT_EQ(At(img, 10, 20), to) << "the remainder row";
  EXPECT_EQ(At(img, 0, 0), kBackdrop) << "the rounded corner is not painted";
  EXPECT_EQ(At(img, 1, 0), QColor(214, 211, 211));
  EXPECT_EQ(At(img, 1, 12), QColor(0, 60, 116));
  EXPECT_EQ(At(img, 10, 2), QColor(206, 231, 255));
  EXPECT_EQ(At(img, 10, 22), QColor(105, 130, 238));
  EXPECT_EQ(At(img, 2, 12), QColor(188, 212, 246));
  EXPECT_EQ(At(img, 3, 12), QColor(255, 255, 255));
  EXPECT_EQ(At(img, 71, 12), QColor(255, 255, 255));
  EXPECT_EQ(At(img, 10, 24), QColor(255, 255, 255));
  EXPECT_EQ(At(img, 74, 12), QColor(255, 255, 255));
  EXPECT_EQ(At(img, 74, 2), QColor(214, 211, 211)) << "a line stops before its end point";
}

TEST_F(Controls, ButtonPressedUnderThePointerHasTwelveBandsAndAHotFrame) {
  TxpButton b(&form_);
  Place(b);
  b.SetCaption("");
  Enter(b);
  Mouse(b, QEvent::MouseButtonPress, Qt::LeftButton);
  ASSERT_TRUE(b.IsPressed() && b.IsHot());
  b.clearFocus();  // the focus rectangle would invert the face's edge
  const QImage img = Render(b);
  const QColor from(253, 253, 253), to(205, 204, 223);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(At(img, 10, 4 + i), Band(to, from, i, 12)) << "band " << i;
  for (int y = 16; y <= 20; ++y) EXPECT_EQ(At(img, 10, y), from) << "remainder row " << y;
  EXPECT_EQ(At(img, 3, 12), QColor(248, 179, 48));
  EXPECT_EQ(At(img, 20, 3), QColor(248, 179, 48));
}

TEST_F(Controls, DisabledButtonIsFlatWithButtonFaceCorners) {
  TxpButton b(&form_);
  Place(b);
  b.SetCaption("");
  b.SetEnabled(false);
  const QImage img = Render(b);
  const QColor face = ButtonFaceColor(&b);
  EXPECT_EQ(At(img, 0, 0), face);
  EXPECT_EQ(At(img, 74, 24), face);
  EXPECT_EQ(At(img, 10, 10), QColor(241, 241, 237));
  EXPECT_EQ(At(img, 1, 12), QColor(196, 195, 191));
  EXPECT_EQ(At(img, 0, 12), QColor(214, 211, 211));
}

TEST_F(Controls, ButtonMouseRules) {
  TxpButton b(&form_);
  Place(b);
  int clicks = 0;
  b.OnClick = [&](TObject* sender) {
    EXPECT_EQ(sender, &b);
    ++clicks;
  };
  Mouse(b, QEvent::MouseButtonPress, Qt::RightButton);
  Mouse(b, QEvent::MouseButtonRelease, Qt::RightButton);
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(b.IsPressed()) << "the right button does nothing";

  Mouse(b, QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_TRUE(b.hasFocus());
  Mouse(b, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(200, 5));
  EXPECT_EQ(clicks, 0) << "a release elsewhere does not click";
  EXPECT_TRUE(b.IsPressed());
  Mouse(b, QEvent::MouseButtonRelease, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);

  DoubleClick(b);
  EXPECT_EQ(clicks, 3) << "a double click clicks twice";
}

TEST_F(Controls, ButtonKeyRules) {
  TxpButton b(&form_);
  Place(b);
  QLineEdit other(&form_);
  other.show();
  int clicks = 0;
  b.OnClick = [&](TObject*) { ++clicks; };
  b.setFocus();
  QTest::keyPress(&b, Qt::Key_Space);
  EXPECT_EQ(clicks, 0);
  QTest::keyRelease(&b, Qt::Key_A);
  EXPECT_EQ(clicks, 1) << "Space pressed, another key released: a click";
  QTest::keyPress(&b, Qt::Key_Return);
  QTest::keyRelease(&b, Qt::Key_Return);
  EXPECT_EQ(clicks, 2);
  QTest::keyRelease(&b, Qt::Key_B);
  EXPECT_EQ(clicks, 2) << "a release without a press clicks nothing";

  // Enter and Escape that the focused control leaves alone reach Default and Cancel buttons.
  other.setFocus();
  QTest::keyClick(&other, Qt::Key_Escape);
  QTest::keyClick(&other, Qt::Key_Return);
  EXPECT_EQ(clicks, 2);
  b.SetCancel(true);
  QTest::keyClick(&other, Qt::Key_Escape);
  EXPECT_EQ(clicks, 3);
  b.SetEnabled(false);
  QTest::keyClick(&other, Qt::Key_Escape);
  EXPECT_EQ(clicks, 3) << "Escape clicks a Cancel button only while it is enabled";
  b.SetEnabled(true);
  b.SetDefault(true);
  QTest::keyClick(&other, Qt::Key_Return);
  EXPECT_EQ(clicks, 4);
}

TEST_F(Controls, ButtonAcceleratorIsUnderlinedAndClicksInEitherCaseEvenDisabled) {
  TxpButton b(&form_);
  Place(b);
  b.SetCaption("&Ok");
  int clicks = 0;
  b.OnClick = [&](TObject*) { ++clicks; };
  QTest::keyClick(&form_, Qt::Key_O, Qt::AltModifier);
  QTest::keyClick(&form_, Qt::Key_K, Qt::AltModifier);
  EXPECT_EQ(clicks, 1);
  b.setFocus();
  QTest::keyClick(&b, Qt::Key_O, Qt::AltModifier | Qt::ShiftModifier);  // the upper case
  QTest::sendKeyEvent(QTest::Click, &b, Qt::Key_O, QString("O"), Qt::AltModifier);
  EXPECT_EQ(clicks, 3);
  QTest::keyClick(&b, Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(clicks, 3) << "only Alt makes the accelerator";
  b.SetEnabled(false);
  QTest::keyClick(&form_, Qt::Key_O, Qt::AltModifier);
  EXPECT_EQ(clicks, 4);

  b.SetEnabled(true);
  const QImage img = Render(b);
  const QFontMetrics fm(b.font());
  const int x0 = (75 - fm.horizontalAdvance("Ok")) / 2;
  const int y = (25 - fm.height()) / 2 + fm.height();
  const QColor ink = b.palette().color(QPalette::ButtonText);
  EXPECT_EQ(At(img, x0, y), ink);
  EXPECT_EQ(At(img, x0 + fm.horizontalAdvance("O") - 1, y), ink);
  EXPECT_NE(At(img, x0 + fm.horizontalAdvance("O") + 1, y), ink) << "only the accelerator is underlined";
}

TEST_F(Controls, ButtonModalResultEndsTheFormAfterOnClick) {
  QDialog dialog;
  TxpButton b(&dialog);
  b.SetModalResult(2);
  bool ran = false;
  b.OnClick = [&](TObject*) { ran = dialog.isVisible(); };
  QTimer::singleShot(0, [&] {
    Mouse(b, QEvent::MouseButtonPress, Qt::LeftButton);
    Mouse(b, QEvent::MouseButtonRelease, Qt::LeftButton);
  });
  EXPECT_EQ(dialog.exec(), 2);
  EXPECT_TRUE(ran);
}

TEST_F(Controls, CheckBoxFaceBorderAndMark) {
  TxpCheckBox c(&form_);
  Place(c);
  c.SetCaption("");
  ASSERT_EQ(c.size(), QSize(97, 17));
  const QColor from(220, 220, 215), white(255, 255, 255), border(28, 81, 128);
  QImage img = Render(c);
  for (int i = 1; i < 10; ++i) EXPECT_EQ(At(img, 10, 1 + i), Band(from, white, i, 10)) << "band " << i;
  for (int y = 11; y <= 13; ++y) EXPECT_EQ(At(img, 10, y), white) << "remainder " << y;
  for (QPoint p : {QPoint(1, 8), QPoint(14, 8), QPoint(8, 1), QPoint(8, 14)}) EXPECT_EQ(At(img, p.x(), p.y()), border);
  EXPECT_EQ(At(img, 0, 8), c.Color());
  EXPECT_EQ(At(img, 15, 8), c.Color());
  EXPECT_NE(At(img, 6, 10), QColor(0, 160, 0));

  c.SetChecked(true);
  img = Render(c);
  for (QPoint p : {QPoint(4, 7), QPoint(6, 10), QPoint(10, 5)}) EXPECT_EQ(At(img, p.x(), p.y()), QColor(0, 160, 0));

  c.SetEnabled(false);
  img = Render(c);
  EXPECT_EQ(At(img, 6, 10), QColor(192, 192, 192));
  EXPECT_EQ(At(img, 12, 12), white);
  EXPECT_EQ(At(img, 1, 8), QColor(128, 128, 128));

  c.SetAlignment(cbaLeft);
  c.SetEnabled(true);
  c.SetChecked(false);
  img = Render(c);
  EXPECT_EQ(At(img, 82, 8), border);
  EXPECT_EQ(At(img, 95, 8), border);
  EXPECT_EQ(At(img, 1, 8), c.Color());
}

TEST_F(Controls, CheckBoxHotRingPressedFaceAndFocusRectangle) {
  TxpCheckBox c(&form_);
  Place(c);
  c.SetCaption("Протокол");
  const QImage rest = Render(c);
  Enter(c);
  QImage img = Render(c);
  EXPECT_EQ(At(img, 2, 2), Band(QColor(255, 240, 207), QColor(248, 179, 48), 1, 10));
  EXPECT_EQ(At(img, 8, 8), c.Color()) << "only a ring of the hot gradient shows";
  EXPECT_EQ(At(img, 13, 13), QColor(248, 179, 48));

  Mouse(c, QEvent::MouseButtonPress, Qt::LeftButton);
  img = Render(c);
  EXPECT_EQ(At(img, 8, 2), Band(QColor(176, 176, 167), QColor(241, 239, 223), 1, 10));
  ASSERT_TRUE(c.IsFocused());
  EXPECT_NE(At(img, 17, 1), At(rest, 17, 1)) << "the focus rectangle's first dot";
  c.SetEnabled(false);
  img = Render(c);
  EXPECT_EQ(At(img, 17, 1), c.Color()) << "no focus rectangle while disabled";
}

TEST_F(Controls, CheckBoxToggleRules) {
  TxpCheckBox c(&form_);
  Place(c);
  c.SetCaption("&Журнал");
  int clicks = 0;
  bool seen = false;
  c.OnClick = [&](TObject*) {
    ++clicks;
    seen = c.Checked();
  };
  c.SetChecked(true);
  EXPECT_EQ(clicks, 0) << "setting Checked from code does not fire OnClick";

  Mouse(c, QEvent::MouseButtonPress, Qt::LeftButton);
  Mouse(c, QEvent::MouseButtonRelease, Qt::LeftButton);
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(seen) << "OnClick sees the new value";

  DoubleClick(c);
  EXPECT_FALSE(c.Checked()) << "a double click toggles twice";
  EXPECT_EQ(clicks, 3);

  Mouse(c, QEvent::MouseButtonPress, Qt::RightButton);
  Mouse(c, QEvent::MouseButtonRelease, Qt::RightButton);
  EXPECT_EQ(clicks, 3);

  c.setFocus();
  QTest::keyPress(&c, Qt::Key_Return);
  QTest::keyRelease(&c, Qt::Key_Return);
  EXPECT_EQ(clicks, 3) << "Enter does not press a check box";
  QTest::keyPress(&c, Qt::Key_Space);
  QTest::keyRelease(&c, Qt::Key_X);
  EXPECT_EQ(clicks, 4);
  EXPECT_TRUE(c.Checked());

  QLineEdit other(&form_);
  other.show();
  other.setFocus();
  // A Cyrillic key comes with the upper-case letter as its code and the typed letter as text.
  QTest::sendKeyEvent(QTest::Click, &other, Qt::Key(0x0416), QString("ж"), Qt::AltModifier);
  EXPECT_EQ(clicks, 5);
  EXPECT_FALSE(c.Checked());
  EXPECT_TRUE(c.hasFocus()) << "the accelerator takes the focus";
  c.SetEnabled(false);
  QTest::sendKeyEvent(QTest::Click, &form_, Qt::Key(0x0416), QString("Ж"), Qt::AltModifier);
  EXPECT_EQ(clicks, 5) << "a disabled check box ignores its accelerator";
}

}  // namespace
