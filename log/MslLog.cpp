// The MSL text log: writing its header lines and rows, and reading ours back.
#include "log/MslLog.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "log/CivilTime.h"
#include "text/Words.h"

namespace csvlog {

namespace {

constexpr int AfrDecimals = 2;
// One step of the controller's byte is under 0.01 lambda: three decimals keep the steps apart.
constexpr int LambdaDecimals = 3;

// `value` in fixed notation with a point, appended without a temporary string.
void AppendFixed(std::string& text, double value, int decimals) {
  std::array<char, 48> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  // Only a value too large for the buffer fails; nothing we log comes near it.
  if (result.ec == std::errc()) text.append(buffer.data(), result.ptr);
}

void AppendInteger(std::string& text, long long value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  text.append(buffer.data(), result.ptr);
}

// The reading is a lambda and the extended log would name a second Lambda column.
bool ReadingIsLambda(TReadingKind kind) { return kind == TReadingKind::Lambda; }

constexpr std::array<TRowStatus, 4> StatusCodes = {TRowStatus::Live, TRowStatus::Warmup,
                                                   TRowStatus::Offline, TRowStatus::LowVolts};

constexpr std::string_view CaptureDatePrefix = "\"Capture Date: ";

// The programs of ours that write MSL logs, as the program line names them.
constexpr std::array<std::string_view, 3> OurPrograms = {"kestlog", "kestview", "kestlsugraph"};

// The names and units lines of every layout we write, from the writer itself: a file reads back
// only as what the writer can produce.
struct TLayoutLines {
  TMslLayout Layout;
  std::string Names;
  std::string Units;
};

const std::array<TLayoutLines, 4>& LayoutLines() {
  static const std::array<TLayoutLines, 4> lines = [] {
    std::array<TLayoutLines, 4> all;
    std::size_t i = 0;
    for (const TMslColumns columns : {TMslColumns::Classic, TMslColumns::Extended}) {
      for (const TReadingKind kind : {TReadingKind::Afr, TReadingKind::Lambda}) {
        const std::vector<std::string> header = MslHeaderLines("", {}, columns, kind);
        all[i++] = {{columns, kind}, header[2], header[3]};
      }
    }
    return all;
  }();
  return lines;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number as the rows write them: digits, then a point and up to three decimals. Nine digits at
// most before the point (the time of a month-long log has seven), so the value stays exact.
bool ReadDecimal(std::string_view text, double& value) {
  const std::size_t point = std::min(text.find('.'), text.size());
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point < text.size() ? text.substr(point + 1) : "";
  if (whole.empty() || whole.size() > 9 || fraction.size() > 3 ||
      (point < text.size() && fraction.empty()) ||
      !std::all_of(whole.begin(), whole.end(), IsDigit) ||
      !std::all_of(fraction.begin(), fraction.end(), IsDigit)) {
    return false;
  }
  std::int64_t digits = 0;
  std::int64_t scale = 1;
  for (const char c : whole) digits = digits * 10 + (c - '0');
  for (const char c : fraction) {
    digits = digits * 10 + (c - '0');
    scale *= 10;
  }
  // Divided once, so "14.70" gives the double nearest 14.7, as the other logs' readers do.
  value = static_cast<double>(digits) / static_cast<double>(scale);
  return true;
}

// A whole number of at most `maxDigits` digits.
bool ReadWhole(std::string_view text, std::size_t maxDigits, int& value) {
  if (text.empty() || text.size() > maxDigits || !std::all_of(text.begin(), text.end(), IsDigit)) {
    return false;
  }
  value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  return true;
}

}  // namespace

int MslStatusCode(TRowStatus status) {
  for (std::size_t i = 0; i < StatusCodes.size(); ++i) {
    if (StatusCodes[i] == status) return static_cast<int>(i);
  }
  return MslStatusCode(TRowStatus::Offline);
}

bool MslStatusOf(double code, TRowStatus& status) {
  for (std::size_t i = 0; i < StatusCodes.size(); ++i) {
    if (code == static_cast<double>(i)) {
      status = StatusCodes[i];
      return true;
    }
  }
  return false;
}

TMslValues MslValuesOf(const TSample& sample) {
  const std::uint8_t afrByte = sample.Frame.AfrByte;
  TMslValues values;
  values.Reading = sensor::CalcKest(afrByte, sample.DisplayMode, sample.FuelType);
  values.Lambda = sensor::CalcKest(afrByte, sensor::dmLambda, sensor::ftPetrol);
  values.Volts = sample.SupplyVolts;
  values.Temp = sample.Frame.TempByte;
  values.Status = sample.Status;
  return values;
}

std::vector<std::string> MslHeaderLines(const std::string& program, const TMslCaptureDate& date,
                                        TMslColumns columns, TReadingKind kind) {
  std::string capture = "\"Capture Date: ";
  if (date.Year != 0) {
    // ISO 8601 with milliseconds (and the offset where known), which the readers of this format
    // take to the millisecond: the rows can be lined up with an engine log by the clock.
    const std::int64_t localMs =
        DaysFromCivil(date.Year, date.Month, date.Day) * MsPerDay + date.DayMs;
    const int offset = date.OffsetSeconds.value_or(0);
    std::string iso = IsoTimestamp(localMs - offset * 1000LL, offset);
    if (!date.OffsetSeconds) iso.resize(iso.size() - 6);  // no "+00:00" for an unknown zone
    capture += iso;
  } else {
    // The time of day alone, "14:03:27.123", when the log gave no date.
    capture += IsoTimestamp(date.DayMs, 0).substr(11, 12);
  }
  capture += '"';

  const bool lambdaReading = ReadingIsLambda(kind);
  std::string names = "Time\t";
  names += lambdaReading ? "Lambda" : "AFR";
  names += "\tVolts";
  std::string units = "s\t";
  units += lambdaReading ? "lambda" : "AFR";
  units += "\tV";
  if (columns == TMslColumns::Extended) {
    if (!lambdaReading) {
      names += "\tLambda";
      units += "\tlambda";
    }
    names += "\tTemp\tStatus";
    units += "\tcode\tcode";
  }
  return {"\"" + program + "\"", capture, names, units};
}

const std::string& MslRow(std::string& row, double seconds, const TMslValues& values,
                          TMslColumns columns, TReadingKind kind) {
  const bool lambdaReading = ReadingIsLambda(kind);
  row.clear();
  AppendFixed(row, seconds, 3);
  row += '\t';
  AppendFixed(row, values.Reading, lambdaReading ? LambdaDecimals : AfrDecimals);
  row += '\t';
  AppendFixed(row, values.Volts, 2);
  if (columns == TMslColumns::Extended) {
    if (!lambdaReading) {
      row += '\t';
      AppendFixed(row, values.Lambda, LambdaDecimals);
    }
    row += '\t';
    AppendInteger(row, values.Temp);
    row += '\t';
    AppendInteger(row, MslStatusCode(values.Status));
  }
  return row;
}

bool IsOurMslProgramLine(std::string_view line) {
  line = text::Trim(line);
  if (line.size() < 2 || line.front() != '"' || line.back() != '"') return false;
  const std::string_view text = line.substr(1, line.size() - 2);
  if (text.find('"') != std::string_view::npos) return false;
  return std::any_of(OurPrograms.begin(), OurPrograms.end(), [text](std::string_view program) {
    return text.substr(0, program.size()) == program &&
           (text.size() == program.size() || text[program.size()] == ' ');
  });
}

bool ReadMslCaptureDate(std::string_view line, TMslCaptureDate& date) {
  line = text::Trim(line);
  if (line.size() <= CaptureDatePrefix.size() + 1 ||
      line.substr(0, CaptureDatePrefix.size()) != CaptureDatePrefix || line.back() != '"') {
    return false;
  }
  const std::string_view text =
      line.substr(CaptureDatePrefix.size(), line.size() - CaptureDatePrefix.size() - 1);
  TIsoTime time;
  if (ReadIsoTime(text, time)) {
    date = {time.Year, time.Month, time.Day, time.DayMs, time.OffsetSeconds};
    return true;
  }
  const std::int64_t dayMs = ReadClockTime(text);
  if (dayMs < 0) return false;
  date = {};
  date.DayMs = dayMs;
  return true;
}

bool ReadMslNames(std::string_view line, TMslLayout& layout) {
  line = text::Trim(line);
  for (const TLayoutLines& lines : LayoutLines()) {
    if (line == lines.Names) {
      layout = lines.Layout;
      return true;
    }
  }
  return false;
}

bool IsMslUnits(std::string_view line, const TMslLayout& layout) {
  line = text::Trim(line);
  return std::any_of(LayoutLines().begin(), LayoutLines().end(), [&](const TLayoutLines& lines) {
    return lines.Layout.Columns == layout.Columns && lines.Layout.Kind == layout.Kind &&
           line == lines.Units;
  });
}

bool ReadMslRow(std::string_view line, const TMslLayout& layout, double& seconds,
                TMslValues& values) {
  const bool extended = layout.Columns == TMslColumns::Extended;
  const bool lambdaReading = ReadingIsLambda(layout.Kind);
  const std::size_t count = !extended ? 3 : lambdaReading ? 5 : 6;
  std::array<std::string_view, 6> fields;
  std::size_t found = 0;
  line = text::Trim(line);
  while (found < count) {
    const std::size_t tab = line.find('\t');
    fields[found++] = line.substr(0, tab);
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
    if (found == count) return false;  // more fields than the layout has
  }
  if (found != count) return false;
  TMslValues read = values;
  std::size_t at = 0;
  if (!ReadDecimal(fields[at++], seconds) || !ReadDecimal(fields[at++], read.Reading) ||
      !ReadDecimal(fields[at++], read.Volts)) {
    return false;
  }
  if (extended) {
    if (!lambdaReading && !ReadDecimal(fields[at++], read.Lambda)) return false;
    if (lambdaReading) read.Lambda = read.Reading;
    int code = 0;
    // The temperature code is at most three digits, as in the extended log.
    if (!ReadWhole(fields[at++], 3, read.Temp) || !ReadWhole(fields[at++], 1, code) ||
        !MslStatusOf(code, read.Status)) {
      return false;
    }
  }
  values = read;
  return true;
}

bool IsOurMslHead(std::string_view head, bool wholeFile) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  int next = 0;  // the header line due: program, capture date, names, units
  TMslLayout layout;
  TMslCaptureDate date;
  while (next < 4) {
    const std::size_t end = head.find_first_of("\r\n");
    if (end == std::string_view::npos && !wholeFile) break;  // the line is still being written
    const std::string_view line = text::Trim(head.substr(0, end));
    if (!line.empty()) {
      const bool expected = next == 0   ? IsOurMslProgramLine(line)
                            : next == 1 ? ReadMslCaptureDate(line, date)
                            : next == 2 ? ReadMslNames(line, layout)
                                        : IsMslUnits(line, layout);
      if (!expected) return false;
      ++next;
    }
    if (end == std::string_view::npos) break;
    head.remove_prefix(end + 1);
  }
  return next > 0;
}

}  // namespace csvlog
