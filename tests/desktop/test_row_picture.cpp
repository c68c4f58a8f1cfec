// A missing row picture on a desktop: the error box closes, the main window is active again, and
// that activation must not report the picture once more (the box and the activation would take
// turns for ever). The rows are filled without the picture.
#include "tests/desktop/desktop_support.h"
#include "tests/manager/mainwindow_fixture.h"

namespace {

class RowPicture : public mainwindow::MainWindowTest {};

TEST_F(RowPicture, MissingPictureIsReportedOnceAndTheRowsAreFilled) {
  desktop::RealBoxes boxes;
  std::filesystem::remove(home_ + "/1.bmp");
  Store({mainwindow::OnDemand("Первая"), mainwindow::OnDemand("Вторая")});
  form_ = std::make_unique<TForm1>();
  form_->show();
  // The box closes and the window is active again: an activation that reported the picture anew
  // would have shown its box by then.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !boxes.Boxes().empty() && !QApplication::activeModalWidget() && form_->isActiveWindow(); }, 8000));
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_NE(boxes.Boxes()[0].text.find(home_ + "/1.bmp"), std::string::npos) << boxes.Boxes()[0].text;
  EXPECT_TRUE(boxes.Boxes()[0].activated);
  EXPECT_TRUE(form_->isActiveWindow());
  EXPECT_EQ(Cell(1, 1), "Первая");
  EXPECT_EQ(Cell(2, 1), "Вторая");

  // Later activations refill the grid and stay silent.
  WriteBytes(home_ + "/records.dat", "");
  Store({mainwindow::OnDemand("Первая"), mainwindow::OnDemand("Вторая"), mainwindow::OnDemand("Третья")});
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 3000));
  form_->activateWindow();
  // The activation refills the grid as it is delivered, before the window counts as active.
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get(), 3000));
  EXPECT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(Cell(3, 1), "Третья");
}

}  // namespace
