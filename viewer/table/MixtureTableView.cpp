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

void TMixtureTableView::SetProposal(const TFuelProposal& proposal) {
  Proposal = proposal;
  update();
}

void TMixtureTableView::SetOutlined(std::optional<TCellIndex> cell) {
  if (PaintOptions.Outlined == cell) return;
  PaintOptions.Outlined = cell;
  update();
}

void TMixtureTableView::SetMarked(const std::vector<TCellIndex>& cells) {
  if (PaintOptions.Marked == cells) return;
  PaintOptions.Marked = cells;
  update();
}

QSize TMixtureTableView::sizeHint() const { return QSize(700, 260); }

void TMixtureTableView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (ShowsProposal(PaintOptions.Quantity)) {
    PaintFuelProposal(painter, QRectF(rect()), Proposal, PaintOptions);
  } else {
    PaintMixtureTable(painter, QRectF(rect()), Table, PaintOptions);
  }
}

bool TMixtureTableView::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const bool proposal = ShowsProposal(PaintOptions.Quantity);
  const std::optional<TCellIndex> cell =
      proposal
          ? GridCellAtPoint(QRectF(rect()), Proposal.Current.X, Proposal.Current.Y, help->pos())
          : TableCellAtPoint(QRectF(rect()), Table, help->pos());
  if (cell && proposal && Proposal.Proposed.size() != Proposal.Current.Values.size()) {
    QToolTip::hideText();
  } else if (cell) {
    QToolTip::showText(help->globalPos(), proposal ? ProposalToolTip(*cell) : CellToolTip(*cell),
                       this);
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

QString TMixtureTableView::ProposalToolTip(TCellIndex cell) const {
  const TFuelGrid& grid = Proposal.Current;
  const std::size_t at = cell.Y * grid.Columns() + cell.X;
  QString text = QStringLiteral("%1 %2, %3 %4\n")
                     .arg(PaintOptions.XName)
                     .arg(grid.X[cell.X], 0, 'g', 6)
                     .arg(PaintOptions.YName)
                     .arg(grid.Y[cell.Y], 0, 'g', 6);
  const double current = grid.Values[at];
  if (!std::isfinite(current)) return text + QStringLiteral("no current value");
  const int decimals = ProposalDecimals(Proposal);
  text += QStringLiteral("current %1%2")
              .arg(current, 0, 'f', decimals)
              .arg(Proposal.Estimated ? QStringLiteral(" (estimated from the log)") : QString());
  if (Proposal.Changed[at]) {
    text += QStringLiteral(", proposed %1 (%2 %)")
                .arg(Proposal.Proposed[at], 0, 'f', decimals)
                .arg(ProposalCellText(Proposal, TTableQuantity::ChangePercent, cell, decimals));
  } else {
    text += QStringLiteral(", unchanged");
  }
  return text + QStringLiteral("\nweight %1 records").arg(Proposal.Weight[at], 0, 'f', 1);
}

}  // namespace viewer
