// The engine log's panes in the window, under the mixture chart and in step with it: the chart's
// range and cursor are drawn here, and the mouse over the panes zooms, pans and moves the cursor
// of the chart, so the two never disagree.
#pragma once

#include <QWidget>

#include "viewer/chart/EnginePanes.h"

namespace viewer {

class TLogChart;

class TEnginePanesWidget : public QWidget {
  Q_OBJECT

 public:
  // `chart`: the chart whose axis the panes share; it must outlive the panes.
  explicit TEnginePanesWidget(TLogChart* chart, QWidget* parent = nullptr);

  // The log, its place on the axis and the channels shown; the range stays the chart's.
  void SetPanes(const TPaneScene& panes);
  const TPaneScene& Panes() const { return Scene; }
  void SetRange(double from, double to);
  void SetCursorX(double x);

  QSize sizeHint() const override;
  // Half a pane's height each at least: a panel docked beside them never squeezes them away.
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void Forward(QEvent* event);

  TLogChart* Chart;
  TPaneScene Scene;
  double CursorX = -1;
};

}  // namespace viewer
