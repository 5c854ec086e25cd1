// kestview as a user runs it, read back from what it prints: the mixture table of the command
// line, the summaries of engine logs whose clocks are written in the ways people write them, and
// the export of an engine log alone. Every log is written here byte by byte.
#include <gtest/gtest.h>

#include <QDir>
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

// Channels known by what they are: a logger's names with its prefix and units, another
// program's names, and names a user gave in channels.conf. No option names a channel.
TEST(KestViewProgram, TheTableFindsItsChannelsByWhatTheyAre) {
  struct TCase {
    const char* Name;
    const char* Header;  // four columns after the time: three of them speed, load, mixture
    const char* Conf;    // channels.conf; nullptr: none
    const char* X;       // the channels of the table; nullptr: no table
    const char* Y;
  };
  const TCase cases[] = {
      {"LoggerPrefixAndUnits",
       "PLX Ignition Timing [deg],PLX Engine Speed [rpm],PLX Manifold Absolute Pressure [bar],"
       "PLX O2 - Wideband [Lambda]",
       nullptr, "PLX Engine Speed", "PLX Manifold Absolute Pressure"},
      {"CamelCaseAndTargets", "LambdaTarget,EngineSpeed,ThrottlePosition,Lambda1", nullptr,
       "EngineSpeed", "ThrottlePosition"},
      {"UnknownNames", "Zuendung,Motordrehzahl,Saugrohr,Lambda Ist", nullptr, nullptr, nullptr},
      {"UsersNames", "Zuendung,Motordrehzahl,Saugrohr,Lambda Ist",
       "[channels]\nspeed=Motordrehzahl\nmap=Saugrohr\nmixture=Lambda Ist\nbogus\n",
       "Motordrehzahl", "Saugrohr"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    QTemporaryDir dir;
    // Speed, load and the mixture in the second to fourth columns: 1000 rpm at 0.4 (bar or %)
    // with lambda 0.9, then 3000 at 1.2 with lambda 1.1.
    std::string text = std::string("Time (s),") + c.Header + "\n";
    for (int i = 0; i < 40; ++i) {
      text += std::to_string(i / 10.0) + ",10," + (i < 20 ? "1000,0.4,0.9\n" : "3000,1.2,1.1\n");
    }
    ASSERT_TRUE(WriteFile(dir.filePath("e.csv"), text));
    if (c.Conf != nullptr) {
      ASSERT_TRUE(QDir(dir.path()).mkpath("kestlsugraph"));
      ASSERT_TRUE(WriteFile(dir.filePath("kestlsugraph/channels.conf"), c.Conf));
    }
    const TRun run = RunKestview(
        {"--table", "--json", "--min-hits", "1", "--unit", "lambda", dir.filePath("e.csv")},
        dir.path());
    if (c.X == nullptr) {
      EXPECT_EQ(run.Exit, 2) << run.Out;
      EXPECT_NE(run.Err.find("has no engine speed channel"), std::string::npos) << run.Err;
      continue;
    }
    ASSERT_EQ(run.Exit, 0) << run.Err;
    if (c.Conf != nullptr) {
      EXPECT_NE(run.Err.find("channels.conf: line 5: not ROLE=NAME"), std::string::npos) << run.Err;
    }
    const QJsonValue table = Parsed(run.Out);
    EXPECT_EQ(table["x"]["channel"].toString().toStdString(), c.X);
    EXPECT_EQ(table["y"]["channel"].toString().toStdString(), c.Y);
    // The mixture came from the wideband, not the channel before it: rich at 1000 rpm, lean at
    // 3000, and nothing else.
    std::vector<double> means;
    for (const QJsonValue row : table["cells"].toArray()) {
      for (const QJsonValue cell : row.toArray()) {
        if (cell.isObject()) means.push_back(cell["mean"].toDouble());
      }
    }
    ASSERT_EQ(means.size(), 2U) << run.Out;
    EXPECT_NEAR(means[0], 0.9, 1e-6) << run.Out;
    EXPECT_NEAR(means[1], 1.1, 1e-6) << run.Out;
  }
}

// A wideband that is not connected reads 0 throughout: the table has no cell, and both its JSON
// and standard error say that every record was left out for an implausible mixture; the CSV
// file, which has no room for it, is written empty and the same is said.
TEST(KestViewProgram, AWidebandOfZerosMakesNoCellAndSaysWhy) {
  QTemporaryDir dir;
  std::string text = "Time (s),RPM (rpm),MAP (kPa),Wideband (AFR)\n";
  char row[64];
  for (int i = 0; i < 100; ++i) {
    std::snprintf(row, sizeof row, "%.1f,%d,%d,0\n", i / 10.0, 1000 + 30 * i, 40 + i % 50);
    text += row;
  }
  ASSERT_TRUE(WriteFile(dir.filePath("zeros.csv"), text));
  const TRun run = RunKestview({"--table", "--json", dir.filePath("zeros.csv")});
  ASSERT_EQ(run.Exit, 0) << run.Err;
  const QJsonValue table = Parsed(run.Out);
  for (const QJsonValue row : table["cells"].toArray()) {
    for (const QJsonValue cell : row.toArray()) EXPECT_TRUE(cell.isNull()) << run.Out;
  }
  EXPECT_EQ(table["records"].toInt(), 100) << run.Out;
  EXPECT_EQ(table["counted"].toInt(), 0) << run.Out;
  EXPECT_EQ(table["left_out"]["implausible"].toInt(), 100) << run.Out;
  EXPECT_EQ(table["left_out"]["no_mixture"].toInt(), 0) << run.Out;
  EXPECT_EQ(table["left_out"]["filtered"].toInt(), 0) << run.Out;
  EXPECT_EQ(table["left_out"]["outside_range"].toInt(), 0) << run.Out;
  EXPECT_NE(run.Err.find("No cells"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("100 with an implausible mixture"), std::string::npos) << run.Err;

  const TRun csv = RunKestview({"--table", dir.filePath("means.csv"), dir.filePath("zeros.csv")});
  EXPECT_EQ(csv.Exit, 0) << csv.Err;
  EXPECT_NE(csv.Err.find("100 with an implausible mixture"), std::string::npos) << csv.Err;
  QFile means(dir.filePath("means.csv"));
  ASSERT_TRUE(means.open(QIODevice::ReadOnly));
  EXPECT_FALSE(means.readAll().contains('.'));  // breakpoints are whole numbers: no mean written
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
  // Engine speed and one load: the manifold pressure (the fuel table's usual load), not the
  // calculated load beside it as well.
  EXPECT_TRUE(drawn.contains(">RPM [rpm]<"));
  EXPECT_TRUE(drawn.contains(">MAP [kPa]<"));
  EXPECT_FALSE(drawn.contains("Load"));
}

}  // namespace
