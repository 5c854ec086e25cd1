// Writing the chart to PNG or SVG.
#include "viewer/Export.h"

#include <QFile>
#include <QPainter>

#include "viewer/SvgExport.h"

namespace viewer {

QImage RenderChart(const TChartScene& scene, QSize size) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  PaintChart(painter, QRectF(QPointF(0, 0), QSizeF(size)), scene);
  return image;
}

bool ExportChart(const TChartScene& scene, const QString& path, QSize size, QString* error) {
  auto fail = [&](const QString& reason) {
    if (error != nullptr) *error = path + QStringLiteral(": ") + reason;
    return false;
  };
  if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    QString reason;
    if (!WriteChartSvg(scene, path, size, reason)) return fail(reason);
    return true;
  }
  const QImage image = RenderChart(scene, size);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(file.errorString());
  if (!image.save(&file, "PNG")) return fail(QStringLiteral("could not write the PNG image"));
  return true;
}

}  // namespace viewer
