// Readings from the mixture byte and their texts, against exact decimal arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "sensor/Reading.h"
#include "sensor/SensorFrame.h"

namespace sensor {
namespace {

constexpr int Modes[] = {dmAirFuelRatio, dmLambda};
constexpr int Fuels[] = {ftPetrol, ftMethanol, ftPropane};

// The reading as an exact fraction: petrol AFR x 10 is the clamped byte; lambda is AFR / 14.7, so
// every reading is cb x factor / 1470 with integer factors.
struct TFraction {
  std::int64_t Numerator;
  std::int64_t Denominator;
};

TFraction ExactReading(int afrByte, int mode, int fuel) {
  const std::int64_t cb = std::clamp(afrByte, 100, 200);
  if (mode == dmLambda) return {cb * 10, 1470};
  if (fuel == ftMethanol) return {cb * 64, 1470};
  if (fuel == ftPropane) return {cb * 155, 1470};
  return {cb * 147, 1470};
}

// Plain rounding (half up) of a positive fraction to `decimals` decimals, written out by hand.
std::string RoundedText(TFraction v, int decimals, const std::string& separator) {
  std::int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const std::int64_t n = (2 * v.Numerator * scale + v.Denominator) / (2 * v.Denominator);
  std::string fraction = std::to_string(n % scale);
  fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
  return std::to_string(n / scale) + (decimals > 0 ? separator + fraction : "");
}

struct TCalcCase {
  int AfrByte;
  int Mode;
  int Fuel;
  double Expected;
};

TEST(CalcKestTest, ClampsAndConverts) {
  const TCalcCase cases[] = {
      {0, dmAirFuelRatio, ftPetrol, 10.0},
      {99, dmAirFuelRatio, ftPetrol, 10.0},
      {100, dmAirFuelRatio, ftPetrol, 10.0},
      {101, dmAirFuelRatio, ftPetrol, 10.1},
      {147, dmAirFuelRatio, ftPetrol, 14.7},
      {199, dmAirFuelRatio, ftPetrol, 19.9},
      {200, dmAirFuelRatio, ftPetrol, 20.0},
      {201, dmAirFuelRatio, ftPetrol, 20.0},
      {255, dmAirFuelRatio, ftPetrol, 20.0},
      {147, dmAirFuelRatio, ftMethanol, 6.4},
      {147, dmAirFuelRatio, ftPropane, 15.5},
      {0, dmAirFuelRatio, ftMethanol, 64.0 / 14.7},
      {255, dmAirFuelRatio, ftPropane, 310.0 / 14.7},
      {147, dmLambda, ftPetrol, 1.0},
      {147, dmLambda, ftMethanol, 1.0},
      {147, dmLambda, ftPropane, 1.0},
      {0, dmLambda, ftPetrol, 10.0 / 14.7},
      {255, dmLambda, ftPropane, 20.0 / 14.7},
      {201, dmLambda, ftMethanol, 20.0 / 14.7},
  };
  for (const TCalcCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "byte " << c.AfrByte << " mode " << c.Mode << " fuel " << c.Fuel);
    EXPECT_NEAR(CalcKest(static_cast<std::uint8_t>(c.AfrByte), c.Mode, c.Fuel), c.Expected, 1e-12);
  }
}

struct TFormatCase {
  double Value;
  int Decimals;
  const char* Separator;
  const char* Expected;
};

TEST(FormatPrecision3Test, RoundsToThreeDigitsThenPadsDecimals) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const TFormatCase cases[] = {
      {12.549, 1, ".", "12.5"},
      {12.549, 3, ".", "12.500"},  // three digits, then zeros: not 12.549
      {1.2345, 3, ".", "1.230"},
      {0.00123456, 6, ".", "0.001230"},
      {147.0 / 10.0 / 14.7, 2, ".", "1.00"},
      {0.9999999999, 2, ".", "1.00"},
      {0.9999999999, 3, ".", "1.000"},
      {9.996, 1, ".", "10.0"},
      {9.996, 2, ".", "10.00"},  // rounds up to 10.0, which has only one decimal digit left
      {99.96, 1, ".", "100.0"},
      {123.456, 1, ".", "123.0"},
      {12345.6, 1, ".", "12300.0"},
      {-12345.6, 0, ".", "-12300"},
      {1e6, 2, ".", "1000000.00"},
      {15.99999989, 1, ".", "16.0"},
      {16.0, 1, ".", "16.0"},
      {0.0, 1, ".", "0.0"},
      {0.0, 0, ".", "0"},
      {-0.0, 2, ".", "0.00"},
      {-0.0001, 1, ".", "0.0"},
      {0.000123456, 2, ".", "0.00"},
      {-1.234, 2, ".", "-1.23"},
      {-1.26, 1, ".", "-1.3"},
      // Near a half of the last decimal, only one rounding may happen: going through three
      // digits first would give 6.45 and then 6.5.
      {6.449, 1, ".", "6.4"},
      {0.6849, 2, ".", "0.68"},
      {64.0 / 14.7, 1, ".", "4.4"},        // lowest methanol reading, 4.3537...
      {133.0 / 147.0, 2, ".", "0.90"},     // lambda 0.90476...
      {20 * 0.0627450976, 1, ".", "1.3"},  // volts 1.25490...
      {14.7, 1, ",", "14,7"},
      {1234.5, 1, ",", "1230,0"},
      {7.0, 0, ",", "7"},
      {12.7, -1, ".", "13"},  // a negative count of decimals means none
      {14.7, 1, "\xD9\xAB",
       "14\xD9\xAB"
       "7"},
      {nan, 1, ".", "nan"},
      {inf, 1, ".", "inf"},
      {-inf, 2, ".", "-inf"},
  };
  for (const TFormatCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Value << " with " << c.Decimals << " decimals");
    EXPECT_EQ(FormatPrecision3(c.Value, c.Decimals, c.Separator), c.Expected);
  }
}

TEST(FormatPrecision3Test, HugeValuesAreWrittenInFull) {
  const std::string max = FormatPrecision3(DBL_MAX, 1, ".");  // 1.797...e308
  ASSERT_EQ(max.size(), 309u + 2u);
  EXPECT_EQ(max.substr(0, 4), "1800");
  EXPECT_EQ(max.find_first_not_of('0', 3), 309u);
  EXPECT_EQ(max.substr(309), ".0");
  const std::string min = FormatPrecision3(-DBL_MAX, 0, ".");
  ASSERT_EQ(min.size(), 310u);
  EXPECT_EQ(min.substr(0, 4), "-180");
  EXPECT_EQ(ReadingText(1e300, dmAirFuelRatio, "."), "1000");
}

struct TTextCase {
  const char* Name;
  std::string Text;
  std::string Expected;
};

TEST(ReadingTextTest, Texts) {
  const auto reading = [](int afrByte, int mode, int fuel) {
    return CalcKest(static_cast<std::uint8_t>(afrByte), mode, fuel);
  };
  const TTextCase cases[] = {
      {"petrol 147", ReadingText(reading(147, dmAirFuelRatio, ftPetrol), dmAirFuelRatio, "."),
       "14.7"},
      {"lambda 147", ReadingText(reading(147, dmLambda, ftPetrol), dmLambda, "."), "1.00"},
      {"petrol 0", ReadingText(reading(0, dmAirFuelRatio, ftPetrol), dmAirFuelRatio, "."), "10.0"},
      {"lambda 0", ReadingText(reading(0, dmLambda, ftPetrol), dmLambda, "."), "0.68"},
      {"petrol 255", ReadingText(reading(255, dmAirFuelRatio, ftPetrol), dmAirFuelRatio, "."),
       "20.0"},
      {"lambda 255", ReadingText(reading(255, dmLambda, ftPropane), dmLambda, "."), "1.36"},
      {"methanol 147", ReadingText(reading(147, dmAirFuelRatio, ftMethanol), dmAirFuelRatio, "."),
       "6.4"},
      {"propane 147", ReadingText(reading(147, dmAirFuelRatio, ftPropane), dmAirFuelRatio, "."),
       "15.5"},
      {"comma AFR", ReadingText(14.7, dmAirFuelRatio, ","), "14,7"},
      {"comma lambda", ReadingText(1.0, dmLambda, ","), "1,00"},
      // Five characters are cut to four.
      {"cut AFR", ReadingText(123.4, dmAirFuelRatio, "."), "123."},
      {"cut lambda", ReadingText(-1.5, dmLambda, "."), "-1.5"},
      {"cut comma", ReadingText(100.0, dmLambda, ","), "100,"},
      // A separator of several bytes is one character: nothing of the number is lost to it.
      {"two-byte separator", ReadingText(14.7, dmAirFuelRatio, "\xD9\xAB"),
       "14\xD9\xAB"
       "7"},
      {"three-byte separator", ReadingText(1.0, dmLambda, "\xE2\x8E\x96"),
       "1\xE2\x8E\x96"
       "00"},
      {"cut two-byte", ReadingText(123.4, dmAirFuelRatio, "\xD9\xAB"), "123\xD9\xAB"},
      {"nan", ReadingText(std::nan(""), dmAirFuelRatio, "."), "nan"},
      {"title AFR", TitleText(14.7, dmAirFuelRatio, "."), " AFR = 14.7"},
      {"title lambda", TitleText(1.0, dmLambda, "."), " LAMBDA = 1.00"},
      {"title comma", TitleText(0.68, dmLambda, ","), " LAMBDA = 0,68"},
      {"title not cut", TitleText(123.4, dmAirFuelRatio, "."), " AFR = 123.0"},
      {"volts 12.549", VoltageText(12.549, "."), "12.5"},
      {"volts code 200", VoltageText(SupplyVoltsOf(200), "."), "12.5"},
      {"volts code 255", VoltageText(SupplyVoltsOf(255), "."), "16.0"},
      {"volts code 0", VoltageText(SupplyVoltsOf(0), "."), "0.0"},
      {"volts comma", VoltageText(12.549, ","), "12,5"},
  };
  for (const TTextCase& c : cases) EXPECT_EQ(c.Text, c.Expected) << c.Name;
}

// Every byte in every mode and fuel, against plain rounding of the exact fraction: the texts
// never exceed four characters and the cut never shortens a reading the controller can produce.
TEST(ReadingTextTest, EveryByteModeAndFuel) {
  for (int afrByte = 0; afrByte < 256; ++afrByte) {
    for (int mode : Modes) {
      for (int fuel : Fuels) {
        SCOPED_TRACE(testing::Message()
                     << "byte " << afrByte << " mode " << mode << " fuel " << fuel);
        const double reading = CalcKest(static_cast<std::uint8_t>(afrByte), mode, fuel);
        const TFraction exact = ExactReading(afrByte, mode, fuel);
        EXPECT_NEAR(reading, double(exact.Numerator) / double(exact.Denominator), 1e-13);
        const int decimals = mode == dmAirFuelRatio ? 1 : 2;
        const std::string text = ReadingText(reading, mode, ".");
        EXPECT_EQ(text, RoundedText(exact, decimals, "."));
        EXPECT_LE(text.size(), 4u);
        EXPECT_EQ(ReadingText(reading, mode, ","), RoundedText(exact, decimals, ","));
        EXPECT_EQ(TitleText(reading, mode, "."),
                  (mode == dmAirFuelRatio ? " AFR = " : " LAMBDA = ") + text);
      }
    }
  }
}

// Every voltage code: code x 0.0627450976 V, plainly rounded to one decimal.
TEST(VoltageTextTest, EveryCode) {
  for (int code = 0; code < 256; ++code) {
    SCOPED_TRACE(code);
    const TFraction exact{code * 627450976LL, 10000000000LL};
    EXPECT_EQ(VoltageText(SupplyVoltsOf(static_cast<std::uint8_t>(code)), "."),
              RoundedText(exact, 1, "."));
  }
}

// The window calls setlocale(LC_ALL, ""), so the C library may write numbers with a comma; the
// texts must follow only the separator they are given.
class CLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) return;
    // No such locale installed: compile one of our own, if the system has the sources.
    LocaleDir = std::filesystem::temp_directory_path() / "kest_sensor_tests_locale";
    std::filesystem::create_directories(LocaleDir);
    const std::string command = "localedef -i de_DE -f UTF-8 '" +
                                (LocaleDir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    [[maybe_unused]] const int rc = std::system(command.c_str());
    setenv("LOCPATH", LocaleDir.c_str(), 1);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
      GTEST_SKIP() << "no locale with a decimal comma could be set up";
    }
  }
  void TearDown() override {
    std::setlocale(LC_ALL, Saved.c_str());
    if (!LocaleDir.empty()) {
      unsetenv("LOCPATH");
      std::error_code ignored;
      std::filesystem::remove_all(LocaleDir, ignored);
    }
  }
  std::string Saved;
  std::filesystem::path LocaleDir;
};

TEST_F(CLocaleTest, TextsIgnoreTheCLocale) {
  char printed[16];
  std::snprintf(printed, sizeof printed, "%.1f", 14.7);
  ASSERT_STREQ(printed, "14,7") << "the comma locale is not in effect";
  EXPECT_EQ(FormatPrecision3(14.7, 1, "."), "14.7");
  EXPECT_EQ(FormatPrecision3(1234.5, 2, "."), "1230.00");
  EXPECT_EQ(ReadingText(1.0, dmLambda, "."), "1.00");
  EXPECT_EQ(TitleText(14.7, dmAirFuelRatio, "."), " AFR = 14.7");
  EXPECT_EQ(VoltageText(12.549, "."), "12.5");
  EXPECT_EQ(VoltageText(12.549, ","), "12,5");
}

}  // namespace
}  // namespace sensor
