// Finding, reading and checking the controller's five-byte frame.
#include "sensor/SensorFrame.h"

namespace sensor {

std::uint8_t ExpectedCheckByte(const SensorFrame& frame) {
  // The controller sums in eight bits; unsigned wrap-around gives the same low byte.
  const unsigned sum =
      static_cast<unsigned>(frame.SyncByte) + frame.AfrByte + frame.VoltsByte + frame.TempByte;
  return static_cast<std::uint8_t>(255u - (sum & 0xFFu));
}

bool ReadSensorFrame(TByteReader& source, SensorFrame& current) {
  // The search byte starts as "not a sync" and is never taken from the frame: a time-out on the
  // first read must not find the 34 that the previous frame left in SyncByte.
  std::uint8_t searchByte = 0;
  int reads = 0;
  while (reads < SyncSearchReads) {
    // A timed-out read leaves the byte read before it, yet still counts as one of the reads.
    source.ReadByte(searchByte);
    ++reads;
    if (searchByte == SyncValue) break;
  }
  // A sync on the last permitted read is discarded, so a silent or noisy line can cost at most
  // SyncSearchReads reads and never starts a frame it has no budget left to check.
  if (searchByte != SyncValue || reads >= SyncSearchReads) return false;

  current.SyncByte = SyncValue;
  source.ExpectBytes(FrameLength - 1);
  // The fields are read in place: a timed-out read keeps that field's previous value, which the
  // checksum step then judges like any other byte.
  source.ReadByte(current.AfrByte);
  // The controller may send the sync twice; the second one is skipped, but only once, so a frame
  // whose mixture byte really is 34 still has a chance to be read.
  if (current.AfrByte == SyncValue) source.ReadByte(current.AfrByte);
  source.ReadByte(current.VoltsByte);
  source.ReadByte(current.TempByte);
  source.ReadByte(current.CheckByte);
  return true;
}

bool AcceptFrame(SensorFrame& current, SensorFrame& lastGood) {
  if (ExpectedCheckByte(current) == current.CheckByte) {
    lastGood = current;
    return true;
  }
  // A corrupt frame repeats the last good values rather than showing garbage; before the first
  // good frame those are all zero.
  current = lastGood;
  return false;
}

double SupplyVoltsOf(std::uint8_t voltsByte) {
  // Worked in extended precision and only then narrowed, as the controller's scale is defined.
  const long double volts = static_cast<long double>(voltsByte) * 0.019607843L * 3.2L;
  return static_cast<double>(volts);
}

}  // namespace sensor
