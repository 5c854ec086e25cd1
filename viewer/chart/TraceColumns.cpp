// A logged trace reduced to pixel columns: first, lowest, highest and last value per column.
#include "viewer/chart/TraceColumns.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace viewer {

namespace {

// Collects values into columns and columns into runs.
class TRunBuilder {
 public:
  explicit TRunBuilder(std::vector<TTraceRun>& runs) : Runs(runs) {}

  void Add(int column, double value, TSampleStatus status) {
    if (InRun && status != Status) {
      // A new colour goes on from where the old one ended, so the trace has no hole.
      FlushColumn();
      StartRun(status, true);
    } else if (!InRun) {
      StartRun(status, false);
    }
    if (HaveColumn && column == Current.Column) {
      Current.Low = std::min(Current.Low, value);
      Current.High = std::max(Current.High, value);
      Current.Last = value;
      return;
    }
    FlushColumn();
    Current = {column, value, value, value, value};
    HaveColumn = true;
  }
  // The trace breaks here: a gap.
  void Break() {
    FlushColumn();
    InRun = false;
  }

 private:
  void StartRun(TSampleStatus status, bool joins) {
    Runs.push_back({status, joins, {}});
    Status = status;
    InRun = true;
  }
  void FlushColumn() {
    if (!HaveColumn) return;
    Runs.back().Columns.push_back(Current);
    HaveColumn = false;
  }

  std::vector<TTraceRun>& Runs;
  bool InRun = false;
  TSampleStatus Status = TSampleStatus::None;
  bool HaveColumn = false;
  TColumnValues Current;
};

// The samples [First, End) of one column whose marks all match the first's and that no gap
// separates, with the indices of their lowest and highest reading and their volts range.
struct TRegularColumn {
  std::size_t Low = 0, High = 0;
  float VoltsLow = 0, VoltsHigh = 0;
};

// Whether samples [i, next) form a regular column; if so, its extremes. The tight loop that
// makes a long log cheap: no call, no branch but the comparisons.
bool ScanRegular(const TLog& log, std::size_t begin, std::size_t i, std::size_t next,
                 TRegularColumn& column) {
  const TSample first = SampleAt(log, i);
  if (first.Stale || first.BreakBefore || (i > begin && IsGapBefore(log, i))) return false;
  const double threshold = GapThreshold(log);
  const double* const times = log.Times.data();
  const float* const values = log.Channels[enginelog::OurReading].Values.data();
  const float* const volts = log.Channels[enginelog::OurVolts].Values.data();
  const float* const statuses = log.Channels[enginelog::OurStatus].Values.data();
  const std::uint8_t* const flags = log.RowFlags.data();
  column = {i, i, first.Volts, first.Volts};
  float valueLow = first.Value, valueHigh = first.Value;
  for (std::size_t k = i + 1; k < next; ++k) {
    // Unit, status and the two flags as the first's: samples with the same marks can share a
    // column without anything between them breaking or recolouring the line.
    if (flags[k] != flags[i] || statuses[k] != statuses[i] || times[k] - times[k - 1] > threshold) {
      return false;
    }
    if (values[k] < valueLow) {
      valueLow = values[k];
      column.Low = k;
    }
    if (values[k] > valueHigh) {
      valueHigh = values[k];
      column.High = k;
    }
    column.VoltsLow = std::min(column.VoltsLow, volts[k]);
    column.VoltsHigh = std::max(column.VoltsHigh, volts[k]);
  }
  return true;
}

}  // namespace

std::vector<TTraceRun> ReduceToColumns(const TLog& log, const TColumnScale& scale,
                                       TTraceQuantity quantity, const TDisplay& display) {
  std::vector<TTraceRun> runs;
  const std::size_t count = log.Rows();
  if (count == 0 || !(scale.To > scale.From) || !(scale.Width > 0)) return runs;
  const double perSecond = scale.Width / (scale.To - scale.From);
  // One sample either side of the view, so lines run to the edges.
  std::size_t begin = FirstAtOrAfter(log, scale.From);
  if (begin > 0) --begin;
  const std::size_t end = std::min(FirstAtOrAfter(log, scale.To) + 1, count);
  const auto samples = [&](std::size_t k) { return SampleAt(log, k); };
  const double* const times = log.Times.data();
  const bool volts = quantity == TTraceQuantity::Volts;
  const TPlausibleRange plausible = PlausibleRange(display);
  auto valueOf = [&](const TSample& s) {
    return volts ? static_cast<double>(s.Volts) : DisplayValue(s, display);
  };
  auto statusOf = [&](const TSample& s) { return volts ? TSampleStatus::None : s.Status; };
  auto columnOf = [&](double time) {
    // Far outside the view only the edge columns matter; clamping keeps the int in range.
    const double x = std::clamp((time - scale.From) * perSecond, -2.0, scale.Width + 2);
    return static_cast<int>(std::floor(x));
  };
  TRunBuilder line(runs);
  // Column by column: the samples of a column are found by a binary search and, when nothing in
  // them breaks the trace, reduced in a tight loop; otherwise taken one at a time.
  for (std::size_t i = begin; i < end;) {
    const int column = columnOf(times[i]);
    std::size_t next = i + 1;
    if (column >= 0 && column < scale.Width) {
      const double columnEnd = scale.From + (column + 1) / perSecond;
      next =
          static_cast<std::size_t>(std::lower_bound(times + i + 1, times + end, columnEnd) - times);
    }
    TRegularColumn regular;
    // A column whose extremes are plausible mixtures holds none that is not: the reading's unit
    // is the same all through it, so its values convert in the same order.
    const bool regularColumn = ScanRegular(log, begin, i, next, regular) &&
                               (volts || (plausible.Holds(valueOf(samples(regular.Low))) &&
                                          plausible.Holds(valueOf(samples(regular.High)))));
    if (!regularColumn) {
      for (std::size_t k = i; k < next; ++k) {
        if (k > begin && IsGapBefore(log, k)) line.Break();
        const TSample sample = samples(k);
        if (sample.Stale) continue;
        const double value = valueOf(sample);
        if (!volts && !plausible.Holds(value)) {
          line.Break();  // no measurement: a gap in the reading, as a repeat is
          continue;
        }
        line.Add(columnOf(sample.Time), value, statusOf(sample));
      }
      i = next;
      continue;
    }
    if (i > begin && samples(i - 1).Stale) line.Break();
    const TSample first = samples(i);
    const TSampleStatus status = statusOf(first);
    line.Add(column, valueOf(first), status);
    line.Add(column, volts ? regular.VoltsLow : valueOf(samples(regular.Low)), status);
    line.Add(column, volts ? regular.VoltsHigh : valueOf(samples(regular.High)), status);
    line.Add(column, valueOf(samples(next - 1)), status);
    i = next;
  }
  line.Break();
  return runs;
}

std::vector<TTraceRun> ReduceSeriesToColumns(std::span<const double> times,
                                             std::span<const float> values, double shift,
                                             const TColumnScale& scale, double gapSeconds,
                                             const TSeriesValues& mapping) {
  std::vector<TTraceRun> runs;
  const std::size_t count = std::min(times.size(), values.size());
  if (count == 0 || !(scale.To > scale.From) || !(scale.Width > 0)) return runs;
  const double perSecond = scale.Width / (scale.To - scale.From);
  const auto at = [&](double time) {
    return static_cast<std::size_t>(
        std::lower_bound(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(count),
                         time - shift) -
        times.begin());
  };
  std::size_t begin = at(scale.From);
  if (begin > 0) --begin;
  const std::size_t end = std::min(at(scale.To) + 1, count);
  TRunBuilder line(runs);
  for (std::size_t i = begin; i < end;) {
    const double x = std::clamp((times[i] + shift - scale.From) * perSecond, -2.0, scale.Width + 2);
    const int column = static_cast<int>(std::floor(x));
    // The samples of this column, reduced in one loop; a NaN or a gap breaks the line there.
    const double columnEnd = scale.From + (column + 1) / perSecond - shift;
    std::size_t k = i;
    do {
      if (k > begin && times[k] - times[k - 1] > gapSeconds) line.Break();
      const double value = values[k] * mapping.Scale;
      if (std::isnan(value) || (mapping.Plausible && !mapping.Plausible->Holds(value))) {
        line.Break();
      } else {
        line.Add(column, value, TSampleStatus::None);
      }
      ++k;
    } while (k < end && times[k] < columnEnd);
    i = k;
  }
  line.Break();
  return runs;
}

}  // namespace viewer
