// A logged trace reduced to pixel columns. However many samples fall into a column, the chart
// draws four values of it: the first, the lowest, the highest and the last. So a day-long log
// costs no more to draw than the chart is wide, and still shows every spike and dip. Pure: no
// painter and no pixels, only column numbers and values in the trace's own unit.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "viewer/logs/MixtureValue.h"
#include "viewer/logs/OurLog.h"
#include "viewer/logs/Summary.h"

namespace viewer {

// One column of one run: the values of the samples that fell into it.
struct TColumnValues {
  int Column = 0;  // counted from the left edge of the view
  double First = 0;
  double Low = 0;
  double High = 0;
  double Last = 0;
  bool operator==(const TColumnValues&) const = default;
};

// A stretch of the trace drawn as one line in one colour.
struct TTraceRun {
  // The colour's key: the readings' status (None for the volts, which have one colour).
  TSampleStatus Status = TSampleStatus::None;
  // It goes on from the last value of the run before (a change of colour); otherwise a gap lies
  // between the two and nothing joins them.
  bool JoinsPrevious = false;
  std::vector<TColumnValues> Columns;  // left to right, never empty
  bool operator==(const TTraceRun&) const = default;
};

// Which samples fall into which column: those with From + c / perColumn <= time < From + (c + 1) /
// perColumn into column c, where Width columns span From to To. Samples beyond the edges go into
// one column just outside each, so that lines run to the edges.
struct TColumnScale {
  double From = 0;   // the log time at the left edge
  double To = 1;     // ... at the right edge; more than From
  double Width = 1;  // columns from edge to edge
};

enum class TTraceQuantity : unsigned char { Reading, Volts };

// The runs of `log` over the scale, for the reading in the unit of `display` or for the volts. A
// gap (IsGapBefore) ends a run even inside one column; a stale repeat is no value and is left out,
// and so is a reading that is no plausible mixture (IsPlausibleMixture), which ends the reading's
// run but not the volts'; a change of status starts a run that joins the one before. Empty when
// nothing is in view.
std::vector<TTraceRun> ReduceToColumns(const TLog& log, const TColumnScale& scale,
                                       TTraceQuantity quantity, const TDisplay& display);

// What a series' values become before they are reduced: times Scale, and where Plausible is
// given (a mixture), no value outside it.
struct TSeriesValues {
  double Scale = 1;
  std::optional<TPlausibleRange> Plausible;
};

// The runs of a plain series (an engine log's channel) over the scale: times[i] + shift is the
// time of values[i] on the scale's axis, times rising. A NaN value is no value and ends a run, as
// does a step in time of more than `gapSeconds` and a value outside `mapping`'s plausible range.
// One run colour (Status None).
std::vector<TTraceRun> ReduceSeriesToColumns(std::span<const double> times,
                                             std::span<const float> values, double shift,
                                             const TColumnScale& scale, double gapSeconds,
                                             const TSeriesValues& mapping = {});

}  // namespace viewer
