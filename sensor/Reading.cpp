// The mixture byte as the reading the user chose, and the texts that show, log and title it.
#include "sensor/Reading.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace sensor {

std::optional<int> FuelTypeNamed(std::string_view name) {
  if (name == "petrol") return ftPetrol;
  if (name == "methanol") return ftMethanol;
  if (name == "propane") return ftPropane;
  return std::nullopt;
}

namespace {

constexpr long double LowerClamp = 10.0L;
constexpr long double UpperClamp = 20.0L;
constexpr long double PetrolStoichiometric = 14.7L;
constexpr long double MethanolFactor = 6.4L;
constexpr long double PropaneFactor = 15.5L;

constexpr int SignificantDigits = 3;
// More decimals than a double carries mean nothing; the cap also bounds the text buffer.
constexpr int MaxDecimals = 20;
// The read-out and the log column were laid out for four characters.
constexpr std::size_t ReadingTextLength = 4;

// Sign, the 309 integer digits of the largest double, the point and the decimals, with room over.
using TNumberBuffer = std::array<char, 1 + 309 + 1 + MaxDecimals + 8>;

// Writes `value` into `buffer` as FormatPrecision3 does, with '.' as the point; returns the length.
// Kept in a fixed buffer so that the texts of a sample allocate nothing.
std::size_t WritePrecision3(double value, int decimals, TNumberBuffer& buffer) {
  decimals = std::clamp(decimals, 0, MaxDecimals);
  char* const first = buffer.data();
  char* const last = buffer.data() + buffer.size();

  if (std::isnan(value)) {
    constexpr std::string_view nan = "nan";
    return static_cast<std::size_t>(std::copy(nan.begin(), nan.end(), first) - first);
  }
  if (std::isinf(value)) {
    const std::string_view inf = value < 0 ? "-inf" : "inf";
    return static_cast<std::size_t>(std::copy(inf.begin(), inf.end(), first) - first);
  }

  // The three significant digits, correctly rounded from the binary value: "d.dde+XX". The
  // exponent is that of the rounded value, so 9.996 counts as 10.0 and keeps one decimal.
  std::array<char, 32> scientific{};
  const auto sci = std::to_chars(scientific.data(), scientific.data() + scientific.size(), value,
                                 std::chars_format::scientific, SignificantDigits - 1);
  const char* exponentText = std::find(scientific.data(), sci.ptr, 'e') + 1;
  if (*exponentText == '+') ++exponentText;
  int exponent = 0;
  std::from_chars(exponentText, sci.ptr, exponent);

  char* end = first;
  const int significantDecimals = SignificantDigits - 1 - exponent;
  if (significantDecimals >= 0) {
    // Rounded once, at whichever limit comes first: the third significant digit or the last
    // decimal. Rounding to three digits and then again to fewer decimals would round twice and
    // turn 6.449 into 6.45 and then 6.5, by way of a half that was never there; rounded once,
    // every reading the controller can produce gets plain rounding.
    const int roundedDecimals = std::min(decimals, significantDecimals);
    end = std::to_chars(first, last, value, std::chars_format::fixed, roundedDecimals).ptr;
    if (roundedDecimals < decimals) {
      if (roundedDecimals == 0) *end++ = '.';
      end = std::fill_n(end, decimals - roundedDecimals, '0');
    }
  } else {
    // A thousand or more: the three digits followed by zeros, as fixed notation writes them.
    const char* digit = scientific.data();
    if (*digit == '-') *end++ = *digit++;
    *end++ = *digit++;  // first digit
    ++digit;            // the point
    *end++ = *digit++;
    *end++ = *digit++;
    end = std::fill_n(end, exponent - (SignificantDigits - 1), '0');
    if (decimals > 0) {
      *end++ = '.';
      end = std::fill_n(end, decimals, '0');
    }
  }

  // A negative value that rounds to zero is shown as zero, not as "-0.0".
  if (*first == '-' && std::all_of(first + 1, end, [](char c) { return c == '0' || c == '.'; })) {
    std::copy(first + 1, end, first);
    --end;
  }
  return static_cast<std::size_t>(end - first);
}

// The ASCII number with its point replaced by the locale's separator, which may be longer than
// one byte.
std::string WithSeparator(std::string_view number, const std::string& decimalSeparator) {
  std::string text;
  text.reserve(number.size() + decimalSeparator.size());
  const std::size_t point = number.find('.');
  if (point == std::string_view::npos) {
    text.append(number);
  } else {
    text.append(number.substr(0, point));
    text.append(decimalSeparator);
    text.append(number.substr(point + 1));
  }
  return text;
}

int ReadingDecimals(int displayMode) { return displayMode == dmAirFuelRatio ? 1 : 2; }

}  // namespace

double CalcKest(std::uint8_t afrByte, int displayMode, int fuelType) {
  long double afr = static_cast<long double>(afrByte) / 10.0L;
  // The upper limit is tested first; as the limits do not overlap, only one can apply.
  if (afr > UpperClamp) afr = UpperClamp;
  if (afr < LowerClamp) afr = LowerClamp;
  const long double lambda = afr / PetrolStoichiometric;
  if (displayMode != dmAirFuelRatio) return static_cast<double>(lambda);
  switch (fuelType) {
    case ftMethanol:
      return static_cast<double>(lambda * MethanolFactor);
    case ftPropane:
      return static_cast<double>(lambda * PropaneFactor);
    default:
      // Petrol, and anything the menu cannot set: the controller's own scale.
      return static_cast<double>(afr);
  }
}

std::string FormatPrecision3(double value, int decimals, const std::string& decimalSeparator) {
  TNumberBuffer buffer;
  const std::size_t length = WritePrecision3(value, decimals, buffer);
  return WithSeparator(std::string_view(buffer.data(), length), decimalSeparator);
}

std::string ReadingText(double reading, int displayMode, const std::string& decimalSeparator) {
  TNumberBuffer buffer;
  const std::size_t length = WritePrecision3(reading, ReadingDecimals(displayMode), buffer);
  // Cut while the point is still one byte: a separator of several bytes (a UTF-8 character) then
  // counts as the one character it is and is never split.
  const std::string_view number(buffer.data(), std::min(length, ReadingTextLength));
  return WithSeparator(number, decimalSeparator);
}

std::string TitleText(double reading, int displayMode, const std::string& decimalSeparator) {
  const char* const label = displayMode == dmAirFuelRatio ? " AFR = " : " LAMBDA = ";
  return label + FormatPrecision3(reading, ReadingDecimals(displayMode), decimalSeparator);
}

std::string VoltageText(double volts, const std::string& decimalSeparator) {
  return FormatPrecision3(volts, 1, decimalSeparator);
}

}  // namespace sensor
