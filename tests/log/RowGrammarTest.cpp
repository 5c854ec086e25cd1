// The grammar our rows are read back with: the times and dates the writers' locales give.
#include <gtest/gtest.h>

#include <vector>

#include "log/RowGrammar.h"

namespace {

TEST(RowGrammar, TimeAndDateTexts) {
  struct TTime {
    const char* Text;
    int Seconds;
  };
  for (const TTime& t : std::vector<TTime>{{"14:03:27", 50607},
                                           {"2:03:27 PM", 50607},
                                           {"2:03:27 pm", 50607},
                                           {"12:00:00 AM", 0},
                                           {"12:59:59 PM", 46799},
                                           {"PM 2:03:27", 50607},
                                           {"14.03.27", 50607},
                                           {"14h03m27s", 50607},
                                           {"24:00:00", -1},
                                           {"13:00:00 PM", -1},
                                           {"14:60:00", -1},
                                           {"14:03", -1},
                                           {"14:03:27:01", -1},
                                           {"", -1}}) {
    EXPECT_EQ(csvlog::ParseTimeOfDay(t.Text), t.Seconds) << t.Text;
  }
  struct TDate {
    const char* Text;
    int Year, Month, Day;
    bool Ambiguous;
  };
  for (const TDate& d : std::vector<TDate>{{"12/08/26", 2026, 12, 8, true},
                                           {"08.12.2026", 2026, 12, 8, true},
                                           {"2026-12-08", 2026, 12, 8, false},
                                           {"31/12/2026", 2026, 12, 31, false},
                                           {"12/31/2026", 2026, 12, 31, false},
                                           {"8-12-26", 2026, 12, 8, true},
                                           {"5/5/99", 1999, 5, 5, false},
                                           {"2026-13-01", 0, 0, 0, false},
                                           {"hello", 0, 0, 0, false}}) {
    const csvlog::TLogDate date = csvlog::ParseShortDate(d.Text);
    EXPECT_EQ(date.Year, d.Year) << d.Text;
    EXPECT_EQ(date.Month, d.Month) << d.Text;
    EXPECT_EQ(date.Day, d.Day) << d.Text;
    EXPECT_EQ(date.Ambiguous, d.Ambiguous) << d.Text;
  }
}

}  // namespace
