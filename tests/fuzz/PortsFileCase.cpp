// The port memory's reader over arbitrary bytes: a ports.conf as a user may have edited it, or
// any file that happens to be there.
//
// Rules: what is kept holds only COM1 to COM16, each an absolute path given to no other number;
// no more warnings than lines; the file written from it reads back as the same table without a
// warning; and numbering no devices leaves the memory as it was, so nothing is written back.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "serial/PortAssignment.h"
#include "serial/PortsFile.h"
#include "tests/fuzz/FuzzTargets.h"

namespace fuzz {

std::optional<std::string> RunPortsFile(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> warnings;
  const TPortTable table = ParsePortsText(text, warnings);
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  if (warnings.size() > lines) return "more warnings than lines";
  std::set<std::string> devices;
  for (const auto& [number, device] : table) {
    if (number < FirstAssignedComNumber || number > LastAssignedComNumber) {
      return "kept COM" + std::to_string(number);
    }
    if (device.empty() || device.front() != '/') return "kept a path that is not absolute";
    if (!devices.insert(device).second) return "kept a device under two numbers";
  }
  std::vector<std::string> rereadWarnings;
  if (ParsePortsText(PortsFileText(table), rereadWarnings) != table) {
    return "the written file reads back as another table";
  }
  if (!rereadWarnings.empty()) return "the written file warns: " + rereadWarnings.front();
  if (AssignComNumbers({}, table, {}).Memory != table) {
    return "numbering no devices changed the memory";
  }
  return std::nullopt;
}

}  // namespace fuzz
