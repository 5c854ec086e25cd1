// The mixture table over two engine channels: see MixtureTable.h. One pass over the engine
// records in range; the mixture is found by a cursor that only moves forward, so a day-long log
// costs a few operations a record.
#include "viewer/table/MixtureTable.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <span>

#include "log/OurLogReader.h"
#include "viewer/logs/MixtureValue.h"
#include "viewer/table/RecordWalk.h"

namespace viewer {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The engine's own mixture channel between two records further apart than this is a gap: the
// engine software stopped logging, and nothing is made up in between.
constexpr double EngineGapSeconds = 1.0;

// The channel indices a table needs, checked against the log; empty when all exist.
std::string CheckChannels(const enginelog::TLog& log, const TTableSettings& settings) {
  const std::size_t count = log.Channels.size();
  const auto missing = [&](std::size_t channel) { return channel >= count; };
  if (missing(settings.XChannel) || missing(settings.YChannel)) return "no such axis channel";
  if (settings.MixtureChannel && missing(*settings.MixtureChannel)) {
    return "no such mixture channel";
  }
  if (settings.Steady && missing(settings.Steady->Channel)) return "no such steady channel";
  for (const TRangeFilter& range : settings.Ranges) {
    if (missing(range.Channel)) return "no such range channel";
  }
  return {};
}

// The records whose times, placed on the mixture axis, lie in [from, to].
std::pair<std::size_t, std::size_t> RecordsIn(std::span<const double> times, double shift,
                                              double from, double to) {
  const auto first = std::lower_bound(times.begin(), times.end(), from - shift);
  const auto last = std::upper_bound(first, times.end(), to - shift);
  return {static_cast<std::size_t>(first - times.begin()),
          static_cast<std::size_t>(last - times.begin())};
}

// A round step: 1, 2, 2.5, 4 or 5 times a power of ten.
struct TRoundStep {
  double Factor = 1;
  int Exponent = 0;

  double Value() const { return Times(1); }
  // `k` steps. A negative power divides by its inverse, which is exact, so that 3 steps of 0.1
  // are the 0.3 they print as.
  double Times(double k) const {
    return Exponent >= 0 ? k * Factor * std::pow(10.0, Exponent)
                         : k * Factor / std::pow(10.0, -Exponent);
  }
  TRoundStep Next() const {
    if (Factor == 1) return {2, Exponent};
    if (Factor == 2) return {2.5, Exponent};
    if (Factor == 2.5) return {4, Exponent};
    if (Factor == 4) return {5, Exponent};
    return {1, Exponent + 1};
  }
};

// The least round step of at least `raw` (> 0).
TRoundStep RoundStepAtLeast(double raw) {
  TRoundStep step{1, static_cast<int>(std::floor(std::log10(raw)))};
  while (step.Value() < raw * (1 - 1e-12)) step = step.Next();
  return step;
}

}  // namespace

bool TMixtureTable::AnyShown() const {
  for (std::size_t y = 0; y < Rows(); ++y) {
    for (std::size_t x = 0; x < Columns(); ++x) {
      if (Shown(x, y)) return true;
    }
  }
  return false;
}

double TTarget::At(std::size_t x, std::size_t y, std::size_t columns) const {
  if (!Grid.empty()) {
    const std::size_t index = y * columns + x;
    return index < Grid.size() ? Grid[index] : NaN;
  }
  return Value ? *Value : NaN;
}

std::size_t NearestBin(const TBins& bins, double value) {
  const auto above = std::upper_bound(bins.begin(), bins.end(), value);
  if (above == bins.begin()) return 0;
  if (above == bins.end()) return bins.size() - 1;
  const std::size_t upper = static_cast<std::size_t>(above - bins.begin());
  // Strictly nearer to the upper breakpoint, or the lower one keeps it.
  return *above - value < value - *(above - 1) ? upper : upper - 1;
}

TBins DeriveBins(const enginelog::TLog& log, std::size_t channel, double shift, double from,
                 double to, std::size_t count) {
  if (channel >= log.Channels.size() || count == 0) return {};
  const auto [first, last] = RecordsIn(log.Times, shift, from, to);
  const std::vector<float>& values = log.Channels[channel].Values;
  std::vector<float> present;
  present.reserve(last - first);
  for (std::size_t i = first; i < last; ++i) {
    if (std::isfinite(values[i])) present.push_back(values[i]);
  }
  if (present.empty()) return {};
  // The range where the data lies: a stray spike (a sensor glitch, a logging error) should not
  // spread the breakpoints over values the engine never ran at, so the outer half percent on
  // either side is left to the edge cells.
  const std::size_t cut = present.size() / 200;
  std::nth_element(present.begin(), present.begin() + cut, present.end());
  const double low = present[cut];
  std::nth_element(present.begin(), present.end() - 1 - cut, present.end());
  const double high = present[present.size() - 1 - cut];
  if (count == 1 || high <= low) return {low};
  TRoundStep step = RoundStepAtLeast((high - low) / static_cast<double>(count - 1));
  // Breakpoints count the values nearest to them, so the outer ones need only come within half a
  // step of the data's ends; the first is the round number nearest the lowest value.
  double lowest = 0;  // in steps
  for (;; step = step.Next()) {
    lowest = std::round(low / step.Value());
    const double half = step.Value() / 2;
    if (step.Times(lowest) <= low + half &&
        step.Times(lowest + static_cast<double>(count - 1)) >= high - half) {
      break;
    }
  }
  TBins bins(count);
  for (std::size_t i = 0; i < count; ++i) bins[i] = step.Times(lowest + static_cast<double>(i));
  return bins;
}

std::optional<std::size_t> DefaultXChannel(const enginelog::TLog& log,
                                           const enginelog::TChannelNames& names) {
  return enginelog::FindRole(log, enginelog::TChannelRole::EngineSpeed, names);
}

std::optional<std::size_t> DefaultYChannel(const enginelog::TLog& log,
                                           const enginelog::TChannelNames& names) {
  return enginelog::FindLoad(log, names);
}

std::optional<std::size_t> DefaultSteadyChannel(const enginelog::TLog& log,
                                                const enginelog::TChannelNames& names) {
  return enginelog::FindRole(log, enginelog::TChannelRole::Throttle, names);
}

bool PrepareRecords(TMixtureTable& table, const TTableInput& input,
                    const TTableSettings& settings) {
  if (input.Engine == nullptr) {
    table.Error = "no engine log";
    return false;
  }
  const enginelog::TLog& log = *input.Engine;
  table.Error = CheckChannels(log, settings);
  if (!table.Error.empty()) return false;
  if ((settings.UseEngineMixture || input.Mixture == nullptr) && !settings.MixtureChannel) {
    table.Error = "no mixture: no log of ours, and the engine log has no mixture channel";
    return false;
  }
  const auto binsOf = [&](const TBins& given, std::size_t channel) {
    return given.empty() ? DeriveBins(log, channel, input.Shift, settings.From, settings.To)
                         : given;
  };
  table.XBins = binsOf(settings.XBins, settings.XChannel);
  table.YBins = binsOf(settings.YBins, settings.YChannel);
  if (table.XBins.empty() || table.YBins.empty()) {
    table.Error = "no engine record in range has values on both axes";
    return false;
  }
  return true;
}

namespace {

// Whether a row of ours is a measurement the table may use: a reading (not a repeat of a silent
// controller, not warm-up or offline) taken with enough supply volts to trust it.
bool Counts(const TSample& sample) {
  return IsReading(sample) && sample.Status != TSampleStatus::LowVolts;
}

}  // namespace

TMixtureSource::TMixtureSource(const enginelog::TLog& log, std::size_t channel, double shift,
                               double lag, const TDisplay& unit)
    : Log(log),
      Times(log.Times),
      Values(log.Channels[channel].Values),
      Shift(shift),
      Lag(lag),
      Unit(unit),
      Plausible(PlausibleRange(unit)),
      Ours(enginelog::IsOurs(log.Format)),
      Interval(log.Ours.SampleInterval) {
  if (!Ours) Scale = ChannelScale(log.Channels[channel], unit);
  // A time is settled when the first row after it is final (a log of ours: further back than the
  // reader may change), so when it lies before the last final row; an engine record has the one
  // after it to be read with when it lies before the last.
  if (Times.empty()) return;
  if (!Ours) {
    SettledBelow = Times.back();
    return;
  }
  const auto final = std::lower_bound(Times.begin(), Times.end(),
                                      Times.back() - enginelog::OurRowsFinalBehindSeconds);
  if (final != Times.begin()) SettledBelow = *(final - 1);
}

double TMixtureSource::At(double engineTime) {
  const double time = engineTime + Shift + Lag;
  if (Times.empty()) return NaN;
  if (!Ours && (time < Times.front() || time > Times.back())) return NaN;
  if (Cursor >= Times.size() || Times[Cursor] > time) {
    Cursor = static_cast<std::size_t>(std::lower_bound(Times.begin(), Times.end(), time) -
                                      Times.begin());
    Cursor = Cursor == 0 ? 0 : Cursor - 1;
  }
  while (Cursor + 1 < Times.size() && Times[Cursor + 1] <= time) ++Cursor;
  return Ours ? OursAt(time) : EngineAt(time);
}

bool TMixtureSource::Settled(double engineTime) const {
  return engineTime + Shift + Lag < SettledBelow;
}

// Between two rows that count and no gap apart, the line between them; within half a sample
// interval of a single row that counts, that row; otherwise nothing.
double TMixtureSource::OursAt(double time) const {
  const TSample before = SampleAt(Log, Cursor);
  if (before.Time > time || Cursor + 1 == Times.size()) return Near(before, time);
  const TSample after = SampleAt(Log, Cursor + 1);
  if (Counts(before) && Counts(after) && !IsGapBefore(Log, Cursor + 1)) {
    const double span = after.Time - before.Time;
    return Between(DisplayValue(before, Unit), DisplayValue(after, Unit),
                   span > 0 ? (time - before.Time) / span : 0);
  }
  const double fromBefore = Near(before, time);
  return std::isnan(fromBefore) ? Near(after, time) : fromBefore;
}

double TMixtureSource::Near(const TSample& sample, double time) const {
  if (!Counts(sample) || std::abs(sample.Time - time) > Log.Ours.SampleInterval / 2) return NaN;
  return DisplayValue(sample, Unit);
}

// The line between the records either side; nothing across a gap in the engine's logging.
double TMixtureSource::EngineAt(double time) const {
  const double a = Values[Cursor] * Scale;
  if (Cursor + 1 == Times.size() || Times[Cursor] == time) return a;
  const double span = Times[Cursor + 1] - Times[Cursor];
  if (span > EngineGapSeconds) return NaN;
  return Between(a, Values[Cursor + 1] * Scale, (time - Times[Cursor]) / span);
}

// The point `fraction` of the way from `a` to `b`. A line from a sensor's fault value (0, full
// scale) to a reading would pass through mixtures nobody measured, some of them plausible: so
// where either end is none there is none, and where either is implausible that end is the
// answer, and the record is counted as having an implausible mixture.
double TMixtureSource::Between(double a, double b, double fraction) const {
  if (fraction <= 0) return a;
  if (fraction >= 1) return b;
  if (std::isnan(a) || std::isnan(b)) return NaN;
  if (!Plausible.Holds(a)) return a;
  if (!Plausible.Holds(b)) return b;
  return a + (b - a) * fraction;
}

TMixtureSource MixtureSourceOf(const TTableInput& input, const TTableSettings& settings) {
  if (settings.UseEngineMixture || input.Mixture == nullptr) {
    return TMixtureSource(*input.Engine, *settings.MixtureChannel, 0, settings.Lag, settings.Unit);
  }
  return TMixtureSource(*input.Mixture, enginelog::OurReading, input.Shift, settings.Lag,
                        settings.Unit);
}

bool TSteadiness::Steady(double time, float value) {
  if (!std::isnan(value)) {
    if (HaveLast && time > LastTime &&
        std::abs(value - LastValue) > Filter.Rate * (time - LastTime)) {
      UnsteadyUntil = time + Filter.Settle;
    }
    HaveLast = true;
    LastTime = time;
    LastValue = value;
  }
  return time > UnsteadyUntil;
}

void FinishCells(TMixtureTable& table, const std::vector<TCellSums>& sums, const TTarget& target) {
  const std::size_t columns = table.Columns();
  table.Cells.assign(sums.size(), TTableCell{});
  for (std::size_t y = 0; y < table.Rows(); ++y) {
    for (std::size_t x = 0; x < columns; ++x) {
      const TCellSums& cell = sums[y * columns + x];
      TTableCell& made = table.Cells[y * columns + x];
      made.Hits = cell.Hits;
      if (cell.Hits == 0) continue;
      const double n = cell.Hits;
      const double meanOffset = cell.Sum / n;
      made.Mean = cell.Reference + meanOffset;
      if (cell.Hits > 1) {
        const double variance = (cell.SumSquares - n * meanOffset * meanOffset) / (n - 1);
        made.Sd = std::sqrt(std::max(0.0, variance));
      }
      const double aim = target.At(x, y, columns);
      if (aim > 0) made.Correction = made.Mean / aim;
    }
  }
}

TRecordWalk::TRecordWalk(const TTableSettings& settings, double shift)
    : XChannel(settings.XChannel),
      YChannel(settings.YChannel),
      Ranges(settings.Ranges),
      Plausible(PlausibleRange(settings.Unit)),
      // The times as the engine log has them, computed as a search over them would compare.
      Begin(settings.Steady ? (settings.From - settings.Steady->Settle) - shift
                            : settings.From - shift),
      First(settings.From - shift),
      Last(settings.To - shift) {
  if (settings.Steady) {
    SteadyChannel = settings.Steady->Channel;
    Steadiness.emplace(*settings.Steady);
  }
}

bool TRecordWalk::InRanges(const enginelog::TLog& log, std::size_t i) const {
  return std::all_of(Ranges.begin(), Ranges.end(), [&](const TRangeFilter& range) {
    const float value = log.Channels[range.Channel].Values[i];
    return value >= range.Low && value <= range.High;  // false for NaN
  });
}

void TRecordWalk::Walk(const enginelog::TLog& log, TMixtureSource& mixtureAt, bool decideAll,
                       TMixtureTable& counts, const TCounted& counted) {
  const std::vector<double>& times = log.Times;
  if (!Started) {
    // The steady-state filter looks back: a change just before the range still unsettles its
    // start, so the walk begins with the record before the first a settle time early.
    for (; Next < times.size(); ++Next) {
      if (times[Next] < Begin) continue;
      Started = true;
      if (SteadyChannel && Next > 0) --Next;
      break;
    }
  }
  const std::vector<float>& xs = log.Channels[XChannel].Values;
  const std::vector<float>& ys = log.Channels[YChannel].Values;
  const std::vector<float>* steadyValues =
      SteadyChannel ? &log.Channels[*SteadyChannel].Values : nullptr;
  for (; Started && !Ended && Next < times.size(); ++Next) {
    const std::size_t i = Next;
    if (Last < times[i]) {
      Ended = true;
      break;
    }
    const bool steady = !Steadiness || Steadiness->Steady(times[i], (*steadyValues)[i]);
    if (times[i] < First || !std::isfinite(xs[i]) || !std::isfinite(ys[i])) continue;
    ++counts.Samples;
    if (!steady) {
      ++counts.Unsteady;
    } else if (!InRanges(log, i)) {
      ++counts.OutOfRange;
    } else if (Pending.empty() && (decideAll || mixtureAt.Settled(times[i]))) {
      Decide(i, mixtureAt.At(times[i]), counts, counted);
    } else {
      Pending.push_back(i);
    }
  }
  // A record waits for the mixture log to pass its time; those after it wait behind it, so that
  // records are handed on in their order.
  while (!Pending.empty() && (decideAll || mixtureAt.Settled(times[Pending.front()]))) {
    Decide(Pending.front(), mixtureAt.At(times[Pending.front()]), counts, counted);
    Pending.pop_front();
  }
}

void TRecordWalk::Decide(std::size_t i, double mixture, TMixtureTable& counts,
                         const TCounted& counted) const {
  if (std::isnan(mixture)) {
    ++counts.NoMixture;
  } else if (!Plausible.Holds(mixture)) {
    ++counts.Implausible;
  } else {
    ++counts.Counted;
    counted(i, mixture);
  }
}

void WalkRecords(TMixtureTable& table, const TTableInput& input, const TTableSettings& settings,
                 const std::function<void(std::size_t, double)>& counted) {
  TMixtureSource mixtureAt = MixtureSourceOf(input, settings);
  TRecordWalk walk(settings, input.Shift);
  walk.Walk(*input.Engine, mixtureAt, true, table, counted);
}

TMixtureTable BuildMixtureTable(const TTableInput& input, const TTableSettings& settings) {
  TMixtureTable table;
  table.MinHits = settings.MinHits;
  if (!PrepareRecords(table, input, settings)) return table;
  const std::size_t columns = table.Columns();
  std::vector<TCellSums> sums(columns * table.Rows());
  const enginelog::TLog& log = *input.Engine;
  const std::vector<float>& xs = log.Channels[settings.XChannel].Values;
  const std::vector<float>& ys = log.Channels[settings.YChannel].Values;
  WalkRecords(table, input, settings, [&](std::size_t i, double mixture) {
    sums[NearestBin(table.YBins, ys[i]) * columns + NearestBin(table.XBins, xs[i])].Add(mixture);
  });
  FinishCells(table, sums, settings.Target);
  return table;
}

std::optional<TCellIndex> CellAt(const TMixtureTable& table, const TTableInput& input,
                                 const TTableSettings& settings, double time) {
  if (input.Engine == nullptr || table.XBins.empty() || table.YBins.empty()) return std::nullopt;
  const enginelog::TLog& log = *input.Engine;
  if (settings.XChannel >= log.Channels.size() || settings.YChannel >= log.Channels.size() ||
      log.Times.empty()) {
    return std::nullopt;
  }
  const double own = time - input.Shift;
  if (own < log.Times.front() || own > log.Times.back()) return std::nullopt;
  const std::size_t at = static_cast<std::size_t>(
      std::upper_bound(log.Times.begin(), log.Times.end(), own) - log.Times.begin() - 1);
  const float x = log.Channels[settings.XChannel].Values[at];
  const float y = log.Channels[settings.YChannel].Values[at];
  if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
  return TCellIndex{NearestBin(table.XBins, x), NearestBin(table.YBins, y)};
}

}  // namespace viewer
