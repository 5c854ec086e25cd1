// kestlog --list: numbered devices first, in number order; the rest marked "-".
#include <gtest/gtest.h>

#include "headless/DeviceList.h"
#include "tests/serial/RecordedDevices.h"

namespace {

using kesttest::ById;

TEST(DeviceList, NumberedFirstThenTheRest) {
  EXPECT_EQ(headless::DeviceListText({}, {}), "no serial devices found\n");

  const std::vector<TSerialPort> devices =
      SerialPortsOf({kesttest::FtdiAdapter("ttyUSB0", "A"), kesttest::FtdiAdapter("ttyUSB1", "B"),
                     kesttest::Uart(0)});
  struct TCase {
    const char* Name;
    TPortTable Memory;
    TPortTable Overrides;
    std::string Expected;
  };
  const TCase cases[] = {
      // ttyUSB1 remembered as COM3; ttyUSB0 over the UART's COM1 for this run, leaving the UART
      // out.
      {"RememberedAndOverridden",
       {{3, ById("B")}},
       {{1, "/dev/ttyUSB0"}},
       "COM1  /dev/ttyUSB0  " + ById("A") + "  FTDI FT232R USB UART (A)\n" +
           "COM3  /dev/ttyUSB1  " + ById("B") + "  FTDI FT232R USB UART (B)\n" +
           "-  /dev/ttyS0  -  built-in serial port\n"},
      // The last number there is, named like any other.
      {"HoldsCom16",
       {{16, ById("A")}},
       {},
       "COM1  /dev/ttyS0  -  built-in serial port\n"
       "COM2  /dev/ttyUSB1  " +
           ById("B") + "  FTDI FT232R USB UART (B)\n" + "COM16  /dev/ttyUSB0  " + ById("A") +
           "  FTDI FT232R USB UART (A)\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TPortAssignment assignment = AssignComNumbers(devices, c.Memory, c.Overrides);
    EXPECT_EQ(headless::DeviceListText(devices, assignment), c.Expected);
  }
}

}  // namespace
