// TFakeSerialApi: the scripted serial line and poll window that tests put in place of the system.
#include "tests/support/FakeSerialApi.h"

#include <algorithm>
#include <cstring>

namespace kesttest {

// The poll window the fake hands out. It forwards everything to the fake, which keeps the
// record and the timers; it outlives the fake harmlessly (its calls then do nothing).
class TFakePollWindow final : public TPollWindow {
 public:
  TFakePollWindow(TFakeSerialApi* owner, TPollHandler handler)
      : Owner(owner), Handler(std::move(handler)) {}
  ~TFakePollWindow() override {
    if (Owner != nullptr) Owner->WindowDestroyed(this);
  }
  bool SetTimer(std::uint32_t id, std::uint32_t intervalMs) override {
    return Owner != nullptr && Owner->WindowSetTimer(id, intervalMs);
  }
  void KillTimer(std::uint32_t id) override {
    if (Owner != nullptr) Owner->WindowKillTimer(id);
  }
  std::intptr_t DefWindowProc(const TMessage& message) override {
    return Owner != nullptr ? Owner->WindowDefWindowProc(message) : 0;
  }

  TFakeSerialApi* Owner;
  TPollHandler Handler;
};

TFakeSerialApi::TFakeSerialApi() {
  for (unsigned number = 1; number <= 16; ++number) Devices[ComName(number)] = TDevice{};
}

TFakeSerialApi::~TFakeSerialApi() {
  if (Window != nullptr) Window->Owner = nullptr;
}

std::string TFakeSerialApi::ComName(unsigned number) {
  return "\\\\.\\COM" + std::to_string(number);
}

// ---- bookkeeping ----

void TFakeSerialApi::Record(const char* name, std::initializer_list<std::uint64_t> args,
                            const std::string& text) {
  if (!Recording) return;
  CallLog.push_back(TFakeCall{name, std::vector<std::uint64_t>(args), text});
}

void TFakeSerialApi::CountCall() {
  if (SpinLimit != 0 && ++CallsWithoutProgress > SpinLimit) {
    CallsWithoutProgress = 0;
    throw TFakeSpinError(
        "the caller kept calling the fake serial line while neither the clock "
        "nor any byte moved");
  }
}

bool TFakeSerialApi::Healthy(TPortHandle port) const {
  return !DeviceFailing && Handles.count(port) != 0;
}

bool TFakeSerialApi::Answers(const char* call, TPortHandle port) {
  if (Handles.count(port) == 0) return false;
  if (DeviceFailing) {
    PortError = DeviceError;
    return false;
  }
  const auto failing = FailingCalls.find(call);
  if (failing == FailingCalls.end()) return true;
  PortError = failing->second;
  return false;
}

bool TFakeSerialApi::InputFails() const {
  return ReadFailing || FailingCalls.count("ReadFile") != 0 ||
         FailingCalls.count("ClearCommError") != 0;
}

void TFakeSerialApi::AdvanceTo(std::uint64_t time) {
  if (time > Clock) {
    Clock = time;
    Progress();
  }
  DeliverDue();
}

void TFakeSerialApi::DeliverDue() {
  while (!Arrivals.empty() && Arrivals.begin()->first <= Clock) {
    const TBytes& bytes = Arrivals.begin()->second;
    InputQueue.insert(InputQueue.end(), bytes.begin(), bytes.end());
    Arrivals.erase(Arrivals.begin());
  }
  if (TxResumeAt && *TxResumeAt <= Clock) ResumeTransmit();
}

std::uint64_t TFakeSerialApi::TimeOfTick(std::uint32_t tick) const {
  return Clock + static_cast<std::uint32_t>(tick - Now());
}

std::uint64_t TFakeSerialApi::WaitEnd(std::uint32_t maxMs) const {
  const std::uint32_t step = MaxWaitStep != 0 ? std::min(maxMs, MaxWaitStep) : maxMs;
  return Clock + step;
}

// ---- TSerialApi ----

TPortHandle TFakeSerialApi::CreateFile(const std::string& deviceName) {
  CountCall();
  TPortHandle result = InvalidPortHandle;
  const auto device = Devices.find(deviceName);
  if (device == Devices.end()) {
    LastError = TOpenError::NotFound;
  } else if (device->second.OpenError != TOpenError::None) {
    LastError = device->second.OpenError;
  } else if (device->second.Open) {
    LastError = TOpenError::InUse;
  } else {
    device->second.Open = true;
    result = NextHandle++;
    Handles[result] = deviceName;
    LastHandle = result;
    LastError = TOpenError::None;
  }
  Record("CreateFile", {static_cast<std::uint64_t>(result)}, deviceName);
  return result;
}

bool TFakeSerialApi::CloseHandle(TPortHandle port) {
  // Not counted by the spin guard: it is called from destructors, which must not throw.
  Record("CloseHandle", {static_cast<std::uint64_t>(port)});
  const auto handle = Handles.find(port);
  if (handle == Handles.end()) return false;
  const auto device = Devices.find(handle->second);
  if (device != Devices.end()) device->second.Open = false;
  Handles.erase(handle);
  return true;
}

bool TFakeSerialApi::SetCommState(TPortHandle port, const TDcb& dcb) {
  CountCall();
  Record("SetCommState", {static_cast<std::uint64_t>(port)});
  if (Recording) Dcbs.push_back(dcb);
  return Answers("SetCommState", port);
}

bool TFakeSerialApi::SetupComm(TPortHandle port, std::uint32_t inQueue, std::uint32_t outQueue) {
  CountCall();
  Record("SetupComm", {static_cast<std::uint64_t>(port), inQueue, outQueue});
  if (Recording) SetupSizes.emplace_back(inQueue, outQueue);
  return Answers("SetupComm", port);
}

bool TFakeSerialApi::SetCommTimeouts(TPortHandle port, const TCommTimeouts& timeouts) {
  CountCall();
  Record("SetCommTimeouts", {static_cast<std::uint64_t>(port)});
  if (Recording) Timeouts.push_back(timeouts);
  return Answers("SetCommTimeouts", port);
}

bool TFakeSerialApi::PurgeComm(TPortHandle port, std::uint32_t flags) {
  CountCall();
  Record("PurgeComm", {static_cast<std::uint64_t>(port), flags});
  if (Recording) Purges.push_back(flags);
  if (!Answers("PurgeComm", port)) return false;
  if ((flags & PURGE_RXCLEAR) != 0) InputQueue.clear();
  if ((flags & PURGE_TXCLEAR) != 0) TxQueued = 0;
  return true;
}

bool TFakeSerialApi::ClearCommError(TPortHandle port, std::uint32_t& errors, TComStat& stat) {
  CountCall();
  Record("ClearCommError", {static_cast<std::uint64_t>(port)});
  if (!Answers("ClearCommError", port)) return false;
  errors = 0;
  stat.cbInQue = static_cast<std::uint32_t>(InputQueue.size());
  stat.cbOutQue = TxQueued;
  return true;
}

bool TFakeSerialApi::ReadFile(TPortHandle port, void* buffer, std::uint32_t count,
                              std::uint32_t& done) {
  CountCall();
  done = 0;
  if (Recording) ReadSizes.push_back(count);
  bool ok = false;
  if (Answers("ReadFile", port) && !ReadFailing) {
    ok = true;
    std::size_t n = std::min<std::size_t>(count, InputQueue.size());
    if (MaxReadPerCall != 0) n = std::min<std::size_t>(n, MaxReadPerCall);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i) {
      out[i] = InputQueue.front();
      InputQueue.pop_front();
    }
    done = static_cast<std::uint32_t>(n);
    if (n > 0) Progress();
  }
  Record("ReadFile", {static_cast<std::uint64_t>(port), count, done});
  return ok;
}

bool TFakeSerialApi::WriteFile(TPortHandle port, const void* data, std::uint32_t count,
                               std::uint32_t& done) {
  CountCall();
  done = 0;
  bool ok = false;
  if (Answers("WriteFile", port)) {
    ok = true;
    const std::uint32_t room = TxQueued < TxCapacity ? TxCapacity - TxQueued : 0;
    std::uint32_t n = std::min(count, room);
    if (MaxWritePerCall != 0) n = std::min(n, MaxWritePerCall);
    const auto* in = static_cast<const std::uint8_t*>(data);
    WrittenBytes.insert(WrittenBytes.end(), in, in + n);
    if (TxStalled) TxQueued += n;
    done = n;
    if (n > 0) Progress();
  }
  Record("WriteFile", {static_cast<std::uint64_t>(port), count, done});
  return ok;
}

void TFakeSerialApi::WaitForInput(TPortHandle port, std::uint32_t maxMs) {
  CountCall();
  Record("WaitForInput", {static_cast<std::uint64_t>(port), maxMs});
  if (WaitHook) WaitHook(maxMs);
  std::uint64_t end = WaitEnd(maxMs);
  if (Healthy(port) && !InputFails()) {
    if (!InputQueue.empty()) return;
    if (!Arrivals.empty()) end = std::min(end, Arrivals.begin()->first);
  }
  AdvanceTo(end);
}

void TFakeSerialApi::WaitForOutputSpace(TPortHandle port, std::uint32_t maxMs) {
  CountCall();
  Record("WaitForOutputSpace", {static_cast<std::uint64_t>(port), maxMs});
  if (WaitHook) WaitHook(maxMs);
  std::uint64_t end = WaitEnd(maxMs);
  if (Healthy(port) && FailingCalls.count("WriteFile") == 0 &&
      FailingCalls.count("ClearCommError") == 0) {
    if (TxQueued < TxCapacity) return;
    if (TxResumeAt) end = std::min(end, *TxResumeAt);
  }
  AdvanceTo(end);
}

void TFakeSerialApi::SleepMicroseconds(std::uint32_t microseconds) {
  CountCall();
  Record("SleepMicroseconds", {microseconds});
  AdvanceTo(Clock + (microseconds + 999u) / 1000u);
}

std::uint32_t TFakeSerialApi::GetTickCount() {
  CountCall();
  ++TickReadCount;
  const std::uint32_t reading = Now();
  if (TickStep != 0) AdvanceTo(Clock + TickStep);
  return reading;
}

bool TFakeSerialApi::GetVersionEx(TOsVersionInfo& info) {
  CountCall();
  Record("GetVersionEx", {info.dwOSVersionInfoSize});
  if (VersionFails || info.dwOSVersionInfoSize != OsVersionInfoSize) return false;
  info.dwMajorVersion = MajorVersion;
  info.dwMinorVersion = MinorVersion;
  info.dwBuildNumber = 0;
  info.dwPlatformId = PlatformId;
  std::memset(info.szCSDVersion, 0, sizeof info.szCSDVersion);
  return true;
}

std::unique_ptr<TPollWindow> TFakeSerialApi::CreatePollWindow(TPollHandler handler) {
  Record("CreatePollWindow", {});
  auto window = std::make_unique<TFakePollWindow>(this, std::move(handler));
  if (Window != nullptr) Window->Owner = nullptr;  // the older window is no longer driven
  Window = window.get();
  Timers.clear();
  return window;
}

// ---- the fake window's calls ----

bool TFakeSerialApi::WindowSetTimer(std::uint32_t id, std::uint32_t intervalMs) {
  Record("SetTimer", {id, intervalMs});
  if (Recording) TimerLog.push_back(TFakeTimerCall{true, id, intervalMs});
  if (!SetTimerAnswer) return false;
  Timers[id] = TTimer{intervalMs, Clock + std::max<std::uint32_t>(intervalMs, 1)};
  return true;
}

void TFakeSerialApi::WindowKillTimer(std::uint32_t id) {
  Record("KillTimer", {id});
  if (Recording) TimerLog.push_back(TFakeTimerCall{false, id, 0});
  Timers.erase(id);
}

std::intptr_t TFakeSerialApi::WindowDefWindowProc(const TMessage& message) {
  Record("DefWindowProc",
         {message.Msg, message.WParam, static_cast<std::uint64_t>(message.LParam)});
  if (Recording) DefMessages.push_back(message);
  return DefResult;
}

void TFakeSerialApi::WindowDestroyed(TFakePollWindow* window) {
  if (window != Window) return;
  Record("DestroyPollWindow", {});
  Window = nullptr;
  Timers.clear();
}

// ---- test side ----

void TFakeSerialApi::AddDevice(const std::string& name) { Devices.try_emplace(name); }

void TFakeSerialApi::RemoveDevice(const std::string& name) {
  const auto device = Devices.find(name);
  if (device == Devices.end()) return;
  // An open handle stays usable, as a real handle does until closed; its name is just gone.
  Devices.erase(device);
}

void TFakeSerialApi::SetOpenError(const std::string& name, TOpenError error) {
  Devices[name].OpenError = error;
}

bool TFakeSerialApi::IsDeviceOpen(const std::string& name) const {
  const auto device = Devices.find(name);
  return device != Devices.end() && device->second.Open;
}

TPortHandle TFakeSerialApi::OpenHandle() const {
  return Handles.count(LastHandle) != 0 ? LastHandle : 0;
}

void TFakeSerialApi::QueueInput(const TBytes& bytes) {
  InputQueue.insert(InputQueue.end(), bytes.begin(), bytes.end());
}

void TFakeSerialApi::ScheduleInput(std::uint32_t tick, const TBytes& bytes) {
  Arrivals.emplace(TimeOfTick(tick), bytes);
  DeliverDue();
}

void TFakeSerialApi::ScheduleInputAfter(std::uint32_t ms, const TBytes& bytes) {
  Arrivals.emplace(Clock + ms, bytes);
  DeliverDue();
}

std::size_t TFakeSerialApi::InputPending() const {
  std::size_t pending = 0;
  for (const auto& [time, bytes] : Arrivals) pending += bytes.size();
  return pending;
}

void TFakeSerialApi::StallTransmit(std::uint32_t queued) {
  TxStalled = true;
  TxQueued = queued;
  TxResumeAt.reset();
}

void TFakeSerialApi::ResumeTransmitAt(std::uint32_t tick) {
  TxResumeAt = TimeOfTick(tick);
  DeliverDue();
}

void TFakeSerialApi::ResumeTransmitAfter(std::uint32_t ms) {
  TxResumeAt = Clock + ms;
  DeliverDue();
}

void TFakeSerialApi::ResumeTransmit() {
  TxStalled = false;
  TxQueued = 0;
  TxResumeAt.reset();
}

void TFakeSerialApi::SetVersion(std::uint32_t platformId, std::uint32_t major,
                                std::uint32_t minor) {
  PlatformId = platformId;
  MajorVersion = major;
  MinorVersion = minor;
  VersionFails = false;
}

std::uint32_t TFakeSerialApi::TimerInterval(std::uint32_t id) const {
  const auto timer = Timers.find(id);
  return timer != Timers.end() ? timer->second.IntervalMs : 0;
}

TMessage TFakeSerialApi::FireTimer(std::uint32_t id) {
  TMessage message;
  message.Msg = WM_TIMER;
  message.WParam = id;
  return SendMessage(message);
}

TMessage TFakeSerialApi::SendMessage(TMessage message) {
  Progress();
  if (Window != nullptr && Window->Handler) Window->Handler(message);
  return message;
}

void TFakeSerialApi::RunFor(std::uint32_t ms) {
  const std::uint64_t end = Clock + ms;
  for (;;) {
    auto next = Timers.end();
    for (auto timer = Timers.begin(); timer != Timers.end(); ++timer) {
      if (next == Timers.end() || timer->second.Due < next->second.Due) next = timer;
    }
    if (next == Timers.end() || next->second.Due > end) break;
    const std::uint32_t id = next->first;
    const std::uint64_t due = next->second.Due;
    AdvanceTo(due);
    FireTimer(id);
    // The handler may have killed or reset the timer, or moved the clock.
    const auto timer = Timers.find(id);
    if (timer == Timers.end() || timer->second.Due != due) continue;
    const std::uint64_t interval = std::max<std::uint32_t>(timer->second.IntervalMs, 1);
    // Ticks that came due while the handler ran collapse into one, delivered at once, as a
    // window's pending timer message is.
    timer->second.Due = std::max(due + interval, Clock);
  }
  AdvanceTo(end);
}

std::vector<std::string> TFakeSerialApi::CallNames() const {
  std::vector<std::string> names;
  names.reserve(CallLog.size());
  for (const auto& call : CallLog) names.push_back(call.Name);
  return names;
}

std::size_t TFakeSerialApi::CountCalls(const std::string& name) const {
  return static_cast<std::size_t>(std::count_if(
      CallLog.begin(), CallLog.end(), [&](const TFakeCall& call) { return call.Name == name; }));
}

void TFakeSerialApi::ClearRecord() {
  CallLog.clear();
  Dcbs.clear();
  Purges.clear();
  SetupSizes.clear();
  Timeouts.clear();
  TimerLog.clear();
  ReadSizes.clear();
  DefMessages.clear();
  TickReadCount = 0;
}

}  // namespace kesttest
