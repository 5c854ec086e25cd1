// Writing the chart to PNG or SVG.
#include "viewer/chart/Export.h"

#include <QFile>
#include <QPainter>

#include "viewer/chart/SvgExport.h"

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
    QString reason;
    const auto paint = [&](QPainter& painter) { Paint(painter, scene, size, panes); };
    if (!WriteChartSvg(path, size, paint, reason)) return fail(reason);
    return true;
  }
  const QImage image = RenderChart(scene, size, panes);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(file.errorString());
  if (!image.save(&file, "PNG")) return fail(QStringLiteral("could not write the PNG image"));
  return true;
}

}  // namespace viewer
