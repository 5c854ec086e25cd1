// The monitoring engine's handlers. Each runs its steps in the order the window's behaviour was
// defined in, and tells the view of a change at the step that makes it.
#include "monitor/MonitorEngine.h"

#include <ctime>

#include "monitor/ControllerLine.h"
#include "monitor/RowStatus.h"
#include "sensor/Monitoring.h"
#include "sensor/Reading.h"

namespace monitor {

TEngineSettings EngineSettingsOf(platform::TLocaleFormats locale, std::function<QDateTime()> now) {
  TEngineSettings settings;
  settings.Locale = std::move(locale);
  if (now) settings.Now = std::move(now);
  return settings;
}

TMonitorEngine::TMonitorEngine(platform::TSerialApi& api, TMonitorView& view,
                               TEngineSettings settings, TLineStats* stats)
    : SerialPortDriver1(api),
      Api(api),
      View(view),
      Settings(std::move(settings)),
      FStats(stats != nullptr ? *stats : OwnStats),
      Writer({csvlog::TRowFormat::Classic, Settings.Locale.DecimalSeparator, {}}) {
  ConfigureForController(SerialPortDriver1);
  SerialPortDriver1.SetOnReceiveData(
      [this](TSerialPortDriver* sender, const void* data, std::uint32_t size) {
        SerialPortDriverReceiveData3(sender, data, size);
      });
  Timer1.setTimerType(Qt::PreciseTimer);  // ten samples a second means ten, not nine
  Timer1.setInterval(sensor::NormalSampleIntervalMs);
  QObject::connect(&Timer1, &QTimer::timeout, &Timer1, [this] { GetByteClick(); });
  OnlineTimer.setInterval(sensor::WatchdogIntervalMs);
  QObject::connect(&OnlineTimer, &QTimer::timeout, &OnlineTimer, [this] { OnlineTimerTimer(); });
}

TMonitorEngine::~TMonitorEngine() { Stop(); }

void TMonitorEngine::Start() {
  Timer1.start();
  OnlineTimer.start();
}

void TMonitorEngine::StopTimers() {
  Timer1.stop();
  OnlineTimer.stop();
}

void TMonitorEngine::Stop() {
  StopTimers();
  SerialPortDriver1.ClosePort();
  MonitorState.PortOpen = false;
}

void TMonitorEngine::SetFast(bool fast) {
  Timer1.setInterval(fast ? sensor::FastSampleIntervalMs : sensor::NormalSampleIntervalMs);
}

void TMonitorEngine::SetDisplayMode(int displayMode) { MonitorState.DisplayMode = displayMode; }

void TMonitorEngine::SetFuelType(int fuelType) { MonitorState.FuelType = fuelType; }

void TMonitorEngine::SetLogFormat(csvlog::TRowFormat format, const std::string& program) {
  Writer = csvlog::TRowWriter({format, Settings.Locale.DecimalSeparator, program});
}

void TMonitorEngine::StartLogging() {
  Writer.Restart();
  MonitorState.Logging = true;
}

void TMonitorEngine::StopLogging() { MonitorState.Logging = false; }

int TMonitorEngine::ComPortNumber() const {
  return static_cast<int>(SerialPortDriver1.ComPort()) + 1;
}

void TMonitorEngine::SetComPort(int number) {
  SerialPortDriver1.SetComPort(static_cast<TComPortNumber>(number - 1));
}

bool TMonitorEngine::SelectPort(int number) {
  ClosePort();  // the user's choice also wins over re-opening a lost port
  SetComPort(number);
  return OpenCommsClick(true);
}

bool TMonitorEngine::OpenCommsClick(bool userAsked) {
  TPortEvent event;
  event.Number = ComPortNumber();
  event.UserAsked = userAsked;
  MonitorState.PortOpen = SerialPortDriver1.OpenPort();
  if (MonitorState.PortOpen) {
    event.Kind = TPortEvent::TKind::Opened;
  } else {
    event.Kind = TPortEvent::TKind::Failed;
    event.Failure = SerialPortDriver1.LastOpenFailure();
  }
  View.PortChanged(event);
  // Settings the system refused are told after the open they belong to.
  TellFailure();
  return MonitorState.PortOpen;
}

void TMonitorEngine::ClosePort() {
  PortKeeper1.Forget();  // the user's choice wins over re-opening a lost port
  SerialPortDriver1.ClosePort();
}

void TMonitorEngine::OpenQuietly() {
  if (MonitorState.PortOpen || PortKeeper1.Lost()) return;
  if (!SerialPortDriver1.OpenPort()) return;
  MonitorState.PortOpen = true;
  TPortEvent event;
  event.Kind = TPortEvent::TKind::Reopened;
  event.Number = ComPortNumber();
  View.PortChanged(event);
  TellFailure();
}

// ---------------------------------------------------------------------------------------------
// The receive path

void TMonitorEngine::SerialPortDriverReceiveData3(TSerialPortDriver*, const void*, std::uint32_t) {
  const TProbeCall call(Probe, THandler::Receive, MonitorState);
  // The polled bytes are the answer to the sample tick's request; this handler asks again and
  // reads a whole frame of its own.
  SerialPortDriver1.WriteByte(sensor::RequestByte);
  SetLamp(TLamp::Online, true);
  SerialPortDriver1.HoldPolling();
  TDriverByteReader reader(SerialPortDriver1, &FStats.ReadTimeouts);
  TMonitorState& s = MonitorState;
  const sensor::TFrameReceipt receipt =
      sensor::ReceiveFrame(reader, s.SensorFrame, s.LastGoodFrame, s.SupplyVolts, s.WarmingUp);
  SerialPortDriver1.ReleasePolling();
  TellFailure();
  if (receipt.FrameFound) {
    ++(receipt.CheckHeld ? FStats.FramesAccepted : FStats.FramesRejected);
    if (s.WarmingUp) {
      SetWarmupMessage(true);
      SetLamp(TLamp::Warmup, true);
    } else {
      SetWarmupMessage(false);
      SetLamp(TLamp::Warmup, false);
      SetVoltsLive(true);
      SetReadingLive(true);
    }
  }
  // Any answer, a frame or not, keeps the controller online.
  s.OnlineCountdown = sensor::OnlineCountdownReload;
}

// ---------------------------------------------------------------------------------------------
// Sample tick and watchdog

double TMonitorEngine::CalcKest() const {
  return sensor::CalcKest(MonitorState.SensorFrame.AfrByte, MonitorState.DisplayMode,
                          MonitorState.FuelType);
}

std::string TMonitorEngine::ReadoutText() const {
  const TMonitorState& s = MonitorState;
  if (s.PortOpen && s.WarmingUp) return "00.0";
  return sensor::ReadingText(CalcKest(), s.DisplayMode, Settings.Locale.DecimalSeparator);
}

std::string TMonitorEngine::VoltsText() const {
  const TMonitorState& s = MonitorState;
  if (s.PortOpen && s.WarmingUp) return "n/a ";
  return sensor::VoltageText(s.SupplyVolts, Settings.Locale.DecimalSeparator) + " V";
}

QDateTime TMonitorEngine::Now() const {
  return Settings.Now ? Settings.Now() : QDateTime::currentDateTimeUtc();
}

void TMonitorEngine::GetByteClick() {
  const TProbeCall call(Probe, THandler::SampleTick, MonitorState);
  SampleTick();
  // The extended and MSL rows come at the end of every tick and say in their status what they are
  // worth; at the end, so that the status already tells the low-volts lamp of its own sample. A
  // failed row ends nothing here: the tick is over.
  if (MonitorState.Logging && Writer.EveryTick()) LogRow();
  View.SampleTickDone();
}

void TMonitorEngine::SampleTick() {
  TMonitorState& s = MonitorState;
  SerialPortDriver1.WriteByte(sensor::RequestByte);
  TellFailure();
  if (s.PortOpen && !s.WarmingUp) {
    if (s.Logging && !Writer.EveryTick()) {
      if (!LogRow()) return;  // a failed row ends the tick: no chart step follows
    }
    if (s.ReadingLive) {
      // The low-volts lamp moves with the chart: it judges the supply of the samples drawn.
      if (s.SupplyVolts < sensor::LowVoltsOn) SetLamp(TLamp::LowVolts, true);
      if (s.SupplyVolts > sensor::LowVoltsOff) SetLamp(TLamp::LowVolts, false);
      View.ChartStepDue();
    }
  }
  if (!s.PortOpen) ShowOffline(false);
}

bool TMonitorEngine::LogRow() {
  const TMonitorState& s = MonitorState;
  csvlog::TSample sample;
  sample.Frame = s.SensorFrame;
  sample.SupplyVolts = s.SupplyVolts;
  sample.DisplayMode = s.DisplayMode;
  sample.FuelType = s.FuelType;
  sample.Status = RowStatusOf(LampsOf(s));
  const std::string& row = Writer.Row(sample, RowTime());
  for (const std::string& line : Writer.LinesBefore()) {
    if (!View.LogHeaderDue(line)) return false;  // no row goes under a header that is not there
  }
  return View.LogRowDue(row);
}

// The writer reads no clock: the tick reads the ones its format needs, once, here.
csvlog::TRowTime TMonitorEngine::RowTime() {
  csvlog::TRowTime time;
  if (!Writer.EveryTick()) {
    // The window's row: the system's local time of day, in the user's long time format.
    ClockText = platform::FormatLocalTime(Settings.Locale.LongTimeFormat,
                                          static_cast<std::time_t>(Now().toSecsSinceEpoch()));
    time.LocalClock = ClockText;
    return time;
  }
  const QDateTime now = Settings.Now ? Settings.Now() : QDateTime::currentDateTime();
  time.UtcMs = now.toMSecsSinceEpoch();
  time.OffsetSeconds = now.offsetFromUtc();
  time.TickMs = Api.GetTickCount();
  return time;
}

// A handle whose device went away is dead, and keeping it would leave the user to choose the port
// again: so a port whose device went away (an adapter pulled out) is closed and re-opened by itself
// about once a second until the device is back, and the reading returns with no action of the
// user's. The view is told of both changes; neither was asked for, so neither is worth a beep.
void TMonitorEngine::KeepPortOpen() {
  TPortEvent event;
  event.Number = ComPortNumber();
  switch (PortKeeper1.Check(Api.GetTickCount())) {
    case TPortKeeper::TEvent::Lost:
      MonitorState.PortOpen = false;
      ++FStats.PortLosses;
      // Nothing more comes from a device that has gone: shown offline on this tick already.
      MonitorState.OnlineCountdown = 0;
      event.Kind = TPortEvent::TKind::Lost;
      event.Failure.Error = platform::TOpenError::Other;
      event.Failure.SystemText = "the device went away";
      // The failed read or query that showed it gone.
      event.Fault = SerialPortDriver1.TakeFailure();
      View.PortChanged(event);
      break;
    case TPortKeeper::TEvent::Reopened:
      MonitorState.PortOpen = true;
      event.Kind = TPortEvent::TKind::Reopened;
      View.PortChanged(event);
      TellFailure();
      break;
    case TPortKeeper::TEvent::None:
      break;
  }
}

void TMonitorEngine::OnlineTimerTimer() {
  const TProbeCall call(Probe, THandler::Watchdog, MonitorState);
  Watchdog();
  View.WatchdogTickDone();
}

void TMonitorEngine::Watchdog() {
  TMonitorState& s = MonitorState;
  KeepPortOpen();
  if (s.OnlineCountdown > 0) --s.OnlineCountdown;
  if (s.PortOpen) {
    const std::string& separator = Settings.Locale.DecimalSeparator;
    SetReadout(ReadoutText());
    SetVolts(VoltsText());
    if (s.WarmingUp) {
      SetReadingLive(false);
      SetVoltsLive(false);
    } else {
      const int temp = s.SensorFrame.TempByte;
      SetTempBar(temp < 50 ? 50 - temp : 1);
    }
    const bool active = View.IsApplicationActive();
    if (!active) {
      SetTitle(sensor::TitleText(CalcKest(), s.DisplayMode, separator));
      s.TitleShowsReading = true;
    }
    if (active && s.TitleShowsReading) {
      SetTitle(std::string());
      s.TitleShowsReading = false;
    }
  }
  if (s.OnlineCountdown == 0) {
    ShowOffline(true);
    // Repeated on every silent tick: whatever junk a silent line carries is dropped.
    SerialPortDriver1.Purge(true, false);
    TellFailure();
  }
}

// ---------------------------------------------------------------------------------------------
// What the view is told

void TMonitorEngine::ShowOffline(bool voltsToo) {
  SetLamp(TLamp::Online, false);
  SetReadingLive(false);
  if (voltsToo) SetVoltsLive(false);
  SetWarmupMessage(false);
  SetLamp(TLamp::Warmup, false);
  SetLamp(TLamp::LowVolts, false);
}

void TMonitorEngine::TellFailure() {
  if (SerialPortDriver1.DeviceLost()) return;
  platform::TPortFailure failure = SerialPortDriver1.TakeFailure();
  if (failure.Call.empty()) return;
  TPortEvent event;
  event.Kind = TPortEvent::TKind::Faulted;
  event.Number = ComPortNumber();
  event.Fault = std::move(failure);
  View.PortChanged(event);
}

void TMonitorEngine::SetLamp(TLamp lamp, bool on) {
  TMonitorState& s = MonitorState;
  bool& state = lamp == TLamp::Online   ? s.OnlineLamp
                : lamp == TLamp::Warmup ? s.WarmupLamp
                                        : s.LowVoltsLamp;
  if (state == on) return;
  if (lamp == TLamp::Online && !on) ++FStats.OfflineSpells;
  state = on;
  View.LampChanged(lamp, on);
}

void TMonitorEngine::SetWarmupMessage(bool shown) {
  Change(MonitorState.WarmupMessageShown, shown, &TMonitorView::WarmupMessageChanged);
}

void TMonitorEngine::SetReadingLive(bool live) {
  Change(MonitorState.ReadingLive, live, &TMonitorView::ReadoutEnabledChanged);
}

void TMonitorEngine::SetVoltsLive(bool live) {
  Change(MonitorState.VoltsLive, live, &TMonitorView::VoltsEnabledChanged);
}

void TMonitorEngine::SetReadout(const std::string& text) {
  Change(MonitorState.ReadoutText, text, &TMonitorView::ReadoutChanged);
}

void TMonitorEngine::SetVolts(const std::string& text) {
  Change(MonitorState.VoltsText, text, &TMonitorView::VoltsChanged);
}

void TMonitorEngine::SetTempBar(int value) {
  Change(MonitorState.TempBar, value, &TMonitorView::TempBarChanged);
}

void TMonitorEngine::SetTitle(const std::string& reading) {
  Change(MonitorState.TitleText, reading, &TMonitorView::TitleChanged);
}

}  // namespace monitor
