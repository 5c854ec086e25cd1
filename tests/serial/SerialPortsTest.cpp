// Which of the system's device records are serial ports, and what a user is told about each.
#include <gtest/gtest.h>

#include "serial/SerialPorts.h"
#include "tests/serial/RecordedDevices.h"

namespace {

using kesttest::FtdiAdapter;
using kesttest::Uart;
using platform::TSerialDeviceRecord;

TEST(SerialPorts, KeepsRealDevicesInNameOrderAndLeavesEmptyUartNodesOut) {
  TSerialDeviceRecord acm;
  acm.Path = "/dev/ttyACM0";
  acm.SystemName = "ttyACM0";
  acm.Driver = "cdc_acm";
  acm.Links = {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0"};
  const std::vector<TSerialDeviceRecord> records = {FtdiAdapter("ttyUSB10", "B"),
                                                    Uart(1, false),
                                                    FtdiAdapter("ttyUSB2", "C"),
                                                    Uart(16),
                                                    Uart(0),
                                                    acm,
                                                    Uart(3, false)};
  const std::vector<TSerialPort> ports = SerialPortsOf(records);
  std::vector<std::string> paths;
  for (const TSerialPort& port : ports) paths.push_back(port.Path);
  EXPECT_EQ(paths, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS16",
                                             "/dev/ttyUSB2", "/dev/ttyUSB10"}));
  // Only ttyS0..ttyS15 have a COM number of their own.
  EXPECT_EQ(ports[1].SystemComNumber, 1);
  EXPECT_EQ(ports[2].SystemComNumber, std::nullopt);
  EXPECT_EQ(ports[0].SystemComNumber, std::nullopt);
}

TEST(SerialPorts, StableNameAndDescription) {
  struct TCase {
    TSerialDeviceRecord Record;
    const char* StableName;
    const char* Description;
  };
  TSerialDeviceRecord noStrings = FtdiAdapter("ttyUSB0");
  noStrings.Manufacturer.clear();
  noStrings.Product.clear();
  noStrings.SerialNumber.clear();
  noStrings.Links = {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"};
  TSerialDeviceRecord productOnly = FtdiAdapter("ttyUSB0");
  productOnly.Manufacturer = "";
  productOnly.Product = "USB Serial";
  productOnly.SerialNumber = "";
  TSerialDeviceRecord makerInProduct = FtdiAdapter("ttyUSB0");
  makerInProduct.Manufacturer = "Silicon Labs";
  makerInProduct.Product = "Silicon Labs CP2102 USB to UART Bridge Controller";
  makerInProduct.SerialNumber = "0001";
  TSerialDeviceRecord bare;
  bare.Path = "/dev/ttyAMA0";
  bare.SystemName = "ttyAMA0";
  bare.Driver = "uart-pl011";
  bare.UartType = "1";
  TSerialDeviceRecord nothing;
  nothing.Path = "/dev/ttyX0";
  nothing.SystemName = "ttyX0";
  nothing.Links = {"/dev/some-link"};

  const TCase cases[] = {
      {FtdiAdapter("ttyUSB0"), "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0",
       "FTDI FT232R USB UART (A1234567)"},
      {noStrings, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0",
       "USB serial adapter 0403:6001"},
      {productOnly, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0", "USB Serial"},
      {makerInProduct, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0",
       "Silicon Labs CP2102 USB to UART Bridge Controller (0001)"},
      {Uart(0), "", "built-in serial port"},
      {bare, "", "serial device (uart-pl011)"},
      {nothing, "", "serial device"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Description);
    const std::vector<TSerialPort> ports = SerialPortsOf({c.Record});
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].StableName, c.StableName);
    EXPECT_EQ(ports[0].Description, c.Description);
    EXPECT_EQ(ports[0].Key(), *c.StableName != 0 ? c.StableName : c.Record.Path);
    EXPECT_TRUE(ports[0].HasName(c.Record.Path));
    for (const std::string& link : c.Record.Links) EXPECT_TRUE(ports[0].HasName(link));
    EXPECT_FALSE(ports[0].HasName("/dev/ttyUSB9"));
  }
}

}  // namespace
