// Our log rows as text, as pure functions: the classic row the engine logs, the extended row and
// both formats' header lines.
#include <gtest/gtest.h>

#include "log/RowFormat.h"
#include "sensor/SensorFrame.h"

namespace {

using csvlog::TRowStatus;
using csvlog::TSample;

TSample SampleOf(std::uint8_t afr, std::uint8_t voltsCode, std::uint8_t temp, int mode = 1,
                 int fuel = 1, TRowStatus status = TRowStatus::Live) {
  TSample sample;
  sample.Frame = {34, afr, voltsCode, temp, 0};
  sample.SupplyVolts = sensor::SupplyVoltsOf(voltsCode);
  sample.DisplayMode = mode;
  sample.FuelType = fuel;
  sample.Status = status;
  return sample;
}

struct TClassicCase {
  const char* Name;
  std::uint8_t Afr;
  std::uint8_t VoltsCode;
  int Mode;
  int Fuel;
  const char* Separator;
  const char* Row;
};

class ClassicRowTest : public testing::TestWithParam<TClassicCase> {};

TEST_P(ClassicRowTest, IsTheWindowsRow) {
  const TClassicCase& c = GetParam();
  std::string row = "a row built before, longer than the next one";
  EXPECT_EQ(csvlog::ClassicRow(row, "14:03:27", SampleOf(c.Afr, c.VoltsCode, 20, c.Mode, c.Fuel),
                               c.Separator),
            c.Row);
}

INSTANTIATE_TEST_SUITE_P(Rows, ClassicRowTest,
                         testing::Values(TClassicCase{"Petrol", 147, 200, sensor::dmAirFuelRatio,
                                                      sensor::ftPetrol, ".", "14:03:27,14.7,12.5"},
                                         TClassicCase{"Lambda", 147, 200, sensor::dmLambda,
                                                      sensor::ftPetrol, ".", "14:03:27,1.00,12.5"},
                                         TClassicCase{"Methanol", 147, 200, sensor::dmAirFuelRatio,
                                                      sensor::ftMethanol, ".", "14:03:27,6.4,12.5"},
                                         TClassicCase{"Propane", 147, 200, sensor::dmAirFuelRatio,
                                                      sensor::ftPropane, ".", "14:03:27,15.5,12.5"},
                                         TClassicCase{"EmptyFrame", 0, 0, sensor::dmAirFuelRatio,
                                                      sensor::ftPetrol, ".", "14:03:27,10.0,0.0"},
                                         TClassicCase{"RichClampLambda", 255, 255, sensor::dmLambda,
                                                      sensor::ftPetrol, ".", "14:03:27,1.36,16.0"},
                                         TClassicCase{"CommaLocale", 147, 200,
                                                      sensor::dmAirFuelRatio, sensor::ftPetrol, ",",
                                                      "14:03:27,14,7,12,5"}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TExtendedCase {
  const char* Name;
  TSample Sample;
  const char* Row;
};

class ExtendedRowTest : public testing::TestWithParam<TExtendedCase> {};

TEST_P(ExtendedRowTest, HasEveryColumn) {
  EXPECT_EQ(csvlog::ExtendedRow("T", GetParam().Sample), GetParam().Row);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExtendedRowTest,
    testing::Values(
        TExtendedCase{"Live", SampleOf(147, 200, 20), "T,14.7,14.7,1.000,12.55,20,live"},
        // One step of the byte changes lambda's text (1.0068 and 1.0136 would both be 1.01).
        TExtendedCase{"LambdaKeepsEveryStep", SampleOf(148, 200, 20, sensor::dmLambda),
                      "T,1.01,14.8,1.007,12.55,20,live"},
        TExtendedCase{"LambdaNextStep", SampleOf(149, 200, 20, sensor::dmLambda),
                      "T,1.01,14.9,1.014,12.55,20,live"},
        TExtendedCase{"PropaneReadingPetrolColumns",
                      SampleOf(147, 200, 20, sensor::dmAirFuelRatio, sensor::ftPropane),
                      "T,15.5,14.7,1.000,12.55,20,live"},
        TExtendedCase{"ClampedLean", SampleOf(255, 255, 0), "T,20.0,20.0,1.361,16.00,0,live"},
        TExtendedCase{"WarmupKeepsRawTemp", SampleOf(90, 220, 200, 1, 1, TRowStatus::Warmup),
                      "T,10.0,10.0,0.680,13.80,200,warmup"},
        TExtendedCase{"Offline", SampleOf(0, 0, 0, 1, 1, TRowStatus::Offline),
                      "T,10.0,10.0,0.680,0.00,0,offline"},
        TExtendedCase{"LowVolts", SampleOf(147, 190, 20, 1, 1, TRowStatus::LowVolts),
                      "T,14.7,14.7,1.000,11.92,20,lowvolts"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(HeaderLines, ClassicIsTheWindowsExtendedNamesItsColumns) {
  EXPECT_EQ(csvlog::HeaderLines(csvlog::TRowFormat::Classic, "01/05/2024"),
            (std::vector<std::string>{"Torvane KEST datalog.  01/05/2024",
                                      "Time, AFR or LAMBDA, Supply volts"}));
  EXPECT_EQ(csvlog::HeaderLines(csvlog::TRowFormat::Extended, "01/05/2024"),
            (std::vector<std::string>{"time,reading,afr,lambda,volts,temp,status"}));
}

}  // namespace
