#include "manager/ArchiveName.h"

#include <algorithm>
#include <utility>

#include "platform/gui/datetime.h"

namespace {

// Characters from..from+count-1 (1-based), or what the text holds of them.
std::string Cut(const std::string& text, size_t from, size_t count) {
  return from - 1 < text.size() ? text.substr(from - 1, count) : std::string();
}

// The name without its extension, and the extension with its dot.
std::pair<std::string, std::string> SplitExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {name, std::string()};
  return {name.substr(0, dot), name.substr(dot)};
}

// ".z" and two or more digits: the extension of a split archive's volume.
bool IsVolumeExtension(const std::string& ext) {
  if (ext.size() < 4 || ext.compare(0, 2, ".z") != 0) return false;
  return std::all_of(ext.begin() + 2, ext.end(), [](char c) { return c >= '0' && c <= '9'; });
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

bool IsDateTimeArchiveName(const std::string& name) {
  static constexpr char kPattern[] = "##_##_####-##_##.zip";
  if (name.size() != sizeof kPattern - 1) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (kPattern[i] == '#' ? !digit : name[i] != kPattern[i]) return false;
  }
  return true;
}

bool IsTaskArchiveName(const std::string& name, const std::string& archiveName) {
  if (archiveName.empty()) return IsDateTimeArchiveName(name);
  const std::string fixed = SplitExtension(archiveName).second.empty() ? archiveName + ".zip" : archiveName;
  if (name == fixed || IsDateTimeArchiveName(name)) return true;
  const auto [stem, ext] = SplitExtension(name);
  if (!IsVolumeExtension(ext)) return false;
  return stem == SplitExtension(fixed).first || IsDateTimeArchiveName(stem + ".zip");
}
