// Reading our log rows back: the grammar of both rows, the headers, times and dates.
#include "log/RowGrammar.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "log/CsvLog.h"
#include "text/Words.h"

namespace csvlog {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

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

bool Fixed(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size() || !AllDigits(text.substr(at, count))) return false;
  value = DigitsValue(text.substr(at, count));
  return true;
}

// "14:03:27.123" from `at` (the fraction optional, any number of its digits): the time of day in
// milliseconds, and `at` past it. A leap second counts as the second before it.
bool ParseClock(std::string_view text, std::size_t& at, std::int64_t& dayMs) {
  int hour = 0, minute = 0, second = 0;
  if (!Fixed(text, at, 2, hour) || text.size() < at + 8 || text[at + 2] != ':' ||
      !Fixed(text, at + 3, 2, minute) || text[at + 5] != ':' || !Fixed(text, at + 6, 2, second) ||
      hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  at += 8;
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
  dayMs = (hour * 3600 + minute * 60 + std::min(second, 59)) * 1000LL + millis;
  return true;
}

// The reading text is at most four characters: an air-fuel ratio "dd.d" or "d.d", a lambda
// "d.dd". Anything else was not written by the window's formatting.
bool ReadingFromNumber(const TNumber& number, TReadingKind& kind, double& value) {
  if (number.Decimals == 1 && number.Digits <= 2) {
    kind = TReadingKind::Afr;
  } else if (number.Decimals == 2 && number.Digits == 1) {
    kind = TReadingKind::Lambda;
  } else {
    return false;
  }
  value = number.Value;
  return true;
}

// "Torvane KEST datalog." as the window writes it, without the spaces before the date.
std::string_view ClassicHeaderStart() {
  static const std::string start = [] {
    std::string line = LogHeaderLine1("");
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  }();
  return start;
}

}  // namespace

bool ReadIsoTime(std::string_view text, TIsoTime& time) {
  if (!Fixed(text, 0, 4, time.Year) || text.size() < 11 || text[4] != '-' ||
      !Fixed(text, 5, 2, time.Month) || text[7] != '-' || !Fixed(text, 8, 2, time.Day) ||
      (text[10] != 'T' && text[10] != ' ') || time.Month < 1 || time.Month > 12 || time.Day < 1 ||
      time.Day > 31) {
    return false;
  }
  std::size_t at = 11;
  if (!ParseClock(text, at, time.DayMs)) return false;
  time.OffsetSeconds.reset();
  if (at == text.size()) return true;
  if (text[at] == 'Z' && at + 1 == text.size()) {
    time.OffsetSeconds = 0;
    return true;
  }
  int offsetHours = 0, offsetMinutes = 0;
  if ((text[at] != '+' && text[at] != '-') || text.size() != at + 6 ||
      !Fixed(text, at + 1, 2, offsetHours) || text[at + 3] != ':' ||
      !Fixed(text, at + 4, 2, offsetMinutes)) {
    return false;
  }
  time.OffsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (text[at] == '-' ? -1 : 1);
  return true;
}

std::int64_t ReadClockTime(std::string_view text) {
  std::size_t at = 0;
  std::int64_t dayMs = 0;
  if (!ParseClock(text, at, dayMs) || at != text.size()) return -1;
  return dayMs;
}

int ParseTimeOfDay(std::string_view text, bool* twelveHour) {
  text = text::Trim(text);
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

bool IsClassicHeader(std::string_view line, std::string* dateText) {
  const std::string_view start = ClassicHeaderStart();
  if (line.substr(0, start.size()) != start) return false;
  if (dateText != nullptr) *dateText = std::string(text::Trim(line.substr(start.size())));
  return true;
}

bool IsClassicColumns(std::string_view line) { return line == LogHeaderLine2; }

bool IsExtendedHeader(std::string_view line) { return line == ExtendedHeader; }

bool ReadClassicRow(std::string_view line, std::string& separator, TClassicFields& row) {
  std::array<std::string_view, 5> fields;
  const std::size_t count = SplitCommas(line, fields);
  TNumber reading, volts;
  if (count == 3) {
    // A point (or any separator but a comma): one field per number.
    if (separator == ",") return false;
    std::string found = separator;
    if (!ParseWithSeparator(fields[1], found, reading) ||
        !ParseWithSeparator(fields[2], found, volts)) {
      return false;
    }
    if (separator.empty()) separator = found;
  } else if (count == 5) {
    // A decimal comma splits each number in two: the reading has one or two decimals and the
    // volts one, and no field is ever empty, so the five fields pair up only one way.
    if (!separator.empty() && separator != ",") return false;
    if (!MakeNumber(fields[1], fields[2], reading) || !MakeNumber(fields[3], fields[4], volts)) {
      return false;
    }
    separator = ",";
  } else {
    return false;
  }
  // Volts run from 0.0 to 16.0 with one decimal.
  if (volts.Decimals != 1 || volts.Digits > 2 ||
      !ReadingFromNumber(reading, row.Kind, row.Reading)) {
    return false;
  }
  row.TwelveHour = false;
  row.DayTime = ParseTimeOfDay(fields[0], &row.TwelveHour);
  if (row.DayTime < 0) return false;
  row.Volts = volts.Value;
  return true;
}

bool ReadExtendedRow(std::string_view line, TExtendedFields& row) {
  std::array<std::string_view, 7> fields;
  if (SplitCommas(line, fields) != 7) return false;
  TIsoTime time;
  TNumber reading, afr, lambda, volts;
  if (!ReadIsoTime(fields[0], time) || !ParsePointNumber(fields[1], reading) ||
      !ParsePointNumber(fields[2], afr) || !ParsePointNumber(fields[3], lambda) ||
      !ParsePointNumber(fields[4], volts) || !AllDigits(fields[5]) || fields[5].size() > 3 ||
      !ParseStatusWord(fields[6], row.Status) ||
      !ReadingFromNumber(reading, row.Kind, row.Reading)) {
    return false;
  }
  row.Year = time.Year;
  row.Month = time.Month;
  row.Day = time.Day;
  row.DayMs = time.DayMs;
  row.OffsetSeconds = time.OffsetSeconds.value_or(0);
  row.Lambda = lambda.Value;
  row.Volts = volts.Value;
  // At most three digits, checked above: always a number in range.
  std::from_chars(fields[5].data(), fields[5].data() + fields[5].size(), row.Temp);
  return true;
}

}  // namespace csvlog
