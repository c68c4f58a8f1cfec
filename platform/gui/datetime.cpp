#include "platform/gui/datetime.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace platform {
namespace {

std::function<double()>& Clock() {
  static std::function<double()> clock;
  return clock;
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// 1899-12-30, day 0 of the date-time, counted from 1970-01-01.
constexpr int64_t kEpochOffset = -25569;
constexpr int64_t kMsPerDay = 86400000;

// Whole days and milliseconds of the day; the time of a negative date-time is its fraction's
// absolute value, as the date-time convention has it.
void Split(double dateTime, int64_t& days, int64_t& ms) {
  double whole = std::trunc(dateTime);
  days = static_cast<int64_t>(whole);
  ms = static_cast<int64_t>(std::llround(std::fabs(dateTime - whole) * kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += dateTime < 0 ? -1 : 1;
  }
}

}  // namespace

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
  return days + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

double Now() {
  if (Clock()) return Clock()();
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec) +
         static_cast<double>(ms % 1000) / kMsPerDay;
}

std::string DateToStr(double dateTime) {
  int64_t days, ms;
  Split(dateTime, days, ms);
  int y, m, d;
  CivilFromDays(days + kEpochOffset, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
  return buf;
}

std::string TimeToStr(double dateTime) {
  int64_t days, ms;
  Split(dateTime, days, ms);
  const int64_t seconds = ms / 1000;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return buf;
}

bool LocalTimeExists(double dateTime) {
  int64_t days, ms;
  Split(dateTime, days, ms);
  int y, m, d;
  CivilFromDays(days + kEpochOffset, y, m, d);
  const int seconds = static_cast<int>(ms / 1000);
  std::tm asked{};
  asked.tm_year = y - 1900;
  asked.tm_mon = m - 1;
  asked.tm_mday = d;
  asked.tm_hour = seconds / 3600;
  asked.tm_min = seconds / 60 % 60;
  asked.tm_sec = seconds % 60;
  asked.tm_isdst = -1;
  std::tm shown = asked;
  // mktime moves a time that falls into a gap of the local clock out of it.
  if (std::mktime(&shown) == static_cast<std::time_t>(-1)) return true;
  return shown.tm_year == asked.tm_year && shown.tm_mon == asked.tm_mon && shown.tm_mday == asked.tm_mday &&
         shown.tm_hour == asked.tm_hour && shown.tm_min == asked.tm_min;
}

void SetClockForTesting(std::function<double()> clock) { Clock() = std::move(clock); }

}  // namespace platform
