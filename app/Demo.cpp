// The controller that --demo starts: the simulated drive on a pseudo-terminal, paced as a line.
#include "app/Demo.h"

#include "sim/KestSimulator.h"

namespace {

class TSimulatedDemo : public TDemoController {
 public:
  explicit TSimulatedDemo(const sim::TSimConfig& config) : Simulator(config) {}
  bool Start() { return Simulator.Start(); }
  std::string DevicePath() const override { return Simulator.SlavePath(); }

 private:
  sim::TKestSimulator Simulator;
};

}  // namespace

std::unique_ptr<TDemoController> StartDemoController() {
  sim::TSimConfig config;
  config.Scenario = sim::TScenario::Drive;
  config.WarmupSeconds = 3;  // long enough to see the warm-up lamp, short enough not to bore
  config.LatencyMs = 2;
  config.Pace = true;
  config.Dip = true;  // now and then the supply sags, so the low-volts lamp shows what it does
  auto demo = std::make_unique<TSimulatedDemo>(config);
  if (!demo->Start()) return nullptr;
  return demo;
}
