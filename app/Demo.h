// The simulated controller behind --demo, so a user without hardware sees the program work. How
// it is attached depends on the system (one source file each, chosen by the build): behind a
// pseudo-terminal where there are such, inside the process through the serial interface where
// there are none.
#pragma once

#include <memory>
#include <string>

#include "platform/SerialApi.h"
#include "sim/SimConfig.h"

class TDemoController {
 public:
  virtual ~TDemoController() = default;
  // The serial interface the program is to use while the demo runs.
  virtual platform::TSerialApi& SerialApi() = 0;
  // The device COM1 is to stand for; empty when COM1 itself is the simulated box.
  virtual std::string DevicePath() const = 0;
};

// The demo's box: a drive with a short warm-up and now and then a sagging supply.
sim::TSimConfig DemoConfig();

// Starts the simulated controller on COM1 beside `system` (the system's serial interface, which
// must outlive it); null when it could not be started.
std::unique_ptr<TDemoController> StartDemoController(platform::TSerialApi& system);
