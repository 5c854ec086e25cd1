// Following engine logs as they are written: a followed engine log grown record by record, cut
// short, replaced by another file and by one with other channels, one whose first bytes came
// late, the lining up found once the logs have grown, the window's table growing with the log,
// and a folder followed to its newest logs. Files are written here byte by byte, and every read
// is asked for directly (ReadAppended, ScanFolders) instead of waited for.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/log/MlgBuilder.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/session/ViewSession.h"
#include "viewer/window/MixtureTablePanel.h"
#include "viewer/window/ViewerWindow.h"

namespace {

using TChange = viewer::TViewSession::TChange;

enum class TKind { Mlg, Csv };

// An engine log of `records` records, 20 a second, its engine speed `rpm` + the record's number,
// its load 30 + the number modulo 50. `reordered`: its channels in another order, with a throttle
// among them; `afr`: (a text log) with its own mixture channel, AFR 14.0 to 14.9.
std::string EngineBytes(TKind kind, int rpm, int records, bool reordered = false,
                        bool afr = false) {
  if (kind == TKind::Mlg) {
    logtest::TMlgBuilder mlg(2, 1714564800);
    if (reordered) mlg.Field(0, "TPS", "%");
    mlg.Field(2, "RPM", "rpm").Field(0, "MAP", "kPa");
    for (int i = 0; i < records; ++i) {
      const double map = 30 + i % 50;
      mlg.Record(static_cast<std::uint16_t>(i * 5000),
                 reordered ? std::vector<double>{10, static_cast<double>(rpm + i), map}
                           : std::vector<double>{static_cast<double>(rpm + i), map});
    }
    return mlg.Bytes();
  }
  std::string text = "Log started 2024-05-01 12:00:00 +0000\n";
  text += reordered ? "Time (s),TPS (%),RPM (rpm),MAP (kPa)" : "Time (s),RPM (rpm),MAP (kPa)";
  text += afr ? ",AFR (AFR)\n" : "\n";
  char row[80];
  for (int i = 0; i < records; ++i) {
    std::snprintf(row, sizeof row, reordered ? "%.2f,10,%d,%d" : "%.2f,%d,%d", i / 20.0, rpm + i,
                  30 + i % 50);
    text += row;
    text += afr ? ",14." + std::to_string(i % 10) + "\n" : "\n";
  }
  return text;
}

// Where record `n` of such a log ends (the header's end for 0).
std::size_t RecordEnd(TKind kind, int rpm, int n) { return EngineBytes(kind, rpm, n).size(); }

float LastRpm(const enginelog::TLog& log) {
  return log.Channels[static_cast<std::size_t>(log.FindChannel("RPM"))].Values.back();
}

// The file at `path` replaced by `bytes` as a program replaces a file: written aside, then moved
// over it.
bool ReplaceFile(const QString& path, const std::string& bytes) {
  const QString aside = path + ".new";
  std::error_code error;
  if (!viewertest::WriteFile(aside, bytes)) return false;
  std::filesystem::rename(aside.toStdString(), path.toStdString(), error);
  return !error;
}

TEST(Follow, TheEngineLogIsFollowedThroughGrowthTruncationAndReplacement) {
  for (const TKind kind : {TKind::Mlg, TKind::Csv}) {
    SCOPED_TRACE(kind == TKind::Mlg ? "mlg" : "csv");
    QTemporaryDir dir;
    const QString path = dir.filePath(kind == TKind::Mlg ? "drive.mlg" : "drive.csv");
    const std::string first = EngineBytes(kind, 1000, 100);
    // The engine software has written half its header so far.
    ASSERT_TRUE(viewertest::WriteFile(path, first.substr(0, RecordEnd(kind, 1000, 0) / 2)));
    viewer::TViewSession session;
    session.SetFollow(true);
    const auto reports = session.OpenFiles({path});
    ASSERT_EQ(reports.front().Error, "");
    EXPECT_EQ(session.EngineLog(), nullptr);
    EXPECT_TRUE(session.Messages().contains("waiting")) << session.Messages().toStdString();
    QSignalSpy changes(&session, &viewer::TViewSession::Changed);

    // 70 records and half of the next: the half is not shown.
    const std::size_t at70 = RecordEnd(kind, 1000, 70);
    ASSERT_TRUE(viewertest::WriteFile(path, first.substr(0, at70 + 3)));
    session.ReadAppended();
    ASSERT_NE(session.EngineLog(), nullptr) << session.Messages().toStdString();
    EXPECT_TRUE(session.Logs().empty());
    EXPECT_EQ(session.EnginePath(), path);
    EXPECT_EQ(session.EngineLog()->Rows(), 70u);
    EXPECT_FLOAT_EQ(LastRpm(*session.EngineLog()), 1069);
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes.front().front().value<TChange>(), TChange::Files);
    const unsigned number = session.EngineNumber();
    session.SetTableBinsText("1000, 1050, 1100", "30, 55, 80");
    session.SetTableTarget("14.1");
    const viewer::TTableSetup setup = session.TableSetup();

    changes.clear();
    ASSERT_TRUE(
        viewertest::AppendFile(path, first.substr(at70 + 3, RecordEnd(kind, 1000, 80) - at70 - 3)));
    session.ReadAppended();
    EXPECT_EQ(session.EngineLog()->Rows(), 80u);
    EXPECT_FLOAT_EQ(LastRpm(*session.EngineLog()), 1079);
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes.front().front().value<TChange>(), TChange::Grew);
    changes.clear();
    session.ReadAppended();
    EXPECT_TRUE(changes.isEmpty());  // nothing new

    // Cut short and written anew: read again from its header.
    const std::string second = EngineBytes(kind, 2000, 100);
    ASSERT_TRUE(viewertest::WriteFile(path, second.substr(0, RecordEnd(kind, 2000, 65))));
    session.ReadAppended();
    EXPECT_EQ(session.EngineLog()->Rows(), 65u);
    EXPECT_FLOAT_EQ(LastRpm(*session.EngineLog()), 2064);
    // Replaced by a longer file: not taken for what was appended to the old one.
    ASSERT_TRUE(ReplaceFile(path, EngineBytes(kind, 3000, 100)));
    session.ReadAppended();
    EXPECT_EQ(session.EngineLog()->Rows(), 100u);
    EXPECT_FLOAT_EQ(LastRpm(*session.EngineLog()), 3099);
    EXPECT_EQ(session.EngineNumber(), number);
    EXPECT_EQ(session.TableSetup(), setup);

    // Replaced by a log with other channels: another log, the table's setup kept by the names.
    changes.clear();
    ASSERT_TRUE(ReplaceFile(path, EngineBytes(kind, 4000, 90, true)));
    session.ReadAppended();
    ASSERT_NE(session.EngineLog(), nullptr);
    EXPECT_FLOAT_EQ(LastRpm(*session.EngineLog()), 4089);
    EXPECT_NE(session.EngineNumber(), number);
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.front().front().value<TChange>(), TChange::Files);
    const viewer::TTableSetup& now = session.TableSetup();
    const auto& channels = session.EngineLog()->Channels;
    EXPECT_EQ(channels[now.XChannel].Name, "RPM");
    EXPECT_EQ(channels[now.YChannel].Name, "MAP");
    EXPECT_EQ(now.XBins, setup.XBins);
    EXPECT_EQ(now.Target, setup.Target);
  }
}

// The lining up is looked for again while it is not found: our log had no rows when opened.
TEST(Follow, AnAlignmentNotFoundIsFoundOnceTheLogsGrow) {
  QTemporaryDir dir;
  const QString ours = dir.filePath("mixture.csv");
  const QString engine = dir.filePath("engine.csv");
  // Ours begins at 12:00:00 UTC; the engine's clock says 12:00:00 too, so by clock it starts
  // with ours.
  const std::string mixture =
      viewertest::ExtendedLog(std::vector<int>(300, 147), std::vector<double>(300, 13.8), 0.1);
  const std::string header = mixture.substr(0, mixture.find('\n') + 1);
  ASSERT_TRUE(viewertest::WriteFile(ours, header));
  ASSERT_TRUE(viewertest::WriteFile(engine, EngineBytes(TKind::Csv, 1000, 200)));
  viewer::TViewSession session;
  session.SetFollow(true);
  session.SetAlign(viewer::TAlignMode::Clock);
  session.OpenFiles({ours, engine});
  ASSERT_NE(session.EngineLog(), nullptr);
  EXPECT_EQ(session.Alignment().How, "none");
  QSignalSpy changes(&session, &viewer::TViewSession::Changed);
  ASSERT_TRUE(viewertest::AppendFile(ours, mixture.substr(header.size())));
  session.ReadAppended();
  EXPECT_EQ(session.Alignment().How, "clock") << session.Alignment().Note;
  EXPECT_EQ(session.Alignment().Note, "");
  EXPECT_TRUE(changes.contains(QVariantList{QVariant::fromValue(TChange::Alignment)}));
}

// A followed file that was empty when opened is taken for a log of ours until its first bytes say
// it is an engine log; the window's panes and table then grow with it.
TEST(Follow, TheWindowShowsAnEngineLogThatBeganLateAndGrowsWithIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath("engine.csv");
  ASSERT_TRUE(viewertest::WriteFile(path, ""));
  viewer::TViewSession session;
  session.SetFollow(true);
  session.OpenFiles({path});
  EXPECT_EQ(session.EngineLog(), nullptr);
  viewer::TKestViewWindow window(&session);
  window.show();
  const std::string bytes = EngineBytes(TKind::Csv, 1000, 400, false, true);
  // The followed table updates on its own timer, at most twice a second: wait for it, with a
  // deadline far beyond that.
  const auto samples = [&](std::size_t wanted) {
    static_cast<void>(
        QTest::qWaitFor([&] { return window.MixtureTable()->Table().Samples == wanted; }, 10000));
    return window.MixtureTable()->Table().Samples;
  };
  const std::size_t at100 = EngineBytes(TKind::Csv, 1000, 100, false, true).size();
  ASSERT_TRUE(viewertest::WriteFile(path, bytes.substr(0, at100)));
  session.ReadAppended();
  ASSERT_NE(session.EngineLog(), nullptr);
  EXPECT_EQ(session.Given().front().Kind, viewer::TViewSession::TGivenFile::TKind::Engine);
  // The table takes in every record shown, the whole log while the whole is in view.
  EXPECT_EQ(samples(100), 100u);
  EXPECT_EQ(window.Panes()->Panes().Log, session.EngineLog());
  ASSERT_TRUE(viewertest::AppendFile(path, bytes.substr(at100)));
  session.ReadAppended();
  EXPECT_EQ(samples(400), 400u);
  ASSERT_EQ(window.Panes()->Panes().Log, session.EngineLog());
  EXPECT_EQ(window.Panes()->Panes().Log->Rows(), 400u);
}

// Files in a followed folder, each with its modification time set here.
void WriteAt(const QString& path, const std::string& bytes, int secondsAfter) {
  ASSERT_TRUE(viewertest::WriteFile(path, bytes));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(
      file.setFileTime(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC).addSecs(secondsAfter),
                       QFileDevice::FileModificationTime));
}

TEST(Follow, AFolderIsFollowedToItsNewestEngineLogAndLogOfOurs) {
  QTemporaryDir dir;
  const std::string ours =
      viewertest::ExtendedLog(std::vector<int>(20, 147), std::vector<double>(20, 13.8), 0.1);
  WriteAt(dir.filePath("old.csv"), EngineBytes(TKind::Csv, 1000, 100), 0);
  WriteAt(dir.filePath("mixture1.csv"), ours, 5);
  WriteAt(dir.filePath("new.csv"), EngineBytes(TKind::Csv, 2000, 100), 10);
  WriteAt(dir.filePath("notes.txt"), "just some words\n", 20);
  // Newest, but what it is does not show yet: passed over.
  WriteAt(dir.filePath("next.mlg"), "MLV", 30);
  viewer::TViewSession session;
  session.FollowFolders({dir.path()});
  EXPECT_TRUE(session.Follow());
  EXPECT_EQ(session.EnginePath(), dir.filePath("new.csv"));
  ASSERT_EQ(session.Logs().size(), 1u);
  EXPECT_EQ(session.Logs().front()->Path(), dir.filePath("mixture1.csv"));
  session.SetTableBinsText("2000, 2050", "30, 80");
  session.SetTableTarget("13.5");
  const viewer::TTableSetup setup = session.TableSetup();
  EXPECT_FALSE(session.ScanFolders());  // nothing newer

  // The engine software starts its next log: the table's setup stays.
  QSignalSpy changes(&session, &viewer::TViewSession::Changed);
  const unsigned number = session.EngineNumber();
  WriteAt(dir.filePath("next.mlg"), EngineBytes(TKind::Mlg, 3000, 100), 40);
  EXPECT_TRUE(session.ScanFolders());
  EXPECT_EQ(session.EnginePath(), dir.filePath("next.mlg"));
  ASSERT_NE(session.EngineLog(), nullptr);
  EXPECT_FLOAT_EQ(LastRpm(*session.EngineLog()), 3099);
  EXPECT_NE(session.EngineNumber(), number);
  EXPECT_EQ(session.TableSetup(), setup);
  ASSERT_FALSE(changes.isEmpty());
  EXPECT_EQ(changes.back().front().value<TChange>(), TChange::Files);

  // A newer log of ours takes the place of the folder's last one.
  WriteAt(dir.filePath("mixture2.csv"), ours, 50);
  EXPECT_TRUE(session.ScanFolders());
  ASSERT_EQ(session.Logs().size(), 1u);
  EXPECT_EQ(session.Logs().front()->Path(), dir.filePath("mixture2.csv"));
  EXPECT_EQ(session.EnginePath(), dir.filePath("next.mlg"));
  EXPECT_EQ(session.TableSetup(), setup);
}

}  // namespace
