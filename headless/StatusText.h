// What kestlog shows besides its rows: the status a row is given from the lamps, the status line
// and the closing summary. Pure functions of what they are given, so the texts can be checked
// without a line or a clock. The rows themselves are log/'s (log/RowFormat.h).
#pragma once

#include <QDateTime>
#include <cstdint>
#include <string>

#include "log/RowFormat.h"
#include "monitor/MonitorEngine.h"
#include "sensor/Reading.h"

namespace headless {

// The states the status is decided from, as the window's lamps and read-out show them.
struct TLampState {
  bool PortOpen = false;
  bool Online = false;      // data arrived within the last five watchdog ticks
  bool WarmingUp = false;   // the current frame is a warm-up frame
  bool Live = false;        // the window's reading-is-live flag (its read-out enabled)
  bool LowVolts = false;    // the low-volts lamp
  bool WarmupLamp = false;  // the warm-up lamp (out while offline, whatever the frame said)
};
// The lamps the engine's state lights.
TLampState LampsOf(const monitor::TMonitorState& state);
csvlog::TRowStatus RowStatusOf(const TLampState& lamps);

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
