// The simulated controller box: a thread of its own at the far end of a pseudo-terminal (or of a
// given terminal device) that answers every request byte with one frame, as the real box does.
// It never runs on the monitor's GUI thread; the monitor talks to it only through the line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/SimConfig.h"

namespace platform {
class TPseudoTerminal;
}

namespace sim {

// What the box has done since it was made, for benchmarks that check that nothing was lost or
// invented. Once the box is stopped (or unplugged) and nothing is in flight:
// RequestsSeen == FramesSent + SilentRequestsIgnored + AnswersDropped.
struct TSimCounters {
  std::uint64_t RequestsSeen = 0;           // request bytes read from the line
  std::uint64_t FramesSent = 0;             // frames fully written, corrupted ones included
  std::uint64_t FramesCorrupted = 0;        // of those, sent with a wrong check byte
  std::uint64_t JunkBytesSent = 0;          // junk bytes written ahead of frames
  std::uint64_t SilentRequestsIgnored = 0;  // requests that fell into a silent spell
  std::uint64_t OtherBytesIgnored = 0;      // bytes read that were not the request byte
  // Answers that never fully reached the line: still queued at an unplug or stop, or refused by a
  // peer that stopped reading.
  std::uint64_t AnswersDropped = 0;
};

class TKestSimulator {
 public:
  explicit TKestSimulator(TSimConfig config = {});
  // Stops the box first.
  ~TKestSimulator();
  TKestSimulator(const TKestSimulator&) = delete;
  TKestSimulator& operator=(const TKestSimulator&) = delete;

  const TSimConfig& Config() const { return FConfig; }
  // Takes effect at the next Start; ignored while running, like the driver's settings.
  void SetConfig(const TSimConfig& config);

  // Opens the line (a new pseudo-terminal, or Config().TtyPath), makes the link if one is asked
  // for, and starts answering on the box's own thread. The scenario's clock starts here. False,
  // with LastError() saying why, when the line or the link cannot be made; nothing is left open.
  // True at once when already running.
  bool Start();
  // Ends the thread, closes the line (the peer sees a hang-up) and removes the link. Safe to call
  // twice or before Start.
  void Stop();
  bool IsRunning() const;

  // Pulls the plug: the thread ends, the line closes so the peer sees a hang-up, the link goes,
  // as when a USB adapter is pulled out. Counters and the scenario's clock go on. False when the
  // box was not running.
  bool Unplug();
  // Plugs back in after Unplug: a new pseudo-terminal (or the same TtyPath re-opened), the link
  // pointed at it, the thread running again. False, with LastError(), when that fails or the box
  // was never started or is still plugged in.
  bool Replug();

  // When the scenario's clock started (the last Start); the engine side of the drive keeps time
  // from it too.
  std::chrono::steady_clock::time_point StartedAt() const { return StartTime; }

  // The device the monitor opens (the slave's path or TtyPath); empty while not running.
  std::string SlavePath() const;
  // Why the last Start or Replug failed.
  std::string LastError() const;
  // A snapshot of the counters; safe from any thread while the box runs.
  TSimCounters Counters() const;

 private:
  // The counters as the box's thread keeps them; TSimCounters is their snapshot.
  struct TCounters {
    std::atomic<std::uint64_t> RequestsSeen{0};
    std::atomic<std::uint64_t> FramesSent{0};
    std::atomic<std::uint64_t> FramesCorrupted{0};
    std::atomic<std::uint64_t> JunkBytesSent{0};
    std::atomic<std::uint64_t> SilentRequestsIgnored{0};
    std::atomic<std::uint64_t> OtherBytesIgnored{0};
    std::atomic<std::uint64_t> AnswersDropped{0};
  };
  class TOutQueue;

  bool OpenLine();
  void CloseLine();
  void RunThread();
  // Reads `count` bytes that came in: each request gets its answer queued after the latency.
  void AnswerRequests(const std::uint8_t* input, std::size_t count, TOutQueue& queue);
  void RunSpew();
  bool MakeLink(const std::string& target);
  void RemoveLink();
  void SetError(const std::string& error);

  TSimConfig FConfig;
  std::unique_ptr<platform::TPseudoTerminal> Line;
  std::thread Worker;
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> Running{false};
  bool Started = false;  // Start succeeded and Stop has not run: Replug is allowed
  std::chrono::steady_clock::time_point StartTime{};
  TCounters Count;
  mutable std::mutex StateLock;  // guards Slave and Error, read from other threads
  std::string Slave;
  std::string Error;
  std::string LinkMade;    // the link we made and must remove
  std::string LinkTarget;  // where it points; a link re-pointed by someone else is left alone
};

}  // namespace sim
