// The mixture table over drives whose answers are known by construction: blocks of constant engine
// speed, load and mixture, so every cell's mean, hits and spread follow from the block lengths.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <functional>

#include "viewer/table/MixtureTable.h"
#include "viewer/table/MixtureTableText.h"

namespace {

using viewer::TTableSettings;

constexpr double Step = 0.1;     // both logs: ten records a second
constexpr double Start = 36000;  // our log's first row, 10:00:00

// A stretch of the drive: the engine holds speed, load and throttle, the exhaust holds a mixture.
struct TBlock {
  double Seconds;
  float Rpm;
  float Map;
  float Afr;
  float Tps = 20;
  float Coolant = 85;
};

// The engine log and our log of the blocks, both from time 0 of the drive. Our mixture reaches the
// sensor `exhaustDelay` seconds after the engine record that burned it.
struct TDrive {
  enginelog::TLog Engine;
  viewer::TLog Ours;

  TDrive(const std::vector<TBlock>& blocks, double exhaustDelay = 0) {
    for (const char* name : {"RPM", "MAP", "TPS", "CLT", "Lambda"}) {
      Engine.Channels.push_back({name, "", {}});
    }
    Engine.Channels[4].Unit = "lambda";
    std::vector<float> afrs;
    for (const TBlock& block : blocks) {
      for (int i = 0; i < std::lround(block.Seconds / Step); ++i) {
        Engine.Times.push_back(static_cast<double>(Engine.Times.size()) * Step);
        Engine.Channels[0].Values.push_back(block.Rpm);
        Engine.Channels[1].Values.push_back(block.Map);
        Engine.Channels[2].Values.push_back(block.Tps);
        Engine.Channels[3].Values.push_back(block.Coolant);
        Engine.Channels[4].Values.push_back(block.Afr / 14.7f);
        afrs.push_back(block.Afr);
      }
    }
    const auto delayRows = static_cast<std::size_t>(std::lround(exhaustDelay / Step));
    std::vector<viewer::TSample> samples;
    for (std::size_t i = 0; i < afrs.size(); ++i) {
      viewer::TSample sample;
      sample.Time = Start + static_cast<double>(i) * Step;
      sample.Value = afrs[i < delayRows ? 0 : i - delayRows];
      sample.Lambda = std::nanf("");
      sample.Status = viewer::TSampleStatus::Live;
      samples.push_back(sample);
    }
    Ours = viewer::OurLogOf(samples, Step);
  }

  viewer::TTableInput Input(bool withOurs = true) const {
    return {&Engine, withOurs ? &Ours : nullptr, withOurs ? Start : 0};
  }
};

TTableSettings Settings() {
  TTableSettings settings;
  settings.XChannel = 0;
  settings.YChannel = 1;
  settings.XBins = {1000, 3000, 6000};
  settings.YBins = {30, 100};
  settings.MixtureChannel = 4;
  return settings;
}

// Idle, full load, overrun: 5 s each.
const std::vector<TBlock> Drive = {
    {5, 1000, 30, 14.7f}, {5, 3000, 100, 12.0f}, {5, 6000, 30, 17.0f}};

struct TExpectedCell {
  std::size_t X, Y;
  double Mean;
  std::uint32_t Hits;
  double Sd = 0;
};

struct TCase {
  const char* Name;
  std::vector<TBlock> Blocks;
  double ExhaustDelay;
  std::function<void(TTableSettings&, TDrive&)> Change;
  std::vector<TExpectedCell> Cells;  // every other cell has no hits
  bool WithOurs = true;
};

TEST(MixtureTable, CellsOfKnownDrives) {
  const std::vector<TCase> cases = {
      {"three blocks, three cells",
       Drive,
       0,
       [](TTableSettings&, TDrive&) {},
       {{0, 0, 14.7, 50}, {1, 1, 12.0, 50}, {2, 0, 17.0, 50}}},
      {"the lag takes the mixture the exhaust brought later",
       Drive,
       0.5,
       [](TTableSettings& s, TDrive&) { s.Lag = 0.5; },
       // The last half second of the overrun burned a mixture that reached the sensor after our
       // log ended: those records have no mixture.
       {{0, 0, 14.7, 50}, {1, 1, 12.0, 50}, {2, 0, 17.0, 45}}},
      {"without the lag each block starts with the one before",
       Drive,
       0.5,
       [](TTableSettings&, TDrive&) {},
       {{0, 0, 14.7, 50},
        {1, 1, (5 * 14.7 + 45 * 12.0) / 50, 50, 0.81822},
        {2, 0, (5 * 12.0 + 45 * 17.0) / 50, 50, 1.51523}}},
      {"the zoom range keeps the full-load block only",
       Drive,
       0,
       [](TTableSettings& s, TDrive&) {
         s.From = Start + 5.0;
         s.To = Start + 9.95;
       },
       {{1, 1, 12.0, 50}}},
      {"a range filter on the coolant drops the cold idle",
       {{5, 1000, 30, 14.0f, 20, 40}, {5, 1000, 30, 15.0f, 20, 70}},
       0,
       [](TTableSettings& s, TDrive&) {
         s.Ranges = {{3, 70}};  // 70 itself is in range
       },
       {{0, 0, 15.0, 50}}},
      {"a transient is dropped with its settle time",
       {{5, 3000, 100, 12.0f, 20}, {0.3f, 3000, 100, 10.0f, 80}, {4.7f, 3000, 100, 12.0f, 80}},
       0,
       [](TTableSettings& s, TDrive&) {
         s.Steady = viewer::TSteadyFilter{2, 100, 0.45};
       },
       // The throttle opens at 5.0 s: the records from 5.0 to 5.4 s go, the rich ones among them.
       {{1, 1, 12.0, 95}}},
      {"a transient a settle time before the zoom range still unsettles its start",
       {{5, 3000, 100, 12.0f, 20}, {0.3f, 3000, 100, 10.0f, 80}, {4.7f, 3000, 100, 12.0f, 80}},
       0,
       [](TTableSettings& s, TDrive&) {
         s.Steady = viewer::TSteadyFilter{2, 100, 0.73};
         s.From = Start + 5.69;  // its look back begins at 4.96 s, after the record at 4.9 s
       },
       // The throttle opens at 5.0 s, which the record before the look back shows: the record at
       // 5.7 s of the 43 from 5.7 s on is still settling.
       {{1, 1, 12.0, 42}}},
      {"rows that are not live never count",
       Drive,
       0,
       [](TTableSettings&, TDrive& d) {
         std::vector<float>& status = d.Ours.Channels[enginelog::OurStatus].Values;
         status[10] = static_cast<float>(viewer::TSampleStatus::Warmup);
         status[11] = static_cast<float>(viewer::TSampleStatus::LowVolts);
         d.Ours.RowFlags[12] |= enginelog::RowStale;
       },
       // The records at 1.0 to 1.2 s find no row of ours that counts near them.
       {{0, 0, 14.7, 47}, {1, 1, 12.0, 50}, {2, 0, 17.0, 50}}},
      {"our rows logged as lambda count in the table's unit",
       Drive,
       0,
       [](TTableSettings&, TDrive& d) {
         for (std::size_t i = 0; i < d.Ours.Rows(); ++i) {
           d.Ours.Channels[enginelog::OurReading].Values[i] /= 14.7f;
           d.Ours.RowFlags[i] |= enginelog::RowLambda;
         }
       },
       {{0, 0, 14.7, 50}, {1, 1, 12.0, 50}, {2, 0, 17.0, 50}}},
      {"without a log of ours the engine's lambda channel, as AFR",
       Drive,
       0,
       [](TTableSettings&, TDrive&) {},
       {{0, 0, 14.7, 50}, {1, 1, 12.0, 50}, {2, 0, 17.0, 50}},
       false},
      {"the engine's channel as lambda",
       Drive,
       0,
       [](TTableSettings& s, TDrive&) { s.Unit.DisplayMode = sensor::dmLambda; },
       {{0, 0, 1.0, 50}, {1, 1, 12.0 / 14.7, 50}, {2, 0, 17.0 / 14.7, 50}},
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDrive drive(c.Blocks, c.ExhaustDelay);
    TTableSettings settings = Settings();
    c.Change(settings, drive);
    const viewer::TMixtureTable table =
        viewer::BuildMixtureTable(drive.Input(c.WithOurs), settings);
    ASSERT_EQ(table.Error, "");
    ASSERT_EQ(table.Cells.size(), 6u);
    std::uint32_t expectedHits = 0;
    for (const TExpectedCell& cell : c.Cells) {
      const viewer::TTableCell& got = table.At(cell.X, cell.Y);
      EXPECT_EQ(got.Hits, cell.Hits) << cell.X << "," << cell.Y;
      EXPECT_NEAR(got.Mean, cell.Mean, 1e-4) << cell.X << "," << cell.Y;
      EXPECT_NEAR(got.Sd, cell.Sd, 1e-3) << cell.X << "," << cell.Y;
      expectedHits += cell.Hits;
    }
    std::uint32_t hits = 0;
    for (const viewer::TTableCell& cell : table.Cells) hits += cell.Hits;
    EXPECT_EQ(hits, expectedHits) << "hits in cells not expected";
    EXPECT_EQ(table.Counted, expectedHits);
  }
}

// An engine log of `count` records 0.1 s apart at 2000 rpm and 50 kPa whose mixture channel,
// named and with the unit given, holds `mixture(i)` at record i.
enginelog::TLog SteadyEngine(const char* name, const char* unit, int count,
                             const std::function<float(int)>& mixture) {
  enginelog::TLog log;
  log.Channels = {{"RPM", "rpm", {}}, {"MAP", "kPa", {}}, {"TPS", "%", {}}, {name, unit, {}}};
  for (int i = 0; i < count; ++i) {
    log.Times.push_back(0.1 * i);
    log.Channels[0].Values.push_back(2000);
    log.Channels[1].Values.push_back(50);
    log.Channels[2].Values.push_back(20);
    log.Channels[3].Values.push_back(mixture(i));
  }
  return log;
}

TTableSettings OneCell(const viewer::TDisplay& unit) {
  TTableSettings settings;
  settings.XChannel = 0;
  settings.YChannel = 1;
  settings.XBins = {2000};
  settings.YBins = {50};
  settings.MixtureChannel = 3;
  settings.MinHits = 1;
  settings.Unit = unit;
  return settings;
}

// Only a mixture from lambda 0.5 to 2.0 counts, judged as lambda whichever unit the channel holds
// and the table shows; a value outside (a sensor's fault: 0, full scale) is counted apart, and a
// missing value is no mixture at all.
TEST(MixtureTable, OnlyAPlausibleMixtureCounts) {
  enum TVerdict { Counted, Implausible, None };
  const viewer::TDisplay afr{sensor::dmAirFuelRatio, sensor::ftPetrol};
  const viewer::TDisplay lambda{sensor::dmLambda, sensor::ftPetrol};
  const viewer::TDisplay methanol{sensor::dmAirFuelRatio, sensor::ftMethanol};
  struct TCase {
    const char* Name;
    const char* Unit;  // of the channel "AFR" (an air-fuel ratio) or "Lambda"
    float Value;
    viewer::TDisplay Table;
    TVerdict Verdict;
  };
  const float nan = std::nanf("");
  const TCase cases[] = {
      {"AFR", "AFR", 0, afr, Implausible},
      {"AFR", "AFR", 9.99f, afr, Counted},  // lambda 0.68: rich, but a mixture
      {"AFR", "AFR", 7.35f, afr, Counted},  // lambda 0.5, the richest that counts
      {"AFR", "AFR", 7.3f, afr, Implausible},
      {"AFR", "AFR", 29.4f, afr, Counted},  // lambda 2.0, the leanest
      {"AFR", "AFR", 29.5f, afr, Implausible},
      {"AFR", "AFR", 7.35f, lambda, Counted},
      {"AFR", "AFR", 29.5f, lambda, Implausible},
      {"AFR", "AFR", nan, afr, None},
      {"Lambda", "", 0.49f, lambda, Implausible},
      {"Lambda", "", 0.5f, lambda, Counted},
      {"Lambda", "", 2.0f, lambda, Counted},
      {"Lambda", "", 2.01f, lambda, Implausible},
      {"Lambda", "", 9.99f, lambda, Implausible},  // a lambda channel's full scale
      {"Lambda", "", 0.49f, afr, Implausible},
      {"Lambda", "", 0.5f, afr, Counted},
      {"Lambda", "", 2.0f, afr, Counted},
      {"Lambda", "", 2.01f, afr, Implausible},
      {"Lambda", "", nan, lambda, None},
      // Methanol burns at 6.4: lambda 0.5 is 3.2 AFR, and 14 AFR is beyond lambda 2.
      {"AFR", "AFR", 3.2f, methanol, Counted},
      {"AFR", "AFR", 3.1f, methanol, Implausible},
      {"AFR", "AFR", 14.0f, methanol, Implausible},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.Value) +
                 (c.Table.DisplayMode == sensor::dmLambda ? " as lambda" : " as AFR") +
                 (c.Table.FuelType == sensor::ftMethanol ? " of methanol" : ""));
    const enginelog::TLog log = SteadyEngine(c.Name, c.Unit, 20, [&](int) { return c.Value; });
    const viewer::TMixtureTable table = viewer::BuildMixtureTable({&log}, OneCell(c.Table));
    ASSERT_EQ(table.Error, "");
    EXPECT_EQ(table.Samples, 20u);
    EXPECT_EQ(table.Counted, c.Verdict == Counted ? 20u : 0u);
    EXPECT_EQ(table.Implausible, c.Verdict == Implausible ? 20u : 0u);
    EXPECT_EQ(table.NoMixture, c.Verdict == None ? 20u : 0u);
    EXPECT_EQ(table.Shown(0, 0), c.Verdict == Counted);
  }
}

// Each record left out is counted under its one reason, and the JSON and the status line say so:
// 10 plausible, 10 at 0 AFR, 10 without a value, 10 outside a range filter on the throttle, and
// the throttle's jump into that stretch unsettles 4 records of the steady-state filter.
TEST(MixtureTable, RecordsLeftOutAreCountedByReason) {
  const auto afrAt = [](int i) {
    return i < 10 ? 14.7f : i < 20 ? 0.0f : i < 30 ? std::nanf("") : 13.0f;
  };
  enginelog::TLog log = SteadyEngine("AFR", "AFR", 50, afrAt);
  for (int i = 40; i < 50; ++i) log.Channels[2].Values[static_cast<std::size_t>(i)] = 90;
  TTableSettings settings = OneCell({sensor::dmAirFuelRatio, sensor::ftPetrol});
  settings.Steady = viewer::TSteadyFilter{2, 100, 0.35};  // records 40 to 43
  settings.Ranges = {{2, 0, 50}};                         // the throttle up to 50 %
  const viewer::TMixtureTable table = viewer::BuildMixtureTable({&log}, settings);
  ASSERT_EQ(table.Error, "");
  EXPECT_EQ(table.Samples, 50u);
  EXPECT_EQ(table.Counted, 10u + 10u);  // the plausible records and those at 13.0 AFR
  EXPECT_EQ(table.Implausible, 10u);
  EXPECT_EQ(table.NoMixture, 10u);
  EXPECT_EQ(table.Unsteady, 4u);
  EXPECT_EQ(table.OutOfRange, 6u);
  EXPECT_NEAR(table.At(0, 0).Mean, (14.7 + 13.0) / 2, 1e-5);
  const QJsonObject json =
      QJsonDocument::fromJson(QByteArray::fromStdString(viewer::TableJson(table, {}))).object();
  const QJsonObject leftOut = json["left_out"].toObject();
  EXPECT_EQ(leftOut["implausible"].toInt(), 10);
  EXPECT_EQ(leftOut["no_mixture"].toInt(), 10);
  EXPECT_EQ(leftOut["filtered"].toInt(), 4);
  EXPECT_EQ(leftOut["outside_range"].toInt(), 6);
  EXPECT_EQ(json["records"].toInt(), 50);
  EXPECT_EQ(json["counted"].toInt(), 20);
  EXPECT_EQ(viewer::TableStatusText(table),
            "50 engine records in range, 20 counted; 30 left out: 10 with an implausible mixture "
            "(outside lambda 0.5 to 2.0), 10 without a mixture at their time, 4 not steady, 6 "
            "outside the range filter; cells with fewer than 1 hits are empty");

  // A wideband of zeros makes no cell, and the status says why before anything else.
  const enginelog::TLog zeros = SteadyEngine("Wideband", "", 30, [](int) { return 0.0f; });
  const viewer::TMixtureTable empty =
      viewer::BuildMixtureTable({&zeros}, OneCell({sensor::dmAirFuelRatio, sensor::ftPetrol}));
  EXPECT_FALSE(empty.AnyShown());
  EXPECT_EQ(viewer::TableStatusText(empty),
            "No cells: all 30 engine records in range were left out: 30 with an implausible "
            "mixture (outside lambda 0.5 to 2.0)");
}

// A record between a sensor's fault value and a reading has no mixture anyone measured, though
// the line between them passes through plausible ones: the lag places every record halfway
// between an engine record at 0 AFR and one at 14.7, and none counts; nor does a log of ours
// whose reading is 0.
TEST(MixtureTable, NoMixtureIsMadeUpFromAFaultValue) {
  const enginelog::TLog log =
      SteadyEngine("AFR", "AFR", 40, [](int i) { return i % 2 == 0 ? 0.0f : 14.7f; });
  TTableSettings settings = OneCell({sensor::dmAirFuelRatio, sensor::ftPetrol});
  settings.Lag = 0.05;
  const viewer::TMixtureTable table = viewer::BuildMixtureTable({&log}, settings);
  EXPECT_EQ(table.Counted, 0u);
  EXPECT_EQ(table.Implausible, 39u);  // the last record's mixture would come after the log
  EXPECT_EQ(table.NoMixture, 1u);

  TDrive drive(Drive);
  for (std::size_t i = 0; i < 50; i += 2) {
    drive.Ours.Channels[enginelog::OurReading].Values[i] = 0;  // the idle block's every other row
  }
  const viewer::TMixtureTable ours = viewer::BuildMixtureTable(drive.Input(), Settings());
  EXPECT_EQ(ours.Implausible, 25u);
  EXPECT_EQ(ours.At(0, 0).Hits, 25u);
  EXPECT_NEAR(ours.At(0, 0).Mean, 14.7, 1e-5);
}

TEST(MixtureTable, TargetCorrectionAndMinimumHits) {
  TDrive drive({{5, 1000, 30, 14.7f}, {0.5, 3000, 100, 12.0f}, {5, 6000, 30, 17.0f}});
  TTableSettings settings = Settings();
  settings.Target.Value = 13.0;
  viewer::TMixtureTable table = viewer::BuildMixtureTable(drive.Input(), settings);
  EXPECT_NEAR(table.At(0, 0).Correction, 14.7 / 13.0, 1e-6);
  EXPECT_NEAR(table.At(2, 0).Correction, 17.0 / 13.0, 1e-6);
  EXPECT_TRUE(table.Shown(0, 0));
  EXPECT_EQ(table.At(1, 1).Hits, 5u);
  EXPECT_FALSE(table.Shown(1, 1));  // 5 hits, fewer than 10
  EXPECT_FALSE(table.Shown(1, 0));  // none

  // A grid aims each cell at its own value; a cell without one has no correction.
  settings.Target = {};
  settings.Target.Grid = {14.7, 99, 17.0 / 1.1, 99, 12.0 / 0.9, std::nan("")};
  table = viewer::BuildMixtureTable(drive.Input(), settings);
  EXPECT_NEAR(table.At(0, 0).Correction, 1.0, 1e-6);
  EXPECT_NEAR(table.At(2, 0).Correction, 1.1, 1e-6);
  EXPECT_NEAR(table.At(1, 1).Correction, 0.9, 1e-6);
  EXPECT_TRUE(std::isnan(table.At(2, 1).Correction));
}

TEST(MixtureTable, NearestBreakpointEdges) {
  const viewer::TBins bins = {1000, 2000, 4000};
  const std::vector<std::pair<double, std::size_t>> cases = {
      {-5, 0},   {1000, 0}, {1499, 0}, {1500, 0},  // a tie keeps the lower breakpoint
      {1501, 1}, {3000, 1}, {3001, 2}, {4000, 2}, {1e9, 2}};
  for (const auto& [value, bin] : cases) EXPECT_EQ(viewer::NearestBin(bins, value), bin) << value;
}

TEST(MixtureTable, DerivedBreakpointsAreRoundOverTheData) {
  struct TDerive {
    std::vector<float> Values;
    viewer::TBins Expected;
  };
  std::vector<float> spread;  // 800 to 6500 rpm, and one stray reading far above
  for (int i = 0; i <= 570; ++i) spread.push_back(800.0f + 10.0f * static_cast<float>(i));
  spread.push_back(30000);
  std::vector<float> fractions;  // 0.12 to 1.02
  for (int i = 0; i <= 100; ++i) fractions.push_back(0.12f + 0.009f * static_cast<float>(i));
  std::vector<float> pressures;  // 23.6 to 96.9 kPa: a step of 5 from 25 reaches 100
  for (int i = 0; i <= 100; ++i) pressures.push_back(23.6f + 0.733f * static_cast<float>(i));
  const std::vector<TDerive> cases = {
      {spread,
       {800, 1200, 1600, 2000, 2400, 2800, 3200, 3600, 4000, 4400, 4800, 5200, 5600, 6000, 6400,
        6800}},
      {fractions, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6}},
      {pressures, {25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100}},
      {{50, 50, std::nanf(""), 50}, {50}},
      {{std::nanf("")}, {}},
  };
  for (const TDerive& c : cases) {
    enginelog::TLog log;
    log.Channels.push_back({"X", "", c.Values});
    for (std::size_t i = 0; i < c.Values.size(); ++i) log.Times.push_back(static_cast<double>(i));
    const viewer::TBins bins =
        viewer::DeriveBins(log, 0, 0, -INFINITY, INFINITY, viewer::DerivedBinCount);
    EXPECT_EQ(bins, c.Expected);  // exactly: round numbers print as they are
  }
}

TEST(MixtureTable, CursorCellAndRefusals) {
  TDrive drive(Drive);
  TTableSettings settings = Settings();
  const viewer::TMixtureTable table = viewer::BuildMixtureTable(drive.Input(), settings);
  EXPECT_EQ(viewer::CellAt(table, drive.Input(), settings, Start + 7), (viewer::TCellIndex{1, 1}));
  EXPECT_EQ(viewer::CellAt(table, drive.Input(), settings, Start + 12), (viewer::TCellIndex{2, 0}));
  EXPECT_FALSE(viewer::CellAt(table, drive.Input(), settings, Start - 1));
  EXPECT_FALSE(viewer::CellAt(table, drive.Input(), settings, Start + 20));

  settings.MixtureChannel.reset();
  EXPECT_NE(viewer::BuildMixtureTable(drive.Input(false), settings).Error, "");
  settings = Settings();
  settings.YChannel = 9;
  EXPECT_NE(viewer::BuildMixtureTable(drive.Input(), settings).Error, "");
}

}  // namespace
