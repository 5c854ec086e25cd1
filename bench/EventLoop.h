// The benchmarks' waits on Qt's event loop: the monitor under measure runs on it meanwhile.
#pragma once

#include <functional>

namespace bench {

// Runs the event loop for `seconds`.
void RunFor(double seconds);
// Runs the event loop until `done` holds or `seconds` pass; whether it held.
bool RunUntil(const std::function<bool()>& done, double seconds);

}  // namespace bench
