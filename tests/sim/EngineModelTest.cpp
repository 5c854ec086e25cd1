// The drive's mixture as the engine computer's fuel arithmetic makes it, set up from kestsim's
// command line: known answers by construction where the engine breathes a known factor more than
// its table says, with the closed loop off and on.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "sim/EngineModel.h"
#include "sim/FrameGenerator.h"
#include "sim/FuelTable.h"
#include "sim/SimOptions.h"

namespace sim {
namespace {

// Well past the coolant's reaching the closed loop's temperature.
constexpr double WarmFrom = 300;
constexpr double WarmTo = 800;
constexpr double Step = 0.05;

TSimConfig ConfigOf(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"--scenario", "drive", "--seed", "5"});
  std::string error;
  const std::optional<TSimOptions> options = ParseSimOptions(arguments, error);
  EXPECT_TRUE(options) << error;
  return options ? options->Config : TSimConfig{};
}

double BoxAfr(const TSimConfig& config, double at) { return AfrCodeAt(config, at) / 10.0; }

// A grid file of `values` at the breakpoints of `table`, lowest MAP first.
std::string WriteGrid(const QTemporaryDir& dir, const char* name, const TFuelTable& table,
                      double factor) {
  const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
  std::ofstream out(path);
  out << "MAP \\ RPM";
  for (const double rpm : table.RpmBins) out << ',' << rpm;
  out << "\r\n";
  for (std::size_t y = 0; y < table.MapBins.size(); ++y) {
    out << table.MapBins[y];
    for (std::size_t x = 0; x < table.RpmBins.size(); ++x) {
      out << ',' << table.Values[y * table.RpmBins.size() + x] * factor;
    }
    out << "\r\n";
  }
  return path;
}

TEST(EngineModelTest, OpenLoopMixtureIsTargetTimesTheBreathingError) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string uniform = WriteGrid(dir, "error.csv", TFuelTable::Uniform(1.1), 1);
  const std::string proposed = WriteGrid(dir, "ve.csv", BuiltInVeTable(), 1.1);
  // The same table as the MSQ tune kestview's corrected copy is, written and read back.
  TFuelTable scaled = BuiltInVeTable();
  for (double& value : scaled.Values) value *= 1.1;
  const std::string tune = dir.filePath("tune.msq").toStdString();
  std::ofstream(tune, std::ios::binary) << TuneMsqText(scaled, BuiltInAfrTargetTable());
  struct TCase {
    std::vector<std::string> Arguments;
    double Ratio;  // the box's mixture against the target where no enrichment is on
  };
  const std::vector<TCase> cases = {
      {{"--closed-loop", "off"}, 1.0},
      {{"--closed-loop", "off", "--ve-error", "1.10"}, 1.1},
      {{"--closed-loop", "off", "--ve-error=0.9"}, 0.9},
      {{"--closed-loop", "off", "--ve-error", uniform}, 1.1},
      // The table the engine really breathes: the mixture comes out at target everywhere.
      {{"--closed-loop", "off", "--ve-error", "1.1", "--ve-table", proposed}, 1.0},
      {{"--closed-loop", "off", "--ve-error", "1.1", "--ve-table", tune}, 1.0},
      // Then the closed loop has nothing to trim (checked below: Gego stays at 100).
      {{"--ve-error", "1.1", "--ve-table", proposed}, 1.0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Arguments));
    const TSimConfig config = ConfigOf(c.Arguments);
    int checked = 0;
    double lastCut = -1e9;
    for (double t = WarmFrom; t < WarmTo; t += Step) {
      const TEngineState state = EngineStateAt(config, t);
      ASSERT_NEAR(state.GegoPercent, 100, 1e-9) << "at " << t;
      if (state.FuelCut != 0) lastCut = t;
      // The sensor needs a moment after the fuel comes back.
      if (state.FuelCut != 0 || t - lastCut < 1.0) continue;
      if (state.WuePercent != 100 || state.AePercent != 100) continue;
      ASSERT_NEAR(BoxAfr(config, t), state.AfrTarget * c.Ratio, 0.05 + 1e-9) << "at " << t;
      ++checked;
    }
    EXPECT_GT(checked, 5000);
  }
}

// An engine warmed up before the drive: no warm-up enrichment, and the closed loop trims from
// the first steady stretch instead of after minutes.
TEST(EngineModelTest, AWarmStartNeedsNoWarmUp) {
  const TSimConfig cold = ConfigOf({"--ve-error", "1.1"});
  const TSimConfig warm = ConfigOf({"--ve-error", "1.1", "--engine-warm"});
  double coldTrim = 100, warmTrim = 100;
  for (double t = 0; t < 60; t += Step) {
    const TEngineState state = EngineStateAt(warm, t);
    ASSERT_EQ(state.WuePercent, 100) << t;
    ASSERT_EQ(state.CoolantC, WarmCoolantC) << t;
    warmTrim = std::max(warmTrim, state.GegoPercent);
    coldTrim = std::max(coldTrim, EngineStateAt(cold, t).GegoPercent);
  }
  EXPECT_NEAR(warmTrim, 110, 1);
  EXPECT_EQ(coldTrim, 100);
}

TEST(EngineModelTest, ClosedLoopTrimsTheMixtureToTargetWithinItsLimits) {
  struct TCase {
    const char* Error;
    double Gego;   // where the correction settles
    double Ratio;  // the box's mixture against the target once it has
  };
  const std::vector<TCase> cases = {
      {"1.1", 110, 1.0},
      {"0.9", 90, 1.0},
      // Beyond the loop's reach: it stops at its limit and the mixture stays lean.
      {"1.5", 120, 1.25},
  };
  constexpr double SettledAfter = 2.5;  // time constants of the loop
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Error);
    const TSimConfig config = ConfigOf({"--ve-error", c.Error});
    int settled = 0;
    int fullLoad = 0;
    double trimmingSince = -1;
    for (double t = WarmFrom; t < WarmTo; t += Step) {
      const TEngineState state = EngineStateAt(config, t);
      ASSERT_GE(state.GegoPercent, 80) << "at " << t;
      ASSERT_LE(state.GegoPercent, 120) << "at " << t;
      if (state.MapKpa > 80) {
        ASSERT_EQ(state.GegoPercent, 100) << "open loop at full load, at " << t;
        ++fullLoad;
      }
      if (state.GegoPercent == 100) {
        trimmingSince = -1;
        continue;
      }
      if (trimmingSince < 0) trimmingSince = t;
      if (t - trimmingSince < SettledAfter) continue;
      ASSERT_NEAR(state.GegoPercent, c.Gego, 1.0) << "at " << t;
      ASSERT_NEAR(BoxAfr(config, t), state.AfrTarget * c.Ratio, 0.2) << "at " << t;
      ++settled;
    }
    EXPECT_GT(settled, 100);
    EXPECT_GT(fullLoad, 100);
  }
}

}  // namespace
}  // namespace sim
