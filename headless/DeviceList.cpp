// The text of kestlog --list.
#include "headless/DeviceList.h"

#include <algorithm>
#include <optional>

namespace headless {

std::string DeviceListText(const std::vector<TSerialPort>& devices,
                           const TPortAssignment& assignment) {
  if (devices.empty()) return "no serial devices found\n";
  std::vector<std::pair<int, std::size_t>> order;  // (number, or past 16 for none; device)
  for (std::size_t i = 0; i < devices.size(); ++i) {
    order.emplace_back(assignment.NumberOf(i).value_or(LastAssignedComNumber + 1), i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string text;
  for (const auto& [number, i] : order) {
    const TSerialPort& device = devices[i];
    text += number <= LastAssignedComNumber ? "COM" + std::to_string(number) : std::string("-");
    text += "  " + device.Path;
    text += "  " + (device.StableName.empty() ? std::string("-") : device.StableName);
    text += "  " + device.Description + "\n";
  }
  return text;
}

}  // namespace headless
