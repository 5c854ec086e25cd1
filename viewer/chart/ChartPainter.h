// Drawing logged runs: grid, axes, legend and one trace per log, into any QPainter (the window,
// an image, an SVG file). However long a log is, at most a few points per pixel column reach the
// painter: each column gets the first, lowest, highest and last value of the samples that fall
// into it, so the drawing looks like every sample drawn and costs no more than the chart is wide.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <vector>

#include "log/Log.h"
#include "viewer/logs/Summary.h"

namespace viewer {

struct TValueRange {
  double Low = 0;
  double High = 1;
};

struct TChartTrace {
  const TLog* Log = nullptr;
  QColor Color;
  QString Name;  // the legend's text
  double Shift =
      0;  // subtracted from the log's times: 0 on the clock axis, its start when relative
};

// An engine log's own mixture channel drawn as the mixture trace, where no log of ours is shown:
// in the scene's unit (converted as IsLambdaChannel tells), broken where it is no plausible
// mixture or the log has a gap.
struct TEngineMixtureTrace {
  const enginelog::TLog* Log = nullptr;  // none: no such trace
  std::size_t Channel = 0;
  double Shift = 0;  // added to the log's times to place them on the chart's axis
  QColor Color;
  QString Name;  // the legend's text
};

struct TChartScene {
  std::vector<TChartTrace> Traces;
  TEngineMixtureTrace EngineMixture;
  TDisplay Display;
  double From = 0;  // the visible time range, on the (shifted) axis
  double To = 1;
  bool RelativeTime = false;  // the axis counts from each log's start instead of the clock
  // Spans on the axis that the full range takes in besides the traces (an engine log's panes).
  std::vector<TValueRange> MoreExtents;
};

// The reading axis: lambda 0.6 to 1.4, or the air-fuel ratios of the same lambdas for the fuel
// in whole numbers (petrol 9 to 21).
TValueRange ReadingRange(const TDisplay& display);
// The volts axis on the right, 8 to 16 V.
TValueRange VoltsRange();

// Where the chart puts its plot inside `bounds` (the rest holds the axis labels).
QRectF PlotArea(const QRectF& bounds);
// The earliest and latest (shifted) time of the scene's traces; {0, 1} when there are none.
TValueRange TimeExtent(const TChartScene& scene);

struct TNamedLog {
  const TLog* Log = nullptr;
  QString Name;
};
// A scene of `logs` at full range, each in its own colour; on the relative axis each log's time
// counts from its first sample.
TChartScene MakeScene(const std::vector<TNamedLog>& logs, const TDisplay& display, bool relative);

// The mixture trace of channel `channel` of `log`, its times placed by `shift`, in the first
// trace's colour, named "FILE: CHANNEL [UNIT]" after `file`.
TEngineMixtureTrace MakeEngineMixtureTrace(const enginelog::TLog& log, std::size_t channel,
                                           double shift, const QString& file);

// Colour of the samples of an extended log's status (the trace's own colour while live).
QColor StatusColor(TSampleStatus status, const QColor& traceColor);

// Draws the whole chart into `bounds`: background, grid, axes, the traces and the legend; the
// volts axis and the 12.0 V line only with a log of ours among the traces (an engine log has no
// supply volts). `cursorX`, when not negative, draws a cursor line at that x.
void PaintChart(QPainter& painter, const QRectF& bounds, const TChartScene& scene,
                double cursorX = -1);

}  // namespace viewer
