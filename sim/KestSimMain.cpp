// kestsim: the simulated controller box as a program of its own, for trying the monitor without
// hardware and for scripts that drive it from outside.
#include <QCoreApplication>
#include <QSaveFile>
#include <chrono>
#include <csignal>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/CommandLine.h"
#include "sim/EngineLogWriter.h"
#include "sim/FuelTable.h"
#include "sim/KestSimulator.h"
#include "sim/SimOptions.h"

namespace {

volatile std::sig_atomic_t StopSignal = 0;

extern "C" void OnStopSignal(int) { StopSignal = 1; }

}  // namespace

int main(int argc, char** argv) {
  // For the command-line parser's help text, which names the program; nothing runs on its loop.
  QCoreApplication application(argc, argv);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string error;
  const std::optional<sim::TSimOptions> options = sim::ParseSimOptions(arguments, error);
  if (const std::optional<int> exit =
          platform::AnswerCommandLine(options, error, {"kestsim", "\n", sim::SimUsage(), ""})) {
    return *exit;
  }

  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  sim::TKestSimulator simulator(options->Config);
  if (!simulator.Start()) {
    std::cerr << "kestsim: " << simulator.LastError() << std::endl;
    return 1;
  }
  // The engine side of the drive, written from this thread in buffered pieces: the box's own
  // thread and its pacing never wait for the disk.
  sim::TEngineLogRecorder engineLog(options->Config, options->EngineLog);
  const bool withEngineLog = !options->EngineLog.Path.empty();
  if (withEngineLog && !engineLog.OpenAt(simulator.StartedAt())) {
    simulator.Stop();
    std::cerr << "kestsim: " << engineLog.LastError() << std::endl;
    return 1;
  }
  if (!options->TunePath.empty()) {
    // Written whole before the device is named, so a script that waits for the device finds it.
    const sim::TSimConfig& config = options->Config;
    const std::string text = sim::TuneMsqText(
        config.VeTable ? *config.VeTable : sim::BuiltInVeTable(), sim::BuiltInAfrTargetTable());
    QSaveFile tune(QString::fromStdString(options->TunePath));
    if (!tune.open(QIODevice::WriteOnly) ||
        tune.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !tune.commit()) {
      simulator.Stop();
      std::cerr << "kestsim: cannot write " << options->TunePath << ": "
                << tune.errorString().toStdString() << std::endl;
      return 1;
    }
  }
  // Flushed at once: a script waits for this line before it opens the device.
  std::cout << simulator.SlavePath() << std::endl;

  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration<double>(options->Seconds);
  while (StopSignal == 0 && simulator.IsRunning()) {
    if (options->Seconds > 0 && std::chrono::steady_clock::now() - start >= limit) break;
    if (withEngineLog && engineLog.LastError().empty() &&
        !engineLog.CatchUpTo(std::chrono::steady_clock::now())) {
      // Told at once; the box goes on answering, and the exit status says it later.
      std::cerr << "kestsim: " << engineLog.LastError() << "; the engine log ends here"
                << std::endl;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const bool lineLost = !simulator.IsRunning();
  // Stopped before the summary is printed: if stdout has gone away and the write kills us, the
  // link is already removed and the device closed.
  simulator.Stop();
  const bool engineLogFailedBefore = !engineLog.LastError().empty();
  if (withEngineLog) {
    engineLog.CatchUpTo(std::chrono::steady_clock::now());
    engineLog.Close();
  }
  std::cout << sim::SummaryLine(simulator.Counters()) << std::endl;
  if (!engineLog.LastError().empty()) {
    if (!engineLogFailedBefore) std::cerr << "kestsim: " << engineLog.LastError() << std::endl;
    return 1;
  }
  if (lineLost) {
    std::cerr << "kestsim: the device went away" << std::endl;
    return 1;
  }
  return 0;
}
