// The console on Windows: whether a standard stream is a console that can redraw a line, and the
// console's stop events (Ctrl-C, Ctrl-Break, the window closed, logoff, shutdown) turned into an
// ordinary call on the event loop.
//
// The system calls a console control handler on a thread of its own. The handler only posts the
// stop to the thread that made the watch, whose event loop then makes the real call between two
// of its handlers, so a stop never lands in the middle of a frame being read or a row written.
#include <QMetaObject>
#include <QObject>
#include <csignal>
#include <cstdio>
#include <mutex>

#include "platform/Terminal.h"
// After our own headers (see Win32.h).
#include "platform/Win32.h"

namespace platform {

namespace {

// How long the handler holds back the end of the process after the console window was closed (or
// the user logs off), so that the log can be closed with whole rows: the system allows about five
// seconds before it ends the process anyway.
constexpr DWORD ClosingGraceMs = 4000;

class TWin32StopSignalWatch;

std::mutex WatchLock;  // guards CurrentWatch against a handler running while the watch goes
TWin32StopSignalWatch* CurrentWatch = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event);

class TWin32StopSignalWatch final : public TStopSignalWatch {
 public:
  explicit TWin32StopSignalWatch(std::function<void(int)> onStop)
      : OnStop(std::move(onStop)), Finished(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

  bool Install() {
    {
      std::lock_guard lock(WatchLock);
      if (CurrentWatch != nullptr) return false;
      CurrentWatch = this;
    }
    if (!::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE)) {
      std::lock_guard lock(WatchLock);
      CurrentWatch = nullptr;
      return false;
    }
    Installed = true;
    return true;
  }

  ~TWin32StopSignalWatch() override {
    // The program has stopped: a handler that waits for that may let the process end now.
    if (Finished != nullptr) ::SetEvent(Finished);
    if (Installed) ::SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
    std::lock_guard lock(WatchLock);
    if (CurrentWatch == this) CurrentWatch = nullptr;
    // The event is not closed: a handler may be about to wait on it, and the process is ending.
  }

  // On the handler's thread, with WatchLock held. True when this is the first stop: the program
  // is asked to stop; later ones are left to the system, which ends the process.
  bool Post(int signal) {
    if (Stopped) return false;
    Stopped = true;
    QMetaObject::invokeMethod(
        &Context, [this, signal] { OnStop(signal); }, Qt::QueuedConnection);
    return true;
  }

  HANDLE FinishedEvent() const { return Finished; }

 private:
  std::function<void(int)> OnStop;
  QObject Context;  // lives on the thread that made the watch: the call is made there
  HANDLE Finished;
  bool Installed = false;
  bool Stopped = false;
};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  HANDLE finished = nullptr;
  {
    std::lock_guard lock(WatchLock);
    if (CurrentWatch == nullptr) return FALSE;
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    // A second Ctrl-C ends a program that got stuck on its way out, as on other systems.
    if (!CurrentWatch->Post(interrupt ? SIGINT : SIGTERM)) return FALSE;
    if (interrupt) return TRUE;
    finished = CurrentWatch->FinishedEvent();
  }
  // The window closed, logoff or shutdown: the process ends once this handler returns, so it
  // returns only when the program has finished or the grace time is over.
  if (finished != nullptr) ::WaitForSingleObject(finished, ClosingGraceMs);
  return TRUE;
}

// Cursor movements and line erasing need the console's terminal sequences, which it has had since
// Windows 10 and which are switched on per console.
bool ConsoleCanRedraw(HANDLE handle) {
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
    return false;
  }
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

}  // namespace

bool IsTerminal(TStandardStream stream) {
  return ConsoleCanRedraw(
      ::GetStdHandle(stream == TStandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE));
}

// A program built for the window subsystem has no console of its own. Streams that were redirected
// (to a file, a pipe) are kept; the others are joined to the console of the command prompt that
// started the program.
void UseParentConsole() {
  auto redirected = [](DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
  };
  const bool output = redirected(STD_OUTPUT_HANDLE);
  const bool error = redirected(STD_ERROR_HANDLE);
  if ((output && error) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!output) (void)std::freopen("CONOUT$", "w", stdout);
  if (!error) (void)std::freopen("CONOUT$", "w", stderr);
}

// A write to a pipe whose reader has gone already fails with an error on Windows; no signal ends
// the process, so there is nothing to change.
void IgnoreBrokenPipe() {}

std::unique_ptr<TStopSignalWatch> WatchStopSignals(std::function<void(int signal)> onStop) {
  auto watch = std::make_unique<TWin32StopSignalWatch>(std::move(onStop));
  if (!watch->Install()) return nullptr;
  return watch;
}

}  // namespace platform
