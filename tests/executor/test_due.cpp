// The schedule side of a tick: hour-and-minute texts, the archive name by date and time, the
// weekday texts, and the four due tests with their edge cases.
#include <gtest/gtest.h>

#include <string>

#include "executor/Dorvexal.h"
#include "manager/ArchiveName.h"
#include "platform/gui/datetime.h"

namespace {

double At(int y, int mo, int d, int h, int mi, int s = 0) { return platform::EncodeDateTime(y, mo, d, h, mi, s); }

struct ClockGuard {
  explicit ClockGuard(double t) {
    platform::SetClockForTesting([t] { return t; });
  }
  ~ClockGuard() { platform::SetClockForTesting(nullptr); }
};

// One task in a table of its own.
TTaskTable Task(const std::string& kind, const std::string& weekDay, const std::string& date,
                const std::string& time) {
  TTaskTable table;
  table(Kind, 1) = kind;
  table(WeekDay, 1) = weekDay;
  table(StartDate, 1) = date;
  table(StartTime, 1) = time;
  return table;
}

// Which of the four tests hold, as a string of W, D, M, O.
std::string Due(const TTaskTable& table, double when) {
  const TTickClock clock = TickClock(when);
  std::string out;
  if (IsWeekdayDue(table, 1, clock)) out += 'W';
  if (IsDailyDue(table, 1, clock)) out += 'D';
  if (IsMonthlyDue(table, 1, clock)) out += 'M';
  if (IsOneTimeDue(table, 1, clock)) out += 'O';
  return out;
}

TEST(HourMinute, OneDigitHourGetsLeadingZeroAndSecondsGo) {
  EXPECT_EQ(TimeToHHMM("9:05:33"), "09:05");
  EXPECT_EQ(TimeToHHMM("14:30:00"), "14:30");
  EXPECT_EQ(TimeToHHMM("09:05:00"), "09:05");
  EXPECT_EQ(TimeToHHMM("0:00:00"), "00:00");
  EXPECT_EQ(TimeToHHMM(""), "");
  EXPECT_EQ(TimeToHHMM("9"), "9");
}

TEST(DateTimeName, DayMonthYearHourMinuteFromTheClock) {
  {
    ClockGuard clock(At(2026, 12, 8, 9, 5, 33));
    EXPECT_EQ(DateTimeArchiveName(), "08_12_2026-09_05.zip");
  }
  {
    ClockGuard clock(At(2026, 12, 8, 14, 30, 0));
    EXPECT_EQ(DateTimeArchiveName(), "08_12_2026-14_30.zip");
  }
  // Seconds are not part of the name: every run of a minute gets the same one.
  {
    ClockGuard clock(At(2026, 1, 2, 0, 0, 59));
    EXPECT_EQ(DateTimeArchiveName(), "02_01_2026-00_00.zip");
  }
  {
    ClockGuard clock(At(2026, 1, 2, 0, 0, 0));
    EXPECT_EQ(DateTimeArchiveName(), "02_01_2026-00_00.zip");
  }
}

TEST(WeekDays, EveryDayOfAWeekHasTheEditorsText) {
  // 07.12.2026 is a Monday.
  const char* expected[7] = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресение"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(WeekDayName(At(2026, 12, 7 + i, 12, 0)), expected[i]) << i;
  // Either side of the date-time's day 0 (a Saturday) and across a leap day.
  EXPECT_EQ(WeekDayName(At(1899, 12, 30, 0, 0)), "Суббота");
  EXPECT_EQ(WeekDayName(At(1899, 12, 29, 23, 0)), "Пятница");
  EXPECT_EQ(WeekDayName(At(2028, 2, 29, 0, 0)), "Вторник");
  EXPECT_EQ(WeekDayName(At(2028, 3, 1, 23, 59, 59)), "Среда");
}

TEST(DueTests, WeeklyOnSundayIsVoskresenie) {
  const TTaskTable table = Task("Еженедельная", "Воскресение", "01.01.2026", "9:05:00");
  EXPECT_EQ(Due(table, At(2026, 12, 13, 9, 5, 10)), "W");  // a Sunday
  EXPECT_EQ(Due(table, At(2026, 12, 14, 9, 5, 10)), "");   // Monday
  EXPECT_EQ(Due(Task("Еженедельная", "Воскресенье", "01.01.2026", "9:05:00"), At(2026, 12, 13, 9, 5)), "");
}

TEST(DueTests, StoredTimeWithOneDigitHourIsDueInItsMinuteOnly) {
  const TTaskTable table = Task("Ежедневная", "Понедельник", "08.12.2026", "9:05:00");
  EXPECT_EQ(Due(table, At(2026, 12, 8, 9, 5, 0)), "D");
  EXPECT_EQ(Due(table, At(2026, 12, 8, 9, 5, 59)), "D");
  EXPECT_EQ(Due(table, At(2026, 12, 8, 9, 4, 59)), "");
  EXPECT_EQ(Due(table, At(2026, 12, 8, 9, 6, 0)), "");
  EXPECT_EQ(Due(table, At(2026, 12, 8, 21, 5, 0)), "");
  // The grid's normalised form of the same time.
  EXPECT_EQ(Due(Task("Ежедневная", "", "", "09:05:00"), At(2026, 12, 8, 9, 5, 0)), "D");
}

TEST(DueTests, MonthlyRunsOnItsDayOfEveryMonthOneTimeOnItsDateOnly) {
  const TTaskTable monthly = Task("Ежемесячная", "Понедельник", "15.03.2026", "14:30:00");
  const TTaskTable once = Task("Одноразовая", "Понедельник", "15.03.2026", "14:30:00");
  EXPECT_EQ(Due(monthly, At(2026, 3, 15, 14, 30)), "M");
  EXPECT_EQ(Due(monthly, At(2026, 7, 15, 14, 30)), "M");
  EXPECT_EQ(Due(monthly, At(2027, 1, 15, 14, 30)), "M");
  EXPECT_EQ(Due(monthly, At(2026, 7, 16, 14, 30)), "");
  EXPECT_EQ(Due(monthly, At(2026, 7, 5, 14, 30)), "");  // "05" is not "15"
  EXPECT_EQ(Due(once, At(2026, 3, 15, 14, 30)), "O");
  EXPECT_EQ(Due(once, At(2026, 4, 15, 14, 30)), "");
  EXPECT_EQ(Due(once, At(2027, 3, 15, 14, 30)), "");
  EXPECT_EQ(Due(once, At(2026, 3, 15, 14, 31)), "");
}

// A monthly task dated the 29th, 30th or 31st runs in every month: on the month's last day where
// the month has no such day, and on its own day where it has.
TEST(DueTests, MonthlyOnADayAShortMonthLacksRunsOnItsLastDay) {
  const TTaskTable on31 = Task("Ежемесячная", "", "31.01.2026", "9:05:00");
  EXPECT_EQ(Due(on31, At(2026, 2, 28, 9, 5)), "M");
  EXPECT_EQ(Due(on31, At(2026, 4, 30, 9, 5)), "M");
  EXPECT_EQ(Due(on31, At(2028, 2, 29, 9, 5)), "M");  // a leap year's February
  EXPECT_EQ(Due(on31, At(2028, 2, 28, 9, 5)), "");
  EXPECT_EQ(Due(on31, At(2026, 3, 31, 9, 5)), "M");
  EXPECT_EQ(Due(on31, At(2026, 3, 30, 9, 5)), "");   // March has its 31st
  EXPECT_EQ(Due(on31, At(2026, 4, 30, 9, 6)), "");
  int months = 0;
  for (int m = 1; m <= 12; ++m) {
    for (int d = 28; d <= 31; ++d) {
      const double day = At(2026, m, 1, 9, 5) + (d - 1);
      if (platform::DateToStr(day).substr(3, 2) == (m < 10 ? "0" : "") + std::to_string(m) && !Due(on31, day).empty())
        ++months;
    }
  }
  EXPECT_EQ(months, 12) << "once in every month of the year";

  const TTaskTable on29 = Task("Ежемесячная", "", "29.01.2026", "9:05:00");
  EXPECT_EQ(Due(on29, At(2026, 2, 28, 9, 5)), "M");
  EXPECT_EQ(Due(on29, At(2028, 2, 29, 9, 5)), "M");
  EXPECT_EQ(Due(on29, At(2028, 2, 28, 9, 5)), "");
  EXPECT_EQ(Due(on29, At(2026, 4, 30, 9, 5)), "");  // April has its 29th
  EXPECT_EQ(Due(Task("Ежемесячная", "", "30.01.2026", "9:05:00"), At(2026, 2, 28, 9, 5)), "M");
  // A day every month has runs on that day only; a one-time task keeps its whole date.
  EXPECT_EQ(Due(Task("Ежемесячная", "", "28.01.2026", "9:05:00"), At(2026, 4, 30, 9, 5)), "");
  EXPECT_EQ(Due(Task("Одноразовая", "", "31.03.2026", "9:05:00"), At(2026, 4, 30, 9, 5)), "");
}

TEST(DueTests, EachKindByItsOwnTestOnlySoOneRunPerTick) {
  // 08.12.2026 is a Tuesday: a stored weekday of Tuesday does not make the other kinds weekly.
  const double when = At(2026, 12, 8, 9, 5);
  EXPECT_EQ(Due(Task("Ежедневная", "Вторник", "08.12.2026", "9:05:00"), when), "D");
  EXPECT_EQ(Due(Task("Ежемесячная", "Вторник", "08.12.2026", "9:05:00"), when), "M");
  EXPECT_EQ(Due(Task("Одноразовая", "Вторник", "08.12.2026", "9:05:00"), when), "O");
  EXPECT_EQ(Due(Task("Еженедельная", "Вторник", "08.12.2026", "9:05:00"), when), "W");
  // An on-demand task has an empty kind and time; an unknown kind or case never matches.
  EXPECT_EQ(Due(Task("", "", "", ""), when), "");
  EXPECT_EQ(Due(Task("ежедневная", "", "", "9:05:00"), when), "");
  // A task number that was never loaded reads as empty fields.
  EXPECT_FALSE(IsDailyDue(TTaskTable(), 5, TickClock(when)));
}

}  // namespace
