// Reading the "%DataLog%" CSV export line by line as the file arrives: the header's channel blocks
// give the channels and their scales, the `Log :` line the date, and every row a record.
#include "log/DataLogReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "log/CivilTime.h"
#include "log/TextLogReader.h"
#include "text/Number.h"
#include "text/Words.h"

namespace enginelog {

namespace {

using text::EqualsNoCase;
using text::Trim;

constexpr double SecondsPerDay = 86400;
constexpr double HalfDay = SecondsPerDay / 2;
// The rows the leading value is decided from: enough that one broken row cannot sway it.
constexpr std::size_t DecidingRows = 20;
// Reservations are only a guess from the file's size; a guess past this is not trusted.
constexpr std::uint64_t MaxReservedRows = std::uint64_t{1} << 26;
constexpr std::size_t QuotedChars = 32;  // of a cell quoted in a message

// How each channel Type scales its raw whole numbers, as a public description of this export
// documents them: engine speed as it is; absolute pressure, throttle and other percentages, angles
// and vehicle speed in tenths; gauge pressure in tenths of a kPa above 101.3 kPa; temperatures in
// tenths of a kelvin; battery voltage and the air-fuel ratio in thousandths; flow in hundredths;
// "Raw" unprocessed. The description names no unit for vehicle speed (the export's other units are
// metric, so km/h) or for flow (left without one). Any other Type keeps its raw value.
constexpr std::array<std::pair<std::string_view, TDataLogScale>, 11> TypeScales = {{
    {"EngineSpeed", {1, 0, "rpm"}},
    {"AbsPressure", {10, 0, "kPa"}},
    {"Pressure", {10, -101.3, "kPa"}},
    {"Percentage", {10, 0, "%"}},
    {"Angle", {10, 0, "deg"}},
    {"Temperature", {10, -273.15, "C"}},
    {"BatteryVoltage", {1000, 0, "V"}},
    {"Speed", {10, 0, "km/h"}},
    {"AFR", {1000, 0, "AFR"}},
    {"Flow", {100, 0, ""}},
    {"Raw", {1, 0, "raw"}},
}};

constexpr std::string_view Bom = "\xEF\xBB\xBF";

std::string_view WithoutBom(std::string_view text) {
  if (text.substr(0, Bom.size()) == Bom) text.remove_prefix(Bom.size());
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A row starts with its time of day; every header line starts with a word.
bool IsRowLine(std::string_view line) {
  line = Trim(line);
  return !line.empty() && IsDigit(line.front());
}

// `count` digits at `pos`, moving `pos` past them.
std::optional<int> Digits(std::string_view text, std::size_t& pos, std::size_t count) {
  if (pos + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!IsDigit(text[pos + i])) return std::nullopt;
    value = value * 10 + (text[pos + i] - '0');
  }
  pos += count;
  return value;
}

// H:MM:SS or HH:MM:SS with any number of decimals (.050) at `pos`, as seconds since midnight.
std::optional<double> ReadClock(std::string_view text, std::size_t& pos) {
  std::size_t p = pos;
  const bool twoDigitHour = p + 1 < text.size() && IsDigit(text[p + 1]);
  const auto hours = Digits(text, p, twoDigitHour ? 2 : 1);
  if (!hours || p >= text.size() || text[p++] != ':') return std::nullopt;
  const auto minutes = Digits(text, p, 2);
  if (!minutes || p >= text.size() || text[p++] != ':') return std::nullopt;
  const auto seconds = Digits(text, p, 2);
  if (!seconds || *hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
  double fraction = 0;
  if (p + 1 < text.size() && text[p] == '.' && IsDigit(text[p + 1])) {
    // Whole digits over a power of ten: 14:15:46.050 is 51346.05 as exactly as a double says it.
    double digits = 0;
    double scale = 1;
    for (++p; p < text.size() && IsDigit(text[p]) && scale < 1e15; ++p) {
      digits = digits * 10 + (text[p] - '0');
      scale *= 10;
    }
    fraction = digits / scale;
  }
  pos = p;
  return *hours * 3600.0 + *minutes * 60.0 + *seconds + fraction;
}

// A row's time of day: the whole cell, blanks aside.
std::optional<double> ReadTimeOfDay(std::string_view cell) {
  cell = Trim(cell);
  std::size_t pos = 0;
  const auto clock = ReadClock(cell, pos);
  if (!clock || pos != cell.size()) return std::nullopt;
  return clock;
}

// A header's date and time: 20250718 02:15:46 as the export writes it (AM or PM after the time
// counts), else any date form the text logs' headers have.
std::optional<TDataLogReader::TDateClock> ReadHeaderDate(std::string_view value) {
  value = Trim(value);
  std::size_t pos = 0;
  const auto year = Digits(value, pos, 4);
  const auto month = year ? Digits(value, pos, 2) : std::nullopt;
  const auto day = month ? Digits(value, pos, 2) : std::nullopt;
  if (day && (pos == value.size() || value[pos] == ' ' || value[pos] == '\t')) {
    if (*year < 1970 || *month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;
    TDataLogReader::TDateClock date;
    date.Day = csvlog::DaysFromCivil(*year, *month, *day);
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
    date.Clock = ReadClock(value, pos);
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
    const std::string_view mark = value.substr(pos);
    const bool am = EqualsNoCase(mark, "am");
    if (date.Clock && *date.Clock >= 3600 && *date.Clock < 13 * 3600 &&
        (am || EqualsNoCase(mark, "pm"))) {
      date.Clock = std::fmod(*date.Clock, HalfDay) + (am ? 0 : HalfDay);
      date.Meridiem = true;
    }
    return date;
  }
  bool hasTime = false;
  const std::optional<TStartTime> start = FindDateTime(value, hasTime);
  if (!start) return std::nullopt;
  TDataLogReader::TDateClock date;
  date.Day = start->Seconds >= 0 ? start->Seconds / 86400 : (start->Seconds - 86399) / 86400;
  if (hasTime) date.Clock = static_cast<double>(start->Seconds - date.Day * 86400);
  return date;
}

// How many days after the `Log :` line's date a log's first row at `clock` lies: -1, 0 or 1.
// The header's time is written on a 12-hour clock without AM or PM (a log begun at 14:15:46 says
// 02:15:46 there, while its rows say 14:15:46.000), so the row is compared with both readings of
// it; the row follows the header within moments, so the reading nearest the row, on the day before,
// the same day or the next, tells whether midnight lies between the two.
int DaysAfterLogLine(const TDataLogReader::TDateClock& header, double clock) {
  if (!header.Clock) return 0;
  const double base = header.Meridiem ? *header.Clock : std::fmod(*header.Clock, HalfDay);
  double nearest = std::numeric_limits<double>::infinity();
  int days = 0;
  for (const int shift : {0, 1, -1}) {
    for (const double reading : {base, base + HalfDay}) {
      if (header.Meridiem && reading != base) continue;
      const double apart = std::abs(clock + shift * SecondsPerDay - reading);
      if (apart < nearest) {
        nearest = apart;
        days = shift;
      }
    }
  }
  return days;
}

// How many days after the download's date a log's first row at `clock` lies: 0 or -1. A log was
// downloaded after it was written; a row later in the day than the latest reading of the download's
// 12-hour time was written the day before. An earlier day still cannot be told from the file.
int DaysAfterDownload(const TDataLogReader::TDateClock& download, double clock) {
  if (!download.Clock) return 0;
  const double latest =
      download.Meridiem ? *download.Clock : std::fmod(*download.Clock, HalfDay) + HalfDay;
  return clock > latest ? -1 : 0;
}

std::string Quoted(std::string_view text) {
  return "'" + std::string(Trim(text).substr(0, QuotedChars)) + "'";
}

}  // namespace

bool IsDataLogHead(std::string_view head) {
  head = WithoutBom(head);
  if (head.substr(0, DataLogMark.size()) != DataLogMark) return false;
  const std::string_view rest = head.substr(DataLogMark.size());
  return Trim(rest.substr(0, rest.find_first_of("\r\n"))).empty();
}

TDataLogScale DataLogScaleOf(std::string_view type) {
  type = Trim(type);
  for (const auto& [name, scale] : TypeScales) {
    if (EqualsNoCase(type, name)) return scale;
  }
  return {};
}

bool TDataLogReader::TCount::Add(std::uint64_t line) {
  if (Count++ > 0) return false;
  FirstLine = line;
  return true;
}

TDataLogReader::TDataLogReader(std::string name, std::uint64_t sizeHint)
    : TLogReader(std::move(name), TFileFormat::DataLog, sizeHint) {}

std::size_t TDataLogReader::Consume(std::string_view data, std::uint64_t offset, bool atEnd) {
  (void)offset;
  std::size_t pos = 0;
  std::string_view line;
  while (Result.Ok()) {
    const std::size_t start = pos;
    if (!NextLine(data, pos, atEnd, line)) break;
    // The first row waits for the rows that decide how every row is laid out.
    if (!LeadingValue && MarkSeen && !Result.Channels.empty() && IsRowLine(line) &&
        !DecideLeadingValue(data, start, atEnd)) {
      return start;
    }
    ++LineNumber;
    // Only the file's last line comes without its line end.
    ReadLine(line, line.data() + line.size() == data.data() + data.size());
  }
  return atEnd || !Result.Ok() ? data.size() : pos;
}

bool TDataLogReader::DecideLeadingValue(std::string_view data, std::size_t pos, bool atEnd) {
  const std::size_t channels = Result.Channels.size();
  std::size_t rows = 0;
  std::size_t plain = 0;    // a time and a value per channel
  std::size_t leading = 0;  // a time, one value more, then a value per channel
  double rowBytes = 0;
  std::string_view line;
  while (rows < DecidingRows && NextLine(data, pos, atEnd, line)) {
    if (!IsRowLine(line)) continue;
    ++rows;
    rowBytes += static_cast<double>(line.size()) + 1;
    const auto values = static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
    if (values == channels) ++plain;
    if (values == channels + 1) ++leading;
  }
  if (rows < DecidingRows && !atEnd) return false;
  // Rows of the export as we know its layout carry one value more than there are channel blocks
  // (a 0), between the time and the first channel; what it is, no description says. The rows
  // themselves tell whether a file has it, and it is no channel.
  LeadingValue = leading > 0 && leading >= plain;
  if (SizeHint > 0 && rows > 0) {
    const auto guess = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(static_cast<double>(SizeHint) / (rowBytes / rows) * 1.05) + 16,
        MaxReservedRows);
    Result.Times.reserve(guess);
    for (TChannel& channel : Result.Channels) channel.Values.reserve(guess);
  }
  return true;
}

void TDataLogReader::ReadLine(std::string_view line, bool cutShort) {
  if (LineNumber == 1) {
    if (Trim(WithoutBom(line)) != DataLogMark) {
      Fail("line 1: not a DataLog export (it does not begin with " + std::string(DataLogMark) +
           ")");
      return;
    }
    MarkSeen = true;
    return;
  }
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty()) return;
  if (IsDigit(trimmed.front())) {
    ReadRow(line, cutShort);
    return;
  }
  const std::size_t colon = trimmed.find(':');
  if (colon == std::string_view::npos) {
    if (StrayLines.Add(LineNumber)) {
      StrayLines.FirstReason = Quoted(trimmed) + " is neither a 'Key : value' line nor a row";
    }
    return;
  }
  ReadHeaderLine(Trim(trimmed.substr(0, colon)), Trim(trimmed.substr(colon + 1)));
}

void TDataLogReader::ReadHeaderLine(std::string_view key, std::string_view value) {
  const bool logLine = EqualsNoCase(key, "Log");
  if (logLine && !HaveRow) {
    // Before the first record read, the last `Log :` line dates the log.
    LogLine = LineNumber;
    LogHeader = ReadHeaderDate(value);
    return;
  }
  if (RowsBegan) {
    if (logLine) {
      // Another log exported into the same file: its rows are dated from this line.
      LaterLogSeen = true;
      LaterLog = ReadHeaderDate(value);
      LaterLogText = std::string(value);
    } else {
      if (StrayLines.Add(LineNumber)) {
        StrayLines.FirstReason = "'" + std::string(key) + " :' among the rows";
      }
    }
    return;
  }
  if (EqualsNoCase(key, "Channel")) {
    std::string name(value);
    if (name.empty()) name = "Channel " + std::to_string(Result.Channels.size() + 1);
    Result.Channels.push_back({std::move(name), std::string(TDataLogScale{}.Unit), {}});
    Scales.emplace_back();
  } else if (EqualsNoCase(key, "Type")) {
    if (Result.Channels.empty()) return;
    Scales.back() = DataLogScaleOf(value);
    Result.Channels.back().Unit = std::string(Scales.back().Unit);
  } else if (EqualsNoCase(key, "DownloadDateTime")) {
    Download = ReadHeaderDate(value);
  }
  // The channels' ID and display range, the export's version and the software are not needed;
  // keys this reader does not know are passed over as well.
}

void TDataLogReader::ReadRow(std::string_view line, bool cutShort) {
  if (Result.Channels.empty()) {
    Fail("line " + std::to_string(LineNumber) +
         ": a row of values before any channel block (a 'Channel :' line)");
    return;
  }
  RowsBegan = true;
  const std::size_t first = *LeadingValue ? 2 : 1;               // the cell of the first channel
  const std::size_t due = Result.Channels.size() + (first - 1);  // values after the time
  const auto values = static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
  if (values != due) {
    ++Result.SkippedRecords;
    if (cutShort) {
      CutShortLine = LineNumber;
    } else if (WrongCounts.Add(LineNumber)) {
      WrongCounts.FirstReason = std::to_string(values) + " values after the time where " +
                                std::to_string(due) + " are due";
    }
    return;
  }
  Cells.clear();
  std::size_t from = 0;
  for (std::size_t comma = line.find(','); comma != std::string_view::npos;
       from = comma + 1, comma = line.find(',', from)) {
    Cells.push_back(line.substr(from, comma - from));
  }
  Cells.push_back(line.substr(from));
  const std::optional<double> clock = ReadTimeOfDay(Cells[0]);
  if (!clock) {
    ++Result.SkippedRecords;
    if (NoTimes.Add(LineNumber)) NoTimes.FirstReason = Quoted(Cells[0]) + " is no time of day";
    return;
  }

  // A clock time counts from the first row's midnight, as the text logs' do; the header dates it.
  double time = *clock + DayOffset;
  if (!HaveRow) {
    std::optional<std::int64_t> day;
    if (LogHeader) {
      day = LogHeader->Day + DaysAfterLogLine(*LogHeader, *clock);
    } else if (Download) {
      day = Download->Day + DaysAfterDownload(*Download, *clock);
    }
    if (day) {
      FirstDay = day;
      const double whole = std::floor(*clock);
      Result.Start =
          TStartTime{*day * 86400 + static_cast<std::int64_t>(whole), *clock - whole, std::nullopt};
    }
  } else if (LaterLogSeen) {
    if (FirstDay && LaterLog) {
      DayOffset =
          static_cast<double>(LaterLog->Day + DaysAfterLogLine(*LaterLog, *clock) - *FirstDay) *
          SecondsPerDay;
    } else if (time < LastTime - HalfDay) {
      DayOffset += SecondsPerDay;
    }
    time = *clock + DayOffset;
    Result.Markers.push_back({time, "Log : " + LaterLogText});
    LaterLogSeen = false;
    LaterLog.reset();
  } else if (time < LastTime - HalfDay) {
    // Back by more than half a day: midnight has passed (rows a moment out of order stay put).
    DayOffset += SecondsPerDay;
    time = *clock + DayOffset;
  }
  LastTime = time;
  HaveRow = true;

  Result.Times.push_back(time);
  for (std::size_t c = 0; c < Result.Channels.size(); ++c) {
    const std::string_view cell = Cells[first + c];
    const std::optional<double> raw = text::ParseNumber(
        cell, {.Blanks = text::Blanks, .Plus = true, .Decimals = ".", .Finite = true});
    float value = std::numeric_limits<float>::quiet_NaN();
    if (raw) {
      value = static_cast<float>(*raw / Scales[c].Divisor + Scales[c].Offset);
    } else if (BadCells.Add(LineNumber)) {
      BadCells.FirstReason = Quoted(cell) + " in " + Result.Channels[c].Name;
    }
    Result.Channels[c].Values.push_back(value);
  }
}

void TDataLogReader::Complete() {
  const auto at = [](const TCount& count) { return "line " + std::to_string(count.FirstLine); };
  if (LineNumber == 0) {
    Fail("is empty");
    return;
  }
  if (Result.Channels.empty()) {
    Fail("ends at line " + std::to_string(LineNumber) +
         " without a channel block (a 'Channel :' line), so it has no channels");
    return;
  }
  if (Result.Times.empty()) {
    if (WrongCounts.Count > 0 || NoTimes.Count > 0) {
      const TCount& first = WrongCounts.Count > 0 ? WrongCounts : NoTimes;
      Fail("none of its rows could be read (" + at(first) + ": " + first.FirstReason + ")");
    } else if (CutShortLine > 0) {
      Fail("its only row, line " + std::to_string(CutShortLine) + ", is cut short");
    } else if (LogLine == 0) {
      Fail("the header ends at line " + std::to_string(LineNumber) +
           " with neither a 'Log :' line nor a row of values");
    } else {
      Fail("line " + std::to_string(LogLine) +
           ": the 'Log :' line is followed by no row of values");
    }
    return;
  }
  if (WrongCounts.Count > 0) {
    Warn(std::to_string(WrongCounts.Count) + " rows are left out for the number of their values " +
         "(the first at " + at(WrongCounts) + ": " + WrongCounts.FirstReason + ")");
  }
  if (NoTimes.Count > 0) {
    Warn(std::to_string(NoTimes.Count) + " rows are left out for want of a time (the first at " +
         at(NoTimes) + ": " + NoTimes.FirstReason + ")");
  }
  if (CutShortLine > 0) {
    Warn("the last line (line " + std::to_string(CutShortLine) + ") is cut short; it is left out");
  }
  if (BadCells.Count > 0) {
    Warn(std::to_string(BadCells.Count) + " values are not numbers (the first at " + at(BadCells) +
         ": " + BadCells.FirstReason + "); they are left as gaps");
  }
  if (StrayLines.Count > 0) {
    Warn(std::to_string(StrayLines.Count) + " lines are left out (the first at " + at(StrayLines) +
         ": " + StrayLines.FirstReason + ")");
  }
}

TLog ReadDataLog(std::string_view bytes, const std::string& name) {
  TDataLogReader reader(name, bytes.size());
  reader.Feed(bytes);
  reader.Finish();
  return std::move(reader.Log());
}

}  // namespace enginelog
