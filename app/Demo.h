// The simulated controller behind --demo, so a user without hardware sees the program work.
#pragma once

#include <memory>
#include <string>

class TDemoController {
 public:
  virtual ~TDemoController() = default;
  // The serial device the simulated controller answers on.
  virtual std::string DevicePath() const = 0;
};

// Starts the simulator (a drive with a short warm-up) on a pseudo-terminal in its own thread;
// null when no pseudo-terminal could be had.
std::unique_ptr<TDemoController> StartDemoController();
