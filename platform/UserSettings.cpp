// The base directory rule of POSIX desktops, a pure function so that every build can test it.
#include "platform/UserSettings.h"

#include <filesystem>

namespace platform {

std::string XdgConfigFolder(const char* xdgConfigHome, const char* home) {
  namespace fs = std::filesystem;
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (xdgConfigHome != nullptr && fs::path(xdgConfigHome).is_absolute()) return xdgConfigHome;
  if (home != nullptr && fs::path(home).is_absolute()) return (fs::path(home) / ".config").string();
  return {};
}

}  // namespace platform
