// A mixture value as the viewer judges it: which values can be a measurement at all, and how an
// engine log's mixture channel reads in the user's unit. The table, the chart and the summaries
// all ask here, so that a wideband sensor reporting its own fault (0, full scale) is left out
// the same way everywhere.
#pragma once

#include <string>

#include "log/Log.h"
#include "viewer/logs/Summary.h"

namespace viewer {

// No engine runs, and no wideband sensor measures, outside these lambdas: a value beyond them is
// a sensor that is not connected, not warm or reporting a fault, never a mixture.
inline constexpr double RichestLambda = 0.5;
inline constexpr double LeanestLambda = 2.0;

// The values of one unit that can be a mixture, both ends included.
struct TPlausibleRange {
  double Low = RichestLambda;
  double High = LeanestLambda;
  // Whether `value` can be a measured mixture; false for NaN. Values are logged as floats, so a
  // float's rounding of either end (7.35 AFR is 7.3499999 as a float) still counts as that end.
  bool Holds(double value) const;
};

// The plausible range in `unit`'s values: lambda 0.5 to 2.0, or those lambdas as air-fuel ratios
// of the unit's fuel (7.35 to 29.4 on petrol).
TPlausibleRange PlausibleRange(const TDisplay& unit);
// Whether `value`, in `unit`'s values, can be a measured mixture.
bool IsPlausibleMixture(double value, const TDisplay& unit);
// "lambda 0.5 to 2.0", for the messages that say why values were left out.
std::string PlausibleRangeText();

// Whether an engine log's mixture channel holds lambda rather than an air-fuel ratio: its name or
// unit says so, or its values stay below 3 (no fuel burns at an air-fuel ratio that low).
bool IsLambdaChannel(const enginelog::TChannel& channel);
// The factor that turns `channel`'s values (lambda or an air-fuel ratio, see IsLambdaChannel)
// into `unit`'s.
double ChannelScale(const enginelog::TChannel& channel, const TDisplay& unit);

}  // namespace viewer
