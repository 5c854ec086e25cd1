// Lining an engine log up with a mixture log: by their clocks, or by finding the time shift at
// which the engine log's own mixture channel agrees best with our mixture trace. The offset is
// always where the engine log's first record falls on the mixture log's time axis, in seconds
// after the mixture log's first row. Pure arithmetic: no file, clock or locale is consulted.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "log/Log.h"

namespace enginelog {

// A trace on its own time axis: Times[i] in seconds, rising; NaN values are gaps.
struct TTrace {
  std::span<const double> Times;
  std::span<const float> Values;
};

struct TMatchOptions {
  // Where to search around (the clock's offset, when there is one); none: around 0.
  std::optional<double> Center;
  // How far either side of Center to search; 0: DefaultSearchWindow of the two traces.
  double Window = 0;
  // The resampling step in seconds; 0: the slower trace's usual interval, kept to [0.01, 1] s.
  double Step = 0;
  // The least correlation that counts as the traces agreeing.
  double MinCorrelation = 0.5;
};

struct TMatch {
  bool Found = false;
  double Offset = 0;       // seconds, see the file comment
  double Correlation = 0;  // of the two traces at Offset, -1..1
  std::string Reason;      // when not found: why
};

// The shift searched at least: 60 s or a tenth of the shorter log, whichever is longer.
double DefaultSearchWindow(double mixtureDuration, double engineDuration);

// The offset at which `engine` agrees best with `mixture`, found by correlation after resampling
// both to one rate and refined to a fraction of a step. Correlation makes it blind to the unit:
// an AFR trace matches a lambda channel. Not found when the traces are too short, do not overlap
// enough anywhere in the window, or agree less than options.MinCorrelation.
TMatch MatchByMixture(const TTrace& mixture, const TTrace& engine, const TMatchOptions& options);

// The offset from the two logs' wall-clock starts (each the time of its first row or record). A
// start without a UTC offset is in the local zone, whose offset from UTC `localUtcOffsetSeconds`
// gives. None when either start is missing.
std::optional<double> ClockOffset(const std::optional<TStartTime>& mixtureStart,
                                  const std::optional<TStartTime>& engineStart,
                                  int localUtcOffsetSeconds);

}  // namespace enginelog
