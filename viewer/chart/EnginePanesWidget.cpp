// The engine log's panes in the window, following the chart.
#include "viewer/chart/EnginePanesWidget.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "viewer/chart/LogChart.h"

namespace viewer {

TEnginePanesWidget::TEnginePanesWidget(TLogChart* chart, QWidget* parent)
    : QWidget(parent), Chart(chart) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void TEnginePanesWidget::SetPanes(const TPaneScene& panes) {
  const double from = Scene.From;
  const double to = Scene.To;
  Scene = panes;
  Scene.From = from;
  Scene.To = to;
  updateGeometry();
  update();
}

void TEnginePanesWidget::SetRange(double from, double to) {
  Scene.From = from;
  Scene.To = to;
  update();
}

void TEnginePanesWidget::SetCursorX(double x) {
  CursorX = x;
  update();
}

QSize TEnginePanesWidget::sizeHint() const {
  return QSize(600, static_cast<int>(PanesHeight(Scene)));
}

QSize TEnginePanesWidget::minimumSizeHint() const {
  if (Scene.Log == nullptr) return QSize(0, 0);
  return QSize(200, static_cast<int>(MarkerStripHeight +
                                     PaneHeight / 2 * static_cast<double>(Scene.Shown.size())));
}

void TEnginePanesWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPanes(painter, QRectF(rect()), Scene, CursorX);
}

// The chart and the panes are the same width in one column, so an x here is the same x there;
// the chart's own handlers then zoom, pan and move the cursor of both.
void TEnginePanesWidget::Forward(QEvent* event) { QCoreApplication::sendEvent(Chart, event); }

void TEnginePanesWidget::wheelEvent(QWheelEvent* event) { Forward(event); }
void TEnginePanesWidget::mousePressEvent(QMouseEvent* event) { Forward(event); }
void TEnginePanesWidget::mouseMoveEvent(QMouseEvent* event) { Forward(event); }
void TEnginePanesWidget::mouseReleaseEvent(QMouseEvent* event) { Forward(event); }
void TEnginePanesWidget::leaveEvent(QEvent* event) { Forward(event); }

}  // namespace viewer
