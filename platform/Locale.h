// The user's regional settings that readings and the log are written in.
#pragma once

#include <ctime>
#include <string>

namespace platform {

// Date and time patterns in strftime notation, and the decimal separator.
struct TLocaleFormats {
  std::string ShortDateFormat = "%d/%m/%Y";
  std::string LongTimeFormat = "%H:%M:%S";  // hours, minutes and seconds
  std::string DecimalSeparator = ".";

  bool operator==(const TLocaleFormats&) const = default;
};

// Reads the user's settings (POSIX: LC_TIME and LC_NUMERIC of the environment; Win32: the user
// locale). Never changes the process's C locale. Falls back to the defaults above where the system
// gives nothing usable.
TLocaleFormats UserLocaleFormats();

// `when` (local time) written with a strftime pattern; empty for an empty pattern.
std::string FormatLocalTime(const std::string& pattern, std::time_t when);

}  // namespace platform
