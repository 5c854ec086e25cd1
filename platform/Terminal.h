// The console a command-line program runs in: whether a standard stream is a terminal, and the
// stop signals (Ctrl-C, a hang-up, a polite kill) turned into an ordinary call on the event loop.
#pragma once

#include <functional>
#include <memory>

namespace platform {

enum class TStandardStream { Output, Error };

// True when the stream is connected to a terminal (so a status line redrawn in place makes sense).
bool IsTerminal(TStandardStream stream);

// For a program with windows that also prints (--help, a summary): where the system starts such a
// program without its standard streams (Windows), they go to the console it was started from, if
// any, unless they were redirected. Elsewhere nothing changes.
void UseParentConsole();

// Writing to a pipe whose reader has gone fails with an error from then on, instead of killing the
// process on the spot, so that a program can still close its files and say goodbye.
void IgnoreBrokenPipe();

// While it lives, the first interrupt, hang-up or terminate signal calls `onStop` with the signal's
// number, from the event loop of the thread that made the watch (never from inside the signal
// handler). A second such signal kills the process as usual, so a program that hangs while
// stopping can still be interrupted. Needs a running Qt event loop; one watch at a time.
class TStopSignalWatch {
 public:
  virtual ~TStopSignalWatch() = default;  // restores the signals' former treatment
};

// Null when the signals could not be caught (the system refused, or a watch already exists).
std::unique_ptr<TStopSignalWatch> WatchStopSignals(std::function<void(int signal)> onStop);

}  // namespace platform
