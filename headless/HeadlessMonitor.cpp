// kestlog's view of the monitoring engine: rows instead of a read-out, a status line instead of
// lamps.
#include "headless/HeadlessMonitor.h"

#include <ctime>

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
  Engine.SetLogFormat(Settings.Format, Settings.Program);
}

THeadlessMonitor::~THeadlessMonitor() { Stop(); }

bool THeadlessMonitor::OpenPort() { return Engine.OpenCommsClick(false); }

void THeadlessMonitor::Start(TRowSink& sink) {
  const std::string date = platform::FormatLocalTime(
      Settings.Locale.ShortDateFormat, static_cast<std::time_t>(Engine.Now().toSecsSinceEpoch()));
  for (const std::string& line : csvlog::HeaderLines(Settings.Format, date)) sink.WriteLine(line);
  Sink = &sink;
  Engine.StartLogging();
  Engine.Start();
}

void THeadlessMonitor::Stop() { Engine.Stop(); }

// Unlike the window's log, which the user starts long after the port opened, the classic log waits
// for the controller's first frame: otherwise every log would open with a made-up 10.0 at 0.0 V
// from the empty frame. After that it writes the window's rows: only while the port is open and
// the sensor warm (so warm-up leaves a gap, and a silent controller repeats the last values). The
// extended and MSL rows come on every tick from the start, their status saying what they are
// worth.
bool THeadlessMonitor::LogRowDue(const std::string& row) {
  if (Settings.Format == csvlog::TRowFormat::Classic &&
      FStats.FramesAccepted + FStats.FramesRejected == 0) {
    return true;
  }
  return WriteLine(row, true);
}

// Header lines are not rows: they are not counted, and the first that fails stops the rows as a
// failed row does.
bool THeadlessMonitor::LogHeaderDue(const std::string& line) { return WriteLine(line, false); }

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

bool THeadlessMonitor::WriteLine(const std::string& line, bool row) {
  if (Sink == nullptr || FRowError) return true;  // not started, or the owner was told
  try {
    Sink->WriteLine(line);
    if (row) ++FStats.Rows;
  } catch (const csvlog::TLogFileError& error) {
    FRowError = error;
    if (OnRowError) OnRowError(error);
    return false;
  }
  return true;
}

}  // namespace headless
