// What a row of the extended and MSL logs is worth, decided from the lamps the engine lights, as a
// user reads them off the window: the status column of kestlog's rows and its status line.
#pragma once

#include "log/RowFormat.h"
#include "monitor/MonitorState.h"

namespace monitor {

// The states the status is decided from, as the window's lamps and read-out show them.
struct TLampState {
  bool PortOpen = false;
  bool Online = false;      // data arrived within the last five watchdog ticks
  bool WarmingUp = false;   // the current frame is a warm-up frame
  bool Live = false;        // the window's reading-is-live flag (its read-out enabled)
  bool LowVolts = false;    // the low-volts lamp
  bool WarmupLamp = false;  // the warm-up lamp (out while offline, whatever the frame said)
};
// The lamps the engine's state lights.
TLampState LampsOf(const TMonitorState& state);
// Offline, warm-up, live or low volts, in that order of precedence.
csvlog::TRowStatus RowStatusOf(const TLampState& lamps);

}  // namespace monitor
