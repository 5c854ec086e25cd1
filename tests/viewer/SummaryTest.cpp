// Summaries of logs whose answers are known by construction.
#include <gtest/gtest.h>

#include <cmath>

#include "ViewerTestSupport.h"
#include "viewer/logs/Summary.h"

namespace {

using viewer::TDisplay;

TEST(SummaryTest, KnownShares) {
  // 20 rich rows (AFR 13.2, lambda 0.898), 50 at 14.7, 30 lean (16.2, lambda 1.102); the first
  // ten at 11.5 V; 5 s of silence after row 49.
  std::vector<int> bytes;
  std::vector<double> volts;
  for (int i = 0; i < 100; ++i) {
    bytes.push_back(i < 20 ? 132 : i < 70 ? 147 : 162);
    volts.push_back(i < 10 ? 11.5 : 13.0);
  }
  const viewer::TLog log =
      viewer::ParseLogText(viewertest::ExtendedLog(bytes, volts, 0.1, 49, 5.0), "known.csv");
  ASSERT_EQ(log.Rows(), 100u);
  EXPECT_NEAR(log.Ours.SampleInterval, 0.1, 1e-9);
  const TDisplay afr{sensor::dmAirFuelRatio, sensor::ftPetrol};
  const viewer::TSummary all = viewer::Summarize(log, -1e9, 1e9, afr, {});
  EXPECT_EQ(all.Samples, 100u);
  EXPECT_EQ(all.Readings, 100u);
  EXPECT_NEAR(all.Duration, 14.9, 1e-6);
  EXPECT_NEAR(all.Min, 13.2, 1e-5);
  EXPECT_NEAR(all.Max, 16.2, 1e-5);
  EXPECT_NEAR(all.Mean, 14.85, 1e-5);
  EXPECT_NEAR(all.Rich, 0.20, 1e-9);
  EXPECT_NEAR(all.Stoichiometric, 0.50, 1e-9);
  EXPECT_NEAR(all.Lean, 0.30, 1e-9);
  EXPECT_NEAR(all.SecondsBelowLowVolts, 1.0, 1e-9);
  EXPECT_EQ(all.Gaps, 1u);
  EXPECT_NEAR(all.GapSeconds, 5.1, 1e-6);

  // The same in lambda, and with the bands moved so that 0.898 counts as near stoichiometric.
  const TDisplay lambda{sensor::dmLambda, sensor::ftPetrol};
  const viewer::TSummary wide = viewer::Summarize(log, -1e9, 1e9, lambda, {0.85, 1.15});
  EXPECT_NEAR(wide.Min, 0.898, 1e-6);
  EXPECT_NEAR(wide.Max, 1.102, 1e-6);
  EXPECT_NEAR(wide.Stoichiometric, 1.0, 1e-9);

  // Only the range: the first two seconds hold the rich rows and the low volts.
  const double start = log.Times.front();
  const viewer::TSummary first = viewer::Summarize(log, start, start + 1.95, afr, {});
  EXPECT_EQ(first.Samples, 20u);
  EXPECT_NEAR(first.Rich, 1.0, 1e-9);
  EXPECT_EQ(first.Gaps, 0u);

  // Nothing in range.
  EXPECT_EQ(viewer::Summarize(log, 0, 1, afr, {}).Samples, 0u);
}

TEST(SummaryTest, RepeatsOfASilentControllerAreAGapNotReadings) {
  // 2 s of alternating readings, 3 s of one repeated row, 1 s alternating again.
  std::string text = viewertest::ClassicLog(36000, 2, {"14.6", "14.8"});
  const std::string rest = viewertest::ClassicLog(36002, 3, {"20.0"});
  text += rest.substr(rest.find("10:00:02"));
  const std::string after = viewertest::ClassicLog(36005, 1, {"14.6", "14.8"});
  text += after.substr(after.find("10:00:05"));
  const viewer::TLog log = viewer::ParseLogText(text, "silent.txt");
  ASSERT_EQ(log.Rows(), 60u);
  const viewer::TSummary summary =
      viewer::Summarize(log, -1e9, 1e9, {sensor::dmAirFuelRatio, sensor::ftPetrol}, {});
  EXPECT_EQ(summary.Readings, 31u);  // the first 20.0 was still a reading
  EXPECT_NEAR(summary.Max, 20.0, 1e-5);
  EXPECT_NEAR(summary.Mean, (10 * 14.6 + 10 * 14.8 + 20.0 + 5 * 14.6 + 5 * 14.8) / 31, 1e-4);
  EXPECT_EQ(summary.Gaps, 1u);
  // From the last real row to the next one: 3 s at ten rows a second.
  EXPECT_NEAR(summary.GapSeconds, 3.0, 1e-6);
}

// The edges of what counts: a supply of exactly 12.0 V is not below 12.0 V, and a hole of four
// sample intervals is a gap where one of two is not.
TEST(SummaryTest, LowVoltsAndGapsAtTheirEdges) {
  struct TCase {
    const char* Name;
    double Volts;
    double Silence;  // added after row 9 of twenty, 0.1 s apart
    double SecondsBelow;
    std::size_t Gaps;
  };
  const TCase cases[] = {
      {"AtTwelveVolts", 12.0, 0, 0, 0},
      {"JustBelowTwelveVolts", 11.99, 0, 2.0, 0},
      {"HoleOfFourIntervals", 13.0, 0.3, 0, 1},
      {"HoleOfTwoIntervals", 13.0, 0.1, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const viewer::TLog log = viewer::ParseLogText(
        viewertest::ExtendedLog(std::vector<int>(20, 147), std::vector<double>(20, c.Volts), 0.1, 9,
                                c.Silence),
        "edges.csv");
    ASSERT_EQ(log.Rows(), 20u);
    const viewer::TSummary summary =
        viewer::Summarize(log, -1e9, 1e9, {sensor::dmAirFuelRatio, sensor::ftPetrol}, {});
    EXPECT_NEAR(summary.SecondsBelowLowVolts, c.SecondsBelow, 1e-9);
    EXPECT_EQ(summary.Gaps, c.Gaps);
  }
}

TEST(SummaryTest, FuelsConvertWithTheControllersFactors) {
  EXPECT_NEAR(viewer::StoichiometricAfr(sensor::ftPetrol), 14.7, 1e-9);
  EXPECT_NEAR(viewer::StoichiometricAfr(sensor::ftMethanol), 6.4, 1e-9);
  EXPECT_NEAR(viewer::StoichiometricAfr(sensor::ftPropane), 15.5, 1e-9);
  // A classic log's methanol or propane ratios are told by their range.
  struct TCase {
    std::vector<std::string> Readings;
    int Fuel;
  };
  for (const TCase& c : std::vector<TCase>{{{"8.7", "4.4"}, sensor::ftMethanol},
                                           {{"21.1", "14.0"}, sensor::ftPropane},
                                           {{"20.0", "10.0"}, sensor::ftPetrol}}) {
    const viewer::TLog log =
        viewer::ParseLogText(viewertest::ClassicLog(36000, 1, c.Readings), "fuel.txt");
    EXPECT_EQ(viewer::LoggedDisplay(log).FuelType, c.Fuel) << c.Readings[0];
  }
}

// A reading of ours outside lambda 0.5 to 2.0 (a row of 0.0 AFR) is a row with its volts but no
// mixture the box measured: it stays a reading and is counted apart, out of the figures.
TEST(SummaryTest, AnImplausibleReadingOfOursIsLeftOutOfTheFigures) {
  const viewer::TLog log = viewer::ParseLogText(
      viewertest::ClassicLog(36000, 3, {"14.7", "0.0", "16.2"}, "11.0"), "fault.txt");
  ASSERT_EQ(log.Rows(), 30u);
  const TDisplay afr{sensor::dmAirFuelRatio, sensor::ftPetrol};
  const viewer::TSummary summary = viewer::Summarize(log, -1e9, 1e9, afr, {});
  EXPECT_EQ(summary.Readings, 30u);
  EXPECT_EQ(summary.Implausible, 10u);
  EXPECT_NEAR(summary.Min, 14.7, 1e-5);
  EXPECT_NEAR(summary.Max, 16.2, 1e-5);
  EXPECT_NEAR(summary.Mean, 15.45, 1e-5);
  EXPECT_NEAR(summary.Lean, 0.5, 1e-9);
  EXPECT_NEAR(summary.SecondsBelowLowVolts, 3.0, 1e-6);  // all 30 rows at 11.0 V
  EXPECT_NE(viewer::SummaryText(log, summary, afr, {})
                .find("30 readings\n  implausible: 10 (outside lambda 0.5 to 2.0)"),
            std::string::npos);
  EXPECT_NE(viewer::SummaryJson(log, summary, afr, {}).find("\"implausible_readings\":10"),
            std::string::npos);
}

TEST(SummaryTest, Texts) {
  EXPECT_EQ(viewer::DurationText(123.44), "0:02:03.4");
  EXPECT_EQ(viewer::DurationText(90061), "1 d 1:01:01.0");
  EXPECT_EQ(viewer::ClockText(86400 + 50607.25, 1), "14:03:27.2");
  EXPECT_EQ(viewer::ClockText(50607.95, 0), "14:03:27");
}

}  // namespace
