// The COM-number-to-device-path map of the POSIX backend, filled from the command line.
#include "platform/PortMap.h"

#include <string_view>

#include "text/Words.h"

namespace platform {

namespace {

constexpr int FirstComNumber = 1;
constexpr int LastComNumber = 16;

std::optional<int> ParseComWord(std::string_view word) {
  return ComWordNumber(word, LastComNumber);
}

}  // namespace

std::optional<int> ComWordNumber(std::string_view word, int last) {
  constexpr std::string_view Prefix = "COM";
  if (word.size() <= Prefix.size() || !text::StartsWithNoCase(word, Prefix)) return std::nullopt;
  const std::string_view digits = word.substr(Prefix.size());
  if (digits.front() == '0') return std::nullopt;
  int number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
    if (number > last) return std::nullopt;  // and no digits enough to overflow
  }
  return number;
}

bool TPortMap::Map(int number, const std::string& path) {
  if (number < FirstComNumber || number > LastComNumber || path.empty()) return false;
  Paths[number] = path;
  return true;
}

bool TPortMap::MapFromOption(const std::string& option) {
  const auto parsed = ParseOption(option);
  return parsed && Map(parsed->first, parsed->second);
}

std::optional<std::pair<int, std::string>> TPortMap::ParseOption(const std::string& option) {
  const std::size_t equals = option.find('=');
  if (equals == std::string::npos || equals + 1 == option.size()) return std::nullopt;
  const std::optional<int> number = ParseComWord(std::string_view(option).substr(0, equals));
  if (!number) return std::nullopt;
  return std::make_pair(*number, option.substr(equals + 1));
}

std::optional<int> TPortMap::ComNumberOf(const std::string& deviceName) {
  constexpr std::string_view DevicePrefix = "\\\\.\\";
  std::string_view name = deviceName;
  if (name.starts_with(DevicePrefix)) name.remove_prefix(DevicePrefix.size());
  return ParseComWord(name);
}

std::string TPortMap::Resolve(const std::string& deviceName) const {
  const std::optional<int> number = ComNumberOf(deviceName);
  if (!number) return deviceName;
  if (std::optional<std::string> mapped = MappedPath(*number)) return *mapped;
  return "/dev/ttyS" + std::to_string(*number - 1);
}

std::optional<std::string> TPortMap::MappedPath(int number) const {
  const auto found = Paths.find(number);
  if (found == Paths.end()) return std::nullopt;
  return found->second;
}

}  // namespace platform
