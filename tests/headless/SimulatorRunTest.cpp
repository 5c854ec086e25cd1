// The windowless monitor in this process against the simulated box over a pseudo-terminal: the
// extended log, read back from disk, walks through warm-up, live, low volts and a silent spell as
// the box goes through them.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "headless/HeadlessMonitor.h"
#include "platform/PortMap.h"
#include "sim/KestSimulator.h"
#include "tests/headless/HeadlessSupport.h"

namespace {

// Runs the event loop until `done` holds or `deadlineMs` pass; true when it held. The deadline is
// only a guard against a hang: nothing depends on how soon the condition comes.
bool RunUntil(const std::function<bool()>& done, int deadlineMs) {
  QEventLoop loop;
  QElapsedTimer clock;
  clock.start();
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done() || clock.elapsed() > deadlineMs) loop.quit();
  });
  check.start(50);
  loop.exec();
  return done();
}

std::vector<std::string> Columns(const std::string& row) {
  std::vector<std::string> columns;
  std::size_t start = 0;
  for (std::size_t comma; (comma = row.find(',', start)) != std::string::npos; start = comma + 1)
    columns.push_back(row.substr(start, comma - start));
  columns.push_back(row.substr(start));
  return columns;
}

// The statuses in order, each run of equal ones counted once.
std::vector<std::string> StatusRuns(const std::vector<std::string>& rows) {
  std::vector<std::string> runs;
  for (const std::string& row : rows) {
    const std::string status = Columns(row).back();
    if (runs.empty() || runs.back() != status) runs.push_back(status);
  }
  return runs;
}

// warmup, then live, then lowvolts somewhere, then offline after having been live, then live again.
bool WalkedThrough(const std::vector<std::string>& runs) {
  std::size_t i = 0;
  auto next = [&](const std::string& word) {
    while (i < runs.size() && runs[i] != word) ++i;
    return i++ < runs.size();
  };
  bool lowVolts = false;
  for (const std::string& r : runs) lowVolts = lowVolts || r == "lowvolts";
  return lowVolts && next("warmup") && next("live") && next("offline") && next("live");
}

TEST(SimulatorRun, StatusColumnFollowsTheBox) {
  sim::TSimConfig config;
  config.ConstantAfr = 147;
  config.SupplyVolts = 13.8;
  config.Pace = true;
  config.WarmupSeconds = 1.0;
  config.Dip = true;  // 11.2 V from 2.8 to 4.0 s of every 4 s
  config.DipVolts = 11.2;
  config.DipEverySeconds = 4;
  config.DipForSeconds = 1.2;
  config.SilentEverySeconds = 8;  // silent from 5.5 to 8 s of every 8 s
  config.SilentForSeconds = 2.5;
  sim::TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  platform::TPortMap portMap;
  portMap.Map(1, simulator.SlavePath());
  const std::unique_ptr<platform::TSerialApi> serial = platform::CreateSystemSerialApi(portMap);

  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("run.csv")).toStdString();
  auto sink = std::make_unique<headless::TFileRowSink>(path);
  headless::TMonitorSettings settings;
  settings.Format = csvlog::TRowFormat::Extended;
  headless::THeadlessMonitor monitor(*serial, settings);
  ASSERT_TRUE(monitor.OpenPort());
  monitor.Start(*sink);

  auto rowsOnDisk = [&] {
    bool complete = false;
    std::vector<std::string> lines =
        headlesstest::CrLfLines(headlesstest::ReadWholeFile(path), complete);
    if (!lines.empty()) lines.erase(lines.begin());  // the header
    return lines;
  };
  // Every row is on disk as soon as it is written, so the file itself is watched.
  const bool walked = RunUntil([&] { return WalkedThrough(StatusRuns(rowsOnDisk())); }, 60000);
  monitor.Stop();
  sink->Close();
  const std::vector<std::string> rows = rowsOnDisk();
  const std::vector<std::string> runs = StatusRuns(rows);
  std::string seen;
  for (const std::string& r : runs) seen += r + " ";
  EXPECT_TRUE(walked) << "statuses seen: " << seen;

  bool complete = false;
  const std::vector<std::string> lines =
      headlesstest::CrLfLines(headlesstest::ReadWholeFile(path), complete);
  EXPECT_TRUE(complete);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], csvlog::ExtendedHeader);
  for (const std::string& row : rows) {
    const std::vector<std::string> c = Columns(row);
    ASSERT_EQ(c.size(), 7u) << row;
    const double volts = std::stod(c[4]);
    if (c[6] == "live") {
      EXPECT_EQ(c[1], "14.7") << row;
      EXPECT_GT(volts, 12.0) << row;
      EXPECT_LT(std::stoi(c[5]), 180) << row;
    } else if (c[6] == "lowvolts") {
      EXPECT_LT(volts, 12.1) << row;
    } else if (c[6] == "warmup") {
      EXPECT_GE(std::stoi(c[5]), 180) << row;
    }
  }
  EXPECT_GE(monitor.Stats().OfflineSpells, 1u);
  EXPECT_EQ(monitor.Stats().Rows, rows.size());
}

}  // namespace
