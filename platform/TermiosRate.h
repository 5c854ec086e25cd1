// Line rates that have no B-constant, through the system's own interface for any rate.
//
// Kept in a translation unit of its own: the kernel's terminal records that carry a free rate
// clash with the C library's <termios.h>, so the two never meet in one file.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// Sets both directions of the open terminal `fd` to `bitsPerSecond`, whatever the value, leaving
// every other terminal setting as it is. False when the system refused.
bool SetArbitraryRate(int fd, std::uint32_t bitsPerSecond);

// The output rate in bit/s that the terminal `fd` runs at, for any rate; nothing when the system
// does not say.
std::optional<std::uint32_t> ArbitraryRateOf(int fd);

}  // namespace platform
