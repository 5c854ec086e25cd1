// kestview --correct run as a user runs it: an engine that breathes a known factor more than its
// tune says, logged with and without a closed loop and with enrichments mixed in; the proposal
// must bring back the tune times that factor in the cells driven, and leave the others.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"

namespace {

using viewertest::RunKestview;
using viewertest::WriteFile;

// A 3 x 3 fuel table over 1000..3000 rpm and 30..90 kPa, its first line the lowest load, and a
// target table of 14.7 everywhere.
const std::string TuneText =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
    "<msq>\r\n"
    "<page number=\"0\">\r\n"
    "  <constant cols=\"3\" digits=\"1\" name=\"veTable\" rows=\"3\" units=\"%\">\r\n"
    "         40.0 45.0 50.0\r\n"
    "         55.0 60.0 65.0\r\n"
    "         70.0 75.0 80.0\r\n"
    "      </constant>\r\n"
    "  <constant cols=\"1\" digits=\"0\" name=\"rpmBins\" rows=\"3\" units=\"RPM\">\r\n"
    "         1000.0\r\n         2000.0\r\n         3000.0\r\n      </constant>\r\n"
    "  <constant cols=\"1\" digits=\"0\" name=\"fuelLoadBins\" rows=\"3\" units=\"kPa\">\r\n"
    "         30.0\r\n         60.0\r\n         90.0\r\n      </constant>\r\n"
    "  <constant digits=\"0\" name=\"nCylinders\">4</constant>\r\n"
    "</page>\r\n"
    "</msq>\r\n";

const double TuneValues[] = {40, 45, 50, 55, 60, 65, 70, 75, 80};

// The engine log: 20 records on each cell of the diagonal (the others never driven), the engine
// breathing `factor` times its table. The closed loop trims by `gego` percent; `enriched` adds
// records in warm-up and accelerating, whose mixture the enrichment makes rich, and an overrun
// before each cell: fuel cut, then the second the exhaust still reads lean after it.
std::string CorrectedEngineLog(double factor, double gego, bool enriched) {
  std::string text =
      "Time (s),RPM (rpm),MAP (kPa),Lambda,VE (%),AFR Target (AFR),Gego (%),"
      "WUE (%),AE (%),Fuel Cut\n";
  double t = 0;
  char row[160];
  const auto record = [&](int cell, double wue, double ae, int cut = 0, double lean = 0) {
    const double ve = TuneValues[cell * 4];
    const double lambda = lean > 0 ? lean : factor / (gego / 100 * wue / 100 * ae / 100);
    std::snprintf(row, sizeof row, "%.2f,%d,%d,%.5f,%.1f,14.7,%.1f,%.1f,%.1f,%d\n", t,
                  1000 + 1000 * cell, 30 + 30 * cell, lambda, ve, gego, wue, ae, cut);
    text += row;
    t += 0.05;
  };
  for (int cell = 0; cell < 3; ++cell) {
    if (enriched) {
      for (int i = 0; i < 10; ++i) record(cell, 100, 100, 1, 1.9);
      for (int i = 0; i < 19; ++i) record(cell, 100, 100, 0, 1.5);
    }
    for (int i = 0; i < 20; ++i) record(cell, 100, 100);
    if (!enriched) continue;
    for (int i = 0; i < 7; ++i) record(cell, 112, 100);
    for (int i = 0; i < 5; ++i) record(cell, 100, 125);
  }
  return text;
}

QJsonObject ProposalOf(const std::string& json) {
  return QJsonDocument::fromJson(json.c_str()).object();
}

std::vector<double> Flat(const QJsonValue& rows) {
  std::vector<double> values;
  for (const QJsonValue row : rows.toArray()) {
    for (const QJsonValue cell : row.toArray()) values.push_back(cell.toDouble(-1));
  }
  return values;
}

TEST(CorrectCommand, TheProposalBringsBackWhatTheEngineBreathes) {
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("tune.msq"), TuneText));
  struct TCase {
    const char* Name;
    double Factor, Gego;
    bool Enriched;
    QStringList Extra;
    std::vector<double> Proposed;  // the diagonal: cells 0, 4 and 8
    const char* Source;
    int LeftOutWarmup, LeftOutAccel;
  };
  const TCase cases[] = {
      {"open loop", 1.08, 100, false, {"--tune", "tune.msq"}, {43.2, 64.8, 86.4}, "tune", 0, 0},
      {"closed loop", 1.08, 104, false, {"--tune", "tune.msq"}, {43.2, 64.8, 86.4}, "tune", 0, 0},
      {"enrichment left out",
       0.95,
       100,
       true,
       {"--tune", "tune.msq"},
       {38, 57, 76},
       "tune",
       21,
       15},
      {"limited",
       1.30,
       100,
       false,
       {"--tune", "tune.msq", "--max-change", "10"},
       {44, 66, 88},
       "tune",
       0,
       0},
      {"estimated without a tune",
       1.08,
       100,
       false,
       {"--x-bins", "1000,2000,3000", "--y-bins", "30,60,90"},
       {43.2, 64.8, 86.4},
       "estimated",
       0,
       0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(
        WriteFile(dir.filePath("engine.csv"), CorrectedEngineLog(c.Factor, c.Gego, c.Enriched)));
    QStringList arguments{"--correct", "--json", "--lambda"};
    for (const QString& a : c.Extra) arguments << (a.endsWith(".msq") ? dir.filePath(a) : a);
    arguments << dir.filePath("engine.csv");
    const viewertest::TRun run = RunKestview(arguments);
    ASSERT_EQ(run.Exit, 0) << run.Err;
    const QJsonObject json = ProposalOf(run.Out);
    EXPECT_EQ(json["source"].toString(), c.Source);
    EXPECT_EQ(json["target"].toString(), "channel");
    const std::vector<double> proposed = Flat(json["proposed"]);
    ASSERT_EQ(proposed.size(), 9U) << run.Out;
    for (std::size_t k = 0; k < 9; ++k) {
      // The cells never driven keep their value (in the estimate, they have none).
      const bool driven = k % 4 == 0;
      const double wanted = driven ? c.Proposed[k / 4] : TuneValues[k];
      if (driven || std::string(c.Source) == "tune") {
        EXPECT_NEAR(proposed[k], wanted, 0.051) << k << " in " << run.Out;
      }
      EXPECT_EQ(
          json["changed"].toArray()[static_cast<int>(k / 3)][static_cast<int>(k % 3)].toBool(),
          driven)
          << k;
    }
    EXPECT_EQ(json["left_out"]["warmup"].toInt(), c.LeftOutWarmup);
    EXPECT_EQ(json["left_out"]["accel"].toInt(), c.LeftOutAccel);
    // The cut and the lean second after it (the last record of which may fall on the second).
    EXPECT_NEAR(json["left_out"]["fuel_cut"].toInt(), c.Enriched ? 88 : 0, c.Enriched ? 1.5 : 0);
  }
}

TEST(CorrectCommand, TheTuneCopyChangesOnlyTheFuelTableAndNeverAnInput) {
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("tune.msq"), TuneText));
  ASSERT_TRUE(WriteFile(dir.filePath("engine.csv"), CorrectedEngineLog(1.08, 100, false)));
  std::string noTable = TuneText;
  noTable.replace(noTable.find("veTable"), 7, "veTableX");
  ASSERT_TRUE(WriteFile(dir.filePath("notable.msq"), noTable));
  std::string shortAxis = TuneText;
  shortAxis.replace(shortAxis.find("\"rpmBins\" rows=\"3\""), 18, "\"rpmBins\" rows=\"2\"");
  shortAxis.replace(shortAxis.find("         3000.0\r\n"), 17, "");
  ASSERT_TRUE(WriteFile(dir.filePath("short.msq"), shortAxis));
  const QString engine = dir.filePath("engine.csv");

  const viewertest::TRun run = RunKestview({"--correct", dir.filePath("out.msq"), "--tune",
                                            dir.filePath("tune.msq"), "--lambda", engine});
  ASSERT_EQ(run.Exit, 0) << run.Err;
  QFile out(dir.filePath("out.msq"));
  ASSERT_TRUE(out.open(QIODevice::ReadOnly));
  const std::string copy = out.readAll().toStdString();
  const std::size_t begin = TuneText.find("\"%\">") + 4;
  const std::size_t end = TuneText.find("</constant>");
  const std::size_t copyEnd = copy.find("</constant>");
  EXPECT_EQ(copy.substr(0, begin), TuneText.substr(0, begin));
  EXPECT_EQ(copy.substr(copyEnd), TuneText.substr(end));
  EXPECT_EQ(copy.substr(begin, copyEnd - begin),
            "\r\n         43.2 45.0 50.0\r\n         55.0 64.8 65.0\r\n"
            "         70.0 75.0 86.4\r\n      ");

  struct TRefusal {
    QStringList Arguments;
    const char* Said;
  };
  const TRefusal refusals[] = {
      {{"--correct", dir.filePath("tune.msq"), "--tune", dir.filePath("tune.msq")}, "write over"},
      {{"--correct", engine, "--tune", dir.filePath("tune.msq")}, "write over"},
      {{"--correct", dir.filePath("out.txt")}, "OUT.csv or OUT.msq"},
      {{"--correct", "--json", "--tune", dir.filePath("notable.msq")}, "veTable"},
      {{"--correct", "--json", "--tune", dir.filePath("short.msq")}, "rpmBins"},
      {{"--correct", "--json", "--tune", dir.filePath("missing.msq")}, "missing.msq"},
      {{"--correct", dir.filePath("new.msq")}, "--tune IN.msq"},
  };
  for (const TRefusal& r : refusals) {
    const viewertest::TRun refused = RunKestview(QStringList(r.Arguments) << engine);
    EXPECT_EQ(refused.Exit, 2) << r.Said;
    EXPECT_NE(refused.Err.find(r.Said), std::string::npos) << refused.Err;
    // One line of ours, no usage text (the toolkit may add a note of its own about the desktop).
    std::size_t said = 0;
    for (std::size_t at = 0; (at = refused.Err.find("kestview", at)) != std::string::npos; ++at) {
      ++said;
    }
    EXPECT_EQ(said, 1U) << refused.Err;
  }
  QFile tune(dir.filePath("tune.msq"));
  ASSERT_TRUE(tune.open(QIODevice::ReadOnly));
  EXPECT_EQ(tune.readAll().toStdString(), TuneText);
}

}  // namespace
