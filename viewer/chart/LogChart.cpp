// Zoom, pan and the cursor over the log chart.
#include "viewer/chart/LogChart.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "viewer/logs/MixtureValue.h"

namespace viewer {

namespace {

constexpr double MinimumSpan = 0.1;  // a single sample interval still shows as a line
constexpr double ZoomStep = 1.25;
constexpr double PanStep = 0.1;  // of the visible width, per arrow key

}  // namespace

TLogChart::TLogChart(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(320, 200);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TLogChart::SetScene(const TChartScene& scene, bool resetRange) {
  const double from = ChartScene.From;
  const double to = ChartScene.To;
  ChartScene = scene;
  if (resetRange) {
    ResetRange();
  } else {
    ChartScene.From = from;
    ChartScene.To = to;
    update();
  }
}

void TLogChart::SetRange(double from, double to) {
  if (to - from < MinimumSpan) {
    const double middle = (from + to) / 2;
    from = middle - MinimumSpan / 2;
    to = middle + MinimumSpan / 2;
  }
  // Asked now, while the scene's logs are those it was made of: a scene kept across a change of
  // the logs may point at logs read anew.
  const TValueRange extent = TimeExtent(ChartScene);
  ShowedAll = from <= extent.Low && to >= extent.High;
  ChartScene.From = from;
  ChartScene.To = to;
  update();
  emit RangeChanged(from, to);
}

void TLogChart::ResetRange() {
  const TValueRange extent = TimeExtent(ChartScene);
  SetRange(extent.Low, extent.High);
}

void TLogChart::ShowEnd() {
  const TValueRange extent = TimeExtent(ChartScene);
  const double span = ChartScene.To - ChartScene.From;
  // The whole was shown before the logs grew, or everything still fits: show it all as it grows
  // (the table counts what is shown). A view zoomed in keeps its span and slides to the end.
  if (ShowedAll || (extent.High <= ChartScene.To && extent.Low >= ChartScene.From)) {
    ResetRange();
    return;
  }
  SetRange(extent.High - span, extent.High);
}

double TLogChart::TimeAtX(double x) const {
  const QRectF plot = PlotArea(QRectF(rect()));
  return ChartScene.From + (x - plot.left()) / plot.width() * (ChartScene.To - ChartScene.From);
}

void TLogChart::ZoomAbout(double time, double factor) {
  const double from = time - (time - ChartScene.From) * factor;
  const double to = time + (ChartScene.To - time) * factor;
  SetRange(from, to);
}

void TLogChart::Pan(double fraction) {
  const double shift = (ChartScene.To - ChartScene.From) * fraction;
  SetRange(ChartScene.From + shift, ChartScene.To + shift);
}

QString TLogChart::ReadoutAt(double time) const {
  QStringList parts;
  for (const TChartTrace& trace : ChartScene.Traces) {
    const TLog& log = *trace.Log;
    if (log.Times.empty()) continue;
    std::size_t index = FirstAtOrAfter(log, time + trace.Shift);
    if (index == log.Rows()) --index;
    if (index > 0 && std::abs(log.Times[index - 1] - trace.Shift - time) <
                         std::abs(log.Times[index] - trace.Shift - time)) {
      --index;
    }
    const TSample sample = SampleAt(log, index);
    // Off the trace (before, after or in a gap) nothing is read out for this log.
    if (std::abs(sample.Time - trace.Shift - time) > GapThreshold(log)) continue;
    const bool lambda = ChartScene.Display.DisplayMode == sensor::dmLambda;
    QString text = trace.Name + ": ";
    text += QString::fromStdString(ClockText(sample.Time, 1));
    text += lambda ? QStringLiteral("  lambda ") : QStringLiteral("  AFR ");
    const double value = DisplayValue(sample, ChartScene.Display);
    text += QString::number(value, 'f', lambda ? 2 : 1);
    if (!IsPlausibleMixture(value, ChartScene.Display)) text += QStringLiteral(" (implausible)");
    if ((sample.Kind == TReadingKind::Lambda) != lambda) {
      // Shown converted: say what the row held.
      text += sample.Kind == TReadingKind::Lambda
                  ? QStringLiteral(" (logged as lambda %1)").arg(sample.Value, 0, 'f', 2)
                  : QStringLiteral(" (logged as AFR %1)").arg(sample.Value, 0, 'f', 1);
    }
    text += QStringLiteral("  %1 V").arg(sample.Volts, 0, 'f',
                                         sample.Status == TSampleStatus::None ? 1 : 2);
    if (sample.Stale) text += QStringLiteral("  repeated (controller silent)");
    static const char* const statusWords[] = {"", "live", "warm-up", "offline", "low volts"};
    if (sample.Status != TSampleStatus::None) {
      text += QStringLiteral("  ") + statusWords[static_cast<int>(sample.Status)];
    }
    parts << text;
  }
  if (const TEngineMixtureTrace& engine = ChartScene.EngineMixture; engine.Log != nullptr) {
    // The engine's record at or before the cursor, as the panes read theirs out.
    const std::vector<double>& times = engine.Log->Times;
    const double own = time - engine.Shift;
    if (!times.empty() && own >= times.front() && own <= times.back()) {
      const auto at = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), own) -
                                               times.begin() - 1);
      const enginelog::TChannel& channel = engine.Log->Channels[engine.Channel];
      const double value = channel.Values[at] * ChannelScale(channel, ChartScene.Display);
      const bool lambda = ChartScene.Display.DisplayMode == sensor::dmLambda;
      QString text = engine.Name + QStringLiteral(": ");
      if (std::isnan(value)) {
        text += QStringLiteral("no value");
      } else {
        text += (lambda ? QStringLiteral("lambda ") : QStringLiteral("AFR ")) +
                QString::number(value, 'f', lambda ? 2 : 1);
        if (!IsPlausibleMixture(value, ChartScene.Display))
          text += QStringLiteral(" (implausible)");
      }
      parts << text;
    }
  }
  return parts.join(QStringLiteral("    "));
}

void TLogChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintChart(painter, QRectF(rect()), ChartScene, CursorX);
}

void TLogChart::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  ZoomAbout(TimeAtX(event->position().x()), std::pow(ZoomStep, -notches));
  event->accept();
}

void TLogChart::mousePressEvent(QMouseEvent* event) {
  setFocus();
  const bool band = event->button() == Qt::RightButton ||
                    (event->button() == Qt::LeftButton && event->modifiers() & Qt::ShiftModifier);
  if (band) {
    BandStart = event->position().toPoint();
    if (Band == nullptr) Band = new QRubberBand(QRubberBand::Rectangle, this);
    Band->setGeometry(QRect(BandStart, QSize(1, height())));
    Band->show();
  } else if (event->button() == Qt::LeftButton) {
    Panning = true;
    PanStartX = event->position().x();
    PanStartFrom = ChartScene.From;
    setCursor(Qt::ClosedHandCursor);
  }
}

void TLogChart::mouseMoveEvent(QMouseEvent* event) {
  const double x = event->position().x();
  if (Band != nullptr && Band->isVisible()) {
    const QRectF plot = PlotArea(QRectF(rect()));
    Band->setGeometry(
        QRect(QPoint(BandStart.x(), int(plot.top())), QPoint(int(x), int(plot.bottom())))
            .normalized());
  } else if (Panning) {
    const QRectF plot = PlotArea(QRectF(rect()));
    const double span = ChartScene.To - ChartScene.From;
    const double from = PanStartFrom - (x - PanStartX) / plot.width() * span;
    SetRange(from, from + span);
  }
  CursorX = x;
  update();
  emit CursorMoved(x, TimeAtX(x));
  emit Readout(ReadoutAt(TimeAtX(x)));
}

void TLogChart::mouseReleaseEvent(QMouseEvent* event) {
  if (Band != nullptr && Band->isVisible()) {
    Band->hide();
    const double x = event->position().x();
    // A click without a drag is no zoom.
    if (std::abs(x - BandStart.x()) > 4) {
      SetRange(TimeAtX(std::min<double>(x, BandStart.x())),
               TimeAtX(std::max<double>(x, BandStart.x())));
    }
  }
  Panning = false;
  unsetCursor();
}

void TLogChart::leaveEvent(QEvent*) {
  CursorX = -1;
  update();
  emit CursorMoved(-1, 0);
  emit Readout(QString());
}

void TLogChart::keyPressEvent(QKeyEvent* event) {
  const double middle = (ChartScene.From + ChartScene.To) / 2;
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomAbout(middle, 1 / ZoomStep);
      break;
    case Qt::Key_Minus:
      ZoomAbout(middle, ZoomStep);
      break;
    case Qt::Key_Left:
      Pan(-PanStep);
      break;
    case Qt::Key_Right:
      Pan(PanStep);
      break;
    case Qt::Key_Home:
    case Qt::Key_0:
    case Qt::Key_Escape:
      ResetRange();
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

}  // namespace viewer
