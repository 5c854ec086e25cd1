// Which mixture values can be measurements, and an engine mixture channel's unit.
#include "viewer/logs/MixtureValue.h"

#include <cmath>
#include <cstdio>

#include "text/Words.h"

namespace viewer {

namespace {

// A float carries about seven digits: the ends are widened by less than its last one.
constexpr double FloatRounding = 1e-6;

}  // namespace

bool TPlausibleRange::Holds(double value) const {
  return value >= Low * (1 - FloatRounding) && value <= High * (1 + FloatRounding);
}

TPlausibleRange PlausibleRange(const TDisplay& unit) {
  if (unit.DisplayMode == sensor::dmLambda) return {};
  const double stoichiometric = StoichiometricAfr(unit.FuelType);
  return {RichestLambda * stoichiometric, LeanestLambda * stoichiometric};
}

bool IsPlausibleMixture(double value, const TDisplay& unit) {
  return PlausibleRange(unit).Holds(value);
}

std::string PlausibleRangeText() {
  char text[64];
  std::snprintf(text, sizeof text, "lambda %.1f to %.1f", RichestLambda, LeanestLambda);
  return text;
}

bool IsLambdaChannel(const enginelog::TChannel& channel) {
  if (text::ContainsNoCase(channel.Name, "afr") || text::ContainsNoCase(channel.Unit, "afr"))
    return false;
  if (text::ContainsNoCase(channel.Name, "lambda") ||
      text::ContainsNoCase(channel.Unit, "lambda") ||
      text::ContainsNoCase(channel.Unit, "\xce\xbb")) {
    return true;
  }
  double sum = 0;
  std::size_t n = 0;
  for (const float value : channel.Values) {
    if (std::isnan(value)) continue;
    sum += value;
    if (++n == 10000) break;
  }
  return n > 0 && sum / static_cast<double>(n) < 3.0;
}

double ChannelScale(const enginelog::TChannel& channel, const TDisplay& unit) {
  const bool lambda = IsLambdaChannel(channel);
  const bool wantLambda = unit.DisplayMode == sensor::dmLambda;
  const double stoichiometric = StoichiometricAfr(unit.FuelType);
  return lambda == wantLambda ? 1.0 : (wantLambda ? 1.0 / stoichiometric : stoichiometric);
}

}  // namespace viewer
