// One phase of the monitor window, measured from inside this process.
#include "bench/WindowSession.h"

#include <QTimerEvent>
#include <algorithm>
#include <cstdio>

#include "bench/EventLoop.h"
#include "bench/FrameReport.h"
#include "bench/LogCheck.h"
#include "bench/ProcReader.h"
#include "platform/PortMap.h"
#include "sensor/Reading.h"

namespace bench {

std::optional<QString> TBenchServices::AskSaveFileName(QWidget*, const ui::TSaveDialogOptions&) {
  if (LogPath.isEmpty()) return std::nullopt;
  return LogPath;
}

void TBenchServices::ShowError(QWidget*, const QString& message) {
  ++Errors;
  std::fprintf(stderr, "kest-bench: the window reported: %s\n", qPrintable(message));
}

TStallProbe::TStallProbe() {
  Timer.setTimerType(Qt::PreciseTimer);
  Timer.setInterval(ProbeIntervalMs);
  QObject::connect(&Timer, &QTimer::timeout, this, [this] { OnProbe(); });
}

void TStallProbe::Start() {
  MaxLateMs = 0;
  Lateness = THistogram();
  LastFire.reset();
  Timer.start();
}

void TStallProbe::OnProbe() {
  const TClock::time_point now = TClock::now();
  if (LastFire) {
    const double gap = std::chrono::duration<double, std::milli>(now - *LastFire).count();
    MaxLateMs = std::max(MaxLateMs, gap - ProbeIntervalMs);
    Lateness.Add(gap - ProbeIntervalMs);
  }
  LastFire = now;
}

TWindowSession::~TWindowSession() {
  if (Window) Window->Engine.SetProbe(nullptr);
}

bool TWindowSession::SetUp(const QString& simProgram) {
  if (!Simulator.Start(simProgram, Phase.SimArguments)) {
    std::fprintf(stderr, "kest-bench: %s\n", qPrintable(Simulator.Error()));
    return false;
  }
  platform::TPortMap portMap;
  portMap.Map(1, Simulator.DevicePath().toStdString());
  System = platform::CreateSystemSerialApi(portMap);
  Api = std::make_unique<TBenchSerialApi>(*System, Phase.BusyLoop);
  Api->SetAccounting(&Accounting);
  Services.LogPath = LogPath;

  ui::TMainWindowOptions options;
  options.SerialApi = Api.get();
  options.Services = &Services;
  options.Locale = platform::TLocaleFormats{};  // fixed, so that the rows have one known form
  Created = TClock::now();
  Window = std::make_unique<ui::TKest3GraphMain>(std::move(options));
  Window->Engine.SetProbe(this);
  if (Phase.Fast) Window->TrackBar1->setValue(1);  // through the slider's own change handler

  const monitor::TMonitorState& s = Window->Engine.State();
  Window->show();
  if (!RunUntil([&] { return s.PortOpen; }, 5)) {
    std::fprintf(stderr, "kest-bench: the window did not open COM1 (%s): %s\n",
                 qPrintable(Simulator.DevicePath()), qPrintable(Window->StatusBarText()));
    return false;
  }
  if (Phase.Soak) {
    // The soak is measured from the start, warm-up included: no rows and no chart steps belong
    // to it, and the counts below check exactly that.
    return true;
  }
  if (Phase.ExpectLive) {
    if (!RunUntil([&] { return FirstReading.has_value(); }, 10)) {
      std::fprintf(stderr, "kest-bench: no live reading within the wait\n");
      return false;
    }
  } else {
    // Long enough for the watchdog to have declared the controller offline.
    RunFor(1.5);
  }
  // The first moments after start are not the steady state being measured.
  RunFor(0.5);
  return true;
}

// The first live reading: the read-out enabled and showing the reading of the frame in use.
void TWindowSession::CheckFirstReading() {
  const monitor::TMonitorState& s = Window->Engine.State();
  if (FirstReading || !s.ReadingLive) return;
  const QString text = Window->DigitalDisplay->text();
  if (text == QStringLiteral(" ") || text == QStringLiteral("00.0")) return;
  const std::string reading = sensor::ReadingText(Window->CalcKest(), s.DisplayMode, ".");
  if (text == QString::fromStdString(reading)) FirstReading = SecondsSince(Created);
}

void TWindowSession::HandlerBegins(monitor::THandler handler, const monitor::TMonitorState& s) {
  Begun[static_cast<int>(handler)] = TClock::now();
  if (handler == monitor::THandler::SampleTick) CountTick(s);
  // The receive handler's reads are told from the poll's and replayed.
  if (handler == monitor::THandler::Receive)
    Accounting.BeginHandler(s.SensorFrame, s.LastGoodFrame);
}

// Before the tick runs: whether it should append a log row or draw a step by the rules.
void TWindowSession::CountTick(const monitor::TMonitorState& s) {
  ChartXBefore = Window->ChartState.ChartX;
  if (!Measuring) return;
  ++Ticks.Ticks;
  const bool sampled = s.PortOpen && !s.WarmingUp;
  if (sampled && s.Logging) ++Ticks.ExpectedRows;
  if (sampled && s.ReadingLive) ++Ticks.ExpectedSteps;
  if (s.PortOpen && s.WarmingUp) ++Ticks.WarmupTicks;
  if (sampled && !s.ReadingLive) ++Ticks.OfflineTicks;
}

void TWindowSession::HandlerEnds(monitor::THandler handler, const monitor::TMonitorState& s) {
  const double ms = MsBetween(Begun[static_cast<int>(handler)], TClock::now());
  switch (handler) {
    case monitor::THandler::SampleTick:
      // A chart step always moves ChartX, and nothing else in a tick does.
      if (Measuring && Window->ChartState.ChartX != ChartXBefore) ++Ticks.Steps;
      if (Measuring) Times.SampleTickMs = std::max(Times.SampleTickMs, ms);
      return;
    case monitor::THandler::Watchdog:
      if (Measuring) Times.WatchdogMs = std::max(Times.WatchdogMs, ms);
      break;
    case monitor::THandler::Receive:
      if (Measuring) {
        Times.ReceiveMs = std::max(Times.ReceiveMs, ms);
        Times.Receive.Add(ms);
      }
      Accounting.EndHandler(s.SensorFrame, s.LastGoodFrame);
      break;
  }
  CheckFirstReading();
}

bool TWindowSession::Measure() {
  const std::string p = Phase.Name + ".";
  const monitor::TMonitorState& s = Window->Engine.State();
  if (Phase.Log) Window->LogStartClick();
  if (Phase.Log && !s.Logging) {
    std::fprintf(stderr, "kest-bench: the log did not start at %s\n", qPrintable(LogPath));
    return false;
  }
  Measuring = true;
  if (Phase.StallProbe) Probe.Start();
  RssStart = ResidentMegabytes();
  const double switchesStart = VoluntarySwitches();
  const TProcessTally tallyStart = TallyOf(0);
  const double queueWaitStart = RunQueueWaitSeconds();
  const double simQueueWaitStart = TallyOf(Simulator.ProcessId()).QueueWaitSeconds;
  const double cpuStart = ProcessCpuSeconds();
  const TClock::time_point wallStart = TClock::now();
  if (Phase.Soak) {
    const int minutes = static_cast<int>(Phase.Seconds / 60);
    for (int m = 1; m <= minutes; ++m) {
      RunFor(60);
      Figure(p + "rss_minute_" + std::to_string(m), ResidentMegabytes(), "MB", 1);
    }
  } else {
    RunFor(Phase.Seconds);
  }
  Wall = SecondsSince(wallStart);
  Cpu = ProcessCpuSeconds() - cpuStart;
  Switches = VoluntarySwitches() - switchesStart;
  ProcessWakeups = TallyOf(0).Wakeups - tallyStart.Wakeups;
  QueueWait = RunQueueWaitSeconds() - queueWaitStart;
  SimQueueWait = TallyOf(Simulator.ProcessId()).QueueWaitSeconds - simQueueWaitStart;
  RssEnd = ResidentMegabytes();
  Probe.Stop();
  Measuring = false;
  if (Phase.Log) Window->LogStopClick();
  return true;
}

void TWindowSession::Drain() {
  // No more ticks; the answers still under way are read before the port closes.
  Window->Engine.StopTimers();
  RunFor(0.3);
  LeftQueued = Api->QueuedNow();
  Window->Engine.SetProbe(nullptr);
  Window.reset();
  SimCounters = Simulator.Stop();
}

TPhaseResult TWindowSession::Report() {
  const std::string p = Phase.Name + ".";
  const TTickCounts& ticks = Ticks;
  TPhaseResult result;
  result.Ran = true;
  result.WallSeconds = Wall;
  result.CpuPercent = 100.0 * Cpu / Wall;
  result.ChartRate = static_cast<double>(ticks.Steps) / Wall;
  if (Phase.StallProbe) {
    result.MaxLateMs = Probe.MaxLateMs;
    result.StallP99 = Probe.Lateness.Quantile(0.99);
    result.StallsOver10 = Probe.Lateness.CountAbove(10);
    result.StallProbes = Probe.Lateness.Count();
  }
  result.SimQueueWaitMs = 1000 * SimQueueWait;
  result.Times = Times;
  result.RssStart = RssStart;
  result.RssEnd = RssEnd;

  Figure(p + "wall", Wall, "s");
  Figure(p + "cpu_time", Cpu, "s", 3);
  Figure(p + "cpu", result.CpuPercent, "%core", 3);
  Figure(p + "sleeps_rate", Switches / Wall, "/s", 1);
  if (ticks.Ticks > 0) {
    result.WakeupsPerSample = ProcessWakeups / static_cast<double>(ticks.Ticks);
    Figure(p + "wakeups_per_sample", result.WakeupsPerSample, "/sample", 2);
    Figure(p + "gui_wakeups_per_sample", Switches / static_cast<double>(ticks.Ticks), "/sample", 2);
  }
  Figure(p + "run_queue_wait", 1000 * QueueWait, "ms", 1);
  Figure(p + "sim_run_queue_wait", 1000 * SimQueueWait, "ms", 1);
  Figure(p + "machine_load", LoadAverage(), "load", 2);
  Count(p + "ticks", ticks.Ticks, "ticks");
  Count(p + "chart_steps", ticks.Steps, "steps");
  Count(p + "chart_steps_by_rules", ticks.ExpectedSteps, "steps");
  Figure(p + "chart_rate", result.ChartRate, "/s", 3);
  if (FirstReading) result.FirstReadingSeconds = *FirstReading;
  if (Phase.ExpectLive) Figure(p + "first_reading", result.FirstReadingSeconds, "s", 3);
  if (Phase.StallProbe) {
    Figure(p + "stall_max", result.MaxLateMs, "ms", 1);
    Figure(p + "stall_p99", Probe.Lateness.Quantile(0.99), "ms", 2);
    Figure(p + "stall_p999", Probe.Lateness.Quantile(0.999), "ms", 2);
    Count(p + "stalls_over_10ms", Probe.Lateness.CountAbove(10), "stalls");
    Count(p + "stall_probes", Probe.Lateness.Count(), "probes");
  }
  ReportTimes(result);
  if (Services.Errors > 0)
    Count(p + "window_errors", static_cast<std::uint64_t>(Services.Errors), "errors");

  if (Phase.Log) ReportLog(result);
  ReportFrames(Phase, SimCounters, *Api, Accounting, LeftQueued, result);
  return result;
}

void TWindowSession::ReportTimes(const TPhaseResult& result) {
  const std::string p = Phase.Name + ".";
  Figure(p + "receive_handler_max", result.Times.ReceiveMs, "ms", 2);
  Figure(p + "receive_handler_p50", result.Times.Receive.Quantile(0.5), "ms", 2);
  Figure(p + "receive_handler_p99", result.Times.Receive.Quantile(0.99), "ms", 2);
  Count(p + "receive_handlers_over_10ms", result.Times.Receive.CountAbove(10), "calls");
  Figure(p + "sample_tick_max", result.Times.SampleTickMs, "ms", 2);
  Figure(p + "watchdog_tick_max", result.Times.WatchdogMs, "ms", 2);
  Figure(p + "rss_start", result.RssStart, "MB", 1);
  Figure(p + "rss_end", result.RssEnd, "MB", 1);
  Figure(p + "rss_growth", result.RssEnd - result.RssStart, "MB", 2);
}

void TWindowSession::ReportLog(TPhaseResult& result) {
  const std::string p = Phase.Name + ".";
  const TTickCounts& ticks = Ticks;
  const TLogCheck log = CheckLog(LogPath);
  result.LogRate = static_cast<double>(log.Rows) / Wall;
  Count(p + "log_rows", log.Rows, "rows");
  Count(p + "log_rows_by_rules", ticks.ExpectedRows, "rows");
  Count(p + "log_rows_malformed", log.BadRows, "rows");
  Count(p + "log_header_ok", log.HeaderOk ? 1 : 0, "bool");
  Figure(p + "log_rate", result.LogRate, "/s", 3);
  if (log.BadRows > 0) Note("first malformed row: " + log.FirstBadRow);
  result.RowsOk = log.HeaderOk && log.BadRows == 0 && log.Rows == ticks.ExpectedRows &&
                  ticks.Steps == ticks.ExpectedSteps;
  if (Phase.Soak) {
    Count(p + "ticks_warming_up", ticks.WarmupTicks, "ticks");
    Count(p + "ticks_offline", ticks.OfflineTicks, "ticks");
    Count(p + "rows_minus_steps", log.Rows - std::min(log.Rows, ticks.Steps), "rows");
  }
}

}  // namespace bench
