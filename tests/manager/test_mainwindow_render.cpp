// The window painted offscreen: the row picture at x 1, y r x 21 of every task row, also in a
// grid scrolled past more rows than fit; every schedule shown whole in its column.
#include "tests/manager/mainwindow_fixture.h"

#include <QFontMetrics>
#include <QImage>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace {

using mainwindow::Automatic;
using mainwindow::MainWindowTest;
using mainwindow::OnDemand;

class GridPicture : public MainWindowTest {
 protected:
  QImage Grab() {
    QApplication::processEvents();
    return form_->StringGrid1.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  // True when the picture lies whole at (x, y) of the image.
  static bool PictureAt(const QImage& shot, const QImage& picture, int x, int y) {
    for (int py = 0; py < picture.height(); ++py) {
      for (int px = 0; px < picture.width(); ++px) {
        if (x + px >= shot.width() || y + py < 0 || y + py >= shot.height()) return false;
        if (shot.pixel(x + px, y + py) != picture.pixel(px, py)) return false;
      }
    }
    return true;
  }
  QImage picture_{QString::fromStdString(mainwindow::kPictureSource)};
};

TEST_F(GridPicture, EveryTaskRowShowsThePicture) {
  ASSERT_FALSE(picture_.isNull());
  picture_ = picture_.convertToFormat(QImage::Format_RGB32);
  Store({OnDemand("A"), OnDemand("B"), OnDemand("C")});
  Open();
  const QImage shot = Grab();
  EXPECT_FALSE(PictureAt(shot, picture_, 1, 0));  // row 0 carries no task
  for (int r = 1; r <= 3; ++r) EXPECT_TRUE(PictureAt(shot, picture_, 1, r * 21)) << r;
  EXPECT_FALSE(PictureAt(shot, picture_, 1, 4 * 21));
}

TEST_F(GridPicture, ManyTasksScrollAndKeepTheirPictures) {
  picture_ = picture_.convertToFormat(QImage::Format_RGB32);
  std::vector<TTaskRecord> tasks;
  for (int i = 1; i <= 30; ++i) tasks.push_back(OnDemand("Task" + std::to_string(i)));
  Store(tasks);
  TForm1& form = Open();
  ASSERT_EQ(form.StringGrid1.rowCount(), 31);
  EXPECT_EQ(TaskTable(TaskName, 30), "Task30");
  QScrollBar* bar = form.StringGrid1.verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  bar->setValue(bar->maximum());
  const QImage shot = Grab();
  const int offset = form.StringGrid1.rowViewportPosition(30) - 30 * 21;
  EXPECT_TRUE(PictureAt(shot, picture_, 1, 30 * 21 + offset));
  EXPECT_TRUE(PictureAt(shot, picture_, 1, 29 * 21 + offset));
}

TEST_F(GridPicture, AMissingPictureStillListsEveryTask) {
  std::filesystem::remove(home_ + "/1.bmp");
  Store({OnDemand("A"), OnDemand("B")});
  Open();
  ASSERT_FALSE(answerer_.Boxes().empty());  // the file-open error
  EXPECT_NE(answerer_.Boxes()[0].text.find("1.bmp"), std::string::npos);
  EXPECT_EQ(Cell(1, 1), "A");
  EXPECT_EQ(Cell(2, 1), "B");
}

TEST_F(MainWindowTest, EveryScheduleShowsWholeWithItsDateAndTime) {
  const std::vector<TTaskRecord> tasks = {
      Automatic("Разовая", "Одноразовая", "Понедельник", "09.12.2026", "9:05:00"),
      Automatic("Воскресная", "Еженедельная", "Воскресение", "09.12.2026", "23:59:00"),
      Automatic("Понедельничная", "Еженедельная", "Понедельник", "09.12.2026", "23:59:00"),
      Automatic("Месячная", "Ежемесячная", "Понедельник", "28.12.2026", "10:30:00"),
      Automatic("Дневная", "Ежедневная", "Понедельник", "09.12.2026", "9:05:00"),
      OnDemand("По запросу"),
  };
  Store(tasks);
  TForm1& form = Open();
  TStringGrid& grid = form.StringGrid1;
  ASSERT_EQ(grid.rowCount(), static_cast<int>(tasks.size()) + 1);
  // The text's room as the style lays the item out: the cell inside its grid line, less the
  // style's text margin at each side.
  const int margin = grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1;
  for (int r = 1; r < grid.rowCount(); ++r) {
    const QTableWidgetItem* item = grid.item(r, 2);
    ASSERT_NE(item, nullptr) << r;
    SCOPED_TRACE(item->text().toStdString());
    QStyleOptionViewItem option;
    option.initFrom(grid.viewport());
    option.rect = grid.visualRect(grid.model()->index(r, 2));
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = item->text();
    option.font = item->font().resolve(grid.font());
    option.fontMetrics = QFontMetrics(option.font);
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const QRect text = grid.style()->subElementRect(QStyle::SE_ItemViewItemText, &option, &grid);
    EXPECT_LE(option.fontMetrics.horizontalAdvance(item->text()), text.width() - 2 * margin);
    EXPECT_EQ(option.fontMetrics.height(), QFontMetrics(grid.font()).height()) << "as high as every other text";
    EXPECT_EQ(grid.columnWidth(2), TForm1::kDescriptionWidth + 1) << "the columns keep their widths";
  }
  EXPECT_EQ(Cell(2, 2), "Автоматическая, Еженедельная, Воскресение, 23:59");
}

}  // namespace
