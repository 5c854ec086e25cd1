// The user's date, time and decimal formats on POSIX systems.
//
// The formats are read through locale objects of their own (newlocale + nl_langinfo_l), never by
// setlocale: the process's C locale stays "C", so number parsing and printing elsewhere in the
// program cannot change with the user's settings.
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include "platform/Locale.h"
#include "platform/TimePatterns.h"

namespace platform {

namespace {

// One category from the environment (LC_ALL, then the category's own variable, then LANG). Each is
// read alone so that a broken setting of some other category cannot take this one down with it.
class TEnvironmentLocale {
 public:
  explicit TEnvironmentLocale(int categoryMask)
      : Locale(newlocale(categoryMask, "", static_cast<locale_t>(nullptr))) {}
  ~TEnvironmentLocale() {
    if (Locale != static_cast<locale_t>(nullptr)) freelocale(Locale);
  }
  TEnvironmentLocale(const TEnvironmentLocale&) = delete;
  TEnvironmentLocale& operator=(const TEnvironmentLocale&) = delete;

  // The item's text, or nullptr when the environment names no usable locale.
  const char* Item(nl_item item) const {
    return Locale != static_cast<locale_t>(nullptr) ? nl_langinfo_l(item, Locale) : nullptr;
  }

 private:
  locale_t Locale;
};

}  // namespace

TLocaleFormats UserLocaleFormats() {
  const TEnvironmentLocale time(LC_TIME_MASK);
  const TEnvironmentLocale numeric(LC_NUMERIC_MASK);
  return LocaleFormatsFrom(time.Item(D_FMT), time.Item(T_FMT), numeric.Item(RADIXCHAR));
}

std::string FormatLocalTime(const std::string& pattern, std::time_t when) {
  if (pattern.empty()) return {};
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return {};
  return FormatTime(pattern, local);
}

}  // namespace platform
