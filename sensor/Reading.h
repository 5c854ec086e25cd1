// Turning the controller's mixture byte into what the user asked for, and the text forms in which
// readings and volts are shown, logged and put into the title.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sensor {

inline constexpr int dmAirFuelRatio = 1;  // DisplayMode
inline constexpr int dmLambda = 2;
inline constexpr int ftPetrol = 1;  // FuelType
inline constexpr int ftMethanol = 2;
inline constexpr int ftPropane = 3;

// The fuel a command line names: "petrol", "methanol" or "propane"; nothing for any other word.
std::optional<int> FuelTypeNamed(std::string_view name);

// The reading: petrol AFR clamped to 10..20, as lambda (AFR / 14.7) in lambda mode, otherwise as
// the air-fuel ratio of the chosen fuel (lambda x 6.4 for methanol, x 15.5 for propane).
double CalcKest(std::uint8_t afrByte, int displayMode, int fuelType);

// `value` rounded to three significant digits, then written in fixed notation with exactly
// `decimals` decimals and `decimalSeparator` in place of the point. Never depends on the C locale.
std::string FormatPrecision3(double value, int decimals, const std::string& decimalSeparator);

// Read-out and log text: one decimal in AFR mode, two in lambda mode, cut to at most 4 characters.
std::string ReadingText(double reading, int displayMode, const std::string& decimalSeparator);
// Application title while in the background: " AFR = 14.7" or " LAMBDA = 1.00" (not cut).
std::string TitleText(double reading, int displayMode, const std::string& decimalSeparator);
// Supply volts with one decimal and no unit, such as "12.5".
std::string VoltageText(double volts, const std::string& decimalSeparator);

}  // namespace sensor
