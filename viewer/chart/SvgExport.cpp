// The chart as SVG through Qt's SVG generator.
#include "viewer/chart/SvgExport.h"

#include <QFile>
#include <QPainter>
#include <QSvgGenerator>

namespace viewer {

bool SvgExportBuilt() { return true; }

bool WriteChartSvg(const QString& path, QSize size, const std::function<void(QPainter&)>& paint,
                   QString& reason) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    reason = file.errorString();
    return false;
  }
  QSvgGenerator generator;
  generator.setOutputDevice(&file);
  generator.setSize(size);
  generator.setViewBox(QRect(QPoint(0, 0), size));
  generator.setTitle(QStringLiteral("kestview"));
  QPainter painter;
  if (!painter.begin(&generator)) {
    reason = QStringLiteral("could not draw the chart");
    return false;
  }
  paint(painter);
  painter.end();
  if (file.error() != QFileDevice::NoError) {
    reason = file.errorString();
    return false;
  }
  return true;
}

}  // namespace viewer
