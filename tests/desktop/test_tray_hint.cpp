// The executor's tray icon on a tray, the mouse resting on it: its hint follows the executor's
// state as a run starts and ends, whether the tooltip of the old state is still up or has gone,
// and every new hover shows the state of the moment.
#include <QCursor>
#include <QPixmap>
#include <QToolTip>

#include <functional>

#include "executor/Trayloom.h"
#include "tests/desktop/desktop_support.h"
#include "tests/desktop/tray_host.h"

namespace {

constexpr const char* kIdle = "Tarvelo - Исполнитель";
constexpr const char* kRun = "Выполнение задачи Документы";
constexpr int kBound = 5000;

// What a run of the executor does to its icon at its start and at its end.
void StartRun(TTrayloom& t) {
  t.SetCycleIcons(true);
  t.SetHint(kRun);
}
void EndRun(TTrayloom& t) {
  t.SetCycleIcons(false);
  t.SetHint(kIdle);
  t.SetIconIndex(0);
}

// Moves the mouse onto to in a few steps, each seen by the program, as a hand moves it; false
// when a step is not seen.
bool MoveMouse(QPoint to) {
  int moves = 0;
  struct Counter : QObject {
    int& seen;
    explicit Counter(int& s) : seen(s) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::MouseMove) ++seen;
      return false;
    }
  } counter(moves);
  qApp->installEventFilter(&counter);
  for (int step = 3; step >= 0; --step) {
    const int before = moves;
    QCursor::setPos(to - QPoint(step, step));
    if (!QTest::qWaitFor([&] { return moves > before; }, kBound)) break;
  }
  qApp->removeEventFilter(&counter);
  return moves >= 4;
}

bool TipShows(const char* text) {
  return QTest::qWaitFor([text] { return QToolTip::isVisible() && QToolTip::text() == QString::fromUtf8(text); },
                         kBound);
}

TEST(TrayHint, FollowsTheExecutorUnderTheRestingMouseAndOnEveryHover) {
  desktop::TrayHost host;
  ASSERT_TRUE(host.Running());
  std::vector<QIcon> images;
  for (int i = 0; i < 8; ++i) {
    QPixmap image(22, 22);
    image.fill(QColor::fromHsv(i * 40, 200, 200));
    images.emplace_back(image);
  }
  TTrayloom t;
  t.SetIconList(images);
  t.SetCycleInterval(450);
  t.SetHint(kIdle);
  t.SetIconVisible(true);
  t.SetIconIndex(0);
  t.Loaded();
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.Docked() == 1 && t.TrayIcon()->geometry().isValid(); }, kBound));
  // The icon settles in the tray's strip once it is embedded.
  ASSERT_TRUE(QTest::qWaitFor([&] { return t.TrayIcon()->geometry().top() > 0; }, kBound));
  const QPoint onIcon = t.TrayIcon()->geometry().center();
  const QPoint away(100, 100);

  struct Case {
    const char* change;
    std::function<void(TTrayloom&)> before;  // the state the icon is in first
    std::function<void(TTrayloom&)> then;    // the state it changes to
    bool mouseOnIcon;
    bool tipUp;         // the tooltip of the first state is still up at the change; else it has gone
    const char* shows;  // the tooltip after the change; nullptr for none
  };
  const Case cases[] = {
      {"a run starts while the idle hint is up", EndRun, StartRun, true, true, kRun},
      {"a run starts after the idle hint has gone", EndRun, StartRun, true, false, kRun},
      {"the run ends while its hint is up", StartRun, EndRun, true, true, kIdle},
      {"the run ends after its hint has gone", StartRun, EndRun, true, false, kIdle},
      {"a run starts with the mouse elsewhere", EndRun, StartRun, false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    QCursor::setPos(away);
    ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, kBound));
    c.before(t);
    if (c.mouseOnIcon) {
      // A new hover shows the hint of the moment.
      ASSERT_TRUE(MoveMouse(onIcon));
      ASSERT_TRUE(TipShows(t.Hint().c_str()));
    }
    if (!c.tipUp) {
      // The tray takes its tooltip away after some seconds; the mouse stays.
      QToolTip::hideText();
      ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, kBound));
    }
    c.then(t);
    if (c.shows) {
      EXPECT_TRUE(TipShows(c.shows)) << "shown: " << (QToolTip::isVisible() ? QToolTip::text().toStdString() : "none");
    } else {
      ASSERT_TRUE(desktop::QueuedEventsDelivered());
      EXPECT_FALSE(QToolTip::isVisible()) << QToolTip::text().toStdString();
    }
  }
  EndRun(t);
  QCursor::setPos(away);
}

}  // namespace
