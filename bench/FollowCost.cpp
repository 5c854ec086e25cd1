// The cost of following: see FollowCost.h.
#include "bench/FollowCost.h"

#include <QByteArray>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bench/Figures.h"
#include "bench/ProcReader.h"

namespace bench {

namespace {

// Appends to both logs as the engine software and kestlog write them, until stopped; keeps the
// time each engine record was appended (its number is its index plus one).
class TLogWriter {
 public:
  TLogWriter(const QString& engine, const QString& ours)
      : Engine(engine.toStdString()), Ours(ours.toStdString()) {
    Engine << "Time (s),RPM (rpm),MAP (kPa),AFR (AFR)\n" << std::flush;
    Ours << "time,reading,afr,lambda,volts,temp,status\n" << std::flush;
    Thread = std::thread([this] { Run(); });
  }
  ~TLogWriter() {
    Stop = true;
    Thread.join();
  }
  // When record `number` (from 1) was appended; none before it was.
  std::optional<TClock::time_point> AppendedAt(std::size_t number) {
    const std::lock_guard<std::mutex> lock(Mutex);
    if (number == 0 || number > Appended.size()) return std::nullopt;
    return Appended[number - 1];
  }

 private:
  void Run() {
    const TClock::time_point start = TClock::now();
    const std::time_t wallStart = std::time(nullptr);
    std::size_t records = 0, rows = 0;
    while (!Stop) {
      const double t = std::chrono::duration<double>(TClock::now() - start).count();
      for (; records < t * 20; ++records) {
        char line[64];
        std::snprintf(line, sizeof line, "%.2f,%zu,%zu,%.1f\n", records / 20.0,
                      1000 + records % 200 * 20, 30 + records % 70, 13 + records % 30 / 10.0);
        Engine << line << std::flush;
        const std::lock_guard<std::mutex> lock(Mutex);
        Appended.push_back(TClock::now());
      }
      for (; rows < t * 10; ++rows) {
        const std::time_t second = wallStart + static_cast<std::time_t>(rows / 10);
        std::tm utc{};
        gmtime_r(&second, &utc);
        char line[96];
        std::snprintf(line, sizeof line,
                      "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ,14.0,14.0,0.95,13.8,0,live\n",
                      utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                      utc.tm_sec, static_cast<int>(rows % 10 * 100));
        Ours << line << std::flush;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::ofstream Engine, Ours;
  std::mutex Mutex;
  std::vector<TClock::time_point> Appended;
  std::atomic<bool> Stop{false};
  std::thread Thread;
};

void Settle(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

}  // namespace

void FollowCostPhase(const QString& kestview, double seconds) {
  // The window: its CPU after it settled, with the table shown as it is by default.
  {
    QTemporaryDir dir;
    TLogWriter writer(dir.filePath("engine.csv"), dir.filePath("ours.csv"));
    Settle(2);
    QProcess window;
    window.start(kestview, {"--follow", dir.filePath("ours.csv"), dir.filePath("engine.csv")});
    if (!window.waitForStarted()) {
      Note("follow: kestview did not start");
      return;
    }
    Settle(5);
    const TProcessTally before = TallyOf(window.processId());
    const TClock::time_point from = TClock::now();
    Settle(seconds);
    const TProcessTally after = TallyOf(window.processId());
    const double wall = SecondsSince(from);
    window.kill();
    window.waitForFinished();
    const double share = 100 * (after.CpuSeconds - before.CpuSeconds) / wall;
    Figure("viewer.follow_window_cpu", share, "% of one core", 2);
    Target("viewer.follow_window_cpu_target", share <= 3, "at most 3 % of one core");
  }
  // The lines: from each record's append to the first line that counts it.
  QTemporaryDir dir;
  TLogWriter writer(dir.filePath("engine.csv"), dir.filePath("ours.csv"));
  Settle(2);
  QProcess lines;
  lines.start(kestview, {"--table", "--follow", "--json", "--align", "none", "--seconds",
                         QString::number(static_cast<int>(seconds) + 5), "--x-bins",
                         "1000,2000,3000,4000,5000", "--y-bins", "30,50,70,90,110",
                         dir.filePath("ours.csv"), dir.filePath("engine.csv")});
  std::vector<std::pair<TClock::time_point, std::size_t>> seen;  // a line's arrival, its records
  const TClock::time_point from = TClock::now();
  while (SecondsSince(from) < seconds + 5 && lines.state() != QProcess::NotRunning) {
    if (!lines.waitForReadyRead(200)) continue;
    while (lines.canReadLine()) {
      const QJsonObject line = QJsonDocument::fromJson(lines.readLine()).object();
      if (line.contains("records")) {
        seen.emplace_back(TClock::now(), static_cast<std::size_t>(line["records"].toInt()));
      }
    }
  }
  lines.kill();
  lines.waitForFinished();
  std::vector<double> delays;
  for (std::size_t number = 1;; ++number) {
    const std::optional<TClock::time_point> appended = writer.AppendedAt(number);
    if (!appended || seen.empty() || *appended > seen.back().first) break;
    if (*appended < from + std::chrono::seconds(5)) continue;  // past the start
    const auto line = std::find_if(seen.begin(), seen.end(), [&](const auto& s) {
      return s.second >= number && s.first >= *appended;
    });
    if (line != seen.end()) delays.push_back(MsBetween(*appended, line->first) / 1000);
  }
  if (delays.empty()) {
    Note("follow: no line counted a record appended after the start");
    return;
  }
  std::sort(delays.begin(), delays.end());
  Count("viewer.follow_records_timed", delays.size(), "records");
  Figure("viewer.follow_delay_median", delays[delays.size() / 2], "s", 2);
  Figure("viewer.follow_delay_max", delays.back(), "s", 2);
  Target("viewer.follow_delay_target", delays.back() <= 1.5, "at most 1.5 s");
}

}  // namespace bench
