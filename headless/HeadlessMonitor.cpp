// kestlog's view of the monitoring engine: rows instead of a read-out, a status line instead of
// lamps.
#include "headless/HeadlessMonitor.h"

#include <ctime>

#include "log/MslLog.h"
#include "log/RowGrammar.h"
#include "text/Words.h"

namespace headless {

THeadlessMonitor::THeadlessMonitor(platform::TSerialApi& api, TMonitorSettings settings)
    : Api(api),
      Settings(std::move(settings)),
      Engine(api, *this, monitor::EngineSettingsOf(Settings.Locale, Settings.Now), &FStats) {
  // The window's driver settings (COM1 at 19200 bit/s, ...) unless another COM number is asked
  // for; the port map says which device it is.
  Engine.SetComPort(Settings.ComPort);
  Engine.SetDisplayMode(Settings.DisplayMode);
  Engine.SetFuelType(Settings.FuelType);
  Engine.SetFast(Settings.Fast);
}

THeadlessMonitor::~THeadlessMonitor() { Stop(); }

bool THeadlessMonitor::OpenPort() { return Engine.OpenCommsClick(false); }

void THeadlessMonitor::Start(TRowSink& sink) {
  const std::string date = platform::FormatLocalTime(
      Settings.Locale.ShortDateFormat, static_cast<std::time_t>(Engine.Now().toSecsSinceEpoch()));
  for (const std::string& line : csvlog::HeaderLines(Settings.Format, date)) sink.WriteLine(line);
  Sink = &sink;
  // The classic rows are the window's log rows, which the engine asks for while Logging.
  if (Settings.Format == csvlog::TRowFormat::Classic) Engine.StartLogging();
  Engine.Start();
}

void THeadlessMonitor::Stop() { Engine.Stop(); }

// Unlike the window's log, which the user starts long after the port opened, the classic log waits
// for the controller's first frame: otherwise every log would open with a made-up 10.0 at 0.0 V
// from the empty frame. After that it writes the window's rows: only while the port is open and
// the sensor warm (so warm-up leaves a gap, and a silent controller repeats the last values).
bool THeadlessMonitor::LogRowDue(const std::string& row) {
  if (FStats.FramesAccepted + FStats.FramesRejected == 0) return true;
  return WriteRow(row);
}

// The extended log writes every tick, at its end, and says in its status column what the row is
// worth; at the end, so that the status already tells the low-volts lamp of its own sample.
void THeadlessMonitor::SampleTickDone() {
  if (Settings.Format == csvlog::TRowFormat::Classic) return;
  const monitor::TMonitorState& s = Engine.State();
  csvlog::TSample sample;
  sample.Frame = s.SensorFrame;
  sample.SupplyVolts = s.SupplyVolts;
  sample.DisplayMode = s.DisplayMode;
  sample.FuelType = s.FuelType;
  sample.Status = Status();
  if (Settings.Format == csvlog::TRowFormat::Msl) {
    WriteMslRow(sample);
    return;
  }
  // The timestamp is local time with its offset, so the system clock is read as local time here.
  const QDateTime now = Settings.Now ? Settings.Now() : QDateTime::currentDateTime();
  WriteRow(csvlog::ExtendedRow(IsoTimestamp(now), sample));
}

// The MSL header comes with the first row: its capture date is that row's wall-clock time, to the
// millisecond, so that the rows' seconds line up with an engine log by the clock.
void THeadlessMonitor::WriteMslRow(const csvlog::TSample& sample) {
  if (Sink == nullptr || FRowError) return;
  const csvlog::TReadingKind kind = sample.DisplayMode == sensor::dmAirFuelRatio
                                        ? csvlog::TReadingKind::Afr
                                        : csvlog::TReadingKind::Lambda;
  const std::uint32_t tick = Api.GetTickCount();
  if (!MslStarted) {
    const QDateTime now = Settings.Now ? Settings.Now() : QDateTime::currentDateTime();
    const QDate day = now.date();
    csvlog::TMslCaptureDate date;
    date.Year = day.year();
    date.Month = day.month();
    date.Day = day.day();
    date.DayMs = now.time().msecsSinceStartOfDay();
    date.OffsetSeconds = now.offsetFromUtc();
    try {
      for (const std::string& line :
           csvlog::MslHeaderLines(Settings.Program, date, csvlog::TMslColumns::Extended, kind)) {
        Sink->WriteLine(line);
      }
    } catch (const csvlog::TLogFileError& error) {
      FRowError = error;
      if (OnRowError) OnRowError(error);
      return;
    }
    MslStarted = true;
    MslLastTick = tick;
  }
  // Unsigned differences stay right across the counter's wrap after 49 days.
  MslElapsedMs += static_cast<std::uint32_t>(tick - MslLastTick);
  MslLastTick = tick;
  WriteRow(csvlog::MslRow(MslLine, static_cast<double>(MslElapsedMs) / 1000.0,
                          csvlog::MslValuesOf(sample), csvlog::TMslColumns::Extended, kind));
}

void THeadlessMonitor::PortChanged(const monitor::TPortEvent& event) {
  using TKind = monitor::TPortEvent::TKind;
  if (OnPortFailure && !event.Fault.Call.empty()) OnPortFailure(event.Fault);
  if (!OnPortLost) return;
  if (event.Kind == TKind::Lost) OnPortLost(true);
  if (event.Kind == TKind::Reopened) OnPortLost(false);
}

void THeadlessMonitor::WatchdogTickDone() {
  const std::uint32_t now = Api.GetTickCount();
  const std::uint64_t frames = FStats.FramesAccepted + FStats.FramesRejected;
  if (RateMarkCount == RateMarks.size()) {
    for (std::size_t i = 1; i < RateMarks.size(); ++i) RateMarks[i - 1] = RateMarks[i];
    --RateMarkCount;
  }
  RateMarks[RateMarkCount++] = TRateMark{now, frames};
  if (OnWatchdogTick) OnWatchdogTick();
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
  view.PortLost = Engine.PortLost();
  view.DisplayMode = Engine.State().DisplayMode;
  // The window's read-out and voltage box, as the engine makes them for the frame in use, without
  // the blank the voltage box pads its placeholder with.
  view.ReadoutText = Engine.ReadoutText();
  view.VoltsText = std::string(text::Trim(Engine.VoltsText()));
  view.FramesPerSecond = FramesPerSecond();
  view.ChecksumFailures = FStats.FramesRejected;
  view.Timeouts = FStats.ReadTimeouts;
  return view;
}

bool THeadlessMonitor::WriteRow(const std::string& row) {
  if (Sink == nullptr || FRowError) return true;  // not started, or the owner was told
  try {
    Sink->WriteLine(row);
    ++FStats.Rows;
  } catch (const csvlog::TLogFileError& error) {
    FRowError = error;
    if (OnRowError) OnRowError(error);
    return false;
  }
  return true;
}

}  // namespace headless
