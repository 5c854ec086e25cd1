// Lining up an engine log with a mixture log: a known offset recovered from traces built by
// construction (our AFR at ten rows a second against the engine's noisy, lagging lambda at its own
// rate), by clock from two start times, and the engine log's mixture channel found by its name.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "log/LogAlignment.h"

namespace enginelog {
namespace {

// A drive's mixture over absolute time: slow swings between rich and lean with faster wobbles,
// never periodic over the lengths used here.
double Afr(double t) {
  return 14.7 + 1.6 * std::sin(t / 23.0) + 0.9 * std::sin(t / 7.3 + 1.0) +
         0.5 * std::sin(t / 2.9 + std::sin(t / 41.0)) + 0.3 * std::sin(t / 1.1);
}

struct TTraceData {
  std::vector<double> Times;
  std::vector<float> Values;
  TTrace View() const { return {Times, Values}; }
};

// Rows every `interval` seconds over `duration`, from absolute time `start`; the log's own times
// start at `ownStart`. `lambda` logs AFR / 14.7; noise and a gap where the logger was silent.
TTraceData Log(double start, double ownStart, double interval, double duration, bool lambda,
               double noise, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> jitter(0, noise);
  TTraceData data;
  for (double t = 0; t <= duration; t += interval) {
    if (t > duration * 0.4 && t < duration * 0.4 + 5) continue;  // five silent seconds
    const double afr = Afr(start + t) + jitter(random);
    data.Times.push_back(ownStart + t);
    data.Values.push_back(static_cast<float>(lambda ? afr / 14.7 : afr));
  }
  return data;
}

TEST(MatchByMixture, RecoversAKnownOffset) {
  struct TCase {
    const char* Name;
    double Offset;        // where the engine log's first record falls after our first row
    double EngineLength;  // seconds
    double Interval;      // the engine software's rate
    std::optional<double> Center;
    double Window;
  };
  const std::vector<TCase> cases = {
      {"engine log starts later", 37.23, 600, 0.05, std::nullopt, 0},
      {"engine log starts earlier", -12.61, 900, 0.02, std::nullopt, 0},
      {"around the clock's offset", 251.4, 300, 0.05, 250.0, 5},
      {"a day-long search window", 3100.05, 1800, 0.1, std::nullopt, 3600},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const double ourStart = 1000;  // absolute time of our first row
    const TTraceData ours = Log(ourStart, 36000, 0.1, 4000, false, 0.05, 1);
    // The engine controller's own wideband reads 80 ms late and noisier.
    TTraceData engine =
        Log(ourStart + c.Offset - 0.08, 0, c.Interval, c.EngineLength, true, 0.01, 2);
    TMatchOptions options;
    options.Center = c.Center;
    options.Window = c.Window;
    const TMatch match = MatchByMixture(ours.View(), engine.View(), options);
    ASSERT_TRUE(match.Found) << match.Reason;
    EXPECT_NEAR(match.Offset, c.Offset - 0.08, 0.03);
    EXPECT_GT(match.Correlation, 0.9);
  }
}

TEST(MatchByMixture, UnrelatedTracesAreNotMatched) {
  const TTraceData ours = Log(0, 0, 0.1, 600, false, 0.05, 1);
  TTraceData other;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> values(10, 18);
  for (int i = 0; i < 6000; ++i) {
    other.Times.push_back(i * 0.1);
    other.Values.push_back(values(random));
  }
  const TMatch match = MatchByMixture(ours.View(), other.View(), {});
  EXPECT_FALSE(match.Found);
  EXPECT_FALSE(match.Reason.empty());
  const TMatch tooShort = MatchByMixture(ours.View(), TTrace{}, {});
  EXPECT_FALSE(tooShort.Found);
}

TEST(ClockOffset, FromTwoStartsInTheirZones) {
  struct TCase {
    const char* Name;
    std::optional<TStartTime> Ours;
    std::optional<TStartTime> Engine;
    int LocalOffset;
    std::optional<double> Expected;
  };
  const std::int64_t noon = 1714564800;  // 2024-05-01 12:00:00 UTC
  const std::vector<TCase> cases = {
      {"both in UTC", TStartTime{noon, 0.5, 0}, TStartTime{noon + 30, 0, 0}, 0, 29.5},
      {"ours local, engine in UTC", TStartTime{noon + 7200, 0, std::nullopt},
       TStartTime{noon - 10, 0.25, 0}, 7200, -9.75},
      {"both local", TStartTime{noon, 0, std::nullopt}, TStartTime{noon + 5, 0, std::nullopt},
       -18000, 5},
      {"engine with its own offset", TStartTime{noon, 0, 0}, TStartTime{noon + 3600, 0, 3600}, 0,
       0},
      {"no engine start", TStartTime{noon, 0, 0}, std::nullopt, 0, std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto offset = ClockOffset(c.Ours, c.Engine, c.LocalOffset);
    ASSERT_EQ(offset.has_value(), c.Expected.has_value());
    if (offset) {
      EXPECT_DOUBLE_EQ(*offset, *c.Expected);
    }
  }
}

}  // namespace
}  // namespace enginelog
