// The user's regional settings that readings and the log are written in.
#pragma once

#include <ctime>
#include <string>

namespace platform {

// Date and time patterns in strftime notation, and the decimal separator.
//
// Read from the system's own settings rather than from QLocale: on Linux QLocale takes its formats
// from its own tables, not from the user's LC_TIME, and they differ where a user sees it: a
// two-digit year in the short date (08.12.26 against the system's 08.12.2026 for de_DE, 12/8/26
// against 12/08/2026 for en_US) and a time zone name appended to the long time (13:05:07 UTC).
// The decimal separators agree.
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
