// The POSIX locale backend: the user's formats from the environment, without touching the
// process's own locale, and local time written with a pattern.
#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "platform/Locale.h"

namespace platform {
namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class TEnvironment {
 public:
  ~TEnvironment() {
    for (const auto& [name, value] : Saved) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    tzset();
  }
  void Set(const std::string& name, const char* value) {
    if (!Saved.count(name)) {
      const char* old = std::getenv(name.c_str());
      Saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      setenv(name.c_str(), value, 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  // Only these variables decide the locale: the rest of the machine's settings stay out.
  void SetLocale(const char* all, const char* lang = nullptr) {
    for (const char* name : {"LC_TIME", "LC_NUMERIC", "LC_MESSAGES", "LC_CTYPE"})
      Set(name, nullptr);
    Set("LC_ALL", all);
    Set("LANG", lang);
  }

 private:
  std::map<std::string, std::optional<std::string>> Saved;
};

bool LocaleExists(const char* name) {
  locale_t probe = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
  if (probe == static_cast<locale_t>(nullptr)) return false;
  freelocale(probe);
  return true;
}

const TLocaleFormats CFormats{"%m/%d/%y", "%H:%M:%S", "."};

TEST(LocalePosix, ReadsTheCLocale) {
  TEnvironment environment;
  environment.SetLocale("C");
  EXPECT_EQ(UserLocaleFormats(), CFormats);
}

TEST(LocalePosix, ReadsEachCategoryOnItsOwn) {
  // A broken setting of a category we do not read must not take ours down with it.
  TEnvironment environment;
  environment.SetLocale(nullptr, "C");
  environment.Set("LC_MESSAGES", "xx_XX.kest-missing");
  EXPECT_EQ(UserLocaleFormats(), CFormats);
}

TEST(LocalePosix, FallsBackToTheDefaultsForAnUnknownLocale) {
  TEnvironment environment;
  environment.SetLocale("xx_XX.kest-missing");
  EXPECT_EQ(UserLocaleFormats(), TLocaleFormats{});
}

TEST(LocalePosix, LeavesTheProcessLocaleAlone) {
  if (!LocaleExists("C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale on this machine";
  // The environment names a locale other than the process's, so that taking it up would show.
  const std::string before = setlocale(LC_ALL, nullptr);
  TEnvironment environment;
  environment.SetLocale(before == "C" ? "C.UTF-8" : "C");
  UserLocaleFormats();
  EXPECT_EQ(setlocale(LC_ALL, nullptr), before);
}

TEST(LocalePosix, ReadsAGermanLocale) {
  if (!LocaleExists("de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale on this machine";
  TEnvironment environment;
  environment.SetLocale("de_DE.UTF-8");
  const TLocaleFormats formats = UserLocaleFormats();
  EXPECT_EQ(formats.ShortDateFormat, "%d.%m.%Y");
  EXPECT_EQ(formats.LongTimeFormat, "%T");
  EXPECT_EQ(formats.DecimalSeparator, ",");
}

TEST(LocalePosix, FormatsLocalTime) {
  constexpr std::time_t When = 1709787969;  // 2024-03-07 05:06:09 UTC
  struct TCase {
    const char* Zone;
    const char* Pattern;
    const char* Text;
  };
  const TCase cases[] = {
      {"UTC0", "%d/%m/%Y %H:%M:%S", "07/03/2024 05:06:09"},
      {"UTC0", "%m/%d/%y", "03/07/24"},
      {"UTC0", "%-d.%-m.%Y %-H:%M", "7.3.2024 5:06"},
      {"KST-2", "%H:%M:%S", "07:06:09"},  // two hours east: local time, not UTC
      {"KST+6", "%d %H", "06 23"},        // six hours west: the day before
      {"UTC0", "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Zone) + " " + c.Pattern);
    TEnvironment environment;
    environment.Set("TZ", c.Zone);
    tzset();
    EXPECT_EQ(FormatLocalTime(c.Pattern, When), c.Text);
  }
}

}  // namespace
}  // namespace platform
