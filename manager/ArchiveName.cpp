#include "manager/ArchiveName.h"

#include "platform/gui/datetime.h"

namespace {

// Characters from..from+count-1 (1-based), or what the text holds of them.
std::string Cut(const std::string& text, size_t from, size_t count) {
  return from - 1 < text.size() ? text.substr(from - 1, count) : std::string();
}

std::string WithTwoDigitHour(std::string time) {
  if (time.size() >= 2 && time[1] == ':') time.insert(0, "0");
  return time;
}

}  // namespace

std::string TimeToHHMM(const std::string& time) { return Cut(WithTwoDigitHour(time), 1, 5); }

std::string DateTimeArchiveName() {
  // One reading of the clock for both texts, so that a run at midnight cannot mix two days.
  const double now = platform::Now();
  const std::string d = platform::DateToStr(now);
  const std::string t = WithTwoDigitHour(platform::TimeToStr(now));
  return Cut(d, 1, 2) + "_" + Cut(d, 4, 2) + "_" + Cut(d, 7, 4) + "-" + Cut(t, 1, 2) + "_" + Cut(t, 4, 2) + ".zip";
}
