// The texts kestlog writes, as pure functions: both row formats, the status decision, the ISO
// time, the status line, the summary and the open failure message.
#include <gtest/gtest.h>

#include <QDateTime>

#include "headless/RowFormat.h"
#include "sensor/SensorFrame.h"

namespace {

using headless::TRowStatus;
using headless::TSample;

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
  EXPECT_EQ(headless::ClassicRow("14:03:27", SampleOf(c.Afr, c.VoltsCode, 20, c.Mode, c.Fuel),
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
  EXPECT_EQ(headless::ExtendedRow("T", GetParam().Sample), GetParam().Row);
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
  EXPECT_EQ(headless::HeaderLines(headless::TRowFormat::Classic, "01/05/2024"),
            (std::vector<std::string>{"Torvane KEST datalog.  01/05/2024",
                                      "Time, AFR or LAMBDA, Supply volts"}));
  EXPECT_EQ(headless::HeaderLines(headless::TRowFormat::Extended, "01/05/2024"),
            (std::vector<std::string>{"time,reading,afr,lambda,volts,temp,status"}));
}

TEST(RowStatus, OfflineBeforeWarmupBeforeLiveness) {
  struct TCase {
    headless::TLampState Lamps;  // PortOpen, Online, WarmingUp, Live, LowVolts
    TRowStatus Status;
  };
  const TCase cases[] = {
      {{false, true, false, true, false}, TRowStatus::Offline},  // port closed: stale
      {{true, false, false, true, false}, TRowStatus::Offline},  // silent controller
      {{true, false, true, false, false}, TRowStatus::Offline},  // silent while warming
      {{true, true, true, false, false}, TRowStatus::Warmup},
      {{true, true, true, false, true}, TRowStatus::Warmup},     // warm-up wins over volts
      {{true, true, false, false, false}, TRowStatus::Offline},  // answers, but no frame yet
      {{true, true, false, true, false}, TRowStatus::Live},
      {{true, true, false, true, true}, TRowStatus::LowVolts},
  };
  for (const TCase& c : cases) {
    const auto& l = c.Lamps;
    EXPECT_EQ(headless::RowStatusOf(c.Lamps), c.Status)
        << l.PortOpen << l.Online << l.WarmingUp << l.Live << l.LowVolts;
  }
}

TEST(IsoTimestamp, LocalTimeWithMillisecondsAndOffset) {
  struct TCase {
    QDateTime When;
    const char* Text;
  };
  const QDate day(2024, 5, 1);
  const TCase cases[] = {
      {QDateTime(day, QTime(14, 3, 27, 7), Qt::OffsetFromUTC, 7200),
       "2024-05-01T14:03:27.007+02:00"},
      {QDateTime(day, QTime(9, 0, 0, 999), Qt::OffsetFromUTC, -(5 * 3600 + 30 * 60)),
       "2024-05-01T09:00:00.999-05:30"},
      {QDateTime(day, QTime(23, 59, 59, 0), Qt::UTC), "2024-05-01T23:59:59.000+00:00"},
      {QDateTime(QDate(2024, 12, 31), QTime(0, 0, 0, 120), Qt::OffsetFromUTC, 13 * 3600 + 45 * 60),
       "2024-12-31T00:00:00.120+13:45"},
  };
  for (const TCase& c : cases) EXPECT_EQ(headless::IsoTimestamp(c.When), c.Text);
}

TEST(StatusLine, ShowsTheLampsAsWords) {
  headless::TStatusView view;
  view.ReadoutText = "14.7";
  view.VoltsText = "12.5 V";
  view.FramesPerSecond = 9.84;
  view.ChecksumFailures = 3;
  view.Timeouts = 7;
  struct TCase {
    const char* What;
    headless::TLampState Lamps;
    bool Lost;
    const char* Middle;
  };
  const TCase cases[] = {
      {"online", {true, true, false, true, false}, false, "  online  "},
      {"warming", {true, true, true, false, false}, false, "  online warmup  "},
      {"low volts", {true, true, false, true, true}, false, "  online lowvolts  "},
      {"silent", {true, false, false, false, false}, false, "  offline  "},
      {"lost device", {false, false, false, false, false}, true, "  device lost  "},
  };
  for (const TCase& c : cases) {
    view.Lamps = c.Lamps;
    view.PortLost = c.Lost;
    const std::string line = headless::StatusLine(view);
    EXPECT_EQ(line, std::string("AFR 14.7  12.5 V") + c.Middle +
                        "9.8 frames/s  3 bad checksums  7 time-outs")
        << c.What;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_LE(line.size(), 80u) << c.What;
  }
  view.DisplayMode = sensor::dmLambda;
  view.ReadoutText = "1.00";
  EXPECT_EQ(headless::StatusLine(view).rfind("LAMBDA 1.00  ", 0), 0u);
}

TEST(Summary, CountsWhatTheRunDid) {
  headless::TMonitorStats stats;
  stats.Rows = 1234;
  stats.FramesAccepted = 1240;
  stats.FramesRejected = 3;
  stats.ReadTimeouts = 12;
  stats.OfflineSpells = 2;
  const std::string text = headless::SummaryText(stats, "drive.csv", 125.04);
  EXPECT_EQ(text,
            "kestlog: stopped after 125.0 s\n"
            "  rows written:    1234 (drive.csv)\n"
            "  frames accepted: 1240\n"
            "  frames rejected: 3 (bad checksum)\n"
            "  read time-outs:  12\n"
            "  offline spells:  2\n");
  stats.PortLosses = 1;
  EXPECT_NE(headless::SummaryText(stats, "x", 1).find("  device lost:     1\n"), std::string::npos);
}

}  // namespace
