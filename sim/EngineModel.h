// The engine the simulated box sits on: engine speed, manifold pressure, throttle and coolant
// temperature of the drive scenario, and the engine computer's fuel arithmetic (fuel table, target,
// closed loop, enrichments) that makes the mixture the box measures, as the engine software would
// log them. Pure functions of the configuration and the scenario's time, like the box's own
// signals, so a drive repeats exactly for a seed and tests can walk through it in no time.
#pragma once

#include "sim/SimConfig.h"

namespace sim {

// Coolant of a cold start, and where the thermostat holds it once warm.
inline constexpr double ColdCoolantC = 18.0;
inline constexpr double WarmCoolantC = 88.0;
// How far the engine's own wideband trails the box's: its sensor sits further down the exhaust
// and the engine software filters it.
inline constexpr double EngineAfrLagSeconds = 0.15;

// Where the engine computer's closed loop may trim the fuel: coolant above this, and how long a
// speed and load must have held before it starts; how fast it moves, and how far.
inline constexpr double ClosedLoopCoolantC = 60.0;
inline constexpr double ClosedLoopSettleSeconds = 1.0;
inline constexpr double ClosedLoopSeconds = 1.0;  // time constant of its approach
inline constexpr double ClosedLoopLowPercent = 80.0;
inline constexpr double ClosedLoopHighPercent = 120.0;
// What the box can show: petrol AFR 10 to 20.
inline constexpr double BoxRichestAfr = 10.0;
inline constexpr double BoxLeanestAfr = 20.0;

struct TEngineState {
  double Rpm = 0;
  double MapKpa = 0;      // manifold absolute pressure
  double TpsPercent = 0;  // throttle opening
  double CoolantC = 0;
  double Afr = 0;  // the engine software's own wideband reading, petrol AFR
  // The engine computer's fuel arithmetic at this speed and load. Every enrichment and the
  // correction scale the fuel: 100 % is none.
  double VePercent = 0;      // its fuel table, bilinear between the four cells around
  double AfrTarget = 0;      // its target mixture, petrol AFR
  double GegoPercent = 100;  // the closed loop's correction
  double WuePercent = 100;   // warm-up enrichment
  double AePercent = 100;    // acceleration enrichment
  double FuelCut = 0;        // 1 while the fuel is cut on overrun, 0 otherwise
  double PulseWidthMs = 0;   // the injectors' opening, 0 while the fuel is cut
};

// The engine at `atSeconds` after the box started (negative times count as 0). The drive scenario
// idles (cold: a faster idle), tips in to full load with rising speed, cruises at part load, and
// overruns with a closed throttle and the fuel cut; the constant scenario cruises steadily. The
// coolant warms from cold in either, with warm-up enrichment until ClosedLoopCoolantC; a tip-in
// brings acceleration enrichment for a second. Afr trails the box's mixture by
// EngineAfrLagSeconds with a little noise of its own. Equal arguments give equal states.
TEngineState EngineStateAt(const TSimConfig& config, double atSeconds);

// The exhaust's mixture in the drive scenario (petrol AFR within what the box shows, before the box
// rounds it). Where the engine burns fuel it is what the fuel arithmetic gives:
//   target x VE_true / (VE x Gego x WUE x AE), all at the moment's speed and load,
// VE_true the built-in VE table times config.VeError, VE the engine computer's table. On overrun
// the fuel is cut and the mixture goes lean to the scenario's overrun value, within
// DriveRampSeconds, and comes back as fast when the fuel does. Equal arguments give equal values.
double DriveMixtureAt(const TSimConfig& config, double atSeconds);

}  // namespace sim
