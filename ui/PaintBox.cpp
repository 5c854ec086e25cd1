// The strip chart's drawing surface: the backing image, the canvas that draws into it, and the
// paint event that shows it.
#include "ui/PaintBox.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cstdlib>

namespace ui {

namespace {
// A dotted pen: three pixels on, three off, counted along the line from its start.
constexpr int DotOn = 3;
constexpr int DotPeriod = 6;
}  // namespace

QRect TChartCanvas::Line(int x1, int y1, int x2, int y2) {
  // Bresenham from the start point; the loop stops before the end point, which stays unset.
  const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
  const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
  int err = dx + dy;
  int x = x1, y = y1;
  const QRgb pen = PenColor.rgba();
  QRect touched;
  for (int step = 0; x != x2 || y != y2; ++step) {
    const bool on = PenStyle == TPenStyle::psSolid || step % DotPeriod < DotOn;
    if (on && x >= 0 && y >= 0 && x < Image.width() && y < Image.height()) {
      Image.setPixel(x, y, pen);
      touched |= QRect(x, y, 1, 1);
    }
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  return touched;
}

TPaintBox::TPaintBox(QWidget* parent, int width, int height)
    : QWidget(parent), FImage(width, height, QImage::Format_ARGB32_Premultiplied), FCanvas(FImage) {
  FImage.fill(Qt::transparent);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TPaintBox::ShowDrawn(const QRect& area) {
  if (area.isEmpty()) return;
  OwnDrawing |= area;
  update(area);
}

void TPaintBox::Repaint() {
  OwnDrawing = QRect();
  WipePending = true;
  // The parent repaints its background and the frame under the chart, then the chart itself,
  // before repaint() returns.
  if (parentWidget() != nullptr)
    parentWidget()->repaint(geometry());
  else
    repaint();
  // A window that is hidden or minimised paints nothing now; the chart is wiped all the same, so
  // that the handler has run by the time this returns, whatever the window's state.
  if (WipePending) WipeAndPaint();
}

void TPaintBox::WipeAndPaint() {
  WipePending = false;
  FImage.fill(Qt::transparent);
  if (OnPaint) OnPaint();
}

void TPaintBox::paintEvent(QPaintEvent* event) {
  // Our own segments come back as paints of the area we asked for; anything reaching beyond it
  // was started by the toolkit, and such a paint wipes the trace.
  const QRect asked = OwnDrawing;
  OwnDrawing = QRect();
  if (!asked.contains(event->rect())) WipeAndPaint();
  QPainter painter(this);
  painter.drawImage(event->rect(), FImage, event->rect());
}

}  // namespace ui

namespace ui {

void TPaintBox::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) setCursor(Qt::ForbiddenCursor);
}

void TPaintBox::mouseReleaseEvent(QMouseEvent*) { unsetCursor(); }

}  // namespace ui
