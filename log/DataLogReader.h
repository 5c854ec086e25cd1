// The "%DataLog%" CSV export of an engine software: a header of `Key : value` lines (the export's
// version, the software, when the log was downloaded), one block of lines per channel (its name,
// ID, Type and display range), a `Log :` line with the date and time the log began, then one row
// per record: the time of day with milliseconds and a raw whole number per channel, scaled by the
// channel's Type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/Log.h"

namespace enginelog {

// The first line of every such export.
inline constexpr std::string_view DataLogMark = "%DataLog%";

// Whether `head`, a file's first bytes, begins with the export's first line (after a UTF-8 BOM,
// with blanks after it).
bool IsDataLogHead(std::string_view head);

// How a channel's raw values become its values: raw / Divisor + Offset, in Unit. A Type the
// documentation does not scale keeps the raw value, in the unit "raw".
struct TDataLogScale {
  double Divisor = 1;
  double Offset = 0;
  std::string_view Unit = "raw";
};

// The scale of the channel Type `type` (letter case ignored).
TDataLogScale DataLogScaleOf(std::string_view type);

class TDataLogReader : public TLogReader {
 public:
  // `name` for the messages; `sizeHint` as for TLogReader.
  TDataLogReader(std::string name, std::uint64_t sizeHint);

  // A date (days since 1970-01-01) and a time of day (seconds) as a header line gives them.
  struct TDateClock {
    std::int64_t Day = 0;
    std::optional<double> Clock;
    bool Meridiem = false;  // the time carried AM or PM, so it is the time on a 24-hour clock
  };

 private:
  // Rows, values or lines left out for one reason: how many, and the first one's line and why.
  struct TCount {
    std::uint64_t Count = 0;
    std::uint64_t FirstLine = 0;
    std::string FirstReason;
    // Counts one at `line`; true for the first, whose reason the caller then gives (the others'
    // are never made).
    bool Add(std::uint64_t line);
  };

  std::size_t Consume(std::string_view data, std::uint64_t offset, bool atEnd) override;
  void Complete() override;
  // Whether the rows carry a value before the channels', decided from the first rows once they
  // are all here (`data` from `pos` on); false while more bytes are needed.
  bool DecideLeadingValue(std::string_view data, std::size_t pos, bool atEnd);
  void ReadLine(std::string_view line, bool cutShort);
  void ReadHeaderLine(std::string_view key, std::string_view value);
  void ReadRow(std::string_view line, bool cutShort);

  std::uint64_t LineNumber = 0;  // of the line being read, 1-based
  bool MarkSeen = false;
  std::vector<TDataLogScale> Scales;  // one per channel
  std::optional<TDateClock> LogHeader;
  std::optional<TDateClock> Download;
  std::uint64_t LogLine = 0;  // the line of the first `Log :` line; 0 without one
  bool RowsBegan = false;     // a row has been seen: header lines from here on are out of place
  std::optional<bool> LeadingValue;
  // A `Log :` line after rows (and the date it gives), for the next row: another log follows.
  bool LaterLogSeen = false;
  std::optional<TDateClock> LaterLog;
  std::string LaterLogText;

  bool HaveRow = false;
  std::optional<std::int64_t> FirstDay;  // the first row's day, where the header dates it
  double DayOffset = 0;                  // seconds added to each row's time of day
  double LastTime = 0;
  std::vector<std::string_view> Cells;  // reused for each row

  TCount WrongCounts;
  TCount NoTimes;
  TCount BadCells;
  TCount StrayLines;
  std::uint64_t CutShortLine = 0;
};

// A whole export in one piece of memory.
TLog ReadDataLog(std::string_view bytes, const std::string& name);

}  // namespace enginelog
