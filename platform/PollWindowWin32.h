// The driver's poll window on Windows: a real hidden window receiving SetTimer messages.
#pragma once

#include <memory>

#include "platform/SerialApi.h"

namespace platform {

// A message-only window of the calling thread; its WM_TIMER (WParam = timer id) and every other
// message it receives once created go to `handler` on that thread's message loop. DefWindowProc is
// the system's. Never null: when the system refuses to make the window, SetTimer answers false.
std::unique_ptr<TPollWindow> CreateWin32PollWindow(TPollHandler handler);

}  // namespace platform
