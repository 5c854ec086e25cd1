// The simulated box's signals and answers as pure functions of time and request number.
#include "sim/FrameGenerator.h"

#include <algorithm>
#include <cmath>

#include "sim/EngineModel.h"

namespace sim {

namespace {

// Temperature codes of a cold sensor: it starts at the top of the range and reaches the warm-up
// threshold just as the warm-up time ends.
constexpr int ColdTempCode = 255;
constexpr int WarmupThresholdCode = 180;
constexpr double DrivePhaseMinSeconds = 2.0;
constexpr int DrivePhases = DrivePhaseCount;
// One in this many junk bytes is a sync byte, so that junk starts false frames often enough to
// matter instead of about once in twenty bursts.
constexpr std::uint32_t JunkSyncOneIn = 8;

std::uint8_t ClampCode(long value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0L, 255L));
}

// True during the last `lengthSeconds` of every `periodSeconds`: the start of a run is always in
// good order, so a test or a user sees the box work before the first fault.
bool InLateWindow(double atSeconds, double periodSeconds, double lengthSeconds) {
  if (!(periodSeconds > 0) || !(lengthSeconds > 0)) return false;
  const double phase = std::fmod(std::max(atSeconds, 0.0), periodSeconds);
  return phase >= periodSeconds - lengthSeconds;
}

struct TDriveCycle {
  std::array<double, DrivePhases + 1> Starts{};  // phase i runs from Starts[i] to Starts[i + 1]
  std::array<int, DrivePhases> Targets{};
};

// The mixture of each phase as the drive chooses it: the load's (rich near 12) says how hard the
// driver pushes, the overrun's (lean past 17) what the box reads with the fuel cut; the engine's
// fuel arithmetic makes the mixture elsewhere. Idle's and cruise's are drawn all the same, so that
// a seed keeps the drive it always had.
TDriveCycle DriveCycleOf(std::uint64_t seed, std::uint64_t cycle) {
  static constexpr std::array<int, DrivePhases> Low = {145, 116, 143, 172};
  static constexpr std::array<int, DrivePhases> Spread = {5, 9, 10, 19};
  TSimRng rng(MixSeed(seed, cycle));
  TDriveCycle result;
  std::array<double, DrivePhases> weights{};
  double total = 0;
  for (auto& weight : weights) {
    weight = 1.0 + rng.Uniform() * 3.0;
    total += weight;
  }
  const double spare = DriveCycleSeconds - DrivePhases * DrivePhaseMinSeconds;
  const double cycleStart = static_cast<double>(cycle) * DriveCycleSeconds;
  result.Starts[0] = cycleStart;
  for (int i = 0; i < DrivePhases; ++i) {
    result.Starts[i + 1] = result.Starts[i] + DrivePhaseMinSeconds + spare * weights[i] / total;
    result.Targets[i] = Low[i] + static_cast<int>(rng.Below(static_cast<std::uint32_t>(Spread[i])));
  }
  // Rounding must not leave a gap before the next cycle.
  result.Starts[DrivePhases] = cycleStart + DriveCycleSeconds;
  return result;
}

}  // namespace

TDrivePoint DrivePointAt(std::uint64_t seed, double atSeconds) {
  atSeconds = std::max(atSeconds, 0.0);
  const auto cycle = static_cast<std::uint64_t>(atSeconds / DriveCycleSeconds);
  const TDriveCycle current = DriveCycleOf(seed, cycle);
  int phase = 0;
  while (phase < DrivePhases - 1 && atSeconds >= current.Starts[phase + 1]) ++phase;
  TDrivePoint point;
  point.Cycle = cycle;
  point.Phase = static_cast<TDrivePhase>(phase);
  point.SincePhaseStart = atSeconds - current.Starts[phase];
  point.PhaseSeconds = current.Starts[phase + 1] - current.Starts[phase];
  point.ToAfr = current.Targets[phase];
  point.FromAfr = point.ToAfr;
  if (phase > 0) {
    point.FromAfr = current.Targets[phase - 1];
  } else if (cycle > 0) {
    point.FromAfr = DriveCycleOf(seed, cycle - 1).Targets[DrivePhases - 1];
  }
  return point;
}

std::uint64_t TSimRng::Next() {
  // splitmix64: one add and a finaliser; full period over 64 bits and good enough for noise.
  State += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = State;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double TSimRng::Uniform() {
  // The top 53 bits fill a double's mantissa exactly, so the result never reaches 1.
  return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0);
}

std::uint32_t TSimRng::Below(std::uint32_t bound) {
  if (bound == 0) return 0;
  return static_cast<std::uint32_t>((Next() >> 32) * bound >> 32);
}

std::uint64_t MixSeed(std::uint64_t a, std::uint64_t b) {
  TSimRng rng(a ^ (b * 0xD6E8FEB86659FD93ull));
  rng.Next();
  return rng.Next();
}

std::uint8_t FrameCheckByte(std::uint8_t afr, std::uint8_t volts, std::uint8_t temp) {
  const unsigned sum = SyncCode + afr + volts + temp;
  return static_cast<std::uint8_t>(255u - (sum & 0xFFu));
}

std::uint8_t AfrCodeAt(const TSimConfig& config, double atSeconds) {
  if (config.Scenario == TScenario::Constant) return config.ConstantAfr;
  return ClampCode(std::lround(DriveMixtureAt(config, atSeconds) * 10));
}

std::uint8_t VoltsCodeAt(const TSimConfig& config, double atSeconds) {
  const bool dipping =
      config.Dip && InLateWindow(atSeconds, config.DipEverySeconds, config.DipForSeconds);
  const double volts = dipping ? config.DipVolts : config.SupplyVolts;
  return ClampCode(std::lround(volts / VoltsPerCode));
}

std::uint8_t TempCodeAt(const TSimConfig& config, double atSeconds) {
  const double warmup = config.WarmupSeconds;
  if (!(warmup > 0)) return WarmTempCode;
  const double t = std::max(atSeconds, 0.0);
  if (t < warmup) {
    // Never below the threshold while warming up, whatever the rounding.
    const double cold = (ColdTempCode - WarmupThresholdCode) * (1.0 - t / warmup);
    return ClampCode(WarmupThresholdCode + static_cast<long>(std::ceil(cold)));
  }
  const double settled = std::min(1.0, (t - warmup) / WarmSettleSeconds);
  const double code =
      (WarmupThresholdCode - 1) - (WarmupThresholdCode - 1 - WarmTempCode) * settled;
  return ClampCode(std::lround(code));
}

bool IsSilentAt(const TSimConfig& config, double atSeconds) {
  return InLateWindow(atSeconds, config.SilentEverySeconds, config.SilentForSeconds);
}

TAnswer MakeAnswer(const TSimConfig& config, double atSeconds, std::uint64_t requestIndex) {
  TAnswer answer;
  if (IsSilentAt(config, atSeconds)) {
    answer.Silent = true;
    return answer;
  }
  TSimRng rng(MixSeed(config.Seed, requestIndex));
  // Every decision draws its number whether or not it is used, so changing one rate leaves the
  // other faults of a seeded run where they were.
  const double junkDraw = rng.Uniform();
  const double corruptDraw = rng.Uniform();
  const int noise = static_cast<int>(rng.Below(3)) - 1;

  if (junkDraw < config.JunkRate) {
    answer.JunkCount = 1 + rng.Below(MaxJunkBurst);
    for (std::size_t i = 0; i < answer.JunkCount; ++i) {
      answer.Junk[i] =
          rng.Below(JunkSyncOneIn) == 0 ? SyncCode : static_cast<std::uint8_t>(rng.Below(256));
    }
  }

  int afr = AfrCodeAt(config, atSeconds);
  if (config.Scenario == TScenario::Drive) afr += noise;
  const std::uint8_t afrCode = ClampCode(afr);
  const std::uint8_t voltsCode = VoltsCodeAt(config, atSeconds);
  const std::uint8_t tempCode = TempCodeAt(config, atSeconds);
  std::uint8_t check = FrameCheckByte(afrCode, voltsCode, tempCode);
  if (corruptDraw < config.CorruptRate) {
    // A non-zero change of the check byte alone: the frame stays a frame for the monitor's sync
    // search and fails only its checksum.
    check = static_cast<std::uint8_t>(check ^ (1 + rng.Below(255)));
    answer.Corrupted = true;
  }
  answer.Frame = {SyncCode, afrCode, voltsCode, tempCode, check};
  return answer;
}

}  // namespace sim
