// The MSL text log we write for the engine tuning suites' viewers: quoted header lines (program
// and version, capture date), a row of names, a row of units, then one tab-separated row per
// sample with a decimal point and the time in seconds from the first row. Pure code. The engine
// software reads the format with log/TextLogReader.h; our own viewer reads our files back as
// mixture logs with the grammar at the end of this file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/RowFormat.h"
#include "log/RowGrammar.h"

namespace csvlog {

// Which columns a log has: the classic log's reading and volts, or the extended log's also
// lambda, the temperature code and the status.
enum class TMslColumns : std::uint8_t { Classic, Extended };

// The numeric status code the Status column holds: live 0, warmup 1, offline 2, lowvolts 3.
int MslStatusCode(TRowStatus status);
// The status a code names; false for any other number.
bool MslStatusOf(double code, TRowStatus& status);

// The wall-clock time of the first row, as the capture date line gives it.
struct TMslCaptureDate {
  int Year = 0;  // 0: the date is unknown, the line has the time of day only
  int Month = 0;
  int Day = 0;
  std::int64_t DayMs = 0;            // the local time of day
  std::optional<int> OffsetSeconds;  // east of UTC, where known
};

// One row's values. Reading is in the unit `kind` of the header; Lambda, Temp and Status are
// written for extended logs only.
struct TMslValues {
  double Reading = 0;
  double Volts = 0;
  double Lambda = 0;
  int Temp = 0;
  TRowStatus Status = TRowStatus::Offline;
};

// The values of a sample as the monitor reads it: the reading in its display mode and fuel, the
// petrol lambda, the volts, the raw temperature code and the status.
TMslValues MslValuesOf(const TSample& sample);

// The lines before the first row: the program line (`program`, such as "kestlog 1.2.0"), the
// capture date, the names and the units. The reading column is named AFR or Lambda after
// `kind`; an extended log whose reading is lambda already has its Lambda column, so it is not
// written twice (a name must say which column it is).
std::vector<std::string> MslHeaderLines(const std::string& program, const TMslCaptureDate& date,
                                        TMslColumns columns, TReadingKind kind);

// The row for `seconds` after the first row into `row` (replacing what it held, reusing its
// memory: once the buffer has grown a row allocates nothing). Time with three decimals, an AFR
// reading with two, lambda with three, volts with two, temperature and status as whole numbers.
// Returns `row`.
const std::string& MslRow(std::string& row, double seconds, const TMslValues& values,
                          TMslColumns columns, TReadingKind kind);

// Reading our MSL back. Our file is told from any other MSL log by its header: the program line
// of one of our programs, our capture date line, then names and units exactly as we write them.

// True when `line` is the quoted program line of kestlog, kestview or kestlsugraph (the version
// after a space, or none).
bool IsOurMslProgramLine(std::string_view line);
// The capture date line as MslHeaderLines writes it; false for any other line.
bool ReadMslCaptureDate(std::string_view line, TMslCaptureDate& date);

// The columns and the reading's unit of a log, as its names line tells them.
struct TMslLayout {
  TMslColumns Columns = TMslColumns::Classic;
  TReadingKind Kind = TReadingKind::Afr;
};
// The layout whose names line `line` is; false for any other line.
bool ReadMslNames(std::string_view line, TMslLayout& layout);
// True when `line` is the units line of `layout`.
bool IsMslUnits(std::string_view line, const TMslLayout& layout);

// One row of `layout`: the seconds from the first row and the values (a classic row leaves
// Lambda, Temp and Status as they are; a lambda reading is also the row's Lambda). False when
// `line` is no such row.
bool ReadMslRow(std::string_view line, const TMslLayout& layout, double& seconds,
                TMslValues& values);

// True when `head`, the start of a file, is our MSL log as far as it goes: its first line is our
// program line and each further complete line (up to the units) is the one we write next. Blank
// lines and a byte order mark are passed over. `wholeFile`: the last line is complete even
// without its line end.
bool IsOurMslHead(std::string_view head, bool wholeFile);

}  // namespace csvlog
