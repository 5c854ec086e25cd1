// The user's date, time and decimal formats on Windows, read from the user locale.
//
// Windows gives its formats as pictures ("dd/MM/yyyy", "HH:mm:ss"); they are turned into strftime
// patterns once here, and written with the same rules as on every other system.
#include <time.h>

#include "platform/Locale.h"
#include "platform/TimePatterns.h"
#include "platform/Win32.h"

namespace platform {

namespace {

// The locale item's text, empty when the system has none.
std::string LocaleItem(LCTYPE item) {
  char text[128] = {};
  if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, item, text, static_cast<int>(sizeof text)) == 0) {
    return {};
  }
  return text;
}

}  // namespace

TLocaleFormats UserLocaleFormats() {
  const std::string date = StrftimeFromWindowsPicture(LocaleItem(LOCALE_SSHORTDATE));
  const std::string time = StrftimeFromWindowsPicture(LocaleItem(LOCALE_STIMEFORMAT));
  const std::string decimal = LocaleItem(LOCALE_SDECIMAL);
  return LocaleFormatsFrom(date.c_str(), time.c_str(), decimal.c_str());
}

std::string FormatLocalTime(const std::string& pattern, std::time_t when) {
  if (pattern.empty()) return {};
  std::tm local{};
  if (localtime_s(&local, &when) != 0) return {};
  return FormatTime(pattern, local);
}

}  // namespace platform
