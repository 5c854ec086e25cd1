// Cutting the monitor's input into frames, and replaying the receive handler's reads.
#include "bench/FrameAccounting.h"

#include <algorithm>

namespace bench {

namespace {

// The handler's reads, handed out one by one; when they run out the read "times out" and leaves
// the target as it was, as the driver's read does.
class TReplayReader : public sensor::TByteReader {
 public:
  TReplayReader(const std::uint8_t* bytes, std::uint32_t count) : Bytes(bytes), Count(count) {}
  bool ReadByte(std::uint8_t& target) override {
    if (Next >= Count) return false;
    target = Bytes[Next++];
    return true;
  }
  std::uint32_t Taken() const { return Next; }

 private:
  const std::uint8_t* Bytes;
  std::uint32_t Count;
  std::uint32_t Next = 0;
};

}  // namespace

void TFrameAccounting::OnByte(std::uint8_t value, TByteSource source) {
  ++FStream.Bytes;
  if (source == TByteSource::Handler && HandlerOpen) {
    if (HandlerCount < HandlerBytes.size()) HandlerBytes[HandlerCount] = value;
    ++HandlerCount;
    ++FHandler.ReadBytes;
  }
  Window[WindowSize] = value;
  WindowSource[WindowSize] = source;
  ++WindowSize;
  Scan();
}

void TFrameAccounting::Scan() {
  while (WindowSize > 0) {
    if (Window[0] != sensor::SyncValue) {
      ++FStream.StrayBytes;
      std::copy(Window.begin() + 1, Window.begin() + WindowSize, Window.begin());
      std::copy(WindowSource.begin() + 1, WindowSource.begin() + WindowSize, WindowSource.begin());
      --WindowSize;
      continue;
    }
    if (WindowSize < 5) return;
    TakeCandidate();
  }
}

void TFrameAccounting::TakeCandidate() {
  sensor::SensorFrame frame{Window[0], Window[1], Window[2], Window[3], Window[4]};
  const bool good = sensor::ExpectedCheckByte(frame) == frame.CheckByte;
  int taken = 5;
  if (good || Aligned) {
    good ? ++FStream.GoodFrames : ++FStream.BadFrames;
    int fromPoll = 0;
    for (int i = 0; i < 5; ++i) fromPoll += WindowSource[i] == TByteSource::Poll;
    if (fromPoll == 5) {
      ++FStream.InPollChunks;
    } else if (fromPoll == 0) {
      ++FStream.InHandler;
      good ? ++FStream.GoodInHandler : ++FStream.BadInHandler;
    } else {
      ++FStream.Split;
    }
  } else {
    // On a line with junk a failed candidate may be a junk sync byte: only that byte is placed.
    ++FStream.BadFrames;
    ++FStream.StrayBytes;
    taken = 1;
  }
  std::copy(Window.begin() + taken, Window.begin() + WindowSize, Window.begin());
  std::copy(WindowSource.begin() + taken, WindowSource.begin() + WindowSize, WindowSource.begin());
  WindowSize -= taken;
}

void TFrameAccounting::OnPurge(std::uint64_t bytesDiscarded) {
  FStream.PurgedBytes += bytesDiscarded;
  if (bytesDiscarded == 0) return;
  if (WindowSize > 0) {
    ++FStream.CutByPurge;
    FStream.StrayBytes += static_cast<std::uint64_t>(WindowSize);
    WindowSize = 0;
  }
}

void TFrameAccounting::BeginHandler(const sensor::SensorFrame& current,
                                    const sensor::SensorFrame& lastGood) {
  HandlerOpen = true;
  HandlerCount = 0;
  CurrentBefore = current;
  LastGoodBefore = lastGood;
}

void TFrameAccounting::EndHandler(const sensor::SensorFrame& current,
                                  const sensor::SensorFrame& lastGood) {
  HandlerOpen = false;
  ++FHandler.Invocations;
  const std::uint32_t kept = std::min<std::uint32_t>(HandlerCount, HandlerBytes.size());
  TReplayReader reader(HandlerBytes.data(), kept);
  sensor::SensorFrame replayed = CurrentBefore;
  sensor::SensorFrame replayedGood = LastGoodBefore;
  const bool found = sensor::ReadSensorFrame(reader, replayed);
  bool held = false;
  if (found) held = sensor::AcceptFrame(replayed, replayedGood);
  if (!found) {
    ++FHandler.NoFrame;
  } else if (held) {
    ++FHandler.Accepted;
  } else {
    ++FHandler.Rejected;
  }
  // Every byte read must have been used by the replay, and the window must hold what the replay
  // holds; otherwise a read timed out in the middle and the replay took a later byte for it.
  if (reader.Taken() != HandlerCount || !(replayed == current) || !(replayedGood == lastGood)) {
    ++FHandler.Disagreed;
  }
}

}  // namespace bench
