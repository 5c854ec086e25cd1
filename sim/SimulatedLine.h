// The simulated controller inside the process: a serial interface that answers the driver's calls
// for one port as the box at the far end of a line would, and hands every other call to the
// system's interface. It is how --demo attaches the box where there are no pseudo-terminals to
// put it behind (Windows): the driver, the window and the log run exactly as with a real line.
//
// No thread: the box's answers are worked out when a request is written and become readable when
// their time on the line has come, by the system's own tick counter, so the driver's waits and
// time-outs run as they would on a real port.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/SerialApi.h"
#include "sim/SimConfig.h"

namespace sim {

class TSimulatedLine final : public platform::TSerialApi {
 public:
  // `port` is the name the driver opens the box by ("\\.\COM1"). `system` serves every other name,
  // the clock, the waits and the poll window, and must outlive this line. The scenario's clock
  // starts now.
  TSimulatedLine(platform::TSerialApi& system, std::string port, TSimConfig config);

  // The box's port opens once at a time (InUse otherwise); its settings calls all succeed.
  platform::TPortHandle CreateFile(const std::string& deviceName) override;
  platform::TOpenError LastOpenError() const override;
  platform::TOpenFailure LastOpenFailure() const override;
  bool CloseHandle(platform::TPortHandle port) override;
  bool SetCommState(platform::TPortHandle port, const platform::TDcb& dcb) override;
  bool SetupComm(platform::TPortHandle port, std::uint32_t inQueue,
                 std::uint32_t outQueue) override;
  bool SetCommTimeouts(platform::TPortHandle port,
                       const platform::TCommTimeouts& timeouts) override;
  // PURGE_RXCLEAR drops what has arrived; answers still on their way come all the same.
  bool PurgeComm(platform::TPortHandle port, std::uint32_t flags) override;
  // cbInQue: the bytes whose time has come; the transmit queue is always empty.
  bool ClearCommError(platform::TPortHandle port, std::uint32_t& errors,
                      platform::TComStat& stat) override;
  bool ReadFile(platform::TPortHandle port, void* buffer, std::uint32_t count,
                std::uint32_t& done) override;
  // Takes every byte; each request byte is answered by one frame (or silence, junk, a corrupt
  // check byte, as the configuration asks), due after the latency and, paced, at the line's rate.
  bool WriteFile(platform::TPortHandle port, const void* data, std::uint32_t count,
                 std::uint32_t& done) override;
  // Sleeps in the system until the next byte is due or `maxMs` has passed.
  void WaitForInput(platform::TPortHandle port, std::uint32_t maxMs) override;
  void WaitForOutputSpace(platform::TPortHandle port, std::uint32_t maxMs) override;
  void SleepMicroseconds(std::uint32_t microseconds) override;
  std::uint32_t GetTickCount() override;
  bool GetVersionEx(platform::TOsVersionInfo& info) override;
  std::unique_ptr<platform::TPollWindow> CreatePollWindow(platform::TPollHandler handler) override;

  // Requests answered with a frame so far.
  std::uint64_t FramesAnswered() const { return Frames; }

 private:
  struct TPendingByte {
    std::uint32_t Due = 0;  // tick at which it has arrived
    std::uint8_t Value = 0;
  };

  bool IsBox(platform::TPortHandle port) const { return BoxOpen && port == BoxHandle; }
  std::uint32_t ArrivedCount(std::uint32_t now) const;

  // Never a handle the system gives out (those are positive), nor 0 or InvalidPortHandle.
  static constexpr platform::TPortHandle BoxHandle = -2;

  platform::TSerialApi& System;
  std::string Port;
  TSimConfig Config;
  std::uint32_t StartTick;
  bool BoxOpen = false;
  bool LastOpenWasBox = false;
  platform::TOpenError BoxOpenError = platform::TOpenError::None;
  std::deque<TPendingByte> Pending;  // in the order of their arrival
  double LineFreeMs = 0;             // when the line can carry the next paced byte, from start
  std::uint64_t Requests = 0;
  std::uint64_t Frames = 0;
};

}  // namespace sim
