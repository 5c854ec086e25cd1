// The line to the controller box: how the monitor's driver is set up and how the frame reader
// takes its bytes from it, the same for the window, the headless logger and the tests.
#pragma once

#include <cstdint>

#include "sensor/SensorFrame.h"
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

// The frame reader's byte source: the driver's timed single-byte read. The rest of a frame is
// waited for at once: on a line that paces its bytes that is one wake-up instead of four, and the
// bytes are still read one by one. Reads that run out are counted in `timeouts`, if given.
class TDriverByteReader : public sensor::TByteReader {
 public:
  explicit TDriverByteReader(TSerialPortDriver& driver, std::uint64_t* timeouts = nullptr)
      : Driver(driver), Timeouts(timeouts) {}
  bool ReadByte(std::uint8_t& target) override {
    const bool read = Driver.ReadByte(target);
    if (!read && Timeouts != nullptr) ++*Timeouts;
    return read;
  }
  void ExpectBytes(int count) override {
    Driver.WaitForQueuedInput(static_cast<std::uint32_t>(count));
  }

 private:
  TSerialPortDriver& Driver;
  std::uint64_t* Timeouts;
};
