// The benchmark's look at the files its subjects wrote: the window's log read back row by row
// through the log's own grammar, and the lines a child program has written so far.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace bench {

struct TLogCheck {
  std::uint64_t Rows = 0;
  std::uint64_t BadRows = 0;
  bool HeaderOk = false;
  std::string FirstBadRow;
};

// Reads a classic log back: its two header lines, then rows as the benchmark's fixed locale gives
// them (24-hour time, an air-fuel ratio and the volts with a decimal point), every line ending in
// CR LF.
TLogCheck CheckLog(const QString& path);

// Lines in a text file so far (a row or answer per line); 0 when it cannot be read.
std::uint64_t LinesIn(const QString& path);

}  // namespace bench
