// The mixture table as text: the command line's JSON, the grid of means for a spreadsheet (CSV),
// the tab-separated copy that pastes into spreadsheets and tuning software's tables, and the
// reading of what users type or load: breakpoints, filters and a target grid. No files: callers
// read and write them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "viewer/table/FuelCorrection.h"
#include "viewer/table/MixtureTable.h"

namespace viewer {

// What the JSON says about where the table came from besides the cells.
struct TTableDescription {
  std::string XChannel;  // channel names as the engine log has them
  std::string YChannel;
  std::string Unit;   // "afr" or "lambda"
  double Offset = 0;  // seconds, the engine log on the mixture log's axis
  std::string Align;  // "clock", "match", "hand" or "none"
};

// {"x": {"channel", "bins"}, "y": {"channel", "bins"}, "unit", "offset_s", "align", "cells":
// [[{"mean", "hits", "sd", "correction"} or null, ...], ...], "records", "counted", "left_out":
// {"no_mixture", "implausible", "filtered", "outside_range"}} with cells[y][x]; a cell below the
// minimum hits is null, a correction without target is null. "records" are the engine records in
// range with values on both axes; "filtered" those the steady-state filter dropped,
// "outside_range" those a range filter dropped. One line, no line end.
std::string TableJson(const TMixtureTable& table, const TTableDescription& description);

// What became of the records in range in one line, for the window's status line and the command
// line's standard error: how many counted, how many were left out and why (an implausible
// mixture, none at their time, not steady, outside a range filter), and when no cell is shown,
// "No cells: " first. The table's Error when it has one.
std::string TableStatusText(const TMixtureTable& table);

// What a grid of text shows in each cell. Proposed and ChangePercent are the corrected fuel
// table's (FuelCorrection.h: each cell's proposed value, and its change from the current value
// in percent) on the proposal's own grid; the mixture table's texts show its mean for them.
enum class TTableQuantity : unsigned char { Mean, Correction, Hits, Sd, Proposed, ChangePercent };
// Whether `quantity` is shown from the corrected fuel table rather than the mixture table.
inline bool ShowsProposal(TTableQuantity quantity) {
  return quantity == TTableQuantity::Proposed || quantity == TTableQuantity::ChangePercent;
}

// The grid as CSV for a spreadsheet: a first row of the corner ("Y \ X" channel names) and the x
// breakpoints, then one row per y breakpoint (rising), its breakpoint first; cells without enough
// hits are empty. Decimal point, CR LF line ends.
std::string TableCsv(const TMixtureTable& table, const TTableDescription& description,
                     TTableQuantity quantity = TTableQuantity::Mean);
// The grid tab-separated (LF line ends) as the window shows it, the highest y breakpoint first as
// a fuel table is usually laid out, with `decimalSeparator` in the numbers (the desktop's, so a
// spreadsheet there reads them as numbers): with the breakpoints when `withAxes`, or the cells
// alone (what a tuning program's table takes when pasted over a selection of its cells).
std::string TableTsv(const TMixtureTable& table, const TTableDescription& description,
                     TTableQuantity quantity, bool withAxes, char decimalSeparator = '.');

// Breakpoints typed or pasted: numbers separated by commas, spaces, tabs, semicolons or line
// ends (where tabs, semicolons or line ends separate, a comma is a decimal comma). Nothing, with
// the reason in `error`, unless they are at least one number and strictly rising.
std::optional<TBins> ParseBins(std::string_view text, std::string& error);

// A target grid from CSV text (commas, semicolons or tabs): either `rows` lines of `columns`
// numbers with the lowest y first (the order of TableCsv and the JSON), or the same with a first
// row of x breakpoints and a first column of y breakpoints (as TableCsv writes it; rows in falling
// order, as TableTsv copies them, are turned round). Empty cells have no target.
// Nothing, with the reason naming the shape found and the shape wanted, otherwise.
std::optional<std::vector<double>> ParseTargetGrid(std::string_view text, std::size_t columns,
                                                   std::size_t rows, std::string& error);

// A fuel table from a grid with its breakpoints, read as ParseTargetGrid reads one (a tune kept
// as a spreadsheet, or a table copied out of a tuning program): the shape is the grid's own. The
// breakpoints rise; the last may repeat. Nothing, with the reason, when it does not read so.
std::optional<TFuelGrid> ParseFuelGrid(std::string_view text, std::string& error);

// The two ends of a range typed apart: numbers (a decimal comma reads as a point) or empty for an
// open end. Nothing, with the reason in `error`, when an end does not read, both are open, or LO
// lies above HI.
std::optional<std::pair<double, double>> ParseRangeEnds(std::string_view low, std::string_view high,
                                                        std::string& error);

// "CH=RATE[,SETTLE]" for the steady-state filter and "CH=LO:HI" (either end may be left out) for
// a range filter, CH a channel of `log` (letter case ignored). Nothing, with the reason in
// `error`, for a channel the log lacks or numbers that do not read.
std::optional<TSteadyFilter> ParseSteadyFilter(std::string_view text, const enginelog::TLog& log,
                                               std::string& error);
std::optional<TRangeFilter> ParseRangeFilter(std::string_view text, const enginelog::TLog& log,
                                             std::string& error);
// "CH=LO:HI" as ParseRangeFilter reads it, split into the channel and the two ends' texts (as the
// window's controls hold them), once they read.
struct TRangeParts {
  std::size_t Channel = 0;
  std::string Low;
  std::string High;
};
std::optional<TRangeParts> SplitRangeFilter(std::string_view text, const enginelog::TLog& log,
                                            std::string& error);

}  // namespace viewer
