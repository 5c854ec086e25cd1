// The simulated engine's state as a pure function of the scenario's time.
#include "sim/EngineModel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sim/FrameGenerator.h"

namespace sim {

namespace {

// Kept apart from the streams of the box's answers, so that turning the engine log on changes
// nothing the box sends.
constexpr std::uint64_t EngineStream = 0x454E47494E45ull;
// Long enough that a short drive shows the warm-up, as a cold start on the road does.
constexpr double CoolantWarmSeconds = 240.0;
// Throttle and manifold pressure follow the driver's foot quickly; engine speed has the car's
// inertia behind it.
constexpr double ThrottleRampSeconds = 0.3;
constexpr double SpeedRampSeconds = 1.0;
// The load phase's mixture targets (AFR x 10): the richer, the harder the driver pushes.
constexpr int RichestLoadAfr = 116;
constexpr int LeanestLoadAfr = 124;
constexpr double OverrunEndRpm = 1250;

struct TTarget {
  double Rpm = 0;
  double MapKpa = 0;
  double TpsPercent = 0;
};

// What differs from one drive cycle to the next besides the mixture: the road and the gear.
struct TCycleEngine {
  double CruiseRpm = 0;
  double CruiseLoad = 0;  // 0 to 1
  double LoadStartRpm = 0;
};

TCycleEngine CycleEngineOf(std::uint64_t seed, std::uint64_t cycle) {
  TSimRng rng(MixSeed(seed ^ EngineStream, cycle));
  TCycleEngine engine;
  engine.CruiseRpm = 2300 + 700 * rng.Uniform();
  engine.CruiseLoad = rng.Uniform();
  engine.LoadStartRpm = 1800 + 600 * rng.Uniform();
  return engine;
}

TTarget PhaseTarget(const TCycleEngine& engine, TDrivePhase phase, int afr, double progress,
                    double coldness) {
  switch (phase) {
    case TDrivePhase::Idle:
      // A cold engine idles faster and draws a little more air to keep running.
      return {820 + 380 * coldness, 33 + 4 * coldness, 0.8};
    case TDrivePhase::Load: {
      const double push = std::clamp(
          static_cast<double>(LeanestLoadAfr - afr) / (LeanestLoadAfr - RichestLoadAfr), 0.0, 1.0);
      return {engine.LoadStartRpm + (2800 + 1600 * push) * progress, 86 + 12 * push,
              55 + 40 * push};
    }
    case TDrivePhase::Cruise:
      return {engine.CruiseRpm, 48 + 12 * engine.CruiseLoad, 13 + 9 * engine.CruiseLoad};
    case TDrivePhase::Overrun:
      return {engine.CruiseRpm - (engine.CruiseRpm - OverrunEndRpm) * progress, 24, 0};
  }
  return {};
}

// A smooth step from 0 to 1 over `seconds`.
double Ramp(double since, double seconds) {
  const double x = std::clamp(since / seconds, 0.0, 1.0);
  return x * x * (3 - 2 * x);
}

double Blend(double from, double to, double weight) { return from + (to - from) * weight; }

}  // namespace

TEngineState EngineStateAt(const TSimConfig& config, double atSeconds) {
  const double t = std::max(atSeconds, 0.0);
  TEngineState state;
  state.CoolantC = WarmCoolantC - (WarmCoolantC - ColdCoolantC) * std::exp(-t / CoolantWarmSeconds);
  const double coldness = (WarmCoolantC - state.CoolantC) / (WarmCoolantC - ColdCoolantC);

  TTarget target;
  if (config.Scenario == TScenario::Constant) {
    const TCycleEngine steady = CycleEngineOf(config.Seed, 0);
    target = PhaseTarget(steady, TDrivePhase::Cruise, config.ConstantAfr, 0, coldness);
  } else {
    const TDrivePoint point = DrivePointAt(config.Seed, t);
    const TCycleEngine engine = CycleEngineOf(config.Seed, point.Cycle);
    const double progress = point.SincePhaseStart / point.PhaseSeconds;
    target = PhaseTarget(engine, point.Phase, point.ToAfr, progress, coldness);
    // From where the phase before ended, which for an idle is the last cycle's overrun.
    const bool first = point.Phase == TDrivePhase::Idle;
    if (!(first && point.Cycle == 0)) {
      const auto before = static_cast<TDrivePhase>((static_cast<int>(point.Phase) + 3) % 4);
      const TCycleEngine beforeEngine =
          first ? CycleEngineOf(config.Seed, point.Cycle - 1) : engine;
      const TTarget from = PhaseTarget(beforeEngine, before, point.FromAfr, 1, coldness);
      const double throttle = Ramp(point.SincePhaseStart, ThrottleRampSeconds);
      target.Rpm = Blend(from.Rpm, target.Rpm, Ramp(point.SincePhaseStart, SpeedRampSeconds));
      target.MapKpa = Blend(from.MapKpa, target.MapKpa, throttle);
      target.TpsPercent = Blend(from.TpsPercent, target.TpsPercent, throttle);
    }
  }

  // Noise keyed by the millisecond, so that it does not depend on the rate it is read at.
  TSimRng rng(
      MixSeed(config.Seed ^ EngineStream, static_cast<std::uint64_t>(std::llround(t * 1e3))));
  const auto wobble = [&rng]() { return rng.Uniform() + rng.Uniform() - 1.0; };  // -1 to 1
  state.Rpm = std::max(0.0, target.Rpm + 12 * wobble());
  state.MapKpa = std::clamp(target.MapKpa + 0.4 * wobble(), 10.0, 105.0);
  state.TpsPercent = std::clamp(target.TpsPercent, 0.0, 100.0);
  state.Afr = AfrCodeAt(config, t - EngineAfrLagSeconds) / 10.0 + 0.12 * wobble();
  return state;
}

}  // namespace sim
