// Finding the offset between a mixture log and an engine log: from their clocks, or from the
// correlation of their two mixture traces resampled to one rate, searched coarse to fine.
#include "log/LogAlignment.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace enginelog {

namespace {

constexpr float Gap = std::numeric_limits<float>::quiet_NaN();
constexpr std::size_t MaxCoarseLags = 4000;  // lags tried in full at the coarsest level
constexpr std::size_t MinLevelSamples = 64;  // a level coarser than this says too little
constexpr int Candidates = 3;                // coarse peaks followed down to the finest level
constexpr int RefineLags = 3;                // lags either side tried at each finer level
constexpr double MinOverlapShare = 0.3;      // of the shorter trace, for a lag to count

double UsualInterval(std::span<const double> times) {
  std::vector<double> steps;
  const std::size_t count = std::min<std::size_t>(times.size(), 2001);
  for (std::size_t i = 1; i < count; ++i) {
    if (times[i] > times[i - 1]) steps.push_back(times[i] - times[i - 1]);
  }
  if (steps.empty()) return 0.1;
  std::nth_element(steps.begin(), steps.begin() + static_cast<long>(steps.size() / 2), steps.end());
  return steps[steps.size() / 2];
}

// The trace on a grid of `step` from its first time; a pause longer than `maxGap` between two
// records is a gap, not a straight line.
std::vector<float> Resample(const TTrace& trace, double step, double maxGap) {
  const double t0 = trace.Times.front();
  const double span = trace.Times.back() - t0;
  const auto count = static_cast<std::size_t>(span / step) + 1;
  std::vector<float> grid(count, Gap);
  std::size_t j = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const double x = t0 + static_cast<double>(k) * step;
    while (j + 1 < trace.Times.size() && trace.Times[j + 1] < x) ++j;
    if (j + 1 >= trace.Times.size()) {
      if (trace.Times[j] == x) grid[k] = trace.Values[j];
      continue;
    }
    const double ta = trace.Times[j];
    const double tb = trace.Times[j + 1];
    const float a = trace.Values[j];
    const float b = trace.Values[j + 1];
    if (tb - ta > maxGap || !std::isfinite(a) || !std::isfinite(b)) continue;
    const double w = tb > ta ? (x - ta) / (tb - ta) : 0;
    grid[k] = static_cast<float>(a + (b - a) * std::clamp(w, 0.0, 1.0));
  }
  return grid;
}

// Every two samples averaged into one, gaps left out of the mean.
std::vector<float> Halve(const std::vector<float>& grid) {
  std::vector<float> half((grid.size() + 1) / 2, Gap);
  for (std::size_t i = 0; i < half.size(); ++i) {
    const float a = grid[2 * i];
    const float b = 2 * i + 1 < grid.size() ? grid[2 * i + 1] : Gap;
    if (std::isfinite(a) && std::isfinite(b)) {
      half[i] = (a + b) / 2;
    } else if (std::isfinite(a)) {
      half[i] = a;
    } else if (std::isfinite(b)) {
      half[i] = b;
    }
  }
  return half;
}

// Pearson correlation of mixture[j + lag] with engine[j]; NaN with too few pairs.
double Correlate(const std::vector<float>& mixture, const std::vector<float>& engine, long lag,
                 std::size_t minPairs) {
  const long first = std::max(0L, -lag);
  const long last =
      std::min(static_cast<long>(engine.size()), static_cast<long>(mixture.size()) - lag);
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  std::size_t n = 0;
  for (long j = first; j < last; ++j) {
    const double y = engine[static_cast<std::size_t>(j)];
    const double x = mixture[static_cast<std::size_t>(j + lag)];
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    sx += x;
    sy += y;
    sxx += x * x;
    syy += y * y;
    sxy += x * y;
    ++n;
  }
  if (n < minPairs || n < 3) return std::numeric_limits<double>::quiet_NaN();
  const double count = static_cast<double>(n);
  const double varX = count * sxx - sx * sx;
  const double varY = count * syy - sy * sy;
  if (varX <= 0 || varY <= 0) return std::numeric_limits<double>::quiet_NaN();
  return (count * sxy - sx * sy) / std::sqrt(varX * varY);
}

struct TLevel {
  std::vector<float> Mixture;
  std::vector<float> Engine;
  double Step;
  std::size_t MinPairs;
  long LowLag;
  long HighLag;
};

bool Better(double a, double b) { return std::isfinite(a) && (!std::isfinite(b) || a > b); }

// The traces resampled at `step` and halved level by level until the coarsest level searches at
// most MaxCoarseLags lags of the window around `center` (or holds too few samples to halve).
std::vector<TLevel> BuildLevels(const TTrace& mixture, const TTrace& engine, double step,
                                double center, double window) {
  // A pause of a second or more in a log is a pause, not a ramp between two readings.
  const double maxGap = std::max(5 * step, 1.0);
  std::vector<TLevel> levels;
  levels.push_back(
      {Resample(mixture, step, maxGap), Resample(engine, step, maxGap), step, 0, 0, 0});
  while (true) {
    TLevel& level = levels.back();
    level.LowLag = static_cast<long>(std::floor((center - window) / level.Step));
    level.HighLag = static_cast<long>(std::ceil((center + window) / level.Step));
    level.MinPairs = static_cast<std::size_t>(
        MinOverlapShare * static_cast<double>(std::min(level.Mixture.size(), level.Engine.size())));
    const auto lags = static_cast<std::size_t>(level.HighLag - level.LowLag + 1);
    if (lags <= MaxCoarseLags ||
        std::min(level.Mixture.size(), level.Engine.size()) / 2 < MinLevelSamples) {
      return levels;
    }
    levels.push_back({Halve(level.Mixture), Halve(level.Engine), level.Step * 2, 0, 0, 0});
  }
}

// The best few local peaks of the correlation over every lag of the coarsest level, best first:
// (score, lag).
std::vector<std::pair<double, long>> CoarsePeaks(const TLevel& coarse) {
  std::vector<double> scores;
  for (long lag = coarse.LowLag; lag <= coarse.HighLag; ++lag) {
    scores.push_back(Correlate(coarse.Mixture, coarse.Engine, lag, coarse.MinPairs));
  }
  std::vector<std::pair<double, long>> peaks;
  for (std::size_t i = 0; i < scores.size(); ++i) {
    const double left = i > 0 ? scores[i - 1] : -2;
    const double right = i + 1 < scores.size() ? scores[i + 1] : -2;
    if (std::isfinite(scores[i]) && !Better(left, scores[i]) && !Better(right, scores[i])) {
      peaks.emplace_back(scores[i], coarse.LowLag + static_cast<long>(i));
    }
  }
  std::sort(peaks.begin(), peaks.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  if (peaks.size() > Candidates) peaks.resize(Candidates);
  return peaks;
}

// A coarse peak followed down to the finest level, searching a few lags around it at each:
// (score, lag) at the finest level; the score is NaN when the traces overlap too little there.
std::pair<double, long> RefinePeak(const std::vector<TLevel>& levels,
                                   std::pair<double, long> peak) {
  auto [score, lag] = peak;
  for (std::size_t l = levels.size() - 1; l-- > 0;) {
    const TLevel& level = levels[l];
    const long around = lag * 2;
    score = std::numeric_limits<double>::quiet_NaN();
    for (long candidate = std::max(level.LowLag, around - RefineLags);
         candidate <= std::min(level.HighLag, around + RefineLags); ++candidate) {
      const double r = Correlate(level.Mixture, level.Engine, candidate, level.MinPairs);
      if (Better(r, score)) {
        score = r;
        lag = candidate;
      }
    }
  }
  return {score, lag};
}

// A parabola through the best lag and its neighbours puts the peak between samples: the part of
// a step to add, -0.5 to 0.5.
double SubStepShift(const TLevel& fine, long bestLag, double bestScore) {
  const double before = Correlate(fine.Mixture, fine.Engine, bestLag - 1, fine.MinPairs);
  const double after = Correlate(fine.Mixture, fine.Engine, bestLag + 1, fine.MinPairs);
  if (!std::isfinite(before) || !std::isfinite(after)) return 0;
  const double curvature = before - 2 * bestScore + after;
  return curvature < 0 ? std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5) : 0;
}

}  // namespace

double DefaultSearchWindow(double mixtureDuration, double engineDuration) {
  return std::max(60.0, 0.1 * std::min(mixtureDuration, engineDuration));
}

TMatch MatchByMixture(const TTrace& mixture, const TTrace& engine, const TMatchOptions& options) {
  TMatch match;
  if (mixture.Times.size() < 3 || engine.Times.size() < 3 ||
      mixture.Times.size() != mixture.Values.size() ||
      engine.Times.size() != engine.Values.size()) {
    match.Reason = "too few readings to compare";
    return match;
  }
  const double mixtureSpan = mixture.Times.back() - mixture.Times.front();
  const double engineSpan = engine.Times.back() - engine.Times.front();
  if (!(mixtureSpan > 0) || !(engineSpan > 0)) {
    match.Reason = "a log without a duration cannot be matched";
    return match;
  }
  const double step =
      options.Step > 0
          ? options.Step
          : std::clamp(std::max(UsualInterval(mixture.Times), UsualInterval(engine.Times)), 0.01,
                       1.0);
  const double window =
      options.Window > 0 ? options.Window : DefaultSearchWindow(mixtureSpan, engineSpan);
  const std::vector<TLevel> levels =
      BuildLevels(mixture, engine, step, options.Center.value_or(0), window);

  // Every lag at the coarsest level, then the best few peaks followed down level by level.
  double bestScore = std::numeric_limits<double>::quiet_NaN();
  long bestLag = 0;
  for (const auto& peak : CoarsePeaks(levels.back())) {
    const auto [score, lag] = RefinePeak(levels, peak);
    if (Better(score, bestScore)) {
      bestScore = score;
      bestLag = lag;
    }
  }
  if (!std::isfinite(bestScore)) {
    match.Reason = "the two logs do not overlap enough anywhere in the searched window";
    return match;
  }
  match.Offset =
      (static_cast<double>(bestLag) + SubStepShift(levels.front(), bestLag, bestScore)) * step;
  match.Correlation = bestScore;
  match.Found = bestScore >= options.MinCorrelation;
  if (!match.Found) {
    match.Reason = "the mixture traces agree at best with a correlation of " +
                   std::to_string(bestScore).substr(0, 4);
  }
  return match;
}

std::optional<double> ClockOffset(const std::optional<TStartTime>& mixtureStart,
                                  const std::optional<TStartTime>& engineStart,
                                  int localUtcOffsetSeconds) {
  if (!mixtureStart || !engineStart) return std::nullopt;
  const auto utc = [&](const TStartTime& start) {
    return static_cast<double>(start.Seconds -
                               start.UtcOffsetSeconds.value_or(localUtcOffsetSeconds)) +
           start.Fraction;
  };
  return utc(*engineStart) - utc(*mixtureStart);
}

}  // namespace enginelog
