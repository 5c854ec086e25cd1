// kestview --table's command line: whatever it cannot do is refused as a bad command line with a
// message that names the culprit, before anything is printed or written.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/session/TableCommand.h"
#include "viewer/session/ViewSession.h"

namespace {

// An engine's text log of 30 s at 20 records a second, with or without its own mixture channel.
std::string EngineText(bool withAfr) {
  std::string text =
      withAfr ? "Time (s),RPM (rpm),MAP (kPa),AFR (AFR)\n" : "Time (s),RPM (rpm),MAP (kPa)\n";
  for (int i = 0; i < 600; ++i) {
    text += std::to_string(i / 20.0) + "," + std::to_string(1000 + i % 7 * 500) + "," +
            std::to_string(30 + i % 5 * 20) + (withAfr ? ",14.1\n" : "\n");
  }
  return text;
}

enum class TFiles { EngineWithAfr, EngineWithoutAfr, OursOnly };

TEST(TableCommand, WhatCannotBeDoneIsRefusedNamingTheCulprit) {
  QTemporaryDir dir;
  const QString ours = dir.filePath("ours.csv");
  const QString wrongShape = dir.filePath("target.csv");
  ASSERT_TRUE(
      viewertest::WriteFile(ours, viewertest::ExtendedLog({147, 150, 140}, {13, 13, 13}, 0.1)));
  ASSERT_TRUE(viewertest::WriteFile(wrongShape, "14.7,14.7\n13.0,13.0\n"));
  const std::string p = dir.path().toStdString() + "/";
  struct TCase {
    std::vector<std::string> Arguments;  // after --table
    TFiles Files;
    std::string Culprit;  // empty: the table is made
  };
  const TCase cases[] = {
      {{"--json", "e.csv"}, TFiles::EngineWithAfr, ""},
      {{"--json", "--x", "Nope", "e.csv"}, TFiles::EngineWithAfr, "Nope"},
      {{"--json", "--y", "Gear", "e.csv"}, TFiles::EngineWithAfr, "Gear"},
      {{"--json", "--mixture", "Lambda2", "e.csv"}, TFiles::EngineWithAfr, "Lambda2"},
      {{"--json", "--x-bins", "3000,2000", "e.csv"}, TFiles::EngineWithAfr, "--x-bins"},
      {{"--json", "--y-bins", "20,x", "e.csv"}, TFiles::EngineWithAfr, "x is not a number"},
      {{"--json", "--lag", "soon", "e.csv"}, TFiles::EngineWithAfr, "soon"},
      {{"--json", "--min-hits", "many", "e.csv"}, TFiles::EngineWithAfr, "many"},
      {{"--json", "--unit", "kelvin", "e.csv"}, TFiles::EngineWithAfr, "kelvin"},
      {{"--json", "--steady", "TPS=5", "e.csv"}, TFiles::EngineWithAfr, "TPS"},
      {{"--json", "--range", "MAP=high:", "e.csv"}, TFiles::EngineWithAfr, "high"},
      {{"--json", "--x-bins", "1000,2000,3000", "--y-bins", "30,70,110", "--target",
        p + "target.csv", "e.csv"},
       TFiles::EngineWithAfr,
       "2 rows of 2 cells"},
      {{"--json", "--target", p + "none.csv", "e.csv"}, TFiles::EngineWithAfr, "none.csv"},
      {{"--json", "e.csv"}, TFiles::EngineWithoutAfr, "no mixture"},
      {{"--json", "ours.csv"}, TFiles::OursOnly, "engine log"},
      {{"--json", "--export", "x.png", "e.csv"}, TFiles::EngineWithAfr, "--export"},
      {{"--json"}, TFiles::EngineWithAfr, "FILE"},
      {{}, TFiles::EngineWithAfr, "--table"},
      {{"e.csv", "e.csv"}, TFiles::EngineWithAfr, "write over e.csv"},
      // A forgotten --json: the log of ours is taken for the table's file, and kept.
      {{p + "ours.csv", "e.csv"}, TFiles::EngineWithAfr, "is a log"},
  };
  // The logs are opened through a session, as kestview opens the command line's files.
  const QString withAfr = dir.filePath("with-afr.csv");
  const QString withoutAfr = dir.filePath("without-afr.csv");
  ASSERT_TRUE(viewertest::WriteFile(withAfr, EngineText(true)));
  ASSERT_TRUE(viewertest::WriteFile(withoutAfr, EngineText(false)));
  for (const TCase& c : cases) {
    QStringList arguments{"--table"};
    for (const std::string& argument : c.Arguments) arguments << QString::fromStdString(argument);
    SCOPED_TRACE(arguments.join(' ').toStdString());
    std::string error;
    const std::optional<viewer::TViewOptions> options = viewer::ParseViewOptions(arguments, error);
    viewer::TTableOutcome outcome;
    if (options) {
      viewer::TViewSession session(viewer::TViewSession::TSecondEngineLog::KeepFirst);
      session.OpenFiles({c.Files == TFiles::EngineWithAfr      ? withAfr
                         : c.Files == TFiles::EngineWithoutAfr ? withoutAfr
                                                               : ours});
      outcome = viewer::RunTable(*options, session);
      error = outcome.Message;
    }
    if (c.Culprit.empty()) {
      ASSERT_TRUE(options) << error;
      EXPECT_EQ(outcome.Status, viewer::TTableStatus::Done) << error;
      EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(outcome.Output)).isNull());
      continue;
    }
    // Refused by the parser or by the command: both end as a bad command line.
    EXPECT_TRUE(!options || outcome.Status == viewer::TTableStatus::BadRequest);
    EXPECT_NE(error.find(c.Culprit), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  QFile kept(ours);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_TRUE(kept.readAll().startsWith(csvlog::ExtendedHeader));
}

}  // namespace
