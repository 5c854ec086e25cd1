// TPortKeeper: keeps a monitor's port open across an unplug.
//
// A USB-serial adapter that is pulled out leaves the driver holding a dead device: every query
// fails and nothing arrives. The keeper notices that, closes the dead port, and re-opens the same
// port quietly about once a second until the device is back (re-plugged at the same path), so the
// reading comes back with no action of the user's. The window and the headless logger use the
// same keeper, so both survive an unplug alike.
#pragma once

#include <cstdint>

#include "serial/SerialPortDriver.h"

class TPortKeeper {
 public:
  enum class TEvent {
    None,      // nothing changed
    Lost,      // the open port's device has gone; the port was closed
    Reopened,  // a lost port opened again
  };

  // `driver` must outlive the keeper. Retries come at most every `retryIntervalMs`.
  explicit TPortKeeper(TSerialPortDriver& driver, std::uint32_t retryIntervalMs = 1000);

  // Called regularly (the watchdog's tick) with the driver's tick count. Detects a lost device
  // and, while lost, retries the open when the interval has passed. Never beeps or shows anything.
  TEvent Check(std::uint32_t nowMs);
  // A lost port is waiting to be re-opened.
  bool Lost() const { return FLost; }
  // The user took charge (chose a port from the menu): forget the loss and stop retrying.
  void Forget() { FLost = false; }

 private:
  TSerialPortDriver& Driver;
  std::uint32_t RetryIntervalMs;
  bool FLost = false;
  std::uint32_t LastTry = 0;
};
