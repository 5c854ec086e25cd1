// The trace's reduction to pixel columns over hand-made samples: what each column keeps, where
// the line breaks and where it changes colour.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "viewer/chart/TraceColumns.h"

namespace {

using viewer::TSample;
using viewer::TSampleStatus;
using viewer::TTraceQuantity;

// Samples every 0.1 s from 0 with the given AFR readings (13.0 V, live).
std::vector<TSample> Readings(const std::vector<float>& values, double start = 0) {
  std::vector<TSample> samples;
  for (std::size_t i = 0; i < values.size(); ++i) {
    TSample sample;
    sample.Time = start + 0.1 * static_cast<double>(i);
    sample.Value = values[i];
    sample.Volts = 13.0f;
    sample.Lambda = NAN;
    sample.Status = TSampleStatus::Live;
    samples.push_back(sample);
  }
  return samples;
}

std::vector<TSample> Join(std::vector<TSample> a, const std::vector<TSample>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "[ c:first/low/high/last ... ]", a run joined to the one before as "+[", its status as a letter.
std::string Describe(const std::vector<viewer::TTraceRun>& runs) {
  std::string text;
  for (const viewer::TTraceRun& run : runs) {
    text += run.JoinsPrevious ? "+[" : "[";
    text += "NLWOV"[static_cast<int>(run.Status)];
    char column[96];
    for (const viewer::TColumnValues& c : run.Columns) {
      std::snprintf(column, sizeof column, " %d:%g/%g/%g/%g", c.Column, c.First, c.Low, c.High,
                    c.Last);
      text += column;
    }
    text += "]";
  }
  return text;
}

TEST(TraceColumns, KeepsFirstLowHighLastAndBreaksAtEveryGap) {
  struct TCase {
    const char* Name;
    std::vector<TSample> Samples;
    double ColumnsPerSecond;  // over a view of 0 to 10 s
    TTraceQuantity Quantity;
    std::string Expected;
  };
  std::vector<TSample> statusChange = Readings({14, 15, 16, 17});
  statusChange[2].Status = statusChange[3].Status = TSampleStatus::LowVolts;
  statusChange[2].Volts = statusChange[3].Volts = 11.5f;
  std::vector<TSample> stale = Readings({14, 15, 15, 15, 16}, 0);
  stale[2].Stale = stale[3].Stale = true;
  const TCase cases[] = {
      // Forty samples in one column, a dip to 10 in the middle: the column reaches it.
      {"DipInsideOneColumn",
       Readings({15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
                 10, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 16}),
       0.2, TTraceQuantity::Reading, "[L 0:15/10/16/16]"},
      // Half a second of silence inside a five-second column still parts the line.
      {"GapNarrowerThanAColumn", Join(Readings({14, 15}), Readings({16, 17}, 0.7)), 0.2,
       TTraceQuantity::Reading, "[L 0:14/14/15/15][L 0:16/16/17/17]"},
      // A hole of four sample intervals is a gap; one of two is not.
      {"HoleOfFourIntervals", Join(Readings({14}), Readings({15}, 0.4)), 10,
       TTraceQuantity::Reading, "[L 0:14/14/14/14][L 4:15/15/15/15]"},
      {"HoleOfTwoIntervals", Join(Readings({14}), Readings({15}, 0.2)), 10, TTraceQuantity::Reading,
       "[L 0:14/14/14/14 2:15/15/15/15]"},
      // A new status goes on in its colour from where the old one ended; the volts do not care.
      {"StatusChangeJoins", statusChange, 10, TTraceQuantity::Reading,
       "[L 0:14/14/14/14 1:15/15/15/15]+[V 2:16/16/16/16 3:17/17/17/17]"},
      {"VoltsKeepOneColour", statusChange, 5, TTraceQuantity::Volts,
       "[N 0:13/13/13/13 1:11.5/11.5/11.5/11.5]"},
      // Repeats of a silent controller are no values: the line stops before them.
      {"StaleRepeatsLeftOut", stale, 10, TTraceQuantity::Reading,
       "[L 0:14/14/14/14 1:15/15/15/15][L 4:16/16/16/16]"},
      // A reading of 0 AFR is no mixture the box measured: a gap in the reading, not in the volts.
      {"ImplausibleReadingIsAGap", Readings({14, 0, 15}), 10, TTraceQuantity::Reading,
       "[L 0:14/14/14/14][L 2:15/15/15/15]"},
      {"ImplausibleReadingKeepsItsVolts", Readings({14, 0, 15}), 10, TTraceQuantity::Volts,
       "[N 0:13/13/13/13 1:13/13/13/13 2:13/13/13/13]"},
      // ... also inside a column of forty samples, where a fault at full scale is its highest.
      {"ImplausibleInsideOneColumn",
       Readings({15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
                 99, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 16}),
       0.2, TTraceQuantity::Reading, "[L 0:15/15/15/15][L 0:15/15/16/16]"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const viewer::TLog log = viewer::OurLogOf(c.Samples, 0.1);
    const viewer::TColumnScale scale{0, 10, 10 * c.ColumnsPerSecond};
    EXPECT_EQ(Describe(viewer::ReduceToColumns(log, scale, c.Quantity, {})), c.Expected);
  }
}

// Zoomed in to one second in ten columns, a trace runs from the column just left of the view to
// the one just right of it: the sample on either side of the view is drawn too. An engine log's
// channel shifted onto the chart's axis is cut and placed by its shifted times.
TEST(TraceColumns, AZoomedViewReachesBothEdgesWithTheSamplesJustOutside) {
  std::vector<float> values;
  for (int i = 0; i < 100; ++i) values.push_back(static_cast<float>(i));
  // The records just inside the view are 16 and 25; 15 and 26 lie half a column outside.
  const auto wanted = [](char status) {
    std::string text = std::string("[") + status;
    for (int column = -1; column <= 10; ++column) {
      const std::string value = std::to_string(column + 16);
      text += " " + std::to_string(column) + ":" + value + "/" + value + "/" + value + "/" + value;
    }
    return text + "]";
  };
  const viewer::TLog log = viewer::OurLogOf(Readings(values, 1.5), 0.1);
  const viewer::TColumnScale view{3.05, 4.05, 10};
  EXPECT_EQ(Describe(viewer::ReduceToColumns(log, view, TTraceQuantity::Reading, {})), wanted('L'));
  std::vector<double> times;
  for (int i = 0; i < 100; ++i) times.push_back(0.1 * i);
  EXPECT_EQ(Describe(viewer::ReduceSeriesToColumns(times, values, 1.5, view, 1)), wanted('N'));
}

// An engine log's mixture channel is scaled into the chart's unit and broken where it is no
// plausible mixture: 0 and 30 AFR are faults, 7.35 and 29.4 the ends of what counts (petrol).
TEST(TraceColumns, AnEngineMixtureBreaksWhereItIsNoPlausibleMixture) {
  const std::vector<double> times = {0, 0.1, 0.2, 0.3, 0.4, 0.5};
  const std::vector<float> afrs = {14.7f, 0, 7.35f, 29.4f, 30, 14.7f};
  const viewer::TColumnScale scale{0, 0.6, 6};
  const viewer::TDisplay afr{sensor::dmAirFuelRatio, sensor::ftPetrol};
  const viewer::TDisplay lambda{sensor::dmLambda, sensor::ftPetrol};
  EXPECT_EQ(Describe(viewer::ReduceSeriesToColumns(times, afrs, 0, scale, 1,
                                                   {1, viewer::PlausibleRange(afr)})),
            "[N 0:14.7/14.7/14.7/14.7][N 2:7.35/7.35/7.35/7.35 3:29.4/29.4/29.4/29.4]"
            "[N 5:14.7/14.7/14.7/14.7]");
  const auto runs = viewer::ReduceSeriesToColumns(times, afrs, 0, scale, 1,
                                                  {1 / 14.7, viewer::PlausibleRange(lambda)});
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_NEAR(runs[1].Columns[0].First, 0.5, 1e-6);
  EXPECT_NEAR(runs[1].Columns[1].First, 2.0, 1e-6);
  // A plain channel keeps every value.
  EXPECT_EQ(viewer::ReduceSeriesToColumns(times, afrs, 0, scale, 1).size(), 1u);
}

}  // namespace
