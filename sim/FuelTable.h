// The simulated engine computer's tables over engine speed and manifold pressure: its fuel table
// (VE), its target mixture, and a grid of how far the real engine breathes from the fuel table,
// with the bilinear lookup an engine computer does and the reading of such a grid from the CSV
// that kestview writes with --table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct TFuelTable {
  std::vector<double> RpmBins;  // strictly rising
  std::vector<double> MapBins;  // kPa, strictly rising
  // MapBins.size() rows of RpmBins.size() values, the lowest manifold pressure first.
  std::vector<double> Values;

  // The value at a speed and load, bilinear between the four cells around it; beyond the first or
  // last breakpoint the edge cells hold, as an engine computer's lookup does. Wants a table with
  // at least one breakpoint on each axis and a value for every cell.
  double At(double rpm, double mapKpa) const;

  // A table of one cell: `value` at any speed and load.
  static TFuelTable Uniform(double value);
};

// The engine computer's own tables: 16 speeds from 500 to 7000 rpm by 16 pressures from 20 to
// 100 kPa. VE from about 40 % (idle speed, closed throttle) to 95 % (full load near 4500 rpm);
// target AFR 14.7 at idle and part load, 15.2 on light cruise, 12.5 (12.2 at high speed) at full
// load.
const TFuelTable& BuiltInVeTable();
const TFuelTable& BuiltInAfrTargetTable();

// A grid in the CSV form of kestview's tables: a first line of a corner cell and the rpm
// breakpoints, then one line per MAP breakpoint, its breakpoint first (rising, or falling as tuning
// software lists them, which is turned round). Commas, semicolons or tabs separate (with semicolons
// or tabs a decimal comma reads as a point); quoted cells, a byte order mark and CR LF line ends
// are taken. An empty cell is NaN, for the caller to fill; every number must lie in [low, high].
// Nothing, with a one-line reason (the line and cell at fault) in `error`, otherwise.
std::optional<TFuelTable> ParseFuelTableCsv(std::string_view text, double low, double high,
                                            std::string& error);
// The same from a file; the reason then begins with the path.
std::optional<TFuelTable> ReadFuelTableCsv(const std::string& path, double low, double high,
                                           std::string& error);

// The fuel table of an MSQ tune (found by the names tuning software gives it), every value in
// [low, high]; a breakpoint repeated at an axis's end, as tunes write them, is taken once.
// Nothing, with a one-line reason beginning with the path, otherwise.
std::optional<TFuelTable> ReadFuelTableMsq(const std::string& path, double low, double high,
                                           std::string& error);

// The engine computer's tune as an MSQ file: its fuel table (veTable over rpmBins and
// fuelLoadBins) and its target (afrTable over rpmBinsAFR and loadBinsAFR), one decimal, so
// kestview can correct it and kestsim fuel by the corrected copy.
std::string TuneMsqText(const TFuelTable& ve, const TFuelTable& afrTarget);

// `table` with each empty (NaN) cell set to `from` at that cell's breakpoints.
void FillEmptyCells(TFuelTable& table, const TFuelTable& from);

}  // namespace sim
