// The serial devices the system knows of, and word when they come and go.
//
// This is the one place that asks the system: the records hold what it says about each device, as
// it says it, and nothing is decided here. Which of them count as serial ports, their stable names,
// their COM numbers and their descriptions are worked out by the callers from these records, so
// tests can feed recorded ones.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One terminal device with hardware behind it, as the system describes it. Empty text: the
// system did not say.
struct TSerialDeviceRecord {
  std::string Path;                // the device node, e.g. /dev/ttyUSB0 (Windows: COM14)
  std::string SystemName;          // the kernel's name, e.g. ttyUSB0
  std::vector<std::string> Links;  // other names of the node, e.g. /dev/serial/by-id/...
  std::string Driver;              // the driver of the hardware behind it, e.g. ftdi_sio
  std::string UartType;            // a built-in UART's chip type code; "0" when none answers
  std::string VendorId;            // the USB device's ids, four hex digits each
  std::string ProductId;
  std::string Manufacturer;  // the USB device's own strings
  std::string Product;
  std::string SerialNumber;
  // Where the system numbers its ports itself (Windows): the port's number (14 for COM14) and the
  // name it shows the user ("USB Serial Port (COM14)"); 0 and empty elsewhere.
  int SystemComNumber = 0;
  std::string FriendlyName;

  bool operator==(const TSerialDeviceRecord&) const = default;
};

class TSerialDeviceSource {
 public:
  virtual ~TSerialDeviceSource() = default;
  // The terminal devices present now, each with a device behind it (no virtual consoles, no
  // pseudo-terminals). Empty when there are none or the system cannot tell.
  virtual std::vector<TSerialDeviceRecord> Devices() = 0;
  // From now on calls `changed` after a terminal device came or went, on the thread that called
  // Watch, from its event loop; a later call replaces the earlier one. False when this system
  // cannot tell (nothing will be called). Waiting for the news costs nothing while none comes.
  virtual bool Watch(std::function<void()> changed) = 0;
};

// The system's own source. On Windows the records are the COM ports present, each with its Path
// and SystemName "COMn", its SystemComNumber and FriendlyName.
std::unique_ptr<TSerialDeviceSource> SystemSerialDevices();

}  // namespace platform
