// The simulated box's answers, walked through in virtual time: no device, no clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "sim/FrameGenerator.h"

namespace sim {
namespace {

// Independent of the code under test: 255 minus the low byte of the sum of the first four.
bool CheckHolds(const std::array<std::uint8_t, FrameSize>& frame) {
  const unsigned sum = frame[0] + frame[1] + frame[2] + frame[3];
  return frame[4] == 255u - (sum % 256u);
}

TSimConfig DriveConfig(std::uint64_t seed) {
  TSimConfig config;
  config.Scenario = TScenario::Drive;
  config.Seed = seed;
  return config;
}

TEST(FrameGeneratorTest, CheckByteMatchesTheControllersExample) {
  // 34 + 147 + 200 + 20 = 401, low byte 145, 255 - 145 = 110.
  EXPECT_EQ(FrameCheckByte(147, 200, 20), 110);
  // A sum that wraps twice and one that lands exactly on 255.
  EXPECT_EQ(FrameCheckByte(255, 255, 255), 255 - ((34 + 255 * 3) % 256));
  EXPECT_EQ(FrameCheckByte(221, 0, 0), 0);
}

TEST(FrameGeneratorTest, FramesAreValidUnlessMarkedCorrupted) {
  struct TCase {
    const char* Name;
    TSimConfig Config;
  };
  std::vector<TCase> cases;
  cases.push_back({"constant", TSimConfig{}});
  TSimConfig extremes;
  extremes.ConstantAfr = 255;
  extremes.SupplyVolts = 16;
  cases.push_back({"extremes", extremes});
  TSimConfig faulty = DriveConfig(5);
  faulty.WarmupSeconds = 10;
  faulty.Dip = true;
  faulty.CorruptRate = 0.25;
  faulty.JunkRate = 0.5;
  cases.push_back({"drive with faults", faulty});

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    int corrupted = 0;
    for (std::uint64_t i = 0; i < 3000; ++i) {
      const double at = static_cast<double>(i) * 0.05;
      const TAnswer answer = MakeAnswer(c.Config, at, i);
      ASSERT_FALSE(answer.Silent);
      ASSERT_EQ(answer.Frame[0], SyncCode);
      ASSERT_EQ(answer.Frame[2], VoltsCodeAt(c.Config, at));
      ASSERT_EQ(answer.Frame[3], TempCodeAt(c.Config, at));
      ASSERT_EQ(CheckHolds(answer.Frame), !answer.Corrupted) << "request " << i;
      corrupted += answer.Corrupted;
    }
    EXPECT_EQ(corrupted > 0, c.Config.CorruptRate > 0);
  }
}

TEST(FrameGeneratorTest, FaultRatesAreHonouredOverManyFrames) {
  constexpr int Frames = 20000;
  for (const double rate : {0.0, 0.02, 0.3, 0.75, 1.0}) {
    SCOPED_TRACE(rate);
    TSimConfig config;
    config.Seed = 42;
    config.CorruptRate = rate;
    config.JunkRate = 1.0 - rate;
    int corrupted = 0;
    int junky = 0;
    int junkSyncs = 0;
    int junkBytes = 0;
    std::size_t longest = 0;
    for (std::uint64_t i = 0; i < Frames; ++i) {
      const TAnswer answer = MakeAnswer(config, 1.0, i);
      corrupted += answer.Corrupted;
      if (answer.JunkCount > 0) ++junky;
      longest = std::max(longest, answer.JunkCount);
      junkBytes += static_cast<int>(answer.JunkCount);
      for (std::size_t k = 0; k < answer.JunkCount; ++k) junkSyncs += answer.Junk[k] == SyncCode;
    }
    // About four standard deviations of a binomial count at the worst rate, 0.5.
    EXPECT_NEAR(static_cast<double>(corrupted) / Frames, rate, 0.015);
    EXPECT_NEAR(static_cast<double>(junky) / Frames, 1.0 - rate, 0.015);
    EXPECT_LE(longest, MaxJunkBurst);
    // Junk has to fake the start of a frame often, not once in 256 bytes as plain random bytes
    // would, or it tests little of the monitor's sync search.
    if (junkBytes > 1000) {
      EXPECT_GT(static_cast<double>(junkSyncs) / junkBytes, 1.0 / 16);
    }
  }
}

TEST(FrameGeneratorTest, CorruptionDoesNotMoveWhenTheJunkRateChanges) {
  TSimConfig a;
  a.CorruptRate = 0.2;
  TSimConfig b = a;
  b.JunkRate = 0.9;
  for (std::uint64_t i = 0; i < 2000; ++i) {
    ASSERT_EQ(MakeAnswer(a, 0, i).Corrupted, MakeAnswer(b, 0, i).Corrupted) << i;
  }
}

TEST(FrameGeneratorTest, WarmupCodesStayHighThenFallBelowTheThreshold) {
  for (const double warmup : {0.5, 7.0, 30.0, 95.5}) {
    SCOPED_TRACE(warmup);
    TSimConfig config;
    config.WarmupSeconds = warmup;
    int previous = 256;
    for (double t = 0; t < warmup + WarmSettleSeconds + 5; t += 0.01) {
      const int code = TempCodeAt(config, t);
      if (t < warmup) {
        ASSERT_GE(code, 180) << "at " << t;
      } else {
        ASSERT_LT(code, 180) << "at " << t;
      }
      ASSERT_LE(code, previous) << "a heating sensor only gets hotter; at " << t;
      previous = code;
    }
    EXPECT_EQ(TempCodeAt(config, 0), 255);
    EXPECT_EQ(TempCodeAt(config, warmup + WarmSettleSeconds), WarmTempCode);
    EXPECT_EQ(TempCodeAt(config, warmup + 3600), WarmTempCode);
  }
  TSimConfig noWarmup;
  EXPECT_EQ(TempCodeAt(noWarmup, 0), WarmTempCode);
}

TEST(FrameGeneratorTest, SupplyVoltsAndTheirDip) {
  auto voltsOf = [](std::uint8_t code) { return code * 0.019607843 * 3.2; };
  struct TCase {
    double Volts;
    int Code;
  };
  for (const TCase c :
       {TCase{0, 0}, TCase{16, 255}, TCase{20, 255}, TCase{13.8, 220}, TCase{12.549, 200}}) {
    TSimConfig config;
    config.SupplyVolts = c.Volts;
    EXPECT_EQ(VoltsCodeAt(config, 3), c.Code) << c.Volts << " V";
  }

  TSimConfig config;
  EXPECT_NEAR(voltsOf(VoltsCodeAt(config, 0)), 13.8, 0.04);
  config.Dip = true;
  bool dipped = false;
  bool healthy = false;
  for (double t = 0; t < 3 * config.DipEverySeconds; t += 0.1) {
    const double volts = voltsOf(VoltsCodeAt(config, t));
    const double phase = std::fmod(t, config.DipEverySeconds);
    const bool inDip = phase >= config.DipEverySeconds - config.DipForSeconds + 1e-9;
    const bool outOfDip = phase < config.DipEverySeconds - config.DipForSeconds - 1e-9;
    if (inDip) {
      EXPECT_LT(volts, 12.0) << "at " << t;
    }
    if (outOfDip) {
      EXPECT_GT(volts, 13.0) << "at " << t;
    }
    dipped |= volts < 12.0;
    healthy |= volts > 13.0;
  }
  EXPECT_TRUE(dipped);
  EXPECT_TRUE(healthy);
  EXPECT_GT(voltsOf(VoltsCodeAt(config, 0)), 13.0) << "a run starts healthy";
}

// Once warm: while cold, the warm-up enrichment makes the idle rich too.
TEST(FrameGeneratorTest, DriveVisitsRichIdleAndLeanInEveryCycle) {
  for (std::uint64_t seed : {1ull, 2ull, 99ull, 123456789ull}) {
    const TSimConfig config = DriveConfig(seed);
    for (int cycle = 20; cycle < 32; ++cycle) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " cycle " << cycle);
      bool rich = false, idle = false, lean = false;
      // A change is a move of more than 0.8 AFR away from where the mixture last settled.
      int changes = 0;
      double heldSince = cycle * DriveCycleSeconds;
      int heldAt = AfrCodeAt(config, heldSince);
      double longestHold = 0;
      for (int step = 0; step < 160; ++step) {
        const double t = cycle * DriveCycleSeconds + step * 0.1;
        const int afr = AfrCodeAt(config, t);
        rich |= afr < 125;
        idle |= afr >= 144 && afr <= 150;
        lean |= afr > 170;
        if (std::abs(afr - heldAt) > 8) {
          ++changes;
          longestHold = std::max(longestHold, t - heldSince);
          heldSince = t;
          heldAt = afr;
        }
      }
      EXPECT_TRUE(rich);
      EXPECT_TRUE(idle);
      EXPECT_TRUE(lean);
      EXPECT_GE(changes, 3);
      EXPECT_LE(longestHold, 8.0) << "the mixture should change every few seconds";
    }
  }
}

TEST(FrameGeneratorTest, DriveNoiseIsSmallAndFramesVary) {
  const TSimConfig config = DriveConfig(3);
  std::set<int> seen;
  for (std::uint64_t i = 0; i < 500; ++i) {
    const double t = 1.0;  // mid-idle of the first cycle: only the noise moves the frame
    const int afr = MakeAnswer(config, t, i).Frame[1];
    EXPECT_LE(std::abs(afr - AfrCodeAt(config, t)), 1);
    seen.insert(afr);
  }
  EXPECT_GT(seen.size(), 1u) << "a real sensor never reads perfectly steady";
}

TEST(FrameGeneratorTest, SameSeedRepeatsTheRunAndOtherSeedsDiffer) {
  TSimConfig config = DriveConfig(77);
  config.CorruptRate = 0.1;
  config.JunkRate = 0.1;
  TSimConfig other = config;
  other.Seed = 78;
  int differences = 0;
  for (std::uint64_t i = 0; i < 1000; ++i) {
    const double t = i * 0.1;
    const TAnswer a = MakeAnswer(config, t, i);
    const TAnswer b = MakeAnswer(config, t, i);
    ASSERT_EQ(a.Frame, b.Frame);
    ASSERT_EQ(a.Corrupted, b.Corrupted);
    ASSERT_EQ(a.JunkCount, b.JunkCount);
    ASSERT_EQ(a.Junk, b.Junk);
    const TAnswer c = MakeAnswer(other, t, i);
    differences += a.Frame != c.Frame || a.JunkCount != c.JunkCount;
  }
  EXPECT_GT(differences, 500);
}

TEST(FrameGeneratorTest, SilentSpellsComeAtTheEndOfEachPeriod) {
  TSimConfig config;
  config.SilentEverySeconds = 10;
  config.SilentForSeconds = 3;
  struct TCase {
    double At;
    bool Silent;
  };
  for (const TCase c : {TCase{0, false}, TCase{6.99, false}, TCase{7.0, true}, TCase{9.99, true},
                        TCase{10.0, false}, TCase{17.5, true}, TCase{1e6 + 8, true}}) {
    EXPECT_EQ(IsSilentAt(config, c.At), c.Silent) << "at " << c.At;
    const TAnswer answer = MakeAnswer(config, c.At, 4);
    EXPECT_EQ(answer.Silent, c.Silent) << "at " << c.At;
    if (answer.Silent) {
      EXPECT_EQ(answer.JunkCount, 0u);
    }
  }
  TSimConfig never;
  never.SilentForSeconds = 3;  // no period: never silent
  EXPECT_FALSE(IsSilentAt(never, 1.0));
}

}  // namespace
}  // namespace sim
