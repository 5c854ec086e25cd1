// kestlog --list: numbered devices first, in number order; the rest marked "-".
#include <gtest/gtest.h>

#include "headless/DeviceList.h"
#include "tests/serial/RecordedDevices.h"

namespace {

TEST(DeviceList, NumberedFirstThenTheRest) {
  EXPECT_EQ(headless::DeviceListText({}, {}), "no serial devices found\n");

  const std::vector<TSerialPort> devices =
      SerialPortsOf({kesttest::FtdiAdapter("ttyUSB0", "A"), kesttest::FtdiAdapter("ttyUSB1", "B"),
                     kesttest::Uart(0)});
  // ttyUSB1 remembered as COM3; ttyUSB0 over the UART's COM1 for this run, leaving the UART out.
  const TPortAssignment assignment =
      AssignComNumbers(devices, {{3, kesttest::ById("B")}}, {{1, "/dev/ttyUSB0"}});
  EXPECT_EQ(headless::DeviceListText(devices, assignment),
            "COM1  /dev/ttyUSB0  " + kesttest::ById("A") + "  FTDI FT232R USB UART (A)\n" +
                "COM3  /dev/ttyUSB1  " + kesttest::ById("B") + "  FTDI FT232R USB UART (B)\n" +
                "-  /dev/ttyS0  -  built-in serial port\n");
}

}  // namespace
