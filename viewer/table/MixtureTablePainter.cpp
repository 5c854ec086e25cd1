// The mixture table's heat map, shared by the window and the tests.
#include "viewer/table/MixtureTablePainter.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <algorithm>
#include <cmath>

namespace viewer {

namespace {

constexpr double TitleSpace = 18;   // the rotated y title, and the x title's line
constexpr double LabelSpace = 16;   // the x breakpoints' line
constexpr double LegendSpace = 20;  // the colour key above the cells
constexpr double RightSpace = 6;
// The mixture off by this factor gets the full colour.
constexpr double FullColourAt = 0.15;

const QColor GridColor(222, 222, 222);
const QColor TextColor(50, 50, 50);
const QColor Neutral(236, 247, 232);
const QColor Rich(205, 40, 35);
const QColor Lean(40, 70, 170);
const QColor OutlineColor(15, 15, 15);

QColor Blend(const QColor& from, const QColor& to, double t) {
  return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * t),
                          static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * t),
                          static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * t));
}

QString BinText(double value) { return QString::number(value, 'g', 6); }

// The widest breakpoint label of `bins`, so that the left margin fits the y labels.
double WidestLabel(const QFontMetricsF& metrics, const TBins& bins) {
  double widest = 0;
  for (const double b : bins) widest = std::max(widest, metrics.horizontalAdvance(BinText(b)));
  return widest;
}

// The rectangle the cells fill, leaving room for the breakpoints, titles and the key.
QRectF CellArea(const QRectF& bounds, const TBins& yBins) {
  const QFontMetricsF metrics{QFont()};
  const double left = TitleSpace + WidestLabel(metrics, yBins) + 8;
  return bounds.adjusted(left, LegendSpace, -RightSpace, -(LabelSpace + TitleSpace));
}

QString QuantityText(const TTableCell& cell, TTableQuantity quantity, bool lambda) {
  switch (quantity) {
    case TTableQuantity::Proposed:
    case TTableQuantity::ChangePercent:  // the proposal's, drawn by PaintFuelProposal
    case TTableQuantity::Correction:
      return std::isnan(cell.Correction) ? QStringLiteral("-")
                                         : QString::number(cell.Correction, 'f', 3);
    case TTableQuantity::Hits:
      return QString::number(cell.Hits);
    case TTableQuantity::Sd:
      return QString::number(cell.Sd, 'f', lambda ? 3 : 2);
    case TTableQuantity::Mean:
      break;
  }
  return QString::number(cell.Mean, 'f', lambda ? 2 : 1);
}

QFont SizedFont(const QFont& base, double pixels) {
  QFont font = base;
  font.setPixelSize(std::max(7, static_cast<int>(pixels)));
  return font;
}

// The cell's number, and its hits (or weight) beneath it where the cell is tall enough, beside
// it otherwise.
void DrawCellText(QPainter& painter, const QRectF& rect, const QString& text, const QString& hits,
                  const QColor& fill) {
  const bool dark = fill.lightnessF() < 0.55;
  const QColor main = dark ? QColor(255, 255, 255) : TextColor;
  const QColor faint = dark ? QColor(225, 225, 235) : QColor(85, 85, 85);
  const QFont base = painter.font();
  const bool twoLines = rect.height() >= 28;
  QRectF mainRect = rect;
  QRectF hitsRect = rect.adjusted(2, 1, -3, -1);
  if (!hits.isEmpty() && twoLines) {
    mainRect = QRectF(rect.left(), rect.top(), rect.width(), rect.height() * 0.62);
    hitsRect = QRectF(rect.left(), mainRect.bottom() - 2, rect.width(), rect.height() * 0.38);
  } else if (!hits.isEmpty()) {
    mainRect = rect.adjusted(2, 0, -rect.width() * 0.3, 0);
  }
  painter.setFont(SizedFont(base, std::min(13.0, rect.height() * (twoLines ? 0.4 : 0.62))));
  painter.setPen(main);
  painter.drawText(mainRect, Qt::AlignCenter, text);
  if (!hits.isEmpty()) {
    painter.setFont(SizedFont(base, std::min(10.0, rect.height() * (twoLines ? 0.28 : 0.45))));
    painter.setPen(faint);
    painter.drawText(hitsRect, twoLines ? Qt::AlignCenter : Qt::AlignRight | Qt::AlignVCenter,
                     hits);
  }
  painter.setFont(base);
}

void DrawAxes(QPainter& painter, const QRectF& bounds, const QRectF& cells, const TBins& xBins,
              const TBins& yBins, const TTablePaintOptions& options) {
  const QFontMetricsF metrics(painter.font());
  painter.setPen(TextColor);
  const double rowHeight = cells.height() / static_cast<double>(yBins.size());
  for (std::size_t y = 0; y < yBins.size(); ++y) {
    const QRectF row = GridCellRect(bounds, xBins, yBins, {0, y});
    if (rowHeight < metrics.height() * 0.8 && y % 2 == 1) continue;
    painter.drawText(
        QRectF(bounds.left() + TitleSpace, row.top(), row.left() - TitleSpace - 6, row.height()),
        Qt::AlignRight | Qt::AlignVCenter, BinText(yBins[y]));
  }
  const double columnWidth = cells.width() / static_cast<double>(xBins.size());
  const double widest = WidestLabel(metrics, xBins) + 6;
  const std::size_t every = static_cast<std::size_t>(std::ceil(widest / columnWidth));
  for (std::size_t x = 0; x < xBins.size(); x += std::max<std::size_t>(1, every)) {
    const QRectF column = GridCellRect(bounds, xBins, yBins, {x, 0});
    painter.drawText(
        QRectF(column.center().x() - widest, cells.bottom() + 2, 2 * widest, LabelSpace),
        Qt::AlignHCenter | Qt::AlignTop, BinText(xBins[x]));
  }
  painter.drawText(QRectF(cells.left(), cells.bottom() + LabelSpace, cells.width(), TitleSpace),
                   Qt::AlignCenter, options.XName);
  painter.save();
  painter.translate(bounds.left() + TitleSpace / 2, cells.center().y());
  painter.rotate(-90);
  painter.drawText(QRectF(-cells.height() / 2, -TitleSpace / 2, cells.height(), TitleSpace),
                   Qt::AlignCenter, options.YName);
  painter.restore();
}

// The key above the cells: what the colours say, and the rich colour (left) to the lean.
void DrawKey(QPainter& painter, const QRectF& cells, const QString& centre, const QString& rich,
             const QString& lean) {
  const QFontMetricsF metrics(painter.font());
  const double barWidth = 120;
  const double leanWidth = metrics.horizontalAdvance(lean) + 2;
  const QRectF bar(cells.right() - barWidth - leanWidth - 6, cells.top() - LegendSpace + 5,
                   barWidth, LegendSpace - 10);
  QLinearGradient gradient(bar.topLeft(), bar.topRight());
  for (int i = 0; i <= 10; ++i) {
    gradient.setColorAt(i / 10.0, MixtureColor(1 - FullColourAt + 2 * FullColourAt * i / 10.0));
  }
  painter.fillRect(bar, gradient);
  painter.setPen(TextColor);
  const QRectF line(cells.left(), cells.top() - LegendSpace, cells.width(), LegendSpace - 2);
  painter.drawText(line.adjusted(0, 0, -(cells.right() - bar.right()), 0),
                   Qt::AlignLeft | Qt::AlignVCenter, centre);
  const double richWidth = metrics.horizontalAdvance(rich) + 2;
  painter.drawText(QRectF(bar.left() - richWidth - 4, line.top(), richWidth, line.height()),
                   Qt::AlignRight | Qt::AlignVCenter, rich);
  painter.drawText(QRectF(bar.right() + 4, line.top(), leanWidth, line.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, lean);
}

// What the mixture table's colours are centred on.
QString MixtureKey(const TMixtureTable& table, const TTablePaintOptions& options) {
  const bool anyTarget = std::any_of(table.Cells.begin(), table.Cells.end(),
                                     [](const TTableCell& c) { return !std::isnan(c.Correction); });
  const bool lambda = options.Unit.DisplayMode == sensor::dmLambda;
  return anyTarget ? QStringLiteral("colours around the target")
         : lambda  ? QStringLiteral("colours around lambda 1")
                   : QStringLiteral("colours around %1 %2")
                        .arg(StoichiometricAfr(options.Unit.FuelType), 0, 'f', 1)
                        .arg(QString::fromStdString(UnitName(options.Unit)));
}

// The grid with the outline of the engine's cell, where there is one inside it.
void DrawOutline(QPainter& painter, const QRectF& bounds, const TBins& xBins, const TBins& yBins,
                 const TTablePaintOptions& options) {
  if (!options.Outlined || options.Outlined->X >= xBins.size() ||
      options.Outlined->Y >= yBins.size()) {
    return;
  }
  painter.setPen(QPen(OutlineColor, 3));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(
      GridCellRect(bounds, xBins, yBins, *options.Outlined).adjusted(1.5, 1.5, -1, -1));
}

// A dot in the top left corner of each marked cell inside the grid, clear of the outline: a cell
// that filled while the user watched, told apart from those full before without hiding figures.
void DrawMarks(QPainter& painter, const QRectF& bounds, const TBins& xBins, const TBins& yBins,
               const TTablePaintOptions& options) {
  painter.setPen(QPen(QColor(255, 255, 255), 1));
  painter.setBrush(OutlineColor);
  for (const TCellIndex& cell : options.Marked) {
    if (cell.X >= xBins.size() || cell.Y >= yBins.size()) continue;
    const QRectF rect = GridCellRect(bounds, xBins, yBins, cell);
    const double radius = std::clamp(std::min(rect.width(), rect.height()) / 8, 2.0, 4.5);
    painter.drawEllipse(QPointF(rect.left() + radius + 6, rect.top() + radius + 6), radius, radius);
  }
}

// Why nothing can be drawn, in place of the cells.
void DrawReason(QPainter& painter, const QRectF& bounds, const QString& reason) {
  painter.setPen(QColor(120, 120, 120));
  painter.drawText(bounds.adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, reason);
}

}  // namespace

QColor MixtureColor(double ratio) {
  if (!std::isfinite(ratio)) return Neutral;
  const double t = std::clamp((ratio - 1) / FullColourAt, -1.0, 1.0);
  return t < 0 ? Blend(Neutral, Rich, -t) : Blend(Neutral, Lean, t);
}

double CellRatio(const TMixtureTable& table, const TDisplay& unit, std::size_t x, std::size_t y) {
  const TTableCell& cell = table.At(x, y);
  if (!std::isnan(cell.Correction)) return cell.Correction;
  const double stoichiometric =
      unit.DisplayMode == sensor::dmLambda ? 1.0 : StoichiometricAfr(unit.FuelType);
  return cell.Mean / stoichiometric;
}

QRectF GridCellRect(const QRectF& bounds, const TBins& x, const TBins& y, TCellIndex cell) {
  if (x.empty() || y.empty()) return {};
  const QRectF area = CellArea(bounds, y);
  const double width = area.width() / static_cast<double>(x.size());
  const double height = area.height() / static_cast<double>(y.size());
  const double row = static_cast<double>(y.size() - 1 - cell.Y);
  return QRectF(area.left() + width * static_cast<double>(cell.X), area.top() + height * row, width,
                height);
}

QRectF TableCellRect(const QRectF& bounds, const TMixtureTable& table, TCellIndex cell) {
  return GridCellRect(bounds, table.XBins, table.YBins, cell);
}

std::optional<TCellIndex> GridCellAtPoint(const QRectF& bounds, const TBins& x, const TBins& y,
                                          const QPointF& point) {
  if (x.empty() || y.empty()) return std::nullopt;
  const QRectF area = CellArea(bounds, y);
  if (!area.contains(point)) return std::nullopt;
  const auto column = static_cast<std::size_t>((point.x() - area.left()) / area.width() *
                                               static_cast<double>(x.size()));
  const auto fromTop = static_cast<std::size_t>((point.y() - area.top()) / area.height() *
                                                static_cast<double>(y.size()));
  return TCellIndex{std::min(column, x.size() - 1), y.size() - 1 - std::min(fromTop, y.size() - 1)};
}

std::optional<TCellIndex> TableCellAtPoint(const QRectF& bounds, const TMixtureTable& table,
                                           const QPointF& point) {
  return GridCellAtPoint(bounds, table.XBins, table.YBins, point);
}

void PaintMixtureTable(QPainter& painter, const QRectF& bounds, const TMixtureTable& table,
                       const TTablePaintOptions& options) {
  painter.save();
  painter.fillRect(bounds, TableBackground);
  if (table.Cells.empty() || table.Columns() == 0 || table.Rows() == 0) {
    DrawReason(painter, bounds,
               table.Error.empty() ? QStringLiteral("No engine records in the range shown")
                                   : QString::fromStdString(table.Error));
    painter.restore();
    return;
  }
  const bool lambda = options.Unit.DisplayMode == sensor::dmLambda;
  const QRectF area = CellArea(bounds, table.YBins);
  painter.setPen(QPen(GridColor, 1));
  painter.drawRect(area);
  for (std::size_t y = 0; y < table.Rows(); ++y) {
    for (std::size_t x = 0; x < table.Columns(); ++x) {
      const QRectF rect = TableCellRect(bounds, table, {x, y});
      painter.setPen(QPen(GridColor, 1));
      painter.drawRect(rect);
      if (!table.Shown(x, y)) continue;
      const QColor fill = MixtureColor(CellRatio(table, options.Unit, x, y));
      painter.fillRect(rect.adjusted(1, 1, 0, 0), fill);
      const TTableCell& cell = table.At(x, y);
      DrawCellText(
          painter, rect, QuantityText(cell, options.Quantity, lambda),
          options.Quantity == TTableQuantity::Hits ? QString() : QString::number(cell.Hits), fill);
    }
  }
  DrawAxes(painter, bounds, area, table.XBins, table.YBins, options);
  DrawKey(painter, area, MixtureKey(table, options), QStringLiteral("rich"),
          QStringLiteral("lean"));
  DrawMarks(painter, bounds, table.XBins, table.YBins, options);
  DrawOutline(painter, bounds, table.XBins, table.YBins, options);
  painter.restore();
}

int ProposalDecimals(const TFuelProposal& proposal) {
  const auto readsAt = [](double value, int decimals) {
    const double scaled = value * std::pow(10.0, decimals);
    return !std::isfinite(value) ||
           std::abs(scaled - std::round(scaled)) < 1e-6 * (1 + std::abs(scaled));
  };
  for (int decimals = 0; decimals < 2; ++decimals) {
    const auto fits = [&](double value) { return readsAt(value, decimals); };
    if (std::all_of(proposal.Current.Values.begin(), proposal.Current.Values.end(), fits) &&
        std::all_of(proposal.Proposed.begin(), proposal.Proposed.end(), fits)) {
      return decimals;
    }
  }
  return 2;
}

QString ProposalCellText(const TFuelProposal& proposal, TTableQuantity quantity, TCellIndex cell,
                         int decimals) {
  const std::size_t at = cell.Y * proposal.Current.Columns() + cell.X;
  const double current = proposal.Current.Values[at];
  const double proposed = proposal.Proposed[at];
  if (!std::isfinite(current) || !std::isfinite(proposed)) return {};
  if (quantity != TTableQuantity::ChangePercent) return QString::number(proposed, 'f', decimals);
  if (!(current > 0)) return {};
  if (!proposal.Changed[at]) return QStringLiteral("0.0");
  return QString::asprintf("%+.1f", (proposed / current - 1) * 100);
}

void PaintFuelProposal(QPainter& painter, const QRectF& bounds, const TFuelProposal& proposal,
                       const TTablePaintOptions& options) {
  painter.save();
  painter.fillRect(bounds, TableBackground);
  const TFuelGrid& grid = proposal.Current;
  if (!proposal.Error.empty() || grid.Columns() == 0 || grid.Rows() == 0 ||
      proposal.Proposed.size() != grid.Values.size()) {
    DrawReason(painter, bounds,
               QStringLiteral("No corrected fuel table: ") +
                   QString::fromStdString(proposal.Error.empty() ? "no grid" : proposal.Error));
    painter.restore();
    return;
  }
  const int decimals = ProposalDecimals(proposal);
  const QRectF area = CellArea(bounds, grid.Y);
  painter.setPen(QPen(GridColor, 1));
  painter.drawRect(area);
  for (std::size_t y = 0; y < grid.Rows(); ++y) {
    for (std::size_t x = 0; x < grid.Columns(); ++x) {
      const QRectF rect = GridCellRect(bounds, grid.X, grid.Y, {x, y});
      painter.setPen(QPen(GridColor, 1));
      painter.drawRect(rect);
      const QString text = ProposalCellText(proposal, options.Quantity, {x, y}, decimals);
      if (text.isEmpty()) continue;
      const std::size_t at = y * grid.Columns() + x;
      // More fuel makes the mixture richer: coloured as a rich cell, by the same scale.
      const QColor fill = proposal.Changed[at]
                              ? MixtureColor(grid.Values[at] / proposal.Proposed[at])
                              : TableBackground;
      painter.fillRect(rect.adjusted(1, 1, 0, 0), fill);
      // The records' worth the cell learnt from, where it is one at least.
      const long long weight = std::llround(proposal.Weight[at]);
      DrawCellText(painter, rect, text, weight > 0 ? QString::number(weight) : QString(), fill);
    }
  }
  DrawAxes(painter, bounds, area, grid.X, grid.Y, options);
  DrawKey(painter, area,
          QStringLiteral("colours: the fuel a cell gains or loses; unchanged cells plain"),
          QStringLiteral("richer"), QStringLiteral("leaner"));
  DrawMarks(painter, bounds, grid.X, grid.Y, options);
  DrawOutline(painter, bounds, grid.X, grid.Y, options);
  painter.restore();
}

}  // namespace viewer
