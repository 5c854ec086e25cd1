// The system-independent half of the locale backends: patterns, their fallbacks and formatting.
//
// Both backends read the user's formats their own way (nl_langinfo on POSIX, GetLocaleInfo on
// Win32) and then share these rules, so the log and the readings look the same on every system
// and the rules can be tested on any of them.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/Locale.h"

namespace platform {

// A Win32 date or time picture ("dd/MM/yyyy", "h:mm:ss tt") in strftime notation. Pictures without
// a leading zero (d, M, y, H, h, m, s) become "%-d" and the like, which FormatTime understands on
// every system; 't' (the first letter of AM/PM) becomes the whole designator, "%p"; era marks
// (g, gg) are dropped; quoted text is kept as it stands.
std::string StrftimeFromWindowsPicture(std::string_view picture);

// True when a strftime pattern shows seconds: %S, %T or %r, with or without flags ("%-S").
bool PatternShowsSeconds(std::string_view pattern);

// The formats a backend read, with the fallbacks of TLocaleFormats where the system gave nothing
// (nullptr or empty), and "%H:%M:%S" for a time pattern without seconds: log rows a tenth of a
// second apart must not all carry the same time.
TLocaleFormats LocaleFormatsFrom(const char* shortDate, const char* longTime, const char* decimal);

// `when` written with a strftime pattern; empty for an empty pattern. "%-x" (the field without
// leading zeros or blanks) is done here rather than left to the C library, which knows it only on
// some systems.
std::string FormatTime(std::string_view pattern, const std::tm& when);

}  // namespace platform
