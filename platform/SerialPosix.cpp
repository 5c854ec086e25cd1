// The serial backend on POSIX systems: the driver's Win32-shaped calls over a terminal device.
//
// The driver names its port "\\.\COMn"; the port map turns that into a device path. A port is
// held exclusively by two means, because neither is enough alone: TIOCEXCL refuses later opens of
// the terminal but not to root, and an flock keeps out every later opener that also asks for it
// (any other copy of this program, in this process or another, root or not).
#include "platform/SerialPosix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DeviceHolder.h"
#include "platform/PollWindowQt.h"
#include "platform/PortMap.h"
#include "platform/SerialApi.h"
#include "platform/TermiosRate.h"
#include "platform/TermiosSettings.h"

namespace platform {

namespace {

// Handles are the descriptor + 1: a descriptor may be 0, a handle never is.
TPortHandle HandleOfFd(int fd) { return static_cast<TPortHandle>(fd) + 1; }
int FdOfHandle(TPortHandle handle) { return static_cast<int>(handle - 1); }

TOpenError OpenErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    // What a legacy /dev/ttyS node with no UART behind it answers.
    case EIO:
      return TOpenError::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return TOpenError::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
      return TOpenError::InUse;
    case EISDIR:
      return TOpenError::NotATerminal;
    default:
      return TOpenError::Other;
  }
}

// Raises or drops one modem control line. Pseudo-terminals and some adapters have no such lines;
// like every configuration result the failure is not looked at.
void SetModemLine(int fd, int line, bool raised) {
  (void)ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line);
}

int PollTimeoutOf(std::uint32_t maxMs) {
  return static_cast<int>(std::min<std::uint32_t>(maxMs, INT_MAX));
}

// True when the device has hung up or failed: its queues can no longer be trusted.
bool HasFailed(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

constexpr const char* HungUp = "the device hung up";

// What a poll that found the device failed tells, in words: the system gives no error code then.
const char* FailureNote(short revents) {
  if ((revents & POLLHUP) != 0) return HungUp;
  if ((revents & POLLERR) != 0) return "the device reported an error";
  return "not an open device";
}

// A transfer that did not happen now but may on the next try: not a failure.
bool Unfinished(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// What termios cannot hold but the driver sets anyway; kept so the calls answer as on Win32.
struct TPortRecord {
  std::uint32_t InQueue = 0;
  std::uint32_t OutQueue = 0;
  TCommTimeouts Timeouts;
};

class TPosixSerialApi final : public TSerialApi {
 public:
  TPosixSerialApi(const TPortMap& ports, TQueueCountQuery queueCounts)
      : PortNames(ports), QueueCounts(std::move(queueCounts)) {}

  TPortHandle CreateFile(const std::string& deviceName) override {
    const std::string path = PortNames.Resolve(deviceName);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      return FailOpen(OpenErrorOf(error), path, error);
    }
    if (!isatty(fd)) {
      ::close(fd);
      return FailOpen(TOpenError::NotATerminal, path, ENOTTY);
    }
    // The lock comes before TIOCEXCL: a refused lock means someone else holds the port, and
    // their exclusive mode must then be left as it is.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      return FailOpen(error == EWOULDBLOCK ? TOpenError::InUse : OpenErrorOf(error), path, error);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
      const int error = errno;
      ::close(fd);  // also releases the lock
      return FailOpen(error == EBUSY ? TOpenError::InUse : TOpenError::Other, path, error);
    }
    const TPortHandle handle = HandleOfFd(fd);
    {
      std::lock_guard<std::mutex> guard(Lock);
      Ports[handle] = TPortRecord{};
    }
    {
      std::lock_guard<std::mutex> guard(Lock);
      Failure = TOpenFailure{};
    }
    LastError = TOpenError::None;
    return handle;
  }

  TOpenError LastOpenError() const override { return LastError; }

  TOpenFailure LastOpenFailure() const override {
    std::lock_guard<std::mutex> guard(Lock);
    return Failure;
  }

  bool CloseHandle(TPortHandle port) override {
    {
      std::lock_guard<std::mutex> guard(Lock);
      if (Ports.erase(port) == 0) return false;
    }
    const int fd = FdOfHandle(port);
    // Exclusive mode belongs to the terminal, not to our descriptor: left set, it would keep
    // refusing opens after we are gone while anyone else still holds the terminal.
    (void)ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0;
  }

  bool SetCommState(TPortHandle port, const TDcb& dcb) override {
    const int fd = FdOf(port);
    if (fd < 0) return Fail(EBADF);
    const TTermiosSettings settings = TermiosFromDcb(dcb);
    if (!settings.Valid) return Fail(EINVAL, "settings a terminal cannot take");
    if (tcsetattr(fd, TCSANOW, &settings.Attributes) != 0) return Fail(errno);
    if (settings.ArbitraryRate && !SetArbitraryRate(fd, settings.BaudRate)) return Fail(errno);
    SetModemLine(fd, TIOCM_DTR, settings.Dtr);
    SetModemLine(fd, TIOCM_RTS, settings.Rts);
    return true;
  }

  // Terminals size their own queues and have no per-call time-outs (every call here returns at
  // once); the values are kept and the calls answer as they would on Win32.
  bool SetupComm(TPortHandle port, std::uint32_t inQueue, std::uint32_t outQueue) override {
    std::lock_guard<std::mutex> guard(Lock);
    const auto found = Ports.find(port);
    if (found == Ports.end()) return Fail(EBADF);
    found->second.InQueue = inQueue;
    found->second.OutQueue = outQueue;
    return true;
  }

  bool SetCommTimeouts(TPortHandle port, const TCommTimeouts& timeouts) override {
    std::lock_guard<std::mutex> guard(Lock);
    const auto found = Ports.find(port);
    if (found == Ports.end()) return Fail(EBADF);
    found->second.Timeouts = timeouts;
    return true;
  }

  // Only the CLEAR flags discard anything. The ABORT flags cancel pending overlapped transfers on
  // Win32; every call here has finished before it returns, so there is never one to cancel.
  bool PurgeComm(TPortHandle port, std::uint32_t flags) override {
    const int fd = FdOf(port);
    if (fd < 0) return Fail(EBADF);
    const bool input = (flags & PURGE_RXCLEAR) != 0;
    const bool output = (flags & PURGE_TXCLEAR) != 0;
    if (!input && !output) return true;
    const int queues = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return tcflush(fd, queues) == 0 || Fail(errno);
  }

  // A terminal clears line errors itself (a bad byte arrives as it came, or is dropped), so
  // `errors` is always 0. A hung-up device may still answer the queue queries with stale counts;
  // the poll catches the hang-up first, at the cost of one call that never waits.
  bool ClearCommError(TPortHandle port, std::uint32_t& errors, TComStat& stat) override {
    const int fd = FdOf(port);
    if (fd < 0) return Fail(EBADF);
    pollfd probe{fd, 0, 0};
    if (poll(&probe, 1, 0) < 0) return Fail(errno);
    if (HasFailed(probe.revents)) return Fail(0, FailureNote(probe.revents));
    int queuedIn = 0;
    int queuedOut = 0;
    errno = 0;
    if (!QueueCounts(fd, queuedIn, queuedOut)) return Fail(errno);
    errors = 0;
    stat.cbInQue = static_cast<std::uint32_t>(std::max(queuedIn, 0));
    stat.cbOutQue = static_cast<std::uint32_t>(std::max(queuedOut, 0));
    return true;
  }

  bool ReadFile(TPortHandle port, void* buffer, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    const int fd = FdOf(port);
    if (fd < 0) return Fail(EBADF);
    if (count == 0) return true;
    const ssize_t got = ::read(fd, buffer, count);
    if (got > 0) {
      done = static_cast<std::uint32_t>(got);
      return true;
    }
    // With at least one byte asked for, end-of-file on a terminal means it has hung up.
    if (got == 0) return Fail(0, HungUp);
    return Unfinished(errno) || Fail(errno);
  }

  bool WriteFile(TPortHandle port, const void* data, std::uint32_t count,
                 std::uint32_t& done) override {
    done = 0;
    const int fd = FdOf(port);
    if (fd < 0) return Fail(EBADF);
    if (count == 0) return true;
    const ssize_t written = ::write(fd, data, count);
    if (written >= 0) {
      done = static_cast<std::uint32_t>(written);
      return true;
    }
    return Unfinished(errno) || Fail(errno);
  }

  TSystemError LastPortError() const override {
    const int code = PortErrorCode;
    const char* note = PortErrorNote;
    if (note == nullptr) note = code != 0 ? std::strerror(code) : "the system gave no reason";
    return TSystemError{static_cast<std::uint32_t>(code), note};
  }

  void WaitForInput(TPortHandle port, std::uint32_t maxMs) override {
    WaitFor(port, POLLIN, maxMs);
  }

  void WaitForOutputSpace(TPortHandle port, std::uint32_t maxMs) override {
    WaitFor(port, POLLOUT, maxMs);
  }

  void SleepMicroseconds(std::uint32_t microseconds) override {
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
  }

  std::uint32_t GetTickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);  // wraps at 2^32 like the Win32 tick counter
  }

  // The driver only asks which queue-threshold rules apply; a POSIX terminal has no such limit of
  // its own, and answering as a current NT system gives the driver its modern, capped rule.
  bool GetVersionEx(TOsVersionInfo& info) override {
    if (info.dwOSVersionInfoSize != OsVersionInfoSize) return false;
    info.dwMajorVersion = 10;
    info.dwMinorVersion = 0;
    info.dwBuildNumber = 0;
    info.dwPlatformId = 2;
    std::fill(std::begin(info.szCSDVersion), std::end(info.szCSDVersion), '\0');
    return true;
  }

  // Better than a window timer that wakes the processor every 5 ms whether or not anything came:
  // the driver's poll ticks only ever take input, so they are delivered only when a port we hold
  // has input (or has hung up), still on the driver's 5 ms beat. An idle or silent line then
  // costs no wake-ups.
  std::unique_ptr<TPollWindow> CreatePollWindow(TPollHandler handler) override {
    return CreateQtInputPollWindow(std::move(handler), [this] {
      std::vector<int> descriptors;
      std::lock_guard<std::mutex> guard(Lock);
      for (const auto& port : Ports) descriptors.push_back(FdOfHandle(port.first));
      return descriptors;
    });
  }

 private:
  // The reason is taken here, at the failed call, while errno still says it and while the holder
  // of a busy device still holds it.
  TPortHandle FailOpen(TOpenError error, const std::string& path, int systemError) {
    TOpenFailure failure{error, path, std::strerror(systemError), {}};
    if (error == TOpenError::InUse) failure.Holder = DeviceHolder(path);
    {
      std::lock_guard<std::mutex> guard(Lock);
      Failure = std::move(failure);
    }
    LastError = error;
    return InvalidPortHandle;
  }

  // Keeps why a port call failed and returns false, for the call to pass on. Only the code, or a
  // note of our own where the system gave none, is kept: a call that fails on every tick then
  // allocates nothing, and the words are looked up when someone asks for them.
  bool Fail(int code, const char* note = nullptr) {
    PortErrorNote = note;
    PortErrorCode = code;
    return false;
  }

  // The descriptor of a port we opened and still hold, else -1. Checking the table, not just the
  // number, keeps a stale handle from reaching a descriptor that has since been reused.
  int FdOf(TPortHandle port) const {
    std::lock_guard<std::mutex> guard(Lock);
    return Ports.count(port) != 0 ? FdOfHandle(port) : -1;
  }

  // Where a poll cannot wait (the device hung up or failed, or the handle is not ours) the whole
  // time is slept instead: such a poll returns at once every time, and a caller that loops until
  // its time-out would otherwise spin a core.
  void WaitFor(TPortHandle port, short events, std::uint32_t maxMs) {
    if (maxMs == 0) return;
    const int fd = FdOf(port);
    if (fd >= 0) {
      pollfd wanted{fd, events, 0};
      const int ready = poll(&wanted, 1, PollTimeoutOf(maxMs));
      if (ready == 0) return;
      if (ready > 0 && !HasFailed(wanted.revents)) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(maxMs));
  }

  const TPortMap& PortNames;  // the program's: which device each COM name stands for
  const TQueueCountQuery QueueCounts;
  mutable std::mutex Lock;
  std::map<TPortHandle, TPortRecord> Ports;
  std::atomic<TOpenError> LastError{TOpenError::None};
  TOpenFailure Failure;  // guarded by Lock
  std::atomic<int> PortErrorCode{0};
  std::atomic<const char*> PortErrorNote{nullptr};
};

}  // namespace

bool SystemQueueCounts(int descriptor, int& queuedIn, int& queuedOut) {
  int in = 0;
  int out = 0;
  if (ioctl(descriptor, FIONREAD, &in) != 0 || ioctl(descriptor, TIOCOUTQ, &out) != 0) return false;
  queuedIn = in;
  queuedOut = out;
  return true;
}

std::unique_ptr<TSerialApi> CreatePosixSerialApi(const TPortMap& ports, TQueueCountQuery query) {
  return std::make_unique<TPosixSerialApi>(ports, std::move(query));
}

std::unique_ptr<TSerialApi> CreateSystemSerialApi(const TPortMap& ports) {
  return CreatePosixSerialApi(ports, SystemQueueCounts);
}

TSerialApi& SystemSerialApi() {
  static const TPortMap noMappings;
  static TPosixSerialApi api(noMappings, SystemQueueCounts);
  return api;
}

}  // namespace platform
