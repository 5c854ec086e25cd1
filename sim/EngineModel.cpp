// The simulated engine and its engine computer's fuel arithmetic, which makes the drive's mixture,
// as pure functions of the scenario's time.
#include "sim/EngineModel.h"

#include <algorithm>
#include <array>
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
// The load phase's mixture as the drive chose it (AFR x 10): the richer, the harder the driver
// pushes.
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

// Warm-up enrichment by coolant, straight between the points of the engine computer's curve; none
// from where the closed loop may take over.
constexpr std::array<double, 6> WueCoolantC = {-40, -20, 0, 20, 40, ClosedLoopCoolantC};
constexpr std::array<double, 6> WueCurvePercent = {140, 128, 118, 111, 105, 100};
// A tip-in of the throttle by more than TipInTpsPercent brings this much enrichment per point
// opened, tapering to none over AeSeconds.
constexpr double TipInTpsPercent = 5;
constexpr double AePerTpsPercent = 0.2;
constexpr double AeSeconds = 1.0;
// The injectors' opening at 100 % VE, 100 kPa and a stoichiometric target, without enrichment.
constexpr double RequiredFuelMs = 11.0;
constexpr double StoichiometricAfr = 14.7;

double CoolantAt(const TSimConfig& config, double t) {
  if (config.EngineWarm) return WarmCoolantC;
  return WarmCoolantC - (WarmCoolantC - ColdCoolantC) * std::exp(-t / CoolantWarmSeconds);
}

// When the coolant passes ClosedLoopCoolantC: the earliest the closed loop may start.
double ClosedLoopWarmSeconds(const TSimConfig& config) {
  if (config.EngineWarm) return 0;
  return CoolantWarmSeconds *
         std::log((WarmCoolantC - ColdCoolantC) / (WarmCoolantC - ClosedLoopCoolantC));
}

double WarmupEnrichment(double coolantC) {
  if (coolantC <= WueCoolantC.front()) return WueCurvePercent.front();
  for (std::size_t i = 1; i < WueCoolantC.size(); ++i) {
    if (coolantC < WueCoolantC[i]) {
      const double share = (coolantC - WueCoolantC[i - 1]) / (WueCoolantC[i] - WueCoolantC[i - 1]);
      return Blend(WueCurvePercent[i - 1], WueCurvePercent[i], share);
    }
  }
  return WueCurvePercent.back();
}

// The drive without noise at a moment, and where in the drive it is.
struct TDriveMoment {
  bool Drive = false;  // the drive scenario; otherwise a steady cruise
  TDrivePoint Point;
  TTarget Target;
  double TpsRise = 0;  // how far the throttle opened at the phase's start (negative: it closed)
};

TDriveMoment MomentAt(const TSimConfig& config, double t, double coldness) {
  TDriveMoment moment;
  if (config.Scenario == TScenario::Constant) {
    const TCycleEngine steady = CycleEngineOf(config.Seed, 0);
    moment.Target = PhaseTarget(steady, TDrivePhase::Cruise, config.ConstantAfr, 0, coldness);
    return moment;
  }
  moment.Drive = true;
  const TDrivePoint point = DrivePointAt(config.Seed, t);
  moment.Point = point;
  const TCycleEngine engine = CycleEngineOf(config.Seed, point.Cycle);
  const double progress = point.SincePhaseStart / point.PhaseSeconds;
  TTarget& target = moment.Target;
  target = PhaseTarget(engine, point.Phase, point.ToAfr, progress, coldness);
  // From where the phase before ended, which for an idle is the last cycle's overrun.
  const bool first = point.Phase == TDrivePhase::Idle;
  if (!(first && point.Cycle == 0)) {
    const auto before = static_cast<TDrivePhase>((static_cast<int>(point.Phase) + 3) % 4);
    const TCycleEngine beforeEngine = first ? CycleEngineOf(config.Seed, point.Cycle - 1) : engine;
    const TTarget from = PhaseTarget(beforeEngine, before, point.FromAfr, 1, coldness);
    moment.TpsRise = target.TpsPercent - from.TpsPercent;
    const double throttle = Ramp(point.SincePhaseStart, ThrottleRampSeconds);
    target.Rpm = Blend(from.Rpm, target.Rpm, Ramp(point.SincePhaseStart, SpeedRampSeconds));
    target.MapKpa = Blend(from.MapKpa, target.MapKpa, throttle);
    target.TpsPercent = Blend(from.TpsPercent, target.TpsPercent, throttle);
  }
  return moment;
}

double AccelEnrichment(const TDriveMoment& moment) {
  const double since = moment.Point.SincePhaseStart;
  if (!moment.Drive || moment.TpsRise <= TipInTpsPercent || since >= AeSeconds) return 100;
  return 100 + AePerTpsPercent * moment.TpsRise * (1 - since / AeSeconds);
}

const TFuelTable& VeTableOf(const TSimConfig& config) {
  return config.VeTable ? *config.VeTable : BuiltInVeTable();
}

// What the engine really breathes against what its fuel table says, at a speed and load: the
// mixture's departure from the target before any correction.
double BreathingRatio(const TSimConfig& config, double rpm, double mapKpa) {
  const double error = config.VeError ? config.VeError->At(rpm, mapKpa) : 1.0;
  return BuiltInVeTable().At(rpm, mapKpa) * error / VeTableOf(config).At(rpm, mapKpa);
}

// The closed loop trims while the engine is warm, at idle or cruise (full load runs open loop,
// the overrun has its fuel cut) once the speed and load have settled; elsewhere it holds at none.
// It integrates the mixture's error, which in logarithms is a first-order approach from none
// towards the fuel the steady point needs, started where the loop took over: the integrator's own
// path for a point held still, as the loop holds only settled points, and cheap at any time.
double ClosedLoopPercent(const TSimConfig& config, const TDriveMoment& moment, double t,
                         double coolantC, double enrichment) {
  const TDrivePoint& point = moment.Point;
  if (!config.ClosedLoop || !moment.Drive) return 100;
  if (point.Phase != TDrivePhase::Idle && point.Phase != TDrivePhase::Cruise) return 100;
  if (!(coolantC > ClosedLoopCoolantC) || point.SincePhaseStart < ClosedLoopSettleSeconds) {
    return 100;
  }
  const double start =
      std::max(t - point.SincePhaseStart + ClosedLoopSettleSeconds, ClosedLoopWarmSeconds(config));
  const double need = BreathingRatio(config, moment.Target.Rpm, moment.Target.MapKpa) / enrichment;
  const double reached = 1 - std::exp(-std::max(t - start, 0.0) / ClosedLoopSeconds);
  return std::clamp(100 * std::exp(std::log(need) * reached), ClosedLoopLowPercent,
                    ClosedLoopHighPercent);
}

// The engine's state but for its own wideband reading, and the noise that reading gets.
struct TFuelledState {
  TEngineState State;
  TDriveMoment Moment;
  double AfrNoise = 0;
};

TFuelledState FuelledStateAt(const TSimConfig& config, double t) {
  TFuelledState fuelled;
  TEngineState& state = fuelled.State;
  state.CoolantC = CoolantAt(config, t);
  const double coldness = (WarmCoolantC - state.CoolantC) / (WarmCoolantC - ColdCoolantC);
  fuelled.Moment = MomentAt(config, t, coldness);
  const TDriveMoment& moment = fuelled.Moment;
  const TTarget& target = moment.Target;

  // Noise keyed by the millisecond, so that it does not depend on the rate it is read at.
  TSimRng rng(
      MixSeed(config.Seed ^ EngineStream, static_cast<std::uint64_t>(std::llround(t * 1e3))));
  const auto wobble = [&rng]() { return rng.Uniform() + rng.Uniform() - 1.0; };  // -1 to 1
  state.Rpm = std::max(0.0, target.Rpm + 12 * wobble());
  state.MapKpa = std::clamp(target.MapKpa + 0.4 * wobble(), 10.0, 105.0);
  state.TpsPercent = std::clamp(target.TpsPercent, 0.0, 100.0);
  fuelled.AfrNoise = 0.12 * wobble();

  // The engine computer looks its tables up at the speed and load it measures.
  state.VePercent = VeTableOf(config).At(state.Rpm, state.MapKpa);
  state.AfrTarget = BuiltInAfrTargetTable().At(state.Rpm, state.MapKpa);
  state.WuePercent = WarmupEnrichment(state.CoolantC);
  state.AePercent = AccelEnrichment(moment);
  const double enrichment = state.WuePercent / 100 * state.AePercent / 100;
  state.GegoPercent = ClosedLoopPercent(config, moment, t, state.CoolantC, enrichment);
  state.FuelCut = moment.Drive && moment.Point.Phase == TDrivePhase::Overrun ? 1 : 0;
  state.PulseWidthMs = state.FuelCut != 0 ? 0
                                          : RequiredFuelMs * state.VePercent / 100 * state.MapKpa /
                                                100 * state.GegoPercent / 100 * enrichment *
                                                StoichiometricAfr / state.AfrTarget;
  return fuelled;
}

}  // namespace

double DriveMixtureAt(const TSimConfig& config, double atSeconds) {
  const double t = std::max(atSeconds, 0.0);
  const TFuelledState fuelled = FuelledStateAt(config, t);
  const TEngineState& state = fuelled.State;
  const double burnt = state.AfrTarget * BreathingRatio(config, state.Rpm, state.MapKpa) /
                       (state.GegoPercent / 100 * state.WuePercent / 100 * state.AePercent / 100);
  const TDrivePoint& point = fuelled.Moment.Point;
  const double sensed = std::min(1.0, point.SincePhaseStart / DriveRampSeconds);
  double afr = burnt;
  if (point.Phase == TDrivePhase::Overrun) {
    afr = Blend(burnt, point.ToAfr / 10.0, sensed);
  } else if (point.Phase == TDrivePhase::Idle && point.Cycle > 0) {
    afr = Blend(point.FromAfr / 10.0, burnt, sensed);  // the fuel is back after the overrun
  }
  return std::clamp(afr, BoxRichestAfr, BoxLeanestAfr);
}

TEngineState EngineStateAt(const TSimConfig& config, double atSeconds) {
  const double t = std::max(atSeconds, 0.0);
  TFuelledState fuelled = FuelledStateAt(config, t);
  fuelled.State.Afr = AfrCodeAt(config, t - EngineAfrLagSeconds) / 10.0 + fuelled.AfrNoise;
  return fuelled.State;
}

}  // namespace sim
