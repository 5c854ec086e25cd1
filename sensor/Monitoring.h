// The rhythm of monitoring and the receive step, shared by the window and the headless logger so
// that both poll, decide and go offline alike, and by the log viewer, which reads the same rhythm
// back from the rows.
#pragma once

#include "sensor/SensorFrame.h"

namespace sensor {

inline constexpr int NormalSampleIntervalMs = 100;  // the sample tick at "NORMAL"
inline constexpr int FastSampleIntervalMs = 80;     // the sample tick at "FAST"
inline constexpr int WatchdogIntervalMs = 250;      // the online watchdog's tick
// Watchdog ticks without a receive before the controller counts as silent.
inline constexpr int OnlineCountdownReload = 5;

// The low-volts lamp lights below 12.0 V and goes out above 12.1 V; in between it keeps its
// state, so that a supply hovering at the threshold does not make it flicker. The log viewer
// counts the time below LowVoltsOn and draws its line there.
inline constexpr double LowVoltsOn = 12.0;
inline constexpr double LowVoltsOff = 12.1;

// What the receive step found.
struct TFrameReceipt {
  bool FrameFound = false;  // a sync and the four bytes after it were read
  bool CheckHeld = false;   // ... and its check byte held (otherwise the last good frame stands in)
};

// Reads a frame into `current` (see ReadSensorFrame), checks it against `lastGood` (see
// AcceptFrame) and, when a frame was found, sets `supplyVolts` and `warmingUp` from the frame as it
// then stands. Without a frame nothing changes.
TFrameReceipt ReceiveFrame(TByteReader& source, SensorFrame& current, SensorFrame& lastGood,
                           double& supplyVolts, bool& warmingUp);

}  // namespace sensor
