// The console on POSIX systems: isatty, and the stop signals delivered through a self-pipe.
//
// A signal handler may do next to nothing safely; it only writes the signal's number into a pipe.
// The read end is watched by the event loop, which then makes the real call, on the program's own
// thread, between two of its handlers, so a stop never lands in the middle of a frame being read
// or a row being written.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>

#include "platform/Terminal.h"

namespace platform {

namespace {

constexpr std::array<int, 3> StopSignals = {SIGINT, SIGTERM, SIGHUP};

// The pipe's write end as the handler sees it; -1 while no watch exists.
volatile sig_atomic_t SignalPipeWrite = -1;

extern "C" void OnStopSignal(int signal) {
  const int savedErrno = errno;
  const int fd = SignalPipeWrite;
  if (fd >= 0) {
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a stop; a lost byte changes nothing.
    (void)!::write(fd, &number, 1);
  }
  errno = savedErrno;
}

class TPosixStopSignalWatch final : public TStopSignalWatch {
 public:
  TPosixStopSignalWatch(int readFd, int writeFd, std::function<void(int)> onStop)
      : ReadFd(readFd),
        WriteFd(writeFd),
        OnStop(std::move(onStop)),
        Notifier(readFd, QSocketNotifier::Read) {
    QObject::connect(&Notifier, &QSocketNotifier::activated, &Notifier, [this] { Drain(); });
  }

  bool Install() {
    SignalPipeWrite = WriteFd;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The first signal asks for an orderly stop; the handler then steps aside, so the next one
    // ends a program that got stuck on its way out.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < StopSignals.size(); ++i) {
      // On a refusal the destructor puts back the ones already taken.
      if (sigaction(StopSignals[i], &action, &Former[i]) != 0) return false;
      Installed = i + 1;
    }
    return true;
  }

  ~TPosixStopSignalWatch() override {
    for (std::size_t i = 0; i < Installed; ++i) sigaction(StopSignals[i], &Former[i], nullptr);
    SignalPipeWrite = -1;
    Notifier.setEnabled(false);
    ::close(ReadFd);
    ::close(WriteFd);
  }

 private:
  void Drain() {
    unsigned char numbers[16];
    const ssize_t got = ::read(ReadFd, numbers, sizeof numbers);
    if (got <= 0 || Stopped) return;
    // One stop is enough: further signals before the program has left change nothing.
    Stopped = true;
    OnStop(numbers[0]);
  }

  int ReadFd;
  int WriteFd;
  std::function<void(int)> OnStop;
  QSocketNotifier Notifier;
  std::array<struct sigaction, StopSignals.size()> Former{};
  std::size_t Installed = 0;
  bool Stopped = false;
};

}  // namespace

bool IsTerminal(TStandardStream stream) {
  return isatty(stream == TStandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

// A program keeps the terminal it was started from, whether it has windows or not.
void UseParentConsole() {}

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

std::unique_ptr<TStopSignalWatch> WatchStopSignals(std::function<void(int signal)> onStop) {
  if (SignalPipeWrite >= 0) return nullptr;
  int fds[2];
  if (::pipe(fds) != 0) return nullptr;
  for (const int fd : fds) {
    // Non-blocking on both ends: the handler must never wait, and a drain must never hang.
    (void)fcntl(fd, F_SETFD, FD_CLOEXEC);
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  auto watch = std::make_unique<TPosixStopSignalWatch>(fds[0], fds[1], std::move(onStop));
  if (!watch->Install()) return nullptr;  // the destructor closes the pipe
  return watch;
}

}  // namespace platform
