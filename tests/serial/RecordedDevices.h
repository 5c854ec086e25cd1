// Serial devices as the system reports them, recorded, for tests of everything above the device
// seam: a source that answers with whatever records the test holds and lets it announce a change.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/SerialDevices.h"

namespace kesttest {

class TRecordedDevices : public platform::TSerialDeviceSource {
 public:
  std::vector<platform::TSerialDeviceRecord> Records;
  bool CanWatch = true;

  std::vector<platform::TSerialDeviceRecord> Devices() override { return Records; }
  bool Watch(std::function<void()> changed) override {
    Changed = std::move(changed);
    return CanWatch;
  }
  // What the system's monitor does when a device comes or goes.
  void AnnounceChange() {
    if (Changed) Changed();
  }

 private:
  std::function<void()> Changed;
};

// A USB adapter as udev describes an FTDI cable on node `node` (ttyUSB0...).
inline platform::TSerialDeviceRecord FtdiAdapter(const std::string& node,
                                                 const std::string& serial = "A1234567") {
  platform::TSerialDeviceRecord record;
  record.Path = "/dev/" + node;
  record.SystemName = node;
  record.Links = {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0",
                  "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0"};
  record.Driver = "ftdi_sio";
  record.VendorId = "0403";
  record.ProductId = "6001";
  record.Manufacturer = "FTDI";
  record.Product = "FT232R USB UART";
  record.SerialNumber = serial;
  return record;
}

// A built-in UART node ttyS<index>; `chip` false makes it one of the empty legacy nodes.
inline platform::TSerialDeviceRecord Uart(int index, bool chip = true) {
  platform::TSerialDeviceRecord record;
  record.SystemName = "ttyS" + std::to_string(index);
  record.Path = "/dev/" + record.SystemName;
  record.Driver = "serial8250";
  record.UartType = chip ? "4" : "0";
  return record;
}

// A port that Windows numbered COM<number> itself, with the friendly name of a USB adapter's.
inline platform::TSerialDeviceRecord WindowsPort(int number) {
  platform::TSerialDeviceRecord record;
  record.SystemName = "COM" + std::to_string(number);
  record.Path = record.SystemName;
  record.SystemComNumber = number;
  record.FriendlyName = "USB Serial Port (" + record.SystemName + ")";
  return record;
}

inline std::string ById(const std::string& serial) {
  return "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0";
}

}  // namespace kesttest
