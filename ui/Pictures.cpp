// The logo and the lambda sign, drawn with QPainter so that no image files ship with the program.
#include "ui/Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVector>

namespace ui {

namespace {

// The lambda's two strokes, in a 23 x 30 box: the long stroke from the top left down to the
// bottom right, and the short leg from its middle down to the bottom left.
QPainterPath LambdaStrokes(qreal scale, QPointF origin) {
  QPainterPath path;
  auto at = [&](qreal x, qreal y) { return origin + QPointF(x * scale, y * scale); };
  path.moveTo(at(4.0, 3.5));
  path.cubicTo(at(8.5, 2.0), at(10.0, 6.0), at(12.0, 12.0));
  path.lineTo(at(17.0, 24.5));
  path.cubicTo(at(17.8, 26.5), at(19.0, 27.0), at(21.0, 26.0));
  path.moveTo(at(11.3, 11.0));
  path.lineTo(at(3.5, 26.5));
  return path;
}

}  // namespace

QImage LambdaBitmap() {
  QImage picture(23, 30, QImage::Format_RGB32);
  picture.fill(QColor(187, 187, 187));
  {
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::black, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(LambdaStrokes(1.0, QPointF(0, 0)));
  }
  // Sixteen colours: the background, black and fourteen greys between them for the edges.
  QVector<QRgb> table;
  for (int i = 0; i < 16; ++i) {
    const int level = 187 * i / 15;
    table.push_back(qRgb(level, level, level));
  }
  return picture.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
}

QImage LogoPicture(int width, int height) {
  QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const QRectF box(0.5, 0.5, width - 1.0, height - 1.0);
  QLinearGradient sky(box.topLeft(), box.bottomLeft());
  sky.setColorAt(0.0, QColor(20, 40, 110));
  sky.setColorAt(1.0, QColor(0, 0, 60));
  painter.setPen(QPen(QColor(0, 0, 40), 1));
  painter.setBrush(sky);
  painter.drawRoundedRect(box, 6, 6);

  // A trace sweeping across the lower half: the program's own chart in miniature.
  QPainterPath trace;
  const qreal base = height * 0.78;
  trace.moveTo(6, base);
  for (int x = 6; x <= width - 6; x += 3) {
    const qreal t = (x - 6.0) / (width - 12.0);
    const qreal y = base -
                    height * 0.16 *
                        (t < 0.3   ? t / 0.3
                         : t < 0.6 ? 1.0
                                   : (1.0 - t) / 0.4) -
                    ((x / 3) % 2) * 1.2;
    trace.lineTo(x, y);
  }
  painter.setPen(QPen(QColor(80, 200, 255), 1.6));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(trace);

  QFont font(QStringLiteral("Arial"));
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  font.setPixelSize(height * 2 / 5);
  font.setBold(true);
  font.setItalic(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRectF(0, 2, width, height * 0.55), Qt::AlignCenter, QStringLiteral("KEST"));
  return picture;
}

QImage ProgramIcon(int size) {
  QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  QPainter painter(&icon);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const qreal s = size / 64.0;
  painter.setPen(QPen(QColor(0, 0, 40), 2 * s));
  painter.setBrush(QColor(20, 40, 110));
  painter.drawRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 10 * s, 10 * s);
  QPainterPath trace;
  trace.moveTo(8 * s, 48 * s);
  trace.cubicTo(20 * s, 30 * s, 28 * s, 56 * s, 40 * s, 40 * s);
  trace.cubicTo(46 * s, 32 * s, 50 * s, 44 * s, 56 * s, 38 * s);
  painter.setPen(QPen(QColor(80, 200, 255), 3 * s, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(trace);
  painter.setPen(QPen(Qt::white, 5 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPath(LambdaStrokes(1.6 * s, QPointF(13 * s, 4 * s)));
  return icon;
}

}  // namespace ui
