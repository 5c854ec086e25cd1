// kestview as a user runs it, read back from what it prints: the mixture table of the command
// line, the summaries of engine logs whose clocks are written in the ways people write them, and
// the export of an engine log alone. Every log is written here byte by byte.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/chart/SvgExport.h"

namespace {

using viewertest::RunKestview;
using viewertest::TRun;
using viewertest::WriteFile;

// An engine's text log of 10 s at ten records a second: 1000 rpm for 5 s, then 3000 rpm; load and
// manifold pressure steady at 50; its own mixture channel at 14.0 throughout.
std::string EngineText() {
  std::string text = "Time (s),RPM (rpm),Load (%),MAP (kPa),AFR (AFR)\n";
  char row[64];
  for (int i = 0; i < 100; ++i) {
    std::snprintf(row, sizeof row, "%.1f,%d,50,50,14.0\n", i / 10.0, i < 50 ? 1000 : 3000);
    text += row;
  }
  return text;
}

// kestlog's extended log over the same 10 s: 12.0 AFR for 5 s, then 16.0; logged as AFR or, with
// `lambda`, as lambda (0.82 and 1.09 on the reading, the lambda column the same as ever).
std::string OurText(bool lambda) {
  std::string text = "time,reading,afr,lambda,volts,temp,status\r\n";
  char row[128];
  for (int i = 0; i < 100; ++i) {
    const bool rich = i < 50;
    const char* reading = lambda ? (rich ? "0.82" : "1.09") : (rich ? "12.0" : "16.0");
    std::snprintf(row, sizeof row, "2026-12-08T10:00:%02d.%d00+00:00,%s,%s,%s,13.00,20,live\r\n",
                  i / 10, i % 10, reading, rich ? "12.0" : "16.0", rich ? "0.816" : "1.088");
    text += row;
  }
  return text;
}

QJsonValue Parsed(const std::string& json) {
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json));
  return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

// The mean of the table's cell in the first row and column `x`; NaN when the cell is empty.
double Mean(const QJsonValue& table, int x) {
  return table["cells"][0][x]["mean"].toDouble(std::nan(""));
}

TEST(KestViewProgram, TheTableAnswersWhatTheCommandLineAsks) {
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("e.csv"), EngineText()));
  ASSERT_TRUE(WriteFile(dir.filePath("e2.csv"), EngineText()));
  ASSERT_TRUE(WriteFile(dir.filePath("ours.csv"), OurText(false)));
  ASSERT_TRUE(WriteFile(dir.filePath("lambda.csv"), OurText(true)));
  // The classic log of a methanol engine: its readings (under 9 AFR) name the fuel.
  ASSERT_TRUE(
      WriteFile(dir.filePath("methanol.csv"), viewertest::ClassicLog(36000, 10, {"6.4", "6.5"})));
  struct TCase {
    const char* Name;
    QStringList Arguments;  // after --table --json, the table's shape and --align none
    int Exit;
    const char* Unit;       // nothing: no table is printed
    double Low;             // the mean at 1000 rpm
    double High;            // ... at 3000 rpm
    const char* Said = "";  // on standard error
  };
  const TCase cases[] = {
      {"MixtureFromOurs", {"ours.csv", "e.csv"}, 0, "afr", 12, 16},
      // Half a second later the lean half reaches the last five records at 1000 rpm.
      {"Lag", {"--lag", "0.5", "ours.csv", "e.csv"}, 0, "afr", 12.4, 16},
      {"ChannelBesideOurs", {"--mixture", "AFR", "ours.csv", "e.csv"}, 0, "afr", 14, 14},
      // A log in lambda still makes a table in air-fuel ratio unless lambda is asked for.
      {"AfrUnlessAsked", {"lambda.csv", "e.csv"}, 0, "afr", 12, 16},
      // 6.4 and 6.5 AFR of methanol, whose stoichiometric ratio is 6.4, not petrol's 14.7.
      {"OurFuel", {"--unit", "lambda", "methanol.csv", "e.csv"}, 0, "lambda", 1.008, 1.008},
      {"SteadyNoSettling", {"--steady", "RPM=100,0", "ours.csv", "e.csv"}, 0, "afr", 12, 16},
      {"RangeOfOneValue", {"--range", "MAP=50:50", "ours.csv", "e.csv"}, 0, "afr", 12, 16},
      {"UnreadableFile", {"missing.csv", "e.csv"}, 1, nullptr, 0, 0, "missing.csv"},
      {"BadRequest", {"--x", "Nope", "ours.csv", "e.csv"}, 2, nullptr, 0, 0, "Nope"},
      // One engine log is read; a second is said, not read in place of the first.
      {"SecondEngineLog", {"ours.csv", "e.csv", "e2.csv"}, 1, nullptr, 0, 0, "e2.csv"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    QStringList arguments{"--table",  "--json", "--x-bins", "1000,3000",
                          "--y-bins", "50,100", "--align",  "none"};
    for (const QString& argument : c.Arguments) {
      arguments << (argument.endsWith(".csv") ? dir.filePath(argument) : argument);
    }
    const TRun run = RunKestview(arguments);
    EXPECT_EQ(run.Exit, c.Exit) << run.Err;
    EXPECT_NE(run.Err.find(c.Said), std::string::npos) << run.Err;
    if (c.Unit == nullptr) {
      EXPECT_EQ(run.Out, "");
      continue;
    }
    const QJsonValue table = Parsed(run.Out);
    EXPECT_EQ(table["unit"].toString(), c.Unit) << run.Out;
    EXPECT_NEAR(Mean(table, 0), c.Low, 0.02) << run.Out;
    EXPECT_NEAR(Mean(table, 1), c.High, 0.02) << run.Out;
  }
}

// The value at a path such as "channels/0/max"; undefined where there is none.
QJsonValue At(QJsonValue value, const QString& path) {
  for (const QString& key : path.split('/')) {
    bool isIndex = false;
    const int index = key.toInt(&isIndex);
    value = isIndex ? value.toArray().at(index) : value.toObject().value(key);
  }
  return value;
}

TEST(KestViewProgram, EngineLogClocksAreReadAsTheirWritersMeantThem) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::vector<std::pair<QString, QJsonValue>> Wanted;  // in the file's summary
  };
  const TCase cases[] = {
      {"TwelveThirtyAm",
       "Logged 05/01/2024\nTime,RPM\n12:30:00 AM,1000\n12:30:01 AM,1100\n12:30:02 AM,1200\n",
       {{"start", "2024-05-01T00:30:00"}, {"duration_s", 2}}},
      {"TwelveThirtyPm",
       "Time,RPM\n05/01/2024 12:30:00 PM,1000\n05/01/2024 12:30:01 PM,1100\n",
       {{"start", "2024-05-01T12:30:00"}}},
      {"SlashDateOfDecember",
       "Time,RPM\n12/05/2024 10:00:00,1000\n12/05/2024 10:00:01,1100\n",
       {{"start", "2024-12-05T10:00:00"}}},
      {"RowsAfterMidnight",
       "Time,RPM\n23:59:58,1000\n23:59:59,1000\n00:00:00,1000\n00:00:01,1000\n00:00:02,1000\n",
       {{"rows", 5}, {"duration_s", 4}}},
      {"HeaderTimeBeforeCountedSeconds",
       "Log started 2024-05-01 14:03:07\nTime (s),RPM (rpm)\n0.0,1000\n0.5,1100\n1.0,1200\n",
       {{"start", "2024-05-01T14:03:07"}}},
      // The header gives the day; the rows' own clock gives the time.
      {"HeaderTimeBeforeClockRows",
       "Log started 2024-05-01 09:15:00\nTime,RPM\n14:03:07.5,1000\n14:03:08.0,1100\n",
       {{"start", "2024-05-01T14:03:07.500"}}},
      {"StartWithItsZone",
       "Log started 2024-05-01 14:03:07 +02:00\nTime (s),RPM (rpm)\n0,1000\n1,1100\n",
       {{"start", "2024-05-01T14:03:07+02:00"}}},
      {"CellWithAPlus",
       "Time (s),Trim (%)\n0,-2\n0.1,+3\n0.2,+1\n",
       {{"channels/0/name", "Trim"}, {"channels/0/min", -2}, {"channels/0/max", 3}}},
      // An editor took the blanks off the end of the first line: still a log of ours.
      {"ClassicHeaderWithoutTrailingBlanks",
       "Torvane KEST datalog.\r\nTime, AFR or LAMBDA, Supply volts\r\n10:00:00,14.7,13.0\r\n"
       "10:00:00,14.8,13.0\r\n10:00:01,14.7,13.0\r\n10:00:01,14.8,13.0\r\n",
       {{"format", "classic"}, {"rows", 4}}},
  };
  QTemporaryDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString file = dir.filePath(QString(c.Name) + ".csv");
    ASSERT_TRUE(WriteFile(file, c.Bytes));
    const TRun run = RunKestview({"--summary", "--json", file});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Err.find("kestview:"), std::string::npos) << run.Err;  // no warning
    const QJsonValue summary = Parsed(run.Out)[0];
    for (const auto& [path, wanted] : c.Wanted) {
      EXPECT_EQ(At(summary, path), wanted) << path.toStdString() << " in " << run.Out;
    }
  }
}

TEST(KestViewProgram, AnEngineLogExportedAloneIsDrawnOnItsOwnTimeWithOnePanePerRole) {
  if (!viewer::SvgExportBuilt()) GTEST_SKIP() << "this build writes no SVG";
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("e.csv"), EngineText()));
  const TRun run = RunKestview({"--export", dir.filePath("chart.svg"), dir.filePath("e.csv")});
  ASSERT_EQ(run.Exit, 0) << run.Err;
  QFile svg(dir.filePath("chart.svg"));
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  const QByteArray drawn = svg.readAll();
  EXPECT_TRUE(drawn.contains("time since start"));
  // Engine speed and one load: Load, not the manifold pressure beside it as well.
  EXPECT_TRUE(drawn.contains(">RPM [rpm]<"));
  EXPECT_TRUE(drawn.contains(">Load [%]<"));
  EXPECT_FALSE(drawn.contains("MAP"));
}

}  // namespace
