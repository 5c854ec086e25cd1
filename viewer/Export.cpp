// Writing the chart to PNG or SVG.
#include "viewer/Export.h"

#include <QFile>
#include <QPainter>
#include <QSvgGenerator>

namespace viewer {

namespace {

void Paint(QPainter& painter, const TChartScene& scene, QSize size, const TPaneScene* panes) {
  const QRectF bounds(QPointF(0, 0), QSizeF(size));
  if (panes != nullptr && panes->Log != nullptr) {
    PaintChartAndPanes(painter, bounds, scene, *panes);
  } else {
    PaintChart(painter, bounds, scene);
  }
}

}  // namespace

QImage RenderChart(const TChartScene& scene, QSize size, const TPaneScene* panes) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  Paint(painter, scene, size, panes);
  return image;
}

bool ExportChart(const TChartScene& scene, const QString& path, QSize size, QString* error,
                 const TPaneScene* panes) {
  auto fail = [&](const QString& reason) {
    if (error != nullptr) *error = path + QStringLiteral(": ") + reason;
    return false;
  };
  if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(file.errorString());
    QSvgGenerator generator;
    generator.setOutputDevice(&file);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(QStringLiteral("kestview"));
    QPainter painter;
    if (!painter.begin(&generator)) return fail(QStringLiteral("could not draw the chart"));
    Paint(painter, scene, size, panes);
    painter.end();
    if (file.error() != QFileDevice::NoError) return fail(file.errorString());
    return true;
  }
  const QImage image = RenderChart(scene, size, panes);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(file.errorString());
  if (!image.save(&file, "PNG")) return fail(QStringLiteral("could not write the PNG image"));
  return true;
}

}  // namespace viewer
