// The mixture table drawn as a heat map: rich cells warm, lean cells cool, around the target (or
// stoichiometric without one), the hit count in each cell, the current sample's cell outlined and
// the cells that filled while following dotted;
// and the corrected fuel table on its own grid, each cell coloured by the fuel it gains or loses.
// Into any QPainter (the window, an image), so the drawing is the same everywhere.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <optional>
#include <vector>

#include "viewer/table/FuelCorrection.h"
#include "viewer/table/MixtureTable.h"
#include "viewer/table/MixtureTableText.h"

namespace viewer {

struct TTablePaintOptions {
  TTableQuantity Quantity = TTableQuantity::Mean;  // the number each cell shows
  TDisplay Unit;                                   // the table's unit, for stoichiometric
  QString XName;                                   // the axes' titles
  QString YName;
  std::optional<TCellIndex> Outlined;  // the cell the engine is in at the cursor (or now)
  // Cells to mark with a dot in their corner: following the logs, those that filled since.
  std::vector<TCellIndex> Marked;
};

// The colour of a cell whose mixture is `ratio` times what it aims at: white-green at 1, deeper
// red the richer (below 1) and deeper blue the leaner, at full strength 15 % off.
QColor MixtureColor(double ratio);

// How far cell (x, y) is off what it aims at, as a factor: its correction where it has a target,
// its mean over stoichiometric (`unit`'s) otherwise.
double CellRatio(const TMixtureTable& table, const TDisplay& unit, std::size_t x, std::size_t y);

// Where cell (x, y) of a grid over breakpoints `x` and `y` is drawn inside `bounds` (the highest
// y breakpoint at the top, as on a chart); empty for a grid without cells. The mixture table's
// and the corrected fuel table's grids are laid out alike.
QRectF GridCellRect(const QRectF& bounds, const TBins& x, const TBins& y, TCellIndex cell);
QRectF TableCellRect(const QRectF& bounds, const TMixtureTable& table, TCellIndex cell);
// The cell under `point`; none off the cells.
std::optional<TCellIndex> GridCellAtPoint(const QRectF& bounds, const TBins& x, const TBins& y,
                                          const QPointF& point);
std::optional<TCellIndex> TableCellAtPoint(const QRectF& bounds, const TMixtureTable& table,
                                           const QPointF& point);

// Draws `table` into `bounds`: breakpoints along the left and the bottom with the axes' titles,
// each shown cell in its colour with its number and hits, cells below the minimum hits left as
// background, and the outline. A table with Error set shows the reason instead.
void PaintMixtureTable(QPainter& painter, const QRectF& bounds, const TMixtureTable& table,
                       const TTablePaintOptions& options);

// The decimals the corrected fuel table's values are shown with: the fewest (0 to 2) at which
// every current and proposed value reads as it is (a tune's "digits"), 2 for values that never do.
int ProposalDecimals(const TFuelProposal& proposal);
// What cell (x, y) of the proposal shows for `quantity`: the proposed value with `decimals`, or
// its change, (proposed / current - 1) x 100, signed with one decimal ("0.0" unchanged); empty
// where the cell has no current value (or, for the change, none above 0).
QString ProposalCellText(const TFuelProposal& proposal, TTableQuantity quantity, TCellIndex cell,
                         int decimals);

// Draws the corrected fuel table into `bounds` on its own breakpoints, laid out as the mixture
// table (options.Quantity: Proposed or ChangePercent): each changed cell coloured by the change
// (more fuel warm as a rich cell, less fuel cool), unchanged cells plain in the background, the
// records' weight beneath each value. A proposal with Error set shows the reason instead.
void PaintFuelProposal(QPainter& painter, const QRectF& bounds, const TFuelProposal& proposal,
                       const TTablePaintOptions& options);

// The background of the drawing, which an empty cell keeps.
inline const QColor TableBackground(250, 250, 250);

}  // namespace viewer
