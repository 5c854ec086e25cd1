// The POSIX serial backend made to order, for tests that must play a device the pseudo-terminal
// cannot: the program itself only ever uses SystemSerialApi().
#pragma once

#include <functional>
#include <memory>

#include "platform/SerialApi.h"

namespace platform {

// Asks the terminal behind `descriptor` how many bytes wait in its receive and transmit queues.
// True with both counts when the system answered; false leaves them as they were.
using TQueueCountQuery = std::function<bool(int descriptor, int& queuedIn, int& queuedOut)>;

// The system's own answer (FIONREAD and TIOCOUTQ): what SystemSerialApi() asks.
bool SystemQueueCounts(int descriptor, int& queuedIn, int& queuedOut);

// A POSIX backend apart from SystemSerialApi() that takes its queue counts from `query`, for
// instance one that keeps answering after the device hung up, as some adapters' drivers do.
// Everything else it does as SystemSerialApi() does.
std::unique_ptr<TSerialApi> CreatePosixSerialApi(TQueueCountQuery query);

}  // namespace platform
