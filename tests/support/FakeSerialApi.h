// TFakeSerialApi: a scripted serial line and poll window for tests, behind TSerialApi.
//
// It stands in for the system so that the driver (and whatever sits on top of it) can be tested
// without hardware and without real time:
//
//  - Clock. A virtual millisecond tick counter. It never moves by itself in real time; it moves
//    when a test calls Advance/RunFor, when the driver waits (WaitForInput/WaitForOutputSpace
//    advance it to whatever ends the wait first, SleepMicroseconds by the time asked for), and by
//    an optional step on every GetTickCount.
//    GetTickCount wraps at 2^32 like the Win32 counter; SetTickCount puts the reading anywhere
//    (near 2^32 to test the wrap) without moving anything that was scheduled.
//  - Devices. The names "\\.\COM1" to "\\.\COM16" exist and are free at construction. Names can be
//    removed, added, marked in use by another program or given any other open error. Opening is
//    exclusive. Handles start at 100 and are never reused.
//  - One scripted line, shared by whichever device is open: bytes arrive at given virtual times
//    into an unbounded receive queue that the driver reads; a transmit queue of a set capacity
//    that normally sends at once but can be stalled (full, and optionally freed at a given time);
//    every byte accepted by WriteFile is kept in Written(). The queues outlive a close and reopen.
//  - Faults. A failing device answers every port call with false (queries, reads, writes,
//    settings), as an unplugged adapter does; a read-failing device answers queue queries but not
//    reads. On either, a wait takes its full time, as the TSerialApi contract demands. One call
//    by name (SetCommState, ReadFile, ...) can be made to fail with a given system error, which
//    LastPortError then reports; a failing device's calls report the code and words set for it.
//  - Record. Every TSerialApi and poll-window call is logged with its arguments (Calls()), and
//    the interesting ones also in typed lists (DCBs written, purge flags, SetupComm sizes,
//    time-outs, timer calls, ReadFile sizes asked for). GetTickCount is only counted.
//  - Poll window. CreatePollWindow returns a window that records SetTimer/KillTimer and
//    DefWindowProc; the test delivers messages by hand (FireTimer, SendMessage) or lets RunFor
//    fire the running timers as the virtual clock passes their due times.
//  - Spin guard. A loop that keeps calling the fake while neither the clock nor any byte moves
//    would hang the test; past SpinLimit such calls the fake throws TFakeSpinError instead.
//
// Test support, never part of a program. Plain C++ without Qt. Not thread-safe: use it from the
// test's thread only. It must outlive every driver and window made from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/SerialApi.h"

namespace kesttest {

// The fake implements the system's interface and speaks in its types throughout.
using namespace platform;

// One call into the fake. Args holds the numeric arguments in the order given below; Text holds
// CreateFile's device name.
//   CreateFile          Text=name, Args={handle returned}
//   CloseHandle         {port}
//   SetCommState        {port}                       (the record is in DcbsWritten())
//   SetupComm           {port, inQueue, outQueue}
//   SetCommTimeouts     {port}                       (the record is in TimeoutsWritten())
//   PurgeComm           {port, flags}
//   ClearCommError      {port}
//   ReadFile            {port, count asked, bytes done}
//   WriteFile           {port, count asked, bytes done}
//   WaitForInput        {port, maxMs}
//   WaitForOutputSpace  {port, maxMs}
//   SleepMicroseconds   {microseconds}
//   GetVersionEx        {size field}
//   CreatePollWindow    {}
//   SetTimer            {id, intervalMs}
//   KillTimer           {id}
//   DefWindowProc       {Msg, WParam, LParam}
//   DestroyPollWindow   {}
struct TFakeCall {
  std::string Name;
  std::vector<std::uint64_t> Args;
  std::string Text;
};

struct TFakeTimerCall {
  bool Set = false;  // SetTimer; false: KillTimer
  std::uint32_t Id = 0;
  std::uint32_t IntervalMs = 0;  // 0 for KillTimer
  bool operator==(const TFakeTimerCall&) const = default;
};

// Thrown by the fake when its caller spins: more than SpinLimit calls without progress.
class TFakeSpinError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TFakePollWindow;

class TFakeSerialApi : public TSerialApi {
 public:
  using TBytes = std::vector<std::uint8_t>;

  TFakeSerialApi();
  ~TFakeSerialApi() override;
  TFakeSerialApi(const TFakeSerialApi&) = delete;
  TFakeSerialApi& operator=(const TFakeSerialApi&) = delete;

  // ---- TSerialApi ----
  // Fails with NotFound for an unknown name, with the name's open error if one is set, and with
  // InUse when this fake has it open already.
  TPortHandle CreateFile(const std::string& deviceName) override;
  TOpenError LastOpenError() const override { return LastError; }
  // False for a handle that is not open.
  bool CloseHandle(TPortHandle port) override;
  bool SetCommState(TPortHandle port, const TDcb& dcb) override;
  bool SetupComm(TPortHandle port, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool SetCommTimeouts(TPortHandle port, const TCommTimeouts& timeouts) override;
  // PURGE_RXCLEAR empties the receive queue (bytes scheduled for later still come);
  // PURGE_TXCLEAR empties the transmit queue (a stall goes on).
  bool PurgeComm(TPortHandle port, std::uint32_t flags) override;
  // cbInQue = bytes in the receive queue, cbOutQue = TransmitQueued(); errors = 0.
  bool ClearCommError(TPortHandle port, std::uint32_t& errors, TComStat& stat) override;
  // Takes min(count, queued, SetMaxReadPerCall) bytes; never waits.
  bool ReadFile(TPortHandle port, void* buffer, std::uint32_t count, std::uint32_t& done) override;
  // Accepts min(count, room in the transmit queue, SetMaxWritePerCall) bytes into Written().
  bool WriteFile(TPortHandle port, const void* data, std::uint32_t count,
                 std::uint32_t& done) override;
  // The error set for the call that failed last (FailCall, SetDeviceFailing); {} before any.
  TSystemError LastPortError() const override { return PortError; }
  // Returns at once when bytes are queued; otherwise advances the clock to the next arrival or by
  // maxMs, whichever is first (at most SetMaxWaitStep). A failing device, a read-failing device
  // (or one whose reads or queue queries FailCall fails) and a handle that is not open take the
  // full time. Calls the wait hook first.
  void WaitForInput(TPortHandle port, std::uint32_t maxMs) override;
  // Returns at once when the transmit queue has room; otherwise advances the clock to the end of
  // the stall or by maxMs, whichever is first (at most SetMaxWaitStep). A failing device (or one
  // whose writes or queue queries FailCall fails) and a handle that is not open take the full time.
  // Calls the wait hook first.
  void WaitForOutputSpace(TPortHandle port, std::uint32_t maxMs) override;
  // Advances the clock by the time asked for, rounded up to whole milliseconds (the clock's
  // unit): bytes scheduled meanwhile arrive, whatever the port. The wait hook is not called.
  void SleepMicroseconds(std::uint32_t microseconds) override;
  // The reading, then the clock advances by SetTickStep.
  std::uint32_t GetTickCount() override;
  // False when set to fail or when the size field is not 148.
  bool GetVersionEx(TOsVersionInfo& info) override;
  // The fake drives one poll window: the latest one created.
  std::unique_ptr<TPollWindow> CreatePollWindow(TPollHandler handler) override;

  // ---- Clock ----
  std::uint32_t Now() const { return TickBase + static_cast<std::uint32_t>(Clock); }
  // Virtual milliseconds since construction, not wrapping: handy for measuring a wait.
  std::uint64_t Elapsed() const { return Clock; }
  // Sets the reading; scheduled arrivals, stall ends and timers keep their distance from now.
  void SetTickCount(std::uint32_t tick) { TickBase = tick - static_cast<std::uint32_t>(Clock); }
  // Moves the clock on, delivering what comes due. Fires no timer (see RunFor).
  void Advance(std::uint32_t ms) { AdvanceTo(Clock + ms); }
  // Every GetTickCount moves the clock on by this much after reading it (default 0).
  void SetTickStep(std::uint32_t ms) { TickStep = ms; }
  // Caps how far one wait moves the clock (0: no cap), like a system wait that wakes early.
  void SetMaxWaitStep(std::uint32_t ms) { MaxWaitStep = ms; }

  // ---- Devices ----
  // "\\.\COM<number>", the name the driver forms for a port.
  static std::string ComName(unsigned number);
  void AddDevice(const std::string& name);
  void RemoveDevice(const std::string& name);
  // The error CreateFile gives for this name (None: it opens); the name is added if unknown.
  void SetOpenError(const std::string& name, TOpenError error);
  void SetDeviceInUse(const std::string& name, bool inUse) {
    SetOpenError(name, inUse ? TOpenError::InUse : TOpenError::None);
  }
  bool IsDeviceOpen(const std::string& name) const;
  std::size_t OpenHandleCount() const { return Handles.size(); }
  // The handle of the most recent successful CreateFile, if it is still open; else 0.
  TPortHandle OpenHandle() const;

  // ---- Receive side ----
  // Bytes that are in the receive queue now.
  void QueueInput(const TBytes& bytes);
  // Bytes that arrive when the clock next reads `tick` (at once if it reads `tick` now).
  void ScheduleInput(std::uint32_t tick, const TBytes& bytes);
  // Bytes that arrive `ms` from now.
  void ScheduleInputAfter(std::uint32_t ms, const TBytes& bytes);
  std::size_t InputQueued() const { return InputQueue.size(); }
  // Bytes scheduled that have not arrived yet.
  std::size_t InputPending() const;
  // The bytes in the receive queue, oldest first.
  TBytes QueuedInput() const { return TBytes(InputQueue.begin(), InputQueue.end()); }
  // At most this many bytes per ReadFile (0: no limit).
  void SetMaxReadPerCall(std::uint32_t count) { MaxReadPerCall = count; }

  // ---- Transmit side ----
  // The device's transmit queue size (default 2048, the driver's default ComPortOutBufSize).
  void SetTransmitCapacity(std::uint32_t bytes) { TxCapacity = bytes; }
  // The line stops sending: `queued` bytes wait in the transmit queue (reported as cbOutQue) and
  // bytes written from now on stay there too, until the stall ends.
  void StallTransmit(std::uint32_t queued);
  void StallTransmitFull() { StallTransmit(TxCapacity); }
  // Ends the stall when the clock next reads `tick` / `ms` from now: the queue is sent.
  void ResumeTransmitAt(std::uint32_t tick);
  void ResumeTransmitAfter(std::uint32_t ms);
  // Ends the stall now.
  void ResumeTransmit();
  std::uint32_t TransmitQueued() const { return TxQueued; }
  bool TransmitStalled() const { return TxStalled; }
  // At most this many bytes per WriteFile (0: no limit).
  void SetMaxWritePerCall(std::uint32_t count) { MaxWritePerCall = count; }
  // Every byte WriteFile accepted, in order.
  const TBytes& Written() const { return WrittenBytes; }
  void ClearWritten() { WrittenBytes.clear(); }

  // ---- Faults ----
  void SetDeviceFailing(bool failing, TSystemError error = {}) {
    DeviceFailing = failing;
    DeviceError = std::move(error);
  }
  void SetReadFailing(bool failing) { ReadFailing = failing; }
  // Every later call named `call` ("SetCommState", "SetupComm", "SetCommTimeouts", "PurgeComm",
  // "ClearCommError", "ReadFile", "WriteFile") on an open port fails with `error`, until
  // HealCall. A failing queue query or read is a device that has gone, as far as waits go.
  void FailCall(const std::string& call, TSystemError error) { FailingCalls[call] = error; }
  void HealCall(const std::string& call) { FailingCalls.erase(call); }

  // ---- Version query (default: platform 2 (NT), version 10.0) ----
  void SetVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor);
  void SetVersionQueryFails(bool fails) { VersionFails = fails; }

  // ---- Poll window ----
  bool HasPollWindow() const { return Window != nullptr; }
  bool TimerRunning(std::uint32_t id = 1) const { return Timers.count(id) != 0; }
  // The interval of a running timer; 0 when it does not run.
  std::uint32_t TimerInterval(std::uint32_t id = 1) const;
  // Delivers WM_TIMER (WParam = id) to the poll window's handler, whether or not the timer runs,
  // and returns the message as the handler left it. Without a window nothing is delivered.
  TMessage FireTimer(std::uint32_t id = 1);
  // Delivers any message to the poll window's handler and returns it as the handler left it.
  TMessage SendMessage(TMessage message);
  // Moves the clock on by `ms`, firing each running timer whenever it comes due. Handlers may move
  // the clock themselves; ticks that came due meanwhile collapse into one, fired as soon as the
  // handler returns, and the timer goes on every interval from then, as window timers do.
  void RunFor(std::uint32_t ms);
  // What DefWindowProc answers (default 0).
  void SetDefWindowProcResult(std::intptr_t result) { DefResult = result; }
  // What SetTimer answers (default true); a refused timer does not run.
  void SetSetTimerResult(bool result) { SetTimerAnswer = result; }

  // ---- Record ----
  const std::vector<TFakeCall>& Calls() const { return CallLog; }
  std::vector<std::string> CallNames() const;
  std::size_t CountCalls(const std::string& name) const;
  const std::vector<TDcb>& DcbsWritten() const { return Dcbs; }
  const std::vector<std::uint32_t>& PurgeFlags() const { return Purges; }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& SetupCommSizes() const {
    return SetupSizes;
  }
  const std::vector<TCommTimeouts>& TimeoutsWritten() const { return Timeouts; }
  const std::vector<TFakeTimerCall>& TimerCalls() const { return TimerLog; }
  const std::vector<std::uint32_t>& ReadRequests() const { return ReadSizes; }
  const std::vector<TMessage>& DefWindowProcMessages() const { return DefMessages; }
  std::uint64_t TickReads() const { return TickReadCount; }
  // Forgets everything recorded (not Written(), which is the line's output).
  void ClearRecord();
  // Off: nothing is recorded at all, so that a test can count the allocations of the code under
  // test. Default on.
  void SetRecording(bool on) { Recording = on; }

  // ---- Hooks and guards ----
  // Called at the start of every wait with its maxMs, before the clock moves: a test can queue
  // bytes or deliver a message "while the driver waits".
  void SetWaitHook(std::function<void(std::uint32_t maxMs)> hook) { WaitHook = std::move(hook); }
  // Calls without progress allowed before TFakeSpinError (default 1000000; 0: no guard).
  // Progress is the clock moving, a byte read or written, or a message delivered.
  void SetSpinLimit(std::uint64_t calls) { SpinLimit = calls; }

 private:
  friend class TFakePollWindow;

  struct TDevice {
    TOpenError OpenError = TOpenError::None;
    bool Open = false;
  };
  struct TTimer {
    std::uint32_t IntervalMs = 0;
    std::uint64_t Due = 0;
  };

  void AdvanceTo(std::uint64_t time);
  void DeliverDue();
  void Progress() { CallsWithoutProgress = 0; }
  void CountCall();
  bool Healthy(TPortHandle port) const;
  // Whether `call` may go ahead on `port`; when not, its error is the one LastPortError reports.
  bool Answers(const char* call, TPortHandle port);
  // Nothing can come in: reads or queue queries fail.
  bool InputFails() const;
  // Takes an initializer list so that nothing is allocated while recording is off.
  void Record(const char* name, std::initializer_list<std::uint64_t> args,
              const std::string& text = std::string());
  std::uint64_t TimeOfTick(std::uint32_t tick) const;
  std::uint64_t WaitEnd(std::uint32_t maxMs) const;

  // Called by the fake window.
  bool WindowSetTimer(std::uint32_t id, std::uint32_t intervalMs);
  void WindowKillTimer(std::uint32_t id);
  std::intptr_t WindowDefWindowProc(const TMessage& message);
  void WindowDestroyed(TFakePollWindow* window);

  // Clock: internal milliseconds since construction; the reading adds TickBase.
  std::uint64_t Clock = 0;
  std::uint32_t TickBase = 0;
  std::uint32_t TickStep = 0;
  std::uint32_t MaxWaitStep = 0;

  std::map<std::string, TDevice> Devices;
  std::map<TPortHandle, std::string> Handles;
  TPortHandle NextHandle = 100;
  TPortHandle LastHandle = 0;
  TOpenError LastError = TOpenError::None;

  std::deque<std::uint8_t> InputQueue;
  std::multimap<std::uint64_t, TBytes> Arrivals;
  std::uint32_t MaxReadPerCall = 0;

  std::uint32_t TxCapacity = 2048;
  std::uint32_t TxQueued = 0;
  bool TxStalled = false;
  std::optional<std::uint64_t> TxResumeAt;
  std::uint32_t MaxWritePerCall = 0;
  TBytes WrittenBytes;

  bool DeviceFailing = false;
  bool ReadFailing = false;
  TSystemError DeviceError;
  std::map<std::string, TSystemError, std::less<>> FailingCalls;
  TSystemError PortError;

  bool VersionFails = false;
  std::uint32_t PlatformId = 2;
  std::uint32_t MajorVersion = 10;
  std::uint32_t MinorVersion = 0;

  TFakePollWindow* Window = nullptr;
  std::map<std::uint32_t, TTimer> Timers;
  std::intptr_t DefResult = 0;
  bool SetTimerAnswer = true;

  bool Recording = true;
  std::vector<TFakeCall> CallLog;
  std::vector<TDcb> Dcbs;
  std::vector<std::uint32_t> Purges;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> SetupSizes;
  std::vector<TCommTimeouts> Timeouts;
  std::vector<TFakeTimerCall> TimerLog;
  std::vector<std::uint32_t> ReadSizes;
  std::vector<TMessage> DefMessages;
  std::uint64_t TickReadCount = 0;

  std::function<void(std::uint32_t)> WaitHook;
  std::uint64_t SpinLimit = 1000000;
  std::uint64_t CallsWithoutProgress = 0;
};

}  // namespace kesttest
