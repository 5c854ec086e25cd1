// The system's serial backend as the benchmark sees it: every call goes through to the real
// backend, while the bytes the monitor writes and reads are counted and handed to the frame
// accounting. Optionally the two waits return at once, which turns the driver's timed reads and
// writes back into the busy loops of a driver that never sleeps: the yardstick for the waits.
#pragma once

#include <cstdint>

#include "bench/FrameAccounting.h"
#include "platform/SerialApi.h"

namespace bench {

struct TLineCounts {
  std::uint64_t RequestsByTick = 0;     // bytes written outside the receive handler
  std::uint64_t RequestsByHandler = 0;  // bytes written by the receive handler
  std::uint64_t PollChunks = 0;         // reads outside the handler that returned bytes
  std::uint64_t Purges = 0;             // receive-side purges
  std::uint64_t Waits = 0;              // calls of the three waits of the serial interface
};

class TBenchSerialApi final : public platform::TSerialApi {
 public:
  // `inner` must outlive this object. `busyLoop`: WaitForInput, WaitForOutputSpace and
  // SleepMicroseconds return at once instead of waiting.
  TBenchSerialApi(platform::TSerialApi& inner, bool busyLoop) : Inner(inner), BusyLoop(busyLoop) {}

  // Where read bytes and handler boundaries go; null: nowhere. Must outlive its use.
  void SetAccounting(TFrameAccounting* accounting) { Accounting = accounting; }
  const TLineCounts& Counts() const { return FCounts; }
  // The port the monitor holds now, 0 when none.
  platform::TPortHandle OpenPort() const { return Port; }
  // Bytes waiting in the monitor's receive queue now (0 when no port is open).
  std::uint32_t QueuedNow();

  platform::TPortHandle CreateFile(const std::string& deviceName) override;
  platform::TOpenError LastOpenError() const override { return Inner.LastOpenError(); }
  bool CloseHandle(platform::TPortHandle port) override;
  bool SetCommState(platform::TPortHandle port, const platform::TDcb& dcb) override {
    return Inner.SetCommState(port, dcb);
  }
  bool SetupComm(platform::TPortHandle port, std::uint32_t inQueue,
                 std::uint32_t outQueue) override {
    return Inner.SetupComm(port, inQueue, outQueue);
  }
  bool SetCommTimeouts(platform::TPortHandle port,
                       const platform::TCommTimeouts& timeouts) override {
    return Inner.SetCommTimeouts(port, timeouts);
  }
  bool PurgeComm(platform::TPortHandle port, std::uint32_t flags) override;
  bool ClearCommError(platform::TPortHandle port, std::uint32_t& errors,
                      platform::TComStat& stat) override {
    return Inner.ClearCommError(port, errors, stat);
  }
  bool ReadFile(platform::TPortHandle port, void* buffer, std::uint32_t count,
                std::uint32_t& done) override;
  bool WriteFile(platform::TPortHandle port, const void* data, std::uint32_t count,
                 std::uint32_t& done) override;
  void WaitForInput(platform::TPortHandle port, std::uint32_t maxMs) override;
  void WaitForOutputSpace(platform::TPortHandle port, std::uint32_t maxMs) override;
  void SleepMicroseconds(std::uint32_t microseconds) override;
  std::uint32_t GetTickCount() override { return Inner.GetTickCount(); }
  bool GetVersionEx(platform::TOsVersionInfo& info) override { return Inner.GetVersionEx(info); }
  std::unique_ptr<platform::TPollWindow> CreatePollWindow(platform::TPollHandler handler) override {
    return Inner.CreatePollWindow(std::move(handler));
  }

 private:
  bool InHandler() const { return Accounting != nullptr && Accounting->InHandler(); }

  platform::TSerialApi& Inner;
  bool BusyLoop;
  TFrameAccounting* Accounting = nullptr;
  TLineCounts FCounts;
  platform::TPortHandle Port = 0;
};

}  // namespace bench
