// A log of ours written as an MSL log, for the engine tuning suites' viewers: kestview --export
// OUT.msl.
#pragma once

#include <QString>
#include <string>

#include "viewer/logs/OurLog.h"
#include "viewer/logs/Summary.h"

namespace viewer {

// True when `path` asks for an MSL log (its name ends in .msl, in any letter case).
bool IsMslPath(const QString& path);

// Writes `log` to `path` as an MSL log (log/MslLog.h): `program` names the writer in the first
// line, the capture date is the first row's time, the reading is in the unit and fuel of
// `display` (rows logged in the other unit converted), and an extended log keeps its lambda,
// temperature code and status. Every row is written, a silent controller's repeats included. The
// file is replaced only once it is whole. False, with the reason naming the file in `error`, when
// the log has no rows or the file cannot be written.
bool ExportMsl(const TLog& log, const TDisplay& display, const QString& path,
               const std::string& program, QString* error);

}  // namespace viewer
