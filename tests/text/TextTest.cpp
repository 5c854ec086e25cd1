// The shared text helpers over the cases their callers rely on: the number forms of the command
// lines, the text engine logs and the typed table entries, and the splitting and case folding
// that readers and port names use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "text/Number.h"
#include "text/Words.h"

namespace {

using text::TNumberForm;

// The forms our callers use: kestlog's and kestsim's options, a text log's cell with a decimal
// comma, a number typed into the mixture table where a comma may mark decimals.
const TNumberForm Option{};
const TNumberForm CommaCell{.Blanks = {}, .Plus = true, .Decimals = ",", .Finite = false};
const TNumberForm Typed{.Blanks = text::WhiteSpace, .Plus = true, .Decimals = ",.", .Finite = true};

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

struct TNumberCase {
  const char* Text;
  const TNumberForm* Form;
  std::optional<double> Expected;  // NaN: a NaN is expected
};

TEST(TextTest, NumbersReadAsEachFormSays) {
  const std::string longComma = "1," + std::string(70, '0') + "5";
  const TNumberCase cases[] = {
      {"14.7", &Option, 14.7},
      {"-2.5", &Option, -2.5},
      {"1e3", &Option, 1000},
      {"1e3", &Typed, 1000},
      {"+3", &Option, std::nullopt},
      {"+3", &CommaCell, 3},
      {"+3", &Typed, 3},
      {"+", &Typed, std::nullopt},
      {" 3", &Option, std::nullopt},
      {" 3\r\n", &Typed, 3},
      {"3 ", &CommaCell, std::nullopt},
      {"14,7", &Option, std::nullopt},
      {"14,7", &CommaCell, 14.7},
      {"14,7", &Typed, 14.7},
      {"1.5", &CommaCell, std::nullopt},
      {"1.5", &Typed, 1.5},
      {"1,000.5", &Typed, std::nullopt},
      {"3x", &Option, std::nullopt},
      {"14,7;", &Typed, std::nullopt},
      {"", &Option, std::nullopt},
      {" \t", &Typed, std::nullopt},
      {"1e999", &Option, std::nullopt},
      {"1e999", &CommaCell, std::nullopt},
      {"inf", &Option, std::nullopt},
      {"nan", &Typed, std::nullopt},
      {"inf", &CommaCell, Inf},
      {"nan", &CommaCell, NaN},
      {longComma.c_str(), &CommaCell, 1.0},
  };
  for (const TNumberCase& c : cases) {
    const std::optional<double> got = text::ParseNumber(c.Text, *c.Form);
    ASSERT_EQ(got.has_value(), c.Expected.has_value()) << '"' << c.Text << '"';
    if (!got) continue;
    if (std::isnan(*c.Expected)) {
      EXPECT_TRUE(std::isnan(*got)) << c.Text;
    } else {
      EXPECT_EQ(*got, *c.Expected) << c.Text;
    }
  }
}

TEST(TextTest, WholeNumbersAreDigitsWithinTheirType) {
  EXPECT_EQ(text::ParseWhole<int>("60000"), 60000);
  EXPECT_EQ(text::ParseWhole<int>("-5"), -5);
  EXPECT_EQ(text::ParseWhole<unsigned>("-1"), std::nullopt);
  EXPECT_EQ(text::ParseWhole<std::uint64_t>("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(text::ParseWhole<std::uint64_t>("18446744073709551616"), std::nullopt);
  for (const char* bad : {"", "+1", " 1", "1.0", "1e3", "12a"}) {
    EXPECT_EQ(text::ParseWhole<int>(bad), std::nullopt) << bad;
  }
}

TEST(TextTest, TrimSplitAndCaseFolding) {
  EXPECT_EQ(text::Trim(" \t14.7\t "), "14.7");
  EXPECT_EQ(text::Trim("14.7\r"), "14.7\r");  // line ends only where asked
  EXPECT_EQ(text::Trim("14.7\r\n", text::WhiteSpace), "14.7");
  EXPECT_EQ(text::Trim(" \t "), "");

  using TParts = std::vector<std::string_view>;
  EXPECT_EQ(text::Split("a,b", ","), (TParts{"a", "b"}));
  EXPECT_EQ(text::Split("a,,b,", ","), (TParts{"a", "", "b", ""}));
  EXPECT_EQ(text::Split("", ","), (TParts{""}));
  EXPECT_EQ(text::Split("1;2\t3", ";\t"), (TParts{"1", "2", "3"}));

  EXPECT_TRUE(text::EqualsNoCase("Time", "tIME"));
  EXPECT_FALSE(text::EqualsNoCase("time", "times"));
  // Only letters fold: punctuation one bit apart from another stays itself.
  EXPECT_FALSE(text::EqualsNoCase("[", "{"));
  EXPECT_FALSE(text::EndsWithNoCase("log\x0Emlg", ".mlg"));
  EXPECT_TRUE(text::EndsWithNoCase("DRIVE.MLG", ".mlg"));
  EXPECT_FALSE(text::EndsWithNoCase("mlg", ".mlg"));
  EXPECT_TRUE(text::StartsWithNoCase("com3", "COM"));
  EXPECT_FALSE(text::StartsWithNoCase("CO", "COM"));
  EXPECT_TRUE(text::ContainsNoCase("Wideband AFR 1", "afr"));
  EXPECT_FALSE(text::ContainsNoCase("Wideband", "afr"));
  EXPECT_EQ(text::Lower("Lambda-2 AFR"), "lambda-2 afr");
}

}  // namespace
