// The main window closed by the window manager's close button while a backup runs: it stays, as
// the running form does, until the run is over; closed then, it ends the program. At no moment
// does the program go on without a window.
#include <QCloseEvent>

#include "manager/backup.h"
#include "tests/desktop/desktop_support.h"
#include "tests/manager/archiveform_fixture.h"

namespace {

class Closing : public archiveform::ArchiveFormTest {};

// Counts the close requests that reach a window.
class CloseCounter : public QObject {
 public:
  int Count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::Close) ++Count;
    return QObject::eventFilter(watched, e);
  }
};

TEST_F(Closing, MainWindowStaysWhileABackupRunsAndThenEndsTheProgram) {
  desktop::RealBoxes boxes;
  Task("new", "Backup.zip", "1", "0");
  LargeFiles(2, 2 << 20);
  platform::Application* app = platform::App();
  ASSERT_EQ(app->MainForm(), nullptr) << "the program's forms are made once";
  // The program's own forms: the main window first, whose closing ends the message loop.
  TForm1* main = app->CreateForm<TForm1>();
  TForm5* run = app->CreateForm<TForm5>();
  CloseCounter closes;
  main->installEventFilter(&closes);

  bool closedDuringRun = false;
  const auto progress = run->Zip1.OnProgress;
  run->Zip1.OnProgress = [&](TObject* sender, uint8_t byFile, uint8_t byArchive) {
    if (closes.Count == 0 && desktop::CloseByWindowManager(*main)) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return closes.Count > 0; }, 5000)) << "the close button never reached it";
      closedDuringRun = !main->isVisible();
    }
    progress(sender, byFile, byArchive);
  };
  bool leftWithoutWindow = false;
  QTimer::singleShot(0, [&] {
    const auto stop = [&] { app->quit(); };
    if (!QTest::qWaitForWindowActive(main, 3000)) return stop();
    TStringGrid& grid = main->StringGrid1;
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier,
                      grid.visualRect(grid.model()->index(1, 1)).center());
    main->ToolButton5.click();
    if (!QTest::qWaitForWindowActive(run, 3000)) return stop();
    Click(run->xpButton1);  // the run, and its result box answered "ОК"
    Click(run->xpButton2);  // "Выход"
    if (!main->isVisible()) {
      leftWithoutWindow = true;
      return stop();
    }
    closes.Count = 0;
    if (!desktop::CloseByWindowManager(*main) || !QTest::qWaitFor([&] { return closes.Count > 0; }, 5000)) stop();
  });
  app->Run();

  EXPECT_GT(closes.Count, 0);
  EXPECT_FALSE(closedDuringRun) << "the main window closed under the run";
  EXPECT_FALSE(leftWithoutWindow) << "the program went on with no window";
  EXPECT_FALSE(main->isVisible()) << "closed after the run, the main window ends the program";
  EXPECT_FALSE(run->isVisible());
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].caption, "Результаты копирования");
  EXPECT_EQ(Run("unzip -tq " + Quoted(backup_ + "/Backup.zip")), 0);
}

}  // namespace
