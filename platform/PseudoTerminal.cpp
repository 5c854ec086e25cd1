// Pseudo-terminal pairs and raw terminal devices on POSIX systems, for the simulated controller.
#include "platform/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

using TClock = std::chrono::steady_clock;

std::string SystemMessage(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// Raw bytes both ways at the controller's line settings. A pty ignores the speed, but a program
// that reads it back (or a real port given to OpenExisting) sees what the box would use.
bool MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  cfsetispeed(&settings, B19200);
  cfsetospeed(&settings, B19200);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int RemainingMs(TClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TPseudoTerminal::~TPseudoTerminal() { Close(); }

bool TPseudoTerminal::Open() {
  Close();
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    Error = SystemMessage("posix_openpt");
    return false;
  }
  char name[128] = {};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    Error = SystemMessage("preparing the pseudo-terminal");
    ::close(master);
    return false;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    Error = SystemMessage(name);
    ::close(master);
    return false;
  }
  // The line discipline sits on the slave: making it raw there keeps the monitor's requests from
  // being echoed back as if the box had sent them, and lets every byte value through unchanged,
  // even before the monitor sets the line up itself.
  if (!MakeRaw(slave) || !SetNonBlocking(master)) {
    Error = SystemMessage("setting up the pseudo-terminal");
    ::close(slave);
    ::close(master);
    return false;
  }
  MasterFd = master;
  KeepSlaveFd = slave;
  Slave = name;
  Error.clear();
  return true;
}

bool TPseudoTerminal::OpenExisting(const std::string& ttyPath) {
  Close();
  // Non-blocking so that a port with no carrier neither hangs the open nor a later write.
  const int fd = ::open(ttyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    Error = SystemMessage(ttyPath.c_str());
    return false;
  }
  if (!isatty(fd)) {
    Error = ttyPath + ": not a terminal device";
    ::close(fd);
    return false;
  }
  if (!MakeRaw(fd)) {
    Error = SystemMessage(ttyPath.c_str());
    ::close(fd);
    return false;
  }
  MasterFd = fd;
  Slave = ttyPath;
  Error.clear();
  return true;
}

void TPseudoTerminal::Close() {
  // Closing the master is what hangs up every other holder of the slave; ours goes with it.
  if (KeepSlaveFd >= 0) ::close(KeepSlaveFd);
  if (MasterFd >= 0) ::close(MasterFd);
  KeepSlaveFd = -1;
  MasterFd = -1;
  Slave.clear();
}

long TPseudoTerminal::Read(std::uint8_t* buffer, std::size_t size, int timeoutMs) {
  if (MasterFd < 0) return -1;
  if (size == 0) return 0;
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    pollfd waiter{MasterFd, POLLIN, 0};
    const int ready = ::poll(&waiter, 1, RemainingMs(deadline));
    if (ready < 0) {
      // A signal cuts the wait short; the caller asked for the whole time-out.
      if (errno == EINTR) continue;
      return -1;
    }
    if (ready == 0) return 0;
    if ((waiter.revents & POLLIN) == 0) return -1;  // POLLHUP, POLLERR or POLLNVAL alone
    const ssize_t got = ::read(MasterFd, buffer, size);
    if (got > 0) return static_cast<long>(got);
    if (got == 0) return -1;  // end of file: the device hung up
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
      if (RemainingMs(deadline) == 0) return 0;
      continue;
    }
    return -1;
  }
}

std::size_t TPseudoTerminal::Write(const std::uint8_t* data, std::size_t size, int timeoutMs) {
  if (MasterFd < 0) return 0;
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(MasterFd, data + done, size - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    // The peer's input queue is full: wait for room, but never longer than the caller allows, so
    // a monitor that asks and then stops reading cannot wedge the simulator's thread.
    const int left = RemainingMs(deadline);
    if (left == 0) break;
    pollfd waiter{MasterFd, POLLOUT, 0};
    const int ready = ::poll(&waiter, 1, left);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (waiter.revents & POLLOUT) == 0) break;
  }
  return done;
}

}  // namespace platform
