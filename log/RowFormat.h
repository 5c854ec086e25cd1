// The rows our programs log, as text: the classic row (the window's data log, which kestlog's
// classic format repeats byte for byte), the extended row with its status words, and the header
// lines each format starts with. Pure functions of what they are given; the readers of these rows
// are in log/RowGrammar.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sensor/Reading.h"
#include "sensor/SensorFrame.h"

namespace csvlog {

enum class TRowFormat {
  Classic,   // the window's data log, byte for byte
  Extended,  // a row on every tick, with a machine-readable time and a status column
  Msl,       // the extended columns on every tick as an MSL log (log/MslLog.h)
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
// The status a word names; false for any other text.
bool ParseStatusWord(std::string_view word, TRowStatus& status);

// One sample as a row records it.
struct TSample {
  sensor::SensorFrame Frame;
  double SupplyVolts = 0;
  int DisplayMode = sensor::dmAirFuelRatio;
  int FuelType = sensor::ftPetrol;
  TRowStatus Status = TRowStatus::Offline;
};

// The lines a log of `format` starts with; `dateText` is the date in the user's short format
// (used by the classic header only). None for MSL, whose header carries the first row's time and
// so comes with that row (log/MslLog.h).
std::vector<std::string> HeaderLines(TRowFormat format, const std::string& dateText);
inline constexpr const char* ExtendedHeader = "time,reading,afr,lambda,volts,temp,status";

// The window's row into `row` (replacing what it held, reusing its memory, so that a row built on
// every sample tick allocates nothing once the buffer has grown): time of day in the user's long
// time format, the reading text and the volts, in the user's decimal separator. Returns `row`.
const std::string& ClassicRow(std::string& row, std::string_view timeText, const TSample& sample,
                              const std::string& decimalSeparator);
// time,reading,afr,lambda,volts,temp,status such as
// 2024-05-01T14:03:27.123+02:00,14.7,14.7,1.000,12.55,20,live. Always with a decimal point
// whatever the locale, so that the commas stay the only separators. reading is the window's
// reading text; afr the petrol air-fuel ratio and lambda, both clamped as the reading is; volts
// with two decimals and temp the raw temperature code.
std::string ExtendedRow(const std::string& isoTime, const TSample& sample);
// The same row into `row` (replacing what it held, reusing its memory: once the buffer has grown a
// row allocates nothing), stamped with the instant `utcMs` (milliseconds since 1970-01-01 UTC)
// seen `offsetSeconds` east of UTC. Returns `row`.
const std::string& ExtendedRow(std::string& row, std::int64_t utcMs, int offsetSeconds,
                               const TSample& sample);

// `value` in fixed notation with `decimals` decimals and a point, whatever the locale: the numbers
// of the extended row, and of texts meant for programs.
std::string PointDecimal(double value, int decimals);

// ISO 8601 local time with milliseconds and its offset from UTC, such as
// 2024-05-01T14:03:27.123+02:00 (+00:00 for UTC), for the instant `utcMs` (milliseconds since
// 1970-01-01 UTC) seen `offsetSeconds` east of UTC.
std::string IsoTimestamp(std::int64_t utcMs, int offsetSeconds);
// The same text appended to `text`.
void AppendIsoTimestamp(std::string& text, std::int64_t utcMs, int offsetSeconds);

}  // namespace csvlog
