// Free line rates on Linux: termios2 with BOTHER, set and read with TCSETS2/TCGETS2.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/TermiosRate.h"

namespace platform {

bool SetArbitraryRate(int fd, std::uint32_t bitsPerSecond) {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = bitsPerSecond;
  settings.c_ospeed = bitsPerSecond;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

std::optional<std::uint32_t> ArbitraryRateOf(int fd) {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return std::nullopt;
  return settings.c_ospeed;
}

}  // namespace platform
