// kest-bench's runs of the window and of the child programs.
#include "bench/Bench.h"

#include <QFile>
#include <QProcess>
#include <cstdio>
#include <memory>

#include "bench/EventLoop.h"
#include "bench/Figures.h"
#include "bench/LogCheck.h"
#include "bench/ProcReader.h"
#include "bench/SimChild.h"
#include "bench/WindowSession.h"

namespace bench {

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

TPhaseResult TBench::Run(const TPhase& phase) {
  Note("phase " + phase.Name + ": " + phase.Title + ", kestsim " +
       phase.SimArguments.join(QLatin1Char(' ')).toStdString());
  TWindowSession session(phase, Folder.filePath(QString::fromStdString(phase.Name) + ".txt"));
  if (!session.SetUp(SimProgram)) return {};
  if (!session.Measure()) return {};
  session.Drain();
  return session.Report();
}

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

}  // namespace bench
