// One phase of the monitor window in this process: the simulator as a child, the real serial
// backend tapped for the frame accounting, the window drawn offscreen, and the engine watched
// through its probe (monitor/EngineProbe.h).
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

#include "bench/BenchSerialApi.h"
#include "bench/Figures.h"
#include "bench/FrameAccounting.h"
#include "bench/Phases.h"
#include "bench/SimChild.h"
#include "monitor/EngineProbe.h"
#include "ui/Kest3GraphMain.h"

namespace bench {

// The desktop as the benchmark plays it: the save dialog answers with the benchmark's file, the
// program is in front, errors are printed and counted.
class TBenchServices : public ui::TUiServices {
 public:
  QString LogPath;
  bool Active = true;
  int Errors = 0;

  std::optional<QString> AskSaveFileName(QWidget*, const ui::TSaveDialogOptions&) override;
  void ShowError(QWidget*, const QString& message) override;
  void ShowErrorAndWait(QWidget* parent, const QString& message) override {
    ShowError(parent, message);
  }
  void Beep() override {}
  bool IsApplicationActive() override { return Active; }
};

// The GUI thread's responsiveness as a 10 ms timer sees it: its worst lateness is the longest
// the thread was kept from its event loop. Its own 100 wake-ups a second cost more than the
// monitor itself on a small virtual machine, so it runs only in the phase that asks for it.
class TStallProbe : public QObject {
 public:
  TStallProbe();
  void Start();
  void Stop() { Timer.stop(); }
  double MaxLateMs = 0;
  THistogram Lateness;

 private:
  static constexpr int ProbeIntervalMs = 10;
  void OnProbe();
  QTimer Timer;
  std::optional<TClock::time_point> LastFire;
};

// What the sample ticks did and should have done by the rules, counted while measuring.
struct TTickCounts {
  std::uint64_t Ticks = 0;
  std::uint64_t Steps = 0;
  std::uint64_t ExpectedRows = 0;   // port open, not warming up, logging
  std::uint64_t ExpectedSteps = 0;  // port open, not warming up, reading live
  std::uint64_t WarmupTicks = 0;
  std::uint64_t OfflineTicks = 0;  // port open, warm, reading not live
};

// In the order it runs: set-up (simulator, backend, window, the probe, the wait for the steady
// state), the measured stretch, the drain, the report.
class TWindowSession : private monitor::TEngineProbe {
 public:
  TWindowSession(const TPhase& phase, QString logPath)
      : Phase(phase), LogPath(std::move(logPath)), Accounting(phase.Aligned) {}
  ~TWindowSession() override;

  // False, having said why on standard error, when the port does not open or the reading never
  // goes live.
  bool SetUp(const QString& simProgram);
  // False when the log was asked for and did not start.
  bool Measure();
  void Drain();
  TPhaseResult Report();

 private:
  // The engine's handlers, seen from its probe: timed, counted, and the receive's bytes replayed.
  void HandlerBegins(monitor::THandler handler, const monitor::TMonitorState& state) override;
  void HandlerEnds(monitor::THandler handler, const monitor::TMonitorState& state) override;
  void CountTick(const monitor::TMonitorState& state);
  void CheckFirstReading();
  void ReportTimes(const TPhaseResult& result);
  void ReportLog(TPhaseResult& result);

  const TPhase& Phase;
  QString LogPath;
  TSimChild Simulator;
  std::unique_ptr<platform::TSerialApi> System;
  std::unique_ptr<TBenchSerialApi> Api;
  TFrameAccounting Accounting;
  TBenchServices Services;
  TClock::time_point Created;
  std::unique_ptr<ui::TKest3GraphMain> Window;
  TStallProbe Probe;
  std::optional<double> FirstReading;

  bool Measuring = false;
  TTickCounts Ticks;
  THandlerTimes Times;
  int ChartXBefore = 0;
  TClock::time_point Begun[3];  // by handler

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

}  // namespace bench
