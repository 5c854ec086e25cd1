// The rows our programs log: classic and extended, their headers and status words.
#include "log/RowFormat.h"

#include <array>
#include <charconv>
#include <cstdlib>

#include "log/CivilTime.h"
#include "log/CsvLog.h"

namespace csvlog {

namespace {

// The extended format is for programs: its numbers always use a point.
const std::string Point = ".";

// `value` (0 to 9999) with at least `width` digits, zeros in front.
void AppendDigits(std::string& text, int value, int width) {
  std::array<char, 8> digits{};
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && count < static_cast<int>(digits.size()));
  for (int i = count; i < width; ++i) text += '0';
  while (count > 0) text += digits[--count];
}

// Everything of the extended row after its time: ,reading,afr,lambda,volts,temp,status. Each
// number's text is a few characters, short enough for a string's own room: no allocation.
void AppendExtendedColumns(std::string& row, const TSample& sample) {
  const std::uint8_t afrByte = sample.Frame.AfrByte;
  const double reading = sensor::CalcKest(afrByte, sample.DisplayMode, sample.FuelType);
  const double petrolAfr = sensor::CalcKest(afrByte, sensor::dmAirFuelRatio, sensor::ftPetrol);
  const double lambda = sensor::CalcKest(afrByte, sensor::dmLambda, sensor::ftPetrol);
  row += ',';
  row += sensor::ReadingText(reading, sample.DisplayMode, Point);
  row += ',';
  row += PointDecimal(petrolAfr, 1);
  row += ',';
  // Three decimals and two for the volts: one step of the controller's byte then always changes
  // the text, which the window's rounding to three digits does not promise.
  row += PointDecimal(lambda, 3);
  row += ',';
  row += PointDecimal(sample.SupplyVolts, 2);
  row += ',';
  row += std::to_string(sample.Frame.TempByte);
  row += ',';
  row += StatusWord(sample.Status);
}

constexpr std::array<std::pair<TRowStatus, const char*>, 4> StatusWords = {{
    {TRowStatus::Live, "live"},
    {TRowStatus::Warmup, "warmup"},
    {TRowStatus::Offline, "offline"},
    {TRowStatus::LowVolts, "lowvolts"},
}};

}  // namespace

const char* StatusWord(TRowStatus status) {
  for (const auto& [value, word] : StatusWords) {
    if (value == status) return word;
  }
  return "offline";
}

bool ParseStatusWord(std::string_view word, TRowStatus& status) {
  for (const auto& [value, text] : StatusWords) {
    if (word == text) {
      status = value;
      return true;
    }
  }
  return false;
}

std::string PointDecimal(double value, int decimals) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  return std::string(buffer.data(), result.ptr);
}

std::vector<std::string> HeaderLines(TRowFormat format, const std::string& dateText) {
  if (format == TRowFormat::Extended) return {ExtendedHeader};
  if (format == TRowFormat::Msl) return {};
  return {LogHeaderLine1(dateText), LogHeaderLine2};
}

const std::string& ClassicRow(std::string& row, std::string_view timeText, const TSample& sample,
                              const std::string& decimalSeparator) {
  const double reading =
      sensor::CalcKest(sample.Frame.AfrByte, sample.DisplayMode, sample.FuelType);
  // Both texts are a few characters, short enough for the string's own room: no allocation.
  LogRowInto(row, timeText, sensor::ReadingText(reading, sample.DisplayMode, decimalSeparator),
             sensor::VoltageText(sample.SupplyVolts, decimalSeparator));
  return row;
}

std::string ExtendedRow(const std::string& isoTime, const TSample& sample) {
  std::string row = isoTime;
  AppendExtendedColumns(row, sample);
  return row;
}

const std::string& ExtendedRow(std::string& row, std::int64_t utcMs, int offsetSeconds,
                               const TSample& sample) {
  row.clear();  // keeps the capacity
  AppendIsoTimestamp(row, utcMs, offsetSeconds);
  AppendExtendedColumns(row, sample);
  return row;
}

std::string IsoTimestamp(std::int64_t utcMs, int offsetSeconds) {
  std::string text;
  text.reserve(29);
  AppendIsoTimestamp(text, utcMs, offsetSeconds);
  return text;
}

void AppendIsoTimestamp(std::string& text, std::int64_t utcMs, int offsetSeconds) {
  const TCivilTime local = CivilTimeOf(utcMs + offsetSeconds * 1000LL);
  AppendDigits(text, local.Year, 4);
  text += '-';
  AppendDigits(text, local.Month, 2);
  text += '-';
  AppendDigits(text, local.Day, 2);
  text += 'T';
  AppendDigits(text, static_cast<int>(local.DayMs / 3600000), 2);
  text += ':';
  AppendDigits(text, static_cast<int>(local.DayMs / 60000 % 60), 2);
  text += ':';
  AppendDigits(text, static_cast<int>(local.DayMs / 1000 % 60), 2);
  text += '.';
  AppendDigits(text, static_cast<int>(local.DayMs % 1000), 3);
  const int minutes = std::abs(offsetSeconds) / 60;
  text += offsetSeconds < 0 ? '-' : '+';
  AppendDigits(text, minutes / 60, 2);
  text += ':';
  AppendDigits(text, minutes % 60, 2);
}

}  // namespace csvlog
