// An engine log's channels drawn in panes under the mixture chart: one pane a channel, on the
// chart's time axis and range, with the log's markers as vertical lines and their text. Into any
// QPainter (the window, an image, an SVG file); each pane reduces its channel to pixel columns as
// the chart does (TraceColumns.h).
#pragma once

#include <QPainter>
#include <QRectF>
#include <QString>
#include <vector>

#include "log/Log.h"
#include "viewer/chart/ChartPainter.h"

namespace viewer {

struct TPaneScene {
  const enginelog::TLog* Log = nullptr;  // none: no panes
  // Added to the log's times to place them on the chart's axis.
  double Shift = 0;
  std::vector<std::size_t> Shown;  // channel indices, top to bottom
  double From = 0;                 // the chart's visible range
  double To = 1;
};

// The panes of `log` on the axis of `scene`: its first record `offset` seconds after the first
// row of the scene's first trace (the mixture log), or at 0 when the scene has no trace.
TPaneScene PlacePanes(const TChartScene& scene, const enginelog::TLog& log, double offset,
                      std::vector<std::size_t> shown);

// Height of one pane in pixels, and of the strip that holds the markers' text.
inline constexpr double PaneHeight = 90;
inline constexpr double MarkerStripHeight = 18;
// The height the panes of `panes` take.
double PanesHeight(const TPaneScene& panes);

// The engine log's time span on the chart's axis (for the chart's full range).
TValueRange PaneExtent(const TPaneScene& panes);

// Draws the panes into `bounds`, sharing its height out among them (the left and right margins
// match the chart's plot);
// `cursorX`, when not negative, draws the cursor line at that x.
void PaintPanes(QPainter& painter, const QRectF& bounds, const TPaneScene& panes,
                double cursorX = -1);

// "RPM 3012 rpm   MAP 87.4 kPa" at `time` on the chart's axis: each shown channel's value at the
// last record at or before it; empty outside the log.
QString PanesReadoutAt(const TPaneScene& panes, double time);

// The chart with its panes beneath, into `bounds`: the chart keeps what the panes leave.
void PaintChartAndPanes(QPainter& painter, const QRectF& bounds, const TChartScene& scene,
                        const TPaneScene& panes);

}  // namespace viewer
