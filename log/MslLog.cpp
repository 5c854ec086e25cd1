// Writing the MSL text log: its header lines and its rows.
#include "log/MslLog.h"

#include <array>
#include <charconv>

#include "log/CivilTime.h"

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

}  // namespace csvlog
