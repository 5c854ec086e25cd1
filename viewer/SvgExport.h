// The chart as SVG, where this build has Qt's SVG module (the Windows build's Qt has none): one
// source file for each case, chosen by the build.
#pragma once

#include <QSize>
#include <QString>

#include "viewer/ChartPainter.h"

namespace viewer {

// Whether this build can write SVG at all.
bool SvgExportBuilt();

// Writes the chart of `scene` at `size` to `path` as SVG. False, with the reason (without the
// file's name) in `reason`, when the file cannot be written or the build has no SVG.
bool WriteChartSvg(const TChartScene& scene, const QString& path, QSize size, QString& reason);

}  // namespace viewer
