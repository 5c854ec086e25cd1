// What kestlog writes: the rows of both formats, the status line and the closing summary. Pure
// functions of what they are given, so the texts can be checked without a line or a clock.
#pragma once

#include <QDateTime>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/MonitorEngine.h"
#include "sensor/Reading.h"
#include "sensor/SensorFrame.h"

namespace headless {

enum class TRowFormat {
  Classic,   // the window's data log, byte for byte
  Extended,  // a row on every tick, with a machine-readable time and a status column
};

// How far a row can be trusted, in the order the monitor decides it.
enum class TRowStatus {
  Live,      // a fresh reading from a warm sensor with a healthy supply
  Warmup,    // the controller answers, but the sensor is still heating
  Offline,   // nothing trustworthy arrives: silent controller, no frame yet, or no port
  LowVolts,  // live, but the supply is low (the low-volts lamp is lit)
};

// "live", "warmup", "offline", "lowvolts".
const char* StatusWord(TRowStatus status);

// The states the status is decided from, as the window's lamps and read-out show them.
struct TLampState {
  bool PortOpen = false;
  bool Online = false;      // data arrived within the last five watchdog ticks
  bool WarmingUp = false;   // the current frame is a warm-up frame
  bool Live = false;        // the window's reading-is-live flag (its read-out enabled)
  bool LowVolts = false;    // the low-volts lamp
  bool WarmupLamp = false;  // the warm-up lamp (out while offline, whatever the frame said)
};
TRowStatus RowStatusOf(const TLampState& lamps);

// One sample as a row records it.
struct TSample {
  sensor::SensorFrame Frame;
  double SupplyVolts = 0;
  int DisplayMode = sensor::dmAirFuelRatio;
  int FuelType = sensor::ftPetrol;
  TRowStatus Status = TRowStatus::Offline;
};

// The lines a log of `format` starts with; `dateText` is the date in the user's short format
// (used by the classic header only).
std::vector<std::string> HeaderLines(TRowFormat format, const std::string& dateText);
inline constexpr const char* ExtendedHeader = "time,reading,afr,lambda,volts,temp,status";

// The window's row: time of day in the user's long time format, the reading text and the volts,
// in the user's decimal separator.
std::string ClassicRow(const std::string& timeText, const TSample& sample,
                       const std::string& decimalSeparator);
// time,reading,afr,lambda,volts,temp,status such as
// 2024-05-01T14:03:27.123+02:00,14.7,14.7,1.000,12.55,20,live. Always with a decimal point
// whatever the locale, so that the commas stay the only separators. reading is the window's
// reading text; afr the petrol air-fuel ratio and lambda, both clamped as the reading is; volts
// with two decimals and temp the raw temperature code.
std::string ExtendedRow(const std::string& isoTime, const TSample& sample);

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

// What a run did, for the summary at exit.
// What the line did, as the engine counts it, and the rows kestlog wrote.
struct TMonitorStats : monitor::TLineStats {
  std::uint64_t Rows = 0;  // rows written (header lines not counted)
};
// Several lines, each ending in a newline; `outputName` is the file, or "standard output".
std::string SummaryText(const TMonitorStats& stats, const std::string& outputName, double seconds);

}  // namespace headless
