// "START" and "STOP": the CSV log as the window writes it, read back from disk, and what the
// window does when the disk says no.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "UiTestSupport.h"
#include "tests/support/EngineAccess.h"

using uitest::TWindowFixture;

namespace {

std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Lines of a CR LF file; fails the test on a bare LF.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "last line has no CR LF";
    if (end == std::string::npos) break;
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

// A window that is live on the frame 34, 147, 200, 20, 110 (14.7, 12.5 V).
struct TLiveWindow : TWindowFixture {
  QTemporaryDir Dir;
  explicit TLiveWindow(platform::TLocaleFormats locale = {}) : TWindowFixture(true, locale) {
    W().OpenCommsClick();
    Serial.QueueInput({0});
    Serial.ScheduleInputAfter(1, {34, 147, 200, 20, 110});
    Serial.FireTimer();
  }
  QString Path(const char* name) const { return Dir.filePath(QString::fromLatin1(name)); }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) W().GetByteClick();
  }
};

const QRegularExpression RowForm(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d,[0-9.]{3,4},\\d+\\.\\d$"));

}  // namespace

TEST(Log, CancelInTheDialogMakesNoFile) {
  TLiveWindow f;
  f.Services.SaveAnswers.push_back(QString());
  f.W().LogStartClick();
  EXPECT_EQ(f.Services.SaveDialogs, 1);
  EXPECT_FALSE(kesttest::StateOf(f.W().Engine).Logging);
  EXPECT_TRUE(f.W().LogStart->isEnabled());
  EXPECT_FALSE(f.W().LogStop->isEnabled());
  EXPECT_TRUE(QDir(f.Dir.path()).isEmpty());
}

TEST(Log, TheDialogIsSetUpForTextFiles) {
  TLiveWindow f;
  f.W().LogStartClick();
  EXPECT_EQ(f.Services.LastDialogOptions.DefaultExtension, "txt");
  EXPECT_EQ(f.Services.LastDialogOptions.Filter, "*.txt");
}

TEST(Log, TenTicksGiveTwoHeaderLinesAndTenRows) {
  TLiveWindow f({"%d/%m/%Y", "%H:%M:%S", "."});
  const QString path = f.Path("run.txt");
  f.Services.SaveAnswers.push_back(path);
  f.W().LogStartClick();
  EXPECT_TRUE(kesttest::StateOf(f.W().Engine).Logging);
  EXPECT_EQ(f.W().LogToDiskLED->BrushColor(), ui::clGreen);
  EXPECT_FALSE(f.W().LogStart->isEnabled());
  EXPECT_TRUE(f.W().LogStop->isEnabled());
  f.Ticks(10);
  f.W().LogStopClick();
  EXPECT_FALSE(kesttest::StateOf(f.W().Engine).Logging);
  EXPECT_EQ(f.W().LogToDiskLED->BrushColor(), ui::clBtnFace());
  EXPECT_TRUE(f.W().LogStart->isEnabled());
  EXPECT_FALSE(f.W().LogStop->isEnabled());

  const auto lines = Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Torvane KEST datalog\\.  \\d\\d/\\d\\d/\\d{4}$"))
                  .match(QString::fromStdString(lines[0]))
                  .hasMatch())
      << lines[0];
  EXPECT_EQ(lines[1], "Time, AFR or LAMBDA, Supply volts");
  for (std::size_t i = 2; i < lines.size(); ++i) {
    EXPECT_TRUE(RowForm.match(QString::fromStdString(lines[i])).hasMatch()) << lines[i];
    EXPECT_EQ(lines[i].substr(8), ",14.7,12.5");
  }
}

TEST(Log, RowsReachTheDiskAsTheyAreWritten) {
  TLiveWindow f;
  const QString path = f.Path("live.txt");
  f.Services.SaveAnswers.push_back(path);
  f.W().LogStartClick();
  f.Ticks(3);
  EXPECT_EQ(Lines(ReadFile(path)).size(), 5u) << "rows are on disk before STOP";
}

TEST(Log, SwitchingToLambdaChangesTheColumnsValues) {
  TLiveWindow f;
  const QString path = f.Path("mixed.txt");
  f.Services.SaveAnswers.push_back(path);
  f.W().LogStartClick();
  f.Ticks(2);
  f.W().Lambda1Click();
  f.Ticks(2);
  f.W().LogStopClick();
  const auto lines = Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3].substr(8), ",14.7,12.5");
  EXPECT_EQ(lines[4].substr(8), ",1.00,12.5");
  EXPECT_EQ(lines[5].substr(8), ",1.00,12.5");
}

TEST(Log, LocalesShapeDateTimeAndDecimals) {
  struct TCase {
    platform::TLocaleFormats Locale;
    const char* Header;  // pattern of the first line
    const char* Row;     // pattern of a row
  } const cases[] = {
      {{"%d.%m.%Y", "%H:%M:%S", ","},
       "^Torvane KEST datalog\\.  \\d\\d\\.\\d\\d\\.\\d{4}$",
       "^\\d\\d:\\d\\d:\\d\\d,14,7,12,5$"},
      {{"%Y-%m-%d", "%I:%M:%S %p", "."},
       "^Torvane KEST datalog\\.  \\d{4}-\\d\\d-\\d\\d$",
       "^\\d\\d:\\d\\d:\\d\\d (AM|PM),14\\.7,12\\.5$"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Header);
    TLiveWindow f(c.Locale);
    const QString path = f.Path("locale.txt");
    f.Services.SaveAnswers.push_back(path);
    f.W().LogStartClick();
    f.Ticks(1);
    f.W().LogStopClick();
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(QRegularExpression(QString::fromLatin1(c.Header))
                    .match(QString::fromStdString(lines[0]))
                    .hasMatch())
        << lines[0];
    EXPECT_TRUE(QRegularExpression(QString::fromLatin1(c.Row))
                    .match(QString::fromStdString(lines[2]))
                    .hasMatch())
        << lines[2];
  }
}

TEST(Log, WarmUpAndAClosedPortLeaveGaps) {
  TLiveWindow f;
  const QString path = f.Path("gaps.txt");
  f.Services.SaveAnswers.push_back(path);
  f.W().LogStartClick();
  kesttest::StateOf(f.W().Engine).WarmingUp = true;
  f.Ticks(3);
  kesttest::StateOf(f.W().Engine).WarmingUp = false;
  kesttest::StateOf(f.W().Engine).PortOpen = false;
  f.Ticks(3);
  kesttest::StateOf(f.W().Engine).PortOpen = true;
  f.Ticks(1);
  f.W().LogStopClick();
  EXPECT_EQ(Lines(ReadFile(path)).size(), 3u);
}

TEST(Log, ExitWhileLoggingLeavesACompleteFile) {
  TLiveWindow f;
  const QString path = f.Path("exit.txt");
  f.Services.SaveAnswers.push_back(path);
  f.W().LogStartClick();
  f.Ticks(4);
  f.Window->close();
  f.Window.reset();
  const auto lines = Lines(ReadFile(path));
  EXPECT_EQ(lines.size(), 6u);
  EXPECT_TRUE(f.Services.Errors.empty());
}

TEST(Log, CreateFailuresAreReportedAndChangeNothing) {
  TLiveWindow f;
  const QString missingFolder = f.Path("no/such/folder/log.txt");
  const QString folder = f.Dir.path();
  for (const QString& path : {missingFolder, folder}) {
    SCOPED_TRACE(path.toStdString());
    f.Services.BoxOpen = false;
    f.Services.SaveAnswers.push_back(path);
    const std::size_t before = f.Services.Errors.size();
    f.W().LogStartClick();
    EXPECT_EQ(f.Services.Errors.size(), before + 1);
    EXPECT_FALSE(kesttest::StateOf(f.W().Engine).Logging);
    EXPECT_TRUE(f.W().LogStart->isEnabled());
    EXPECT_FALSE(f.W().LogStop->isEnabled());
    EXPECT_EQ(f.W().LogToDiskLED->BrushColor(), ui::clBtnFace());
  }
}

TEST(Log, AFullDiskGivesOneBoxAndStopStillWorks) {
  if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full here";
  TLiveWindow f;
  f.Services.SaveAnswers.push_back(QStringLiteral("/dev/full"));
  f.W().LogStartClick();
  ASSERT_TRUE(kesttest::StateOf(f.W().Engine).Logging)
      << "the file is created; the disk is full only later";
  const int chartBefore = f.W().ChartState.ChartX;
  f.Ticks(5);
  ASSERT_EQ(f.Services.Errors.size(), 5u) << "every failed row is reported";
  EXPECT_EQ(f.Services.BoxesShown, 1) << "but only one box is open at a time";
  EXPECT_TRUE(f.Services.Errors[0].contains(QStringLiteral("No space")))
      << f.Services.Errors[0].toStdString();
  EXPECT_TRUE(kesttest::StateOf(f.W().Engine).Logging) << "a failed row leaves the log running";
  EXPECT_EQ(f.W().ChartState.ChartX, chartBefore) << "a failed row ends the tick";
  EXPECT_TRUE(f.W().LogStop->isEnabled());
  f.W().LogStopClick();
  EXPECT_FALSE(kesttest::StateOf(f.W().Engine).Logging);
  EXPECT_TRUE(f.W().LogStart->isEnabled());
  EXPECT_FALSE(f.W().LogStop->isEnabled());
  EXPECT_EQ(f.W().LogToDiskLED->BrushColor(), ui::clBtnFace());
}

TEST(ErrorBox, TheDesktopShowsOneBoxAtATimeAndItDoesNotBlockTheWindow) {
  ui::TDesktopServices services;
  QWidget parent;
  parent.show();
  auto boxes = [] {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      n += w->inherits("QMessageBox") && w->isVisible();
    return n;
  };
  services.ShowError(&parent, QStringLiteral("first"));
  services.ShowError(&parent, QStringLiteral("second"));
  services.ShowError(&parent, QStringLiteral("third"));
  EXPECT_EQ(boxes(), 1);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->inherits("QMessageBox")) w->close();
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(boxes(), 0);
  services.ShowError(&parent, QStringLiteral("again"));
  EXPECT_EQ(boxes(), 1) << "a new failure after the box was closed is shown";
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->inherits("QMessageBox")) w->close();
}
