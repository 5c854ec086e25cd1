// What a logged run says about the mixture: readings in the unit the user looks at, the gaps, and
// the summary of a stretch of time. Pure functions of a parsed log.
#pragma once

#include <cstddef>
#include <string>

#include "sensor/Monitoring.h"
#include "sensor/Reading.h"
#include "viewer/logs/OurLog.h"

namespace viewer {

// The supply voltage below which the controller's readings are not to be trusted, where the
// monitor's low-volts lamp lights: the chart's dashed line and the summary's "below 12.0 V".
inline constexpr double LowVoltsLine = sensor::LowVoltsOn;

// What the user looks at: air-fuel ratio for a fuel, or lambda.
struct TDisplay {
  int DisplayMode = sensor::dmAirFuelRatio;  // sensor::dmAirFuelRatio or sensor::dmLambda
  int FuelType = sensor::ftPetrol;           // sensor::ftPetrol, ftMethanol or ftPropane
  bool operator==(const TDisplay&) const = default;
};

// The lambda bands of the summary: rich below RichBelow, lean above LeanAbove, near
// stoichiometric between (both ends included).
struct TBands {
  double RichBelow = 0.97;
  double LeanAbove = 1.03;
};

// The fuel's air-fuel ratio at lambda 1 (petrol 14.7, methanol 6.4, propane 15.5), as the
// controller's conversion has it.
double StoichiometricAfr(int fuelType);
// A sample's lambda: the extended log's own column, a logged lambda, or a logged air-fuel ratio
// of `fuelType` divided by its stoichiometric ratio.
double LambdaOf(const TSample& sample, int fuelType);
// A sample's reading in the unit of `display`, converted when it was logged in the other unit.
double DisplayValue(const TSample& sample, const TDisplay& display);

// The display a log was written in: the unit most of its rows carry, and the fuel its air-fuel
// ratios point to (extended rows name it exactly; classic ones only by range: below 9 is
// methanol, above 20 propane, petrol otherwise).
TDisplay LoggedDisplay(const TLog& log);

// Whether a sample counts as a reading: not a repeat of a silent controller, and not a row that
// kestlog marked as warm-up or offline.
bool IsReading(const TSample& sample);
// A gap lies before sample `index` (> 0) when time jumps by more than three sample intervals, the
// clock went back, or the sample is the first repeat of a silent controller.
double GapThreshold(const TLog& log);
bool IsGapBefore(const TLog& log, std::size_t index);

// The first sample at or after `time` (Samples.size() when none); samples are in time order.
std::size_t FirstAtOrAfter(const TLog& log, double time);

struct TSummary {
  double Duration = 0;       // seconds from the first to the last sample in the range
  std::size_t Samples = 0;   // rows in the range
  std::size_t Readings = 0;  // ... of which readings (see IsReading)
  // ... of which not a plausible mixture (IsPlausibleMixture): left out of the figures below
  std::size_t Implausible = 0;
  double Min = 0, Max = 0, Mean = 0;  // of the plausible readings, in the display's unit
  // Shares of the plausible readings (each stands for one sample interval), 0 to 1.
  double Rich = 0, Stoichiometric = 0, Lean = 0;
  double SecondsBelowLowVolts = 0;          // readings below 12.0 V times the sample interval
  std::size_t Gaps = 0;                     // gaps (see IsGapBefore) inside the range
  double GapSeconds = 0;                    // their total length; a run of repeats counts in full
  std::size_t AfrRows = 0, LambdaRows = 0;  // how the range's rows were logged
};

// The summary of the samples with from <= Time <= to.
TSummary Summarize(const TLog& log, double from, double to, const TDisplay& display,
                   const TBands& bands);
// The summary of an engine log's mixture channel `channel` over its records with
// from <= time <= to (on the log's own axis), in the unit of `display`, converted as
// IsLambdaChannel tells: Samples are the records, Readings those with a value, Implausible those
// of them that are no plausible mixture. No volts, gaps or logged units: those stay 0.
TSummary SummarizeEngineMixture(const enginelog::TLog& log, std::size_t channel, double from,
                                double to, const TDisplay& display, const TBands& bands);
// The figures of a summary's plausible readings as lines for a terminal: the unit, min, max and
// mean, and the bands' shares; empty when there is none.
std::string MixtureFiguresText(const TSummary& summary, const TDisplay& display,
                               const TBands& bands);

// "petrol", "methanol" or "propane".
const char* FuelName(int fuelType);
// "AFR (petrol)", "lambda".
std::string UnitName(const TDisplay& display);
// h:mm:ss.s, such as "0:02:03.4"; a day or more as "1 d 2:03:04.0".
std::string DurationText(double seconds);
// Time of day of a log time (which passes 86400 on the next day), "14:03:27.4".
std::string ClockText(double time, int decimals);

// The summary as a block of lines for a terminal, naming the file first.
std::string SummaryText(const TLog& log, const TSummary& summary, const TDisplay& display,
                        const TBands& bands);
// The same as one JSON object (UTF-8, no line end).
std::string SummaryJson(const TLog& log, const TSummary& summary, const TDisplay& display,
                        const TBands& bands);

// {"file": NAME, "error": TEXT} for a log that could not be read.
std::string ErrorJson(const TLog& log);

}  // namespace viewer
