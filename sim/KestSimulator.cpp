// The simulated box's thread: read requests, answer each with one frame after the latency.
#include "sim/KestSimulator.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/PseudoTerminal.h"
#include "sim/FrameGenerator.h"

namespace sim {

namespace {

using TClock = std::chrono::steady_clock;

// Ten bits a byte (start, eight data, stop) at 19200 bit/s.
constexpr auto ByteTime = std::chrono::nanoseconds(1'000'000'000LL * 10 / 19200);
// How long a wait for requests lasts at most, so that Stop is seen within this time.
constexpr int IdleWaitMs = 20;
// How long a write may wait for a peer that does not read before its bytes are given up.
constexpr int WriteTimeoutMs = 500;
constexpr std::size_t QueueCapacity = 4096;
constexpr std::size_t AnswerBytes = MaxJunkBurst + FrameSize;
// A spewing line writes what is due every few milliseconds, as a USB adapter hands over what it
// gathered, rather than waking for every byte. The stream of its generator is kept apart from the
// answers' streams.
constexpr int SpewWakeMs = 5;
constexpr std::uint64_t SpewStream = 0x5350455755ull;

enum class TByteKind : std::uint8_t { Junk, Frame, FrameEnd, CorruptFrameEnd };

struct TPending {
  TClock::time_point Earliest;
  std::uint8_t Byte = 0;
  TByteKind Kind = TByteKind::Frame;
};

}  // namespace

// Bytes of answers waiting for their time on the line, oldest first, and how they leave: paced at
// the line's byte rate when asked, counted only once written. Fixed size: the thread allocates once
// when it starts, never per request.
class TKestSimulator::TOutQueue {
 public:
  TOutQueue(TKestSimulator& box, bool pace) : Box(box), Pace(pace), Slots(QueueCapacity) {}
  bool Empty() const { return Size == 0; }
  // When the oldest byte may go: its answer's time, and with pacing not before the line is free.
  TClock::time_point DueOfFront() const {
    const TPending& front = Slots[Head];
    return Pace ? std::max(front.Earliest, LineFree) : front.Earliest;
  }
  // Writes the bytes due by `now` (all queued bytes when `everything`), counting only what left.
  void Flush(TClock::time_point now, bool everything);
  // Queues an answer's junk and frame to go from `earliest` on.
  void Enqueue(const TAnswer& answer, TClock::time_point earliest);
  // Gives up every queued byte, counting the answers that never left.
  void DropAll() {
    while (!Empty()) {
      const TByteKind kind = Pop().Kind;
      if (kind == TByteKind::FrameEnd || kind == TByteKind::CorruptFrameEnd) {
        ++Box.Count.AnswersDropped;
      }
    }
  }

 private:
  void Push(const TPending& pending) {
    Slots[(Head + Size) % Slots.size()] = pending;
    ++Size;
  }
  TPending Pop() {
    const TPending front = Slots[Head];
    Head = (Head + 1) % Slots.size();
    --Size;
    return front;
  }
  void CountSent(const TByteKind* kinds, std::size_t sent, std::size_t taken);

  TKestSimulator& Box;
  bool Pace;
  TClock::time_point LineFree{};  // when the line is free for the next byte
  std::vector<TPending> Slots;
  std::size_t Head = 0;
  std::size_t Size = 0;
  std::uint8_t Output[AnswerBytes * 4];
};

void TKestSimulator::TOutQueue::Flush(TClock::time_point now, bool everything) {
  std::size_t taken = 0;
  TByteKind kinds[sizeof Output];
  while (!Empty() && taken < sizeof Output) {
    const TClock::time_point due = DueOfFront();
    if (!everything && due > now) break;
    if (Pace) LineFree = due + ByteTime;
    const TPending pending = Pop();
    Output[taken] = pending.Byte;
    kinds[taken] = pending.Kind;
    ++taken;
  }
  if (taken == 0) return;
  CountSent(kinds, Box.Line->Write(Output, taken, WriteTimeoutMs), taken);
}

void TKestSimulator::TOutQueue::CountSent(const TByteKind* kinds, std::size_t sent,
                                          std::size_t taken) {
  TCounters& count = Box.Count;
  for (std::size_t i = 0; i < sent; ++i) {
    switch (kinds[i]) {
      case TByteKind::Junk:
        ++count.JunkBytesSent;
        break;
      case TByteKind::Frame:
        break;
      case TByteKind::CorruptFrameEnd:
        ++count.FramesCorrupted;
        [[fallthrough]];
      case TByteKind::FrameEnd:
        ++count.FramesSent;
        break;
    }
  }
  if (sent < taken) {
    // The peer stopped taking bytes. What did not go out is given up whole, including the rest
    // of a half-sent answer, so that no fragment turns up later out of its time.
    for (std::size_t i = sent; i < taken; ++i) {
      if (kinds[i] == TByteKind::FrameEnd || kinds[i] == TByteKind::CorruptFrameEnd) {
        ++count.AnswersDropped;
      }
    }
    DropAll();
  }
}

void TKestSimulator::TOutQueue::Enqueue(const TAnswer& answer, TClock::time_point earliest) {
  // A flood of requests can outrun the latency; then answers go out early rather than never.
  while (Slots.size() - Size < AnswerBytes) Flush(TClock::now(), true);
  for (std::size_t i = 0; i < answer.JunkCount; ++i) {
    Push({earliest, answer.Junk[i], TByteKind::Junk});
  }
  for (std::size_t i = 0; i < FrameSize; ++i) {
    TByteKind kind = TByteKind::Frame;
    if (i + 1 == FrameSize)
      kind = answer.Corrupted ? TByteKind::CorruptFrameEnd : TByteKind::FrameEnd;
    Push({earliest, answer.Frame[i], kind});
  }
}

TKestSimulator::TKestSimulator(TSimConfig config)
    : FConfig(std::move(config)), Line(std::make_unique<platform::TPseudoTerminal>()) {}

TKestSimulator::~TKestSimulator() { Stop(); }

void TKestSimulator::SetConfig(const TSimConfig& config) {
  if (Started) return;
  FConfig = config;
}

bool TKestSimulator::IsRunning() const { return Running.load(); }

std::string TKestSimulator::SlavePath() const {
  std::lock_guard lock(StateLock);
  return Slave;
}

std::string TKestSimulator::LastError() const {
  std::lock_guard lock(StateLock);
  return Error;
}

void TKestSimulator::SetError(const std::string& error) {
  std::lock_guard lock(StateLock);
  Error = error;
}

TSimCounters TKestSimulator::Counters() const {
  TSimCounters snapshot;
  snapshot.RequestsSeen = Count.RequestsSeen.load();
  snapshot.FramesSent = Count.FramesSent.load();
  snapshot.FramesCorrupted = Count.FramesCorrupted.load();
  snapshot.JunkBytesSent = Count.JunkBytesSent.load();
  snapshot.SilentRequestsIgnored = Count.SilentRequestsIgnored.load();
  snapshot.OtherBytesIgnored = Count.OtherBytesIgnored.load();
  snapshot.AnswersDropped = Count.AnswersDropped.load();
  return snapshot;
}

bool TKestSimulator::Start() {
  if (Started) return true;
  StartTime = TClock::now();
  if (!OpenLine()) return false;
  Started = true;
  return true;
}

void TKestSimulator::Stop() {
  if (Worker.joinable()) {
    StopRequested = true;
    Worker.join();
  }
  CloseLine();
  Started = false;
}

bool TKestSimulator::Unplug() {
  if (!Started || !Worker.joinable()) return false;
  StopRequested = true;
  Worker.join();
  CloseLine();
  return true;
}

bool TKestSimulator::Replug() {
  if (!Started) {
    SetError("the simulator was not started");
    return false;
  }
  if (Worker.joinable()) {
    SetError("the simulator is still plugged in");
    return false;
  }
  return OpenLine();
}

bool TKestSimulator::OpenLine() {
  const bool opened = FConfig.TtyPath.empty() ? Line->Open() : Line->OpenExisting(FConfig.TtyPath);
  if (!opened) {
    SetError(Line->LastError());
    return false;
  }
  if (!MakeLink(Line->SlavePath())) {
    Line->Close();
    return false;
  }
  {
    std::lock_guard lock(StateLock);
    Slave = Line->SlavePath();
    Error.clear();
  }
  StopRequested = false;
  Running = true;
  Worker = std::thread(&TKestSimulator::RunThread, this);
  return true;
}

void TKestSimulator::CloseLine() {
  // The link goes before the device so that nobody who follows it in between finds a dead end
  // that a new pseudo-terminal of someone else's could take over.
  RemoveLink();
  Line->Close();
  std::lock_guard lock(StateLock);
  Slave.clear();
}

bool TKestSimulator::MakeLink(const std::string& target) {
  if (FConfig.LinkPath.empty()) return true;
  namespace fs = std::filesystem;
  const fs::path link(FConfig.LinkPath);
  std::error_code error;
  // A stale link of an earlier run is ours to replace; a file or folder of the user's is not.
  const fs::file_status existing = fs::symlink_status(link, error);
  if (fs::exists(existing) && !fs::is_symlink(existing)) {
    SetError(FConfig.LinkPath + ": exists and is not a symbolic link; not replacing it");
    return false;
  }
  // Made under a temporary name and renamed over the old one, so that a monitor opening the link
  // meanwhile finds either the old device or the new one, never no link at all.
  const fs::path temporary = link.string() + ".kestsim-new";
  fs::remove(temporary, error);
  fs::create_symlink(target, temporary, error);
  if (!error) fs::rename(temporary, link, error);
  if (error) {
    SetError(FConfig.LinkPath + ": " + error.message());
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  LinkMade = FConfig.LinkPath;
  LinkTarget = target;
  return true;
}

void TKestSimulator::RemoveLink() {
  if (LinkMade.empty()) return;
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path pointsTo = fs::read_symlink(LinkMade, error);
  if (!error && pointsTo == fs::path(LinkTarget)) fs::remove(LinkMade, error);
  LinkMade.clear();
  LinkTarget.clear();
}

void TKestSimulator::RunThread() {
  if (FConfig.Spew) {
    RunSpew();
    return;
  }
  TOutQueue queue(*this, FConfig.Pace);
  std::uint8_t input[256];
  while (!StopRequested.load()) {
    const TClock::time_point now = TClock::now();
    int waitMs = IdleWaitMs;
    if (!queue.Empty()) {
      const TClock::time_point due = queue.DueOfFront();
      if (due <= now) {
        queue.Flush(now, false);
        continue;
      }
      const auto left = due - now;
      if (left < std::chrono::milliseconds(1)) {
        // The wait for input counts in whole milliseconds; a paced byte is due sooner than that.
        std::this_thread::sleep_until(due);
        continue;
      }
      waitMs = static_cast<int>(std::min<long long>(
          IdleWaitMs, std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
    }
    const long got = Line->Read(input, sizeof input, waitMs);
    if (got < 0) break;  // the line is gone (a real device hung up): nothing more to answer
    if (got > 0) AnswerRequests(input, static_cast<std::size_t>(got), queue);
  }
  queue.DropAll();
  Running = false;
}

void TKestSimulator::AnswerRequests(const std::uint8_t* input, std::size_t count,
                                    TOutQueue& queue) {
  const TClock::time_point arrival = TClock::now();
  const double atSeconds = std::chrono::duration<double>(arrival - StartTime).count();
  const auto latency = std::chrono::milliseconds(std::max(FConfig.LatencyMs, 0));
  for (std::size_t i = 0; i < count; ++i) {
    if (input[i] != RequestCode) {
      ++Count.OtherBytesIgnored;
      continue;
    }
    const std::uint64_t index = Count.RequestsSeen.fetch_add(1);
    const TAnswer answer = MakeAnswer(FConfig, atSeconds, index);
    if (answer.Silent) {
      ++Count.SilentRequestsIgnored;
      continue;
    }
    queue.Enqueue(answer, arrival + latency);
  }
}

// Junk at the line's byte rate for as long as the box runs, never a sync byte, so that a monitor
// searching for frames finds none; requests are read and ignored.
void TKestSimulator::RunSpew() {
  TSimRng rng(MixSeed(FConfig.Seed, SpewStream));
  std::uint8_t input[256];
  std::uint8_t output[64];
  TClock::time_point nextByte = TClock::now();
  while (!StopRequested.load()) {
    const TClock::time_point now = TClock::now();
    std::size_t due = 0;
    while (nextByte <= now && due < sizeof output) {
      // 255 values without the sync byte, evenly.
      std::uint32_t value = rng.Below(255);
      if (value >= SyncCode) ++value;
      output[due++] = static_cast<std::uint8_t>(value);
      nextByte += ByteTime;
    }
    if (due > 0) {
      // A short wait: a peer that stops reading must not keep Stop waiting.
      const std::size_t sent = Line->Write(output, due, IdleWaitMs);
      Count.JunkBytesSent += sent;
      // What a full line refused is not owed later: the line goes on at its rate from now.
      if (sent < due) nextByte = TClock::now() + ByteTime;
    }
    const long got = Line->Read(input, sizeof input, SpewWakeMs);
    if (got < 0) break;
    for (long i = 0; i < got; ++i) {
      if (input[i] == RequestCode) {
        ++Count.RequestsSeen;
        ++Count.SilentRequestsIgnored;
      } else {
        ++Count.OtherBytesIgnored;
      }
    }
  }
  Running = false;
}

}  // namespace sim
