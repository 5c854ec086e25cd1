// The mixture table on screen: the heat map's colours for rich, lean and empty cells, and the
// window's table following the chart's zoom and cursor on either time axis, with our log lined
// up or the engine log's own mixture; the corrected fuel table over a tune, shown, copied and
// written into a copy of the tune; and the table running while our log grows. The logs and tunes
// are written here, so each cell's answer is known.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ViewerTestSupport.h"
#include "log/Tune.h"
#include "viewer/table/MixtureTablePainter.h"
#include "viewer/window/MixtureTablePanel.h"
#include "viewer/window/ViewerWindow.h"

namespace {

TEST(MixtureTableWindow, RichAndLeanCellsTakeOppositeColoursAndSparseCellsStayEmpty) {
  enum TLooks { Rich, Lean, Neutral, Empty };
  struct TCase {
    const char* Name;
    double Mean;
    std::uint32_t Hits;
    double Correction;  // NaN: no target
    TLooks Looks;
  };
  const double none = std::numeric_limits<double>::quiet_NaN();
  const TCase cases[] = {
      {"rich against stoichiometric", 12.0, 20, none, Rich},
      {"lean against stoichiometric", 17.0, 20, none, Lean},
      {"stoichiometric", 14.7, 20, none, Neutral},
      {"fewer hits than the minimum", 12.0, 9, none, Empty},
      {"rich, but on its target", 12.5, 20, 1.0, Neutral},
      {"near stoichiometric, but leaner than its target", 14.7, 20, 1.2, Lean},
  };
  viewer::TMixtureTable table;
  table.XBins = {1000, 2000, 3000};
  table.YBins = {40, 100};
  table.MinHits = 10;
  table.Cells.resize(6);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    table.Cells[i] = viewer::TTableCell{cases[i].Mean, 0.1, cases[i].Hits, cases[i].Correction};
  }
  QImage image(700, 360, QImage::Format_RGB32);
  const QRectF bounds(0, 0, 700, 360);
  QPainter painter(&image);
  viewer::TTablePaintOptions options;  // petrol AFR
  viewer::PaintMixtureTable(painter, bounds, table, options);
  painter.end();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].Name);
    const viewer::TCellIndex cell{i % 3, i / 3};
    const QRectF rect = viewer::TableCellRect(bounds, table, cell);
    // The mouse finds the cell where it is drawn.
    EXPECT_EQ(viewer::TableCellAtPoint(bounds, table, rect.center()), cell);
    const QColor colour = image.pixelColor(rect.topLeft().toPoint() + QPoint(4, 4));
    switch (cases[i].Looks) {
      case Rich:
        EXPECT_GT(colour.red(), colour.blue() + 60) << colour.name().toStdString();
        break;
      case Lean:
        EXPECT_GT(colour.blue(), colour.red() + 60) << colour.name().toStdString();
        break;
      case Neutral:
        EXPECT_LT(std::abs(colour.red() - colour.blue()), 30) << colour.name().toStdString();
        EXPECT_NE(colour, viewer::TableBackground);
        break;
      case Empty:
        EXPECT_EQ(colour, viewer::TableBackground) << colour.name().toStdString();
        break;
    }
  }
}

// Our log from 12:00:00 UTC, 10 rows a second for 100 s: AFR 12.0 for the first 50 s, 15.0 after.
std::string MixtureLog() {
  std::string text = "time,reading,afr,lambda,volts,temp,status\n";
  char row[160];
  for (int i = 0; i < 1000; ++i) {
    const double afr = i < 500 ? 12.0 : 15.0;
    std::snprintf(row, sizeof row,
                  "2024-05-01T12:%02d:%02d.%d00+00:00,%.1f,%.1f,%.3f,13.80,20,live\n", i / 600,
                  i / 10 % 60, i % 10, afr, afr, afr / 14.7);
    text += row;
  }
  return text;
}

// The engine's log from 12:00:05, 20 records a second for 90 s, its own clock starting at 3 s:
// 3000 rpm at 100 kPa for 45 s (until our 50th second), 2000 rpm at 50 kPa after; its own AFR
// half a ratio leaner than ours at that time.
std::string EngineLog() {
  std::string text =
      "Log started 2024-05-01 12:00:05 +0000\nTime (s),RPM (rpm),MAP (kPa),AFR (AFR)\n";
  char line[96];
  for (int i = 0; i < 1800; ++i) {
    const bool first = i < 900;
    std::snprintf(line, sizeof line, "%.2f,%d,%d,%.1f\n", 3 + i / 20.0, first ? 3000 : 2000,
                  first ? 100 : 50, first ? 12.5 : 15.5);
    text += line;
  }
  return text;
}

TEST(MixtureTableWindow, TheTableIsMadeOfTheZoomRangeAndOutlinesTheCursorsCell) {
  QTemporaryDir dir;
  const QString mixturePath = dir.filePath("mixture.csv");
  const QString enginePath = dir.filePath("engine.csv");
  ASSERT_TRUE(viewertest::WriteFile(mixturePath, MixtureLog()));
  ASSERT_TRUE(viewertest::WriteFile(enginePath, EngineLog()));
  struct TCase {
    const char* Name;
    bool OurLog;
    bool Relative;
    double Rich, Lean;  // the means of the full-load and the light-load cell
  };
  const TCase cases[] = {{"our log, clock axis", true, false, 12.0, 15.0},
                         {"our log, relative axis", true, true, 12.0, 15.0},
                         {"the engine log's own mixture", false, true, 12.5, 15.5}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    viewer::TKestViewWindow window;
    window.SetAlign(viewer::TAlignMode::Clock);
    window.SetRelative(c.Relative);
    ASSERT_EQ(
        window.OpenFiles(c.OurLog ? QStringList{mixturePath, enginePath} : QStringList{enginePath}),
        c.OurLog ? 2 : 1);
    window.resize(1100, 900);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    viewer::TMixtureTablePanel* panel = window.MixtureTable();
    ASSERT_TRUE(panel->isVisible());
    panel->SetBinsText("2000, 3000", "50, 100");
    // Where the engine log's first record is on the chart's axis: its panes say so.
    const double engineZero = window.Panes()->Panes().Shift + 3;
    const auto tableAfter = [&](double from, double to) {
      window.Chart()->SetRange(engineZero + from, engineZero + to);
      EXPECT_TRUE(QTest::qWaitFor([&] { return !panel->RebuildPending(); }, 10000));
      return panel->Table();
    };
    const viewer::TMixtureTable all = tableAfter(0, 90);
    ASSERT_EQ(all.Cells.size(), 4u) << all.Error;
    EXPECT_NEAR(all.At(1, 1).Mean, c.Rich, 0.02);  // 3000 rpm, 100 kPa: lined up with the rich part
    EXPECT_NEAR(all.At(0, 0).Mean, c.Lean, 0.02);
    EXPECT_EQ(all.At(0, 1).Hits + all.At(1, 0).Hits, 0u);
    const viewer::TMixtureTable early = tableAfter(10, 40);
    EXPECT_NEAR(early.At(1, 1).Hits, 600, 2);  // 30 s of 20 records
    EXPECT_EQ(early.At(0, 0).Hits, 0u);
    const viewer::TMixtureTable late = tableAfter(50, 70);
    EXPECT_EQ(late.At(1, 1).Hits, 0u);
    EXPECT_NEAR(late.At(0, 0).Hits, 400, 2);
    const viewer::TMixtureTable across = tableAfter(40, 50);
    EXPECT_NEAR(across.At(1, 1).Hits, 100, 2);
    EXPECT_NEAR(across.At(0, 0).Hits, 100, 2);

    window.Chart()->SetRange(engineZero, engineZero + 90);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->RebuildPending(); }, 10000));
    const QRectF plot = viewer::PlotArea(QRectF(window.Chart()->rect()));
    for (const auto& [second, cell] :
         {std::pair{20.0, viewer::TCellIndex{1, 1}}, std::pair{70.0, viewer::TCellIndex{0, 0}}}) {
      QTest::mouseMove(window.Chart(),
                       QPoint(static_cast<int>(plot.left() + plot.width() * second / 90), 40));
      EXPECT_EQ(panel->OutlinedCell(), cell) << second;
    }
    EXPECT_TRUE(window.MixtureTableDock()->isVisible());
  }
  // An engine log without engine speed and load keeps the table behind the View menu.
  const QString sensorPath = dir.filePath("sensor.csv");
  ASSERT_TRUE(viewertest::WriteFile(
      sensorPath, "Time (s),AFR (AFR),Volts (V)\n0,14.7,13\n0.1,14.6,13\n0.2,14.5,13\n"));
  viewer::TKestViewWindow window;
  ASSERT_EQ(window.OpenFiles({sensorPath}), 1);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_FALSE(window.MixtureTableDock()->isVisible());
  EXPECT_TRUE(window.MixtureTableDock()->toggleViewAction()->isEnabled());
}

// A wideband of zeros: the window's table stays empty and its status line says why.
TEST(MixtureTableWindow, TheStatusLineSaysWhyTheTableIsEmpty) {
  QTemporaryDir dir;
  std::string text = "Time (s),RPM (rpm),MAP (kPa),Wideband (AFR)\n";
  for (int i = 0; i < 300; ++i) {
    text += std::to_string(i / 10.0) + "," + std::to_string(1000 + 10 * i) + ",50,0\n";
  }
  ASSERT_TRUE(viewertest::WriteFile(dir.filePath("zeros.csv"), text));
  viewer::TKestViewWindow window;
  ASSERT_EQ(window.OpenFiles({dir.filePath("zeros.csv")}), 1);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  viewer::TMixtureTablePanel& panel = *window.MixtureTable();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.RebuildPending(); }, 10000));
  EXPECT_FALSE(panel.Table().AnyShown());
  EXPECT_EQ(panel.StatusText().toStdString(),
            "No cells: all 300 engine records in range were left out: 300 with an implausible "
            "mixture (outside lambda 0.5 to 2.0)");
}

// What the user sets in the panel's controls reaches the table: target, filters, mixture, lag,
// unit and minimum hits; what does not read is named and leaves the last table standing.
TEST(MixtureTableWindow, TheControlsReachTheTable) {
  QTemporaryDir dir;
  const QString mixturePath = dir.filePath("mixture.csv");
  const QString enginePath = dir.filePath("engine.csv");
  const QString gridPath = dir.filePath("target.csv");
  ASSERT_TRUE(viewertest::WriteFile(mixturePath, MixtureLog()));
  ASSERT_TRUE(viewertest::WriteFile(enginePath, EngineLog()));
  ASSERT_TRUE(viewertest::WriteFile(gridPath, "MAP \\ RPM,2000,3000\n50,15,20\n100,30,10\n"));
  using TPanel = viewer::TMixtureTablePanel;
  const auto type = [](TPanel& panel, const char* name, const char* text) {
    auto* edit = panel.findChild<QLineEdit*>(name);
    edit->clear();
    QTest::keyClicks(edit, text);
  };
  const auto pick = [](TPanel& panel, const char* name, const char* text) {
    auto* box = panel.findChild<QComboBox*>(name);
    box->setCurrentIndex(box->findText(text));
  };
  const double any = std::numeric_limits<double>::quiet_NaN();
  struct TCase {
    const char* Name;
    std::function<void(viewer::TKestViewWindow&, TPanel&)> Set;
    double Rich;              // the full-load cell's mean (any: not checked)
    double RichCorrection;    // ... and its correction (any: none)
    std::uint32_t LeanHits;   // the light-load cell's hits
    const char* Status = "";  // what the status line says
    bool RichShown = true;
  };
  const TCase cases[] = {
      {"a target typed with a decimal comma",
       [&](auto&, TPanel& p) { type(p, "TableTarget", "12,0"); }, 12.0, 1.0, 900},
      {"a target grid with its breakpoints", [&](auto&, TPanel& p) { p.LoadTarget(gridPath); },
       12.0, 1.2, 900},
      {"the grid no longer fits the breakpoints",
       [&](auto&, TPanel& p) {
         p.LoadTarget(gridPath);
         EXPECT_TRUE(QTest::qWaitFor([&] { return !p.RebuildPending(); }, 10000));
         type(p, "TableXBins", "1000 2000 3000");
       },
       12.0, 1.2, 900, "2 x 2"},
      {"only high load",
       [&](auto&, TPanel& p) {
         pick(p, "TableRangeChannel", "MAP");
         type(p, "TableRangeLow", "75,5");
       },
       12.0, any, 0},
      {"only low load",
       [&](auto&, TPanel& p) {
         pick(p, "TableRangeChannel", "MAP");
         type(p, "TableRangeHigh", "75");
       },
       any, any, 900, "", false},
      {"a range end that does not read",
       [&](auto&, TPanel& p) {
         pick(p, "TableRangeChannel", "MAP");
         type(p, "TableRangeLow", "abc");
       },
       12.0, any, 900, "range filter"},
      {"breakpoints that do not rise", [&](auto&, TPanel& p) { type(p, "TableYBins", "100 50"); },
       12.0, any, 900, "Breakpoints down"},
      {"the engine log's own mixture",
       [&](auto&, TPanel& p) { pick(p, "TableMixture", "Engine log: AFR"); }, 12.5, any, 900},
      // Five seconds later our mixture is lean for the last 100 of the 900 full-load records.
      {"a lag", [&](auto&, TPanel& p) { p.findChild<QDoubleSpinBox*>("TableLag")->setValue(5); },
       12 + 3.0 * 100 / 900, any, 900},
      {"lambda",
       [&](viewer::TKestViewWindow& w, auto&) {
         w.SetDisplay({sensor::dmLambda, sensor::ftPetrol});
       },
       12.0 / 14.7, any, 900},
      {"more hits wanted than the cell has",
       [&](auto&, TPanel& p) { p.findChild<QSpinBox*>("TableMinHits")->setValue(901); }, any, any,
       900, "", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    viewer::TKestViewWindow window;
    window.SetAlign(viewer::TAlignMode::Clock);
    ASSERT_EQ(window.OpenFiles({mixturePath, enginePath}), 2);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TPanel& panel = *window.MixtureTable();
    panel.SetBinsText("2000, 3000", "50, 100");
    const double engineZero = window.Panes()->Panes().Shift + 3;
    window.Chart()->SetRange(engineZero, engineZero + 90);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.RebuildPending(); }, 10000));
    c.Set(window, panel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.RebuildPending(); }, 10000));
    const viewer::TMixtureTable& table = panel.Table();
    ASSERT_EQ(table.Cells.size(), 4u) << table.Error;
    if (!std::isnan(c.Rich)) {
      EXPECT_NEAR(table.At(1, 1).Mean, c.Rich, 0.02);
    }
    if (std::isnan(c.RichCorrection)) {
      EXPECT_TRUE(std::isnan(table.At(1, 1).Correction));
    } else {
      EXPECT_NEAR(table.At(1, 1).Correction, c.RichCorrection, 0.002);
    }
    EXPECT_NEAR(table.At(0, 0).Hits, c.LeanHits, 2);
    EXPECT_EQ(table.Shown(1, 1), c.RichShown);
    EXPECT_TRUE(panel.StatusText().contains(c.Status)) << panel.StatusText().toStdString();
  }
}

// A 3 x 3 fuel table (one decimal) over 1000, 2000, 3000 rpm and 30, 60, 90 kPa, as a tuning
// program writes its tune; the lowest load's row first.
const std::string VeTableStart =
    "<constant cols=\"3\" digits=\"1\" name=\"veTable\" rows=\"3\" units=\"%\">";
std::string SmallTune() {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
         "<msq xmlns=\"http://example.invalid/msq\">\r\n"
         "<page number=\"0\">\r\n" +
         VeTableStart +
         "\r\n"
         "         40.0 50.0 60.0\r\n"
         "         45.0 55.0 65.0\r\n"
         "         50.0 60.0 70.0\r\n"
         "      </constant>\r\n"
         "<constant cols=\"1\" digits=\"0\" name=\"rpmBins\" rows=\"3\" units=\"rpm\">\r\n"
         "         1000\r\n         2000\r\n         3000\r\n"
         "      </constant>\r\n"
         "<constant cols=\"1\" digits=\"0\" name=\"fuelLoadBins\" rows=\"3\" units=\"kPa\">\r\n"
         "         30\r\n         60\r\n         90\r\n"
         "      </constant>\r\n"
         "</page>\r\n</msq>\r\n";
}

// The engine's log, 10 records a second, 5 s at each of four points of the tune's grid with the
// fuel table value (VE) it read there: lambda 1.1 against a stoichiometric target everywhere, so
// the engine breathes 10 % more than its table says in the four cells it visited.
std::string CorrectionEngineLog(bool withVe) {
  std::string text = std::string("Time (s),RPM (rpm),MAP (kPa),AFR (AFR),") +
                     (withVe ? "VE (%)," : "") + "AFR Target (AFR)\n";
  const struct {
    int Rpm, Map;
    double Ve;
  } points[] = {{1000, 30, 40}, {2000, 60, 55}, {3000, 90, 70}, {3000, 30, 60}};
  char line[96];
  int record = 0;
  for (const auto& point : points) {
    for (int i = 0; i < 50; ++i, ++record) {
      std::snprintf(line, sizeof line, "%.1f,%d,%d,16.17,", record / 10.0, point.Rpm, point.Map);
      text += line;
      if (withVe) text += std::to_string(point.Ve) + ",";
      text += "14.7\n";
    }
  }
  return text;
}

TEST(MixtureTableWindow, TheCorrectedFuelTableIsShownCopiedAndWrittenIntoACopyOfTheTune) {
  QTemporaryDir dir;
  const QString tunePath = dir.filePath("base.msq");
  const QString enginePath = dir.filePath("engine.csv");
  const QString noVePath = dir.filePath("engine-without-ve.csv");
  const std::string tune = SmallTune();
  ASSERT_TRUE(viewertest::WriteFile(tunePath, tune));
  ASSERT_TRUE(viewertest::WriteFile(enginePath, CorrectionEngineLog(true)));
  ASSERT_TRUE(viewertest::WriteFile(noVePath, CorrectionEngineLog(false)));
  using TPanel = viewer::TMixtureTablePanel;
  using viewer::TTableQuantity;
  struct TCase {
    const char* Name;
    bool Tune;
    bool Ve;           // the log has the fuel table value
    double MaxChange;  // set in its box
    // What each cell shows, row after row from the lowest load, as Proposed and as Change %;
    // empty: no proposal (Status says why).
    std::vector<std::string> Proposed, Change;
    const char* Copy;        // with the breakpoints and a decimal comma; none: not checked
    const char* CopyValues;  // the cells alone
    const char* Status;
  };
  const TCase cases[] = {
      {"the tune's table, 10 % more where the engine was",
       true,
       true,
       15,
       {"44.0", "50.0", "66.0", "45.0", "60.5", "65.0", "50.0", "60.0", "77.0"},
       {"+10.0", "0.0", "+10.0", "0.0", "+10.0", "0.0", "0.0", "0.0", "+10.0"},
       "\t1000\t2000\t3000\n90\t50\t60\t77\n60\t45\t60,5\t65\n30\t44\t50\t66\n",
       "50\t60\t77\n45\t60,5\t65\n44\t50\t66\n",
       "4 of 9 cells changed"},
      {"limited to 5 %, never past it by the tune's rounding",
       true,
       false,
       5,
       {"42.0", "50.0", "63.0", "45.0", "57.7", "65.0", "50.0", "60.0", "73.5"},
       {"+5.0", "0.0", "+5.0", "0.0", "+4.9", "0.0", "0.0", "0.0", "+5.0"},
       "\t1000\t2000\t3000\n90\t50\t60\t73,5\n60\t45\t57,7\t65\n30\t42\t50\t63\n",
       "50\t60\t73,5\n45\t57,7\t65\n42\t50\t63\n",
       "4 of 9 cells changed"},
      {"no tune: the current table from the logged VE, on the table's breakpoints",
       false,
       true,
       15,
       {"44.0", "", "66.0", "", "60.5", "", "", "", "77.0"},
       {"+10.0", "", "+10.0", "", "+10.0", "", "", "", "+10.0"},
       nullptr,
       nullptr,
       "current table estimated from the logged VE"},
      {"no tune and no VE", false, false, 15, {}, {}, nullptr, nullptr, "give the tune"},
  };
  // A desktop that writes decimal commas, put back however the test ends.
  struct TLocaleGuard {
    QLocale Desktop;
    TLocaleGuard() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    ~TLocaleGuard() { QLocale::setDefault(Desktop); }
  } guard;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    viewer::TViewSession session;
    const QString logPath = c.Ve ? enginePath : noVePath;
    ASSERT_EQ(session.OpenFiles({logPath}).front().Error, "");
    TPanel panel(&session);
    panel.resize(1300, 700);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const auto settle = [&] {
      return QTest::qWaitFor([&] { return !panel.RebuildPending(); }, 10000);
    };
    // With a tune the table keeps breakpoints derived from the data; the proposal takes the
    // tune's.
    if (c.Tune) {
      ASSERT_FALSE(panel.LoadTune(dir.filePath("missing.msq")));
      EXPECT_TRUE(panel.StatusText().contains("missing.msq")) << panel.StatusText().toStdString();
      ASSERT_TRUE(panel.LoadTune(tunePath)) << panel.StatusText().toStdString();
    } else {
      panel.SetBinsText("1000 2000 3000", "30 60 90");
    }
    EXPECT_EQ(panel.findChild<QLabel*>("TableTuneName")->text(),
              c.Tune ? QStringLiteral("base.msq") : QStringLiteral("(none)"));
    panel.findChild<QDoubleSpinBox*>("TableMaxChange")->setValue(c.MaxChange);
    auto* quantity = panel.findChild<QComboBox*>("TableQuantity");
    quantity->setCurrentIndex(quantity->findText("Proposed"));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(panel.StatusText().contains(c.Status)) << panel.StatusText().toStdString();
    EXPECT_EQ(panel.StatusText().contains("estimated from the logged VE"), !c.Tune && c.Ve);
    const viewer::TFuelProposal& proposal = panel.Proposal();
    if (c.Proposed.empty()) {
      EXPECT_FALSE(proposal.Error.empty());
      EXPECT_EQ(panel.CopyText(true), "");
      continue;
    }
    ASSERT_EQ(proposal.Error, "");
    ASSERT_EQ(proposal.Current.X, (viewer::TBins{1000, 2000, 3000}));
    ASSERT_EQ(proposal.Current.Y, (viewer::TBins{30, 60, 90}));
    const int decimals = viewer::ProposalDecimals(proposal);
    const QImage shown = const_cast<viewer::TMixtureTableView*>(panel.HeatMap())->grab().toImage();
    const QRectF bounds(panel.HeatMap()->rect());
    for (std::size_t i = 0; i < 9; ++i) {
      const viewer::TCellIndex cell{i % 3, i / 3};
      SCOPED_TRACE(i);
      EXPECT_EQ(viewer::ProposalCellText(proposal, TTableQuantity::Proposed, cell, decimals)
                    .toStdString(),
                c.Proposed[i]);
      EXPECT_EQ(viewer::ProposalCellText(proposal, TTableQuantity::ChangePercent, cell, decimals)
                    .toStdString(),
                c.Change[i]);
      // The view draws the proposal's grid: a cell given more fuel is warm, an unchanged one
      // plain.
      const QRectF rect =
          viewer::GridCellRect(bounds, proposal.Current.X, proposal.Current.Y, cell);
      const QColor colour = shown.pixelColor(rect.topLeft().toPoint() + QPoint(4, 4));
      if (c.Change[i].rfind('+', 0) == 0) {
        EXPECT_GT(colour.red(), colour.blue() + 30) << colour.name().toStdString();
      } else {
        EXPECT_EQ(colour, viewer::TableBackground) << colour.name().toStdString();
      }
    }
    quantity->setCurrentIndex(quantity->findText("Change %"));
    ASSERT_TRUE(settle());
    if (c.Copy != nullptr) {
      EXPECT_EQ(panel.CopyText(true).toStdString(), c.Copy);
      EXPECT_EQ(panel.CopyText(false).toStdString(), c.CopyValues);
    }

    auto* save = panel.findChild<QPushButton*>("TableSaveTune");
    EXPECT_EQ(save->isEnabled(), c.Tune);
    const QString copyPath = viewer::CorrectedTuneName(tunePath);
    EXPECT_EQ(copyPath, dir.filePath("base-corrected.msq"));
    if (!c.Tune) {
      EXPECT_FALSE(panel.SaveTune(copyPath));
      EXPECT_FALSE(QFile::exists(copyPath));
      continue;
    }
    // Never over the tune itself (spelt another way too) nor the log open beside it.
    for (const QString& refused : {tunePath, dir.filePath("./base.msq"), logPath}) {
      SCOPED_TRACE(refused.toStdString());
      EXPECT_FALSE(panel.SaveTune(refused));
      EXPECT_TRUE(panel.StatusText().contains(refused)) << panel.StatusText().toStdString();
    }
    QFile loaded(tunePath);
    ASSERT_TRUE(loaded.open(QIODevice::ReadOnly));
    EXPECT_EQ(loaded.readAll().toStdString(), tune);
    ASSERT_TRUE(panel.SaveTune(copyPath)) << panel.StatusText().toStdString();
    QFile copy(copyPath);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    const std::string written = copy.readAll().toStdString();
    copy.close();  // Windows removes no file that is open
    ASSERT_TRUE(QFile::remove(copyPath));
    // Only the table's numbers differ: everything up to its start tag and from its end tag on
    // is the tune's, byte for byte.
    const std::size_t numbers = tune.find(VeTableStart) + VeTableStart.size();
    const std::string tail = tune.substr(tune.find("</constant>", numbers));
    EXPECT_EQ(written.substr(0, numbers), tune.substr(0, numbers));
    ASSERT_GE(written.size(), tail.size());
    EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
    const tune::TTune read = tune::ReadMsq(written, "copy");
    std::string error;
    const std::optional<tune::TTable> table = tune::FindFuelTable(read, error);
    ASSERT_TRUE(table) << error;
    for (std::size_t i = 0; i < 9; ++i) {
      EXPECT_NEAR(table->Values[i], std::stod(c.Proposed[i]), 1e-9) << i;
    }
  }
}

// Following, the table runs with the log of ours as the logger writes it: what it shows is the
// table of the logs as they stand, the engine's cell now is outlined whatever the cursor does,
// and the cell that filled since following began is marked.
TEST(MixtureTableWindow, FollowingTheTableRunsWithTheGrowingLog) {
  QTemporaryDir dir;
  const QString mixturePath = dir.filePath("mixture.csv");
  const QString enginePath = dir.filePath("engine.csv");
  const std::string mixture = MixtureLog();
  std::size_t cut = 0;  // the end of row 300 (30 s): the engine still at full load there
  for (int row = 0; row <= 300; ++row) cut = mixture.find('\n', cut) + 1;
  ASSERT_TRUE(viewertest::WriteFile(mixturePath, mixture.substr(0, cut)));
  ASSERT_TRUE(viewertest::WriteFile(enginePath, EngineLog()));
  viewer::TKestViewWindow window;
  window.SetAlign(viewer::TAlignMode::Clock);
  ASSERT_EQ(window.OpenFiles({mixturePath, enginePath}), 2);
  window.resize(1100, 900);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  viewer::TMixtureTablePanel& panel = *window.MixtureTable();
  panel.SetBinsText("2000, 3000", "50, 100");
  window.SetFollow(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.RebuildPending(); }, 10000));
  ASSERT_TRUE(panel.Running());
  const viewer::TViewSession& session = *window.Session();
  const auto oneOff = [&] {
    return viewer::TableJson(viewer::BuildMixtureTable(session.TableInput(), panel.Settings()), {});
  };
  EXPECT_EQ(viewer::TableJson(panel.Table(), {}), oneOff());
  EXPECT_GT(panel.Table().At(1, 1).Hits, 0U);
  EXPECT_EQ(panel.Table().At(0, 0).Hits, 0U);
  // The engine log, read whole, ends at light load.
  const viewer::TCellIndex light{0, 0};
  EXPECT_EQ(panel.OutlinedCell(), light);

  ASSERT_TRUE(viewertest::AppendFile(mixturePath, mixture.substr(cut)));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return session.Logs().front()->Data().Rows() == 1000 &&
               viewer::TableJson(panel.Table(), {}) == oneOff();
      },
      30000))
      << viewer::TableJson(panel.Table(), {}) << "\n"
      << oneOff();
  EXPECT_GT(panel.Table().At(0, 0).Hits, 0U);
  EXPECT_EQ(panel.MarkedCells(), std::vector<viewer::TCellIndex>{light});
  // The cursor early in the drive, at full load, moves no outline while following.
  const QRectF plot = viewer::PlotArea(QRectF(window.Chart()->rect()));
  QTest::mouseMove(window.Chart(), QPoint(static_cast<int>(plot.left() + plot.width() / 10), 40));
  ASSERT_TRUE(session.Cursor().has_value());
  EXPECT_EQ(panel.OutlinedCell(), light);

  window.SetFollow(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.RebuildPending(); }, 10000));
  EXPECT_FALSE(panel.Running());
  EXPECT_TRUE(panel.MarkedCells().empty());
}

}  // namespace
