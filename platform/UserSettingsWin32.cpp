// Device names and the settings folder on Windows: the system numbers its serial ports itself and
// keeps each user's settings under the roaming application data folder.
#include <string_view>

#include "platform/PortMap.h"
#include "platform/UserSettings.h"
// After our own headers (see Win32.h).
#include "platform/Win32.h"

namespace platform {

namespace {

constexpr int LastPortNumber = 255;

}  // namespace

// "\\.\" is the device namespace prefix that ports above COM9 need; users write either form.
std::optional<std::string> DeviceNameOf(const std::string& text) {
  std::string_view name = text;
  constexpr std::string_view DevicePrefix = "\\\\.\\";
  if (name.starts_with(DevicePrefix)) name.remove_prefix(DevicePrefix.size());
  const std::optional<int> number = ComWordNumber(name, LastPortNumber);
  if (!number) return std::nullopt;
  return "COM" + std::to_string(*number);
}

std::string DeviceNameRule() { return "a port name such as COM14"; }

// The ANSI form, as the rest of the program opens its files by narrow names.
std::string UserConfigFolder() {
  char folder[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableA("APPDATA", folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return {};
  return std::string(folder, length);
}

}  // namespace platform
