// The simulated box behind the serial interface, for --demo without a pseudo-terminal.
#include "sim/SimulatedLine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/FrameGenerator.h"

namespace sim {

namespace {

// Ten bits a byte (start, eight data, stop) at 19200 bit/s.
constexpr double ByteMs = 1000.0 * 10 / 19200;

bool Arrived(std::uint32_t due, std::uint32_t now) {
  return static_cast<std::int32_t>(now - due) >= 0;
}

}  // namespace

TSimulatedLine::TSimulatedLine(platform::TSerialApi& system, std::string port, TSimConfig config)
    : System(system),
      Port(std::move(port)),
      Config(std::move(config)),
      StartTick(system.GetTickCount()) {}

platform::TPortHandle TSimulatedLine::CreateFile(const std::string& deviceName) {
  if (deviceName != Port) {
    LastOpenWasBox = false;
    return System.CreateFile(deviceName);
  }
  LastOpenWasBox = true;
  if (BoxOpen) {
    BoxOpenError = platform::TOpenError::InUse;
    return platform::InvalidPortHandle;
  }
  BoxOpen = true;
  BoxOpenError = platform::TOpenError::None;
  Pending.clear();
  return BoxHandle;
}

platform::TOpenError TSimulatedLine::LastOpenError() const {
  return LastOpenWasBox ? BoxOpenError : System.LastOpenError();
}

platform::TOpenFailure TSimulatedLine::LastOpenFailure() const {
  if (!LastOpenWasBox) return System.LastOpenFailure();
  if (BoxOpenError == platform::TOpenError::None) return {};
  return {BoxOpenError, Port, {}, {}};
}

bool TSimulatedLine::CloseHandle(platform::TPortHandle port) {
  if (!IsBox(port)) return System.CloseHandle(port);
  BoxOpen = false;
  Pending.clear();
  return true;
}

bool TSimulatedLine::SetCommState(platform::TPortHandle port, const platform::TDcb& dcb) {
  return IsBox(port) || System.SetCommState(port, dcb);
}

bool TSimulatedLine::SetupComm(platform::TPortHandle port, std::uint32_t inQueue,
                               std::uint32_t outQueue) {
  return IsBox(port) || System.SetupComm(port, inQueue, outQueue);
}

bool TSimulatedLine::SetCommTimeouts(platform::TPortHandle port,
                                     const platform::TCommTimeouts& timeouts) {
  return IsBox(port) || System.SetCommTimeouts(port, timeouts);
}

bool TSimulatedLine::PurgeComm(platform::TPortHandle port, std::uint32_t flags) {
  if (!IsBox(port)) return System.PurgeComm(port, flags);
  if ((flags & platform::PURGE_RXCLEAR) != 0) {
    const std::uint32_t now = System.GetTickCount();
    while (!Pending.empty() && Arrived(Pending.front().Due, now)) Pending.pop_front();
  }
  return true;
}

std::uint32_t TSimulatedLine::ArrivedCount(std::uint32_t now) const {
  std::uint32_t count = 0;
  for (const TPendingByte& byte : Pending) {
    if (!Arrived(byte.Due, now)) break;
    ++count;
  }
  return count;
}

bool TSimulatedLine::ClearCommError(platform::TPortHandle port, std::uint32_t& errors,
                                    platform::TComStat& stat) {
  if (!IsBox(port)) return System.ClearCommError(port, errors, stat);
  errors = 0;
  stat.cbInQue = ArrivedCount(System.GetTickCount());
  stat.cbOutQue = 0;
  return true;
}

bool TSimulatedLine::ReadFile(platform::TPortHandle port, void* buffer, std::uint32_t count,
                              std::uint32_t& done) {
  if (!IsBox(port)) return System.ReadFile(port, buffer, count, done);
  const std::uint32_t now = System.GetTickCount();
  auto* out = static_cast<std::uint8_t*>(buffer);
  done = 0;
  while (done < count && !Pending.empty() && Arrived(Pending.front().Due, now)) {
    out[done++] = Pending.front().Value;
    Pending.pop_front();
  }
  return true;
}

bool TSimulatedLine::WriteFile(platform::TPortHandle port, const void* data, std::uint32_t count,
                               std::uint32_t& done) {
  if (!IsBox(port)) return System.WriteFile(port, data, count, done);
  const std::uint32_t now = System.GetTickCount();
  const double atMs = static_cast<double>(now - StartTick);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (bytes[i] != RequestCode) continue;
    const TAnswer answer = MakeAnswer(Config, atMs / 1000.0, Requests++);
    if (answer.Silent) continue;
    ++Frames;
    double byteMs = std::max(atMs + std::max(Config.LatencyMs, 0), LineFreeMs);
    auto push = [&](std::uint8_t value) {
      // A byte has arrived once its last bit is in: the tick after it ends.
      if (Config.Pace) byteMs += ByteMs;
      Pending.push_back({StartTick + static_cast<std::uint32_t>(std::ceil(byteMs)), value});
    };
    for (std::size_t j = 0; j < answer.JunkCount; ++j) push(answer.Junk[j]);
    for (const std::uint8_t value : answer.Frame) push(value);
    LineFreeMs = byteMs;
  }
  done = count;
  return true;
}

void TSimulatedLine::WaitForInput(platform::TPortHandle port, std::uint32_t maxMs) {
  if (!IsBox(port)) {
    System.WaitForInput(port, maxMs);
    return;
  }
  const std::uint32_t now = System.GetTickCount();
  std::uint32_t waitMs = maxMs;
  if (!Pending.empty()) {
    if (Arrived(Pending.front().Due, now)) return;
    waitMs = std::min(waitMs, Pending.front().Due - now);
  }
  if (waitMs > 0) System.SleepMicroseconds(waitMs * 1000);
}

void TSimulatedLine::WaitForOutputSpace(platform::TPortHandle port, std::uint32_t maxMs) {
  if (!IsBox(port)) System.WaitForOutputSpace(port, maxMs);
}

void TSimulatedLine::SleepMicroseconds(std::uint32_t microseconds) {
  System.SleepMicroseconds(microseconds);
}

std::uint32_t TSimulatedLine::GetTickCount() { return System.GetTickCount(); }

bool TSimulatedLine::GetVersionEx(platform::TOsVersionInfo& info) {
  return System.GetVersionEx(info);
}

std::unique_ptr<platform::TPollWindow> TSimulatedLine::CreatePollWindow(
    platform::TPollHandler handler) {
  return System.CreatePollWindow(std::move(handler));
}

}  // namespace sim
