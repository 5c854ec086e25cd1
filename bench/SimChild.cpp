// Starting and stopping kestsim, and reading what it prints.
#include "bench/SimChild.h"

#include <QRegularExpression>

namespace bench {

namespace {

constexpr int StartWaitMs = 5000;
constexpr int StopWaitMs = 5000;

}  // namespace

TSimChild::~TSimChild() {
  if (Process.state() != QProcess::NotRunning) {
    Process.terminate();
    if (!Process.waitForFinished(StopWaitMs)) {
      Process.kill();
      Process.waitForFinished(StopWaitMs);
    }
  }
}

bool TSimChild::Start(const QString& program, const QStringList& arguments) {
  // Its complaints go straight to our standard error; its standard output is ours to read.
  Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  Process.start(program, arguments);
  if (!Process.waitForStarted(StartWaitMs)) {
    FError = QStringLiteral("cannot start %1: %2").arg(program, Process.errorString());
    return false;
  }
  while (!Process.canReadLine()) {
    if (!Process.waitForReadyRead(StartWaitMs)) {
      FError = QStringLiteral("%1 printed no device path").arg(program);
      return false;
    }
  }
  FDevicePath = QString::fromLocal8Bit(Process.readLine()).trimmed();
  if (FDevicePath.isEmpty()) {
    FError = QStringLiteral("%1 printed an empty device path").arg(program);
    return false;
  }
  return true;
}

std::optional<sim::TSimCounters> TSimChild::Stop() {
  if (Process.state() == QProcess::NotRunning) return std::nullopt;
  Process.terminate();
  if (!Process.waitForFinished(StopWaitMs)) return std::nullopt;
  const QStringList lines =
      QString::fromLocal8Bit(Process.readAllStandardOutput()).split(QLatin1Char('\n'));
  for (const QString& line : lines) {
    if (auto counters = ParseSummaryLine(line)) return counters;
  }
  return std::nullopt;
}

std::optional<sim::TSimCounters> ParseSummaryLine(const QString& line) {
  static const QRegularExpression form(QStringLiteral(
      "^requests (\\d+), frames (\\d+), corrupted (\\d+), junk bytes (\\d+), silent (\\d+), "
      "other bytes (\\d+), dropped (\\d+)$"));
  const QRegularExpressionMatch match = form.match(line.trimmed());
  if (!match.hasMatch()) return std::nullopt;
  auto at = [&](int i) { return match.captured(i).toULongLong(); };
  sim::TSimCounters counters;
  counters.RequestsSeen = at(1);
  counters.FramesSent = at(2);
  counters.FramesCorrupted = at(3);
  counters.JunkBytesSent = at(4);
  counters.SilentRequestsIgnored = at(5);
  counters.OtherBytesIgnored = at(6);
  counters.AnswersDropped = at(7);
  return counters;
}

}  // namespace bench
