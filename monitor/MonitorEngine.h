// TMonitorEngine: the monitoring engine, the heart of the window and of kestlog alike.
//
// It owns the serial port driver, the port keeper and the two timers that give monitoring its
// rhythm (the sample tick `Timer1` at 100 or 80 ms, the watchdog `OnlineTimer` at 250 ms), holds
// the monitoring state, and runs the handlers: the receive handler fetches and checks a frame, the
// sample tick polls the controller and asks for a chart step and a log row, the watchdog
// refreshes the read-outs, keeps the port across an unplug and notices a silent controller. What
// it decides to show it tells its view (TMonitorView); it has no widget of its own.
//
// Its parts and its state are its own: a view changes them only through the named commands below
// and reads the state through State(). (Tests reach the parts through TEngineTestAccess, which
// lives in tests/.)
//
// Everything runs on the thread that made it, on its Qt event loop; the driver's poll timer comes
// from the serial backend's poll window.
#pragma once

#include <QDateTime>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>

#include "log/RowWriter.h"
#include "monitor/EngineProbe.h"
#include "monitor/MonitorState.h"
#include "monitor/MonitorView.h"
#include "platform/Locale.h"
#include "platform/SerialApi.h"
#include "serial/PortKeeper.h"
#include "serial/SerialPortDriver.h"

namespace monitor {

struct TEngineSettings {
  // The decimal separator and the long time format of the log rows, the read-outs and the title.
  platform::TLocaleFormats Locale;
  // The wall clock the log rows are stamped with; tests give their own, whose rows carry its
  // offset from UTC. None: the system's clock. The classic row uses only its seconds since the
  // epoch (its time of day is the system's local time), so the system clock is read in UTC for it:
  // a local reading makes Qt ask the system for its time zone, a file lookup, every time. The
  // extended and MSL rows carry the local offset, and read the system clock as local time.
  std::function<QDateTime()> Now;
};

// The settings for `locale` and the clock `now`; an empty `now` keeps the system's clock.
TEngineSettings EngineSettingsOf(platform::TLocaleFormats locale, std::function<QDateTime()> now);

// What happened on the line since the engine was made.
struct TLineStats {
  std::uint64_t FramesAccepted = 0;  // frames whose check byte held
  std::uint64_t FramesRejected = 0;  // frames with a wrong check byte
  std::uint64_t ReadTimeouts = 0;    // single-byte reads of the receive handler that timed out
  std::uint64_t OfflineSpells = 0;   // times the online lamp went out after being lit
  std::uint64_t PortLosses = 0;      // times the device went away
};

class TMonitorEngine {
 public:
  // `api` and `view` must outlive the engine, and so must `stats` if given (the counts then go
  // there, for an owner that keeps more of its own beside them). The driver is set up for the
  // controller on COM1, the port starts closed and the timers stopped (the sample tick at
  // "NORMAL").
  TMonitorEngine(platform::TSerialApi& api, TMonitorView& view, TEngineSettings settings = {},
                 TLineStats* stats = nullptr);
  // Stops the timers and closes the port.
  ~TMonitorEngine();
  TMonitorEngine(const TMonitorEngine&) = delete;
  TMonitorEngine& operator=(const TMonitorEngine&) = delete;

  // --- Commands.
  // Starts both timers.
  void Start();
  // Stops both timers; the port stays as it is (the window closes its log before the port).
  void StopTimers();
  // Stops both timers and closes the port.
  void Stop();
  // The sample tick at "FAST" (80 ms) or "NORMAL" (100 ms).
  void SetFast(bool fast);
  // What the readings are shown and logged as: sensor::dmAirFuelRatio or dmLambda, and the fuel
  // of the air-fuel ratio (sensor::ftPetrol, ftMethanol, ftPropane). Taken from the next tick on.
  void SetDisplayMode(int displayMode);
  void SetFuelType(int fuelType);
  // The rows' format (the classic row, the window's, unless a view sets another); `program`
  // names the writer in an MSL header. Set it while not logging.
  void SetLogFormat(csvlog::TRowFormat format, const std::string& program = {});
  // From StartLogging to StopLogging the sample tick hands its row to the view
  // (TMonitorView::LogRowDue); the view owns the file. A classic row comes with each tick that has
  // a reading; an extended or MSL row at the end of every tick. StartLogging begins a new log: an
  // MSL header comes with its first row.
  void StartLogging();
  void StopLogging();

  // The COM number (1 to 16) the driver opens; set it only while the port is closed.
  int ComPortNumber() const;
  void SetComPort(int number);
  // The user chose port `number`: the open port closes, a lost one is no longer waited for, and
  // `number` is opened as asked for (the view hears Opened or Failed). Returns PortOpen.
  bool SelectPort(int number);
  // Opens the selected port (nothing to do when open), sets PortOpen and tells the view Opened or
  // Failed. `userAsked` is passed on in the event. Returns PortOpen.
  bool OpenCommsClick(bool userAsked = true);
  // The user took charge of the port: a lost port is no longer waited for, and the port closes.
  void ClosePort();
  // A serial device came: the selected port, if closed and not waited for by the keeper, is tried
  // again quietly. The view hears of a success only (as Reopened); a failure changes nothing, the
  // port having failed before.
  void OpenQuietly();

  // --- The handlers, run by the timers and the driver's poll; public so that a view can forward
  // to them under their own names and tests can step them.
  // Fired by the driver's poll when bytes arrived: asks again, reads and checks a frame of its own.
  void SerialPortDriverReceiveData3(TSerialPortDriver* sender, const void* data,
                                    std::uint32_t size);
  // The sample tick: request; with the port open and the sensor warm, a classic log row and a
  // chart step; at its end an extended or MSL log row.
  void GetByteClick();
  // The watchdog: keep the port, count down, refresh the read-outs and the title, go offline.
  void OnlineTimerTimer();

  // --- What it knows.
  const TMonitorState& State() const { return MonitorState; }
  // The reading of the frame in use, for the display mode and fuel type.
  double CalcKest() const;
  // The read-out's and the voltage box's texts for the frame in use, as the watchdog shows them:
  // "00.0" and "n/a " while the open port's sensor warms up, else the reading and "12.5 V".
  std::string ReadoutText() const;
  std::string VoltsText() const;
  // The device went away and the keeper waits for it to come back.
  bool PortLost() const { return PortKeeper1.Lost(); }
  // Why the last open failed, as the serial backend saw it.
  platform::TOpenFailure LastOpenFailure() const { return SerialPortDriver1.LastOpenFailure(); }
  const TLineStats& Stats() const { return FStats; }
  const platform::TLocaleFormats& Locale() const { return Settings.Locale; }
  // The wall clock's time now (the system clock in UTC, unless the settings gave a clock).
  QDateTime Now() const;

  // Sets the probe the handlers report to (null: none). It must outlive the engine or be unset.
  void SetProbe(TEngineProbe* probe) { Probe = probe; }

 private:
  friend class TEngineTestAccess;

  TSerialPortDriver SerialPortDriver1;
  // Re-opens SerialPortDriver1 by itself after its device went away and came back.
  TPortKeeper PortKeeper1{SerialPortDriver1};
  QTimer Timer1;       // the sample tick: GetByteClick
  QTimer OnlineTimer;  // the watchdog: OnlineTimerTimer
  TMonitorState MonitorState;

  void SampleTick();
  // Writes the tick's row and hands it to the view; false when the view could not write it.
  bool LogRow();
  // The tick's time as the row writer's format reads it (the classic clock text in ClockText).
  csvlog::TRowTime RowTime();
  void Watchdog();
  void KeepPortOpen();
  void SetLamp(TLamp lamp, bool on);
  void SetWarmupMessage(bool shown);
  void SetReadingLive(bool live);
  void SetVoltsLive(bool live);
  void SetReadout(const std::string& text);
  void SetVolts(const std::string& text);
  void SetTempBar(int value);
  void SetTitle(const std::string& reading);
  // Everything the silent controller and the closed port put out.
  void ShowOffline(bool voltsToo);
  // Tells the view of a call on the open port that began to fail, unless the device has gone:
  // the keeper then tells of the loss, with the failure as its reason.
  void TellFailure();
  // Stores `value` in `field` and tells the view through `tell`, only when it differs: the view
  // hears of changes, not of every tick that repeats what it shows.
  template <typename T, typename A>
  void Change(T& field, const T& value, void (TMonitorView::*tell)(A)) {
    if (field == value) return;
    field = value;
    (View.*tell)(value);
  }

  platform::TSerialApi& Api;
  TMonitorView& View;
  TEngineSettings Settings;
  TLineStats OwnStats;
  TLineStats& FStats;
  TEngineProbe* Probe = nullptr;
  // Writes the sample tick's log row into memory of its own, the same every time: the tick
  // allocates nothing once the row has grown to its length.
  csvlog::TRowWriter Writer;
  // The classic row's time of day, kept for the same reason.
  std::string ClockText;
};

}  // namespace monitor
