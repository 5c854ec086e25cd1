// Reading the window's and kestlog's logs back from text, whatever the writer's locale.
#include "viewer/LogParser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "headless/RowFormat.h"
#include "log/CsvLog.h"
#include "sensor/Monitoring.h"

namespace viewer {

namespace {

// A line longer than this is no row of ours; it is skipped rather than held in memory.
constexpr std::size_t MaxLineLength = 4096;
constexpr int SecondsPerDay = 86400;
// A time that went back by more than half a day went past midnight; less is a clock change.
constexpr int HalfDay = SecondsPerDay / 2;
// The window calls the controller offline after this long without a frame and keeps logging the
// last frame meanwhile: equal rows over a longer span are repeats, not readings.
constexpr double OfflineSeconds =
    sensor::WatchdogIntervalMs * sensor::OnlineCountdownReload / 1000.0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// The value of a run of digits. A run too long for any field (a date's group may be any length)
// reads as a value that no field accepts, rather than overflowing into one that some field might.
int DigitsValue(std::string_view text) {
  constexpr int Beyond = 100000000;
  int value = 0;
  for (const char c : text) {
    value = value * 10 + (c - '0');
    if (value >= Beyond) return Beyond;
  }
  return value;
}

// Up to `N` fields split at commas; the count may exceed N (the rest is not split).
template <std::size_t N>
std::size_t SplitCommas(std::string_view line, std::array<std::string_view, N>& fields) {
  std::size_t count = 0;
  while (true) {
    const std::size_t comma = line.find(',');
    if (count == N) return N + 1;
    if (comma == std::string_view::npos) {
      fields[count++] = line;
      return count;
    }
    fields[count++] = line.substr(0, comma);
    line.remove_prefix(comma + 1);
  }
}

// A decimal number written as integer digits, separator, decimal digits.
struct TNumber {
  double Value = 0;
  int Digits = 0;  // before the separator
  int Decimals = 0;
};

// `whole` and `fraction` as one number; false unless both are 1 to 3 and 1 to 3 digits.
bool MakeNumber(std::string_view whole, std::string_view fraction, TNumber& number) {
  if (!AllDigits(whole) || !AllDigits(fraction) || whole.size() > 3 || fraction.size() > 3) {
    return false;
  }
  // Worked in integers and divided once, so "14.7" gives the double nearest 14.7.
  int scale = 1;
  for (std::size_t i = 0; i < fraction.size(); ++i) scale *= 10;
  number.Value = static_cast<double>(DigitsValue(whole) * scale + DigitsValue(fraction)) / scale;
  number.Digits = static_cast<int>(whole.size());
  number.Decimals = static_cast<int>(fraction.size());
  return true;
}

// A number whose separator is anything but a digit, as long as it is `separator` once that is
// known; `separator` is set from the first number that has one.
bool ParseWithSeparator(std::string_view text, std::string& separator, TNumber& number) {
  const auto firstNonDigit =
      std::find_if(text.begin(), text.end(), [](char c) { return !IsDigit(c); });
  const auto lastNonDigit =
      std::find_if(text.rbegin(), text.rend(), [](char c) { return !IsDigit(c); });
  if (firstNonDigit == text.end()) return false;
  const std::size_t sepStart = static_cast<std::size_t>(firstNonDigit - text.begin());
  const std::size_t sepEnd = text.size() - static_cast<std::size_t>(lastNonDigit - text.rbegin());
  const std::string_view sep = text.substr(sepStart, sepEnd - sepStart);
  if (sep.size() > 4 || sep.find(' ') != std::string_view::npos) return false;
  if (!separator.empty() && sep != separator) return false;
  if (!MakeNumber(text.substr(0, sepStart), text.substr(sepEnd), number)) return false;
  if (separator.empty()) separator = sep;
  return true;
}

// A number with a point, as the extended log always writes them.
bool ParsePointNumber(std::string_view text, TNumber& number) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos) return false;
  return MakeNumber(text.substr(0, point), text.substr(point + 1), number);
}

// The reading text is at most four characters: an air-fuel ratio "dd.d" or "d.d", a lambda
// "d.dd". Anything else was not written by the window's formatting.
bool ReadingFromNumber(const TNumber& number, TSample& sample) {
  if (number.Decimals == 1 && number.Digits <= 2) {
    sample.Kind = TReadingKind::Afr;
  } else if (number.Decimals == 2 && number.Digits == 1) {
    sample.Kind = TReadingKind::Lambda;
  } else {
    return false;
  }
  sample.Value = static_cast<float>(number.Value);
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = static_cast<int>(year - era * 400);
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// "2024-05-01T14:03:27.123+02:00" (fraction and offset optional, Z for UTC): the local date, the
// time of day in milliseconds and the offset in seconds.
struct TIsoTime {
  int Year = 0, Month = 0, Day = 0;
  std::int64_t DayMs = 0;
  int Offset = 0;
};

bool Fixed(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size() || !AllDigits(text.substr(at, count))) return false;
  value = DigitsValue(text.substr(at, count));
  return true;
}

bool ParseIsoTime(std::string_view text, TIsoTime& time) {
  int hour = 0, minute = 0, second = 0;
  if (!Fixed(text, 0, 4, time.Year) || text.size() < 19 || text[4] != '-' ||
      !Fixed(text, 5, 2, time.Month) || text[7] != '-' || !Fixed(text, 8, 2, time.Day) ||
      (text[10] != 'T' && text[10] != ' ') || !Fixed(text, 11, 2, hour) || text[13] != ':' ||
      !Fixed(text, 14, 2, minute) || text[16] != ':' || !Fixed(text, 17, 2, second)) {
    return false;
  }
  if (time.Month < 1 || time.Month > 12 || time.Day < 1 || time.Day > 31 || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  std::size_t at = 19;
  int millis = 0;
  if (at < text.size() && text[at] == '.') {
    std::size_t digits = 0;
    int scale = 100;
    for (++at; at < text.size() && IsDigit(text[at]); ++at, ++digits) {
      millis += (text[at] - '0') * scale;
      scale /= 10;
    }
    if (digits == 0) return false;
  }
  time.Offset = 0;
  if (at < text.size()) {
    if (text[at] == 'Z' && at + 1 == text.size()) {
      ++at;
    } else if (text[at] == '+' || text[at] == '-') {
      int offsetHours = 0, offsetMinutes = 0;
      if (text.size() != at + 6 || !Fixed(text, at + 1, 2, offsetHours) || text[at + 3] != ':' ||
          !Fixed(text, at + 4, 2, offsetMinutes)) {
        return false;
      }
      time.Offset = (offsetHours * 3600 + offsetMinutes * 60) * (text[at] == '-' ? -1 : 1);
      at = text.size();
    }
  }
  if (at != text.size()) return false;
  time.DayMs = (hour * 3600 + minute * 60 + std::min(second, 59)) * 1000LL + millis;
  return true;
}

bool ParseStatus(std::string_view word, TSampleStatus& status) {
  using headless::TRowStatus;
  constexpr std::array<std::pair<TRowStatus, TSampleStatus>, 4> words = {{
      {TRowStatus::Live, TSampleStatus::Live},
      {TRowStatus::Warmup, TSampleStatus::Warmup},
      {TRowStatus::Offline, TSampleStatus::Offline},
      {TRowStatus::LowVolts, TSampleStatus::LowVolts},
  }};
  for (const auto& [rowStatus, sampleStatus] : words) {
    if (word == headless::StatusWord(rowStatus)) {
      status = sampleStatus;
      return true;
    }
  }
  return false;
}

// "Torvane KEST datalog." as the window writes it, without the spaces before the date.
std::string_view ClassicHeaderStart() {
  static const std::string start = [] {
    std::string line = csvlog::LogHeaderLine1("");
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  }();
  return start;
}

// No control character but tabs (and, with `lineEnds`, CR and LF).
bool IsText(std::string_view text, bool lineEnds = false) {
  return std::none_of(text.begin(), text.end(), [lineEnds](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\t' && !(lineEnds && (c == '\r' || c == '\n'));
  });
}

}  // namespace

int ParseTimeOfDay(std::string_view text, bool* twelveHour) {
  text = Trim(text);
  std::array<int, 3> parts{};
  std::size_t count = 0;
  std::size_t firstDigit = std::string_view::npos;
  std::size_t afterLast = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (count == parts.size() || j - i > 2) return -1;
    // Between two fields only a short separator: a colon, a point, or a word such as "h ".
    if (count > 0 && i - afterLast > 8) return -1;
    if (count == 0) firstDigit = i;
    parts[count++] = DigitsValue(text.substr(i, j - i));
    afterLast = j;
    i = j;
  }
  if (count != 3) return -1;
  // The AM/PM mark stands before or after the time; its dots and case vary by locale.
  std::string mark;
  for (const std::string_view side : {text.substr(0, firstDigit), text.substr(afterLast)}) {
    for (const char c : side) {
      if (c >= 'A' && c <= 'Z') mark += static_cast<char>(c - 'A' + 'a');
      if (c >= 'a' && c <= 'z') mark += c;
    }
  }
  int hour = parts[0];
  const bool am = mark == "am" || mark == "a";
  const bool pm = mark == "pm" || mark == "p";
  if (am || pm) {
    if (hour < 1 || hour > 12) return -1;
    hour = hour % 12 + (pm ? 12 : 0);
  }
  if (twelveHour != nullptr) *twelveHour = am || pm;
  if (hour > 23 || parts[1] > 59 || parts[2] > 60) return -1;
  return hour * 3600 + parts[1] * 60 + std::min(parts[2], 59);
}

TLogDate ParseShortDate(std::string_view text) {
  std::array<std::string_view, 3> groups;
  std::size_t count = 0;
  char separator = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (!IsDigit(text[i])) {
      if (count > 0 && separator == 0) separator = text[i];
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (count == groups.size()) return {};
    groups[count++] = text.substr(i, j - i);
    i = j;
  }
  if (count != 3) return {};
  auto year = [](std::string_view digits) {
    const int value = DigitsValue(digits);
    if (digits.size() == 4) return value;
    if (digits.size() == 2) return value < 70 ? 2000 + value : 1900 + value;
    return 0;
  };
  TLogDate date;
  if (groups[0].size() == 4) {
    date = {year(groups[0]), DigitsValue(groups[1]), DigitsValue(groups[2]), false};
  } else {
    const int a = DigitsValue(groups[0]);
    const int b = DigitsValue(groups[1]);
    date.Year = year(groups[2]);
    const bool monthFirst = a > 12 ? false : b > 12 ? true : separator == '/';
    date.Month = monthFirst ? a : b;
    date.Day = monthFirst ? b : a;
    date.Ambiguous = a <= 12 && b <= 12 && a != b;
  }
  if (date.Year == 0 || date.Month < 1 || date.Month > 12 || date.Day < 1 || date.Day > 31) {
    return {};
  }
  return date;
}

TLogParser::TLogParser(std::string name) { Log.Name = std::move(name); }

void TLogParser::Feed(std::string_view bytes) {
  if (Head.size() < HeadLength) Head.append(bytes.substr(0, HeadLength - Head.size()));
  if (JudgedText && !IsText(Head, true)) {
    Log.Error = Log.Name + ": binary data, this is not a log";
    JudgedText = false;
  }
  std::size_t pos = 0;
  if (SawCarriageReturn && !bytes.empty() && bytes.front() == '\n') pos = 1;
  if (!bytes.empty()) SawCarriageReturn = false;
  while (pos < bytes.size() && Log.Error.empty()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    if (end == bytes.size()) {
      const std::string_view rest = bytes.substr(pos);
      if (Pending.size() + rest.size() > MaxLineLength) {
        // No row is this long: the line is junk (or the file binary). Its start stands for it.
        Pending.append(rest.substr(0, MaxLineLength - std::min(MaxLineLength, Pending.size())));
      } else {
        Pending.append(rest);
      }
      return;
    }
    std::string_view line = bytes.substr(pos, end - pos);
    if (!Pending.empty()) {
      Pending.append(line.substr(0, MaxLineLength - std::min(MaxLineLength, Pending.size())));
      line = Pending;
    }
    if (bytes[end] == '\r') {
      if (end + 1 == bytes.size()) {
        SawCarriageReturn = true;
      } else if (bytes[end + 1] == '\n') {
        ++end;
      }
    }
    ReadLine(line.substr(0, MaxLineLength), true);
    Pending.clear();
    pos = end + 1;
  }
}

void TLogParser::Finish() {
  if (!Log.Error.empty()) return;
  if (!Pending.empty()) {
    const std::string last = std::move(Pending);
    Pending.clear();
    ReadLine(last, false);
  }
  if (!Log.Error.empty()) return;
  if (!SawFirstLine) {
    Log.Error = Log.Name + ": the file is empty";
  } else if (!HeaderDone) {
    Log.Error = Log.Name + ": the file holds no log, only blank lines";
  }
}

void TLogParser::AddBad(std::string reason) {
  ++Log.SkippedRows;
  if (Log.FirstBadLines.size() < KeptBadLines) {
    Log.FirstBadLines.push_back({LineNumber, std::move(reason)});
  }
}

void TLogParser::ReadLine(std::string_view line, bool complete) {
  ++LineNumber;
  if (complete) ++Log.Lines;
  if (LineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  SawFirstLine = true;
  if (!IsText(line)) {
    if (!HeaderDone) {
      Log.Error = Log.Name + ": binary data, this is not a log";
    } else {
      AddBad("binary data");
    }
    return;
  }
  line = Trim(line);
  if (line.empty()) return;
  if (line.size() >= MaxLineLength) {
    if (!HeaderDone) {
      Log.Error = Log.Name + ": line " + std::to_string(LineNumber) +
                  ": a line far too long for a log; this is not a log";
    } else {
      AddBad("a line far too long for a row");
    }
    return;
  }
  if (!HeaderDone) {
    ReadHeaderOrFirstRow(line);
    return;
  }
  bool read = false;
  if (Log.Kind == TLogKind::Classic) {
    // The second header line, or a header of a log appended to this one, is no row.
    if (line == csvlog::LogHeaderLine2 ||
        line.substr(0, ClassicHeaderStart().size()) == ClassicHeaderStart()) {
      return;
    }
    read = ReadClassicRow(line);
  } else {
    if (line == headless::ExtendedHeader) return;
    read = ReadExtendedRow(line);
  }
  if (!read) {
    AddBad(complete ? (Log.Kind == TLogKind::Classic ? "not a row of time, reading and volts"
                                                     : "not a row of the extended log")
                    : "the last line is cut short");
  }
}

void TLogParser::ReadHeaderOrFirstRow(std::string_view line) {
  const std::string_view classicStart = ClassicHeaderStart();
  if (line.substr(0, classicStart.size()) == classicStart) {
    Log.Kind = TLogKind::Classic;
    Log.DateText = std::string(Trim(line.substr(classicStart.size())));
    Log.Date = ParseShortDate(Log.DateText);
    HeaderDone = true;
    return;
  }
  if (line == headless::ExtendedHeader) {
    Log.Kind = TLogKind::Extended;
    Log.DecimalSeparator = ".";
    HeaderDone = true;
    return;
  }
  // A log whose header was cut off is still read, when its first line is a row.
  Log.Kind = TLogKind::Extended;
  Log.DecimalSeparator = ".";
  if (ReadExtendedRow(line)) {
    HeaderDone = true;
    return;
  }
  Log.Kind = TLogKind::Classic;
  Log.DecimalSeparator.clear();
  if (ReadClassicRow(line)) {
    HeaderDone = true;
    return;
  }
  Log.Kind = TLogKind::Unknown;
  // Binary files often begin with a line of text ("\x89PNG"); their first bytes give them away.
  if (!IsText(Head, true)) {
    Log.Error = Log.Name + ": binary data, this is not a log";
    return;
  }
  JudgedText = true;
  std::string start(line.substr(0, 40));
  Log.Error = Log.Name + ": line " + std::to_string(LineNumber) +
              ": not a log of kestlsugraph or kestlog (it begins \"" + start + "\")";
}

bool TLogParser::ReadClassicRow(std::string_view line) {
  std::array<std::string_view, 5> fields;
  const std::size_t count = SplitCommas(line, fields);
  TSample sample;
  sample.Lambda = std::numeric_limits<float>::quiet_NaN();
  TNumber reading, volts;
  if (count == 3) {
    // A point (or any separator but a comma): one field per number.
    if (Log.DecimalSeparator == ",") return false;
    std::string separator = Log.DecimalSeparator;
    if (!ParseWithSeparator(fields[1], separator, reading) ||
        !ParseWithSeparator(fields[2], separator, volts)) {
      return false;
    }
    if (Log.DecimalSeparator.empty()) Log.DecimalSeparator = separator;
  } else if (count == 5) {
    // A decimal comma splits each number in two: the reading has one or two decimals and the
    // volts one, and no field is ever empty, so the five fields pair up only one way.
    if (!Log.DecimalSeparator.empty() && Log.DecimalSeparator != ",") return false;
    if (!MakeNumber(fields[1], fields[2], reading) || !MakeNumber(fields[3], fields[4], volts)) {
      return false;
    }
    Log.DecimalSeparator = ",";
  } else {
    return false;
  }
  // Volts run from 0.0 to 16.0 with one decimal.
  if (volts.Decimals != 1 || volts.Digits > 2 || !ReadingFromNumber(reading, sample)) return false;
  bool twelveHour = false;
  const int dayTime = ParseTimeOfDay(fields[0], &twelveHour);
  if (dayTime < 0) return false;
  if (twelveHour) Log.TwelveHourClock = true;
  sample.Volts = static_cast<float>(volts.Value);
  AddClassicSample(dayTime, sample);
  return true;
}

void TLogParser::AddClassicSample(int dayTime, TSample sample) {
  if (LastDayTime >= 0 && dayTime < LastDayTime) {
    if (dayTime + HalfDay < LastDayTime) {
      DayOffset += SecondsPerDay;  // past midnight
    } else {
      // The clock was put back (summer time ended, or it was set): the rows go on from where the
      // log was, after a break, so that time never runs backwards on the chart.
      ClockShift += LastDayTime - dayTime;
      sample.BreakBefore = true;
    }
  }
  LastDayTime = dayTime;
  const std::int64_t second = dayTime + DayOffset + ClockShift;
  if (second != RunSecond) {
    if (RunSecond >= 0) PlaceClassicRun(second == RunSecond + 1);
    RunAfterGap = RunSecond < 0 || second != RunSecond + 1;
    RunSecond = second;
    RunStart = Log.Samples.size();
    RunCapacity = 0;
  }
  Log.Samples.push_back(sample);
  // Until the next second comes the run is taken to be still growing: its rows sit a sample
  // interval apart from the start of the second, as they were written. More rows than fit are
  // spread over the second, re-spread only when their count doubles so that a run of any length
  // costs constant time per row.
  const std::size_t count = Log.Samples.size() - RunStart;
  if (static_cast<double>(count) * Log.SampleInterval <= 1.0) {
    Log.Samples.back().Time = static_cast<double>(RunSecond) + (count - 0.5) * Log.SampleInterval;
  } else {
    if (count > RunCapacity) {
      RunCapacity = 2 * count;
      for (std::size_t i = 0; i + 1 < count; ++i) {
        Log.Samples[RunStart + i].Time =
            static_cast<double>(RunSecond) + (i + 0.5) / static_cast<double>(RunCapacity);
      }
    }
    Log.Samples.back().Time =
        static_cast<double>(RunSecond) + (count - 0.5) / static_cast<double>(RunCapacity);
  }
  MarkStale();
}

void TLogParser::PlaceClassicRun(bool nextSecondFollows) {
  const std::size_t count = Log.Samples.size() - RunStart;
  if (count == 0 || !nextSecondFollows) return;  // a run before a gap stays where it is
  double step = std::min(Log.SampleInterval, 1.0 / static_cast<double>(count));
  double first = 0.5 * step;
  if (!RunAfterGap) {
    // A whole second between two others: its rows fill it evenly, and it tells the sample rate.
    step = 1.0 / static_cast<double>(count);
    first = 0.5 * step;
    const std::size_t slot = std::min<std::size_t>(count, std::size(CountsPerSecond) - 1);
    ++CountsPerSecond[slot];
    const auto best = std::max_element(std::begin(CountsPerSecond), std::end(CountsPerSecond));
    Log.SampleInterval = 1.0 / static_cast<double>(best - std::begin(CountsPerSecond));
  } else {
    // The first second after a gap was entered part way: its rows end where the next begin.
    first = 1.0 - (static_cast<double>(count) - 0.5) * step;
  }
  for (std::size_t i = 0; i < count; ++i) {
    Log.Samples[RunStart + i].Time = static_cast<double>(RunSecond) + first + i * step;
  }
}

void TLogParser::MarkStale() {
  const std::size_t last = Log.Samples.size() - 1;
  if (last == 0) return;
  const TSample& now = Log.Samples[last];
  const TSample& before = Log.Samples[last - 1];
  if (now.Value != before.Value || now.Kind != before.Kind || now.Volts != before.Volts ||
      now.BreakBefore) {
    SameStart = last;
    return;
  }
  if (Log.Samples[last].Time - Log.Samples[SameStart].Time <= OfflineSeconds) return;
  for (std::size_t i = last; i > SameStart && !Log.Samples[i].Stale; --i) {
    Log.Samples[i].Stale = true;
  }
}

bool TLogParser::ReadExtendedRow(std::string_view line) {
  std::array<std::string_view, 7> fields;
  if (SplitCommas(line, fields) != 7) return false;
  TIsoTime time;
  TNumber reading, afr, lambda, volts;
  TSample sample;
  if (!ParseIsoTime(fields[0], time) || !ParsePointNumber(fields[1], reading) ||
      !ParsePointNumber(fields[2], afr) || !ParsePointNumber(fields[3], lambda) ||
      !ParsePointNumber(fields[4], volts) || !AllDigits(fields[5]) || fields[5].size() > 3 ||
      !ParseStatus(fields[6], sample.Status) || !ReadingFromNumber(reading, sample)) {
    return false;
  }
  sample.Lambda = static_cast<float>(lambda.Value);
  sample.Volts = static_cast<float>(volts.Value);
  const std::int64_t localDay = DaysFromCivil(time.Year, time.Month, time.Day);
  const std::int64_t utcMs = localDay * SecondsPerDay * 1000LL + time.DayMs - time.Offset * 1000LL;
  if (!HaveOrigin) {
    HaveOrigin = true;
    Log.Date = {time.Year, time.Month, time.Day, false};
    Log.UtcOffsetSeconds = time.Offset;
    OriginMidnightUtc = (localDay * SecondsPerDay - time.Offset) * 1000LL;
  }
  // Times count from midnight of the first day in the first row's zone, so that a change of
  // summer time in the log neither jumps nor runs back.
  sample.Time = static_cast<double>(utcMs - OriginMidnightUtc) / 1000.0;
  if (!Log.Samples.empty()) {
    const double previous = Log.Samples.back().Time;
    if (sample.Time < previous) {
      sample.Time = previous;
      sample.BreakBefore = true;
    } else {
      UpdateExtendedInterval(sample.Time - previous);
    }
  }
  Log.Samples.push_back(sample);
  return true;
}

void TLogParser::UpdateExtendedInterval(double delta) {
  const long steps = std::lround(delta * 100.0);
  if (steps <= 0 || steps >= static_cast<long>(std::size(DeltaCounts))) return;
  ++DeltaCounts[steps];
  const auto best = std::max_element(std::begin(DeltaCounts), std::end(DeltaCounts));
  Log.SampleInterval = static_cast<double>(best - std::begin(DeltaCounts)) / 100.0;
}

TLogData ParseLogText(std::string_view text, const std::string& name) {
  TLogParser parser(name);
  parser.Feed(text);
  parser.Finish();
  return std::move(parser.Data());
}

std::string SkippedRowsText(const TLogData& log) {
  if (!log.Error.empty()) return log.Error;
  if (log.SkippedRows == 0) return {};
  const TBadLine& first = log.FirstBadLines.front();
  return log.Name + ": " + std::to_string(log.SkippedRows) +
         (log.SkippedRows == 1 ? " row" : " rows") + " skipped (line " +
         std::to_string(first.Line) + ": " + first.Reason + ")";
}

}  // namespace viewer
