// kestsim as a child process of the benchmark, so that the simulated box's work never counts as
// the monitor's: the benchmark measures its own process only.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <optional>

#include "sim/KestSimulator.h"

namespace bench {

class TSimChild {
 public:
  // Stops the child if it still runs.
  ~TSimChild();

  // Starts `program` with `arguments` and waits for the device path it prints first. False, with
  // Error() saying why, when it does not start or prints no path within a few seconds.
  bool Start(const QString& program, const QStringList& arguments);
  const QString& DevicePath() const { return FDevicePath; }
  const QString& Error() const { return FError; }
  // The child's process id while it runs, else 0.
  qint64 ProcessId() const { return Process.processId(); }

  // Asks the child to stop (SIGTERM), waits for it and reads the summary line of its counters.
  // Nothing when it does not stop in time or prints no summary.
  std::optional<sim::TSimCounters> Stop();

 private:
  QProcess Process;
  QString FDevicePath;
  QString FError;
};

// The counters from kestsim's summary line; nothing when the line is not one.
std::optional<sim::TSimCounters> ParseSummaryLine(const QString& line);

}  // namespace bench
