// The counting (and optionally never-waiting) serial backend of the benchmark.
#include "bench/BenchSerialApi.h"

namespace bench {

std::uint32_t TBenchSerialApi::QueuedNow() {
  if (Port == 0) return 0;
  std::uint32_t errors = 0;
  platform::TComStat stat;
  if (!Inner.ClearCommError(Port, errors, stat)) return 0;
  return stat.cbInQue;
}

platform::TPortHandle TBenchSerialApi::CreateFile(const std::string& deviceName) {
  const platform::TPortHandle handle = Inner.CreateFile(deviceName);
  if (handle != platform::InvalidPortHandle) Port = handle;
  return handle;
}

bool TBenchSerialApi::CloseHandle(platform::TPortHandle port) {
  if (port == Port) Port = 0;
  return Inner.CloseHandle(port);
}

bool TBenchSerialApi::PurgeComm(platform::TPortHandle port, std::uint32_t flags) {
  if ((flags & platform::PURGE_RXCLEAR) != 0) {
    // What the purge is about to throw away, so that the bytes can be accounted for. A byte that
    // arrives between this query and the purge itself escapes the count; the watchdog purges only
    // a silent line, where none arrive.
    std::uint32_t errors = 0;
    platform::TComStat stat;
    const std::uint32_t queued = Inner.ClearCommError(port, errors, stat) ? stat.cbInQue : 0;
    ++FCounts.Purges;
    if (Accounting != nullptr) Accounting->OnPurge(queued);
  }
  return Inner.PurgeComm(port, flags);
}

bool TBenchSerialApi::ReadFile(platform::TPortHandle port, void* buffer, std::uint32_t count,
                               std::uint32_t& done) {
  const bool ok = Inner.ReadFile(port, buffer, count, done);
  if (ok && done > 0) {
    const bool inHandler = InHandler();
    if (!inHandler) ++FCounts.PollChunks;
    if (Accounting != nullptr) {
      const auto* bytes = static_cast<const std::uint8_t*>(buffer);
      const TByteSource source = inHandler ? TByteSource::Handler : TByteSource::Poll;
      for (std::uint32_t i = 0; i < done; ++i) Accounting->OnByte(bytes[i], source);
    }
  }
  return ok;
}

bool TBenchSerialApi::WriteFile(platform::TPortHandle port, const void* data, std::uint32_t count,
                                std::uint32_t& done) {
  const bool ok = Inner.WriteFile(port, data, count, done);
  if (ok) (InHandler() ? FCounts.RequestsByHandler : FCounts.RequestsByTick) += done;
  return ok;
}

void TBenchSerialApi::WaitForInput(platform::TPortHandle port, std::uint32_t maxMs) {
  ++FCounts.Waits;
  if (BusyLoop) return;
  Inner.WaitForInput(port, maxMs);
}

void TBenchSerialApi::WaitForOutputSpace(platform::TPortHandle port, std::uint32_t maxMs) {
  ++FCounts.Waits;
  if (BusyLoop) return;
  Inner.WaitForOutputSpace(port, maxMs);
}

void TBenchSerialApi::SleepMicroseconds(std::uint32_t microseconds) {
  ++FCounts.Waits;
  if (BusyLoop) return;
  Inner.SleepMicroseconds(microseconds);
}

}  // namespace bench
