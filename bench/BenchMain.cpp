// kest-bench: the real monitor window, drawn offscreen, on the real driver and serial backend,
// against kestsim on a pseudo-terminal in a process of its own. Prints one "name: value unit" line
// per figure (lines starting with '#' are for people), phase by phase:
//   live    controller answering, normal rate, log on
//   fast    the same at the "FAST" rate
//   silent  a controller that never answers
//   spew    a line that carries junk without a single frame
//   busy    the live run with the driver's waits turned into busy loops (the yardstick)
//   stall   the FAST run again with a 10 ms probe timer watching the GUI thread
//   kestlog  kestlog as a child process on the live line, measured from outside
//   baseline a plain pyserial poller asking once per sample, the same way
// or, with --soak MINUTES, one long drive with faults and the log on.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/BenchSerialApi.h"
#include "bench/FrameAccounting.h"
#include "bench/ProcReader.h"
#include "bench/SimChild.h"
#include "platform/PortMap.h"
#include "sensor/Reading.h"
#include "ui/Kest3GraphMain.h"

namespace bench {

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// CPU time of this whole process, all threads, user and system: the monitor's, since the
// simulated box runs in a child process whose time is not counted here.
double ProcessCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void Figure(const char* name, double value, const char* unit, int decimals = 2) {
  std::printf("%s: %.*f %s\n", name, decimals, value, unit);
  std::fflush(stdout);
}

void Figure(const std::string& name, double value, const char* unit, int decimals = 2) {
  Figure(name.c_str(), value, unit, decimals);
}

void Count(const std::string& name, std::uint64_t value, const char* unit) {
  std::printf("%s: %llu %s\n", name.c_str(), static_cast<unsigned long long>(value), unit);
  std::fflush(stdout);
}

void Note(const std::string& text) {
  std::printf("# %s\n", text.c_str());
  std::fflush(stdout);
}

// Runs the event loop for `seconds`.
void RunFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)),
                     Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until `done` holds or `seconds` pass; whether it held.
bool RunUntil(const std::function<bool()>& done, double seconds) {
  const TClock::time_point start = TClock::now();
  while (!done()) {
    if (SecondsSince(start) >= seconds) return false;
    RunFor(0.005);
  }
  return true;
}

// The desktop as the benchmark plays it: the save dialog answers with the benchmark's file, the
// program is in front, errors are printed and counted.
class TBenchServices : public ui::TUiServices {
 public:
  QString LogPath;
  bool Active = true;
  int Errors = 0;

  std::optional<QString> AskSaveFileName(QWidget*, const ui::TSaveDialogOptions&) override {
    if (LogPath.isEmpty()) return std::nullopt;
    return LogPath;
  }
  void ShowError(QWidget*, const QString& message) override {
    ++Errors;
    std::fprintf(stderr, "kest-bench: the window reported: %s\n", qPrintable(message));
  }
  void ShowErrorAndWait(QWidget* parent, const QString& message) override {
    ShowError(parent, message);
  }
  void Beep() override {}
  bool IsApplicationActive() override { return Active; }
};

// Durations in milliseconds, in 0.25 ms steps up to 100 ms: fixed size, so a soak of hours does
// not grow the memory it measures.
class THistogram {
 public:
  void Add(double ms) {
    const auto bucket = static_cast<std::size_t>(std::max(ms, 0.0) / Step);
    ++Buckets[std::min(bucket, Buckets.size() - 1)];
    ++Total;
  }
  std::uint64_t Count() const { return Total; }
  // The smallest duration that `share` (0 to 1) of the samples do not exceed; 0 without samples.
  double Quantile(double share) const {
    const auto wanted = static_cast<std::uint64_t>(std::ceil(share * static_cast<double>(Total)));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < Buckets.size(); ++i) {
      seen += Buckets[i];
      if (seen >= wanted && seen > 0) return static_cast<double>(i + 1) * Step;
    }
    return 0;
  }
  std::uint64_t CountAbove(double ms) const {
    std::uint64_t n = 0;
    for (std::size_t i = static_cast<std::size_t>(ms / Step); i < Buckets.size(); ++i)
      n += Buckets[i];
    return n;
  }

 private:
  static constexpr double Step = 0.25;
  std::array<std::uint64_t, 400> Buckets{};
  std::uint64_t Total = 0;
};

// The GUI thread's responsiveness as a 10 ms timer sees it: its worst lateness is the longest
// the thread was kept from its event loop. Its own 100 wake-ups a second cost more than the
// monitor itself on a small virtual machine, so it runs only in the phase that asks for it.
class TStallProbe : public QObject {
 public:
  TStallProbe() {
    Timer.setTimerType(Qt::PreciseTimer);
    Timer.setInterval(ProbeIntervalMs);
    QObject::connect(&Timer, &QTimer::timeout, this, [this] { OnProbe(); });
  }
  void Start() {
    MaxLateMs = 0;
    Lateness = THistogram();
    LastFire.reset();
    Timer.start();
  }
  void Stop() { Timer.stop(); }
  double MaxLateMs = 0;
  THistogram Lateness;

 private:
  static constexpr int ProbeIntervalMs = 10;
  void OnProbe() {
    const TClock::time_point now = TClock::now();
    if (LastFire) {
      const double gap = std::chrono::duration<double, std::milli>(now - *LastFire).count();
      MaxLateMs = std::max(MaxLateMs, gap - ProbeIntervalMs);
      Lateness.Add(gap - ProbeIntervalMs);
    }
    LastFire = now;
  }
  QTimer Timer;
  std::optional<TClock::time_point> LastFire;
};

// The longest run of one of the window's handlers, timed from outside at no cost worth naming.
struct THandlerTimes {
  double ReceiveMs = 0;
  THistogram Receive;
  double SampleTickMs = 0;
  double WatchdogMs = 0;
};

double MsBetween(TClock::time_point from, TClock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Sees each Timer1 event before the window's handler runs, to tell afterwards whether that tick
// drew a chart step, and whether it should have appended a log row or drawn a step by the rules.
class TTickFilter : public QObject {
 public:
  explicit TTickFilter(ui::TKest3GraphMain& window) : Window(window) {}
  bool Measuring = false;
  std::uint64_t Ticks = 0;
  std::uint64_t Steps = 0;
  std::uint64_t ExpectedRows = 0;   // port open, not warming up, logging
  std::uint64_t ExpectedSteps = 0;  // port open, not warming up, reading live
  std::uint64_t WarmupTicks = 0;
  std::uint64_t OfflineTicks = 0;  // port open, warm, reading not live

  THandlerTimes Times;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == Window.OnlineTimer && event->type() == QEvent::Timer) {
      WatchdogStart = TClock::now();
    }
    if (watched == Window.Timer1 && event->type() == QEvent::Timer) {
      TickStart = TClock::now();
      const monitor::TMonitorState& s = Window.MonitorState;
      ChartXBefore = Window.ChartState.ChartX;
      if (Measuring) {
        ++Ticks;
        const bool sampled = s.PortOpen && !s.WarmingUp;
        if (sampled && s.Logging) ++ExpectedRows;
        if (sampled && s.ReadingLive) ++ExpectedSteps;
        if (s.PortOpen && s.WarmingUp) ++WarmupTicks;
        if (sampled && !s.ReadingLive) ++OfflineTicks;
      }
    }
    return false;
  }
  // Connected after the window's own handler: a step always moves ChartX, nothing else between
  // the filter and here does.
  void AfterTick() {
    if (!Measuring) return;
    if (Window.ChartState.ChartX != ChartXBefore) ++Steps;
    Times.SampleTickMs = std::max(Times.SampleTickMs, MsBetween(TickStart, TClock::now()));
  }
  void AfterWatchdog() {
    if (!Measuring) return;
    Times.WatchdogMs = std::max(Times.WatchdogMs, MsBetween(WatchdogStart, TClock::now()));
  }

 private:
  ui::TKest3GraphMain& Window;
  int ChartXBefore = 0;
  TClock::time_point TickStart;
  TClock::time_point WatchdogStart;
};

// What a phase measures: the window in this process, or a program of its own as a child.
enum class TSubject { Window, Kestlog, Baseline };

struct TPhase {
  std::string Name;
  TSubject Subject = TSubject::Window;
  std::string Title;
  QStringList SimArguments;
  bool Fast = false;
  bool BusyLoop = false;
  bool ExpectLive = true;  // the controller answers: wait for the first reading
  bool Log = false;
  bool Aligned = true;    // nothing but whole frames on the line
  bool Conserves = true;  // every byte sent is read or purged (not so for a line that never stops)
  double Seconds = 30;
  bool Soak = false;
  bool StallProbe = false;  // the 10 ms probe timer runs (and costs CPU of its own)
};

struct TPhaseResult {
  bool Ran = false;
  double CpuPercent = 0;
  double WallSeconds = 0;
  double ChartRate = 0;
  double LogRate = 0;
  double FirstReadingSeconds = -1;
  double RssStart = 0;
  double RssEnd = 0;
  double MaxLateMs = -1;  // -1: no probe in this phase
  double StallP99 = -1;
  std::uint64_t StallsOver10 = 0;
  std::uint64_t StallProbes = 0;
  double SimQueueWaitMs = 0;
  double WakeupsPerSample = -1;  // voluntary context switches of the whole process per sample
  THandlerTimes Times;
  bool FramesBalance = true;
  bool RowsOk = true;
};

struct TLogCheck {
  std::uint64_t Rows = 0;
  std::uint64_t BadRows = 0;
  bool HeaderOk = false;
  std::string FirstBadRow;
};

// Reads the log back: two header lines, then rows of the form the default locale gives
// (hh:mm:ss,reading with one decimal,volts with one decimal), every line ending in CR LF.
TLogCheck CheckLog(const QString& path) {
  TLogCheck check;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return check;
  const QByteArray all = file.readAll();
  QList<QByteArray> lines = all.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  static const QRegularExpression header1(QStringLiteral("^Torvane KEST datalog\\.  .+\\r$"));
  static const QRegularExpression row(
      QStringLiteral("^[0-9]{2}:[0-9]{2}:[0-9]{2},[0-9]{2}\\.[0-9],[0-9]{1,2}\\.[0-9]\\r$"));
  check.HeaderOk = lines.size() >= 2 && header1.match(QString::fromLatin1(lines[0])).hasMatch() &&
                   lines[1] == QByteArray("Time, AFR or LAMBDA, Supply volts\r");
  for (qsizetype i = 2; i < lines.size(); ++i) {
    ++check.Rows;
    if (!row.match(QString::fromLatin1(lines[i])).hasMatch()) {
      if (check.BadRows == 0) check.FirstBadRow = lines[i].toStdString();
      ++check.BadRows;
    }
  }
  return check;
}

// Lines in a text file so far (a row or answer per line); 0 when it cannot be read.
std::uint64_t LinesIn(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  return static_cast<std::uint64_t>(file.readAll().count('\n'));
}

void ReportFrames(const TPhase& phase, const std::optional<sim::TSimCounters>& simCounters,
                  const TBenchSerialApi& api, const TFrameAccounting& accounting,
                  std::uint32_t leftQueued, TPhaseResult& result);

// One phase of the window, in the order it runs: set-up (simulator, backend, window, the handlers
// wrapped, the wait for the steady state), the measured stretch, the drain, the report.
class TWindowSession {
 public:
  TWindowSession(const TPhase& phase, QString logPath)
      : Phase(phase), LogPath(std::move(logPath)), Accounting(phase.Aligned) {}

  // False, having said why on standard error, when the port does not open or the reading never
  // goes live.
  bool SetUp(const QString& simProgram);
  // False when the log was asked for and did not start.
  bool Measure();
  void Drain();
  TPhaseResult Report();

 private:
  void WrapHandlers();
  void CheckFirstReading();

  const TPhase& Phase;
  QString LogPath;
  TSimChild Simulator;
  std::unique_ptr<platform::TSerialApi> System;
  std::unique_ptr<TBenchSerialApi> Api;
  TFrameAccounting Accounting;
  TBenchServices Services;
  TClock::time_point Created;
  std::unique_ptr<ui::TKest3GraphMain> Window;
  std::unique_ptr<TTickFilter> Ticks;
  QObject Context;  // owns the bench's connections to the window's timers
  TStallProbe Probe;
  std::optional<double> FirstReading;

  // What the measured stretch and the drain found.
  double RssStart = 0;
  double RssEnd = 0;
  double Wall = 0;
  double Cpu = 0;
  double Switches = 0;        // the GUI thread's
  double ProcessWakeups = 0;  // every thread's
  double QueueWait = 0;
  double SimQueueWait = 0;
  std::uint32_t LeftQueued = 0;
  std::optional<sim::TSimCounters> SimCounters;
};

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
  WrapHandlers();
  if (Phase.Fast) Window->TrackBar1->setValue(1);  // through the slider's own change handler

  const monitor::TMonitorState& s = Window->MonitorState;
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
  const monitor::TMonitorState& s = Window->MonitorState;
  if (FirstReading || !s.ReadingLive) return;
  const QString text = Window->DigitalDisplay->text();
  if (text == QStringLiteral(" ") || text == QStringLiteral("00.0")) return;
  const std::string reading = sensor::ReadingText(Window->CalcKest(), s.DisplayMode, ".");
  if (text == QString::fromStdString(reading)) FirstReading = SecondsSince(Created);
}

void TWindowSession::WrapHandlers() {
  ui::TKest3GraphMain& w = *Window;
  Ticks = std::make_unique<TTickFilter>(w);
  // The receive handler, wrapped so that its reads can be told from the poll's and replayed.
  w.SerialPortDriver1.SetOnReceiveData(
      [this](TSerialPortDriver* sender, const void* data, std::uint32_t size) {
        const monitor::TMonitorState& s = Window->MonitorState;
        Accounting.BeginHandler(s.SensorFrame, s.LastGoodFrame);
        const TClock::time_point begun = TClock::now();
        Window->SerialPortDriverReceiveData3(sender, data, size);
        if (Ticks->Measuring) {
          const double ms = MsBetween(begun, TClock::now());
          Ticks->Times.ReceiveMs = std::max(Ticks->Times.ReceiveMs, ms);
          Ticks->Times.Receive.Add(ms);
        }
        Accounting.EndHandler(s.SensorFrame, s.LastGoodFrame);
        CheckFirstReading();
      });
  QObject::connect(w.OnlineTimer, &QTimer::timeout, &Context, [this] {
    Ticks->AfterWatchdog();
    CheckFirstReading();
  });
  w.Timer1->installEventFilter(Ticks.get());
  w.OnlineTimer->installEventFilter(Ticks.get());
  QObject::connect(w.Timer1, &QTimer::timeout, &Context, [this] { Ticks->AfterTick(); });
}

bool TWindowSession::Measure() {
  const std::string p = Phase.Name + ".";
  const monitor::TMonitorState& s = Window->MonitorState;
  if (Phase.Log) Window->LogStartClick();
  if (Phase.Log && !s.Logging) {
    std::fprintf(stderr, "kest-bench: the log did not start at %s\n", qPrintable(LogPath));
    return false;
  }
  Ticks->Measuring = true;
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
  Ticks->Measuring = false;
  if (Phase.Log) Window->LogStopClick();
  return true;
}

void TWindowSession::Drain() {
  // No more ticks; the answers still under way are read before the port closes.
  Window->Timer1->stop();
  RunFor(0.3);
  LeftQueued = Api->QueuedNow();
  Window.reset();
  SimCounters = Simulator.Stop();
}

TPhaseResult TWindowSession::Report() {
  const std::string p = Phase.Name + ".";
  const TTickFilter& ticks = *Ticks;
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
  result.Times = ticks.Times;
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
  Figure(p + "receive_handler_max", result.Times.ReceiveMs, "ms", 2);
  Figure(p + "receive_handler_p50", result.Times.Receive.Quantile(0.5), "ms", 2);
  Figure(p + "receive_handler_p99", result.Times.Receive.Quantile(0.99), "ms", 2);
  Count(p + "receive_handlers_over_10ms", result.Times.Receive.CountAbove(10), "calls");
  Figure(p + "sample_tick_max", result.Times.SampleTickMs, "ms", 2);
  Figure(p + "watchdog_tick_max", result.Times.WatchdogMs, "ms", 2);
  Figure(p + "rss_start", result.RssStart, "MB", 1);
  Figure(p + "rss_end", result.RssEnd, "MB", 1);
  Figure(p + "rss_growth", result.RssEnd - result.RssStart, "MB", 2);
  if (Services.Errors > 0)
    Count(p + "window_errors", static_cast<std::uint64_t>(Services.Errors), "errors");

  if (Phase.Log) {
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
  ReportFrames(Phase, SimCounters, *Api, Accounting, LeftQueued, result);
  return result;
}

struct TChildRun;

class TBench {
 public:
  TBench(QString simProgram, QString logProgram, QString baselineScript)
      : SimProgram(std::move(simProgram)),
        LogProgram(std::move(logProgram)),
        BaselineScript(std::move(baselineScript)) {}

  // The window in this process.
  TPhaseResult Run(const TPhase& phase);
  // kestlog and the baseline poller, each a child on a simulator of its own, all measured from
  // outside over one and the same stretch (the first phase's length): whatever else the machine
  // does then weighs on them alike, so their figures can be compared. Empty when one failed.
  std::vector<TPhaseResult> RunChildren(const std::vector<TPhase>& phases);

 private:
  QString SimProgram;
  QString LogProgram;
  QString BaselineScript;
  QTemporaryDir Folder;

  bool StartChild(TChildRun& run);
};

TPhaseResult TBench::Run(const TPhase& phase) {
  Note("phase " + phase.Name + ": " + phase.Title + ", kestsim " +
       phase.SimArguments.join(QLatin1Char(' ')).toStdString());
  TWindowSession session(phase, Folder.filePath(QString::fromStdString(phase.Name) + ".txt"));
  if (!session.SetUp(SimProgram)) return {};
  if (!session.Measure()) return {};
  session.Drain();
  return session.Report();
}

// One program of a side-by-side stretch: its simulator, the child itself and where it writes.
struct TChildRun {
  const TPhase* Phase = nullptr;
  TSimChild Simulator;
  QProcess Child;
  QString OutPath;
  std::uint64_t HeaderLines = 0;
  TProcessTally Start;
  std::uint64_t LinesStart = 0;
};

bool TBench::StartChild(TChildRun& run) {
  const TPhase& phase = *run.Phase;
  Note("phase " + phase.Name + ": " + phase.Title + ", kestsim " +
       phase.SimArguments.join(QLatin1Char(' ')).toStdString());
  if (!run.Simulator.Start(SimProgram, phase.SimArguments)) {
    std::fprintf(stderr, "kest-bench: %s\n", qPrintable(run.Simulator.Error()));
    return false;
  }
  run.OutPath = Folder.filePath(QString::fromStdString(phase.Name) + ".txt");
  run.Child.setProcessChannelMode(QProcess::ForwardedChannels);
  if (phase.Subject == TSubject::Kestlog) {
    run.Child.start(LogProgram, {QStringLiteral("--port"), run.Simulator.DevicePath(),
                                 QStringLiteral("--output"), run.OutPath});
    run.HeaderLines = 2;  // kestlog's output opens with two header lines
  } else {
    // The system's interpreter is the one the Debian pyserial package serves; another python3
    // earlier on the PATH (a per-user install) may lack it.
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                               ? QStringLiteral("/usr/bin/python3")
                               : QStringLiteral("python3");
    run.Child.start(python, {BaselineScript, run.Simulator.DevicePath(), run.OutPath});
  }
  if (!run.Child.waitForStarted(5000)) {
    std::fprintf(stderr, "kest-bench: cannot start %s\n", qPrintable(run.Child.program()));
    return false;
  }
  return true;
}

std::vector<TPhaseResult> TBench::RunChildren(const std::vector<TPhase>& phases) {
  std::vector<std::unique_ptr<TChildRun>> runs;
  for (const TPhase& phase : phases) {
    runs.push_back(std::make_unique<TChildRun>());
    runs.back()->Phase = &phase;
    if (!StartChild(*runs.back())) return {};
  }
  // The same wait as the window's phases: the first sample written by every child, then 0.5 s
  // more.
  for (const auto& run : runs) {
    if (!RunUntil([&] { return LinesIn(run->OutPath) > run->HeaderLines; }, 10)) {
      std::fprintf(stderr, "kest-bench: %s wrote no sample within the wait\n",
                   qPrintable(run->Child.program()));
      return {};
    }
  }
  RunFor(0.5);

  // --- The measured stretch, one for all: each child's counters read from outside ---
  if (runs.size() > 1) Note("measured side by side over the same stretch");
  for (const auto& run : runs) {
    run->Start = TallyOf(run->Child.processId());
    run->LinesStart = LinesIn(run->OutPath);
  }
  const TClock::time_point wallStart = TClock::now();
  RunFor(phases.front().Seconds);
  const double wall = SecondsSince(wallStart);

  std::vector<TPhaseResult> results;
  for (const auto& run : runs) {
    const TProcessTally end = TallyOf(run->Child.processId());
    const std::uint64_t samples = LinesIn(run->OutPath) - run->LinesStart;
    // --- Drain: the child stops first, so that the simulator sees no request after its end ---
    run->Child.terminate();
    if (!run->Child.waitForFinished(5000)) run->Child.kill();
    const std::optional<sim::TSimCounters> simCounters = run->Simulator.Stop();

    const TProcessTally& start = run->Start;
    const std::string p = run->Phase->Name + ".";
    TPhaseResult result;
    result.Ran = samples > 0 && end.Wakeups >= 0 && end.CpuSeconds >= 0;
    if (!result.Ran) {
      std::fprintf(stderr, "kest-bench: no samples or no /proc figures for %s\n",
                   run->Phase->Name.c_str());
      return {};
    }
    result.WallSeconds = wall;
    result.CpuPercent = 100.0 * (end.CpuSeconds - start.CpuSeconds) / wall;
    result.WakeupsPerSample = (end.Wakeups - start.Wakeups) / static_cast<double>(samples);
    Figure(p + "wall", wall, "s");
    Figure(p + "cpu_time", end.CpuSeconds - start.CpuSeconds, "s", 3);
    Figure(p + "cpu", result.CpuPercent, "%core", 3);
    Count(p + "samples", samples, "samples");
    Figure(p + "sample_rate", static_cast<double>(samples) / wall, "/s", 3);
    Figure(p + "wakeups_per_sample", result.WakeupsPerSample, "/sample", 2);
    Figure(p + "run_queue_wait", 1000 * (end.QueueWaitSeconds - start.QueueWaitSeconds), "ms", 1);
    Figure(p + "machine_load", LoadAverage(), "load", 2);
    if (simCounters) Count(p + "sim_requests", simCounters->RequestsSeen, "requests");
    results.push_back(result);
  }
  return results;
}

void ReportFrames(const TPhase& phase, const std::optional<sim::TSimCounters>& simCounters,
                  const TBenchSerialApi& api, const TFrameAccounting& accounting,
                  std::uint32_t leftQueued, TPhaseResult& result) {
  const std::string p = phase.Name + ".";
  const TLineCounts& line = api.Counts();
  const TStreamFrames& stream = accounting.Stream();
  const THandlerFrames& handler = accounting.Handler();
  if (!simCounters) {
    Note("kestsim printed no summary: no frame accounting for " + phase.Name);
    result.FramesBalance = false;
    return;
  }
  const sim::TSimCounters& sim = *simCounters;
  Count(p + "sim_requests", sim.RequestsSeen, "requests");
  Count(p + "sim_frames", sim.FramesSent, "frames");
  Count(p + "sim_corrupted", sim.FramesCorrupted, "frames");
  Count(p + "sim_junk_bytes", sim.JunkBytesSent, "bytes");
  Count(p + "sim_silent", sim.SilentRequestsIgnored, "requests");
  Count(p + "sim_other_bytes", sim.OtherBytesIgnored, "bytes");
  Count(p + "sim_dropped", sim.AnswersDropped, "answers");
  Count(p + "monitor_requests_tick", line.RequestsByTick, "requests");
  Count(p + "monitor_requests_handler", line.RequestsByHandler, "requests");
  Count(p + "monitor_poll_chunks", line.PollChunks, "chunks");
  Count(p + "monitor_bytes_read", stream.Bytes, "bytes");
  Count(p + "monitor_bytes_purged", stream.PurgedBytes, "bytes");
  Count(p + "monitor_bytes_left_queued", leftQueued, "bytes");
  Count(p + "stream_good_frames", stream.GoodFrames, "frames");
  Count(p + "stream_bad_frames", stream.BadFrames, "frames");
  Count(p + "stream_stray_bytes", stream.StrayBytes, "bytes");
  Count(p + "stream_frames_cut_by_purge", stream.CutByPurge, "frames");
  Count(p + "stream_frames_in_poll_chunks", stream.InPollChunks, "frames");
  Count(p + "stream_frames_read_by_handler", stream.InHandler, "frames");
  if (phase.Aligned) Count(p + "stream_bad_frames_read_by_handler", stream.BadInHandler, "frames");
  Count(p + "stream_frames_split", stream.Split, "frames");
  Count(p + "handler_calls", handler.Invocations, "calls");
  Count(p + "handler_accepted", handler.Accepted, "frames");
  Count(p + "handler_rejected", handler.Rejected, "frames");
  Count(p + "handler_no_frame", handler.NoFrame, "calls");
  Count(p + "handler_replay_disagreed", handler.Disagreed, "calls");

  const std::uint64_t requests = line.RequestsByTick + line.RequestsByHandler;
  bool balance = requests == sim.RequestsSeen && sim.OtherBytesIgnored == 0;
  if (phase.Conserves) {
    const std::uint64_t sent = 5 * sim.FramesSent + sim.JunkBytesSent;
    const std::uint64_t taken = stream.Bytes + stream.PurgedBytes + leftQueued;
    Count(p + "bytes_unaccounted", sent > taken ? sent - taken : 0, "bytes");
    Count(p + "bytes_invented", taken > sent ? taken - sent : 0, "bytes");
    balance = balance && sent == taken && sim.AnswersDropped == 0;
  }
  if (phase.Aligned && phase.Conserves) {
    const std::uint64_t found = stream.GoodFrames + stream.BadFrames + stream.CutByPurge;
    Count(p + "frames_lost", sim.FramesSent > found ? sim.FramesSent - found : 0, "frames");
    Count(p + "frames_invented", found > sim.FramesSent ? found - sim.FramesSent : 0, "frames");
    balance = balance && found == sim.FramesSent && stream.BadFrames == sim.FramesCorrupted &&
              stream.StrayBytes == 0;
  }
  // The handler accepts exactly the good frames it read whole, and rejects the bad ones it read
  // whole plus the false frames that began in the tail of a split answer.
  balance = balance && handler.Disagreed == 0;
  if (phase.Aligned) balance = balance && handler.Accepted == stream.GoodInHandler;
  if (!phase.Aligned && phase.Conserves) {
    // With junk on the line a sync byte in the junk can start a false frame whose check byte
    // happens to hold (one in 256); such a frame would hide the real one behind it. So this is
    // shown, not required.
    Count(p + "stream_good_frames_expected", sim.FramesSent - sim.FramesCorrupted, "frames");
  }
  result.FramesBalance = balance;
  Count(p + "frames_balance_ok", balance ? 1 : 0, "bool");
}

void Verdict(const std::string& what, bool met, const std::string& detail) {
  Note(std::string(met ? "MET     " : "NOT MET ") + what + " (" + detail + ")");
}

std::string Fixed(double value, int decimals = 2) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void PrintMachine() {
  const std::string model = FieldOf("/proc/cpuinfo", "model name");
  std::ifstream release("/proc/sys/kernel/osrelease");
  std::string kernel;
  std::getline(release, kernel);
  const std::time_t now = std::time(nullptr);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %Z", std::localtime(&now));
  Note("machine: " + std::to_string(std::thread::hardware_concurrency()) + " cores, " +
       (model.empty() ? std::string("unknown CPU") : model) + ", kernel " +
       (kernel.empty() ? std::string("unknown") : kernel) + ", " + date);
  Count("machine.cores", std::thread::hardware_concurrency(), "cores");
}

// A controller that answers after about 2 ms, its bytes paced at the line's 19200 bit/s.
QStringList PacedLine() {
  return {QStringLiteral("--latency"), QStringLiteral("2"), QStringLiteral("--pace")};
}

// The soak: one long drive with every fault the simulator has, log and probe on.
TPhase SoakPhase(int minutes) {
  const QStringList line = PacedLine();
  TPhase soak;
  soak.Name = "soak";
  soak.Title = "drive with 2% corrupt frames, junk, silent spells, warm-up, supply dips, log on";
  soak.SimArguments = line + QStringList{QStringLiteral("--scenario"),
                                         QStringLiteral("drive"),
                                         QStringLiteral("--corrupt"),
                                         QStringLiteral("0.02"),
                                         QStringLiteral("--junk"),
                                         QStringLiteral("0.02"),
                                         QStringLiteral("--silent-every"),
                                         QStringLiteral("60"),
                                         QStringLiteral("--silent-for"),
                                         QStringLiteral("3"),
                                         QStringLiteral("--warmup"),
                                         QStringLiteral("5"),
                                         QStringLiteral("--dip"),
                                         QStringLiteral("--seed"),
                                         QStringLiteral("7")};
  soak.Log = true;
  soak.Aligned = false;
  soak.Seconds = minutes * 60.0;
  soak.Soak = true;
  soak.StallProbe = true;
  return soak;
}

void SoakVerdicts(const TPhaseResult& r) {
  Verdict("soak: log rows well formed, rows and chart steps as the rules give", r.RowsOk,
          "see soak.log_* and soak.chart_steps*");
  Verdict("soak: resident memory under 40 MB", r.RssEnd < 40,
          Fixed(r.RssEnd, 1) + " MB at the end");
  Verdict("soak: memory flat (growth under 1 MB)", r.RssEnd - r.RssStart < 1,
          Fixed(r.RssEnd - r.RssStart) + " MB");
  Verdict("soak: no byte or request lost or invented", r.FramesBalance,
          "see soak.bytes_* and soak.handler_*");
}

// The suite's phases in the order they run, those named in `only` (all when it is empty).
std::vector<TPhase> SuitePhases(double seconds, const QStringList& only) {
  auto wanted = [&](const char* name) {
    return only.isEmpty() || only.contains(QString::fromLatin1(name));
  };
  const QStringList line = PacedLine();
  const QStringList liveLine =
      line + QStringList{QStringLiteral("--corrupt"), QStringLiteral("0.02"),
                         QStringLiteral("--seed"), QStringLiteral("1")};
  std::vector<TPhase> phases;
  TPhase live;
  live.Name = "live";
  live.Title = "controller answering, 2% corrupt frames, normal rate (100 ms), log on";
  live.SimArguments = liveLine;
  live.Log = true;
  live.Seconds = seconds;
  if (wanted("live")) phases.push_back(live);

  TPhase fast = live;
  fast.Name = "fast";
  fast.Title = "the same at the FAST rate (80 ms), log on";
  fast.Fast = true;
  if (wanted("fast")) phases.push_back(fast);

  TPhase silent;
  silent.Name = "silent";
  silent.Title = "controller that never answers, log off";
  // A silent spell of all but the first millisecond of a day.
  silent.SimArguments =
      line + QStringList{QStringLiteral("--silent-every"), QStringLiteral("86400"),
                         QStringLiteral("--silent-for"), QStringLiteral("86399.999")};
  silent.ExpectLive = false;
  silent.Seconds = seconds;
  if (wanted("silent")) phases.push_back(silent);

  TPhase spew;
  spew.Name = "spew";
  spew.Title = "line spewing junk without a frame at 19200 bit/s, log off";
  spew.SimArguments = {QStringLiteral("--spew")};
  spew.ExpectLive = false;
  spew.Aligned = false;
  spew.Conserves = false;
  spew.Seconds = seconds;
  if (wanted("spew")) phases.push_back(spew);

  TPhase busy = live;
  busy.Name = "busy";
  busy.Title = "the live run with the driver's waits made busy loops (yardstick)";
  busy.BusyLoop = true;
  if (wanted("busy")) phases.push_back(busy);

  TPhase stall = fast;
  stall.Name = "stall";
  stall.Title = "the FAST live run again with a 10 ms probe timer watching the GUI thread";
  stall.StallProbe = true;
  if (wanted("stall")) phases.push_back(stall);

  // The two programs the window's wake-ups are compared with, each on a simulator of its own
  // with the live line: kestlog at NORMAL, and the plainest pyserial poller as the baseline.
  TPhase kestlog = live;
  kestlog.Name = "kestlog";
  kestlog.Title = "kestlog as a child process, normal rate, rows to a file";
  kestlog.Subject = TSubject::Kestlog;
  if (wanted("kestlog")) phases.push_back(kestlog);

  TPhase baseline = live;
  baseline.Name = "baseline";
  baseline.Title = "pyserial poller asking once per sample (baseline), every 100 ms";
  baseline.Subject = TSubject::Baseline;
  if (wanted("baseline")) phases.push_back(baseline);
  return phases;
}

// The suite's targets, each judged only when the phases it needs ran.
void SuiteVerdicts(std::map<std::string, TPhaseResult>& results, double rssEnd) {
  Note("targets:");
  auto has = [&](const char* name) { return results.count(name) != 0; };
  if (has("live") && has("busy")) {
    const double ratio = results["busy"].CpuPercent / std::max(results["live"].CpuPercent, 1e-9);
    Figure("busy_to_live_ratio", ratio, "x", 1);
    Verdict("waits at least 20 times cheaper than the busy loop", ratio >= 20,
            Fixed(ratio, 1) + " x");
  }
  if (has("fast"))
    Verdict("under 1% of a core live at FAST", results["fast"].CpuPercent < 1,
            Fixed(results["fast"].CpuPercent, 3) + " %core");
  if (has("live"))
    Verdict("under 1% of a core live at NORMAL", results["live"].CpuPercent < 1,
            Fixed(results["live"].CpuPercent, 3) + " %core");
  if (has("silent"))
    Verdict("under 0.3% of a core silent", results["silent"].CpuPercent < 0.3,
            Fixed(results["silent"].CpuPercent, 3) + " %core");
  for (const auto& [name, nominal] :
       {std::pair<const char*, double>{"live", 10.0}, {"fast", 12.5}}) {
    if (!has(name)) continue;
    const TPhaseResult& r = results[name];
    Verdict(std::string(name) + ": chart samples within 1% of " + Fixed(nominal, 1) + "/s",
            std::abs(r.ChartRate - nominal) <= nominal * 0.01, Fixed(r.ChartRate, 3) + "/s");
    Verdict(std::string(name) + ": log rows within 1% of " + Fixed(nominal, 1) + "/s",
            std::abs(r.LogRate - nominal) <= nominal * 0.01, Fixed(r.LogRate, 3) + "/s");
    Note(std::string(name) + ": longest handlers: receive " + Fixed(r.Times.ReceiveMs) +
         " ms, sample tick " + Fixed(r.Times.SampleTickMs) + " ms, watchdog " +
         Fixed(r.Times.WatchdogMs) + " ms");
    Verdict(std::string(name) + ": first live reading within 0.6 s", r.FirstReadingSeconds <= 0.6,
            Fixed(r.FirstReadingSeconds, 3) + " s");
    Verdict(std::string(name) + ": memory flat over the run (growth under 1 MB)",
            r.RssEnd - r.RssStart < 1, Fixed(r.RssEnd - r.RssStart) + " MB");
    Verdict(std::string(name) + ": frames, bytes and requests balance", r.FramesBalance,
            "see " + std::string(name) + ".frames_*");
    Verdict(std::string(name) + ": log rows well formed and as the rules give", r.RowsOk,
            "see " + std::string(name) + ".log_*");
  }
  if (has("stall"))
    Verdict("longest stall of the GUI thread under 10 ms (probe timer, FAST, live)",
            results["stall"].MaxLateMs < 10,
            Fixed(results["stall"].MaxLateMs, 1) + " ms; 99% of probes within " +
                Fixed(results["stall"].StallP99) + " ms; " +
                std::to_string(results["stall"].StallsOver10) + " of " +
                std::to_string(results["stall"].StallProbes) + " probes late by 10 ms or more");
  Verdict("resident memory under 40 MB at the end", rssEnd < 40, Fixed(rssEnd, 1) + " MB");
  for (const char* name : {"live", "kestlog", "baseline"}) {
    if (!has(name)) continue;
    Note(std::string("wake-ups and CPU side by side: ") + name + " " +
         Fixed(results[name].WakeupsPerSample) + " per sample, " +
         Fixed(results[name].CpuPercent, 3) + " %core");
  }
  if (has("live"))
    Verdict("the window at most 7 wake-ups per sample", results["live"].WakeupsPerSample <= 7,
            Fixed(results["live"].WakeupsPerSample) + " per sample");
  if (has("kestlog"))
    Verdict("kestlog at most 7 wake-ups per sample", results["kestlog"].WakeupsPerSample <= 7,
            Fixed(results["kestlog"].WakeupsPerSample) + " per sample");
  if (has("kestlog") && has("baseline"))
    Verdict("kestlog's CPU at most the baseline's",
            results["kestlog"].CpuPercent <= results["baseline"].CpuPercent,
            Fixed(results["kestlog"].CpuPercent, 3) + " against " +
                Fixed(results["baseline"].CpuPercent, 3) + " %core");
}

}  // namespace

}  // namespace bench

int main(int argc, char** argv) {
  // Before the application exists: the window is drawn but never shown on a screen.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kest-bench"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Measures the monitor window against the simulated controller (kestsim, run as a child)."));
  parser.addHelpOption();
  const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                         QStringLiteral("Seconds measured per phase (30)."),
                                         QStringLiteral("N"), QStringLiteral("30"));
  const QCommandLineOption quickOption(QStringLiteral("quick"),
                                       QStringLiteral("A smoke run: 3 s per phase."));
  const QCommandLineOption soakOption(
      QStringLiteral("soak"),
      QStringLiteral("Only the soak: a drive with faults, log on, for MINUTES minutes."),
      QStringLiteral("MINUTES"));
  const QCommandLineOption onlyOption(
      QStringLiteral("only"),
      QStringLiteral("Only these phases, comma-separated: "
                     "live,fast,silent,spew,busy,stall,kestlog,baseline."),
      QStringLiteral("LIST"));
  const QCommandLineOption simOption(QStringLiteral("kestsim"),
                                     QStringLiteral("The simulator (default: next to kest-bench)."),
                                     QStringLiteral("PATH"));
  parser.addOptions({secondsOption, quickOption, soakOption, onlyOption, simOption});
  parser.process(application);

  const QString simProgram =
      parser.isSet(simOption)
          ? parser.value(simOption)
          : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestsim"));
  if (!QFile::exists(simProgram)) {
    std::fprintf(stderr, "kest-bench: no simulator at %s\n", qPrintable(simProgram));
    return 2;
  }
  bool ok = true;
  double seconds = parser.value(secondsOption).toDouble(&ok);
  if (!ok || seconds < 1) {
    std::fprintf(stderr, "kest-bench: --seconds wants a number of at least 1\n");
    return 2;
  }
  if (parser.isSet(quickOption)) seconds = 3;

  using bench::TPhase;
  bench::PrintMachine();
  const QDir here(QCoreApplication::applicationDirPath());
  bench::TBench bench(simProgram, here.filePath(QStringLiteral("kestlog")),
                      here.filePath(QStringLiteral("kest-baseline-poller.py")));

  if (parser.isSet(soakOption)) {
    const int minutes = parser.value(soakOption).toInt(&ok);
    if (!ok || minutes < 1) {
      std::fprintf(stderr, "kest-bench: --soak wants whole minutes, at least 1\n");
      return 2;
    }
    const bench::TPhaseResult r = bench.Run(bench::SoakPhase(minutes));
    if (!r.Ran) return 1;
    bench::SoakVerdicts(r);
    return 0;
  }

  const QStringList only = parser.value(onlyOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
  std::map<std::string, bench::TPhaseResult> results;
  std::vector<TPhase> children;
  for (const TPhase& phase : bench::SuitePhases(seconds, only)) {
    if (phase.Subject != bench::TSubject::Window) {
      children.push_back(phase);  // run together once the window's phases are done
      continue;
    }
    results[phase.Name] = bench.Run(phase);
    if (!results[phase.Name].Ran) return 1;
  }
  if (!children.empty()) {
    const std::vector<bench::TPhaseResult> childResults = bench.RunChildren(children);
    if (childResults.size() != children.size()) return 1;
    for (std::size_t i = 0; i < children.size(); ++i) results[children[i].Name] = childResults[i];
  }
  const double rssEnd = bench::ResidentMegabytes();
  bench::Figure("process.rss_end", rssEnd, "MB", 1);
  bench::SuiteVerdicts(results, rssEnd);
  return 0;
}
