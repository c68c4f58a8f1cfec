// The shared-handler timers: identity of every elapse, start and stop rules, the handler's life.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "executor/SimpleTimer.h"
#include "tests/support/QtTestSupport.h"

namespace {

constexpr int kBound = 5000;  // generous ceiling for waits on short timers


class SimpleTimerTest : public ::testing::Test {
 protected:
  // Records the sender of every elapse.
  TNotifyEvent Recorder(std::vector<TObject*>& log) {
    return [&log](TObject* Sender) { log.push_back(Sender); };
  }
};

TEST_F(SimpleTimerTest, FiresWithItsOwnIdentityUntilDeactivated) {
  std::vector<TObject*> log;
  TSimpleTimer t(10, Recorder(log));
  EXPECT_FALSE(t.Active()) << "a new timer is idle";
  t.SetActive(true);
  EXPECT_TRUE(t.Active());
  ASSERT_TRUE(QTest::qWaitFor([&] { return log.size() >= 3; }, kBound));
  for (TObject* s : log) EXPECT_EQ(s, &t);

  t.SetActive(false);
  EXPECT_FALSE(t.Active());
  const size_t seen = log.size();
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_EQ(log.size(), seen) << "a deactivated timer must not fire";
}

TEST_F(SimpleTimerTest, ZeroPeriodLeavesTheTimerIdle) {
  std::vector<TObject*> log;
  TSimpleTimer t(0, Recorder(log));
  EXPECT_FALSE(t.Arm());
  t.SetActive(true);
  EXPECT_FALSE(t.Active()) << "a period of 0 leaves the timer idle";
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_TRUE(log.empty());
}

TEST_F(SimpleTimerTest, NewPeriodRestartsARunningTimer) {
  std::vector<TObject*> log;
  TSimpleTimer t(600000, Recorder(log));
  t.SetActive(true);
  t.SetPeriod(10);
  EXPECT_EQ(t.Period(), 10u);
  EXPECT_TRUE(QTest::qWaitFor([&] { return log.size() >= 2; }, kBound))
      << "the new period must take effect at once, not after the old one";
}

TEST_F(SimpleTimerTest, ZeroPeriodOrNoEventStopsTheSystemTimerButKeepsActive) {
  std::vector<TObject*> log;
  TSimpleTimer t(10, Recorder(log));
  t.SetActive(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, kBound));

  t.SetPeriod(0);
  EXPECT_TRUE(t.Active());
  size_t seen = log.size();
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_EQ(log.size(), seen) << "period 0 must stop the system timer";
  t.SetPeriod(10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return log.size() > seen; }, kBound)) << "a new period restarts it";

  t.SetOnElapsed(nullptr);
  EXPECT_TRUE(t.Active());
  t.SetOnElapsed(Recorder(log));
  seen = log.size();
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_EQ(log.size(), seen) << "assigning the event again does not restart the timer";
  t.SetActive(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return log.size() > seen; }, kBound)) << "SetActive restarts it";
}

TEST_F(SimpleTimerTest, OneShotStopsAfterTheFirstElapse) {
  std::vector<TObject*> log;
  TSimpleTimer t(10, Recorder(log));
  t.SetOneShot(true);
  t.SetActive(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, kBound));
  EXPECT_FALSE(t.Active());
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(SimpleTimerTest, SeveralTimersShareOneHandlerAndStayApart) {
  std::vector<TObject*> log;
  TSimpleTimer a(10, Recorder(log)), b(15, Recorder(log)), c(20, Recorder(log));
  TSimpleTimerHandler* h = TimerHandler();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->UserCount(), 3);
  a.SetActive(true);
  b.SetActive(true);
  c.SetActive(true);
  auto count = [&](TObject* who) { return std::count(log.begin(), log.end(), who); };
  ASSERT_TRUE(QTest::qWaitFor([&] { return count(&a) >= 2 && count(&b) >= 2 && count(&c) >= 2; }, kBound));

  b.SetActive(false);
  const auto bSeen = count(&b), aSeen = count(&a), cSeen = count(&c);
  ASSERT_TRUE(QTest::qWaitFor([&] { return count(&a) > aSeen + 2 && count(&c) > cSeen + 2; }, kBound));
  EXPECT_EQ(count(&b), bSeen) << "stopping one timer must not touch the others, nor keep it running";
}

TEST_F(SimpleTimerTest, LastTimerFreesTheHandlerAndTheNextMakesANewOne) {
  ASSERT_EQ(TimerHandler(), nullptr) << "no timer is alive between tests";
  {
    TSimpleTimer t;
    ASSERT_NE(TimerHandler(), nullptr);
    EXPECT_EQ(TimerHandler()->UserCount(), 1);
  }
  EXPECT_EQ(TimerHandler(), nullptr);

  std::vector<TObject*> log;
  TSimpleTimer t(10, Recorder(log));
  ASSERT_NE(TimerHandler(), nullptr);
  EXPECT_EQ(TimerHandler()->UserCount(), 1);
  t.SetActive(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, kBound)) << "the new handler serves timers";

  TSimpleTimerHandler lone;
  lone.RemoveUser();
  EXPECT_EQ(lone.UserCount(), 0) << "the user count does not go below 0";
}

TEST_F(SimpleTimerTest, TimerMayBeFreedOrReplacedFromItsOwnEvent) {
  int fired = 0;
  auto t = std::make_unique<TSimpleTimer>();
  t->SetOnElapsed([&](TObject*) {
    ++fired;
    t.reset();  // frees the timer, and with it the event that is running
  });
  t->SetPeriod(10);
  t->SetActive(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return t == nullptr; }, kBound));
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(TimerHandler(), nullptr);
}

TEST_F(SimpleTimerTest, HugePeriodDoesNotWrapIntoAFailure) {
  std::vector<TObject*> log;
  TSimpleTimer t(std::numeric_limits<uint32_t>::max(), Recorder(log));
  EXPECT_TRUE(t.Arm());
  EXPECT_TRUE(t.Active());
  ASSERT_TRUE(testsupport::TimerPeriodsPass(10));
  EXPECT_TRUE(log.empty());
}

}  // namespace
