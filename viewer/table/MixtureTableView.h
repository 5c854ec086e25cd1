// The mixture table's heat map on screen: the painter's drawing, with a cell's figures in a tool
// tip under the mouse.
#pragma once

#include <QWidget>

#include "viewer/table/MixtureTablePainter.h"

namespace viewer {

class TMixtureTableView : public QWidget {
  Q_OBJECT

 public:
  explicit TMixtureTableView(QWidget* parent = nullptr);

  void SetTable(const TMixtureTable& table, const TTablePaintOptions& options);
  void SetOutlined(std::optional<TCellIndex> cell);
  const TTablePaintOptions& Options() const { return PaintOptions; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString CellToolTip(TCellIndex cell) const;

  TMixtureTable Table;
  TTablePaintOptions PaintOptions;
};

}  // namespace viewer
