// kestview with an engine log: lining it up with a mixture log (by clock, by matching, by hand),
// its summary's JSON, the window's panes and read-out, and the command line's answer to bad
// input. The logs are written here, so every offset is known by construction.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <string>

#include "log/Log.h"
#include "tests/log/MlgBuilder.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/OurLog.h"
#include "viewer/window/ViewerWindow.h"

namespace {

// A made-up drive's mixture: steps between rich, lean and stoichiometric that never repeat
// evenly, so there is one place where two copies of it agree.
double AfrAt(double t) {
  const double step = std::floor(t / 2.7);
  const double wobble = std::sin(step * 12.9898) * 43758.5453;
  return 12.0 + 6.0 * (wobble - std::floor(wobble));
}

// kestlog's extended log from 12:00:00 UTC on 2024-05-01, 10 rows a second for `seconds`.
std::string MixtureLog(double seconds) {
  std::string text = "time,reading,afr,lambda,volts,temp,status\n";
  char row[160];
  for (int i = 0; i < seconds * 10; ++i) {
    const double t = i / 10.0;
    const double afr = AfrAt(t);
    std::snprintf(row, sizeof row,
                  "2024-05-01T12:%02d:%02d.%d00+00:00,%.1f,%.1f,%.3f,13.80,20,live\n",
                  static_cast<int>(t) / 60, static_cast<int>(t) % 60, i % 10, afr, afr, afr / 14.7);
    text += row;
  }
  return text;
}

// An engine's text log at 20 records a second: its clock says it started `clockStart` seconds
// after the mixture log's first row; its records really begin `trueStart` seconds after it.
std::string EngineLog(double clockStart, double trueStart, double seconds, bool withAfr) {
  char line[160];
  const int start = 12 * 3600 + static_cast<int>(std::floor(clockStart));
  std::snprintf(line, sizeof line, "Log started 2024-05-01 %02d:%02d:%02d +0000\n", start / 3600,
                start / 60 % 60, start % 60);
  std::string text = line;
  text += withAfr ? "Time (s),RPM (rpm),MAP (kPa),AFR (AFR)\n" : "Time (s),RPM (rpm),MAP (kPa)\n";
  for (int i = 0; i < seconds * 20; ++i) {
    const double t = i / 20.0;
    std::snprintf(line, sizeof line, "%.2f,%d,%.1f", t, 900 + i % 500, 30 + i % 70 * 1.0);
    text += line;
    if (withAfr) {
      std::snprintf(line, sizeof line, ",%.2f", AfrAt(t + trueStart));
      text += line;
    }
    text += "\n";
  }
  return text;
}

TEST(EngineView, LinesAnEngineLogUpByClockByMatchingAndByHand) {
  const viewer::TLog mixture = viewer::ParseLogText(MixtureLog(300), "mixture.csv");
  ASSERT_TRUE(mixture.Error.empty()) << mixture.Error;
  struct TCase {
    const char* Name;
    double ClockStart, TrueStart;
    bool WithAfr;
    viewer::TAlignMode Mode;
    std::optional<double> Hand;
    double Offset;
    const char* How;
    bool Note;  // the way asked for could not be used
  };
  const TCase cases[] = {
      {"clock", 12, 12, true, viewer::TAlignMode::Clock, {}, 12, "clock", false},
      // The engine's clock runs 30 s ahead: matching finds where its mixture agrees with ours.
      {"match", 37.5, 7.5, true, viewer::TAlignMode::Match, {}, 7.5, "match", false},
      {"match without a channel", 37, 7.5, false, viewer::TAlignMode::Match, {}, 37, "clock", true},
      {"hand", 37, 7.5, true, viewer::TAlignMode::Match, -3.25, -3.25, "hand", false},
      {"none", 37, 7.5, true, viewer::TAlignMode::None, {}, 0, "none", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const enginelog::TLog engine =
        enginelog::ReadEngineLog(EngineLog(c.ClockStart, c.TrueStart, 200, c.WithAfr), "e.csv");
    ASSERT_TRUE(engine.Ok()) << engine.Error;
    const auto channel =
        enginelog::FindRole(engine, enginelog::TChannelRole::Mixture, enginelog::TChannelNames());
    const viewer::TAlignment a =
        viewer::AlignEngineLog(mixture, engine, channel, c.Mode, c.Hand, 0);
    EXPECT_NEAR(a.Offset, c.Offset, 0.06);
    EXPECT_EQ(a.How, c.How);
    EXPECT_EQ(!a.Note.empty(), c.Note) << a.Note;
  }
}

// The search for the engine's mixture is centred where the clocks put the engine log: started two
// hours before ours, its clock 4 s slow, it still matches from the command line.
TEST(EngineView, TheCommandLineMatchesLogsWhoseClocksAreHoursApart) {
  QTemporaryDir dir;
  const QString mixturePath = dir.filePath("mixture.csv");
  const QString enginePath = dir.filePath("engine.csv");
  ASSERT_TRUE(viewertest::WriteFile(mixturePath, MixtureLog(300)));
  ASSERT_TRUE(viewertest::WriteFile(enginePath, EngineLog(-7170, -7166, 7480, true)));
  const viewertest::TRun run =
      viewertest::RunKestview({"--summary", "--json", "--align", "match", mixturePath, enginePath});
  ASSERT_EQ(run.Exit, 0) << run.Err;
  const QJsonObject engine =
      QJsonDocument::fromJson(QByteArray::fromStdString(run.Out)).array()[1].toObject();
  EXPECT_EQ(engine["align"].toString(), "match") << run.Out;
  EXPECT_NEAR(engine["offset_s"].toDouble(), -7166, 0.06) << run.Out;
}

// A DataLog export given beside a mixture log is the engine log: its channels scaled by their
// Types, its start the `Log :` line's date at the first row's time of day.
TEST(EngineView, TheCommandLineOpensADataLogExportAsTheEngineLog) {
  QTemporaryDir dir;
  const QString mixturePath = dir.filePath("mixture.csv");
  const QString exportPath = dir.filePath("export.csv");
  std::string bytes =
      "%DataLog%\r\nDataLogVersion : 1.0\r\nChannel : Engine Speed\r\nType : EngineSpeed\r\n"
      "Channel : Manifold Pressure\r\nType : AbsPressure\r\nChannel : Wideband\r\nType : AFR\r\n"
      "Log : 20240501 12:00:04\r\n";
  for (int i = 0; i < 100; ++i) {
    bytes += "12:00:" + std::to_string(10 + i / 10) + "." + std::to_string(i % 10) + "00,0," +
             std::to_string(1000 + i) + ",1013," + std::to_string(14000 + i) + "\r\n";
  }
  ASSERT_TRUE(viewertest::WriteFile(mixturePath, MixtureLog(30)));
  ASSERT_TRUE(viewertest::WriteFile(exportPath, bytes));
  const viewertest::TRun run =
      viewertest::RunKestview({"--summary", "--json", "--align", "none", mixturePath, exportPath});
  ASSERT_EQ(run.Exit, 0) << run.Err;
  const QJsonArray logs = QJsonDocument::fromJson(QByteArray::fromStdString(run.Out)).array();
  ASSERT_EQ(logs.size(), 2) << run.Out;
  const QJsonObject engine = logs[1].toObject();
  EXPECT_EQ(engine["format"].toString(), "datalog") << run.Out;
  EXPECT_EQ(engine["rows"].toInt(), 100);
  EXPECT_EQ(engine["start"].toString(), "2024-05-01T12:00:10");
  EXPECT_NEAR(engine["duration_s"].toDouble(), 9.9, 1e-6);
  const QJsonArray channels = engine["channels"].toArray();
  ASSERT_EQ(channels.size(), 3) << run.Out;
  EXPECT_EQ(channels[0].toObject()["name"].toString(), "Engine Speed");
  EXPECT_EQ(channels[0].toObject()["unit"].toString(), "rpm");
  EXPECT_DOUBLE_EQ(channels[0].toObject()["max"].toDouble(), 1099);
  EXPECT_EQ(channels[1].toObject()["unit"].toString(), "kPa");
  EXPECT_NEAR(channels[1].toObject()["min"].toDouble(), 101.3, 1e-4);
  EXPECT_EQ(channels[2].toObject()["unit"].toString(), "AFR");
  EXPECT_NEAR(channels[2].toObject()["min"].toDouble(), 14.0, 1e-4);
}

TEST(EngineView, SummaryJsonCarriesTheLogAndWhereItWasPut) {
  logtest::TMlgBuilder mlg(2, 1714564800);  // 2024-05-01T12:00:00Z
  mlg.Field(2, "RPM", "rpm").Field(3, "MAP", "kPa", 0.5, 10);
  mlg.Record(0, {1000, 80}).Record(100, {3000, 100}).Marker(150, "pull").Record(200, {2000, 60});
  const enginelog::TLog log = enginelog::ReadEngineLog(mlg.Bytes(), "e.mlg");
  ASSERT_TRUE(log.Ok()) << log.Error;
  viewer::TAlignment alignment;
  alignment.Offset = 4.5;
  alignment.How = "clock";
  const QJsonObject json =
      QJsonDocument::fromJson(
          QByteArray::fromStdString(viewer::EngineSummaryJson("e.mlg", log, alignment)))
          .object();
  EXPECT_EQ(json["format"].toString(), "mlg");
  EXPECT_EQ(json["rows"].toInt(), 3);
  EXPECT_DOUBLE_EQ(json["duration_s"].toDouble(), 0.002);  // two steps of 100 x 10 us
  EXPECT_EQ(json["start"].toString(), "2024-05-01T12:00:00Z");
  EXPECT_EQ(json["markers"].toInt(), 1);
  EXPECT_DOUBLE_EQ(json["offset_s"].toDouble(), 4.5);
  EXPECT_EQ(json["align"].toString(), "clock");
  const QJsonArray channels = json["channels"].toArray();
  ASSERT_EQ(channels.size(), 2);
  const QJsonObject map = channels[1].toObject();
  EXPECT_EQ(map["name"].toString(), "MAP");
  EXPECT_EQ(map["unit"].toString(), "kPa");
  // (raw + transform) x scale
  EXPECT_DOUBLE_EQ(map["min"].toDouble(), 35);
  EXPECT_DOUBLE_EQ(map["max"].toDouble(), 55);
  EXPECT_DOUBLE_EQ(map["mean"].toDouble(), 45);
  const QJsonObject alone =
      QJsonDocument::fromJson(
          QByteArray::fromStdString(viewer::EngineSummaryJson("e.mlg", log, {})))
          .object();
  EXPECT_FALSE(alone.contains("offset_s"));
  EXPECT_FALSE(alone.contains("align"));
}

TEST(EngineView, TheWindowShowsSpeedAndLoadInPanesAndReadsThemOutAtTheCursor) {
  QTemporaryDir dir;
  const QString mixturePath = dir.filePath("mixture.csv");
  const QString enginePath = dir.filePath("engine.csv");
  for (const auto& [path, text] : {std::pair{mixturePath, MixtureLog(120)},
                                   std::pair{enginePath, EngineLog(5, 5, 100, true)}}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(text));
  }
  viewer::TKestViewWindow window;
  window.SetAlign(viewer::TAlignMode::Clock);
  EXPECT_EQ(window.OpenFiles({mixturePath, enginePath}), 2);
  ASSERT_NE(window.EngineLog(), nullptr);
  EXPECT_EQ(window.EngineAlignment().How, "clock");
  EXPECT_NEAR(window.EngineAlignment().Offset, 5, 1e-6);
  const viewer::TPaneScene panes = window.Panes()->Panes();
  EXPECT_EQ(panes.Shown, (std::vector<std::size_t>{0, 1}));  // RPM and MAP
  window.resize(1000, 700);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  // The cursor over the engine log's span reads out the mixture and both channels.
  QTest::mouseMove(window.Chart(), QPoint(window.Chart()->width() / 2, 50));
  EXPECT_TRUE(window.ReadoutText().contains("RPM ")) << window.ReadoutText().toStdString();
  EXPECT_TRUE(window.ReadoutText().contains("kPa")) << window.ReadoutText().toStdString();
  window.SetHandOffset(-1.5);
  EXPECT_EQ(window.EngineAlignment().How, "hand");
  // The panes move with the offset: from 5 s to -1.5 s after the mixture log's first row.
  EXPECT_NEAR(window.Panes()->Panes().Shift - panes.Shift, -6.5, 1e-9);
}

// Bad input from the command line: a message naming the file and where, exit 1.
TEST(EngineView, TheCommandLineRefusesABrokenEngineLogNamingFileAndPlace) {
  QTemporaryDir dir;
  logtest::TMlgBuilder mlg(2);
  mlg.Field(2, "RPM", "rpm").Record(0, {1000});
  struct TCase {
    const char* Name;
    std::string Bytes;
    const char* Where;
  };
  std::string cut = mlg.Bytes();
  cut.resize(30);
  const TCase cases[] = {
      {"header cut short", cut, "byte"},
      {"text rows with too many cells",
       "Time (s),RPM (rpm)\n0,1000\n0.1,1100\n0.2,1200,5,6\n0.3,1300,7,8\n0.4,1,2,3\n", "line"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString path = dir.filePath(QString(c.Name).replace(' ', '-') + ".log");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(c.Bytes));
    file.close();
    QProcess kestview;
    kestview.start(KESTVIEW_PATH, {"--summary", "--json", path});
    ASSERT_TRUE(kestview.waitForFinished(20000));
    const QString err = QString::fromLocal8Bit(kestview.readAllStandardError());
    EXPECT_EQ(kestview.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(path)) << err.toStdString();
    EXPECT_TRUE(err.contains(c.Where)) << err.toStdString();
  }
}

}  // namespace
