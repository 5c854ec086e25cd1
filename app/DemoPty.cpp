// The controller that --demo starts where there are pseudo-terminals: the simulated drive on one,
// in its own thread, paced as a line; COM1 is mapped to it.
#include "app/Demo.h"
#include "sim/KestSimulator.h"

namespace {

class TSimulatedDemo : public TDemoController {
 public:
  TSimulatedDemo(platform::TSerialApi& system, const sim::TSimConfig& config)
      : System(system), Simulator(config) {}
  bool Start() { return Simulator.Start(); }
  platform::TSerialApi& SerialApi() override { return System; }
  std::string DevicePath() const override { return Simulator.SlavePath(); }

 private:
  platform::TSerialApi& System;
  sim::TKestSimulator Simulator;
};

}  // namespace

std::unique_ptr<TDemoController> StartDemoController(platform::TSerialApi& system) {
  auto demo = std::make_unique<TSimulatedDemo>(system, DemoConfig());
  if (!demo->Start()) return nullptr;
  return demo;
}
