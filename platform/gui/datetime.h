#pragma once
// Date and time texts in the fixed formats of the stored files, dd.MM.yyyy and H:mm:ss,
// whatever the machine's locale. A date-time is a double of days since 1899-12-30 (local time),
// the fraction the time of day.
#include <functional>
#include <string>

namespace platform {

double Now();  // the local date and time
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second);

std::string DateToStr(double dateTime);  // 08.12.2026
std::string TimeToStr(double dateTime);  // 9:05:33 (one-digit hour before 10)

// False for a local time that the clock never shows, such as the hour that a change to summer
// time leaves out (2:30 on 28.03.2027 in Europe/Berlin).
bool LocalTimeExists(double dateTime);

// Replaces the clock for tests; empty: the real clock.
void SetClockForTesting(std::function<double()> clock);

}  // namespace platform
