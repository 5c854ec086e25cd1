// Which device stands behind "COM n" on a system whose serial devices have other names.
//
// The driver names its port as "\\.\COMn", the same on every system. The POSIX backend is made
// with a program's map and resolves that name through it at each open: COM n is /dev/ttyS<n-1>
// unless the user mapped it to another path (a USB adapter, a /dev/serial/by-id link, a
// pseudo-terminal).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// n of "COMn" alone, the letters in any case, n written as the system writes it (no sign, no
// blanks, no leading zero) and within 1..`last`; nothing for anything else. Anything looser would
// let two spellings name one port.
std::optional<int> ComWordNumber(std::string_view word, int last);

class TPortMap {
 public:
  // Maps COM `number` (1 to 16) to `path`; a later mapping of the same number replaces it.
  // False, and nothing stored, for a number outside 1..16 or an empty path.
  bool Map(int number, const std::string& path);
  // Forgets the mapping of COM `number`, which then resolves to its default name again.
  void Unmap(int number) { Paths.erase(number); }
  // Parses "COMn=PATH" (the letters in any case) and maps it; false for anything else.
  bool MapFromOption(const std::string& option);
  // The number and path in "COMn=PATH"; nothing for anything else (n outside 1..16, no path).
  static std::optional<std::pair<int, std::string>> ParseOption(const std::string& option);
  // The COM number in a device name such as "\\.\COM3" or "COM3"; nothing for other names.
  static std::optional<int> ComNumberOf(const std::string& deviceName);
  // The path for a device name: the mapped path, else /dev/ttyS<n-1>; other names unchanged.
  std::string Resolve(const std::string& deviceName) const;
  // The mapped path of COM `number`, if the user gave one.
  std::optional<std::string> MappedPath(int number) const;

 private:
  std::map<int, std::string> Paths;
};

}  // namespace platform
