// What a user can do when a serial device would not open: the remedy depends on the system (who
// may open devices, where adapters appear), so the words live here, one file per system.
#pragma once

#include <string>

#include "platform/SerialApi.h"

namespace platform {

// One sentence telling the user how to get past `error` on this system; empty when there is
// nothing useful to say (None, Other).
std::string OpenErrorHint(TOpenError error);

}  // namespace platform
