// The chart as SVG, where this build has Qt's SVG module (the Windows build's Qt has none): one
// source file for each case, chosen by the build.
#pragma once

#include <QPainter>
#include <QSize>
#include <QString>
#include <functional>

namespace viewer {

// Whether this build can write SVG at all.
bool SvgExportBuilt();

// Writes what `paint` draws on a canvas of `size` to `path` as SVG. False, with the reason (without
// the file's name) in `reason`, when the file cannot be written or the build has no SVG.
bool WriteChartSvg(const QString& path, QSize size, const std::function<void(QPainter&)>& paint,
                   QString& reason);

}  // namespace viewer
