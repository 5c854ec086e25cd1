// What the simulated box answers to one request, worked out from the configuration, the time since
// the box started and the request's number alone: no clock, no device and no hidden state, so a run
// repeats exactly for a seed and tests can walk through hours of it in no time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/SimConfig.h"

namespace sim {

// The box's side of the protocol, written out here on purpose rather than taken from sensor/: the
// simulator is an independent check of the monitor's decoder, and a fault in a shared constant
// would otherwise pass on both ends unseen.
inline constexpr std::uint8_t RequestCode = 110;  // 'n', the monitor's only request
inline constexpr std::uint8_t SyncCode = 34;      // '"', first byte of every frame
inline constexpr std::size_t FrameSize = 5;
inline constexpr std::size_t MaxJunkBurst = 12;
// Supply volts of one step of the voltage code.
inline constexpr double VoltsPerCode = 0.019607843 * 3.2;
// Temperature code of a sensor that is up to heat, and how long it takes to fall there from the
// last warm-up code once the warm-up time is over.
inline constexpr std::uint8_t WarmTempCode = 20;
inline constexpr double WarmSettleSeconds = 2.0;
// The drive scenario repeats idle, load, cruise and overrun once per cycle, with phase lengths and
// mixtures that differ from cycle to cycle.
inline constexpr double DriveCycleSeconds = 16.0;

// A small generator with the same sequence on every compiler and system (the standard library's
// distributions differ between implementations, which would break "same seed, same run").
class TSimRng {
 public:
  explicit TSimRng(std::uint64_t seed) : State(seed) {}
  std::uint64_t Next();
  // Uniform in [0, 1).
  double Uniform();
  // Uniform in [0, bound); 0 when bound is 0.
  std::uint32_t Below(std::uint32_t bound);

 private:
  std::uint64_t State;
};

// Mixes two numbers into one well-spread 64-bit value; used to derive independent streams.
std::uint64_t MixSeed(std::uint64_t a, std::uint64_t b);

// 255 minus the low byte of the sum of the sync byte and the three data bytes.
std::uint8_t FrameCheckByte(std::uint8_t afr, std::uint8_t volts, std::uint8_t temp);

// The drive scenario's phases in the order they come in every cycle.
enum class TDrivePhase : std::uint8_t { Idle, Load, Cruise, Overrun };
inline constexpr int DrivePhaseCount = 4;

// Where the drive scenario is at some moment: the engine side of the drive is worked out from it,
// so that engine speed and load sit where the mixture says they should.
struct TDrivePoint {
  std::uint64_t Cycle = 0;
  TDrivePhase Phase = TDrivePhase::Idle;
  double SincePhaseStart = 0;  // seconds
  double PhaseSeconds = 0;     // the phase's whole length
  int FromAfr = 0;             // AFR x 10 the drive chose for the phase before
  int ToAfr = 0;               // and for this phase
};
// The drive scenario at `atSeconds` after start (negative times count as 0) for a seed.
TDrivePoint DrivePointAt(std::uint64_t seed, double atSeconds);
// How long the box's mixture takes to go lean when the fuel is cut, and to come back.
inline constexpr double DriveRampSeconds = 0.5;

// The noise-free signals at `atSeconds` after start (negative times count as 0). The drive's
// mixture is the engine's (DriveMixtureAt in sim/EngineModel.h) in the box's steps.
std::uint8_t AfrCodeAt(const TSimConfig& config, double atSeconds);
std::uint8_t VoltsCodeAt(const TSimConfig& config, double atSeconds);
std::uint8_t TempCodeAt(const TSimConfig& config, double atSeconds);
// Whether `atSeconds` falls into a silent spell, when the box answers nothing.
bool IsSilentAt(const TSimConfig& config, double atSeconds);

// One answer as it goes onto the line: the junk (if any) first, then the frame.
struct TAnswer {
  bool Silent = false;     // no bytes at all
  bool Corrupted = false;  // the frame's check byte is wrong on purpose
  std::size_t JunkCount = 0;
  std::array<std::uint8_t, MaxJunkBurst> Junk{};
  std::array<std::uint8_t, FrameSize> Frame{};
};

// The answer to request number `requestIndex` (counted from 0) arriving `atSeconds` after start.
// Equal arguments give equal answers; the randomness (noise, corruption, junk) comes from the seed
// and the request's number.
TAnswer MakeAnswer(const TSimConfig& config, double atSeconds, std::uint64_t requestIndex);

}  // namespace sim
