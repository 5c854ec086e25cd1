// kestview's MSL export: a log of ours read back, written as MSL and read again by our MSL reader,
// in each unit the reading can be asked for; and a file that cannot be written.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "log/EngineLog.h"
#include "viewer/LogParser.h"
#include "viewer/MslExport.h"

namespace {

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
  const viewer::TLogData log = viewer::ParseLogText(ExtendedLog, "run.csv");
  ASSERT_TRUE(log.Error.empty()) << log.Error;
  QTemporaryDir dir;
  for (const TExportCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString path = dir.filePath(QStringLiteral("run.msl"));
    QString error;
    ASSERT_TRUE(
        viewer::ExportMsl(log, {c.DisplayMode, sensor::ftPetrol}, path, "kestview 0.0", &error))
        << error.toStdString();
    const enginelog::TEngineLog back = enginelog::ReadEngineLogFile(path.toStdString(), "run.msl");
    ASSERT_TRUE(back.Ok()) << back.Error;
    EXPECT_EQ(back.Format, enginelog::TEngineLogFormat::Msl);
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

TEST(MslExport, AFileThatCannotBeWrittenIsReportedByName) {
  const viewer::TLogData log = viewer::ParseLogText(ExtendedLog, "run.csv");
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("missing/run.msl"));
  QString error;
  EXPECT_FALSE(viewer::ExportMsl(log, {}, path, "kestview", &error));
  EXPECT_TRUE(error.startsWith(path)) << error.toStdString();
  EXPECT_FALSE(QDir(dir.path()).exists(QStringLiteral("missing")));
}

}  // namespace
