// THeadlessMonitor: the main window's monitoring without the window.
//
// It owns a serial port driver set up as the window's, polls on the same two timers (the sample
// tick at 100 or 80 ms, the watchdog at 250 ms), reads frames with the same receive step and goes
// offline by the same countdown; where the window lights lamps and enables its read-out, this
// keeps the same states as flags. Each sample tick hands a row to a sink: in the classic format
// exactly when and what the window's log writes; in the extended format on every tick, with the
// status the lamps give. Everything runs on the thread that made it, on its Qt event loop; the
// driver's poll timer comes from the serial backend's poll window.
#pragma once

#include <QDateTime>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "headless/RowFormat.h"
#include "headless/RowSink.h"
#include "log/CsvLog.h"
#include "platform/Locale.h"
#include "platform/SerialApi.h"
#include "sensor/SensorFrame.h"
#include "serial/PortKeeper.h"
#include "serial/SerialPortDriver.h"

namespace headless {

struct TMonitorSettings {
  int DisplayMode = sensor::dmAirFuelRatio;
  int FuelType = sensor::ftPetrol;
  bool Fast = false;  // the 80 ms sample tick
  int ComPort = 1;    // the COM number to open, 1 to 16; the port map says which device it is
  TRowFormat Format = TRowFormat::Classic;
  platform::TLocaleFormats Locale;
  // The wall clock the rows are stamped with; tests give their own.
  std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
};

class THeadlessMonitor {
 public:
  // `api` must outlive the monitor. The port starts closed and the timers stopped.
  THeadlessMonitor(platform::TSerialApi& api, TMonitorSettings settings);
  // Stops the timers and closes the port.
  ~THeadlessMonitor();
  THeadlessMonitor(const THeadlessMonitor&) = delete;
  THeadlessMonitor& operator=(const THeadlessMonitor&) = delete;

  // Opens the settings' COM port (whatever the port map makes of it). False when it would not
  // open; LastOpenError() and LastOpenFailure() then say why.
  bool OpenPort();
  platform::TOpenError LastOpenError() const { return SerialPortDriver1.LastOpenError(); }
  platform::TOpenFailure LastOpenFailure() const { return SerialPortDriver1.LastOpenFailure(); }
  // Writes the format's header lines to `sink`, which takes the rows from then on and must stay
  // alive until Stop, and starts both timers. Throws TLogFileError when the header cannot be
  // written (nothing is started then). Before it, ticks write no rows.
  void Start(TRowSink& sink);
  // Stops both timers and closes the port. The sink is left to its owner.
  void Stop();

  // --- The window's handlers, run by the timers and the driver; public so tests can drive them.
  // The sample tick: request a frame; when the port is open and the sensor warm, compute the
  // reading, step the low-volts lamp (the window's chart step) and write the classic row; write
  // the extended row on every tick.
  void GetByteClick();
  // The watchdog: keep the port across an unplug, count down, go offline after five silent ticks.
  void OnlineTimerTimer();
  // The receive step, fired by the driver's poll.
  void SerialPortDriverReceiveData3(TSerialPortDriver* sender, const void* data,
                                    std::uint32_t size);

  // --- State, as the window's lamps and read-out show it.
  TLampState Lamps() const;
  TRowStatus Status() const { return RowStatusOf(Lamps()); }
  bool PortLost() const { return PortKeeper1.Lost(); }
  const sensor::SensorFrame& Frame() const { return CurrentFrame; }
  double SupplyVolts() const { return FSupplyVolts; }
  int OnlineCountdown() const { return FOnlineCountdown; }
  const TMonitorStats& Stats() const { return FStats; }
  // Frames read over about the last second, from the driver's tick counter.
  double FramesPerSecond() const;
  // What the status line shows now.
  TStatusView StatusView() const;
  // The first row that failed; rows stop after it (the owner decides what to do).
  const std::optional<csvlog::TLogFileError>& RowError() const { return FRowError; }
  TSerialPortDriver& Driver() { return SerialPortDriver1; }
  QTimer& SampleTimer() { return Timer1; }
  QTimer& WatchdogTimer() { return OnlineTimer; }

  // Called after every watchdog tick (the status line).
  std::function<void()> OnWatchdogTick;
  // Called once, for the first row that could not be written.
  std::function<void(const csvlog::TLogFileError&)> OnRowError;
  // Called when the device went away (true) and when it was opened again (false).
  std::function<void(bool lost)> OnPortLost;

 private:
  void WriteRow(TRowStatus status);
  void SetOnlineLamp(bool on);

  platform::TSerialApi& Api;
  TRowSink* Sink = nullptr;
  TMonitorSettings Settings;
  TSerialPortDriver SerialPortDriver1;
  TPortKeeper PortKeeper1{SerialPortDriver1};
  QTimer Timer1;
  QTimer OnlineTimer;

  bool FPortOpen = false;
  bool FWarmingUp = false;
  bool FrameSeen = false;  // a frame was read since the start
  sensor::SensorFrame CurrentFrame;
  sensor::SensorFrame LastGoodFrame;
  double FSupplyVolts = 0;
  int FOnlineCountdown = 0;
  // The window's lamps and read-out state.
  bool OnlineLamp = false;
  bool LowVoltsLamp = false;
  bool ReadingLive = false;

  TMonitorStats FStats;
  std::optional<csvlog::TLogFileError> FRowError;
  // (tick, frames read) at the last few watchdog ticks, for the frame rate.
  struct TRateMark {
    std::uint32_t Tick = 0;
    std::uint64_t Frames = 0;
  };
  std::array<TRateMark, 5> RateMarks{};
  std::size_t RateMarkCount = 0;
};

}  // namespace headless
