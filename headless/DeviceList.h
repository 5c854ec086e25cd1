// kestlog --list: the serial devices with the COM numbers the window's menu gives them.
#pragma once

#include <string>
#include <vector>

#include "serial/PortAssignment.h"
#include "serial/SerialPorts.h"

namespace headless {

// One line per device, "COMn  PATH  STABLE-NAME  DESCRIPTION", numbered ones first in number order;
// "-" for a device without a number or a stable name. "no serial devices found\n" for none.
std::string DeviceListText(const std::vector<TSerialPort>& devices,
                           const TPortAssignment& assignment);

}  // namespace headless
