// The mixture table's heat map widget.
#include "viewer/table/MixtureTableView.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <cmath>

namespace viewer {

TMixtureTableView::TMixtureTableView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setMinimumHeight(220);
}

void TMixtureTableView::SetTable(const TMixtureTable& table, const TTablePaintOptions& options) {
  Table = table;
  PaintOptions = options;
  update();
}

void TMixtureTableView::SetOutlined(std::optional<TCellIndex> cell) {
  if (PaintOptions.Outlined == cell) return;
  PaintOptions.Outlined = cell;
  update();
}

QSize TMixtureTableView::sizeHint() const { return QSize(700, 260); }

void TMixtureTableView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintMixtureTable(painter, QRectF(rect()), Table, PaintOptions);
}

bool TMixtureTableView::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const std::optional<TCellIndex> cell = TableCellAtPoint(QRectF(rect()), Table, help->pos());
  if (cell) {
    QToolTip::showText(help->globalPos(), CellToolTip(*cell), this);
  } else {
    QToolTip::hideText();
  }
  return true;
}

QString TMixtureTableView::CellToolTip(TCellIndex cell) const {
  const TTableCell& figures = Table.At(cell.X, cell.Y);
  QString text = QStringLiteral("%1 %2, %3 %4\n")
                     .arg(PaintOptions.XName)
                     .arg(Table.XBins[cell.X], 0, 'g', 6)
                     .arg(PaintOptions.YName)
                     .arg(Table.YBins[cell.Y], 0, 'g', 6);
  text += QStringLiteral("%1 hits").arg(figures.Hits);
  if (figures.Hits == 0) return text;
  if (!Table.Shown(cell.X, cell.Y)) text += QStringLiteral(" (fewer than %1)").arg(Table.MinHits);
  const bool lambda = PaintOptions.Unit.DisplayMode == sensor::dmLambda;
  text += QStringLiteral("\nmean %1, sd %2")
              .arg(figures.Mean, 0, 'f', lambda ? 3 : 2)
              .arg(figures.Sd, 0, 'f', lambda ? 3 : 2);
  if (!std::isnan(figures.Correction)) {
    text += QStringLiteral("\ncorrection %1").arg(figures.Correction, 0, 'f', 3);
  }
  return text;
}

}  // namespace viewer
