// The COM numbering of serial devices: UARTs by their names, adapters by the port memory.
#include "serial/PortAssignment.h"

#include <algorithm>

namespace {

bool InRange(int number) {
  return number >= FirstAssignedComNumber && number <= LastAssignedComNumber;
}

std::optional<std::size_t> DeviceNamed(const std::vector<TSerialPort>& present,
                                       const std::string& name) {
  for (std::size_t i = 0; i < present.size(); ++i) {
    if (present[i].HasName(name)) return i;
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> TPortAssignment::NumberOf(std::size_t device) const {
  for (const auto& [number, port] : Ports) {
    if (port.Device == device) return number;
  }
  return std::nullopt;
}

TPortAssignment AssignComNumbers(const std::vector<TSerialPort>& present,
                                 const TPortTable& remembered, const TPortTable& overrides) {
  TPortAssignment result;
  std::vector<bool> numbered(present.size(), false);

  // The memory first: a remembered adapter holds its number even while it is away, so a new one
  // can never take it.
  for (const auto& [number, name] : remembered) {
    if (!InRange(number) || name.empty()) continue;
    result.Memory[number] = name;
    TComPort port{name, DeviceNamed(present, name), TComPort::TSource::Remembered};
    if (port.Device) {
      if (numbered[*port.Device]) {
        // Two numbers written for one device: the lower keeps it, this one names it unseen.
        port.Device.reset();
      } else {
        numbered[*port.Device] = true;
        port.Path = present[*port.Device].Key();
      }
    }
    result.Ports[number] = port;
  }
  for (std::size_t i = 0; i < present.size(); ++i) {
    // A port the system numbered above 16 is reached through a mapping only.
    const std::optional<int> uart = present[i].SystemComNumber;
    if (!uart || !InRange(*uart) || numbered[i] || result.Ports.count(*uart) != 0) continue;
    result.Ports[*uart] = TComPort{present[i].Path, i, TComPort::TSource::Uart};
    numbered[i] = true;
  }
  // Built-in UARTs that lost their number to a remembered entry get none: their number is
  // their name, so they never move to another. Nor do ports the system numbered itself: a user
  // maps those where he wants them.
  for (std::size_t i = 0; i < present.size(); ++i) {
    if (numbered[i] || present[i].SystemComNumber) continue;
    int free = FirstAssignedComNumber;
    while (free <= LastAssignedComNumber && result.Ports.count(free) != 0) ++free;
    if (free > LastAssignedComNumber) break;
    result.Ports[free] = TComPort{present[i].Key(), i, TComPort::TSource::New};
    result.Memory[free] = present[i].Key();
    numbered[i] = true;
  }
  for (const auto& [number, path] : overrides) {
    if (!InRange(number) || path.empty()) continue;
    result.Ports[number] = TComPort{path, DeviceNamed(present, path), TComPort::TSource::Override};
  }
  // Counted last: an override may have put another device over a UART's number.
  std::vector<bool> behindNumber(present.size(), false);
  for (const auto& entry : result.Ports) {
    if (entry.second.Device) behindNumber[*entry.second.Device] = true;
  }
  for (std::size_t i = 0; i < present.size(); ++i) {
    if (!behindNumber[i]) result.Unnumbered.push_back(i);
  }
  return result;
}
