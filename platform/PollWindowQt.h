// The driver's poll window on Qt builds: window timers made of QTimers.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/SerialApi.h"

namespace platform {

// The descriptors a poll tick takes its input from (the ports a backend holds open); asked afresh
// each time the window starts waiting for input.
using TInputDescriptors = std::function<std::vector<int>()>;

// A poll window for a driver whose ticks only ever take input. Its timers fire on the event loop of
// the thread that calls SetTimer (the GUI thread), each tick handed to `handler` as WM_TIMER with
// WParam = the timer's id; DefWindowProc answers 0; SetTimer is false when that thread has no event
// loop to run timers on. A tick that finds nothing queued does nothing, so such ticks are not
// delivered at all. Each timer keeps the beat of a plain
// timer (ticks at whole multiples of its interval after SetTimer), but a tick is delivered only
// when one of `inputs` has become readable (or hung up) since the last tick: the first tick due
// after input arrived comes, the others are left out. An idle line then costs no wake-ups at all,
// where a plain 5 ms timer wakes the processor 200 times a second for nothing. Input that is still
// there after a tick brings the next tick due, so a descriptor that stays readable (a hung-up
// device) gets at most one tick per interval, never a spin.
std::unique_ptr<TPollWindow> CreateQtInputPollWindow(TPollHandler handler,
                                                     TInputDescriptors inputs);

}  // namespace platform
