// The monitoring engine's own parts, for tests only: the state to set up a case, the driver and the
// timers to stop or inspect. Views reach the engine through its commands and State(); a test may
// go further, to put the engine where a case begins.
#pragma once

#include <QTimer>

#include "monitor/MonitorEngine.h"

namespace monitor {

class TEngineTestAccess {
 public:
  static TMonitorState& State(TMonitorEngine& engine) { return engine.MonitorState; }
  static TSerialPortDriver& Driver(TMonitorEngine& engine) { return engine.SerialPortDriver1; }
  static QTimer& SampleTimer(TMonitorEngine& engine) { return engine.Timer1; }
  static QTimer& WatchdogTimer(TMonitorEngine& engine) { return engine.OnlineTimer; }
};

}  // namespace monitor

namespace kesttest {

inline monitor::TMonitorState& StateOf(monitor::TMonitorEngine& engine) {
  return monitor::TEngineTestAccess::State(engine);
}
inline TSerialPortDriver& DriverOf(monitor::TMonitorEngine& engine) {
  return monitor::TEngineTestAccess::Driver(engine);
}
inline QTimer& SampleTimerOf(monitor::TMonitorEngine& engine) {
  return monitor::TEngineTestAccess::SampleTimer(engine);
}
inline QTimer& WatchdogTimerOf(monitor::TMonitorEngine& engine) {
  return monitor::TEngineTestAccess::WatchdogTimer(engine);
}
// Both timers stopped: the test steps the handlers itself.
inline void StopTimers(monitor::TMonitorEngine& engine) { engine.StopTimers(); }

}  // namespace kesttest
