// The controller's request/answer protocol: one request byte out, one five-byte frame back.
#pragma once

#include <cstdint>

namespace sensor {

// The only byte the monitor ever sends: 'n' asks the controller for one frame.
inline constexpr std::uint8_t RequestByte = 110;
inline constexpr std::uint8_t SyncValue = 34;  // '"', first byte of every frame
inline constexpr int FrameLength = 5;          // sync, mixture, volts, temperature, check
// A TempByte of this or more means the sensor is still warming up.
inline constexpr std::uint8_t WarmupTempCode = 180;
// How many single-byte reads the sync search makes at most; a sync on the last one is discarded.
inline constexpr int SyncSearchReads = 20;

struct SensorFrame {
  std::uint8_t SyncByte = 0;
  std::uint8_t AfrByte = 0;    // petrol air-fuel ratio x 10
  std::uint8_t VoltsByte = 0;  // supply voltage code
  std::uint8_t TempByte = 0;   // sensor temperature code
  std::uint8_t CheckByte = 0;  // 255 - low byte of the sum of the four bytes before it

  bool operator==(const SensorFrame&) const = default;
};

// 255 minus the low eight bits of SyncByte + AfrByte + VoltsByte + TempByte.
std::uint8_t ExpectedCheckByte(const SensorFrame& frame);

// Where the frame reader takes its bytes from: one byte per call, waiting up to the source's own
// time-out. False when no byte came; `target` then keeps the value it had.
class TByteReader {
 public:
  virtual ~TByteReader() = default;
  virtual bool ReadByte(std::uint8_t& target) = 0;
  // The next `count` reads belong together: the rest of a frame whose sync byte was just read. A
  // source on a line that carries bytes one at a time may wait for them all at once here, rather
  // than once per read. Nothing is read; a source that gains nothing by it does nothing.
  virtual void ExpectBytes(int count) { (void)count; }
};

// Sync search and frame read, on the current frame in place. Reads single bytes until a sync byte
// comes or SyncSearchReads reads were made; a timed-out read leaves the byte read before it (a
// time-out on the very first read counts as no sync). A frame is present when the sync came before
// the last read: the four bytes after it are then read into `current` (a doubled sync is skipped
// once). Returns whether a frame was read; without one `current` is untouched.
bool ReadSensorFrame(TByteReader& source, SensorFrame& current);

// The checksum step: a frame whose check byte holds becomes the last good one; any other frame is
// overwritten by the last good one. Returns whether the check byte held.
bool AcceptFrame(SensorFrame& current, SensorFrame& lastGood);

// Supply volts for a voltage code: code x 0.019607843 x 3.2 (255 gives 16.0 V).
double SupplyVoltsOf(std::uint8_t voltsByte);

inline bool IsWarmingUp(const SensorFrame& frame) { return frame.TempByte >= WarmupTempCode; }

}  // namespace sensor
