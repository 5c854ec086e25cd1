// The engine log's panes: one channel each on the chart's time axis, markers across them all.
#include "viewer/chart/EnginePanes.h"

#include <QFontMetricsF>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "viewer/chart/TraceColumns.h"
#include "viewer/logs/EngineLogs.h"

namespace viewer {

namespace {

const QColor PaneBackground(255, 255, 255);
const QColor PaneGrid(232, 232, 232);
const QColor PaneAxis(90, 90, 90);
const QColor MarkerColor(200, 110, 0);
const QColor ChannelColors[] = {QColor(200, 60, 40), QColor(40, 120, 60), QColor(110, 70, 170),
                                QColor(30, 110, 170), QColor(150, 110, 20)};

TValueRange ValueRangeOf(const enginelog::TChannel& channel) {
  float low = 0, high = 0;
  bool any = false;
  for (const float v : channel.Values) {
    if (std::isnan(v)) continue;
    low = any ? std::min(low, v) : v;
    high = any ? std::max(high, v) : v;
    any = true;
  }
  if (!any) return {0, 1};
  const double margin = high > low ? (high - low) * 0.08 : std::max(1.0, std::abs(high) * 0.1);
  return {low - margin, high + margin};
}

QString ValueText(double value) {
  const double magnitude = std::abs(value);
  const int decimals = magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : 2;
  return QString::number(value, 'f', decimals);
}

void DrawChannel(QPainter& painter, const QRectF& pane, const TPaneScene& panes, std::size_t index,
                 const QColor& color) {
  const enginelog::TChannel& channel = panes.Log->Channels[index];
  const QRectF edges = PlotArea(pane);  // the chart's left and right edges
  const QRectF plot(edges.left(), pane.top() + 4, edges.width(), pane.height() - 8);
  painter.fillRect(pane, PaneBackground);
  const TValueRange range = ValueRangeOf(channel);
  const auto yOf = [&](double v) {
    return plot.bottom() - (v - range.Low) / (range.High - range.Low) * plot.height();
  };
  painter.setPen(QPen(PaneGrid, 1));
  painter.drawLine(QPointF(plot.left(), yOf((range.Low + range.High) / 2)),
                   QPointF(plot.right(), yOf((range.Low + range.High) / 2)));
  painter.setPen(PaneAxis);
  // The extremes' labels inside the pane, so that neighbours' labels never meet.
  for (const double v : {range.Low, range.High}) {
    const double y = std::clamp(yOf(v) - 8, pane.top() + 1, pane.bottom() - 17);
    painter.drawText(QRectF(pane.left(), y, plot.left() - pane.left() - 6, 16),
                     Qt::AlignRight | Qt::AlignVCenter, ValueText(v));
  }
  painter.drawRect(plot);
  const TColumnScale scale{panes.From, panes.To, plot.width()};
  const std::vector<TTraceRun> runs = ReduceSeriesToColumns(
      panes.Log->Times, channel.Values, panes.Shift, scale, RecordGapSeconds(*panes.Log));
  painter.save();
  painter.setClipRect(plot.adjusted(1, 1, -1, -1));
  painter.setPen(QPen(color, 0));
  QPolygonF points;
  for (const TTraceRun& run : runs) {
    points.clear();
    for (const TColumnValues& column : run.Columns) {
      const double x = plot.left() + column.Column + 0.5;
      points.append(QPointF(x, yOf(column.First)));
      if (column.Low != column.High) {
        points.append(QPointF(x, yOf(column.Low)));
        points.append(QPointF(x, yOf(column.High)));
      }
      points.append(QPointF(x, yOf(column.Last)));
    }
    if (points.size() == 1) points.append(points.front() + QPointF(1, 0));
    painter.drawPolyline(points);
  }
  painter.restore();
  const QString label =
      QString::fromStdString(channel.Name) +
      (channel.Unit.empty() ? QString() : " [" + QString::fromStdString(channel.Unit) + "]");
  const QFontMetricsF metrics(painter.font());
  const QRectF labelBox(plot.left() + 6, plot.top() + 3, metrics.horizontalAdvance(label) + 8,
                        metrics.height() + 2);
  painter.fillRect(labelBox, QColor(255, 255, 255, 220));
  painter.setPen(color);
  painter.drawText(labelBox, Qt::AlignCenter, label);
}

double XOf(const QRectF& plot, const TPaneScene& panes, double axisTime) {
  return plot.left() + (axisTime - panes.From) / (panes.To - panes.From) * plot.width();
}

}  // namespace

TPaneScene PlacePanes(const TChartScene& scene, const enginelog::TLog& log, double offset,
                      std::vector<std::size_t> shown) {
  TPaneScene panes;
  panes.Log = &log;
  panes.Shown = std::move(shown);
  panes.From = scene.From;
  panes.To = scene.To;
  const TChartTrace* mixture = scene.Traces.empty() ? nullptr : &scene.Traces.front();
  const bool beside = mixture != nullptr && mixture->Log != nullptr && !mixture->Log->Times.empty();
  // Without a mixture log the axis is the engine log's own, its first record at `offset`.
  panes.Shift = beside ? EngineShift(*mixture->Log, log, offset) - mixture->Shift
                       : offset - (log.Times.empty() ? 0 : log.Times.front());
  return panes;
}

double PanesHeight(const TPaneScene& panes) {
  if (panes.Log == nullptr) return 0;
  return MarkerStripHeight + PaneHeight * static_cast<double>(panes.Shown.size());
}

TValueRange PaneExtent(const TPaneScene& panes) {
  if (panes.Log == nullptr || panes.Log->Times.empty()) return {0, 1};
  return {panes.Log->Times.front() + panes.Shift, panes.Log->Times.back() + panes.Shift};
}

void PaintPanes(QPainter& painter, const QRectF& bounds, const TPaneScene& panes, double cursorX) {
  painter.save();
  painter.fillRect(bounds, PaneBackground);
  if (panes.Log == nullptr || !(panes.To > panes.From)) {
    painter.restore();
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QRectF strip(bounds.left(), bounds.top(), bounds.width(), MarkerStripHeight);
  const double paneHeight = panes.Shown.empty() ? 0
                                                : (bounds.height() - MarkerStripHeight) /
                                                      static_cast<double>(panes.Shown.size());
  double top = strip.bottom();
  for (std::size_t i = 0; i < panes.Shown.size() && panes.Shown[i] < panes.Log->Channels.size();
       ++i) {
    DrawChannel(painter, QRectF(bounds.left(), top, bounds.width(), paneHeight), panes,
                panes.Shown[i], ChannelColors[i % std::size(ChannelColors)]);
    top += paneHeight;
  }
  // The plot's left and right edges, as the chart has them.
  const QRectF plot = PlotArea(bounds);
  const QFontMetricsF metrics(painter.font());
  painter.save();
  painter.setClipRect(QRectF(plot.left(), bounds.top(), plot.width(), bounds.height()));
  for (const enginelog::TMarker& marker : panes.Log->Markers) {
    const double x = XOf(plot, panes, marker.Time + panes.Shift);
    if (x < plot.left() || x > plot.right()) continue;
    painter.setPen(QPen(MarkerColor, 1, Qt::DashLine));
    painter.drawLine(QPointF(x, strip.top() + 2), QPointF(x, top));
    painter.setPen(MarkerColor);
    painter.drawText(QRectF(x + 3, strip.top(),
                            metrics.horizontalAdvance(QString::fromStdString(marker.Text)) + 4,
                            MarkerStripHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(marker.Text));
  }
  painter.restore();
  if (cursorX >= plot.left() && cursorX <= plot.right()) {
    painter.setPen(QPen(QColor(60, 60, 60), 1, Qt::DotLine));
    painter.drawLine(QPointF(cursorX, strip.bottom()), QPointF(cursorX, top));
  }
  painter.restore();
}

QString PanesReadoutAt(const TPaneScene& panes, double time) {
  if (panes.Log == nullptr || panes.Log->Times.empty()) return {};
  const std::vector<double>& times = panes.Log->Times;
  const double own = time - panes.Shift;
  if (own < times.front() || own > times.back()) return {};
  const auto after = std::upper_bound(times.begin(), times.end(), own);
  const auto index = static_cast<std::size_t>(after - times.begin()) - 1;
  QStringList parts;
  for (const std::size_t c : panes.Shown) {
    if (c >= panes.Log->Channels.size()) continue;
    const enginelog::TChannel& channel = panes.Log->Channels[c];
    const float value = channel.Values[index];
    parts << QString::fromStdString(channel.Name) + " " +
                 (std::isnan(value) ? QStringLiteral("-") : ValueText(value)) +
                 (channel.Unit.empty() ? QString() : " " + QString::fromStdString(channel.Unit));
  }
  return parts.join(QStringLiteral("   "));
}

void PaintChartAndPanes(QPainter& painter, const QRectF& bounds, const TChartScene& scene,
                        const TPaneScene& panes) {
  const double panesHeight = std::min(PanesHeight(panes), bounds.height() * 0.6);
  const QRectF chart(bounds.left(), bounds.top(), bounds.width(), bounds.height() - panesHeight);
  PaintChart(painter, chart, scene);
  if (panesHeight > 0) {
    PaintPanes(painter, QRectF(bounds.left(), chart.bottom(), bounds.width(), panesHeight), panes);
  }
}

}  // namespace viewer
