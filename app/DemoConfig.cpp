// The demo's simulated box, the same wherever it is attached.
#include "app/Demo.h"

sim::TSimConfig DemoConfig() {
  sim::TSimConfig config;
  config.Scenario = sim::TScenario::Drive;
  config.WarmupSeconds = 3;  // long enough to see the warm-up lamp, short enough not to bore
  config.LatencyMs = 2;
  config.Pace = true;
  config.Dip = true;  // now and then the supply sags, so the low-volts lamp shows what it does
  return config;
}
