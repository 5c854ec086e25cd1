// kestlog as a user runs it: a child process against the simulated box on a pseudo-terminal. Both
// formats read back from disk, rows on standard output, the status line on a terminal, Ctrl-C and
// a kill leaving a whole file and a summary, and the exit codes of a bad command line.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <regex>
#include <sstream>

#include "platform/PseudoTerminal.h"
#include "sim/KestSimulator.h"
#include "tests/headless/HeadlessSupport.h"

namespace {

using headlesstest::CrLfLines;
using headlesstest::ReadWholeFile;

// Generous: the machine may be busy with other builds. No assertion depends on how fast it is.
constexpr int ProcessDeadlineMs = 60000;

sim::TSimConfig SteadyBox() {
  sim::TSimConfig config;
  config.ConstantAfr = 147;
  config.SupplyVolts = 13.8;
  config.Pace = true;
  return config;
}

struct TRun {
  int ExitCode = -1;
  bool Crashed = false;
  std::string Out;
  std::string Err;
};

// `configHome`, when given, is the program's XDG_CONFIG_HOME, where it keeps its port memory.
void Prepare(QProcess& process, const QStringList& arguments, const QString& configHome = {}) {
  process.setProgram(QStringLiteral(KESTLOG_PROGRAM));
  process.setArguments(arguments);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));  // known time formats
  if (!configHome.isEmpty()) environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
  process.setProcessEnvironment(environment);
}

TRun Finish(QProcess& process) {
  TRun run;
  const bool finished =
      process.state() == QProcess::NotRunning || process.waitForFinished(ProcessDeadlineMs);
  EXPECT_TRUE(finished) << "kestlog did not finish";
  if (!finished) {
    process.kill();
    process.waitForFinished();
  }
  run.Crashed = process.exitStatus() != QProcess::NormalExit;
  run.ExitCode = process.exitCode();
  run.Out = process.readAllStandardOutput().toStdString();
  run.Err = process.readAllStandardError().toStdString();
  return run;
}

TRun RunKestlog(const QStringList& arguments, const QString& configHome = {}) {
  QProcess process;
  Prepare(process, arguments, configHome);
  process.start();
  EXPECT_TRUE(process.waitForStarted(ProcessDeadlineMs)) << KESTLOG_PROGRAM;
  return Finish(process);
}

// The number after "rows written:" in the summary; -1 when there is none.
long SummaryRows(const std::string& text) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(R"(rows written: +(\d+) )"))) return -1;
  return std::stol(match[1]);
}

std::vector<std::string> DataRows(const std::vector<std::string>& lines, std::size_t header) {
  return std::vector<std::string>(lines.begin() + std::min(header, lines.size()), lines.end());
}

// ---- both formats, read back ----

struct TFormatCase {
  const char* Name;
  QStringList Options;
  std::size_t HeaderLines;
  const char* Header;  // the last header line
  const char* Row;     // what every row (or every live row) must match
  bool ExtendedRows;
};

class KestLogFormatTest : public testing::TestWithParam<TFormatCase> {};

TEST_P(KestLogFormatTest, RowsReadBackFromTheFile) {
  const TFormatCase& c = GetParam();
  sim::TKestSimulator simulator(SteadyBox());
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("log.csv"));
  QStringList arguments = {
      QStringLiteral("--port"),    QString::fromStdString(simulator.SlavePath()),
      QStringLiteral("--output"),  path,
      QStringLiteral("--seconds"), QStringLiteral("2.5")};
  arguments += c.Options;
  const TRun run = RunKestlog(arguments);
  ASSERT_FALSE(run.Crashed);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;

  bool complete = false;
  const std::vector<std::string> lines = CrLfLines(ReadWholeFile(path.toStdString()), complete);
  EXPECT_TRUE(complete) << "every line ends in CR LF";
  ASSERT_GT(lines.size(), c.HeaderLines);
  EXPECT_EQ(lines[c.HeaderLines - 1], c.Header);
  if (c.HeaderLines == 2) {
    EXPECT_EQ(lines[0].rfind("Torvane KEST datalog.  ", 0), 0u);
  }
  const std::vector<std::string> rows = DataRows(lines, c.HeaderLines);
  const std::regex form(c.Row);
  std::size_t matching = 0;
  QDateTime previous;
  for (const std::string& row : rows) {
    if (c.ExtendedRows) {
      // Every row carries its time; only live rows carry the box's steady reading.
      const std::regex any(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,[0-9.]+,[0-9.]+,)"
                           R"([0-9.]+,[0-9.]+,\d+,(live|warmup|offline|lowvolts))");
      EXPECT_TRUE(std::regex_match(row, any)) << row;
      const QDateTime when = QDateTime::fromString(
          QString::fromStdString(row.substr(0, row.find(','))), Qt::ISODateWithMs);
      EXPECT_TRUE(when.isValid()) << row;
      if (previous.isValid()) {
        EXPECT_GE(when, previous) << row;
      }
      previous = when;
      if (std::regex_match(row, form)) ++matching;
    } else {
      EXPECT_TRUE(std::regex_match(row, form)) << row;
      ++matching;
    }
  }
  EXPECT_GE(matching, 5u) << "about 25 samples in 2.5 s; a handful is enough to be sure";
  EXPECT_EQ(SummaryRows(run.Out), static_cast<long>(rows.size())) << run.Out;
  EXPECT_EQ(run.Out.find('\x1b'), std::string::npos) << "no status line off a terminal";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, KestLogFormatTest,
    testing::Values(TFormatCase{"Classic",
                                {},
                                2,
                                "Time, AFR or LAMBDA, Supply volts",
                                R"(\d\d:\d\d:\d\d,14\.7,13\.8)",
                                false},
                    TFormatCase{"ClassicLambda",
                                {QStringLiteral("--lambda")},
                                2,
                                "Time, AFR or LAMBDA, Supply volts",
                                R"(\d\d:\d\d:\d\d,1\.00,13\.8)",
                                false},
                    TFormatCase{"ClassicMethanolFast",
                                {QStringLiteral("--fuel"), QStringLiteral("methanol"),
                                 QStringLiteral("--fast")},
                                2,
                                "Time, AFR or LAMBDA, Supply volts",
                                R"(\d\d:\d\d:\d\d,6\.4,13\.8)",
                                false},
                    TFormatCase{"Extended",
                                {QStringLiteral("--format"), QStringLiteral("extended")},
                                1,
                                "time,reading,afr,lambda,volts,temp,status",
                                R"([^,]+,14\.7,14\.7,1\.000,13\.80,\d+,live)",
                                true},
                    TFormatCase{
                        "ExtendedPropane",
                        {QStringLiteral("--format=extended"), QStringLiteral("--fuel=propane")},
                        1,
                        "time,reading,afr,lambda,volts,temp,status",
                        R"([^,]+,15\.5,14\.7,1\.000,13\.80,\d+,live)",
                        true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(KestLogOutput, StandardOutputCarriesOnlyTheRows) {
  sim::TKestSimulator simulator(SteadyBox());
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  const TRun run =
      RunKestlog({QStringLiteral("--port"), QString::fromStdString(simulator.SlavePath()),
                  QStringLiteral("--seconds"), QStringLiteral("2"), QStringLiteral("--format"),
                  QStringLiteral("extended")});
  ASSERT_FALSE(run.Crashed);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  bool complete = false;
  const std::vector<std::string> lines = CrLfLines(run.Out, complete);
  EXPECT_TRUE(complete) << "whole rows only, no status line among them";
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "time,reading,afr,lambda,volts,temp,status");
  EXPECT_EQ(run.Out.find('\x1b'), std::string::npos);
  EXPECT_EQ(SummaryRows(run.Err), static_cast<long>(lines.size() - 1)) << run.Err;
}

// ---- the status line belongs to a terminal ----

TEST(KestLogOutput, StatusLineOnlyOnATerminalAndNotAmongTheRows) {
  struct TCase {
    const char* What;
    bool ToFile;
    bool ExpectStatusLine;
  };
  const TCase cases[] = {{"rows to a file", true, true}, {"rows on the terminal", false, false}};
  for (const TCase& c : cases) {
    sim::TKestSimulator simulator(SteadyBox());
    ASSERT_TRUE(simulator.Start()) << simulator.LastError();
    platform::TPseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open()) << terminal.LastError();
    QTemporaryDir dir;
    QStringList arguments = {QStringLiteral("--port"),
                             QString::fromStdString(simulator.SlavePath()),
                             QStringLiteral("--seconds"), QStringLiteral("2")};
    if (c.ToFile) arguments += {QStringLiteral("--output"), dir.filePath(QStringLiteral("t.csv"))};
    QProcess process;
    Prepare(process, arguments);
    process.setStandardOutputFile(QString::fromStdString(terminal.SlavePath()));
    process.start();
    ASSERT_TRUE(process.waitForStarted(ProcessDeadlineMs));
    std::string screen;
    std::uint8_t buffer[4096];
    QElapsedTimer clock;
    clock.start();
    // The terminal is read while the program runs, so that it never has to wait for room.
    while (process.state() != QProcess::NotRunning && clock.elapsed() < ProcessDeadlineMs) {
      const long got = terminal.Read(buffer, sizeof buffer, 50);
      if (got > 0)
        screen.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
      process.waitForFinished(10);
    }
    const TRun run = Finish(process);
    for (long got; (got = terminal.Read(buffer, sizeof buffer, 200)) > 0;)
      screen.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
    ASSERT_FALSE(run.Crashed) << c.What;
    EXPECT_EQ(run.ExitCode, 0) << c.What << ": " << run.Err;
    const bool statusLine =
        screen.find("\rAFR 14.7  13.8 V  online  ") != std::string::npos &&
        screen.find("\x1b[K") != std::string::npos &&
        screen.find(" frames/s  0 bad checksums  0 time-outs") != std::string::npos;
    EXPECT_EQ(statusLine, c.ExpectStatusLine) << c.What << ":\n" << screen;
    if (c.ToFile) {
      EXPECT_GE(SummaryRows(screen), 5) << "the summary follows the status line: " << screen;
      // The summary starts on a line of its own, not over the status line.
      EXPECT_NE(screen.find("\nkestlog: stopped after"), std::string::npos) << screen;
    } else {
      EXPECT_NE(screen.find("14.7,13.8\r\n"), std::string::npos) << screen;
      EXPECT_GE(SummaryRows(run.Err), 5) << run.Err;
    }
  }
}

// ---- stopping ----

class KestLogStopTest : public testing::TestWithParam<int> {};

TEST_P(KestLogStopTest, LeavesACompleteFileAndASummary) {
  sim::TKestSimulator simulator(SteadyBox());
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("stop.csv")).toStdString();
  QProcess process;
  Prepare(process, {QStringLiteral("--port"), QString::fromStdString(simulator.SlavePath()),
                    QStringLiteral("--output"), QString::fromStdString(path)});
  process.start();
  ASSERT_TRUE(process.waitForStarted(ProcessDeadlineMs));
  // Until the file shows a few rows: the program is then well inside its loop.
  QElapsedTimer clock;
  clock.start();
  std::size_t rowsSeen = 0;
  while (clock.elapsed() < ProcessDeadlineMs && process.state() == QProcess::Running) {
    bool complete = false;
    const auto lines = CrLfLines(ReadWholeFile(path), complete);
    rowsSeen = lines.size() > 2 ? lines.size() - 2 : 0;
    if (rowsSeen >= 5) break;
    QThread::msleep(50);
  }
  ASSERT_GE(rowsSeen, 5u) << "no rows came";
  ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), GetParam()), 0);
  const TRun run = Finish(process);
  ASSERT_FALSE(run.Crashed) << "the signal must stop it in order, not kill it";
  EXPECT_EQ(run.ExitCode, 0) << run.Err;

  bool complete = false;
  const std::vector<std::string> lines = CrLfLines(ReadWholeFile(path), complete);
  EXPECT_TRUE(complete) << "no row cut short";
  ASSERT_GE(lines.size(), 2u + rowsSeen);
  const std::regex form(R"(\d\d:\d\d:\d\d,14\.7,13\.8)");
  for (std::size_t i = 2; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], form)) << lines[i];
  EXPECT_EQ(SummaryRows(run.Out), static_cast<long>(lines.size() - 2)) << run.Out;
  EXPECT_NE(run.Out.find("frames accepted: "), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("frames rejected: 0"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("offline spells:  0"), std::string::npos) << run.Out;
}

INSTANTIATE_TEST_SUITE_P(Signals, KestLogStopTest, testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                           return std::string(info.param == SIGINT ? "Interrupt" : "Terminate");
                         });

// ---- unplugged and plugged back in ----

// The statuses of an extended log in order, each run of equal ones counted once.
std::vector<std::string> StatusRuns(const std::vector<std::string>& rows) {
  std::vector<std::string> runs;
  for (const std::string& row : rows) {
    const std::string status = row.substr(row.rfind(',') + 1);
    if (runs.empty() || runs.back() != status) runs.push_back(status);
  }
  return runs;
}

TEST(KestLogReplug, RowsComeBackWhenTheAdapterDoes) {
  // The box behind a link in a folder of its own, as a USB adapter behind its by-id name.
  QTemporaryDir dir;
  sim::TSimConfig config = SteadyBox();
  config.LinkPath = dir.filePath(QStringLiteral("ttyKEST")).toStdString();
  sim::TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  const std::string path = dir.filePath(QStringLiteral("replug.csv")).toStdString();
  QProcess process;
  Prepare(process, {QStringLiteral("--port"), QString::fromStdString(config.LinkPath),
                    QStringLiteral("--format"), QStringLiteral("extended"),
                    QStringLiteral("--output"), QString::fromStdString(path)});
  process.start();
  ASSERT_TRUE(process.waitForStarted(ProcessDeadlineMs));
  std::string err;
  auto waitFor = [&](const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ProcessDeadlineMs && process.state() == QProcess::Running) {
      process.waitForReadyRead(50);
      err += process.readAllStandardError().toStdString();
    }
    return done();
  };
  auto liveRows = [&] {
    bool complete = false;
    std::size_t live = 0;
    for (const std::string& line : CrLfLines(ReadWholeFile(path), complete))
      if (line.size() > 5 && line.compare(line.size() - 5, 5, ",live") == 0) ++live;
    return live;
  };

  ASSERT_TRUE(waitFor([&] { return liveRows() >= 3; })) << err;
  ASSERT_TRUE(simulator.Unplug());
  EXPECT_TRUE(waitFor([&] { return err.find("went away") != std::string::npos; })) << err;
  // Why, as the system said it, once, before the loss is told (the terminal hung up, or a read on
  // it failed).
  const std::string why = "kestlog: " + config.LinkPath + ": ";
  const std::size_t reason = err.find(why);
  EXPECT_LT(reason, err.find(" failed: ")) << err;
  EXPECT_LT(err.find(" failed: "), err.find("went away")) << err;
  EXPECT_EQ(err.find(why, reason + 1), std::string::npos) << "said once: " << err;
  const std::size_t liveBefore = liveRows();
  ASSERT_TRUE(simulator.Replug()) << simulator.LastError();
  EXPECT_TRUE(waitFor([&] { return err.find("is back") != std::string::npos; })) << err;
  EXPECT_TRUE(waitFor([&] { return liveRows() >= liveBefore + 3; })) << "rows did not come back";

  ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
  const TRun run = Finish(process);
  ASSERT_FALSE(run.Crashed);
  EXPECT_EQ(run.ExitCode, 0) << err << run.Err;
  EXPECT_NE(run.Out.find("device lost:     1\n"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("offline spells:  1\n"), std::string::npos) << run.Out;

  bool complete = false;
  const std::vector<std::string> lines = CrLfLines(ReadWholeFile(path), complete);
  EXPECT_TRUE(complete);
  std::string seen;
  for (const std::string& status : StatusRuns(DataRows(lines, 1))) seen += status + " ";
  // Possibly an offline row before the first frame; then live, the gap, and live again.
  EXPECT_NE(seen.find("live offline live"), std::string::npos) << seen;
}

// ---- bad command lines and devices ----

TEST(KestLogArguments, BadOnesGiveOneLineAndExitCode2) {
  const QStringList cases[] = {
      {},
      {QStringLiteral("--port")},
      {QStringLiteral("--port"), QStringLiteral("COM17")},
      {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("--fuel"),
       QStringLiteral("diesel")},
      {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("--format"),
       QStringLiteral("csv")},
      {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("--seconds"),
       QStringLiteral("0")},
      {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("--seconds"),
       QStringLiteral("soon")},
      {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("--output")},
      {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("--speed")},
      {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("stray")},
      {QStringLiteral("--lambda=1"), QStringLiteral("--port"), QStringLiteral("/dev/null")},
  };
  for (const QStringList& arguments : cases) {
    const TRun run = RunKestlog(arguments);
    const std::string shown = arguments.join(' ').toStdString();
    ASSERT_FALSE(run.Crashed) << shown;
    EXPECT_EQ(run.ExitCode, 2) << shown;
    EXPECT_TRUE(run.Out.empty()) << shown << ": " << run.Out;
    ASSERT_FALSE(run.Err.empty()) << shown;
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << shown << ": one line, not " << run.Err;
    EXPECT_EQ(run.Err.rfind("kestlog: ", 0), 0u) << run.Err;
  }
}

TEST(KestLogArguments, HelpAndVersionSucceed) {
  const TRun help = RunKestlog({QStringLiteral("--help")});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("--port DEVICE"), std::string::npos) << help.Out;
  const TRun version = RunKestlog({QStringLiteral("--version")});
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_TRUE(std::regex_match(version.Out, std::regex("kestlog \\d+\\.\\d+\\.\\d+\n")))
      << version.Out;
}

TEST(KestLogArguments, ADeviceThatWillNotOpenLeavesNoFile) {
  struct TCase {
    const char* Device;
    const char* Says;
  };
  const TCase cases[] = {{"/nonexistent/ttyUSB9", "no such device"},
                         {"/dev/null", "not a serial device"}};
  for (const TCase& c : cases) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("never.csv"));
    const TRun run = RunKestlog({QStringLiteral("--port"), QString::fromLatin1(c.Device),
                                 QStringLiteral("--output"), path});
    EXPECT_EQ(run.ExitCode, 1) << c.Device;
    EXPECT_EQ(run.Err.rfind(std::string("kestlog: could not open ") + c.Device + ": ", 0), 0u)
        << run.Err;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;
    EXPECT_FALSE(QFile::exists(path)) << "no empty log for a device that never opened";
  }
}

// ---- COM numbers, as the window's menu gives them ----

TEST(KestLogPorts, ListPrintsOneWellFormedLinePerDevice) {
  QTemporaryDir config;
  const TRun run = RunKestlog({QStringLiteral("--list")}, config.path());
  ASSERT_FALSE(run.Crashed);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  // This machine's devices, whatever they are: a test machine may have none.
  if (run.Out != "no serial devices found\n") {
    ASSERT_EQ(run.Out.back(), '\n');
    std::istringstream lines(run.Out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(std::regex_match(line, std::regex("(COM([1-9]|1[0-6])|-)  /dev/\\S+  \\S+  .+")))
          << line;
    }
  }
}

TEST(KestLogPorts, ComNumberFromThePortsFileReachesTheBox) {
  sim::TKestSimulator simulator(SteadyBox());
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  QTemporaryDir config;
  ASSERT_TRUE(QDir(config.path()).mkpath(QStringLiteral("kestlsugraph")));
  QFile file(config.filePath(QStringLiteral("kestlsugraph/ports.conf")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(("[ports]\nCOM2=" + simulator.SlavePath() + "\nCOM3=nonsense\n").c_str());
  file.close();

  const TRun run = RunKestlog({QStringLiteral("--port"), QStringLiteral("COM2"),
                               QStringLiteral("--seconds"), QStringLiteral("1.5")},
                              config.path());
  ASSERT_FALSE(run.Crashed);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_GT(SummaryRows(run.Err), 0) << run.Err;
  EXPECT_NE(run.Err.find("ports.conf, line 3: "), std::string::npos) << run.Err;

  // A number nothing stands for: the same words as the window's tool tip, and exit status 1.
  const TRun none = RunKestlog({QStringLiteral("--port"), QStringLiteral("COM16")}, config.path());
  EXPECT_EQ(none.ExitCode, 1) << none.Err;
  EXPECT_NE(none.Err.find("kestlog: COM16: could not open /dev/ttyS15: "), std::string::npos)
      << none.Err;
}

}  // namespace
