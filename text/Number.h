// Numbers read from text the same on every machine: the decimal mark is the caller's, never the
// user's locale, and a number is the whole text or nothing. Each caller states what it accepts
// around the digits (blanks, a '+', a decimal comma, infinities) in a TNumberForm.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace text {

// How a caller's numbers are written. The default is the strictest: a C number and nothing else
// ("14.7", "-3", "1e3"; not "+3", " 3", "14,7"), finite.
struct TNumberForm {
  // Characters passed over before and after the number (" \t": blanks and tabs); none by default.
  std::string_view Blanks;
  // "+3" reads as 3. The sign is taken off before the number is read, so "+-3" reads as -3.
  bool Plus = false;
  // Each character that marks the decimals: "," for a decimal comma, ",." for either. A point not
  // in the list is refused, so "1.5" is no number where only a comma marks decimals.
  std::string_view Decimals = ".";
  // "inf", "nan" and their kin are refused. A reader that stores what a file says may keep them.
  bool Finite = true;
};

// `text` as a double in `form`, or nothing when the text is empty, holds anything but the number,
// or the number lies beyond a double's range ("1e999"). Allocates only for a number of more than
// 64 characters written with a decimal mark other than the point.
std::optional<double> ParseNumber(std::string_view text, const TNumberForm& form = {});

// `text` as a whole number of type T in decimal digits ('-' only for a signed T); nothing when
// the text is empty, holds anything else (a '+', blanks, a point) or lies beyond T's range.
template <typename T>
std::optional<T> ParseWhole(std::string_view text) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace text
