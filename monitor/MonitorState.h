// TMonitorState: what the monitoring engine knows about the controller and shows of it.
//
// The window used to keep part of this in its widgets (the read-out's enabled bit was the
// reading-is-live flag); here it is plain state, so the window, kestlog and the benchmark read the
// same flags and no code has to read a widget to decide what to do.
#pragma once

#include <string>

#include "sensor/SensorFrame.h"

namespace monitor {

struct TMonitorState {
  bool PortOpen = false;              // the serial port was opened successfully
  bool WarmingUp = false;             // the frame in use says the sensor is still warming up
  bool Logging = false;               // rows are being logged: sample ticks hand rows to the view
  int DisplayMode = 0;                // 1 = air-fuel ratio, 2 = lambda
  int FuelType = 0;                   // 1 = petrol, 2 = methanol, 3 = propane
  double SupplyVolts = 0;             // controller supply voltage
  sensor::SensorFrame SensorFrame;    // the frame now in use
  sensor::SensorFrame LastGoodFrame;  // the last frame whose check byte held
  int OnlineCountdown = 0;            // watchdog ticks left before the controller counts as silent
  bool TitleShowsReading = false;

  // --- What the displays show; the engine tells its view whenever one of these changes.
  bool ReadingLive = false;  // the read-out is enabled: the reading is live (chart steps need it)
  bool VoltsLive = false;    // the voltage box is enabled
  bool OnlineLamp = false;
  bool WarmupLamp = false;
  bool LowVoltsLamp = false;
  bool WarmupMessageShown = false;
  std::string ReadoutText;  // the read-out's text; empty until the first watchdog tick sets it
  std::string VoltsText;    // the voltage box's text, " V" included
  int TempBar = 0;          // the temperature bar, 1 to 50 once set
  std::string TitleText;    // the reading in the title; empty while the program's own title shows
};

}  // namespace monitor
