// TSerialPortDriver: opening and programming the port, timed byte reads and writes, and the poll
// tick that hands received bytes to OnReceiveData. All system calls go through
// platform::TSerialApi.
#include "serial/SerialPortDriver.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

namespace {

using platform::TCommTimeouts;
using platform::TComStat;
using platform::TDcb;
using platform::TOsVersionInfo;
namespace DcbFlag = platform::DcbFlag;

// The names of TSerialPortDriver::TCall, as TSerialApi has them.
constexpr const char* CallNames[] = {"SetCommState",   "SetupComm", "SetCommTimeouts", "PurgeComm",
                                     "ClearCommError", "ReadFile",  "WriteFile"};
static_assert(std::size(CallNames) == 7);

// Poll ticks are timer 1 on the driver's own window; no other timer is set there.
constexpr std::uint32_t PollTimerId = 1;

// Every ReadFile/WriteFile call returns within about a millisecond; the waiting happens in our
// own loops, where the idle time-outs are measured.
constexpr TCommTimeouts PortTimeouts{1, 0, 1, 0, 1};

constexpr std::uint32_t ClosedQueueAnswer = 65535;

// On NT 4 and later the flow-control threshold must stay within 4096 bytes.
constexpr std::uint32_t NtThresholdCap = 4096;
constexpr std::uint32_t Nt4Version = 4u * 65536u;

constexpr char XonChar = 17;   // DC1
constexpr char XoffChar = 19;  // DC3
constexpr std::uint32_t DcbLength = 28;

template <typename E>
constexpr std::size_t Ordinal(E value) {
  return static_cast<std::size_t>(value);
}

// Milliseconds left until more than `timeout` ms have passed since the last progress, when
// `elapsed` have passed already; never 0, so a wait always lets time move on.
std::uint32_t TimeLeft(std::uint32_t timeout, std::uint32_t elapsed) {
  const std::uint32_t left = timeout - elapsed;  // elapsed <= timeout here
  return left == std::numeric_limits<std::uint32_t>::max() ? left : left + 1;
}

}  // namespace

std::string GetWinPlatform(platform::TSerialApi& api) {
  TOsVersionInfo info;
  info.dwOSVersionInfoSize = platform::OsVersionInfoSize;
  if (!api.GetVersionEx(info)) return "??";
  switch (info.dwPlatformId) {
    case 0:
      return "W32S";
    case 1:
      return "W95";
    case 2:
      return "WNT";
    default:
      return "";
  }
}

std::uint32_t GetWinVersion(platform::TSerialApi& api) {
  TOsVersionInfo info;
  info.dwOSVersionInfoSize = platform::OsVersionInfoSize;
  if (!api.GetVersionEx(info)) return 0;
  return ((info.dwMajorVersion & 0xFFFFu) << 16) | (info.dwMinorVersion & 0xFFFFu);
}

std::string ComPortDeviceName(TComPortNumber port) {
  return "\\\\.\\COM" + std::to_string(Ordinal(port) + 1);
}

TSerialPortDriver::TSerialPortDriver(platform::TSerialApi& api) : Api(api) {
  // Sized here, not in the initializer list: the size setting is declared after the buffer.
  ReceiveBuffer.resize(FComPortInBufSize);
  PollWindow = Api.CreatePollWindow([this](platform::TMessage& message) { PollTick(message); });
}

TSerialPortDriver::~TSerialPortDriver() {
  ClosePort();
  ReceiveBuffer = {};
  PollWindow.reset();
}

void TSerialPortDriver::SetComPort(TComPortNumber value) {
  if (IsOpen()) return;
  FComPort = value;
}

void TSerialPortDriver::SetComPortSpeed(TComPortBaudRate value) {
  FComPortSpeed = value;
  ApplyLineSettings();
}

void TSerialPortDriver::SetComPortDataBits(TComPortDataBits value) {
  FComPortDataBits = value;
  ApplyLineSettings();
}

void TSerialPortDriver::SetComPortStopBits(TComPortStopBits value) {
  FComPortStopBits = value;
  ApplyLineSettings();
}

void TSerialPortDriver::SetComPortParity(TComPortParity value) {
  FComPortParity = value;
  ApplyLineSettings();
}

void TSerialPortDriver::SetComPortHwHandshaking(TComPortHwHandshaking value) {
  FComPortHwHandshaking = value;
  ApplyLineSettings();
}

void TSerialPortDriver::SetComPortSwHandshaking(TComPortSwHandshaking value) {
  FComPortSwHandshaking = value;
  ApplyLineSettings();
}

void TSerialPortDriver::SetComPortInBufSize(std::uint16_t value) {
  // The receive buffer is what a poll tick reads into, so it may change only while no tick runs.
  if (IsOpen()) return;
  FComPortInBufSize = value;
  ReceiveBuffer = std::vector<std::uint8_t>(value);
}

void TSerialPortDriver::SetComPortOutBufSize(std::uint16_t value) {
  if (IsOpen()) return;
  FComPortOutBufSize = value;
}

void TSerialPortDriver::SetComPortPollingDelay(std::uint16_t value) {
  if (value == FComPortPollingDelay) return;
  if (IsOpen()) {
    PollWindow->KillTimer(PollTimerId);
    FComPortPollingDelay = value;
    PollWindow->SetTimer(PollTimerId, FComPortPollingDelay);
  } else {
    FComPortPollingDelay = value;
  }
}

bool TSerialPortDriver::OpenPort() {
  // Reopening would purge bytes the caller may still want and restart the poll timer's phase.
  if (IsOpen()) return true;
  const platform::TPortHandle handle = Api.CreateFile(ComPortDeviceName(FComPort));
  // 0 is our "no port": a handle of 0 could never be told from a closed port, so it is refused
  // like a failed open rather than reported as success for a port IsOpen would deny.
  if (handle == platform::InvalidPortHandle || handle == 0) return false;
  PortHandle = handle;
  DeviceFailed = false;
  KnownQueued = 0;
  KnownRoom = 0;
  // A new handle has failed at nothing yet.
  Failing.fill(false);
  ApplyLineSettings();
  Kept(TCall::SetCommTimeouts, Api.SetCommTimeouts(PortHandle, PortTimeouts));
  PollWindow->SetTimer(PollTimerId, FComPortPollingDelay);
  return true;
}

platform::TPortFailure TSerialPortDriver::TakeFailure() { return std::exchange(Failure, {}); }

bool TSerialPortDriver::Kept(TCall call, bool result) {
  bool& failing = Failing[static_cast<std::size_t>(call)];
  const bool began = !result && !failing;
  failing = !result;
  // Asked of the system only when a failure begins: one that lasts costs no words (and no memory)
  // on every tick.
  if (began && Failure.Call.empty()) {
    Failure.Call = CallNames[static_cast<std::size_t>(call)];
    Failure.Error = Api.LastPortError();
  }
  return result;
}

void TSerialPortDriver::ClosePort() {
  if (!IsOpen()) return;
  PollWindow->KillTimer(PollTimerId);
  Api.CloseHandle(PortHandle);
  PortHandle = 0;
  DeviceFailed = false;
  KnownQueued = 0;
  KnownRoom = 0;
}

platform::TDcb TSerialPortDriver::BuildDcb() {
  TDcb dcb;
  dcb.DCBlength = DcbLength;
  dcb.BaudRate = ComPortRates[Ordinal(FComPortSpeed)];

  // fParity stays 0 whatever the parity: the system does not check parity on reception, and a
  // damaged frame is caught by the frame's own checksum instead.
  std::uint32_t flags = DcbFlag::fBinary;
  if (FComPortHwHandshaking == TComPortHwHandshaking::hhRTSCTS) flags |= DcbFlag::fOutxCtsFlow;
  if (FEnableDTROnOpen) flags |= DcbFlag::DtrControlEnable;
  if (FComPortSwHandshaking == TComPortSwHandshaking::shXONXOFF) {
    flags |= DcbFlag::fOutX | DcbFlag::fInX;
  }
  switch (FComPortHwHandshaking) {
    case TComPortHwHandshaking::hhNONE:
      break;
    case TComPortHwHandshaking::hhNONERTSON:
      flags |= DcbFlag::RtsControlEnable;
      break;
    case TComPortHwHandshaking::hhRTSCTS:
      flags |= DcbFlag::RtsControlHandshake;
      break;
  }
  dcb.Flags = flags;

  // The flow-control threshold is a quarter of the receive queue. The platform is asked afresh
  // every time, and its version only on NT, where the threshold must not exceed 4096.
  std::uint32_t threshold = FComPortInBufSize / 4u;
  if (GetWinPlatform(Api) == "WNT" && GetWinVersion(Api) >= Nt4Version) {
    threshold = std::min(threshold, NtThresholdCap);
  }
  dcb.XonLim = static_cast<std::uint16_t>(threshold);
  dcb.XoffLim = dcb.XonLim;

  dcb.ByteSize = static_cast<std::uint8_t>(Ordinal(FComPortDataBits) + 5);
  dcb.Parity = static_cast<std::uint8_t>(Ordinal(FComPortParity));
  dcb.StopBits = static_cast<std::uint8_t>(Ordinal(FComPortStopBits));
  dcb.XonChar = XonChar;
  dcb.XoffChar = XoffChar;
  return dcb;
}

void TSerialPortDriver::ApplyLineSettings() {
  if (!IsOpen()) return;
  // A refused setting leaves the port open as it is: the line may still work, and what the
  // system said is kept for the caller to tell (TakeFailure).
  Kept(TCall::SetCommState, Api.SetCommState(PortHandle, BuildDcb()));
  // Bytes queued under the old settings would be garbled under the new ones.
  Purge(true, true);
  Kept(TCall::SetupComm, Api.SetupComm(PortHandle, FComPortInBufSize, FComPortOutBufSize));
}

void TSerialPortDriver::Purge(bool receive, bool transmit) {
  if (!IsOpen()) return;
  std::uint32_t flags = 0;
  if (transmit) flags |= platform::PURGE_TXABORT | platform::PURGE_TXCLEAR;
  if (receive) flags |= platform::PURGE_RXABORT | platform::PURGE_RXCLEAR;
  Kept(TCall::PurgeComm, Api.PurgeComm(PortHandle, flags));
  if (receive) KnownQueued = 0;
}

std::uint32_t TSerialPortDriver::InputQueueCount() {
  if (!IsOpen()) return ClosedQueueAnswer;
  std::uint32_t errors = 0;
  TComStat stat;
  // The query also clears a pending line error, so reception simply goes on; the error itself
  // is of no use to the caller. A device that cannot be queried (an adapter pulled out) counts as
  // having nothing queued, so that a read loop ends by its time-out.
  if (!Kept(TCall::ClearCommError, Api.ClearCommError(PortHandle, errors, stat))) {
    DeviceFailed = true;
    KnownQueued = 0;
    return 0;
  }
  KnownQueued = stat.cbInQue;
  return stat.cbInQue;
}

std::uint16_t TSerialPortDriver::OutputFreeSpace() {
  if (!IsOpen()) return static_cast<std::uint16_t>(ClosedQueueAnswer);
  std::uint32_t errors = 0;
  TComStat stat;
  // A device that cannot be queried counts as having a full transmit queue, so that a write loop
  // ends by its time-out instead of pushing bytes at a dead port.
  if (!Kept(TCall::ClearCommError, Api.ClearCommError(PortHandle, errors, stat))) {
    DeviceFailed = true;
    KnownRoom = 0;
    return 0;
  }
  const auto room = static_cast<std::uint16_t>(FComPortOutBufSize - stat.cbOutQue);
  KnownRoom = room;
  return room;
}

std::uint32_t TSerialPortDriver::WriteBytesTimed(const void* data, std::uint32_t count,
                                                 std::uint32_t timeout) {
  if (!IsOpen()) return 0;
  // Waiting for room on a device known to be gone would only freeze the caller for the time-out.
  if (DeviceFailed) return 0;
  const auto* position = static_cast<const std::uint8_t*>(data);
  std::uint32_t total = 0;
  std::uint32_t start = Api.GetTickCount();
  while (count > 0) {
    const std::uint32_t room = KnownRoom > 0 ? KnownRoom : OutputFreeSpace();
    if (room > 0) {
      const std::uint32_t chunk = std::min<std::uint32_t>(count, room);
      std::uint32_t written = 0;
      // A refused write is kept and otherwise taken as one that took nothing: the loop waits for
      // room until its time-out, as it always has.
      Kept(TCall::WriteFile, Api.WriteFile(PortHandle, position, chunk, written));
      // A backend never reports more than it was given; the clamp keeps count from wrapping if
      // one ever did.
      written = std::min(written, chunk);
      // A write that took less than was known free leaves the rest to a fresh query.
      KnownRoom = written == chunk ? room - written : 0;
      if (written > 0) {
        total += written;
        position += written;
        count -= written;
        start = Api.GetTickCount();
        continue;
      }
    }
    // Differences of the 32-bit tick counter stay right across its wrap.
    const std::uint32_t elapsed = Api.GetTickCount() - start;
    if (elapsed > timeout) break;
    // Rather than spinning on the queue query, sleep in the system until room may have appeared
    // or the time-out would be over; the time-out rule itself is unchanged.
    Api.WaitForOutputSpace(PortHandle, TimeLeft(timeout, elapsed));
  }
  return total;
}

std::uint32_t TSerialPortDriver::WriteBytes(const void* data, std::uint32_t count) {
  return WriteBytesTimed(data, count, FOutputTimeout);
}

bool TSerialPortDriver::WriteByte(std::uint8_t value) { return WriteBytes(&value, 1) == 1; }

std::uint32_t TSerialPortDriver::ReadBytes(void* buffer, std::uint32_t count) {
  if (!IsOpen()) return 0;
  // Nothing will come from a device known to be gone; waiting would only freeze the caller.
  if (DeviceFailed) return 0;
  // The caller takes the bytes straight from the queue; a poll tick must not take them first.
  HoldPolling();
  auto* position = static_cast<std::uint8_t*>(buffer);
  std::uint32_t total = 0;
  std::uint32_t start = Api.GetTickCount();
  while (count > 0) {
    const std::uint32_t queued = KnownQueued > 0 ? KnownQueued : InputQueueCount();
    std::uint32_t got = 0;
    if (queued > 0) {
      // Asking only for what is queued makes ReadFile return at once.
      const std::uint32_t chunk = std::min(queued, count);
      // The bytes read count whatever the result says; a failed read only tells that the device
      // has gone.
      if (!Kept(TCall::ReadFile, Api.ReadFile(PortHandle, position, chunk, got))) {
        DeviceFailed = true;
      }
      got = std::min(got, chunk);
      // A read that yields less than was known queued leaves the rest to a fresh query.
      KnownQueued = got == chunk && !DeviceFailed ? queued - got : 0;
      total += got;
      position += got;
      count -= got;
    }
    if (got > 0) {
      start = Api.GetTickCount();
      continue;
    }
    // The idle clock restarts only when bytes actually came: a device that reports queued bytes
    // but yields none on reading would otherwise hold the caller here for ever.
    const std::uint32_t elapsed = Api.GetTickCount() - start;  // right across the counter's wrap
    if (elapsed > FInputTimeout) break;
    // Sleep in the system until input may have arrived or the time-out would be over, instead of
    // spinning on the queue query; the time-out rule itself is unchanged.
    Api.WaitForInput(PortHandle, TimeLeft(FInputTimeout, elapsed));
  }
  ReleasePolling();
  return total;
}

bool TSerialPortDriver::ReadByte(std::uint8_t& target) { return ReadBytes(&target, 1) == 1; }

void TSerialPortDriver::WaitForQueuedInput(std::uint32_t count) {
  if (!IsOpen() || DeviceFailed || KnownQueued >= count) return;
  // The read before this call has just asked; bytes that came in the microseconds since are found
  // by the query after the first sleep.
  std::uint32_t queued = KnownQueued;
  const std::uint32_t start = Api.GetTickCount();
  while (queued < count && !DeviceFailed) {
    const std::uint32_t elapsed = Api.GetTickCount() - start;  // right across the counter's wrap
    if (elapsed > FInputTimeout) break;
    // One character more than is missing covers the system's own delay in handing bytes over, so
    // that a sleep does not end just before the last of them.
    const std::uint64_t wanted =
        static_cast<std::uint64_t>(count - queued + 1) * CharacterMicroseconds();
    const std::uint64_t allowed =
        static_cast<std::uint64_t>(TimeLeft(FInputTimeout, elapsed)) * 1000u;
    const std::uint64_t longest = std::numeric_limits<std::uint32_t>::max();
    Api.SleepMicroseconds(static_cast<std::uint32_t>(std::min({wanted, allowed, longest})));
    const std::uint32_t now = InputQueueCount();
    // Nothing came while the line could have carried several bytes: the rest is late, and the
    // reads that follow wait for it by their own time-outs.
    if (now <= queued) break;
    queued = now;
  }
}

std::uint32_t TSerialPortDriver::CharacterMicroseconds() const {
  // Counted in half bits, so that one and a half stop bits come out exact.
  std::uint32_t halfBits = 2 + 2 * static_cast<std::uint32_t>(Ordinal(FComPortDataBits) + 5);
  if (FComPortParity != TComPortParity::ptNONE) halfBits += 2;
  switch (FComPortStopBits) {
    case TComPortStopBits::sb1BITS:
      halfBits += 2;
      break;
    case TComPortStopBits::sb1HALFBITS:
      halfBits += 3;
      break;
    case TComPortStopBits::sb2BITS:
      halfBits += 4;
      break;
  }
  const std::uint32_t rate = ComPortRates[Ordinal(FComPortSpeed)];
  // Bits x 1,000,000 / rate; the product stays under 12 million.
  return (halfBits * 500'000u + rate - 1) / rate;
}

void TSerialPortDriver::PollTick(platform::TMessage& message) {
  if (message.Msg == platform::WM_TIMER && IsOpen()) {
    // A holder is reading the queue itself; this tick is used up without touching the port.
    if (PollHoldCount > 0) return;
    std::uint32_t errors = 0;
    TComStat stat;
    // A device that cannot be queried counts as having nothing queued, and as gone.
    if (!Kept(TCall::ClearCommError, Api.ClearCommError(PortHandle, errors, stat))) {
      DeviceFailed = true;
      KnownQueued = 0;
      return;
    }
    // The device's queue may hold more than the size we asked of it. Take at most one buffer
    // full; the rest stays queued for the next tick, so nothing is lost and nothing is written
    // past the buffer.
    const std::uint32_t chunk =
        std::min<std::uint32_t>(stat.cbInQue, static_cast<std::uint32_t>(ReceiveBuffer.size()));
    KnownQueued = 0;
    if (chunk == 0) return;
    std::uint32_t got = 0;
    const bool ok =
        Kept(TCall::ReadFile, Api.ReadFile(PortHandle, ReceiveBuffer.data(), chunk, got));
    if (!ok) DeviceFailed = true;
    got = std::min(got, chunk);
    if (ok && got == chunk) KnownQueued = stat.cbInQue - got;
    if (ok && got > 0 && FOnReceiveData) FOnReceiveData(this, ReceiveBuffer.data(), got);
    return;
  }
  message.Result = PollWindow->DefWindowProc(message);
}
