// The tray icon component without a system tray: its state, cycling, clicks told from double
// clicks, the popup menu, balloon clicks and hiding the owner form to the tray. Activations are
// injected through QSystemTrayIcon::activated, exactly as Qt delivers them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPixmap>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <QToolTip>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "executor/Trayloom.h"
#include "platform/gui/application.h"
#include "tests/support/QtTestSupport.h"

namespace {

constexpr int kBound = 5000;       // generous ceiling for waits on short timers
constexpr int kDoubleClickMs = 40;  // short double-click time for the tests


std::vector<QIcon> Images(int n) {
  std::vector<QIcon> out;
  for (int i = 0; i < n; ++i) {
    QPixmap p(32, 32);
    p.fill(QColor::fromHsv(i * 40, 200, 200));
    out.emplace_back(p);
  }
  return out;
}

bool Same(const QIcon& a, const QIcon& b) { return a.cacheKey() == b.cacheKey(); }

const char* ButtonName(Qt::MouseButton b) {
  return b == Qt::LeftButton ? "L" : b == Qt::RightButton ? "R" : b == Qt::MiddleButton ? "M" : "?";
}

class TrayloomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedDoubleClick_ = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(kDoubleClickMs);
  }
  void TearDown() override { QGuiApplication::styleHints()->setMouseDoubleClickInterval(savedDoubleClick_); }

  // Logs every mouse and click event of `t`, and checks that each carries `t` as its sender.
  void Record(TTrayloom& t) {
    TObject* self = &t;
    t.OnMouseDown = [this, self](TObject* s, Qt::MouseButton b, Qt::KeyboardModifiers, int32_t x, int32_t y) {
      EXPECT_EQ(s, self);
      EXPECT_EQ(QPoint(x, y), QCursor::pos());
      log_.push_back(std::string("down ") + ButtonName(b));
    };
    t.OnMouseUp = [this, self](TObject* s, Qt::MouseButton b, Qt::KeyboardModifiers, int32_t, int32_t) {
      EXPECT_EQ(s, self);
      log_.push_back(std::string("up ") + ButtonName(b));
    };
    t.OnClick = [this, self](TObject* s) {
      EXPECT_EQ(s, self);
      log_.push_back("click");
    };
  }
  void RecordDblClick(TTrayloom& t) {
    TObject* self = &t;
    t.OnDblClick = [this, self](TObject* s) {
      EXPECT_EQ(s, self);
      log_.push_back("dblclick");
    };
  }
  static void Activate(TTrayloom& t, QSystemTrayIcon::ActivationReason r) { emit t.TrayIcon()->activated(r); }
  bool Logged(const std::string& what) const { return std::find(log_.begin(), log_.end(), what) != log_.end(); }

  std::vector<std::string> log_;
  int savedDoubleClick_ = 400;
};

TEST_F(TrayloomTest, KeepsVisibilityWithoutASystemTray) {
  TTrayloom t;
  EXPECT_TRUE(t.Enabled());
  EXPECT_TRUE(t.ShowHint());
  EXPECT_FALSE(t.IconVisible());
  t.SetIcon(Images(1)[0]);
  EXPECT_EQ(t.AddTrayIcon(), QSystemTrayIcon::isSystemTrayAvailable()) << "the result says whether a tray took it";
  EXPECT_TRUE(t.IconVisible());
  EXPECT_TRUE(t.TrayIcon()->isVisible()) << "the icon is kept shown, for a tray that appears later";
  t.SetIconVisible(false);
  EXPECT_FALSE(t.IconVisible());
  EXPECT_FALSE(t.TrayIcon()->isVisible());
  t.SetIconVisible(true);
  EXPECT_TRUE(t.TrayIcon()->isVisible());
}

TEST_F(TrayloomTest, IconIndexStaysInsideTheList) {
  TTrayloom t;
  t.SetIconIndex(5);
  EXPECT_EQ(t.IconIndex(), 0) << "without images the index is 0";

  const auto images = Images(8);
  t.SetIconList(images);
  t.SetIconIndex(9);
  EXPECT_EQ(t.IconIndex(), 7);
  EXPECT_TRUE(Same(t.Icon(), images[7]));
  EXPECT_TRUE(Same(t.TrayIcon()->icon(), images[7])) << "the tray must show the chosen image";
  t.SetIconIndex(-3);
  EXPECT_EQ(t.IconIndex(), 0);
  EXPECT_TRUE(Same(t.TrayIcon()->icon(), images[0]));

  t.SetIconIndex(4);
  const auto other = Images(3);
  t.SetIconList(other);
  EXPECT_EQ(t.IconIndex(), 0) << "a new list starts at image 0";
  EXPECT_TRUE(Same(t.TrayIcon()->icon(), other[0]));

  const QIcon own = Images(1)[0];
  t.SetIcon(own);
  EXPECT_TRUE(Same(t.TrayIcon()->icon(), own));
}

TEST_F(TrayloomTest, TooltipFollowsHintAndShowHintAndIsCutToWholeCharacters) {
  TTrayloom t;
  t.SetHint("Tarvelo - Исполнитель");
  EXPECT_EQ(t.TrayIcon()->toolTip(), QString::fromUtf8("Tarvelo - Исполнитель"));
  t.SetShowHint(false);
  EXPECT_TRUE(t.TrayIcon()->toolTip().isEmpty()) << "ShowHint cleared empties the tooltip";
  EXPECT_EQ(t.Hint(), "Tarvelo - Исполнитель") << "the hint itself is kept";
  t.SetShowHint(true);
  EXPECT_FALSE(t.TrayIcon()->toolTip().isEmpty());

  t.SetHint(std::string(200, 'a'));
  EXPECT_EQ(t.TrayIcon()->toolTip(), QString(127, 'a'));

  // Cyrillic takes two bytes a character: the cut counts characters, never bytes.
  std::string cyr;
  for (int i = 0; i < 200; ++i) cyr += "Ж";
  t.SetHint(cyr);
  EXPECT_EQ(t.TrayIcon()->toolTip(), QString(127, QChar(0x0416)));

  std::string wide;
  for (int i = 0; i < 200; ++i) wide += "\xF0\x9F\x92\xBE";  // U+1F4BE, a surrogate pair in UTF-16
  t.SetHint(wide);
  const QString tip = t.TrayIcon()->toolTip();
  EXPECT_EQ(tip.size(), 254);
  EXPECT_EQ(tip.toUcs4().size(), 127);
  EXPECT_TRUE(tip.back().isLowSurrogate()) << "no half character at the end";
}

TEST_F(TrayloomTest, CyclingReportsTheNextIndexAndWraps) {
  TTrayloom t;
  const auto images = Images(8);
  t.SetIconList(images);
  std::vector<int32_t> next;
  bool shownRight = true;
  TObject* self = &t;
  t.OnCycle = [&](TObject* s, int32_t n) {
    EXPECT_EQ(s, self);
    // The image of the current step is already in the tray when the next index is reported.
    shownRight = shownRight && Same(t.TrayIcon()->icon(), images[static_cast<size_t>((n + 7) % 8)]);
    next.push_back(n);
  };
  t.SetCycleInterval(10);
  t.SetCycleIcons(true);
  EXPECT_EQ(t.IconIndex(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return next.size() >= 9; }, kBound));
  t.SetCycleIcons(false);
  next.resize(9);
  EXPECT_EQ(next, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 0, 1}));
  EXPECT_TRUE(shownRight);

  const size_t seen = next.size();
  std::vector<int32_t> after;
  t.OnCycle = [&](TObject*, int32_t n) { after.push_back(n); };
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_TRUE(after.empty()) << "cycling must stop when CycleIcons is cleared";
  EXPECT_EQ(next.size(), seen);

  // The end of a failed run: the failure image stays.
  t.SetIconIndex(7);
  EXPECT_TRUE(Same(t.TrayIcon()->icon(), images[7]));
}

TEST_F(TrayloomTest, NewCycleIntervalRestartsAtImageZero) {
  TTrayloom t;
  const auto images = Images(8);
  t.SetIconList(images);
  std::vector<int32_t> next;
  t.OnCycle = [&](TObject*, int32_t n) { next.push_back(n); };
  t.SetCycleInterval(10);
  t.SetCycleIcons(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return t.IconIndex() >= 3; }, kBound));
  // A long new interval: the cycle must be rearmed with it, not run on at the old pace.
  t.SetCycleInterval(600000);
  EXPECT_EQ(t.IconIndex(), 0);
  EXPECT_TRUE(Same(t.TrayIcon()->icon(), images[0]));
  next.clear();
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_TRUE(next.empty());

  t.SetCycleInterval(12);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !next.empty(); }, kBound));
  EXPECT_EQ(next.front(), 1);
  t.SetCycleIcons(false);
}

TEST_F(TrayloomTest, CyclingWithoutImagesChangesNothing) {
  TTrayloom t;
  const QIcon own = Images(1)[0];
  t.SetIcon(own);
  int cycles = 0;
  t.OnCycle = [&](TObject*, int32_t) { ++cycles; };
  t.SetCycleInterval(10);
  t.SetCycleIcons(true);
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_EQ(cycles, 0);
  EXPECT_EQ(t.IconIndex(), 0);
  EXPECT_TRUE(Same(t.TrayIcon()->icon(), own));
}

TEST_F(TrayloomTest, WithoutDoubleClickHandlerTheClickComesAtOnce) {
  TTrayloom t;
  Record(t);
  Activate(t, QSystemTrayIcon::Trigger);
  EXPECT_EQ(log_, (std::vector<std::string>{"down L", "click", "up L"}));

  log_.clear();
  Activate(t, QSystemTrayIcon::MiddleClick);
  EXPECT_EQ(log_, (std::vector<std::string>{"down M", "up M"}));
}

TEST_F(TrayloomTest, WithDoubleClickHandlerTheClickWaitsAndADoubleClickIsNoClick) {
  TTrayloom t;
  Record(t);
  RecordDblClick(t);

  Activate(t, QSystemTrayIcon::Trigger);
  EXPECT_EQ(log_, (std::vector<std::string>{"down L", "up L"})) << "the click waits out the double-click time";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Logged("click"); }, kBound));
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "click"), 1);

  log_.clear();
  Activate(t, QSystemTrayIcon::Trigger);
  Activate(t, QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(Logged("dblclick"));
  ASSERT_TRUE(testsupport::TimerPeriodsPass(kDoubleClickMs));
  EXPECT_FALSE(Logged("click")) << "a double click must not also give a click";

  // The double-click flag is spent: the next single click is a click again.
  log_.clear();
  Activate(t, QSystemTrayIcon::Trigger);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Logged("click"); }, kBound));
}

TEST_F(TrayloomTest, DisabledIgnoresTheMouseButNotBalloonClicks) {
  TTrayloom t;
  Record(t);
  RecordDblClick(t);
  QMenu menu;
  menu.addAction("x");
  t.SetPopupMenu(&menu);
  t.SetEnabled(false);
  for (auto r : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
                 QSystemTrayIcon::MiddleClick})
    Activate(t, r);
  ASSERT_TRUE(testsupport::TimerPeriodsPass(kDoubleClickMs));
  EXPECT_TRUE(log_.empty());
  EXPECT_FALSE(menu.isVisible());

  TObject* sender = nullptr;
  t.OnBalloonHintClick = [&](TObject* s) { sender = s; };
  emit t.TrayIcon()->messageClicked();
  EXPECT_EQ(sender, static_cast<TObject*>(&t));
}

TEST_F(TrayloomTest, MenuOpensOnTheRightButtonAndOnTheLeftOnlyWithLeftPopup) {
  TTrayloom t;
  Record(t);
  QMenu menu;
  menu.addAction("Просмотр протокола");
  t.SetPopupMenu(&menu);

  Activate(t, QSystemTrayIcon::Context);
  EXPECT_TRUE(menu.isVisible());
  EXPECT_EQ(log_, (std::vector<std::string>{"down R", "up R"}));
  menu.hide();

  Activate(t, QSystemTrayIcon::Trigger);
  EXPECT_FALSE(menu.isVisible());
  Activate(t, QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(menu.isVisible());

  t.SetLeftPopup(true);
  log_.clear();
  Activate(t, QSystemTrayIcon::Trigger);
  EXPECT_TRUE(menu.isVisible()) << "with LeftPopup the left press opens the menu";
  EXPECT_TRUE(Logged("click"));
  menu.hide();
}

TEST_F(TrayloomTest, DoubleClickPicksTheDefaultItemUnlessLeftPopup) {
  TTrayloom t;
  auto menu = std::make_unique<QMenu>();
  menu->addAction("Просмотр протокола");
  QAction* n2 = menu->addAction("Планировщик задач");
  menu->addAction("Выход");
  QSignalSpy picked(n2, &QAction::triggered);

  t.SetPopupMenu(menu.get());
  Activate(t, QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(picked.count(), 0) << "no item is marked as default";

  menu->setDefaultAction(n2);
  Activate(t, QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(picked.count(), 1);

  t.SetLeftPopup(true);
  Activate(t, QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(picked.count(), 1) << "with LeftPopup a double click does not pick the default item";

  menu.reset();
  EXPECT_EQ(t.PopupMenu(), nullptr) << "a destroyed menu is let go";
  Activate(t, QSystemTrayIcon::Context);
  Activate(t, QSystemTrayIcon::DoubleClick);
}

TEST_F(TrayloomTest, MinimisingTheOwnerHidesItToTheTray) {
  QWidget form;
  form.resize(248, 85);
  form.show();
  TTrayloom t(&form);
  t.SetIcon(Images(1)[0]);
  int minimised = 0;
  TObject* self = &t;
  t.OnMinimizeToTray = [&](TObject* s) {
    EXPECT_EQ(s, self);
    ++minimised;
  };

  form.showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.isVisible()) << "without MinimizeToTray the form only minimises";
  EXPECT_EQ(minimised, 0);
  form.showNormal();
  QCoreApplication::processEvents();

  t.SetMinimizeToTray(true);
  form.showMinimized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, kBound));
  EXPECT_EQ(minimised, 1);
  EXPECT_TRUE(t.IconVisible());
  EXPECT_FALSE(form.isMinimized()) << "hidden to the tray, the form comes back at its size when shown";
}

TEST_F(TrayloomTest, LoadedAsksStartupAndAppliesTheStoredProperties) {
  QWidget form;
  form.show();
  TTrayloom t(&form);
  const auto images = Images(8);
  t.SetIconList(images);
  t.SetIconVisible(true);
  t.SetCycleInterval(10);
  bool asked = false;
  t.OnStartup = [&](TObject*, bool& show) {
    EXPECT_TRUE(show) << "the flag comes preset";
    asked = true;
    show = false;
  };
  t.Loaded();
  EXPECT_TRUE(asked);
  EXPECT_FALSE(form.isVisible()) << "a False answer hides the main form";
  EXPECT_TRUE(t.TrayIcon()->isVisible());
}

TEST_F(TrayloomTest, AHintChangedWhileItsTooltipIsUpShowsAtOnce) {
  // A tray shows the tooltip when the mouse comes to rest on the icon and keeps its text: a run
  // that starts under the resting mouse must not go on under the idle hint.
  TTrayloom t;
  t.SetHint("Tarvelo - Исполнитель");
  t.SetIconVisible(true);
  QToolTip::showText(QPoint(40, 40), t.TrayIcon()->toolTip());
  ASSERT_TRUE(QToolTip::isVisible());
  t.SetHint("Выполнение задачи Документы");
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), QString::fromUtf8("Выполнение задачи Документы"));
  t.SetHint("Tarvelo - Исполнитель");
  EXPECT_EQ(QToolTip::text(), QString::fromUtf8("Tarvelo - Исполнитель"));
  t.SetShowHint(false);
  EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, kBound)) << "no hint, no tooltip";

  // Someone else's tooltip is left alone.
  t.SetShowHint(true);
  QToolTip::showText(QPoint(40, 40), "другое окно");
  t.SetHint("Выполнение задачи Почта");
  EXPECT_EQ(QToolTip::text(), QString::fromUtf8("другое окно"));
  QToolTip::hideText();
}

TEST_F(TrayloomTest, MouseOverTheIconEntersMovesAndExitsByTheExitTimer) {
  TTrayloom t;
  std::vector<std::string> log;
  TObject* self = &t;
  t.OnMouseEnter = [&](TObject* s) {
    EXPECT_EQ(s, self);
    log.push_back("enter");
  };
  t.OnMouseExit = [&](TObject* s) {
    EXPECT_EQ(s, self);
    log.push_back("exit");
  };
  t.OnMouseMove = [&](TObject* s, Qt::KeyboardModifiers, int32_t x, int32_t y) {
    EXPECT_EQ(s, self);
    log.push_back("move " + std::to_string(x) + "," + std::to_string(y));
  };
  TTrayIconHandler* handler = TrayHandler();
  ASSERT_NE(handler, nullptr);
  const auto move = [&] { handler->TrayCallbackProc(TTrayIconHandler::kTrayCallback, &t, TTrayIconHandler::WM_MOUSEMOVE); };

  QCursor::setPos(100, 100);
  move();
  EXPECT_EQ(log, (std::vector<std::string>{"move 100,100"})) << "without WantEnterExitEvents no enter";
  log.clear();

  t.SetWantEnterExitEvents(true);
  move();
  move();
  EXPECT_EQ(log, (std::vector<std::string>{"enter", "move 100,100", "move 100,100"})) << "one enter per visit";
  log.clear();
  ASSERT_TRUE(testsupport::TimerPeriodsPass(20));
  EXPECT_TRUE(log.empty()) << "the cursor rests where it last moved: no exit";
  QCursor::setPos(300, 200);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, kBound));
  EXPECT_EQ(log, (std::vector<std::string>{"exit"}));
  log.clear();
  move();
  EXPECT_EQ(log, (std::vector<std::string>{"enter", "move 300,200"})) << "the next visit enters again";

  // Mouse messages wait for Enabled; the messages of a closing session are answered 1.
  log.clear();
  t.SetEnabled(false);
  QCursor::setPos(10, 10);
  move();
  EXPECT_TRUE(std::find(log.begin(), log.end(), "move 10,10") == log.end());
  for (uint32_t m : {TTrayIconHandler::WM_DESTROY, TTrayIconHandler::WM_CLOSE, TTrayIconHandler::WM_QUERYENDSESSION,
                     TTrayIconHandler::WM_QUIT, TTrayIconHandler::WM_ENDSESSION, TTrayIconHandler::WM_NCDESTROY}) {
    EXPECT_EQ(handler->TrayCallbackProc(m, &t, 0), 1) << m;
  }
  EXPECT_EQ(handler->TrayCallbackProc(0x0400, &t, 0), 0);
  t.SetWantEnterExitEvents(false);
}

TEST_F(TrayloomTest, AFalseStartupAnswerKeepsTheApplicationsMainFormHidden) {
  platform::Application* app = platform::App();
  ASSERT_NE(app, nullptr);
  app->SetShowMainForm(true);
  QWidget form;
  TTrayloom t(&form);
  t.OnStartup = [](TObject*, bool& show) { show = true; };
  t.Loaded();
  EXPECT_TRUE(app->ShowMainForm()) << "a True answer changes nothing";
  t.OnStartup = [](TObject*, bool& show) { show = false; };
  t.Loaded();
  EXPECT_FALSE(app->ShowMainForm()) << "Run must not show the main form";
  app->SetShowMainForm(true);
}

}  // namespace
