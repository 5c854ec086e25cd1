// The viewer's window with files opened as the command line opens them.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

#include "ViewerTestSupport.h"
#include "viewer/window/ViewerWindow.h"

namespace {

TEST(ViewerWindowTest, TwoFilesOverlaidWithALegendNamingBoth) {
  QTemporaryDir dir;
  const QString first = dir.filePath("pull1.txt");
  const QString second = dir.filePath("pull2.csv");
  ASSERT_TRUE(viewertest::WriteFile(first, viewertest::ClassicLog(36000, 5, {"12.5", "12.7"})));
  std::vector<int> bytes(50, 150);
  bytes[1] = 151;
  std::vector<double> volts(50, 13.0);
  ASSERT_TRUE(viewertest::WriteFile(second, viewertest::ExtendedLog(bytes, volts, 0.1)));
  viewer::TKestViewWindow window;
  EXPECT_EQ(window.OpenFiles({first, second, dir.filePath("nope.txt")}), 2);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  const viewer::TChartScene& scene = window.Chart()->Scene();
  ASSERT_EQ(scene.Traces.size(), 2u);
  EXPECT_EQ(scene.Traces[0].Name, "pull1.txt");
  EXPECT_EQ(scene.Traces[1].Name, "pull2.csv");
  EXPECT_NE(scene.Traces[0].Color, scene.Traces[1].Color);
  // Two runs are compared from their starts.
  EXPECT_TRUE(scene.RelativeTime);
  EXPECT_NEAR(scene.From, 0, 0.1);
  EXPECT_NEAR(scene.To, 4.95, 0.11);
  EXPECT_TRUE(window.Messages().contains(dir.filePath("nope.txt")));
  EXPECT_TRUE(window.SummaryPanelText().contains("pull1.txt"));
  EXPECT_TRUE(window.SummaryPanelText().contains("pull2.csv"));

  // The legend is drawn: both trace colours appear in its box at the top left of the plot.
  const QImage image = window.Chart()->grab().toImage();
  const QRectF plot = viewer::PlotArea(QRectF(window.Chart()->rect()));
  auto legendHas = [&](const QColor& color) {
    for (int y = int(plot.top()) + 8; y < int(plot.top()) + 60; ++y) {
      for (int x = int(plot.left()) + 8; x < int(plot.left()) + 36; ++x) {
        if (image.pixelColor(x, y) == color) return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(legendHas(scene.Traces[0].Color));
  EXPECT_TRUE(legendHas(scene.Traces[1].Color));
}

TEST(ViewerWindowTest, ZoomPanAndResetFromTheKeyboard) {
  QTemporaryDir dir;
  const QString path = dir.filePath("run.txt");
  ASSERT_TRUE(viewertest::WriteFile(path, viewertest::ClassicLog(36000, 100, {"12.5", "12.7"})));
  viewer::TKestViewWindow window;
  ASSERT_EQ(window.OpenFiles({path}), 1);
  window.show();
  viewer::TLogChart* chart = window.Chart();
  const double from = chart->Scene().From, to = chart->Scene().To;
  QTest::keyClick(chart, Qt::Key_Plus);
  EXPECT_NEAR(chart->Scene().To - chart->Scene().From, (to - from) / 1.25, 1e-6);
  const double zoomedFrom = chart->Scene().From;
  QTest::keyClick(chart, Qt::Key_Right);
  EXPECT_GT(chart->Scene().From, zoomedFrom);
  QTest::keyClick(chart, Qt::Key_Home);
  EXPECT_DOUBLE_EQ(chart->Scene().From, from);
  EXPECT_DOUBLE_EQ(chart->Scene().To, to);
  // The read-out at the middle names the log and its reading.
  const QString readout = chart->ReadoutAt((from + to) / 2);
  EXPECT_TRUE(readout.startsWith("run.txt: 10:00:")) << readout.toStdString();
  EXPECT_TRUE(readout.contains("AFR 12.")) << readout.toStdString();
}

TEST(ViewerWindowTest, FollowKeepsTheNewestRowsInView) {
  QTemporaryDir dir;
  const QString path = dir.filePath("live.txt");
  ASSERT_TRUE(viewertest::WriteFile(path, viewertest::ClassicLog(36000, 2, {"12.5", "12.7"})));
  viewer::TKestViewWindow window;
  window.SetFollow(true);
  ASSERT_EQ(window.OpenFiles({path}), 1);
  const std::string more = viewertest::ClassicLog(36002, 3, {"14.5", "14.7"});
  ASSERT_TRUE(viewertest::AppendFile(path, more.substr(more.find("10:00:02"))));
  ASSERT_TRUE(window.Files().front()->ReadAppended());
  emit window.Files().front()->Grew();
  EXPECT_EQ(window.Files().front()->Data().Rows(), 50u);
  EXPECT_NEAR(window.Chart()->Scene().To, window.Files().front()->Data().Times.back(), 1e-9);
}

}  // namespace
