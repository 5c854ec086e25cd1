// kestview --table --follow --json as a user runs it beside a logger: while it runs, rows are
// appended to our log, and each time a line must come that is the one-off --table --json of the
// files as they then stand; Ctrl-C ends it in order. And --correct --follow on files that do not
// grow prints its one line and stops when --seconds says. Every log is written here byte by byte.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"

namespace {

using viewertest::AppendFile;
using viewertest::RunKestview;
using viewertest::TRun;
using viewertest::WriteFile;

// Generous: the machine may be busy; no answer depends on how fast it is.
constexpr int DeadlineMs = 60000;

// An engine's text log of 10 s at ten records a second: 1000 rpm for 5 s, then 3000 rpm, load
// steady at 50, its own lambda, the fuel table value and the target it logged.
std::string EngineText() {
  std::string text = "Time (s),RPM (rpm),MAP (kPa),Lambda,VE (%),AFR Target (AFR)\n";
  char row[96];
  for (int i = 0; i < 100; ++i) {
    std::snprintf(row, sizeof row, "%.1f,%d,50,%.3f,60.0,14.7\n", i / 10.0, i < 50 ? 1000 : 3000,
                  i < 50 ? 0.95 : 1.08);
    text += row;
  }
  return text;
}

// kestlog's extended rows `from` to `to` (exclusive) of the same 10 s: 12.0 AFR for 5 s, then 16.0.
std::string OurRows(int from, int to) {
  std::string text = from == 0 ? "time,reading,afr,lambda,volts,temp,status\r\n" : "";
  char row[128];
  for (int i = from; i < to; ++i) {
    const bool rich = i < 50;
    std::snprintf(row, sizeof row, "2026-12-08T10:00:%02d.%d00+00:00,%s,%s,%s,13.00,20,live\r\n",
                  i / 10, i % 10, rich ? "12.0" : "16.0", rich ? "12.0" : "16.0",
                  rich ? "0.816" : "1.088");
    text += row;
  }
  return text;
}

// The lines a running kestview printed, read as they come.
class TLines {
 public:
  explicit TLines(QProcess& process) : Process(process) {}

  // Waits until a whole line equal to `wanted` comes; false when none has by the deadline.
  bool WaitFor(const std::string& wanted) {
    const QDeadlineTimer deadline(DeadlineMs);
    while (true) {
      Pending += Process.readAllStandardOutput().toStdString();
      for (std::size_t end; (end = Pending.find('\n')) != std::string::npos;) {
        Lines.push_back(Pending.substr(0, end + 1));
        Pending.erase(0, end + 1);
        if (Lines.back() == wanted) return true;
      }
      if (deadline.hasExpired() || Process.state() != QProcess::Running) return false;
      Process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
  }
  // Reads what is left once the process has ended; true when it ended in a whole line.
  bool Finish() {
    Pending += Process.readAllStandardOutput().toStdString();
    const bool whole = Pending.empty();
    if (!whole) Lines.push_back(Pending);
    return whole;
  }
  const std::vector<std::string>& All() const { return Lines; }

 private:
  QProcess& Process;
  std::string Pending;
  std::vector<std::string> Lines;
};

TEST(KestViewFollow, EachLineIsTheTableOfTheFilesAsTheyStand) {
  QTemporaryDir dir;
  const QString ours = dir.filePath("ours.csv");
  ASSERT_TRUE(WriteFile(dir.filePath("e.csv"), EngineText()));
  ASSERT_TRUE(WriteFile(ours, OurRows(0, 40)));
  const QStringList table{"--x-bins", "1000,3000", "--y-bins", "50,100", "--align",
                          "none",     "--lag",     "0.3",      ours,     dir.filePath("e.csv")};
  const auto oneOff = [&] {
    const TRun run = RunKestview(QStringList{"--table", "--json"} + table);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    return run.Out;
  };
  QProcess follow;
  follow.setProcessEnvironment(viewertest::KestviewEnvironment());
  // --seconds only bounds a run whose Ctrl-C went astray.
  follow.start(QStringLiteral(KESTVIEW_PATH),
               QStringList{"--table", "--follow", "--json", "--seconds", "300"} + table);
  ASSERT_TRUE(follow.waitForStarted(DeadlineMs));
  TLines lines(follow);
  std::string wanted = oneOff();
  EXPECT_TRUE(lines.WaitFor(wanted)) << "first: " << wanted;
  // The logger writes on: a few rows, then the rest of the drive.
  for (const auto& [from, to] : {std::pair{40, 47}, std::pair{47, 100}}) {
    ASSERT_TRUE(AppendFile(ours, OurRows(from, to)));
    wanted = oneOff();
    EXPECT_TRUE(lines.WaitFor(wanted)) << "after row " << to << ": " << wanted;
  }
  ASSERT_EQ(::kill(static_cast<pid_t>(follow.processId()), SIGINT), 0);
  ASSERT_TRUE(follow.waitForFinished(DeadlineMs));
  EXPECT_EQ(follow.exitStatus(), QProcess::NormalExit) << "Ctrl-C must end it in order";
  EXPECT_EQ(follow.exitCode(), 0) << follow.readAllStandardError().toStdString();
  EXPECT_TRUE(lines.Finish()) << "a line was cut short";
  ASSERT_FALSE(lines.All().empty());
  EXPECT_EQ(lines.All().back(), wanted);
  EXPECT_NE(lines.All().front(), wanted) << "the rows appended changed nothing";
}

// Started as logging begins: the engine log is still empty, so what it is does not show yet; the
// table waits for it instead of refusing a log of ours that is no engine log. Its breakpoints are
// derived from the data, so when the drive leaves idle they move on with it, and each line is still
// the one-off table of the files as they stand.
TEST(KestViewFollow, AnEngineLogNotBegunYetIsWaitedForAndItsBreakpointsFollowTheDrive) {
  QTemporaryDir dir;
  const QString engine = dir.filePath("e.csv");
  ASSERT_TRUE(WriteFile(engine, ""));
  QProcess follow;
  follow.setProcessEnvironment(viewertest::KestviewEnvironment());
  follow.start(QStringLiteral(KESTVIEW_PATH),
               QStringList{"--table", "--follow", "--json", "--seconds", "300", engine});
  ASSERT_TRUE(follow.waitForStarted(DeadlineMs));
  // It has read the empty file and says it waits; only then does the engine software write.
  QByteArray said;
  const QDeadlineTimer deadline(DeadlineMs);
  while (!said.contains("waiting for the engine log") && !deadline.hasExpired() &&
         follow.state() == QProcess::Running) {
    follow.waitForReadyRead(100);
    said += follow.readAllStandardError();
  }
  ASSERT_TRUE(said.contains("waiting for the engine log")) << said.toStdString();
  TLines lines(follow);
  // 8 s at idle (enough lines for the layout to show), then 8 s at 3000 rpm and full load.
  std::string drive = "Time (s),RPM (rpm),MAP (kPa),Lambda\n";
  std::size_t idle = 0;
  for (int i = 0; i < 160; ++i) {
    if (i == 80) idle = drive.size();
    drive += std::to_string(i / 10.0) + (i < 80 ? ",1000,35,0.98\n" : ",3000,95,0.88\n");
  }
  for (const std::size_t end : {idle, drive.size()}) {
    ASSERT_TRUE(
        AppendFile(engine, drive.substr(end == idle ? 0 : idle, end == idle ? idle : end - idle)));
    const TRun once = RunKestview({"--table", "--json", engine});
    ASSERT_EQ(once.Exit, 0) << once.Err;
    EXPECT_TRUE(lines.WaitFor(once.Out)) << "after byte " << end << ": " << once.Out;
  }
  ::kill(static_cast<pid_t>(follow.processId()), SIGINT);
  EXPECT_TRUE(follow.waitForFinished(DeadlineMs));
}

TEST(KestViewFollow, ACorrectedTableOfFilesThatDoNotGrowIsOneLine) {
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("e.csv"), EngineText()));
  const QStringList correct{"--correct", "--json",     "--x-bins", "1000,3000",          "--y-bins",
                            "50,100",    "--min-hits", "5",        dir.filePath("e.csv")};
  const TRun once = RunKestview(correct);
  ASSERT_EQ(once.Exit, 0) << once.Err;
  const TRun followed = RunKestview(correct + QStringList{"--follow", "--seconds", "1"});
  EXPECT_EQ(followed.Exit, 0) << followed.Err;
  EXPECT_EQ(followed.Out, once.Out);
}

}  // namespace
