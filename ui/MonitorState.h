// The monitoring state the main window's handlers share.
#pragma once

#include <string>

#include "log/CsvLog.h"
#include "sensor/SensorFrame.h"

namespace ui {

struct TMonitorState {
  bool PortOpen = false;    // the serial port was opened successfully
  bool WarmingUp = false;   // the frame in use says the sensor is still warming up
  bool Logging = false;     // a CSV log is being written
  int DisplayMode = 0;      // 1 = air-fuel ratio, 2 = lambda
  int FuelType = 0;         // 1 = petrol, 2 = methanol, 3 = propane
  double SupplyVolts = 0;   // controller supply voltage
  sensor::SensorFrame SensorFrame;    // the frame now in use
  sensor::SensorFrame LastGoodFrame;  // the last frame whose check byte held
  int OnlineCountdown = 0;  // watchdog ticks left before the controller counts as silent
  bool TitleShowsReading = false;
  int ChartX = 0, ChartPrevX = 0, ChartY = 0, ChartPrevY = 0;  // strip chart pen positions
  csvlog::TCsvLogFile LogFile;
  std::string LogFileName;
};

}  // namespace ui
