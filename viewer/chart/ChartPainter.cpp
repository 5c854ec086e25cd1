// The log chart's drawing, shared by the window and the export.
#include "viewer/chart/ChartPainter.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "viewer/chart/TraceColumns.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/MixtureValue.h"

namespace viewer {

namespace {

constexpr double LeftMargin = 52;
constexpr double RightMargin = 46;
constexpr double TopMargin = 12;
constexpr double BottomMargin = 34;
constexpr double LambdaLow = 0.6;
constexpr double LambdaHigh = 1.4;

const QColor Background(255, 255, 255);
const QColor GridColor(225, 225, 225);
const QColor AxisColor(90, 90, 90);
const QColor LowVoltsColor(200, 40, 40);
// Distinct on white and from the status colours (amber, grey, red).
const QColor TraceColors[] = {QColor(30, 90, 200), QColor(20, 150, 90), QColor(150, 60, 180),
                              QColor(0, 150, 170), QColor(120, 80, 40), QColor(200, 60, 140)};

// Steps for the time grid, in seconds: from a tenth of a second to a day.
constexpr double TimeSteps[] = {0.1, 0.2, 0.5, 1,    2,    5,    10,    15,    30,    60,   120,
                                300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};

double NiceStep(double span, int wantedLines) {
  const double raw = span / wantedLines;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * power >= raw) return factor * power;
  }
  return 10 * power;
}

QString TimeLabel(double time, double step, bool relative) {
  const int decimals = step < 1 ? 1 : 0;
  if (!relative) return QString::fromStdString(ClockText(time, decimals));
  const bool negative = time < 0;
  std::string text = DurationText(std::abs(time));
  // DurationText always has tenths; whole steps do not need them.
  if (decimals == 0) text = text.substr(0, text.size() - 2);
  return QString::fromStdString((negative ? "-" : "+") + text);
}

// The height of `value` on an axis that spans `range` over the plot's height.
double HeightOf(double value, const TValueRange& range, const QRectF& plot) {
  return plot.bottom() - (value - range.Low) / (range.High - range.Low) * plot.height();
}

// The volts of a trace: its hue, pale, so the readings stand out.
QColor VoltsColor(const QColor& traceColor) {
  return QColor::fromHsvF(traceColor.hsvHueF(), 0.25, 0.92);
}

// Appends a column's points at `x`: first, then low and high in the order that joins the first
// and last values shortest, then last; a point only where the line changes height.
template <typename TYOf>
void AppendColumn(QPolygonF& points, double x, const TColumnValues& column, TYOf yOf) {
  points.append(QPointF(x, yOf(column.First)));
  if (column.Low != column.High) {
    const bool lowFirst = column.First - column.Low < column.High - column.First;
    points.append(QPointF(x, yOf(lowFirst ? column.Low : column.High)));
    points.append(QPointF(x, yOf(lowFirst ? column.High : column.Low)));
  }
  const double last = yOf(column.Last);
  if (last != points.back().y()) points.append(QPointF(x, last));
}

// Draws a trace's runs as polylines; `yOf` maps a value to its height, `colorOf` a run's status
// to its colour.
template <typename TYOf, typename TColorOf>
void DrawRuns(QPainter& painter, const QRectF& plot, const std::vector<TTraceRun>& runs, TYOf yOf,
              TColorOf colorOf) {
  QPolygonF points;
  QPointF joint;
  for (const TTraceRun& run : runs) {
    points.clear();
    if (run.JoinsPrevious) points.append(joint);
    for (const TColumnValues& column : run.Columns) {
      AppendColumn(points, plot.left() + column.Column + 0.5, column, yOf);
    }
    joint = points.back();
    // A lone sample between gaps still shows.
    if (points.size() == 1) points.append(points.front() + QPointF(1, 0));
    painter.setPen(QPen(colorOf(run.Status), 0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    painter.drawPolyline(points);
  }
}

void DrawTrace(QPainter& painter, const QRectF& plot, const TChartScene& scene,
               const TChartTrace& trace) {
  const TColumnScale scale{scene.From + trace.Shift, scene.To + trace.Shift, plot.width()};
  auto heightIn = [&plot](const TValueRange& range) {
    return [&plot, range](double value) { return HeightOf(value, range, plot); };
  };
  const QColor voltsColor = VoltsColor(trace.Color);
  // Volts under the readings: the mixture is what the chart is for.
  DrawRuns(painter, plot, ReduceToColumns(*trace.Log, scale, TTraceQuantity::Volts, scene.Display),
           heightIn(VoltsRange()), [&](TSampleStatus) { return voltsColor; });
  DrawRuns(painter, plot,
           ReduceToColumns(*trace.Log, scale, TTraceQuantity::Reading, scene.Display),
           heightIn(ReadingRange(scene.Display)),
           [&](TSampleStatus status) { return StatusColor(status, trace.Color); });
}

// An engine log's mixture channel, as a trace of ours would be drawn without its volts.
void DrawEngineMixture(QPainter& painter, const QRectF& plot, const TChartScene& scene) {
  const TEngineMixtureTrace& trace = scene.EngineMixture;
  const enginelog::TLog& log = *trace.Log;
  const enginelog::TChannel& channel = log.Channels[trace.Channel];
  const TColumnScale scale{scene.From, scene.To, plot.width()};
  const TSeriesValues mixture{ChannelScale(channel, scene.Display), PlausibleRange(scene.Display)};
  const TValueRange range = ReadingRange(scene.Display);
  DrawRuns(
      painter, plot,
      ReduceSeriesToColumns(log.Times, channel.Values, trace.Shift, scale, RecordGapSeconds(log),
                            mixture),
      [&](double value) { return HeightOf(value, range, plot); },
      [&](TSampleStatus) { return trace.Color; });
}

// The reading grid with its labels on the left, the volts labels on the right (with `volts`).
void DrawValueGrid(QPainter& painter, const QRectF& bounds, const QRectF& plot,
                   const TDisplay& display, bool volts) {
  const TValueRange reading = ReadingRange(display);
  const double readingStep = NiceStep(reading.High - reading.Low, 8);
  const int readingDecimals = readingStep < 0.1 ? 2 : readingStep < 1 ? 1 : 0;
  for (double v = std::ceil(reading.Low / readingStep - 1e-9) * readingStep;
       v <= reading.High + 1e-9; v += readingStep) {
    const double y = HeightOf(v, reading, plot);
    painter.setPen(QPen(GridColor, 1));
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    painter.setPen(AxisColor);
    painter.drawText(QRectF(bounds.left(), y - 8, LeftMargin - 6, 16),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'f', readingDecimals));
  }
  if (!volts) return;
  const TValueRange voltsRange = VoltsRange();
  for (double v = voltsRange.Low; v <= voltsRange.High + 1e-9; v += 2) {
    painter.setPen(AxisColor);
    painter.drawText(
        QRectF(plot.right() + 4, HeightOf(v, voltsRange, plot) - 8, RightMargin - 6, 16),
        Qt::AlignLeft | Qt::AlignVCenter, QString::number(v, 'f', 0) + " V");
  }
}

// The time grid, at a step that leaves room for every label, and the axes' names beneath it.
void DrawTimeGrid(QPainter& painter, const QRectF& bounds, const QRectF& plot,
                  const TChartScene& scene) {
  const QFontMetricsF metrics(painter.font());
  const double span = scene.To - scene.From;
  const double labelWidth = metrics.horizontalAdvance(QStringLiteral("+00:00:00.0")) + 16;
  const double wanted = std::max(1.0, plot.width() / labelWidth);
  double step = TimeSteps[std::size(TimeSteps) - 1];
  for (const double candidate : TimeSteps) {
    if (span / candidate <= wanted) {
      step = candidate;
      break;
    }
  }
  if (span / step > wanted) step = NiceStep(span, static_cast<int>(wanted));
  for (double t = std::ceil(scene.From / step - 1e-9) * step; t <= scene.To + 1e-9; t += step) {
    const double x = plot.left() + (t - scene.From) / span * plot.width();
    painter.setPen(QPen(GridColor, 1));
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    painter.setPen(AxisColor);
    painter.drawText(QRectF(x - labelWidth / 2, plot.bottom() + 3, labelWidth, 16),
                     Qt::AlignHCenter | Qt::AlignTop, TimeLabel(t, step, scene.RelativeTime));
  }
  painter.setPen(AxisColor);
  painter.drawText(QRectF(bounds.left(), plot.bottom() + 17, plot.width() + LeftMargin, 16),
                   Qt::AlignLeft | Qt::AlignTop,
                   QString::fromStdString(UnitName(scene.Display)) + "  /  " +
                       (scene.RelativeTime ? QStringLiteral("time since start")
                                           : QStringLiteral("time of day")));
}

// Lambda 1 and (with `volts`) the low-volts line, dashed, over the grid; then the plot's frame.
void DrawReferenceLines(QPainter& painter, const QRectF& plot, const TDisplay& display,
                        bool volts) {
  const double stoichiometric =
      display.DisplayMode == sensor::dmLambda ? 1.0 : StoichiometricAfr(display.FuelType);
  const double stoichiometricY = HeightOf(stoichiometric, ReadingRange(display), plot);
  painter.setPen(QPen(QColor(120, 160, 120), 1, Qt::DashLine));
  painter.drawLine(QPointF(plot.left(), stoichiometricY), QPointF(plot.right(), stoichiometricY));
  if (volts) {
    const double lowVoltsY = HeightOf(LowVoltsLine, VoltsRange(), plot);
    painter.setPen(QPen(LowVoltsColor, 1, Qt::DashLine));
    painter.drawLine(QPointF(plot.left(), lowVoltsY), QPointF(plot.right(), lowVoltsY));
    painter.drawText(QRectF(plot.right() - 60, lowVoltsY - 16, 56, 14),
                     Qt::AlignRight | Qt::AlignBottom, QStringLiteral("12.0 V"));
  }
  painter.setPen(QPen(AxisColor, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(plot);
}

void DrawLegend(QPainter& painter, const QRectF& plot, const TChartScene& scene) {
  const QFontMetricsF metrics(painter.font());
  const double lineHeight = metrics.height() + 2;
  std::vector<std::pair<QColor, QString>> entries;
  bool statusColours = false;
  for (const TChartTrace& trace : scene.Traces) {
    QString text = trace.Name;
    if (trace.Log->SkippedRecords > 0) {
      text += QStringLiteral("  (%1 rows skipped)").arg(trace.Log->SkippedRecords);
    }
    entries.emplace_back(trace.Color, text);
    if (HasStatusColumn(*trace.Log)) statusColours = true;
  }
  if (scene.EngineMixture.Log != nullptr) {
    entries.emplace_back(scene.EngineMixture.Color, scene.EngineMixture.Name);
  }
  if (!scene.Traces.empty()) {
    entries.emplace_back(VoltsColor(scene.Traces.front().Color),
                         QStringLiteral("supply volts (right axis)"));
  }
  if (statusColours) {
    entries.emplace_back(StatusColor(TSampleStatus::Warmup, Qt::black), QStringLiteral("warm-up"));
    entries.emplace_back(StatusColor(TSampleStatus::Offline, Qt::black), QStringLiteral("offline"));
    entries.emplace_back(StatusColor(TSampleStatus::LowVolts, Qt::black),
                         QStringLiteral("low volts"));
  }
  if (entries.empty()) return;
  double width = 0;
  for (const auto& entry : entries)
    width = std::max(width, metrics.horizontalAdvance(entry.second));
  const QRectF box(plot.left() + 8, plot.top() + 8, width + 40,
                   lineHeight * static_cast<double>(entries.size()) + 8);
  painter.setPen(QPen(GridColor, 1));
  painter.setBrush(QColor(255, 255, 255, 225));
  painter.drawRect(box);
  painter.setBrush(Qt::NoBrush);
  double y = box.top() + 4 + lineHeight / 2;
  for (const auto& [color, text] : entries) {
    painter.setPen(QPen(color, 3));
    painter.drawLine(QPointF(box.left() + 6, y), QPointF(box.left() + 26, y));
    painter.setPen(AxisColor);
    painter.drawText(QRectF(box.left() + 32, y - lineHeight / 2, width + 8, lineHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
    y += lineHeight;
  }
}

}  // namespace

TValueRange ReadingRange(const TDisplay& display) {
  if (display.DisplayMode == sensor::dmLambda) return {LambdaLow, LambdaHigh};
  const double stoichiometric = StoichiometricAfr(display.FuelType);
  return {std::floor(LambdaLow * stoichiometric), std::ceil(LambdaHigh * stoichiometric)};
}

TValueRange VoltsRange() { return {8.0, 16.0}; }

QRectF PlotArea(const QRectF& bounds) {
  return bounds.adjusted(LeftMargin, TopMargin, -RightMargin, -BottomMargin);
}

TValueRange TimeExtent(const TChartScene& scene) {
  TValueRange extent{0, 0};
  bool any = false;
  for (const TChartTrace& trace : scene.Traces) {
    if (trace.Log == nullptr || trace.Log->Times.empty()) continue;
    const double first = trace.Log->Times.front() - trace.Shift;
    const double last = trace.Log->Times.back() - trace.Shift;
    extent.Low = any ? std::min(extent.Low, first) : first;
    extent.High = any ? std::max(extent.High, last) : last;
    any = true;
  }
  if (const TEngineMixtureTrace& engine = scene.EngineMixture;
      engine.Log != nullptr && !engine.Log->Times.empty()) {
    const double first = engine.Log->Times.front() + engine.Shift;
    const double last = engine.Log->Times.back() + engine.Shift;
    extent.Low = any ? std::min(extent.Low, first) : first;
    extent.High = any ? std::max(extent.High, last) : last;
    any = true;
  }
  for (const TValueRange& more : scene.MoreExtents) {
    extent.Low = any ? std::min(extent.Low, more.Low) : more.Low;
    extent.High = any ? std::max(extent.High, more.High) : more.High;
    any = true;
  }
  if (!any) return {0, 1};
  if (extent.High - extent.Low < 1) extent.High = extent.Low + 1;
  return extent;
}

TChartScene MakeScene(const std::vector<TNamedLog>& logs, const TDisplay& display, bool relative) {
  TChartScene scene;
  scene.Display = display;
  scene.RelativeTime = relative;
  std::size_t index = 0;
  for (const TNamedLog& log : logs) {
    TChartTrace trace;
    trace.Log = log.Log;
    trace.Name = log.Name;
    trace.Color = TraceColors[index++ % std::size(TraceColors)];
    if (relative && !log.Log->Times.empty()) trace.Shift = log.Log->Times.front();
    scene.Traces.push_back(trace);
  }
  const TValueRange extent = TimeExtent(scene);
  scene.From = extent.Low;
  scene.To = extent.High;
  return scene;
}

TEngineMixtureTrace MakeEngineMixtureTrace(const enginelog::TLog& log, std::size_t channel,
                                           double shift, const QString& file) {
  const enginelog::TChannel& named = log.Channels[channel];
  QString name = file + QStringLiteral(": ") + QString::fromStdString(named.Name);
  if (!named.Unit.empty()) name += QStringLiteral(" [%1]").arg(QString::fromStdString(named.Unit));
  return {&log, channel, shift, TraceColors[0], name};
}

QColor StatusColor(TSampleStatus status, const QColor& traceColor) {
  switch (status) {
    case TSampleStatus::Warmup:
      return QColor(230, 150, 0);
    case TSampleStatus::Offline:
      return QColor(160, 160, 160);
    case TSampleStatus::LowVolts:
      return LowVoltsColor;
    case TSampleStatus::None:
    case TSampleStatus::Live:
      break;
  }
  return traceColor;
}

void PaintChart(QPainter& painter, const QRectF& bounds, const TChartScene& scene, double cursorX) {
  painter.save();
  painter.fillRect(bounds, Background);
  const QRectF plot = PlotArea(bounds);
  if (plot.width() < 10 || plot.height() < 10 || !(scene.To > scene.From)) {
    painter.restore();
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
  // Only our logs carry the supply volts: without one the volts axis would measure nothing.
  const bool volts = !scene.Traces.empty();
  DrawValueGrid(painter, bounds, plot, scene.Display, volts);
  DrawTimeGrid(painter, bounds, plot, scene);
  DrawReferenceLines(painter, plot, scene.Display, volts);
  painter.save();
  painter.setClipRect(plot.adjusted(1, 1, -1, -1));
  for (const TChartTrace& trace : scene.Traces) {
    if (trace.Log != nullptr) DrawTrace(painter, plot, scene, trace);
  }
  if (scene.EngineMixture.Log != nullptr) DrawEngineMixture(painter, plot, scene);
  painter.restore();
  if (cursorX >= plot.left() && cursorX <= plot.right()) {
    painter.setPen(QPen(QColor(60, 60, 60), 1, Qt::DotLine));
    painter.drawLine(QPointF(cursorX, plot.top()), QPointF(cursorX, plot.bottom()));
  }
  DrawLegend(painter, plot, scene);
  painter.restore();
}

}  // namespace viewer
