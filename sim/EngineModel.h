// The engine the simulated box sits on: engine speed, manifold pressure, throttle and coolant
// temperature that go with the box's mixture scenario, as the engine software would log them. Pure
// functions of the configuration and the scenario's time, like the box's own signals, so a drive
// repeats exactly for a seed and tests can walk through it in no time.
#pragma once

#include "sim/SimConfig.h"

namespace sim {

// Coolant of a cold start, and where the thermostat holds it once warm.
inline constexpr double ColdCoolantC = 18.0;
inline constexpr double WarmCoolantC = 88.0;
// How far the engine's own wideband trails the box's: its sensor sits further down the exhaust
// and the engine software filters it.
inline constexpr double EngineAfrLagSeconds = 0.15;

struct TEngineState {
  double Rpm = 0;
  double MapKpa = 0;      // manifold absolute pressure
  double TpsPercent = 0;  // throttle opening
  double CoolantC = 0;
  double Afr = 0;  // the engine software's own wideband reading, petrol AFR
};

// The engine at `atSeconds` after the box started (negative times count as 0). The drive scenario
// idles (cold: a faster idle), tips in to full load with rising speed where the mixture goes rich,
// cruises at part load, and overruns with a closed throttle where it goes lean; the constant
// scenario cruises steadily. The coolant warms from cold in either. Afr trails the box's mixture
// by EngineAfrLagSeconds with a little noise of its own. Equal arguments give equal states.
TEngineState EngineStateAt(const TSimConfig& config, double atSeconds);

}  // namespace sim
