// What kestlog shows besides its rows: the status line and the closing summary. Pure functions of
// what they are given, so the texts can be checked without a line or a clock. The rows themselves
// are log/'s (log/RowWriter.h), their status the engine's (monitor/RowStatus.h).
#pragma once

#include <QDateTime>
#include <cstdint>
#include <string>

#include "log/RowFormat.h"
#include "monitor/MonitorEngine.h"
#include "monitor/RowStatus.h"
#include "sensor/Reading.h"

namespace headless {

// The lamps and the status they give a row, as the engine decides them for its rows.
using monitor::LampsOf;
using monitor::RowStatusOf;
using monitor::TLampState;

// `when` as ISO 8601 local time with milliseconds and its offset from UTC:
// 2024-05-01T14:03:27.123+02:00 (+00:00 for UTC).
std::string IsoTimestamp(const QDateTime& when);

// What the status line shows.
struct TStatusView {
  TLampState Lamps;
  bool PortLost = false;    // the device went away and is being waited for
  std::string ReadoutText;  // as the window's read-out: the reading, or "00.0" while warming
  std::string VoltsText;    // as the window's voltage box: "12.5 V", or "n/a" while warming
  int DisplayMode = sensor::dmAirFuelRatio;
  double FramesPerSecond = 0;
  std::uint64_t ChecksumFailures = 0;
  std::uint64_t Timeouts = 0;
};
// One line, no line end, short enough for an 80-column terminal in the usual cases, such as
// "AFR 14.7  12.5 V  online lowvolts  9.8 frames/s  0 bad checksums  0 time-outs".
std::string StatusLine(const TStatusView& view);

// What the line did, as the engine counts it, and the rows kestlog wrote.
struct TMonitorStats : monitor::TLineStats {
  std::uint64_t Rows = 0;  // rows written (header lines not counted)
};
// Several lines, each ending in a newline; `outputName` is the file, or "standard output".
std::string SummaryText(const TMonitorStats& stats, const std::string& outputName, double seconds);

}  // namespace headless
