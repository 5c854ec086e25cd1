// The chart as an image file, drawn exactly as the window draws it.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include "viewer/chart/ChartPainter.h"
#include "viewer/chart/EnginePanes.h"

namespace viewer {

// The chart of `scene` at `size`, on white; with an engine log's `panes` beneath when given.
QImage RenderChart(const TChartScene& scene, QSize size, const TPaneScene* panes = nullptr);

// Writes the chart to `path`: SVG when the name ends in .svg, otherwise a PNG. False (with the
// reason, naming the file, in `error`) when the file cannot be written, or for SVG in a build
// without it (see SvgExportBuilt). `panes`: as RenderChart.
bool ExportChart(const TChartScene& scene, const QString& path, QSize size, QString* error,
                 const TPaneScene* panes = nullptr);

}  // namespace viewer
