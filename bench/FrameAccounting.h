// Where every byte the monitor took from the line went: the poll's chunks, which the receive
// handler discards by design, or the handler's own reads; and which frames the handler accepted.
//
// Fed online, one byte at a time, from the tapping serial backend, in fixed-size state: a soak of
// hours must not grow the very memory the benchmark measures.
#pragma once

#include <array>
#include <cstdint>

#include "sensor/SensorFrame.h"

namespace bench {

enum class TByteSource : std::uint8_t { Poll, Handler };

// The stream of bytes the monitor read, cut into frames with the frame rules (a sync byte and the
// four bytes after it; the check byte decides good or bad).
struct TStreamFrames {
  std::uint64_t Bytes = 0;        // every byte read
  std::uint64_t PurgedBytes = 0;  // bytes the monitor's purges discarded unread
  std::uint64_t GoodFrames = 0;   // check byte held
  std::uint64_t BadFrames = 0;    // sync and four bytes, check byte wrong
  std::uint64_t StrayBytes = 0;   // bytes outside any frame: junk
  std::uint64_t CutByPurge = 0;   // frames begun and then cut off by a purge
  // By where the frame's five bytes were read (good and bad together):
  std::uint64_t InPollChunks = 0;  // wholly in poll chunks: answers to the tick's request
  std::uint64_t InHandler = 0;     // wholly by the handler's reads
  std::uint64_t Split = 0;         // begun in a poll chunk, finished by the handler
  std::uint64_t GoodInHandler = 0;
  std::uint64_t BadInHandler = 0;
};

// What the receive handler made of its reads, replayed with the frame rules and checked against
// the state the window was left in.
struct THandlerFrames {
  std::uint64_t Invocations = 0;
  std::uint64_t Accepted = 0;   // frame found and its check byte held
  std::uint64_t Rejected = 0;   // frame found, check byte wrong: last good frame restored
  std::uint64_t NoFrame = 0;    // no sync within the search
  std::uint64_t ReadBytes = 0;  // bytes the handler read
  std::uint64_t Disagreed = 0;  // replay and window state differ (a read timed out mid-frame)
};

class TFrameAccounting {
 public:
  // `aligned`: the line carries nothing but whole frames (no junk), so a frame whose check fails
  // is one frame and the next begins right after it. Otherwise a failed candidate gives up only
  // its sync byte and the search goes on from the byte after it.
  explicit TFrameAccounting(bool aligned) : Aligned(aligned) {}

  void OnByte(std::uint8_t value, TByteSource source);
  // The monitor purged its receive queue: the frame being gathered, if any, will not be finished.
  void OnPurge(std::uint64_t bytesDiscarded);

  // Before the handler runs: the window's current and last good frame.
  void BeginHandler(const sensor::SensorFrame& current, const sensor::SensorFrame& lastGood);
  // After the handler returned: replays its reads and compares with the window's frames.
  void EndHandler(const sensor::SensorFrame& current, const sensor::SensorFrame& lastGood);
  bool InHandler() const { return HandlerOpen; }

  const TStreamFrames& Stream() const { return FStream; }
  const THandlerFrames& Handler() const { return FHandler; }

 private:
  void Scan();
  void TakeCandidate();

  bool Aligned;
  TStreamFrames FStream;
  THandlerFrames FHandler;

  // The bytes not yet placed: at most one frame's worth.
  std::array<std::uint8_t, 5> Window{};
  std::array<TByteSource, 5> WindowSource{};
  int WindowSize = 0;

  bool HandlerOpen = false;
  sensor::SensorFrame CurrentBefore;
  sensor::SensorFrame LastGoodBefore;
  // The sync search reads at most 20 bytes and the frame 5 more (a doubled sync one more).
  std::array<std::uint8_t, 32> HandlerBytes{};
  std::uint32_t HandlerCount = 0;
};

}  // namespace bench
