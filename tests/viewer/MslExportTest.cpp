// kestview's MSL export: a log of ours read back, written as MSL and read again by the engine-log
// reader in each unit the reading can be asked for, and by our own reader as the log it came from;
// and a file that cannot be written.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "log/TextLogReader.h"
#include "viewer/chart/MslExport.h"
#include "viewer/logs/OurLog.h"
#include "viewer/logs/Summary.h"

namespace {

std::string FileText(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

// An extended log east of UTC whose display was switched to lambda for its third row: in AFR that
// row is its lambda column times 14.7 (15.99), in lambda its reading as logged (1.09).
const char* ExtendedLog =
    "time,reading,afr,lambda,volts,temp,status\n"
    "2024-05-01T14:03:27.250+02:00,14.7,14.7,1.000,12.55,20,live\n"
    "2024-05-01T14:03:27.350+02:00,13.2,13.2,0.898,11.92,21,lowvolts\n"
    "2024-05-01T14:03:27.450+02:00,1.09,16.0,1.088,12.50,180,warmup\n";

struct TExportCase {
  const char* Name;
  int DisplayMode;
  std::vector<std::string> Names;  // after Time
  std::vector<std::vector<float>> Rows;
};

TEST(MslExport, AnExtendedLogReadsBackInTheUnitAskedFor) {
  const std::vector<TExportCase> cases = {
      {"AFR",
       sensor::dmAirFuelRatio,
       {"AFR", "Volts", "Lambda", "Temp", "Status"},
       {{14.7f, 12.55f, 1.0f, 20, 0},
        {13.2f, 11.92f, 0.898f, 21, 3},
        {15.99f, 12.5f, 1.088f, 180, 1}}},
      {"lambda",
       sensor::dmLambda,
       {"Lambda", "Volts", "Temp", "Status"},
       {{1.0f, 12.55f, 20, 0}, {0.898f, 11.92f, 21, 3}, {1.09f, 12.5f, 180, 1}}},
  };
  const viewer::TLog log = viewer::ParseLogText(ExtendedLog, "run.csv");
  ASSERT_TRUE(log.Error.empty()) << log.Error;
  QTemporaryDir dir;
  for (const TExportCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString path = dir.filePath(QStringLiteral("run.msl"));
    QString error;
    ASSERT_TRUE(
        viewer::ExportMsl(log, {c.DisplayMode, sensor::ftPetrol}, path, "kestview 0.0", &error))
        << error.toStdString();
    const enginelog::TLog back = enginelog::ReadTextLog(FileText(path), "run.msl");
    ASSERT_TRUE(back.Ok()) << back.Error;
    EXPECT_EQ(back.Format, enginelog::TFileFormat::Msl);
    ASSERT_TRUE(back.Start.has_value());
    EXPECT_EQ(back.Start->UtcOffsetSeconds, 7200);
    EXPECT_NEAR(back.Start->Fraction, 0.25, 1e-9);
    EXPECT_EQ(back.Times, (std::vector<double>{0, 0.1, 0.2}));
    ASSERT_EQ(back.Channels.size(), c.Names.size());
    for (std::size_t i = 0; i < c.Names.size(); ++i) {
      EXPECT_EQ(back.Channels[i].Name, c.Names[i]);
      for (std::size_t r = 0; r < c.Rows.size(); ++r) {
        EXPECT_NEAR(back.Channels[i].Values[r], c.Rows[r][i], 1e-3) << c.Names[i] << " row " << r;
      }
    }
  }
}

bool SameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Our MSL, written from a log of each kind in the unit it was logged in, reads back as the log it
// came from, whole or fed byte by byte: every time, value, status, lambda and the start's date and
// offset. Classic logs' times are placed within their second and come back to the millisecond.
TEST(MslExport, OurMslReadsBackAsTheLogItCameFrom) {
  struct TCase {
    const char* Name;
    std::string Source;
    double TimeTolerance;
  };
  const std::vector<TCase> cases = {
      {"extended AFR log east of UTC over midnight, every status",
       "time,reading,afr,lambda,volts,temp,status\n"
       "2026-12-08T23:59:59.900+01:00,14.7,14.7,1.000,13.80,12,warmup\n"
       "2026-12-09T00:00:00.000+01:00,13.2,13.2,0.898,12.55,740,live\n"
       "2026-12-09T00:00:00.100+01:00,22.4,22.4,1.524,11.92,741,lowvolts\n"
       "2026-12-09T00:00:05.100+01:00,14.7,14.7,1.000,0.00,0,offline\n",
       0},
      {"extended lambda log west of UTC",
       "time,reading,afr,lambda,volts,temp,status\n"
       "2025-01-02T00:00:05.000-05:30,0.68,10.0,0.680,13.80,7,warmup\n"
       "2025-01-02T00:00:05.080-05:30,1.36,20.0,1.360,13.75,8,live\n",
       0},
      {"classic log",
       "Torvane KEST datalog.  12/08/26\r\n14:03:27,14.7,12.5\r\n14:03:27,13.2,12.4\r\n"
       "14:03:28,16.1,12.5\r\n14:03:29,14.7,12.5\r\n",
       0.0005},
      {"classic rows without their header: the time of day only, over midnight",
       "23:59:59,1.00,12.5\n00:00:00,0.98,12.5\n", 0.0005},
  };
  QTemporaryDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const viewer::TLog source = viewer::ParseLogText(c.Source, "run.csv");
    ASSERT_TRUE(source.Error.empty() && source.SkippedRecords == 0) << source.Error;
    const QString path = dir.filePath(QStringLiteral("run.msl"));
    QString error;
    ASSERT_TRUE(
        viewer::ExportMsl(source, viewer::LoggedDisplay(source), path, "kestview 1.2.3", &error))
        << error.toStdString();
    const std::string text = FileText(path);
    const viewer::TLog back = viewer::ParseLogText(text, "run.msl");
    enginelog::TOurLogReader bytewise("run.msl");
    for (const char c : text) bytewise.Feed(std::string_view(&c, 1));
    bytewise.Finish();

    for (const viewer::TLog* read : {&back, &std::as_const(bytewise).Log()}) {
      ASSERT_EQ(read->Error, "") << text;
      EXPECT_EQ(read->Format, viewer::TFileFormat::OurMsl);
      EXPECT_EQ(read->SkippedRecords, 0u);
      EXPECT_EQ(read->Ours.Date.Year, source.Ours.Date.Year);
      EXPECT_EQ(read->Ours.Date.Month, source.Ours.Date.Month);
      EXPECT_EQ(read->Ours.Date.Day, source.Ours.Date.Day);
      EXPECT_EQ(viewer::HasUtcOffset(*read), viewer::HasUtcOffset(source));
      EXPECT_EQ(read->Ours.UtcOffsetSeconds, source.Ours.UtcOffsetSeconds);
      EXPECT_EQ(viewer::HasStatusColumn(*read), viewer::HasStatusColumn(source));
      ASSERT_EQ(read->Rows(), source.Rows()) << text;
      for (std::size_t i = 0; i < source.Rows(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const viewer::TSample& want = viewer::SampleAt(source, i);
        const viewer::TSample& got = viewer::SampleAt(*read, i);
        EXPECT_NEAR(got.Time, want.Time, c.TimeTolerance);
        EXPECT_FLOAT_EQ(got.Value, want.Value);
        EXPECT_EQ(got.Kind, want.Kind);
        EXPECT_FLOAT_EQ(got.Volts, want.Volts);
        EXPECT_TRUE(SameFloat(got.Lambda, want.Lambda)) << got.Lambda << " " << want.Lambda;
        EXPECT_EQ(got.Status, want.Status);
        EXPECT_EQ(got.Temp, want.Temp);
        EXPECT_EQ(got.Stale, want.Stale);
      }
    }
    const viewer::TDisplay display = viewer::LoggedDisplay(back);
    const std::string summary =
        viewer::SummaryText(back, viewer::Summarize(back, -1e9, 1e9, display, {}), display, {});
    EXPECT_NE(summary.find("format:   msl"), std::string::npos) << summary;
  }
}

TEST(MslExport, AFileThatCannotBeWrittenIsReportedByName) {
  const viewer::TLog log = viewer::ParseLogText(ExtendedLog, "run.csv");
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("missing/run.msl"));
  QString error;
  EXPECT_FALSE(viewer::ExportMsl(log, {}, path, "kestview", &error));
  EXPECT_TRUE(error.startsWith(path)) << error.toStdString();
  EXPECT_FALSE(QDir(dir.path()).exists(QStringLiteral("missing")));
}

}  // namespace
