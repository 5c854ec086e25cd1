// The exported chart: the trace at the heights its readings give, gaps left open.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "ViewerTestSupport.h"
#include "viewer/chart/EnginePanes.h"
#include "viewer/chart/Export.h"
#include "viewer/chart/SvgExport.h"
#include "viewer/session/ViewOptions.h"
#include "viewer/session/ViewSession.h"
#include "viewer/window/ViewerWindow.h"

namespace {

bool IsNear(QRgb pixel, const QColor& color) {
  return std::abs(qRed(pixel) - color.red()) + std::abs(qGreen(pixel) - color.green()) +
             std::abs(qBlue(pixel) - color.blue()) <
         60;
}

// The rows of column `x` whose pixels are near `color`.
std::vector<int> RowsOf(const QImage& image, int x, const QColor& color) {
  std::vector<int> rows;
  for (int y = 0; y < image.height(); ++y) {
    if (IsNear(image.pixel(x, y), color)) rows.push_back(y);
  }
  return rows;
}

// The pixels of the dashed 12.0 V line across the plot, at its height on the volts axis.
int LowVoltsPixels(const QImage& image, const QRectF& plot) {
  const viewer::TValueRange volts = viewer::VoltsRange();
  const int lowVoltsY =
      static_cast<int>(plot.bottom() - (viewer::LowVoltsLine - volts.Low) /
                                           (volts.High - volts.Low) * plot.height());
  int redPixels = 0;
  for (int x = static_cast<int>(plot.left()); x < plot.right(); ++x) {
    for (int dy = -1; dy <= 1; ++dy) {
      if (IsNear(image.pixel(x, lowVoltsY + dy), QColor(200, 40, 40))) ++redPixels;
    }
  }
  return redPixels;
}

TEST(ChartTest, TraceSitsAtItsReadingsAndBreaksAtGaps) {
  // Five seconds near 12.0, a ten-second gap, five seconds near 18.0 (AFR, petrol).
  std::string text = viewertest::ClassicLog(36000, 5, {"12.0", "12.1"});
  const std::string later = viewertest::ClassicLog(36015, 5, {"18.0", "18.1"});
  text += later.substr(later.find("10:00:15"));
  const viewer::TLog log = viewer::ParseLogText(text, "heights.txt");
  ASSERT_EQ(log.Rows(), 100u);
  const viewer::TDisplay display{sensor::dmAirFuelRatio, sensor::ftPetrol};
  const viewer::TChartScene scene = viewer::MakeScene({{&log, "heights.txt"}}, display, false);
  const QSize size(800, 400);
  const QImage image = viewer::RenderChart(scene, size);
  const QRectF plot = viewer::PlotArea(QRectF(QPointF(0, 0), QSizeF(size)));
  const viewer::TValueRange range = viewer::ReadingRange(display);
  auto yOf = [&](double value) {
    return plot.bottom() - (value - range.Low) / (range.High - range.Low) * plot.height();
  };
  auto xOf = [&](double time) {
    return static_cast<int>(plot.left() +
                            (time - scene.From) / (scene.To - scene.From) * plot.width());
  };
  const QColor color = scene.Traces[0].Color;
  for (const auto& [time, value] :
       std::vector<std::pair<double, double>>{{36002.5, 12.05}, {36017.5, 18.05}}) {
    const std::vector<int> rows = RowsOf(image, xOf(time), color);
    ASSERT_FALSE(rows.empty()) << time;
    EXPECT_NEAR(rows.front(), yOf(value), 4) << time;
    EXPECT_NEAR(rows.back(), yOf(value), 4) << time;
  }
  // Nothing of the trace across the gap.
  EXPECT_TRUE(RowsOf(image, xOf(36010), color).empty());
  // The 12.0 V line, dashed, at its height on the volts axis.
  EXPECT_GT(LowVoltsPixels(image, plot), plot.width() / 3);
}

// An engine log alone: its AFR channel is the chart's mixture trace, at the heights of its values
// in the unit shown, broken where the sensor read 0; no volts line, for there are no volts. The
// summary panel names the log, its duration and channels, and sums up the plausible mixture.
TEST(ChartTest, AnEngineLogAloneDrawsItsOwnMixtureWithoutVolts) {
  // 5 s at 12.0 AFR, 5 s at 0 (the sensor not yet warm), 10 s at 16.0, ten records a second.
  std::string text = "Time (s),RPM (rpm),MAP (kPa),AFR (AFR)\n";
  for (int i = 0; i < 200; ++i) {
    text += std::to_string(i / 10.0) + "," + std::to_string(1000 + 10 * i) + ",50," +
            (i < 50    ? "12.0"
             : i < 100 ? "0"
                       : "16.0") +
            "\n";
  }
  QTemporaryDir dir;
  ASSERT_TRUE(viewertest::WriteFile(dir.filePath("engine.csv"), text));
  viewer::TViewSession session;
  session.OpenFiles({dir.filePath("engine.csv")});
  ASSERT_NE(session.EngineLog(), nullptr);
  const QSize size(800, 400);
  const QRectF plot = viewer::PlotArea(QRectF(QPointF(0, 0), QSizeF(size)));
  for (const int mode : {sensor::dmAirFuelRatio, sensor::dmLambda}) {
    SCOPED_TRACE(mode);
    const viewer::TDisplay display{mode, sensor::ftPetrol};
    session.SetDisplay(display);
    const viewer::TChartScene scene = viewer::MakeSessionScene(session).Chart;
    ASSERT_NE(scene.EngineMixture.Log, nullptr);
    EXPECT_NEAR(scene.From, 0, 1e-9);  // from its own start
    EXPECT_NEAR(scene.To, 19.9, 1e-9);
    const QImage image = viewer::RenderChart(scene, size);
    const viewer::TValueRange range = viewer::ReadingRange(display);
    const double perAfr = mode == sensor::dmLambda ? 1 / 14.7 : 1;
    const auto xOf = [&](double time) {
      return static_cast<int>(plot.left() + time / 19.9 * plot.width());
    };
    const auto yOf = [&](double value) {
      return plot.bottom() - (value - range.Low) / (range.High - range.Low) * plot.height();
    };
    for (const auto& [time, afr] :
         std::vector<std::pair<double, double>>{{2.5, 12.0}, {15, 16.0}}) {
      const std::vector<int> rows = RowsOf(image, xOf(time), scene.EngineMixture.Color);
      ASSERT_FALSE(rows.empty()) << time;
      EXPECT_NEAR(rows.front(), yOf(afr * perAfr), 3) << time;
      EXPECT_NEAR(rows.back(), yOf(afr * perAfr), 3) << time;
    }
    EXPECT_TRUE(RowsOf(image, xOf(7.5), scene.EngineMixture.Color).empty());
    EXPECT_EQ(LowVoltsPixels(image, plot), 0);
  }

  session.SetDisplay({sensor::dmAirFuelRatio, sensor::ftPetrol});
  viewer::TKestViewWindow window(&session);
  const std::string summary = window.SummaryPanelText().toStdString();
  for (const char* said :
       {"engine.csv", "duration: 0:00:19.9", "RPM [rpm]", "MAP [kPa]",
        "mixture:  AFR [AFR]\n  records:  200, 200 with a value\n  implausible: 50",
        "min 12.0, max 16.0, mean 14.7"}) {
    EXPECT_NE(summary.find(said), std::string::npos) << said << " in\n" << summary;
  }
  // The cursor reads the engine's mixture out, and says when it is none.
  EXPECT_EQ(window.Chart()->ReadoutAt(2.5).toStdString(), "engine.csv: AFR [AFR]: AFR 12.0");
  EXPECT_EQ(window.Chart()->ReadoutAt(7.5).toStdString(),
            "engine.csv: AFR [AFR]: AFR 0.0 (implausible)");
}

TEST(ChartTest, ExportsPngAndSvg) {
  const viewer::TLog log =
      viewer::ParseLogText(viewertest::ClassicLog(36000, 3, {"14.6", "14.8"}), "e.txt");
  const viewer::TChartScene scene =
      viewer::MakeScene({{&log, "e.txt"}}, {sensor::dmAirFuelRatio, sensor::ftPetrol}, false);
  QTemporaryDir dir;
  QString error;
  ASSERT_TRUE(viewer::ExportChart(scene, dir.filePath("c.png"), QSize(640, 320), &error));
  EXPECT_EQ(QImage(dir.filePath("c.png")).size(), QSize(640, 320));
  if (viewer::SvgExportBuilt()) {
    ASSERT_TRUE(viewer::ExportChart(scene, dir.filePath("c.svg"), QSize(640, 320), &error));
    QFile svg(dir.filePath("c.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));
  } else {
    // Refused with the file's name and the way out, and no empty file left behind; --help says so.
    EXPECT_FALSE(viewer::ExportChart(scene, dir.filePath("c.svg"), QSize(640, 320), &error));
    EXPECT_TRUE(error.startsWith(dir.filePath("c.svg")) && error.contains(".png"))
        << error.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("c.svg")));
    EXPECT_NE(viewer::ViewUsage().find("cannot write SVG"), std::string::npos);
  }
  EXPECT_FALSE(
      viewer::ExportChart(scene, dir.filePath("no/such/dir.png"), QSize(640, 320), &error));
  EXPECT_TRUE(error.startsWith(dir.filePath("no/such/dir.png")));
}

// An engine log's pane, its records shifted 100 s onto the chart's axis and zoomed to six seconds
// of it: the line is where the shifted records put it, rising with the engine speed.
TEST(ChartTest, AShiftedPaneDrawsTheShiftedRecords) {
  std::string text = "Time (s),RPM (rpm)\n";
  for (int i = 0; i <= 100; ++i) {
    text += std::to_string(i / 10.0) + "," + std::to_string(1000 + 10 * i) + "\n";
  }
  const enginelog::TLog log = enginelog::ReadEngineLog(text, "e.csv");
  ASSERT_TRUE(log.Ok()) << log.Error;
  viewer::TPaneScene panes;
  panes.Log = &log;
  panes.Shown = {0};
  panes.Shift = 100;
  panes.From = 102;
  panes.To = 108;
  const QRectF bounds(0, 0, 800, 200);
  QImage image(bounds.size().toSize(), QImage::Format_RGB32);
  QPainter painter(&image);
  viewer::PaintPanes(painter, bounds, panes);
  painter.end();
  const QRectF plot = viewer::PlotArea(bounds);
  // The topmost coloured pixel (the panes' own colours are greys) at a time of the chart's axis.
  const auto lineAt = [&](double time) {
    const int x = static_cast<int>(plot.left() + (time - 102) / 6 * plot.width());
    for (int y = 0; y < image.height(); ++y) {
      const QRgb pixel = image.pixel(x, y);
      if (qRed(pixel) != qGreen(pixel) || qGreen(pixel) != qBlue(pixel)) return y;
    }
    return -1;
  };
  const int at1300 = lineAt(103);
  const int at1700 = lineAt(107);
  EXPECT_GT(at1300, 0);
  EXPECT_GT(at1700, 0);
  EXPECT_LT(at1700, at1300);
}

}  // namespace
