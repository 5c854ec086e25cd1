// The chart of the viewer's window: the painter's drawing with zoom, pan and a cursor read-out.
//
// Zoom: the wheel (about the mouse), a rubber band (right button, or Shift and the left button),
// + and -. Pan: drag with the left button, the arrow keys. Reset: Home, 0 or Escape.
#pragma once

#include <QRubberBand>
#include <QWidget>

#include "viewer/chart/ChartPainter.h"

namespace viewer {

class TLogChart : public QWidget {
  Q_OBJECT

 public:
  explicit TLogChart(QWidget* parent = nullptr);

  // The traces and display; the range is kept when the traces are the same as before, otherwise
  // the chart shows everything.
  void SetScene(const TChartScene& scene, bool resetRange);
  const TChartScene& Scene() const { return ChartScene; }
  // Shows [from, to] (clamped to a tenth of a second at least).
  void SetRange(double from, double to);
  // Shows every sample.
  void ResetRange();
  // Moves the view so that its end is the last sample: a followed log's newest rows in view. A
  // view that showed every sample before the scene grew shows every sample again; one zoomed in
  // keeps its width.
  void ShowEnd();

  // The text the cursor read-out shows for a time on the chart's axis (empty off the traces).
  QString ReadoutAt(double time) const;

 signals:
  void RangeChanged(double from, double to);
  void Readout(const QString& text);
  // The mouse is at `x` (pixels from the left), `time` on the axis; x -1 when it left the chart.
  // Sent before Readout.
  void CursorMoved(double x, double time);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  double TimeAtX(double x) const;
  void ZoomAbout(double time, double factor);
  void Pan(double fraction);

  TChartScene ChartScene;
  bool ShowedAll = true;  // the range, when it was last set, held the whole of the scene
  double CursorX = -1;
  bool Panning = false;
  double PanStartX = 0;
  double PanStartFrom = 0;
  QRubberBand* Band = nullptr;
  QPoint BandStart;
};

}  // namespace viewer
