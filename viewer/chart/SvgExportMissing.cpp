// SVG in a build whose Qt has no SVG module: refused with a reason, before any file is made.
#include "viewer/chart/SvgExport.h"

namespace viewer {

bool SvgExportBuilt() { return false; }

bool WriteChartSvg(const QString&, QSize, const std::function<void(QPainter&)>&, QString& reason) {
  reason = QStringLiteral("this build of kestview cannot write SVG; export to .png instead");
  return false;
}

}  // namespace viewer
