// The POSIX serial backend made to order, for tests that must play a device the pseudo-terminal
// cannot: the programs only ever use CreateSystemSerialApi().
#pragma once

#include <functional>
#include <memory>

#include "platform/SerialApi.h"

namespace platform {

// Asks the terminal behind `descriptor` how many bytes wait in its receive and transmit queues.
// True with both counts when the system answered; false leaves them as they were.
using TQueueCountQuery = std::function<bool(int descriptor, int& queuedIn, int& queuedOut)>;

// The system's own answer (FIONREAD and TIOCOUTQ): what the system's backend asks.
bool SystemQueueCounts(int descriptor, int& queuedIn, int& queuedOut);

// A POSIX backend that resolves names through `ports` (which must outlive it) and takes its queue
// counts from `query`, for instance one that keeps answering after the device hung up, as some
// adapters' drivers do. Everything else it does as CreateSystemSerialApi's backend does.
std::unique_ptr<TSerialApi> CreatePosixSerialApi(const TPortMap& ports, TQueueCountQuery query);

}  // namespace platform
