// How the simulated controller box behaves: what it measures, how fast it answers and which faults
// of a real line it shows. One record configures both the frame generator and the simulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/FuelTable.h"

namespace sim {

enum class TScenario {
  Constant,  // a fixed mixture: ConstantAfr on every frame
  Drive,     // idle, load, cruise and overrun in turn, as a car on the road
};

struct TSimConfig {
  TScenario Scenario = TScenario::Constant;
  std::uint8_t ConstantAfr = 147;  // petrol AFR x 10 for the constant scenario

  int LatencyMs = 2;  // from a request's arrival to the first byte of its answer
  // Sends at the line's byte rate (19200 bit/s, ten bits a byte) instead of all bytes at once.
  bool Pace = false;

  double WarmupSeconds = 0;  // temperature codes stay at 180 or more this long after start

  double CorruptRate = 0;  // share of frames, 0 to 1, sent with a wrong check byte
  double JunkRate = 0;     // share of answers, 0 to 1, preceded by a burst of junk bytes

  // Silent spells: no answer during the last SilentForSeconds of every SilentEverySeconds.
  double SilentEverySeconds = 0;
  double SilentForSeconds = 0;

  // A line that has gone bad: junk bytes without a single sync byte, sent all the time at the
  // line's byte rate, and no answer to any request (each counts as ignored in a silent spell).
  bool Spew = false;

  double SupplyVolts = 13.8;  // 0 to 16
  // Supply dips to DipVolts during the last DipForSeconds of every DipEverySeconds.
  bool Dip = false;
  double DipVolts = 11.2;
  double DipEverySeconds = 20;
  double DipForSeconds = 4;

  std::uint64_t Seed = 1;  // the same seed repeats the same run

  // The engine computer's fuel arithmetic, which makes the drive scenario's mixture. The closed
  // loop trims the fuel towards the target where it may; the real engine breathes VeError times
  // what the built-in VE table says (none: exactly that); the engine computer fuels by VeTable
  // (none: the built-in one).
  bool ClosedLoop = true;
  // The engine was warmed up before the drive: its coolant starts where the thermostat holds it,
  // so the closed loop may work from the first steady stretch.
  bool EngineWarm = false;
  std::optional<TFuelTable> VeError;
  std::optional<TFuelTable> VeTable;

  // Where the simulator appears. Empty TtyPath: a new pseudo-terminal; otherwise that existing
  // terminal device. Non-empty LinkPath: a symbolic link to the device, kept while plugged in.
  std::string TtyPath;
  std::string LinkPath;
};

}  // namespace sim
