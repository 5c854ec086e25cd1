// Reading our log rows back from text: the classic row in whatever locale it was written (time
// pattern, decimal separator), the extended row, both headers and the short date of the classic
// header. Pure functions of the text; no file, clock or locale of the reader is consulted. The
// writers of these rows are in log/CsvLog.h and log/RowFormat.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "log/RowFormat.h"

namespace csvlog {

// What a logged reading is: the two cannot be confused, a lambda text has two decimals and an
// air-fuel ratio text one.
enum class TReadingKind : std::uint8_t { Afr, Lambda };

// The date the classic header carries, as the reader understood it.
struct TLogDate {
  int Year = 0;  // 0: no date understood
  int Month = 0;
  int Day = 0;
  // Day and month could be either way round: the separator's custom decided (slash: month first).
  bool Ambiguous = false;
};

// The long time of a row as seconds since midnight from its text: hours, minutes and seconds in
// any separators, with an optional AM/PM mark before or after. -1 when it is not a time.
int ParseTimeOfDay(std::string_view text, bool* twelveHour = nullptr);
// A short date in the forms users' locales write: 12/08/26, 08.12.2026, 2026-12-08, 8-12-26.
// Day and month are told apart by a value over 12; otherwise a slash means month first and any
// other separator day first. Year 0 when no date was found.
TLogDate ParseShortDate(std::string_view text);

// A wall-clock time as the extended log's rows and the MSL capture date write it:
// "2024-05-01T14:03:27.123+02:00", the fraction and the offset optional, Z for UTC.
struct TIsoTime {
  int Year = 0, Month = 0, Day = 0;  // the local date
  std::int64_t DayMs = 0;            // the local time of day
  std::optional<int> OffsetSeconds;  // east of UTC, when the text gives it
};
// Reads such a time; false when `text` is none.
bool ReadIsoTime(std::string_view text, TIsoTime& time);
// A time of day alone, "14:03:27.123" (the fraction optional): milliseconds since midnight, or -1
// when `text` is none.
std::int64_t ReadClockTime(std::string_view text);

// True when `line` (trimmed) is the classic log's first header line; `dateText` is then the date
// text after it, trimmed. A header of a log appended to another is such a line too.
bool IsClassicHeader(std::string_view line, std::string* dateText = nullptr);
// True for the classic log's second header line, the column names.
bool IsClassicColumns(std::string_view line);
bool IsExtendedHeader(std::string_view line);

// A classic row: time,reading,volts.
struct TClassicFields {
  int DayTime = 0;          // seconds since midnight
  bool TwelveHour = false;  // the time carried an AM/PM mark
  TReadingKind Kind = TReadingKind::Afr;
  double Reading = 0;
  double Volts = 0;
};
// Reads a classic row. `separator` is the log's decimal separator as far as it is known: empty
// until a row shows it, then "." (or whatever else the writer's locale used) or ",". A row is
// read only in that separator; the first row that has one sets it. False when `line` is no row.
bool ReadClassicRow(std::string_view line, std::string& separator, TClassicFields& row);

// An extended row: time,reading,afr,lambda,volts,temp,status.
struct TExtendedFields {
  int Year = 0, Month = 0, Day = 0;  // the local date
  std::int64_t DayMs = 0;            // the local time of day
  int OffsetSeconds = 0;             // east of UTC
  TReadingKind Kind = TReadingKind::Afr;
  double Reading = 0;
  double Lambda = 0;
  double Volts = 0;
  int Temp = 0;  // the raw temperature code, 0 to 999
  TRowStatus Status = TRowStatus::Offline;
};
// Reads an extended row; false when `line` is no such row.
bool ReadExtendedRow(std::string_view line, TExtendedFields& row);

}  // namespace csvlog
