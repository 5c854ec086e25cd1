// THeadlessMonitor: kestlog's view of the monitoring engine: the window's monitoring without the
// window.
//
// The engine polls, reads frames, goes offline and writes the rows in the format chosen here
// exactly as it does for the window; this view puts the rows into a sink and keeps the status
// line. The classic rows come exactly when and as the window's log writes them; the extended and
// MSL rows on every tick, with the status the lamps give. Everything runs on the thread that made
// it, on its Qt event loop.
#pragma once

#include <QDateTime>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "headless/RowSink.h"
#include "headless/StatusText.h"
#include "log/CsvLog.h"
#include "log/RowFormat.h"
#include "monitor/MonitorEngine.h"
#include "platform/Locale.h"
#include "platform/SerialApi.h"
#include "sensor/SensorFrame.h"

namespace headless {

struct TMonitorSettings {
  int DisplayMode = sensor::dmAirFuelRatio;
  int FuelType = sensor::ftPetrol;
  bool Fast = false;  // the 80 ms sample tick
  int ComPort = 1;    // the COM number to open, 1 to 16; the port map says which device it is
  csvlog::TRowFormat Format = csvlog::TRowFormat::Classic;
  platform::TLocaleFormats Locale;
  // The program and its version, as the MSL header's first line names the writer.
  std::string Program = "kestlog";
  // The wall clock the rows are stamped with; tests give their own. None: the system clock.
  std::function<QDateTime()> Now;
};

class THeadlessMonitor : private monitor::TMonitorView {
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
  platform::TOpenError LastOpenError() const { return Engine.LastOpenFailure().Error; }
  platform::TOpenFailure LastOpenFailure() const { return Engine.LastOpenFailure(); }
  // Writes the format's header lines to `sink`, which takes the rows from then on and must stay
  // alive until Stop, and starts both timers. Throws TLogFileError when the header cannot be
  // written (nothing is started then). Before it, ticks write no rows. The MSL header carries the
  // first row's time, so it is written with that row; a failure then is a row error.
  void Start(TRowSink& sink);
  // Stops both timers and closes the port. The sink is left to its owner.
  void Stop();

  // --- The engine's handlers, run by the timers and the driver; here so tests can drive them.
  // The sample tick: the classic row where the window's log writes one (after the controller's
  // first frame only), the extended or MSL row at the end of every tick.
  void GetByteClick() { Engine.GetByteClick(); }
  // The watchdog: keep the port across an unplug, count down, go offline after five silent ticks.
  void OnlineTimerTimer() { Engine.OnlineTimerTimer(); }

  // --- State, as the window's lamps and read-out show it.
  TLampState Lamps() const { return LampsOf(Engine.State()); }
  csvlog::TRowStatus Status() const { return RowStatusOf(Lamps()); }
  bool PortLost() const { return Engine.PortLost(); }
  const sensor::SensorFrame& Frame() const { return Engine.State().SensorFrame; }
  double SupplyVolts() const { return Engine.State().SupplyVolts; }
  int OnlineCountdown() const { return Engine.State().OnlineCountdown; }
  const TMonitorStats& Stats() const { return FStats; }
  // Frames read over about the last second, from the driver's tick counter.
  double FramesPerSecond() const;
  // What the status line shows now.
  TStatusView StatusView() const;
  // The first row that failed; rows stop after it (the owner decides what to do).
  const std::optional<csvlog::TLogFileError>& RowError() const { return FRowError; }
  monitor::TMonitorEngine& MonitorEngine() { return Engine; }

  // Called after every watchdog tick (the status line).
  std::function<void()> OnWatchdogTick;
  // Called once, for the first row that could not be written.
  std::function<void(const csvlog::TLogFileError&)> OnRowError;
  // Called when the device went away (true) and when it was opened again (false).
  std::function<void(bool lost)> OnPortLost;
  // Called once when a call on the open port begins to fail, with the call and the system's
  // reason (not again while it goes on failing); for a device that went away, before OnPortLost.
  std::function<void(const platform::TPortFailure&)> OnPortFailure;

 private:
  bool LogRowDue(const std::string& row) override;
  bool LogHeaderDue(const std::string& line) override;
  void PortChanged(const monitor::TPortEvent& event) override;
  void WatchdogTickDone() override;
  // Writes `line` to the sink (a row is counted); false, and the owner told, when it could not.
  // Nothing is written before Start or after the first failure.
  bool WriteLine(const std::string& line, bool row);

  platform::TSerialApi& Api;  // its clock times the frame rate
  TRowSink* Sink = nullptr;
  TMonitorSettings Settings;
  TMonitorStats FStats;  // declared before the engine, which counts into it
  monitor::TMonitorEngine Engine;
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
