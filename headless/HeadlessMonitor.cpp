// The window's monitoring loop without the window: same driver settings, same ticks, same receive
// step, same offline rule; rows instead of a read-out.
#include "headless/HeadlessMonitor.h"

#include <ctime>

#include "sensor/Monitoring.h"
#include "serial/ControllerLine.h"

namespace headless {

namespace {

// The window's low-volts lamp: lit below 12.0 V, put out above 12.1 V, left alone in between so
// that a supply hovering at the threshold does not make it flicker.
constexpr double LowVoltsOn = 12.0;
constexpr double LowVoltsOff = 12.1;

// Counts the single-byte reads that time out, for the status line and the summary.
class TCountingByteReader : public sensor::TByteReader {
 public:
  TCountingByteReader(TSerialPortDriver& driver, std::uint64_t& timeouts)
      : Driver(driver), Timeouts(timeouts) {}
  bool ReadByte(std::uint8_t& target) override {
    const bool read = Driver.ReadByte(target);
    if (!read) ++Timeouts;
    return read;
  }

 private:
  TSerialPortDriver& Driver;
  std::uint64_t& Timeouts;
};

}  // namespace

THeadlessMonitor::THeadlessMonitor(platform::TSerialApi& api, TMonitorSettings settings)
    : Api(api), Settings(std::move(settings)), SerialPortDriver1(api) {
  // The window's driver settings: COM1 at 19200 bit/s, a 50-byte receive buffer, a 5 ms poll and
  // 50 ms read time-outs, unless another COM number is asked for; the port map says which device
  // it is.
  ConfigureForController(SerialPortDriver1);
  SerialPortDriver1.SetComPort(static_cast<TComPortNumber>(Settings.ComPort - 1));
  SerialPortDriver1.SetOnReceiveData(
      [this](TSerialPortDriver* sender, const void* data, std::uint32_t size) {
        SerialPortDriverReceiveData3(sender, data, size);
      });

  Timer1.setTimerType(Qt::PreciseTimer);  // ten samples a second means ten, not nine
  Timer1.setInterval(Settings.Fast ? sensor::FastSampleIntervalMs : sensor::NormalSampleIntervalMs);
  QObject::connect(&Timer1, &QTimer::timeout, &Timer1, [this] { GetByteClick(); });
  OnlineTimer.setInterval(sensor::WatchdogIntervalMs);
  QObject::connect(&OnlineTimer, &QTimer::timeout, &OnlineTimer, [this] { OnlineTimerTimer(); });
}

THeadlessMonitor::~THeadlessMonitor() { Stop(); }

bool THeadlessMonitor::OpenPort() {
  FPortOpen = SerialPortDriver1.OpenPort();
  return FPortOpen;
}

void THeadlessMonitor::Start(TRowSink& sink) {
  const std::string date = platform::FormatLocalTime(
      Settings.Locale.ShortDateFormat, static_cast<std::time_t>(Settings.Now().toSecsSinceEpoch()));
  for (const std::string& line : HeaderLines(Settings.Format, date)) sink.WriteLine(line);
  Sink = &sink;
  Timer1.start();
  OnlineTimer.start();
}

void THeadlessMonitor::Stop() {
  Timer1.stop();
  OnlineTimer.stop();
  SerialPortDriver1.ClosePort();
  FPortOpen = false;
}

void THeadlessMonitor::SerialPortDriverReceiveData3(TSerialPortDriver*, const void*,
                                                    std::uint32_t) {
  // As the window: the polled bytes only say that the controller answered; the handler asks again
  // and reads a whole frame of its own.
  SerialPortDriver1.WriteByte(sensor::RequestByte);
  SetOnlineLamp(true);
  SerialPortDriver1.HoldPolling();
  TCountingByteReader reader(SerialPortDriver1, FStats.ReadTimeouts);
  const sensor::TFrameReceipt receipt =
      sensor::ReceiveFrame(reader, CurrentFrame, LastGoodFrame, FSupplyVolts, FWarmingUp);
  SerialPortDriver1.ReleasePolling();
  if (receipt.FrameFound) {
    FrameSeen = true;
    if (receipt.CheckHeld) {
      ++FStats.FramesAccepted;
    } else {
      ++FStats.FramesRejected;
    }
    if (!FWarmingUp) ReadingLive = true;
  }
  FOnlineCountdown = sensor::OnlineCountdownReload;
}

void THeadlessMonitor::GetByteClick() {
  SerialPortDriver1.WriteByte(sensor::RequestByte);
  const bool sample = FPortOpen && !FWarmingUp;
  // Where the window draws its chart step, which also steps the low-volts lamp. Done before the
  // row, so that an extended row's status already tells the volts of its own sample.
  if (sample && ReadingLive) {
    if (FSupplyVolts < LowVoltsOn) LowVoltsLamp = true;
    if (FSupplyVolts > LowVoltsOff) LowVoltsLamp = false;
  }
  if (!FPortOpen) {
    SetOnlineLamp(false);
    ReadingLive = false;
    LowVoltsLamp = false;
  }
  // The classic log writes the window's rows: only while the port is open and the sensor warm (so
  // warm-up leaves a gap, and a silent controller repeats the last values). Unlike the window's
  // log, which the user starts long after the port opened, it waits for the controller's first
  // frame: otherwise every log would open with a made-up 10.0 at 0.0 V from the empty frame. The
  // extended log writes every tick and says in its status column what the row is worth.
  if (Settings.Format == TRowFormat::Extended) {
    WriteRow(Status());
  } else if (sample && FrameSeen) {
    WriteRow(TRowStatus::Live);
  }
}

void THeadlessMonitor::OnlineTimerTimer() {
  // The same keeper as the window's: a device that went away is closed and tried again about
  // once a second, so a re-plugged adapter brings the rows back by itself.
  switch (PortKeeper1.Check(Api.GetTickCount())) {
    case TPortKeeper::TEvent::Lost:
      FPortOpen = false;
      ++FStats.PortLosses;
      if (OnPortLost) OnPortLost(true);
      break;
    case TPortKeeper::TEvent::Reopened:
      FPortOpen = true;
      if (OnPortLost) OnPortLost(false);
      break;
    case TPortKeeper::TEvent::None:
      break;
  }
  if (FOnlineCountdown > 0) --FOnlineCountdown;
  if (FPortOpen && FWarmingUp) ReadingLive = false;  // the window greys its read-out
  if (FOnlineCountdown == 0) {
    SetOnlineLamp(false);
    ReadingLive = false;
    LowVoltsLamp = false;
    SerialPortDriver1.Purge(true, false);
  }

  const std::uint32_t now = Api.GetTickCount();
  const std::uint64_t frames = FStats.FramesAccepted + FStats.FramesRejected;
  if (RateMarkCount == RateMarks.size()) {
    for (std::size_t i = 1; i < RateMarks.size(); ++i) RateMarks[i - 1] = RateMarks[i];
    --RateMarkCount;
  }
  RateMarks[RateMarkCount++] = TRateMark{now, frames};

  if (OnWatchdogTick) OnWatchdogTick();
}

void THeadlessMonitor::SetOnlineLamp(bool on) {
  // A spell starts when a lit lamp goes out; the dark start before the first answer is none.
  if (OnlineLamp && !on) ++FStats.OfflineSpells;
  OnlineLamp = on;
}

TLampState THeadlessMonitor::Lamps() const {
  TLampState lamps;
  lamps.PortOpen = FPortOpen;
  lamps.Online = OnlineLamp && FOnlineCountdown > 0;
  lamps.WarmingUp = FWarmingUp;
  lamps.Live = ReadingLive;
  lamps.LowVolts = LowVoltsLamp;
  return lamps;
}

double THeadlessMonitor::FramesPerSecond() const {
  if (RateMarkCount < 2) return 0;
  const TRateMark& first = RateMarks[0];
  const TRateMark& last = RateMarks[RateMarkCount - 1];
  const std::uint32_t span = last.Tick - first.Tick;  // right across the counter's wrap
  if (span == 0) return 0;
  return static_cast<double>(last.Frames - first.Frames) * 1000.0 / span;
}

TStatusView THeadlessMonitor::StatusView() const {
  TStatusView view;
  view.Lamps = Lamps();
  view.PortLost = PortKeeper1.Lost();
  view.DisplayMode = Settings.DisplayMode;
  // The window's read-out and voltage box: placeholders while warming, else the stored frame.
  if (FPortOpen && FWarmingUp) {
    view.ReadoutText = "00.0";
    view.VoltsText = "n/a";
  } else {
    const double reading =
        sensor::CalcKest(CurrentFrame.AfrByte, Settings.DisplayMode, Settings.FuelType);
    view.ReadoutText =
        sensor::ReadingText(reading, Settings.DisplayMode, Settings.Locale.DecimalSeparator);
    view.VoltsText = sensor::VoltageText(FSupplyVolts, Settings.Locale.DecimalSeparator) + " V";
  }
  view.FramesPerSecond = FramesPerSecond();
  view.ChecksumFailures = FStats.FramesRejected;
  view.Timeouts = FStats.ReadTimeouts;
  return view;
}

void THeadlessMonitor::WriteRow(TRowStatus status) {
  if (Sink == nullptr || FRowError) return;  // not started, or the owner was told and is stopping
  TSample sample;
  sample.Frame = CurrentFrame;
  sample.SupplyVolts = FSupplyVolts;
  sample.DisplayMode = Settings.DisplayMode;
  sample.FuelType = Settings.FuelType;
  sample.Status = status;
  const QDateTime now = Settings.Now();
  std::string row;
  if (Settings.Format == TRowFormat::Extended) {
    row = ExtendedRow(IsoTimestamp(now), sample);
  } else {
    const std::string time = platform::FormatLocalTime(
        Settings.Locale.LongTimeFormat, static_cast<std::time_t>(now.toSecsSinceEpoch()));
    row = ClassicRow(time, sample, Settings.Locale.DecimalSeparator);
  }
  try {
    Sink->WriteLine(row);
    ++FStats.Rows;
  } catch (const csvlog::TLogFileError& error) {
    FRowError = error;
    if (OnRowError) OnRowError(error);
  }
}

}  // namespace headless
