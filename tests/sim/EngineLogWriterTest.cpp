// The engine side of a simulated drive, written as MLG and as delimited text and read back with the
// engine-log readers: the same channels, rate, values and start, and rich and lean where the load
// says.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <string>
#include <vector>

#include "log/Log.h"
#include "sim/EngineLogWriter.h"
#include "sim/EngineModel.h"
#include "sim/FrameGenerator.h"

namespace sim {
namespace {

struct TExpectedChannel {
  const char* Name;
  const char* Unit;
  double Step;  // the precision it is written to
  double TEngineState::*Value;
};

const std::vector<TExpectedChannel> EngineChannels = {
    {"RPM", "rpm", 1, &TEngineState::Rpm},
    {"MAP", "kPa", 0.1, &TEngineState::MapKpa},
    {"TPS", "%", 0.1, &TEngineState::TpsPercent},
    {"CLT", "C", 0.1, &TEngineState::CoolantC},
};
const TExpectedChannel AfrChannel{"AFR", "AFR", 0.01, &TEngineState::Afr};
const std::vector<TExpectedChannel> FuelChannels = {
    {"VE", "%", 0.1, &TEngineState::VePercent},
    {"AFR Target", "AFR", 0.01, &TEngineState::AfrTarget},
    {"Gego", "%", 0.1, &TEngineState::GegoPercent},
    {"WUE", "%", 0.1, &TEngineState::WuePercent},
    {"AE", "%", 0.1, &TEngineState::AePercent},
    {"Fuel Cut", "", 1, &TEngineState::FuelCut},
    {"PW", "ms", 0.001, &TEngineState::PulseWidthMs},
};

// The machine's clock at the drive's start: a quarter past a whole second.
constexpr double UnixAtZero = 1'700'000'000.25;
constexpr double DriveSeconds = 60.01;

struct TMeans {
  double Sum[3] = {0, 0, 0};
  int Count[3] = {0, 0, 0};
  // Full load, cruise and overrun by manifold pressure alone, as a mixture table bins them.
  void Add(double mapKpa, double afr) {
    const int bin = mapKpa > 80 ? 0 : (mapKpa > 40 && mapKpa < 65) ? 1 : mapKpa < 28 ? 2 : -1;
    if (bin < 0) return;
    Sum[bin] += afr;
    ++Count[bin];
  }
  double Mean(int bin) const { return Sum[bin] / Count[bin]; }
};

void ExpectRichUnderLoadLeanOnOverrun(const TMeans& means) {
  for (int bin = 0; bin < 3; ++bin) ASSERT_GT(means.Count[bin], 0) << "bin " << bin;
  EXPECT_LT(means.Mean(0), means.Mean(1) - 1.5);
  EXPECT_GT(means.Mean(2), means.Mean(1) + 1.5);
}

TEST(EngineLogWriterTest, DriveReadsBackAsWritten) {
  struct TCase {
    const char* File;
    double RateHz;
    bool Afr;
    double OffsetSeconds;
    enginelog::TFileFormat Format;
    std::int64_t Start;  // Unix seconds of the first record: the engine's clock, rounded up
    double FirstRecord;  // the drive's time of the first record
    std::size_t Rows;
  };
  const std::vector<TCase> cases = {
      {"drive.mlg", 20, true, 37.5, enginelog::TFileFormat::Mlg, 1'700'000'038, 0.25, 1196},
      {"drive.csv", 20, true, 37.5, enginelog::TFileFormat::Text, 1'700'000'038, 0.25, 1196},
      {"drive.CSV", 50, false, -12.25, enginelog::TFileFormat::Text, 1'699'999'988, 0, 3001},
      // Records further apart than the 16-bit stamp's period: only the Time field tells how far.
      {"slow.mlg", 1, false, 0.25, enginelog::TFileFormat::Mlg, 1'700'000'001, 0.5, 60},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TSimConfig config;
  config.Scenario = TScenario::Drive;
  config.Seed = 7;

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File);
    const std::string path = dir.filePath(QString::fromLatin1(c.File)).toStdString();
    TEngineLogRecorder recorder(config, {path, c.RateHz, c.Afr, c.OffsetSeconds});
    ASSERT_TRUE(recorder.Open(UnixAtZero)) << recorder.LastError();
    // In uneven steps, as the program's loop wakes.
    for (double at = 0; at < DriveSeconds; at += 0.37) ASSERT_TRUE(recorder.CatchUp(at));
    ASSERT_TRUE(recorder.CatchUp(DriveSeconds));
    ASSERT_TRUE(recorder.Close()) << recorder.LastError();

    const enginelog::TLog log = enginelog::ReadEngineLogFile(path, c.File);
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_EQ(log.Format, c.Format);
    EXPECT_TRUE(log.Warnings.empty()) << log.Warnings.front();
    ASSERT_TRUE(log.Start);
    EXPECT_EQ(log.Start->Seconds - log.Start->UtcOffsetSeconds.value_or(0), c.Start);
    EXPECT_EQ(log.Start->Fraction, 0);
    ASSERT_EQ(log.Rows(), c.Rows);

    std::vector<TExpectedChannel> expected = EngineChannels;
    if (c.Afr) expected.push_back(AfrChannel);
    expected.insert(expected.end(), FuelChannels.begin(), FuelChannels.end());
    std::vector<int> columns;
    for (const TExpectedChannel& want : expected) {
      const int column = log.FindChannel(want.Name);
      ASSERT_GE(column, 0) << want.Name;
      EXPECT_EQ(log.Channels[static_cast<std::size_t>(column)].Unit, want.Unit);
      columns.push_back(column);
    }
    if (!c.Afr) {
      EXPECT_LT(log.FindChannel("AFR"), 0);
    }

    // The channels of old keep their places in front.
    for (std::size_t i = 0; i < EngineChannels.size(); ++i) {
      EXPECT_EQ(columns[i], columns[0] + static_cast<int>(i)) << EngineChannels[i].Name;
    }

    TMeans boxMixture;
    TMeans engineMixture;
    int fuelCut = 0;
    const auto valueAt = [&](const char* name, std::size_t row) {
      return log.Channels[static_cast<std::size_t>(log.FindChannel(name))].Values[row];
    };
    const int map = columns[1];
    for (std::size_t row = 0; row < log.Rows(); ++row) {
      const double logTime = static_cast<double>(row) / c.RateHz;
      ASSERT_NEAR(log.Times[row] - log.Times[0], logTime, 1e-3) << "row " << row;
      const TEngineState state = EngineStateAt(config, c.FirstRecord + logTime);
      for (std::size_t i = 0; i < expected.size(); ++i) {
        const float read = log.Channels[static_cast<std::size_t>(columns[i])].Values[row];
        ASSERT_NEAR(read, state.*expected[i].Value, expected[i].Step / 2 + 1e-4)
            << expected[i].Name << " row " << row;
      }
      const double mapKpa = log.Channels[static_cast<std::size_t>(map)].Values[row];
      boxMixture.Add(mapKpa, AfrCodeAt(config, c.FirstRecord + logTime) / 10.0);
      if (c.Afr)
        engineMixture.Add(mapKpa, log.Channels[static_cast<std::size_t>(columns[4])].Values[row]);
      const bool cut = valueAt("Fuel Cut", row) != 0;
      fuelCut += cut;
      // The injectors are shut exactly while the fuel is cut.
      ASSERT_EQ(valueAt("PW", row) == 0, cut) << "row " << row;
    }
    EXPECT_GT(fuelCut, 0);
    ExpectRichUnderLoadLeanOnOverrun(boxMixture);
    if (c.Afr) ExpectRichUnderLoadLeanOnOverrun(engineMixture);
    // A cold start: the coolant warms through the drive.
    const std::vector<float>& coolant = log.Channels[static_cast<std::size_t>(columns[3])].Values;
    EXPECT_NEAR(coolant.front(), ColdCoolantC, 1);
    EXPECT_GT(coolant.back(), coolant.front() + 10);
    EXPECT_GT(valueAt("WUE", 0), 105);
  }
}

}  // namespace
}  // namespace sim
