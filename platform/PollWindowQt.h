// The driver's poll window on Qt builds: window timers made of QTimers.
#pragma once

#include <memory>

#include "platform/SerialApi.h"

namespace platform {

// A poll window whose timers fire on the event loop of the thread that calls SetTimer (the GUI
// thread), each tick handed to `handler` as WM_TIMER with WParam = the timer's id. DefWindowProc
// answers 0. SetTimer is false when that thread has no event loop to run timers on.
std::unique_ptr<TPollWindow> CreateQtPollWindow(TPollHandler handler);

}  // namespace platform
