// Device names and the settings folder on POSIX systems: devices are files, settings follow the
// desktop's base directory rule.
#include <cstdlib>

#include "platform/UserSettings.h"

namespace platform {

// Only an absolute path: the port memory outlives the folder the program was started in.
std::optional<std::string> DeviceNameOf(const std::string& text) {
  if (text.empty() || text.front() != '/') return std::nullopt;
  return text;
}

std::string DeviceNameRule() { return "a device path beginning with '/'"; }

std::string UserConfigFolder() {
  return XdgConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

}  // namespace platform
