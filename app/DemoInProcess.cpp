// The controller that --demo starts where there are no pseudo-terminals (Windows): the simulated
// drive inside the process, answering on COM1 through the serial interface, so the driver, the
// window and the log run as they do with a box on a line.
#include "app/Demo.h"
#include "sim/SimulatedLine.h"

namespace {

class TInProcessDemo : public TDemoController {
 public:
  explicit TInProcessDemo(platform::TSerialApi& system)
      : Line(system, "\\\\.\\COM1", DemoConfig()) {}
  platform::TSerialApi& SerialApi() override { return Line; }
  std::string DevicePath() const override { return {}; }

 private:
  sim::TSimulatedLine Line;
};

}  // namespace

std::unique_ptr<TDemoController> StartDemoController(platform::TSerialApi& system) {
  return std::make_unique<TInProcessDemo>(system);
}
