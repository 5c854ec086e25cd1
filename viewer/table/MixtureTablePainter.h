// The mixture table drawn as a heat map: rich cells warm, lean cells cool, around the target (or
// stoichiometric without one), the hit count in each cell, the current sample's cell outlined.
// Into any QPainter (the window, an image), so the drawing is the same everywhere.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <optional>

#include "viewer/table/MixtureTable.h"
#include "viewer/table/MixtureTableText.h"

namespace viewer {

struct TTablePaintOptions {
  TTableQuantity Quantity = TTableQuantity::Mean;  // the number each cell shows
  TDisplay Unit;                                   // the table's unit, for stoichiometric
  QString XName;                                   // the axes' titles
  QString YName;
  std::optional<TCellIndex> Outlined;  // the cell the engine is in at the cursor
};

// The colour of a cell whose mixture is `ratio` times what it aims at: white-green at 1, deeper
// red the richer (below 1) and deeper blue the leaner, at full strength 15 % off.
QColor MixtureColor(double ratio);

// How far cell (x, y) is off what it aims at, as a factor: its correction where it has a target,
// its mean over stoichiometric (`unit`'s) otherwise.
double CellRatio(const TMixtureTable& table, const TDisplay& unit, std::size_t x, std::size_t y);

// Where cell (x, y) is drawn inside `bounds` (the highest y breakpoint at the top, as on a chart);
// empty for a table without cells.
QRectF TableCellRect(const QRectF& bounds, const TMixtureTable& table, TCellIndex cell);
// The cell under `point`; none off the cells.
std::optional<TCellIndex> TableCellAtPoint(const QRectF& bounds, const TMixtureTable& table,
                                           const QPointF& point);

// Draws `table` into `bounds`: breakpoints along the left and the bottom with the axes' titles,
// each shown cell in its colour with its number and hits, cells below the minimum hits left as
// background, and the outline. A table with Error set shows the reason instead.
void PaintMixtureTable(QPainter& painter, const QRectF& bounds, const TMixtureTable& table,
                       const TTablePaintOptions& options);

// The background of the drawing, which an empty cell keeps.
inline const QColor TableBackground(250, 250, 250);

}  // namespace viewer
