// The mixture table: the mixture over two engine channels, laid out like the fuel table a tuner
// corrects (engine speed across, load down). Each engine record is a sample: it counts in the cell
// of the nearest breakpoint on each axis, with the mixture at its time (plus a lag: the exhaust
// reaches the sensor after the cylinder burned it). Per cell the mean, the hits and the spread,
// and against a target the correction factor. Pure: no widgets, no files; the window, the
// command line and the bench share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/ChannelRoles.h"
#include "log/Log.h"
#include "viewer/logs/OurLog.h"
#include "viewer/logs/Summary.h"

namespace viewer {

// One axis's breakpoints, strictly rising.
using TBins = std::vector<double>;

// How many breakpoints a derived axis gets.
inline constexpr std::size_t DerivedBinCount = 16;

// Drops the samples taken while the engine is not steady: while `Channel` changes faster than
// `Rate` units a second, and for `Settle` seconds after.
struct TSteadyFilter {
  std::size_t Channel = 0;
  double Rate = 0;
  double Settle = 0.5;
};

// Keeps only the samples whose `Channel` lies in [Low, High] (both ends included; an infinite end
// is open). A sample without a value there is dropped.
struct TRangeFilter {
  std::size_t Channel = 0;
  double Low = -std::numeric_limits<double>::infinity();
  double High = std::numeric_limits<double>::infinity();
};

// What each cell aims at, in the table's unit: nothing, one value for all, or a grid of
// Rows x Columns values (Values[y * columns + x], NaN: no target there).
struct TTarget {
  std::optional<double> Value;
  std::vector<double> Grid;
  bool Any() const { return Value.has_value() || !Grid.empty(); }
  // The target of cell (x, y) of a table `columns` wide; NaN when none.
  double At(std::size_t x, std::size_t y, std::size_t columns) const;
};

struct TTableSettings {
  std::size_t XChannel = 0;  // channels of the engine log
  std::size_t YChannel = 0;
  TBins XBins;  // empty: derived from the data in range (DeriveBins)
  TBins YBins;
  // The engine log's channel that gives the mixture: used when no log of ours is given, or always
  // when UseEngineMixture is set. Its unit is lambda when its name or unit says so, or its values
  // lie below 3; an air-fuel ratio otherwise (of Unit's fuel): IsLambdaChannel. Whatever the
  // source, a mixture outside the plausible range (IsPlausibleMixture) counts in no cell.
  std::optional<std::size_t> MixtureChannel;
  bool UseEngineMixture = false;
  TDisplay Unit;             // the table's unit: air-fuel ratio of a fuel, or lambda
  double Lag = 0;            // seconds: the mixture is taken this much after the sample
  std::size_t MinHits = 10;  // cells with fewer hits are empty
  std::optional<TSteadyFilter> Steady;
  std::vector<TRangeFilter> Ranges;
  TTarget Target;
  // Samples between these times on the mixture log's axis count (the chart's zoom range).
  double From = -std::numeric_limits<double>::infinity();
  double To = std::numeric_limits<double>::infinity();
};

// The logs the table is made of.
struct TTableInput {
  const enginelog::TLog* Engine = nullptr;  // required
  const TLog* Mixture = nullptr;            // our log, lined up; none: the engine's own
  // Added to the engine log's times to place them on the mixture log's axis: our first row's
  // time plus the alignment's offset, less the engine log's first time (as PlacePanes places
  // it; a text log's times need not start at 0); 0 without a log of ours.
  double Shift = 0;
};

struct TTableCell {
  double Mean = 0;
  double Sd = 0;  // standard deviation of the samples (n - 1); 0 for one sample
  std::uint32_t Hits = 0;
  double Correction = std::numeric_limits<double>::quiet_NaN();  // Mean / target; NaN without
};

struct TMixtureTable {
  TBins XBins;
  TBins YBins;
  std::vector<TTableCell> Cells;  // Cells[y * XBins.size() + x]
  std::size_t MinHits = 10;
  // What became of the engine records in range.
  std::size_t Samples = 0;    // records in range with both axis values
  std::size_t Counted = 0;    // ... that count in a cell
  std::size_t NoMixture = 0;  // ... without a live mixture at their time (plus the lag)
  // ... whose mixture there is outside the plausible range (MixtureValue.h): a sensor's fault
  std::size_t Implausible = 0;
  std::size_t Unsteady = 0;    // ... dropped by the steady-state filter
  std::size_t OutOfRange = 0;  // ... dropped by a range filter
  std::string Error;           // why no table could be made (no mixture anywhere, ...)

  std::size_t Columns() const { return XBins.size(); }
  std::size_t Rows() const { return YBins.size(); }
  const TTableCell& At(std::size_t x, std::size_t y) const { return Cells[y * Columns() + x]; }
  // Whether cell (x, y) has enough hits to be shown.
  bool Shown(std::size_t x, std::size_t y) const {
    return At(x, y).Hits > 0 && At(x, y).Hits >= MinHits;
  }
  // Whether any cell is shown.
  bool AnyShown() const;
  // The records in range that count in no cell, whatever the reason.
  std::size_t LeftOut() const { return NoMixture + Implausible + Unsteady + OutOfRange; }
};

// The table over `input` with `settings`. Never throws; a table that cannot be made has Error set
// and no cells.
TMixtureTable BuildMixtureTable(const TTableInput& input, const TTableSettings& settings);

// What the table and the corrected fuel table share: checks the settings against the logs and
// sets `table`'s breakpoints (given, or derived from the records in range); false with Error set
// when no table can be made.
bool PrepareRecords(TMixtureTable& table, const TTableInput& input, const TTableSettings& settings);
// Walks the engine records in range that have values on both axes, in time order: those the
// filters let through with a plausible mixture at their time (plus the lag) go to `counted` with
// that mixture in settings.Unit; the rest are counted into `table`'s NoMixture, Implausible,
// Unsteady and OutOfRange. After PrepareRecords.
void WalkRecords(TMixtureTable& table, const TTableInput& input, const TTableSettings& settings,
                 const std::function<void(std::size_t, double)>& counted);

// The index of the breakpoint nearest to `value` (the lower one on a tie); `bins` not empty.
std::size_t NearestBin(const TBins& bins, double value);

// DerivedBinCount round-numbered breakpoints (steps of 1, 2, 2.5, 4 or 5 times a power of ten) over
// the range where `values` lie between the times From and To of `settings` (NaN values ignored).
// One breakpoint for a channel that never changes; empty when there is no value.
TBins DeriveBins(const enginelog::TLog& log, std::size_t channel, double shift, double from,
                 double to, std::size_t count = DerivedBinCount);

// The default axes: engine speed across and the load down (manifold pressure, a calculated load,
// boost or the throttle), found by their roles; none when the log has no such channel.
std::optional<std::size_t> DefaultXChannel(const enginelog::TLog& log,
                                           const enginelog::TChannelNames& names);
std::optional<std::size_t> DefaultYChannel(const enginelog::TLog& log,
                                           const enginelog::TChannelNames& names);

// The throttle, the steady-state filter's usual channel; none without one.
std::optional<std::size_t> DefaultSteadyChannel(const enginelog::TLog& log,
                                                const enginelog::TChannelNames& names);

// The cell the engine was in at `time` on the mixture log's axis (its last record at or before
// it); none outside the log or without axis values there.
struct TCellIndex {
  std::size_t X = 0;
  std::size_t Y = 0;
  bool operator==(const TCellIndex&) const = default;
};
std::optional<TCellIndex> CellAt(const TMixtureTable& table, const TTableInput& input,
                                 const TTableSettings& settings, double time);

}  // namespace viewer
