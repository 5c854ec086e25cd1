// Reading MSL and delimited text engine logs: the layout is found from the first lines, then every
// row is read cell by cell straight from the file's bytes into the columns.
#include "log/TextLogReader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "log/LogSniffer.h"
#include "text/Number.h"
#include "text/Words.h"

namespace enginelog {

// A CR at the very end of a piece may be the first half of CR LF, so it ends a line only when
// nothing follows.
bool NextLine(std::string_view data, std::size_t& pos, bool atEnd, std::string_view& line) {
  if (pos >= data.size()) return false;
  // A plain loop: find_first_of asks memchr once per byte.
  std::size_t end = pos;
  while (end < data.size() && data[end] != '\n' && data[end] != '\r') ++end;
  if (end == data.size()) {
    if (!atEnd) return false;
    line = data.substr(pos);
    pos = data.size();
    return true;
  }
  if (data[end] == '\r' && end + 1 == data.size() && !atEnd) return false;
  line = data.substr(pos, end - pos);
  pos = end + 1;
  if (data[end] == '\r' && pos < data.size() && data[pos] == '\n') ++pos;
  return true;
}

namespace {

constexpr std::size_t MaxHeaderSearchLines = 40;  // names further down are not looked for
constexpr std::size_t SampleRows = 20;            // rows the layout is checked against
constexpr std::uint64_t MaxReservedRows = std::uint64_t{1} << 26;
// The names' line, a units line beneath and the sample.
static_assert(TextLayoutLines == MaxHeaderSearchLines + SampleRows + 2);

using text::Lower;
using text::StartsWithNoCase;
using text::Trim;

std::string_view Unquote(std::string_view text) {
  text = Trim(text);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = Trim(text.substr(1, text.size() - 2));
  }
  return text;
}

// Calls `cell(index, text)` for each cell of `line`; returns how many there were.
template <typename TCell>
std::size_t ForEachCell(std::string_view line, char delimiter, TCell&& cell) {
  std::size_t index = 0;
  std::size_t pos = 0;
  while (true) {
    // Cells are short: a plain loop beats a call to memchr for each.
    std::size_t end = pos;
    while (end < line.size() && line[end] != delimiter) ++end;
    cell(index++, line.substr(pos, end - pos));
    if (end == line.size()) return index;
    pos = end + 1;
  }
}

enum class TCell : std::uint8_t { Empty, Number, Bad };

// A number with the given decimal mark, in quotes or not, without allocating. The values a file
// holds are kept as it says, infinities and NaN too.
TCell ParseNumber(std::string_view cell, char decimal, double& value) {
  cell = Trim(cell);
  if (!cell.empty() && cell.front() == '"') cell = Unquote(cell);
  if (cell.empty()) return TCell::Empty;
  const std::optional<double> number = text::ParseNumber(
      cell,
      {.Blanks = {}, .Plus = true, .Decimals = std::string_view(&decimal, 1), .Finite = false});
  if (number) value = *number;
  return number ? TCell::Number : TCell::Bad;
}

// Digits at `pos`, between `minDigits` and `maxDigits` of them.
std::optional<int> ReadDigits(std::string_view text, std::size_t& pos, int minDigits,
                              int maxDigits) {
  int value = 0;
  int digits = 0;
  std::size_t p = pos;
  while (p < text.size() && digits < maxDigits && text[p] >= '0' && text[p] <= '9') {
    value = value * 10 + (text[p++] - '0');
    ++digits;
  }
  if (digits < minDigits || (p < text.size() && text[p] >= '0' && text[p] <= '9')) {
    return std::nullopt;
  }
  pos = p;
  return value;
}

// H:MM, H:MM:SS or H:MM:SS.fff (or ,fff) at `pos`, as seconds of the day; AM/PM after it counts.
std::optional<double> ReadClock(std::string_view text, std::size_t& pos) {
  std::size_t p = pos;
  const auto hours = ReadDigits(text, p, 1, 2);
  if (!hours || p >= text.size() || text[p] != ':') return std::nullopt;
  ++p;
  const auto minutes = ReadDigits(text, p, 2, 2);
  if (!minutes || *hours > 23 || *minutes > 59) return std::nullopt;
  double seconds = 0;
  if (p < text.size() && text[p] == ':') {
    ++p;
    const auto whole = ReadDigits(text, p, 2, 2);
    if (!whole || *whole > 60) return std::nullopt;
    seconds = *whole;
    if (p + 1 < text.size() && (text[p] == '.' || text[p] == ',') && text[p + 1] >= '0' &&
        text[p + 1] <= '9') {
      double scale = 0.1;
      for (++p; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p, scale /= 10) {
        seconds += (text[p] - '0') * scale;
      }
    }
  }
  int hour = *hours;
  std::size_t q = p;
  while (q < text.size() && text[q] == ' ') ++q;
  if (q + 1 < text.size() && (text[q + 1] == 'M' || text[q + 1] == 'm') && hour >= 1 &&
      hour <= 12) {
    const char mark = static_cast<char>(text[q] | 0x20);
    if (mark == 'a' || mark == 'p') {
      hour = hour % 12 + (mark == 'p' ? 12 : 0);
      p = q + 2;
    }
  }
  pos = p;
  return hour * 3600.0 + *minutes * 60.0 + seconds;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - static_cast<int>(era * 400);
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

struct TDate {
  int Year;
  int Month;
  int Day;
};

bool ValidDate(const TDate& date) {
  return date.Year >= 1970 && date.Year <= 9999 && date.Month >= 1 && date.Month <= 12 &&
         date.Day >= 1 && date.Day <= 31;
}

// A numeric date at `pos`: 2024-05-01, 01.05.2024 or 05/01/2024.
std::optional<TDate> ReadNumericDate(std::string_view text, std::size_t& pos) {
  std::size_t p = pos;
  const auto first = ReadDigits(text, p, 1, 4);
  if (!first || p >= text.size()) return std::nullopt;
  const char separator = text[p];
  if (separator != '-' && separator != '.' && separator != '/') return std::nullopt;
  ++p;
  const auto second = ReadDigits(text, p, 1, 2);
  if (!second || p >= text.size() || text[p] != separator) return std::nullopt;
  ++p;
  const auto third = ReadDigits(text, p, separator == '-' ? 1 : 4, separator == '-' ? 2 : 4);
  if (!third || (separator == '-' && *first < 1000)) return std::nullopt;
  TDate date{};
  if (separator == '-') {
    date = {*first, *second, *third};
  } else if (separator == '.') {
    date = {*third, *second, *first};
  } else {
    // Slashes: month first as the custom goes, unless the first number cannot be a month.
    date = *first > 12 ? TDate{*third, *second, *first} : TDate{*third, *first, *second};
  }
  if (!ValidDate(date)) return std::nullopt;
  pos = p;
  return date;
}

int MonthFromName(std::string_view word) {
  static constexpr std::array<std::string_view, 12> Months = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  if (word.size() < 3) return 0;
  const std::string lower = Lower(word.substr(0, 3));
  for (std::size_t i = 0; i < Months.size(); ++i) {
    if (lower == Months[i]) return static_cast<int>(i) + 1;
  }
  return 0;
}

void SkipSpaces(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
}

// UTC, GMT, Z or a numeric offset (+02:00, +0200, UTC+02) at `pos`.
std::optional<int> ReadZone(std::string_view text, std::size_t pos) {
  SkipSpaces(text, pos);
  const std::string_view rest = text.substr(std::min(pos, text.size()));
  bool named = false;
  if (StartsWithNoCase(rest, "utc") || StartsWithNoCase(rest, "gmt")) {
    pos += 3;
    named = true;
  } else if (!rest.empty() && rest.front() == 'Z') {
    return 0;
  }
  if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) {
    return named ? std::optional<int>(0) : std::nullopt;
  }
  const int sign = text[pos] == '-' ? -1 : 1;
  std::size_t p = pos + 1;
  // The basic form runs hours and minutes together (+0200, as strftime's %z writes it): its
  // hours are the first two of four digits.
  std::size_t run = p;
  while (run < text.size() && text[run] >= '0' && text[run] <= '9') ++run;
  const auto hours =
      run - p == 4 ? ReadDigits(text.substr(0, p + 2), p, 2, 2) : ReadDigits(text, p, 1, 2);
  if (!hours || *hours > 14) return named ? std::optional<int>(0) : std::nullopt;
  if (p < text.size() && text[p] == ':') ++p;
  const auto minutes = ReadDigits(text, p, 2, 2);
  return sign * (*hours * 3600 + (minutes ? *minutes : 0) * 60);
}

TStartTime MakeStart(const TDate& date, double clock, std::optional<int> zone) {
  TStartTime start;
  const double whole = std::floor(clock);
  start.Seconds =
      DaysFromCivil(date.Year, date.Month, date.Day) * 86400 + static_cast<std::int64_t>(whole);
  start.Fraction = clock - whole;
  start.UtcOffsetSeconds = zone;
  return start;
}

// The date and time in the "Mon Dec 28 13:30:43 CET 2020" form that starts at the month name at
// `pos`.
std::optional<TStartTime> ReadNamedMonthDate(std::string_view text, std::size_t pos,
                                             bool& hasTime) {
  const int month = MonthFromName(text.substr(pos));
  std::size_t p = pos;
  while (p < text.size() && std::isalpha(static_cast<unsigned char>(text[p]))) ++p;
  SkipSpaces(text, p);
  const auto day = ReadDigits(text, p, 1, 2);
  if (!month || !day) return std::nullopt;
  SkipSpaces(text, p);
  std::size_t clockAt = p;
  const auto clock = ReadClock(text, clockAt);
  if (!clock) return std::nullopt;
  const std::optional<int> zone = ReadZone(text, clockAt);
  // The year follows the time, perhaps after a zone's name.
  std::size_t q = clockAt;
  SkipSpaces(text, q);
  while (q < text.size() && text[q] != ' ' && !(text[q] >= '0' && text[q] <= '9')) ++q;
  SkipSpaces(text, q);
  const auto year = ReadDigits(text, q, 4, 4);
  if (!year) return std::nullopt;
  const TDate date{*year, month, *day};
  if (!ValidDate(date)) return std::nullopt;
  hasTime = true;
  return MakeStart(date, *clock, zone);
}

// A date and a clock time in one cell: seconds since 1970 of the writer's clock.
std::optional<double> ReadDateAndClock(std::string_view cell, std::int64_t& day, bool& hasDate) {
  std::size_t pos = 0;
  const auto date = ReadNumericDate(cell, pos);
  hasDate = date.has_value();
  if (date) {
    if (pos < cell.size() && (cell[pos] == 'T' || cell[pos] == ' ')) ++pos;
    SkipSpaces(cell, pos);
    day = DaysFromCivil(date->Year, date->Month, date->Day);
  }
  const auto clock = ReadClock(cell, pos);
  if (!clock) return std::nullopt;
  // Anything after the time (a zone) is left to the header; the rows only need their distance.
  return clock;
}

bool LooksNumeric(std::string_view cell, char decimal) {
  double value = 0;
  if (ParseNumber(cell, decimal, value) == TCell::Number) return true;
  std::int64_t day = 0;
  bool hasDate = false;
  return ReadDateAndClock(Unquote(cell), day, hasDate).has_value();
}

// Seconds per count from a time column's unit or name: ms, us, s, min.
double SecondsPerCountFrom(std::string_view unit, std::string_view name) {
  const std::string u = Lower(unit);
  const std::string n = Lower(name);
  const auto endsWith = [&](std::string_view suffix) {
    return n.size() >= suffix.size() &&
           n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (u == "ms" || u == "msec" || u == "millis" || u == "milliseconds" || n == "ms" ||
      endsWith("_ms") || endsWith(" ms") || endsWith("millis") || endsWith("(ms)")) {
    return 0.001;
  }
  if (u == "us" || u == "usec" || u == "\xC2\xB5s" || endsWith("_us") || endsWith(" us")) {
    return 1e-6;
  }
  if (u == "min" || u == "minutes") return 60;
  return 1;
}

// 2: named as a time column; 1: with "time" somewhere in its name; 0: not.
int TimeNameRank(std::string_view name) {
  const std::string n = Lower(name);
  if (n.rfind("time", 0) == 0 || n == "t" || n == "zeit" || n == "elapsed" || n == "sec" ||
      n == "seconds" || n == "ms" || n == "millis") {
    return 2;
  }
  return n.find("time") != std::string::npos ? 1 : 0;
}

// A line that is one quoted text, as the MSL format's signature and capture date lines are.
bool IsQuotedLine(std::string_view line) {
  line = Trim(line);
  return line.size() >= 2 && line.front() == '"' && line.back() == '"' &&
         line.substr(1, line.size() - 2).find('"') == std::string_view::npos;
}

// The layout at names line `h` with delimiter `d`, if the lines after it agree with it.
std::optional<TTextLayout> TryLayout(const std::vector<std::string_view>& lines, std::size_t h,
                                     char d) {
  const std::vector<std::string_view> names = text::Split(lines[h], std::string_view(&d, 1));
  if (names.size() < 2) return std::nullopt;
  std::size_t wordCells = 0;
  for (std::string_view name : names) {
    if (!Unquote(name).empty() && !LooksNumeric(name, '.') && !LooksNumeric(name, ',')) {
      ++wordCells;
    }
  }
  if (wordCells * 2 <= names.size()) return std::nullopt;

  TTextLayout layout;
  layout.Delimiter = d;
  layout.NamesLine = h;
  layout.FirstDataLine = h + 1;
  bool unitsRow = false;
  if (h + 1 < lines.size()) {
    const std::vector<std::string_view> units = text::Split(lines[h + 1], std::string_view(&d, 1));
    const bool anyNumber = std::any_of(units.begin(), units.end(), [](std::string_view cell) {
      return LooksNumeric(cell, '.') || LooksNumeric(cell, ',');
    });
    const bool anyText = std::any_of(units.begin(), units.end(),
                                     [](std::string_view cell) { return !Unquote(cell).empty(); });
    if (units.size() == names.size() && !anyNumber && anyText &&
        Trim(lines[h + 1]).rfind("MARK", 0) != 0) {
      unitsRow = true;
      layout.FirstDataLine = h + 2;
      for (std::string_view unit : units) layout.Units.emplace_back(Unquote(unit));
    }
  }
  for (std::string_view cell : names) {
    std::string_view name = Unquote(cell);
    std::string unit;
    // "Name (unit)" or "Name [unit]" where no units row says it.
    if (!unitsRow && !name.empty() && (name.back() == ')' || name.back() == ']')) {
      const char open = name.back() == ')' ? '(' : '[';
      const std::size_t at = name.rfind(open);
      if (at != std::string_view::npos && at > 0) {
        unit = std::string(Trim(name.substr(at + 1, name.size() - at - 2)));
        name = Trim(name.substr(0, at));
      }
    }
    layout.Names.emplace_back(name);
    if (!unitsRow) layout.Units.push_back(std::move(unit));
  }

  // The sample: rows after the names, MARK lines and blank lines aside.
  std::vector<std::vector<std::string_view>> sample;
  std::size_t examined = 0;
  double sampleBytes = 0;
  for (std::size_t i = layout.FirstDataLine; i < lines.size() && examined < SampleRows; ++i) {
    const std::string_view line = Trim(lines[i]);
    if (line.empty() || line.rfind("MARK", 0) == 0) continue;
    ++examined;
    std::vector<std::string_view> cells = text::Split(lines[i], std::string_view(&d, 1));
    if (cells.size() != names.size()) continue;
    sampleBytes += static_cast<double>(lines[i].size()) + 1;
    sample.push_back(std::move(cells));
  }
  // Most rows must fit the names; a few broken ones are the reader's to report, line by line.
  if (sample.empty() || sample.size() * 2 < examined) return std::nullopt;
  layout.SampleLineLength = sampleBytes / static_cast<double>(sample.size());

  // A decimal comma shows in cells that read as numbers only with it.
  std::size_t commaCells = 0;
  std::size_t pointCells = 0;
  std::size_t numberCells = 0;
  for (const auto& row : sample) {
    for (std::string_view cell : row) {
      double value = 0;
      const bool withPoint = ParseNumber(cell, '.', value) == TCell::Number;
      const bool withComma = d != ',' && ParseNumber(cell, ',', value) == TCell::Number;
      if (withPoint || withComma) ++numberCells;
      if (withComma && !withPoint) ++commaCells;
      if (withPoint && cell.find('.') != std::string_view::npos) ++pointCells;
    }
  }
  layout.Decimal = commaCells > pointCells ? ',' : '.';
  if (numberCells * 2 < sample.size() * names.size() / 2) return std::nullopt;

  layout.TextColumns.assign(names.size(), false);
  for (std::size_t c = 0; c < names.size(); ++c) {
    std::size_t words = 0;
    std::size_t filled = 0;
    for (const auto& row : sample) {
      if (Unquote(row[c]).empty()) continue;
      ++filled;
      if (!LooksNumeric(row[c], layout.Decimal)) ++words;
    }
    // Status columns mix words with a few numbers (N, 1, 2 for a gear); a stray word in a column
    // of numbers is a bad cell, reported by the reader.
    layout.TextColumns[c] = filled > 0 && words * 3 >= filled;
  }

  // The time column: by its name, else the first column when it counts up.
  std::optional<std::size_t> timeColumn;
  for (const int rank : {2, 1}) {
    for (std::size_t c = 0; c < names.size() && !timeColumn; ++c) {
      if (!layout.TextColumns[c] && TimeNameRank(layout.Names[c]) == rank) timeColumn = c;
    }
  }
  if (!timeColumn && !layout.TextColumns[0]) {
    double previous = -std::numeric_limits<double>::infinity();
    bool rising = true;
    for (const auto& row : sample) {
      double value = 0;
      if (ParseNumber(row[0], layout.Decimal, value) != TCell::Number || value < previous) {
        rising = false;
        break;
      }
      previous = value;
    }
    if (rising) timeColumn = 0;
  }
  if (!timeColumn) return std::nullopt;
  layout.TimeColumn = *timeColumn;
  const std::string_view firstTime = Unquote(sample.front()[layout.TimeColumn]);
  layout.TimeForm =
      firstTime.find(':') != std::string_view::npos ? TTimeForm::Clock : TTimeForm::Count;
  layout.SecondsPerCount =
      SecondsPerCountFrom(layout.Units[layout.TimeColumn], layout.Names[layout.TimeColumn]);
  return layout;
}

}  // namespace

std::optional<TStartTime> FindDateTime(std::string_view text, bool& hasTime) {
  hasTime = false;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    const bool wordStart = pos == 0 || !std::isalnum(static_cast<unsigned char>(text[pos - 1]));
    if (!wordStart) continue;
    if (std::isalpha(static_cast<unsigned char>(text[pos])) && MonthFromName(text.substr(pos))) {
      if (auto start = ReadNamedMonthDate(text, pos, hasTime)) return start;
      continue;
    }
    std::size_t p = pos;
    const auto date = ReadNumericDate(text, p);
    if (!date) continue;
    if (p < text.size() && (text[p] == 'T' || text[p] == ' ' || text[p] == ',')) ++p;
    SkipSpaces(text, p);
    const auto clock = ReadClock(text, p);
    hasTime = clock.has_value();
    return MakeStart(*date, clock.value_or(0), clock ? ReadZone(text, p) : std::nullopt);
  }
  return std::nullopt;
}

bool HoldsTextLayoutLines(std::string_view head) {
  std::size_t pos = 0;
  std::size_t lines = 0;
  std::string_view line;
  while (lines < TextLayoutLines && NextLine(head, pos, false, line)) ++lines;
  return lines == TextLayoutLines;
}

std::optional<TTextLayout> DetectTextLayout(std::string_view head, bool wholeFile,
                                            std::string& error) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  std::string_view line;
  while (lines.size() < TextLayoutLines && NextLine(head, pos, wholeFile, line)) {
    lines.push_back(line);
  }
  const std::size_t searched = std::min(lines.size(), MaxHeaderSearchLines);
  for (std::size_t h = 0; h < searched; ++h) {
    if (Trim(lines[h]).empty() || IsQuotedLine(lines[h])) continue;
    std::optional<TTextLayout> best;
    for (const char d : {'\t', ';', ','}) {
      auto layout = TryLayout(lines, h, d);
      if (layout && (!best || layout->Names.size() > best->Names.size())) best = std::move(layout);
    }
    if (!best) continue;
    bool quotedLines = false;
    for (std::size_t i = 0; i < h; ++i) {
      const std::string_view above = Trim(lines[i]);
      quotedLines = quotedLines || IsQuotedLine(above);
      bool hasTime = false;
      if (!best->HeaderStart) {
        best->HeaderStart = FindDateTime(above, hasTime);
        best->HeaderHasTime = hasTime;
      }
    }
    const bool mslNames =
        best->Delimiter == '\t' && best->Names.front() == "Time" && best->FirstDataLine == h + 2;
    best->Format = quotedLines || mslNames ? TFileFormat::Msl : TFileFormat::Text;
    return best;
  }
  error = "no row of channel names followed by rows of numbers with a time column in its first " +
          std::to_string(searched) + " lines";
  return std::nullopt;
}

void TTextLogReader::TBad::Add(std::uint64_t line, const std::string& reason) {
  if (Count++ == 0) {
    FirstLine = line;
    FirstReason = reason;
  }
}

TTextLogReader::TTextLogReader(std::string name, std::uint64_t sizeHint)
    : TLogReader(std::move(name), TFileFormat::Text, sizeHint) {}

void TTextLogReader::Start(const TTextLayout& layout) {
  Layout = layout;
  Result.Format = layout.Format;
  ChannelOfColumn.assign(layout.Names.size(), -1);
  for (std::size_t c = 0; c < layout.Names.size(); ++c) {
    if (c == layout.TimeColumn || layout.TextColumns[c]) continue;
    ChannelOfColumn[c] = static_cast<int>(Result.Channels.size());
    Result.Channels.push_back({layout.Names[c], layout.Units[c], {}});
  }
  Last.assign(Result.Channels.size(), std::numeric_limits<float>::quiet_NaN());
  if (SizeHint > 0 && layout.SampleLineLength > 0) {
    const auto guess = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(static_cast<double>(SizeHint) / layout.SampleLineLength * 1.05) +
            16,
        MaxReservedRows);
    Result.Times.reserve(guess);
    for (TChannel& channel : Result.Channels) channel.Values.reserve(guess);
  }
  if (layout.TimeForm == TTimeForm::Count && layout.HeaderHasTime)
    Result.Start = layout.HeaderStart;
  LayoutDone = true;
}

std::size_t TTextLogReader::Consume(std::string_view data, std::uint64_t offset, bool atEnd) {
  std::size_t pos = 0;
  if (!LayoutDone) {
    // The layout is found from the first lines once all that it looks at are here: a log that
    // is followed as it is written shows its rows from its first few seconds, not only once a
    // whole first look of bytes has come.
    if (!atEnd && data.size() < SniffBytes && !HoldsTextLayoutLines(data)) return 0;
    std::string error;
    const std::size_t bom = data.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    const auto layout =
        DetectTextLayout(data.substr(0, SniffBytes), atEnd && data.size() <= SniffBytes, error);
    if (!layout) {
      Fail(error);
      return data.size();
    }
    Start(*layout);
    pos = bom;
  }
  (void)offset;
  std::string_view line;
  while (NextLine(data, pos, atEnd, line)) {
    const std::uint64_t index = LineIndex++;
    if (index >= Layout.FirstDataLine) ReadLine(line);
  }
  return atEnd ? data.size() : pos;
}

bool TTextLogReader::ReadTime(std::string_view cell, double& time) {
  cell = Unquote(cell);
  if (Layout.TimeForm == TTimeForm::Count) {
    double count = 0;
    if (ParseNumber(cell, Layout.Decimal, count) != TCell::Number) return false;
    time = count * Layout.SecondsPerCount;
    return std::isfinite(time);
  }
  std::int64_t day = 0;
  bool hasDate = false;
  const auto clock = ReadDateAndClock(cell, day, hasDate);
  if (!clock) return false;
  if (!HaveFirstRow) {
    FirstDay = day;
    if (hasDate) {
      bool hasTime = false;
      Result.Start = FindDateTime(cell, hasTime);
    } else if (Layout.HeaderStart) {
      TStartTime start = *Layout.HeaderStart;
      const double whole = std::floor(*clock);
      start.Seconds = start.Seconds - (start.Seconds % 86400 + 86400) % 86400 +
                      static_cast<std::int64_t>(whole);
      start.Fraction = *clock - whole;
      Result.Start = start;
    }
  }
  if (hasDate) {
    time = static_cast<double>(day - FirstDay) * 86400 + *clock;
  } else {
    // Without a date, a clock that goes back by more than half a day has passed midnight.
    if (HaveFirstRow && *clock + DayOffset < LastClock - 43200) DayOffset += 86400;
    time = *clock + DayOffset;
  }
  LastClock = time;
  return true;
}

void TTextLogReader::ReadLine(std::string_view line) {
  const std::uint64_t lineNumber = LineIndex;  // LineIndex already counts this line: 1-based
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty()) return;
  if (trimmed.rfind("MARK", 0) == 0) {
    Result.Markers.push_back(
        {Result.Times.empty() ? 0 : Result.Times.back(), std::string(Trim(trimmed.substr(4)))});
    return;
  }
  const std::size_t columns = Layout.Names.size();
  const auto found =
      static_cast<std::size_t>(std::count(line.begin(), line.end(), Layout.Delimiter)) + 1;
  if (found > columns) {
    SkippedRows.Add(lineNumber, std::to_string(found) + " cells where the header has " +
                                    std::to_string(columns));
    ++Result.SkippedRecords;
    return;
  }
  double time = 0;
  bool timeRead = false;
  ForEachCell(line, Layout.Delimiter, [&](std::size_t c, std::string_view cell) {
    if (c == Layout.TimeColumn) {
      timeRead = ReadTime(cell, time);
      return;
    }
    const int channel = ChannelOfColumn[c];
    if (channel < 0) return;
    double value = 0;
    const TCell kind = ParseNumber(cell, Layout.Decimal, value);
    if (kind == TCell::Number) {
      Last[channel] = static_cast<float>(value);
    } else if (kind == TCell::Bad) {
      BadCells.Add(lineNumber, "'" + std::string(Trim(cell).substr(0, 32)) + "' in " +
                                   Result.Channels[channel].Name);
    }
  });
  if (!timeRead) {
    SkippedRows.Add(lineNumber, "no time in column " + Layout.Names[Layout.TimeColumn]);
    ++Result.SkippedRecords;
    // The values read are still the last ones known: a later row without them carries them.
    return;
  }
  if (found < columns) ShortRows.Add(lineNumber, "");
  Result.Times.push_back(time);
  for (std::size_t i = 0; i < Result.Channels.size(); ++i) {
    Result.Channels[i].Values.push_back(Last[i]);
  }
  HaveFirstRow = true;
}

void TTextLogReader::Complete() {
  const auto at = [](const TBad& bad) { return "line " + std::to_string(bad.FirstLine); };
  if (Result.Times.empty() && SkippedRows.Count > 0) {
    Fail("none of its rows could be read (" + at(SkippedRows) + ": " + SkippedRows.FirstReason +
         ")");
    return;
  }
  if (SkippedRows.Count > 0) {
    Warn(std::to_string(SkippedRows.Count) + " rows are left out (the first at " + at(SkippedRows) +
         ": " + SkippedRows.FirstReason + ")");
  }
  if (ShortRows.Count > 0) {
    Warn(std::to_string(ShortRows.Count) + " rows have fewer cells than the header (the first at " +
         at(ShortRows) + "); their missing cells keep the last value");
  }
  if (BadCells.Count > 0) {
    Warn(std::to_string(BadCells.Count) + " cells are not numbers (the first at " + at(BadCells) +
         ": " + BadCells.FirstReason + "); they keep the last value");
  }
}

TLog ReadTextLog(std::string_view bytes, const std::string& name) {
  TTextLogReader reader(name, bytes.size());
  reader.Feed(bytes);
  reader.Finish();
  return std::move(reader.Log());
}

}  // namespace enginelog
