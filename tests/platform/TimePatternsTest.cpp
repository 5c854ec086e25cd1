// The locale rules both backends share: Win32 pictures into strftime patterns, the fallbacks, and
// formatting with fields without leading zeros.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "platform/TimePatterns.h"

namespace platform {
namespace {

TEST(TimePatterns, TurnsWindowsPicturesIntoStrftimePatterns) {
  const std::pair<const char*, const char*> cases[] = {
      {"dd/MM/yyyy", "%d/%m/%Y"},
      {"M/d/yyyy", "%-m/%-d/%Y"},
      {"d.M.yy", "%-d.%-m.%y"},
      {"yyyy-MM-dd", "%Y-%m-%d"},
      {"y", "%-y"},
      {"dddd, MMMM d, yyyy", "%A, %B %-d, %Y"},
      {"ddd dd MMM", "%a %d %b"},
      {"HH:mm:ss", "%H:%M:%S"},
      {"H:mm:ss", "%-H:%M:%S"},
      {"h:mm:ss tt", "%-I:%M:%S %p"},
      {"hh:m:s t", "%I:%-M:%-S %p"},
      {"HH'h'mm'm'ss's'", "%Hh%Mm%Ss"},
      {"'Date:' dd", "Date: %d"},
      {"'It''s' HH", "It's %H"},
      {"HH '' mm", "%H ' %M"},
      {"100% HH", "100%% %H"},
      {"gg yyyy", " %Y"},
      {"'unclosed dd", "unclosed dd"},
      {"", ""},
  };
  for (const auto& [picture, pattern] : cases) {
    SCOPED_TRACE(picture);
    EXPECT_EQ(StrftimeFromWindowsPicture(picture), pattern);
  }
}

TEST(TimePatterns, KnowsWhetherAPatternShowsSeconds) {
  const std::pair<const char*, bool> cases[] = {
      {"%H:%M:%S", true},    {"%T", true},       {"%r", true},     {"%-S", true}, {"%OS", true},
      {"%I.%M.%S %p", true}, {"100%%%S", true},  {"%H:%M", false}, {"%R", false}, {"", false},
      {"%%S", false},        {"%H:%M:S", false}, {"%", false},     {"%-", false},
  };
  for (const auto& [pattern, shows] : cases) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(PatternShowsSeconds(pattern), shows);
  }
}

TEST(TimePatterns, FallsBackWhereTheSystemGaveNothingUsable) {
  struct TCase {
    const char* Name;
    const char* Date;
    const char* Time;
    const char* Decimal;
    TLocaleFormats Expected;
  };
  const TLocaleFormats defaults;
  const TCase cases[] = {
      {"nothing at all", nullptr, nullptr, nullptr, defaults},
      {"all empty", "", "", "", defaults},
      {"a full set", "%d.%m.%Y", "%T", ",", {"%d.%m.%Y", "%T", ","}},
      {"time without seconds", "%Y-%m-%d", "%H:%M", ".", {"%Y-%m-%d", "%H:%M:%S", "."}},
      {"12-hour time with seconds",
       "%m/%d/%y",
       "%I:%M:%S %p",
       ".",
       {"%m/%d/%y", "%I:%M:%S %p", "."}},
      {"only a decimal comma", nullptr, nullptr, ",", {"%d/%m/%Y", "%H:%M:%S", ","}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(LocaleFormatsFrom(c.Date, c.Time, c.Decimal), c.Expected);
  }
}

std::tm Time(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_wday = 4;  // 7 March 2024 was a Thursday; the weekday is only read by %a and %A
  return t;
}

TEST(TimePatterns, FormatsFieldsWithAndWithoutLeadingZeros) {
  const std::tm morning = Time(2024, 3, 7, 5, 6, 9);
  const std::tm midnight = Time(2024, 12, 31, 0, 0, 0);
  struct TCase {
    const std::tm* When;
    const char* Pattern;
    const char* Text;
  };
  const TCase cases[] = {
      {&morning, "%d/%m/%Y", "07/03/2024"},
      {&morning, "%H:%M:%S", "05:06:09"},
      {&morning, "%-d/%-m/%-y %-H:%-M:%-S", "7/3/24 5:6:9"},
      {&morning, "%I:%M:%S %p", "05:06:09 AM"},
      {&morning, "%-I %A %B", "5 Thursday March"},
      {&midnight, "%-H:%-M:%-S %-d", "0:0:0 31"},
      {&midnight, "%-I %p", "12 AM"},
      {&morning, "100%% at %H", "100% at 05"},
      {&morning, "%Y%", "2024%"},
      {&morning, "%Y %-", "2024 %-"},
      {&morning, "no fields", "no fields"},
      {&morning, "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Pattern);
    EXPECT_EQ(FormatTime(c.Pattern, *c.When), c.Text);
  }
}

TEST(TimePatterns, AWindowsPictureFormatsAsWindowsWouldWriteIt) {
  const std::tm afternoon = Time(2024, 3, 7, 15, 4, 5);
  EXPECT_EQ(FormatTime(StrftimeFromWindowsPicture("M/d/yyyy"), afternoon), "3/7/2024");
  EXPECT_EQ(FormatTime(StrftimeFromWindowsPicture("h:mm:ss tt"), afternoon), "3:04:05 PM");
  EXPECT_EQ(FormatTime(StrftimeFromWindowsPicture("HH:mm:ss"), afternoon), "15:04:05");
  EXPECT_EQ(FormatTime(StrftimeFromWindowsPicture("dd.MM.yy"), afternoon), "07.03.24");
}

}  // namespace
}  // namespace platform
