// The log chart's drawing, shared by the window and the export.
#include "viewer/ChartPainter.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

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

// Collects a trace's samples into pixel columns and hands polylines to the painter.
class TColumnTrace {
 public:
  TColumnTrace(QPainter& painter, double width) : Painter(painter), PenWidth(width) {}

  // A sample at column `column`, y `y`, drawn in `color`.
  void Add(int column, double y, const QColor& color) {
    if (HaveColumn && color != Color) {
      // A new colour goes on from where the old one ended, so the trace has no hole.
      FlushColumn();
      const QPointF joint = Points.back();
      Draw();
      Points.append(joint);
      StartColumn(column, y);
      Color = color;
      return;
    }
    Color = color;
    if (!HaveColumn || column != Column) {
      FlushColumn();
      StartColumn(column, y);
      return;
    }
    Low = std::min(Low, y);
    High = std::max(High, y);
    Last = y;
  }
  // The trace breaks here: a gap.
  void Break() {
    FlushColumn();
    Draw();
  }

 private:
  void StartColumn(int column, double y) {
    Column = column;
    HaveColumn = true;
    First = Low = High = Last = y;
  }
  void FlushColumn() {
    if (!HaveColumn) return;
    const double x = Column + 0.5;
    Points.append(QPointF(x, First));
    if (Low != High) {
      // Low and high in the order that joins the column's first and last values shortest.
      if (First - Low < High - First) {
        Points.append(QPointF(x, Low));
        Points.append(QPointF(x, High));
      } else {
        Points.append(QPointF(x, High));
        Points.append(QPointF(x, Low));
      }
    }
    if (Last != Points.back().y()) Points.append(QPointF(x, Last));
    HaveColumn = false;
  }
  void Draw() {
    if (Points.size() == 1) {
      // A lone sample between gaps still shows.
      Points.append(Points.front() + QPointF(1, 0));
    }
    if (!Points.isEmpty()) {
      Painter.setPen(QPen(Color, PenWidth, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
      Painter.drawPolyline(Points);
    }
    Points.clear();
  }

  QPainter& Painter;
  double PenWidth;
  QPolygonF Points;
  QColor Color;
  bool HaveColumn = false;
  int Column = 0;
  double First = 0, Low = 0, High = 0, Last = 0;
};

// The volts of a trace: its hue, pale, so the readings stand out.
QColor VoltsColor(const QColor& traceColor) {
  return QColor::fromHsvF(traceColor.hsvHueF(), 0.25, 0.92);
}

std::uint32_t MarksOf(const TSample& sample) {
  return static_cast<std::uint32_t>(sample.Kind) | static_cast<std::uint32_t>(sample.Status) << 8 |
         static_cast<std::uint32_t>(sample.BreakBefore) << 16 |
         static_cast<std::uint32_t>(sample.Stale) << 24;
}

void DrawTrace(QPainter& painter, const QRectF& plot, const TChartScene& scene,
               const TChartTrace& trace) {
  const TLogData& log = *trace.Log;
  if (log.Samples.empty()) return;
  const double span = scene.To - scene.From;
  const double xScale = plot.width() / span;
  const TValueRange reading = ReadingRange(scene.Display);
  const TValueRange volts = VoltsRange();
  const double readingScale = plot.height() / (reading.High - reading.Low);
  const double voltsScale = plot.height() / (volts.High - volts.Low);
  // One sample either side of the view, so lines run to the edges.
  std::size_t begin = FirstAtOrAfter(log, scene.From + trace.Shift);
  if (begin > 0) --begin;
  std::size_t end = FirstAtOrAfter(log, scene.To + trace.Shift);
  end = std::min(end + 1, log.Samples.size());

  const QColor voltsColor = VoltsColor(trace.Color);
  TColumnTrace readingLine(painter, 0);
  TColumnTrace voltsLine(painter, 0);
  const double threshold = GapThreshold(log);
  const TSample* const samples = log.Samples.data();
  auto readingY = [&](const TSample& sample) {
    return plot.bottom() - (DisplayValue(sample, scene.Display) - reading.Low) * readingScale;
  };
  auto voltsY = [&](double value) { return plot.bottom() - (value - volts.Low) * voltsScale; };
  auto columnOf = [&](double time) {
    const double x = plot.left() + (time - trace.Shift - scene.From) * xScale;
    // Far outside the view only the edge columns matter; clamping keeps the int in range.
    return static_cast<int>(std::floor(std::clamp(x, plot.left() - 2, plot.right() + 2)));
  };
  // One sample at a time, for columns with a gap, a repeat, or a change of status or unit.
  auto addSample = [&](std::size_t i) {
    const TSample& sample = samples[i];
    if (i > begin && IsGapBefore(log, i)) {
      readingLine.Break();
      voltsLine.Break();
    }
    if (sample.Stale) return;
    const int column = columnOf(sample.Time);
    voltsLine.Add(column, voltsY(sample.Volts), voltsColor);
    readingLine.Add(column, readingY(sample), StatusColor(sample.Status, trace.Color));
  };

  // Column by column: the samples of a column are found by a binary search and, when nothing in
  // them breaks the trace, reduced in a tight loop to first, lowest, highest and last.
  std::size_t i = begin;
  while (i < end) {
    const int column = columnOf(samples[i].Time);
    const double columnEnd = scene.From + trace.Shift + (column + 1 - plot.left()) / xScale;
    std::size_t next = i + 1;
    if (column >= plot.left() && column < plot.right()) {
      next = static_cast<std::size_t>(
          std::lower_bound(samples + i + 1, samples + end, columnEnd,
                           [](const TSample& s, double t) { return s.Time < t; }) -
          samples);
    }
    const TSample& first = samples[i];
    bool regular = !first.Stale && !first.BreakBefore && !(i > begin && IsGapBefore(log, i));
    // Unit, status and the two flags in one comparison: a regular column has them all as its
    // first sample has them (no break, no repeat).
    const std::uint32_t marks = MarksOf(first);
    std::size_t low = i, high = i;
    float valueLow = first.Value, valueHigh = first.Value;
    float voltsLow = first.Volts, voltsHigh = first.Volts;
    double previousTime = first.Time;
    for (std::size_t k = i + 1; k < next && regular; ++k) {
      const TSample& sample = samples[k];
      if (MarksOf(sample) != marks || sample.Time - previousTime > threshold) {
        regular = false;
        break;
      }
      previousTime = sample.Time;
      if (sample.Value < valueLow) {
        valueLow = sample.Value;
        low = k;
      }
      if (sample.Value > valueHigh) {
        valueHigh = sample.Value;
        high = k;
      }
      voltsLow = std::min(voltsLow, sample.Volts);
      voltsHigh = std::max(voltsHigh, sample.Volts);
    }
    if (!regular) {
      for (std::size_t k = i; k < next; ++k) addSample(k);
      i = next;
      continue;
    }
    if (i > begin && samples[i - 1].Stale) {
      readingLine.Break();
      voltsLine.Break();
    }
    const QColor color = StatusColor(first.Status, trace.Color);
    const TSample& last = samples[next - 1];
    readingLine.Add(column, readingY(first), color);
    readingLine.Add(column, readingY(samples[low]), color);
    readingLine.Add(column, readingY(samples[high]), color);
    readingLine.Add(column, readingY(last), color);
    voltsLine.Add(column, voltsY(first.Volts), voltsColor);
    voltsLine.Add(column, voltsY(voltsLow), voltsColor);
    voltsLine.Add(column, voltsY(voltsHigh), voltsColor);
    voltsLine.Add(column, voltsY(last.Volts), voltsColor);
    i = next;
  }
  // Volts under the readings: the mixture is what the chart is for.
  voltsLine.Break();
  readingLine.Break();
}

void DrawGridAndAxes(QPainter& painter, const QRectF& bounds, const QRectF& plot,
                     const TChartScene& scene) {
  const QFontMetricsF metrics(painter.font());
  const TValueRange reading = ReadingRange(scene.Display);
  const TValueRange volts = VoltsRange();
  const double readingStep = NiceStep(reading.High - reading.Low, 8);
  const int readingDecimals = readingStep < 0.1 ? 2 : readingStep < 1 ? 1 : 0;
  auto readingY = [&](double v) {
    return plot.bottom() - (v - reading.Low) / (reading.High - reading.Low) * plot.height();
  };
  auto voltsY = [&](double v) {
    return plot.bottom() - (v - volts.Low) / (volts.High - volts.Low) * plot.height();
  };

  painter.setPen(QPen(GridColor, 1));
  for (double v = std::ceil(reading.Low / readingStep - 1e-9) * readingStep;
       v <= reading.High + 1e-9; v += readingStep) {
    const double y = readingY(v);
    painter.setPen(QPen(GridColor, 1));
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    painter.setPen(AxisColor);
    painter.drawText(QRectF(bounds.left(), y - 8, LeftMargin - 6, 16),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'f', readingDecimals));
  }
  for (double v = volts.Low; v <= volts.High + 1e-9; v += 2) {
    painter.setPen(AxisColor);
    painter.drawText(QRectF(plot.right() + 4, voltsY(v) - 8, RightMargin - 6, 16),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::number(v, 'f', 0) + " V");
  }

  // Time grid: a step that leaves room for every label.
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

  // Lambda 1 and the low-volts line, dashed, over the grid.
  const double stoichiometric = scene.Display.DisplayMode == sensor::dmLambda
                                    ? 1.0
                                    : StoichiometricAfr(scene.Display.FuelType);
  painter.setPen(QPen(QColor(120, 160, 120), 1, Qt::DashLine));
  painter.drawLine(QPointF(plot.left(), readingY(stoichiometric)),
                   QPointF(plot.right(), readingY(stoichiometric)));
  painter.setPen(QPen(LowVoltsColor, 1, Qt::DashLine));
  painter.drawLine(QPointF(plot.left(), voltsY(LowVoltsLine)),
                   QPointF(plot.right(), voltsY(LowVoltsLine)));
  painter.drawText(QRectF(plot.right() - 60, voltsY(LowVoltsLine) - 16, 56, 14),
                   Qt::AlignRight | Qt::AlignBottom, QStringLiteral("12.0 V"));
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
    if (trace.Log->SkippedRows > 0) {
      text += QStringLiteral("  (%1 rows skipped)").arg(trace.Log->SkippedRows);
    }
    entries.emplace_back(trace.Color, text);
    if (trace.Log->Kind == TLogKind::Extended) statusColours = true;
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
    if (trace.Log == nullptr || trace.Log->Samples.empty()) continue;
    const double first = trace.Log->Samples.front().Time - trace.Shift;
    const double last = trace.Log->Samples.back().Time - trace.Shift;
    extent.Low = any ? std::min(extent.Low, first) : first;
    extent.High = any ? std::max(extent.High, last) : last;
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
    if (relative && !log.Log->Samples.empty()) trace.Shift = log.Log->Samples.front().Time;
    scene.Traces.push_back(trace);
  }
  const TValueRange extent = TimeExtent(scene);
  scene.From = extent.Low;
  scene.To = extent.High;
  return scene;
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
  DrawGridAndAxes(painter, bounds, plot, scene);
  painter.save();
  painter.setClipRect(plot.adjusted(1, 1, -1, -1));
  for (const TChartTrace& trace : scene.Traces) {
    if (trace.Log != nullptr) DrawTrace(painter, plot, scene, trace);
  }
  painter.restore();
  if (cursorX >= plot.left() && cursorX <= plot.right()) {
    painter.setPen(QPen(QColor(60, 60, 60), 1, Qt::DotLine));
    painter.drawLine(QPointF(cursorX, plot.top()), QPointF(cursorX, plot.bottom()));
  }
  DrawLegend(painter, plot, scene);
  painter.restore();
}

}  // namespace viewer
