// The mixture table's heat map on screen: the painter's drawing, with a cell's figures in a tool
// tip under the mouse; or, when the options' quantity is the proposal's, the corrected fuel table.
#pragma once

#include <QWidget>

#include "viewer/table/MixtureTablePainter.h"

namespace viewer {

class TMixtureTableView : public QWidget {
  Q_OBJECT

 public:
  explicit TMixtureTableView(QWidget* parent = nullptr);

  // The mixture table and the corrected fuel table made with it; which one is drawn is
  // options.Quantity's (ShowsProposal).
  void SetTable(const TMixtureTable& table, const TTablePaintOptions& options);
  void SetProposal(const TFuelProposal& proposal);
  void SetOutlined(std::optional<TCellIndex> cell);
  void SetMarked(const std::vector<TCellIndex>& cells);
  const TTablePaintOptions& Options() const { return PaintOptions; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString CellToolTip(TCellIndex cell) const;
  QString ProposalToolTip(TCellIndex cell) const;

  TMixtureTable Table;
  TFuelProposal Proposal;
  TTablePaintOptions PaintOptions;
};

}  // namespace viewer
