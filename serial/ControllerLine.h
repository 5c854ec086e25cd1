// The line to the controller box: how the monitor's driver is set up, the same for the window and
// the headless logger.
#pragma once

#include "serial/SerialPortDriver.h"

// COM1 at 19200 bit/s (8 data bits, no parity, 1 stop bit, DTR and RTS raised: the driver's
// defaults), a 50-byte receive buffer, a 5 ms poll and 50 ms read time-outs. Call while closed.
inline void ConfigureForController(TSerialPortDriver& driver) {
  driver.SetComPort(TComPortNumber::pnCOM1);
  driver.SetComPortSpeed(TComPortBaudRate::br19200);
  driver.SetComPortInBufSize(50);
  driver.SetComPortPollingDelay(5);
  driver.SetInputTimeout(50);
}
