// Logs for the viewer's tests, written by the writers' own row functions.
#pragma once

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "log/CsvLog.h"
#include "log/RowFormat.h"

namespace viewertest {

// An extended log: one row per entry of `afrBytes`, `interval` seconds apart from 10:00:00 UTC on
// 2026-12-08, plus `gapAfter` seconds of silence after row `gapIndex` (none when negative).
inline std::string ExtendedLog(const std::vector<int>& afrBytes, const std::vector<double>& volts,
                               double interval, int gapIndex = -1, double gapAfter = 0) {
  std::string text = std::string(csvlog::ExtendedHeader) + "\r\n";
  double time = 36000;
  for (std::size_t i = 0; i < afrBytes.size(); ++i) {
    const long ms = std::lround(time * 1000);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "2026-12-08T%02ld:%02ld:%02ld.%03ld+00:00", ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    csvlog::TSample sample;
    sample.Frame.AfrByte = static_cast<std::uint8_t>(afrBytes[i]);
    sample.Frame.TempByte = 20;
    sample.SupplyVolts = volts[i];
    sample.Status = csvlog::TRowStatus::Live;
    text += csvlog::ExtendedRow(stamp, sample) + "\r\n";
    time += interval;
    if (static_cast<int>(i) == gapIndex) time += gapAfter;
  }
  return text;
}

// A classic log with ten rows a second from `startSecond`, the reading text alternating between
// `readings` row by row (so that no run of equal rows looks like a silent controller).
inline std::string ClassicLog(int startSecond, int seconds,
                              const std::vector<std::string>& readings,
                              const std::string& volts = "13.0") {
  std::string text = csvlog::LogHeaderLine1("12/08/26") + "\r\n" + csvlog::LogHeaderLine2 + "\r\n";
  std::size_t row = 0;
  for (int s = startSecond; s < startSecond + seconds; ++s) {
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", s / 3600 % 24, s / 60 % 60, s % 60);
    for (int i = 0; i < 10; ++i) {
      text += csvlog::LogRow(time, readings[row++ % readings.size()], volts) + "\r\n";
    }
  }
  return text;
}

inline bool WriteFile(const QString& path, const std::string& text) {
  std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

inline bool AppendFile(const QString& path, const std::string& text) {
  std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "ab");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// What a run of kestview left behind.
struct TRun {
  int Exit = -1;  // -1: it did not finish or crashed
  std::string Out;
  std::string Err;
};

// The environment kestview runs in as a user runs it, in UTC and the C locale, so that no answer
// depends on the machine's zone or language, with `configFolder` as the user's settings folder (by
// default one that does not exist: the machine's own channels.conf must not change an answer).
inline QProcessEnvironment KestviewEnvironment(QString configFolder = QString()) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  if (configFolder.isEmpty()) configFolder = QDir::temp().filePath("kestview-test-no-settings");
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder);
  environment.insert(QStringLiteral("APPDATA"), configFolder);
  environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
  environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
  return environment;
}

// kestview run to its end in that environment.
inline TRun RunKestview(const QStringList& arguments, QString configFolder = QString()) {
  QProcess process;
  process.setProcessEnvironment(KestviewEnvironment(std::move(configFolder)));
  process.start(QStringLiteral(KESTVIEW_PATH), arguments);
  TRun run;
  // Generous: the machine may be busy; no answer depends on how fast it is.
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return run;
  }
  if (process.exitStatus() == QProcess::NormalExit) run.Exit = process.exitCode();
  run.Out = process.readAllStandardOutput().toStdString();
  run.Err = process.readAllStandardError().toStdString();
  return run;
}

}  // namespace viewertest
