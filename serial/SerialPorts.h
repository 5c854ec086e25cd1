// The serial ports among the devices the system reports: which of them count, the name that stays
// with each across re-plugging, and the words a user knows it by.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/SerialDevices.h"

struct TSerialPort {
  std::string Path;        // the device node, e.g. /dev/ttyUSB0
  std::string StableName;  // /dev/serial/by-id/..., else /dev/serial/by-path/...; empty if neither
  std::vector<std::string> Links;  // every other name of the node
  // The COM number the device always has, being its name: n for a built-in UART /dev/ttyS<n-1>
  // (n from 1 to 16), n for a port the system numbered COMn itself (Windows, any n).
  std::optional<int> SystemComNumber;
  std::string Description;  // e.g. "FTDI FT232R USB UART (A1234567)"; never empty

  // The name that stands for this device in the port memory and that the port is opened by: the
  // stable name when there is one, so a re-plugged adapter is found under whatever node it got.
  const std::string& Key() const { return StableName.empty() ? Path : StableName; }
  // True when `name` is the node or one of its links.
  bool HasName(const std::string& name) const;

  bool operator==(const TSerialPort&) const = default;
};

// The serial ports among `records`, in the order of their kernel names (ttyS2 before ttyS10). A
// built-in UART node that no chip answers (the legacy nodes every PC kernel makes) is left out.
std::vector<TSerialPort> SerialPortsOf(const std::vector<platform::TSerialDeviceRecord>& records);
