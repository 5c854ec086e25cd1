// kestview's session: each command changes what it holds and says so once, the same command again
// says nothing, and the window shows what the command line set before it was built.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <functional>

#include "ViewerTestSupport.h"
#include "viewer/session/ViewSession.h"
#include "viewer/window/ViewerWindow.h"

namespace {

using TSession = viewer::TViewSession;
using TChange = TSession::TChange;

// An engine's text log of 20 s at 20 records a second from the mixture log's first row's time.
std::string EngineText() {
  std::string text = "Time (s),RPM (rpm),MAP (kPa),TPS (%),AFR (AFR)\n";
  for (int i = 0; i < 400; ++i) {
    text += std::to_string(i / 20.0) + "," + std::to_string(1000 + i % 7 * 500) + "," +
            std::to_string(30 + i % 5 * 20) + ",10,14.1\n";
  }
  return text;
}

struct TFiles {
  QTemporaryDir Dir;
  QString Ours = Dir.filePath("ours.csv");
  QString Engine = Dir.filePath("engine.csv");
  TFiles() {
    EXPECT_TRUE(viewertest::WriteFile(
        Ours,
        viewertest::ExtendedLog(std::vector<int>(100, 147), std::vector<double>(100, 13), 0.1)));
    EXPECT_TRUE(viewertest::WriteFile(Engine, EngineText()));
  }
};

TEST(ViewSession, EachCommandChangesItsPartAndSaysSoOnceAndOnlyOnce) {
  TFiles files;
  struct TCase {
    const char* Name;
    std::function<void(TSession&)> Command;
    TChange Says;
    std::function<bool(const TSession&)> Holds;
  };
  const TCase cases[] = {
      {"unit",
       [](TSession& s) {
         s.SetDisplay({sensor::dmLambda, sensor::ftPetrol});
       },
       TChange::Display,
       [](const TSession& s) { return s.Display().DisplayMode == sensor::dmLambda; }},
      {"time since start", [](TSession& s) { s.SetRelative(true); }, TChange::TimeAxis,
       [](const TSession& s) { return s.Relative() && s.RelativeAxis(); }},
      {"bands",
       [](TSession& s) {
         s.SetBands({0.9, 1.1});
       },
       TChange::Bands,
       [](const TSession& s) { return s.Bands().RichBelow == 0.9 && s.Bands().LeanAbove == 1.1; }},
      {"lined up by clock", [](TSession& s) { s.SetAlign(viewer::TAlignMode::Clock); },
       TChange::Alignment,
       [](const TSession& s) { return s.AlignMode() == viewer::TAlignMode::Clock; }},
      {"a hand offset", [](TSession& s) { s.SetHandOffset(7.3); }, TChange::Alignment,
       [](const TSession& s) {
         return s.Alignment().How == "hand" && s.Alignment().Offset == 7.3 &&
                s.TableDescription({}).Offset == 7.3;
       }},
      {"shown channels", [](TSession& s) { s.SetShownChannels({3}); }, TChange::Channels,
       [](const TSession& s) { return s.ShownChannels() == std::vector<std::size_t>{3}; }},
      {"view range", [](TSession& s) { s.SetView(2, 4); }, TChange::View,
       [](const TSession& s) { return s.ViewFrom() == 2 && s.ViewTo() == 4; }},
      {"cursor", [](TSession& s) { s.SetCursor(3.5); }, TChange::Cursor,
       [](const TSession& s) { return s.Cursor() == 3.5; }},
      {"follow", [](TSession& s) { s.SetFollow(true); }, TChange::Follow,
       [](const TSession& s) { return s.Follow() && s.Logs().front()->Following(); }},
      // Another channel across takes breakpoints of its own, derived from the log.
      {"table axes", [](TSession& s) { s.SetTableAxes(2, 1); }, TChange::Table,
       [](const TSession& s) {
         return s.TableSetup().XChannel == 2 && s.TableSetup().XBins == "10";
       }},
      // Typed breakpoints are read when the table is made: what does not read is named there.
      {"typed breakpoints", [](TSession& s) { s.SetTableBinsText("1000 2000", "100 50"); },
       TChange::Table,
       [](const TSession& s) {
         viewer::TTableProblem problem;
         return !s.TableSettings(problem) && problem.Field == viewer::TTableProblem::TField::YBins;
       }},
      {"mixture from the engine log", [](TSession& s) { s.SetTableMixture(3); }, TChange::Table,
       [](const TSession& s) {
         viewer::TTableProblem problem;
         const auto settings = s.TableSettings(problem);
         return settings && settings->UseEngineMixture && settings->MixtureChannel == 3u;
       }},
      {"lag", [](TSession& s) { s.SetTableLag(0.25); }, TChange::Table,
       [](const TSession& s) { return s.TableSetup().Lag == 0.25; }},
      {"minimum hits", [](TSession& s) { s.SetTableMinHits(3); }, TChange::Table,
       [](const TSession& s) { return s.TableSetup().MinHits == 3; }},
      {"steady filter",
       [](TSession& s) {
         s.SetTableSteady(true, {3, 5, 1});
       },
       TChange::Table,
       [](const TSession& s) {
         viewer::TTableProblem problem;
         const auto settings = s.TableSettings(problem);
         return settings && settings->Steady && settings->Steady->Rate == 5;
       }},
      {"range filter with a decimal comma",
       [](TSession& s) {
         s.SetTableRanges({{2, "50,5", ""}});
       },
       TChange::Table,
       [](const TSession& s) {
         viewer::TTableProblem problem;
         const auto settings = s.TableSettings(problem);
         return settings && settings->Ranges.size() == 1 && settings->Ranges[0].Low == 50.5;
       }},
      {"target", [](TSession& s) { s.SetTableTarget("13,5"); }, TChange::Table,
       [](const TSession& s) {
         viewer::TTableProblem problem;
         const auto settings = s.TableSettings(problem);
         return settings && settings->Target.Value == 13.5;
       }},
      {"what the cells show", [](TSession& s) { s.SetTableQuantity(viewer::TTableQuantity::Hits); },
       TChange::Table,
       [](const TSession& s) { return s.TableSetup().Quantity == viewer::TTableQuantity::Hits; }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSession session;
    session.OpenFiles({files.Ours, files.Engine});
    ASSERT_NE(session.EngineLog(), nullptr);
    ASSERT_EQ(session.Logs().size(), 1u);
    QSignalSpy spy(&session, &TSession::Changed);
    c.Command(session);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<TChange>(), c.Says);
    EXPECT_TRUE(c.Holds(session));
    c.Command(session);
    EXPECT_EQ(spy.count(), 1) << "the same command again";
  }
}

// Started as `kestview --offset 7.3 ours.csv engine.csv`: the tool bar says by hand, both in the
// box of ways and beside the offset.
TEST(ViewSession, TheWindowShowsWhatTheCommandLineSet) {
  TFiles files;
  TSession session;
  session.SetAlign(viewer::TAlignMode::Match);
  session.OpenFiles({files.Ours, files.Engine});
  session.SetHandOffset(7.3);
  session.SetDisplay({sensor::dmLambda, sensor::ftMethanol});
  viewer::TKestViewWindow window(&session);
  EXPECT_EQ(window.findChild<QComboBox*>("AlignMode")->currentText(), "By hand");
  EXPECT_EQ(window.findChild<QDoubleSpinBox*>("AlignOffset")->value(), 7300);
  EXPECT_TRUE(window.findChild<QLabel*>("AlignText")->text().contains("7.300 s, by hand"));
  EXPECT_EQ(window.findChild<QComboBox*>("Unit")->currentText(), "Lambda");
  EXPECT_EQ(window.findChild<QComboBox*>("Fuel")->currentText(), "Methanol");
  // Showing the session sent nothing back: the hand offset and the display stay.
  EXPECT_EQ(session.HandOffset(), 7.3);
  EXPECT_EQ(session.Display().FuelType, sensor::ftMethanol);
  // Picking a way in the box drops the hand offset.
  auto* mode = window.findChild<QComboBox*>("AlignMode");
  mode->setCurrentIndex(mode->findText("By clock"));
  EXPECT_FALSE(session.HandOffset());
  EXPECT_EQ(session.AlignMode(), viewer::TAlignMode::Clock);
}

}  // namespace
