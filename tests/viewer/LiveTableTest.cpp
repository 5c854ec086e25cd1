// The running table fed as a drive is logged: engine records and the bytes of our log arrive in
// pieces of every size, neither log waiting for the other, and after each piece the running table
// and its corrected fuel table must be exactly what the one-off table and proposal make of the
// logs as they then stand, down to the last bit of every mean and weight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "log/CsvLog.h"
#include "log/OurLogReader.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/table/LiveTable.h"

namespace viewer {
namespace {

constexpr double RecordStep = 0.05;  // twenty engine records a second
constexpr std::size_t Records = 1600;

enum TChannel : std::size_t { Rpm, Map, Tps, Lambda, Ve, Ego, Warmup, Accel, Cut };

// A drive of 80 s: the engine holds a speed and load for 5 s at a time and ramps to the next in
// the first second, the throttle moving with it; its own lambda channel with a fault value now
// and then, warm-up enrichment for a while, acceleration enrichment at each ramp, a fuel cut on
// one overrun, and records without an engine speed.
enginelog::TLog EngineDrive() {
  enginelog::TLog log;
  log.Format = enginelog::TFileFormat::Text;
  for (const auto& [name, unit] :
       std::vector<std::pair<const char*, const char*>>{{"RPM", "rpm"},
                                                        {"MAP", "kPa"},
                                                        {"TPS", "%"},
                                                        {"Lambda", "lambda"},
                                                        {"VE", "%"},
                                                        {"EGO cor", "%"},
                                                        {"WUE", "%"},
                                                        {"AE", "%"},
                                                        {"Fuel cut", ""}}) {
    log.Channels.push_back({name, unit, {}});
  }
  const float rpms[] = {1500, 2500, 3500, 2000, 4500, 1200};
  const float maps[] = {40, 70, 95, 55, 105, 30};
  for (std::size_t i = 0; i < Records; ++i) {
    const std::size_t block = i / 100, into = i % 100;
    const std::size_t from = (block + 5) % 6, to = block % 6;
    const float ramp = std::min(1.0f, static_cast<float>(into) / 20);
    const float jitter = static_cast<float>(i * 37 % 11) - 5;
    const float rpm = rpms[from] + (rpms[to] - rpms[from]) * ramp + 4 * jitter;
    const float map = maps[from] + (maps[to] - maps[from]) * ramp + jitter / 5;
    const float values[] = {i % 151 == 7 ? std::nanf("") : rpm,
                            map,
                            10 + map / 2,
                            i % 97 == 3 ? 0.0f : 0.86f + static_cast<float>(i * 29 % 23) / 100,
                            50 + map / 4 + rpm / 200,
                            100 + static_cast<float>(i * 13 % 7) - 3,
                            i >= 300 && i < 360 ? 108.0f : 100.0f,
                            into < 6 ? 115.0f : 100.0f,
                            i >= 700 && i < 712 ? 1.0f : 0.0f};
    log.Times.push_back(static_cast<double>(i) * RecordStep);
    for (std::size_t c = 0; c < log.Channels.size(); ++c)
      log.Channels[c].Values.push_back(values[c]);
  }
  return log;
}

// Our extended log of the same drive, ten rows a second from 10:00:00: readings that wander, the
// controller's lowest now and then, and 2.5 s without rows after row 250.
std::string ExtendedText() {
  std::vector<int> afr;
  std::vector<double> volts;
  for (int i = 0; i < 800; ++i) {
    afr.push_back(i % 53 == 11 ? 0 : 115 + i * 29 % 50);
    volts.push_back(12.5 + (i % 7) / 10.0);
  }
  return viewertest::ExtendedLog(afr, volts, 0.1, 250, 2.5);
}

// Our classic log: rows that carry whole seconds, ten a second but now and then six or eight,
// which the reader spreads over their second only once the next one begins; and every 20 s a
// silent controller's repeats for two seconds, which it marks as such only once they outlast the
// watchdog.
std::string ClassicText() {
  std::string text = csvlog::LogHeaderLine1("12/08/26") + "\r\n" + csvlog::LogHeaderLine2 + "\r\n";
  const char* readings[] = {"12.1", "13.4", "14.7", "15.2", "0.0", "12.8", "13.9"};
  std::size_t row = 0;
  for (int s = 36000; s < 36080; ++s) {
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", s / 3600 % 24, s / 60 % 60, s % 60);
    const int rows = s % 4 == 1 ? 6 : s % 7 == 3 ? 8 : 10;
    const bool repeats = s % 20 == 10 || s % 20 == 11;
    for (int i = 0; i < rows; ++i) {
      text +=
          csvlog::LogRow(time, repeats ? "14.0" : readings[row++ % std::size(readings)], "13.0") +
          "\r\n";
    }
  }
  return text;
}

// An engine log as a follower holds it: the channels of `full` and its first `count` records.
void GrowTo(enginelog::TLog& log, const enginelog::TLog& full, std::size_t count) {
  if (log.Channels.empty()) {
    log.Format = full.Format;
    for (const auto& channel : full.Channels)
      log.Channels.push_back({channel.Name, channel.Unit, {}});
  }
  for (std::size_t i = log.Times.size(); i < count; ++i) {
    log.Times.push_back(full.Times[i]);
    for (std::size_t c = 0; c < full.Channels.size(); ++c) {
      log.Channels[c].Values.push_back(full.Channels[c].Values[i]);
    }
  }
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// The first field where the running table differs from the one made at once; empty when none.
std::string TableDifference(const TMixtureTable& live, const TMixtureTable& made) {
  std::ostringstream out;
  if (live.Error != made.Error) out << "error '" << live.Error << "' not '" << made.Error << "'";
  if (live.XBins != made.XBins || live.YBins != made.YBins) out << " breakpoints";
  const std::size_t counts[][2] = {
      {live.Samples, made.Samples},     {live.Counted, made.Counted},
      {live.NoMixture, made.NoMixture}, {live.Implausible, made.Implausible},
      {live.Unsteady, made.Unsteady},   {live.OutOfRange, made.OutOfRange},
      {live.MinHits, made.MinHits}};
  for (const auto& [a, b] : counts) {
    if (a != b) out << " count " << a << " not " << b;
  }
  if (live.Cells.size() != made.Cells.size()) return out.str() + " cells";
  for (std::size_t c = 0; c < made.Cells.size(); ++c) {
    const TTableCell& a = live.Cells[c];
    const TTableCell& b = made.Cells[c];
    if (a.Hits != b.Hits || !Same(a.Mean, b.Mean) || !Same(a.Sd, b.Sd) ||
        !Same(a.Correction, b.Correction)) {
      out << " cell " << c << ": " << a.Hits << " " << a.Mean << " not " << b.Hits << " " << b.Mean;
    }
  }
  return out.str();
}

std::string ProposalDifference(const TFuelProposal& live, const TFuelProposal& made) {
  std::ostringstream out;
  if (live.Error != made.Error) out << "error '" << live.Error << "' not '" << made.Error << "'";
  if (live.Estimated != made.Estimated || live.Current.X != made.Current.X ||
      live.Current.Y != made.Current.Y || live.Changed != made.Changed) {
    out << " grid";
  }
  const auto values = [&](const char* what, const std::vector<double>& a,
                          const std::vector<double>& b) {
    if (a.size() != b.size()) out << " " << what << " size";
    for (std::size_t c = 0; c < std::min(a.size(), b.size()); ++c) {
      if (!Same(a[c], b[c])) out << " " << what << " " << c << ": " << a[c] << " not " << b[c];
    }
  };
  values("current", live.Current.Values, made.Current.Values);
  values("proposed", live.Proposed, made.Proposed);
  values("weight", live.Weight, made.Weight);
  const TLeftOut& a = live.LeftOut;
  const TLeftOut& b = made.LeftOut;
  if (live.Used != made.Used || a.NoMixture != b.NoMixture || a.Implausible != b.Implausible ||
      a.Filtered != b.Filtered || a.OutsideRange != b.OutsideRange || a.Warmup != b.Warmup ||
      a.Accel != b.Accel || a.FuelCut != b.FuelCut || a.NoTarget != b.NoTarget ||
      a.NoFuelValue != b.NoFuelValue) {
    out << " left out or used " << live.Used << " not " << made.Used;
  }
  return out.str();
}

enum class TSource { Extended, Classic, Engine };
enum class TFilter { None, Steady, Range };

TEST(LiveTable, FedInPiecesItIsTheTableMadeAtOnce) {
  struct TCase {
    const char* Name;
    TSource Source;
    TFilter Filter;
    double Lag;
    bool Tune;           // the proposal on a tune's grid, or estimated on the table's
    double From = -1e9;  // the range's start, seconds into our log
  };
  const TCase cases[] = {
      {"extended log, no filter", TSource::Extended, TFilter::None, 0, false},
      {"extended log, steady, lagging", TSource::Extended, TFilter::Steady, 0.3, true},
      {"extended log, range, lagging", TSource::Extended, TFilter::Range, 0.3, false},
      {"extended log, steady, from 20 s", TSource::Extended, TFilter::Steady, 0, false, 20},
      {"classic log, steady", TSource::Classic, TFilter::Steady, 0, true},
      {"classic log, range, lagging", TSource::Classic, TFilter::Range, 0.3, false},
      {"engine's own mixture, no filter, lagging", TSource::Engine, TFilter::None, 0.3, true},
      {"engine's own mixture, steady", TSource::Engine, TFilter::Steady, 0, false},
      {"engine's own mixture, range", TSource::Engine, TFilter::Range, 0.3, false},
  };
  const enginelog::TLog drive = EngineDrive();
  // Pieces of every size, engine records and seconds of our log as bytes, at paces that match on
  // the whole but not step by step, so that each log runs ahead of the other by turns.
  const std::size_t recordSteps[] = {1, 13, 160, 4, 55, 0, 240, 31};
  const double secondSteps[] = {0, 3.5, 0.05, 7.0, 0.3, 5.2, 0.01, 2.4, 9.0};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const bool ours = c.Source != TSource::Engine;
    const std::string text = c.Source == TSource::Classic ? ClassicText() : ExtendedText();
    TTableSettings settings;
    settings.XChannel = Rpm;
    settings.YChannel = Map;
    settings.XBins = {1000, 2000, 3000, 4000, 5000};
    settings.YBins = {30, 50, 70, 90, 110};
    settings.MixtureChannel = Lambda;
    settings.UseEngineMixture = !ours;
    settings.MinHits = 5;
    settings.Lag = c.Lag;
    settings.Target.Value = 14.7;
    settings.From = (ours ? 36000 : 0) + c.From;
    if (c.Filter == TFilter::Steady) settings.Steady = TSteadyFilter{Tps, 20, 0.5};
    if (c.Filter == TFilter::Range) settings.Ranges = {{Map, 35, 100}};
    TCorrectionInput correction;
    correction.Channels.FuelValue = Ve;
    correction.Channels.Correction = Ego;
    correction.Channels.Warmup = Warmup;
    correction.Channels.Accel = Accel;
    correction.Channels.FuelCut = Cut;
    correction.Limits.MinWeight = 5;
    if (c.Tune) {
      correction.Tune = TFuelGrid{{1000, 2500, 4000, 6000, 6000}, {30, 60, 100}, {}};
      for (int v = 0; v < 15; ++v) correction.Tune->Values.push_back(40 + 2.5 * v);
      correction.Limits.Digits = 1;
    }

    TLiveTable live(settings, correction);
    enginelog::TLog engine;
    enginelog::TOurLogReader reader("ours.csv");
    // The header comes first, as a logger writes it before its first row.
    std::size_t fed = text.find('\n') + 1;
    reader.Feed(std::string_view(text).substr(0, fed));
    std::optional<std::vector<bool>> shownAtStart;
    TMixtureTable made;
    TFuelProposal proposal;
    for (std::size_t step = 0; engine.Times.size() < Records || (ours && fed < text.size());
         ++step) {
      GrowTo(engine, drive,
             std::min(Records, engine.Times.size() + recordSteps[step % std::size(recordSteps)]));
      if (ours) {
        const double seconds = secondSteps[step % std::size(secondSteps)];
        const std::size_t piece = std::min(
            text.size() - fed,
            static_cast<std::size_t>(std::lround(seconds * static_cast<double>(text.size()) / 80)));
        reader.Feed(std::string_view(text).substr(fed, piece));
        fed += piece;
      }
      const TLog& mixture = reader.Log();
      const TTableInput input{&engine, ours ? &mixture : nullptr,
                              ours ? EngineShift(mixture, engine, 0) : 0};
      live.Update(input);
      made = BuildMixtureTable(input, settings);
      proposal = BuildFuelProposal(input, settings, correction);
      SCOPED_TRACE("step " + std::to_string(step) + ", " + std::to_string(engine.Times.size()) +
                   " records, " + std::to_string(mixture.Times.size()) + " rows");
      ASSERT_EQ(TableDifference(live.Table(), made), "");
      ASSERT_EQ(ProposalDifference(live.Proposal(), proposal), "");

      // The engine is in the cell of its last record; the cells shown now that were not at the
      // first update filled while following.
      const std::optional<TCellIndex> now =
          CellAt(made, {&engine, nullptr, 0}, settings, engine.Times.back());
      EXPECT_EQ(live.CurrentCell(made.XBins, made.YBins), now);
      std::vector<bool> shown(made.Cells.size());
      for (std::size_t i = 0; i < shown.size(); ++i) shown[i] = made.Shown(i % 5, i / 5);
      if (!shownAtStart) shownAtStart = shown;
      std::vector<TCellIndex> filled;
      for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] && !(*shownAtStart)[i]) filled.push_back({i % 5, i / 5});
      }
      EXPECT_EQ(live.NewlyFilled(), filled);
    }
    // The drive passed through every reason a record may be left out.
    EXPECT_GT(made.Counted, 300U);
    // The controller clamps its readings into the plausible range: only the classic log's typed
    // faults and the engine's own channel have implausible ones.
    EXPECT_EQ(made.Implausible > 0, c.Source != TSource::Extended);
    EXPECT_GT(proposal.Used, 200U);
    EXPECT_GT(proposal.LeftOut.Warmup + proposal.LeftOut.Accel + proposal.LeftOut.FuelCut, 0U);
    EXPECT_EQ(made.Unsteady > 0, c.Filter == TFilter::Steady);
    EXPECT_EQ(made.OutOfRange > 0, c.Filter == TFilter::Range);
    EXPECT_EQ(made.NoMixture > 0, ours || c.Lag > 0);
    EXPECT_FALSE(live.NewlyFilled().empty());
  }
}

}  // namespace
}  // namespace viewer
