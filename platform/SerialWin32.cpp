// The serial backend on Windows: the driver's calls, one for one, over the kernel32 communications
// API, with the port opened by the name the driver formed ("\\.\COMn"), or by the port the
// program's map puts behind that number (COM2=COM14).
//
// SerialApi.h comes before <windows.h>, for the reason given in platform/Win32.h.
#include "platform/SerialApi.h"
#include "platform/Win32.h"

// Our interface has methods of these names; the A/W-choosing macros must not rename them.
#undef CreateFile
#undef GetVersionEx

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/PollWindowWin32.h"
#include "platform/PortMap.h"
#include "platform/UserSettings.h"

namespace platform {

namespace {

HANDLE HandleOf(TPortHandle port) { return reinterpret_cast<HANDLE>(port); }

// Windows answers "access denied" for a COM port that another program holds; a port can hardly be
// refused to a user for any other reason, so that answer is taken as "in use".
TOpenError OpenErrorOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
      return TOpenError::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return TOpenError::InUse;
    case ERROR_PRIVILEGE_NOT_HELD:
      return TOpenError::PermissionDenied;
    default:
      return TOpenError::Other;
  }
}

// The system's own words for `error`, without the line break it ends them with.
std::string SystemText(DWORD error) {
  char buffer[256] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

DCB DcbOf(const TDcb& ours) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = ours.BaudRate;
  const std::uint32_t f = ours.Flags;
  dcb.fBinary = (f & DcbFlag::fBinary) != 0;
  dcb.fParity = (f & DcbFlag::fParity) != 0;
  dcb.fOutxCtsFlow = (f & DcbFlag::fOutxCtsFlow) != 0;
  dcb.fOutxDsrFlow = (f & DcbFlag::fOutxDsrFlow) != 0;
  dcb.fDtrControl = (f >> 4) & 0x3;
  dcb.fDsrSensitivity = (f & DcbFlag::fDsrSensitivity) != 0;
  dcb.fTXContinueOnXoff = (f & DcbFlag::fTXContinueOnXoff) != 0;
  dcb.fOutX = (f & DcbFlag::fOutX) != 0;
  dcb.fInX = (f & DcbFlag::fInX) != 0;
  dcb.fErrorChar = (f & DcbFlag::fErrorChar) != 0;
  dcb.fNull = (f & DcbFlag::fNull) != 0;
  dcb.fRtsControl = (f >> 12) & 0x3;
  dcb.fAbortOnError = (f & DcbFlag::fAbortOnError) != 0;
  dcb.wReserved = ours.wReserved;
  dcb.XonLim = ours.XonLim;
  dcb.XoffLim = ours.XoffLim;
  dcb.ByteSize = ours.ByteSize;
  dcb.Parity = ours.Parity;
  dcb.StopBits = ours.StopBits;
  dcb.XonChar = ours.XonChar;
  dcb.XoffChar = ours.XoffChar;
  dcb.ErrorChar = ours.ErrorChar;
  dcb.EofChar = ours.EofChar;
  dcb.EvtChar = ours.EvtChar;
  dcb.wReserved1 = ours.wReserved1;
  return dcb;
}

// The name CreateFile needs: a port name with the device namespace prefix, without which COM10
// and above are taken for files; any other name as it is.
std::string OpenNameOf(const std::string& name) {
  if (const std::optional<std::string> port = DeviceNameOf(name)) return "\\\\.\\" + *port;
  return name;
}

class TWin32SerialApi final : public TSerialApi {
 public:
  explicit TWin32SerialApi(const TPortMap* ports = nullptr) : Ports(ports) {}

  TPortHandle CreateFile(const std::string& deviceName) override {
    std::string target = deviceName;
    if (const std::optional<int> number = TPortMap::ComNumberOf(deviceName); number && Ports) {
      if (std::optional<std::string> mapped = Ports->MappedPath(*number)) target = *mapped;
    }
    const std::string openName = OpenNameOf(target);
    HANDLE port = CreateFileA(openName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      LastError = OpenErrorOf(error);
      Failure = TOpenFailure{LastError, openName, SystemText(error), {}};
      return InvalidPortHandle;
    }
    // A name that opens but is no communications device (a file, a pipe) is refused here, before
    // the driver programs a line that is not there.
    DCB probe{};
    probe.DCBlength = sizeof(DCB);
    if (::GetFileType(port) != FILE_TYPE_CHAR || !::GetCommState(port, &probe)) {
      ::CloseHandle(port);
      LastError = TOpenError::NotATerminal;
      Failure = TOpenFailure{LastError, openName, {}, {}};
      return InvalidPortHandle;
    }
    LastError = TOpenError::None;
    Failure = TOpenFailure{};
    return reinterpret_cast<TPortHandle>(port);
  }

  TOpenError LastOpenError() const override { return LastError; }
  TOpenFailure LastOpenFailure() const override { return Failure; }

  bool CloseHandle(TPortHandle port) override { return ::CloseHandle(HandleOf(port)) != FALSE; }

  bool SetCommState(TPortHandle port, const TDcb& dcb) override {
    DCB system = DcbOf(dcb);
    return Kept(::SetCommState(HandleOf(port), &system));
  }

  bool SetupComm(TPortHandle port, std::uint32_t inQueue, std::uint32_t outQueue) override {
    return Kept(::SetupComm(HandleOf(port), inQueue, outQueue));
  }

  bool SetCommTimeouts(TPortHandle port, const TCommTimeouts& timeouts) override {
    COMMTIMEOUTS system{};
    system.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    system.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    system.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    system.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    system.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return Kept(::SetCommTimeouts(HandleOf(port), &system));
  }

  bool PurgeComm(TPortHandle port, std::uint32_t flags) override {
    return Kept(::PurgeComm(HandleOf(port), flags));
  }

  // The counts are the system's word and not always a real port's. Wine on a pseudo-terminal (the
  // line CI tests on) reports cbOutQue as 0 however much the far end has left unread, and lets
  // cbInQue grow past the queue size asked of SetupComm, which it ignores. The driver copes with
  // both: a poll tick takes at most its buffer and leaves the rest queued, and a write measures
  // its progress by what WriteFile took (Wine keeps the 1 ms write time-out), not by free space.
  bool ClearCommError(TPortHandle port, std::uint32_t& errors, TComStat& stat) override {
    DWORD systemErrors = 0;
    COMSTAT systemStat{};
    if (!Kept(::ClearCommError(HandleOf(port), &systemErrors, &systemStat))) return false;
    errors = systemErrors;
    stat.cbInQue = systemStat.cbInQue;
    stat.cbOutQue = systemStat.cbOutQue;
    return true;
  }

  bool ReadFile(TPortHandle port, void* buffer, std::uint32_t count, std::uint32_t& done) override {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(HandleOf(port), buffer, count, &got, nullptr);
    done = got;
    return Kept(ok);
  }

  bool WriteFile(TPortHandle port, const void* data, std::uint32_t count,
                 std::uint32_t& done) override {
    DWORD written = 0;
    const BOOL ok = ::WriteFile(HandleOf(port), data, count, &written, nullptr);
    done = written;
    return Kept(ok);
  }

  // A wait on the port's events would need overlapped I/O, which the driver's synchronous handle
  // does not use. A sleep of one millisecond (the system's timer granularity may stretch it to
  // about 16) instead keeps the driver's time-out loops from spinning, at the cost of noticing a
  // byte that late; the time-out rules themselves are kept by the driver's tick counter.
  void WaitForInput(TPortHandle, std::uint32_t maxMs) override { ShortSleep(maxMs); }
  void WaitForOutputSpace(TPortHandle, std::uint32_t maxMs) override { ShortSleep(maxMs); }
  // Whole milliseconds, rounded up: the system sleeps no finer.
  void SleepMicroseconds(std::uint32_t microseconds) override {
    ::Sleep(microseconds / 1000u + (microseconds % 1000u != 0 ? 1u : 0u));
  }

  TSystemError LastPortError() const override {
    const DWORD code = PortErrorCode;
    return TSystemError{code, code != 0 ? SystemText(code) : "the system gave no reason"};
  }

  std::uint32_t GetTickCount() override { return ::GetTickCount(); }

  bool GetVersionEx(TOsVersionInfo& info) override {
    if (info.dwOSVersionInfoSize != OsVersionInfoSize) return false;
    OSVERSIONINFOA system{};
    system.dwOSVersionInfoSize = sizeof(system);
    if (!::GetVersionExA(&system)) return false;
    info.dwMajorVersion = system.dwMajorVersion;
    info.dwMinorVersion = system.dwMinorVersion;
    info.dwBuildNumber = system.dwBuildNumber;
    info.dwPlatformId = system.dwPlatformId;
    std::copy(std::begin(system.szCSDVersion), std::end(system.szCSDVersion),
              std::begin(info.szCSDVersion));
    return true;
  }

  std::unique_ptr<TPollWindow> CreatePollWindow(TPollHandler handler) override {
    return CreateWin32PollWindow(std::move(handler));
  }

 private:
  static void ShortSleep(std::uint32_t maxMs) { ::Sleep(std::min<std::uint32_t>(maxMs, 1)); }

  // A call's result as ours; a failed call's error code is kept, before any other call can
  // overwrite it. Only the code: a call that fails on every tick then allocates nothing, and the
  // words are looked up when someone asks for them.
  bool Kept(BOOL result) {
    if (result != FALSE) return true;
    PortErrorCode = ::GetLastError();
    return false;
  }

  const TPortMap* Ports;
  TOpenError LastError = TOpenError::None;
  TOpenFailure Failure;
  std::atomic<DWORD> PortErrorCode{0};
};

static_assert(sizeof(OSVERSIONINFOA) == OsVersionInfoSize);
static_assert(sizeof(TOsVersionInfo) == OsVersionInfoSize);

}  // namespace

std::unique_ptr<TSerialApi> CreateSystemSerialApi(const TPortMap& ports) {
  return std::make_unique<TWin32SerialApi>(&ports);
}

TSerialApi& SystemSerialApi() {
  static TWin32SerialApi api;
  return api;
}

}  // namespace platform
