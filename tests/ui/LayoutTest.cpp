// The main window's arrangement: every control where the layout puts it, with its text, font,
// colour and start state; what maximising moves; stacking and focus; the About windows.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTest>

#include "UiTestSupport.h"
#include "tests/support/EngineAccess.h"
#include "ui/AboutWindows.h"

using uitest::TWindowFixture;

namespace {

struct TControl {
  const char* Name;
  QWidget* Widget;
  QRect Geometry;  // in the client area below the menu bar
  bool Visible;
  bool Enabled;
  const char* Text;  // nullptr: not a text control
  int FontPixels;    // 0: not checked
  bool Bold;
  QColor Color;  // invalid: the system's window text colour
};

std::vector<TControl> FixedControls(ui::TKest3GraphMain& w) {
  const QColor navy = ui::clNavy, green = ui::clGreen, none;
  return {
      {"Bevel5", w.Bevel5, {0, 0, 636, 398}, true, true, nullptr, 0, false, none},
      {"WarmupMessage",
       w.WarmupMessage,
       {179, 17, 216, 21},
       false,
       true,
       "PLEASE WAIT WARMUP ",
       18,
       true,
       green},
      {"Image1", w.Image1, {515, 8, 111, 56}, true, true, nullptr, 0, false, none},
      {"Bevel2", w.Bevel2, {104, 46, 400, 200}, true, true, nullptr, 0, false, none},
      {"PaintBox1", w.PaintBox1, {104, 46, 400, 200}, true, true, nullptr, 0, false, none},
      {"Label1", w.AfrAxisLabels[0], {82, 37, 16, 18}, true, true, "10", 15, true, none},
      {"Label4", w.AfrAxisLabels[1], {82, 66, 16, 18}, true, true, "11", 15, true, none},
      {"Label5", w.AfrAxisLabels[2], {82, 95, 16, 18}, true, true, "12", 15, true, none},
      {"Label6", w.AfrAxisLabels[3], {82, 124, 16, 18}, true, true, "13", 15, true, none},
      {"Label10", w.AfrAxisLabels[4], {82, 153, 16, 18}, true, true, "14", 15, true, none},
      {"Label11", w.AfrAxisLabels[5], {82, 182, 16, 18}, true, true, "15", 15, true, none},
      {"Label12", w.AfrAxisLabels[6], {82, 211, 16, 18}, true, true, "16", 15, true, none},
      {"Label13", w.AfrAxisLabels[7], {82, 239, 16, 18}, true, true, "17", 15, true, none},
      {"Label7", w.LambdaAxisLabels[0], {72, 48, 28, 18}, false, true, "0.70", 15, true, none},
      {"Label8", w.LambdaAxisLabels[1], {72, 88, 28, 18}, false, true, "0.80", 15, true, none},
      {"Label9", w.LambdaAxisLabels[2], {72, 128, 28, 18}, false, true, "0.90", 15, true, none},
      {"Label14", w.LambdaAxisLabels[3], {80, 168, 20, 18}, false, true, "1.0", 15, true, none},
      {"Label15", w.LambdaAxisLabels[4], {80, 216, 20, 18}, false, true, "1.1", 15, true, none},
      {"GraphYLabel", w.GraphYLabel, {32, 152, 30, 20}, true, true, "AFR", 13, true, none},
      {"LambdaPIC", w.LambdaPIC, {32, 120, 25, 33}, false, true, nullptr, 0, false, none},
      {"Panel2", w.Panel2, {520, 72, 97, 113}, true, true, "Panel2", 14, false, none},
      {"Panel1", w.Panel1, {528, 80, 81, 25}, true, true, "DATA LOG", 13, true, navy},
      {"LogStart", w.LogStart, {528, 111, 81, 28}, true, true, "START", 14, false, none},
      {"LogStop", w.LogStop, {528, 149, 81, 28}, true, false, "STOP", 14, false, none},
      {"StaticText9", w.StaticText9, {528, 190, 85, 19}, true, true, "SAMPLE RATE", 12, true, navy},
      {"TrackBar1", w.TrackBar1, {520, 210, 25, 41}, true, true, nullptr, 0, false, none},
      {"StaticText1", w.StaticText1, {552, 212, 33, 19}, true, true, "FAST", 12, true, navy},
      {"StaticText7", w.StaticText7, {552, 234, 54, 19}, true, true, "NORMAL", 12, true, navy},
      {"Bevel4", w.Bevel4, {78, 261, 138, 110}, true, true, nullptr, 0, false, none},
      {"Bevel6", w.Bevel6, {105, 270, 84, 26}, true, true, nullptr, 0, false, none},
      {"StaticText6", w.StaticText6, {123, 274, 53, 20}, true, true, "POWER", 13, true, navy},
      {"VoltsDisplay", w.VoltsDisplay, {121, 311, 4, 4}, true, false, "", 17, false, none},
      {"StaticText3", w.StaticText3, {94, 344, 80, 20}, true, true, "LOW VOLTS", 13, false, navy},
      {"LowVoltsLED", w.LowVoltsLED, {177, 344, 38, 17}, true, true, nullptr, 0, false, none},
      {"Bevel1", w.Bevel1, {233, 261, 184, 110}, true, true, nullptr, 0, false, none},
      {"DigitalDisplay", w.DigitalDisplay, {374, 270, 20, 81}, true, false, " ", 72, false, none},
      {"Label3", w.Label3, {266, 347, 118, 21}, true, true, "Air Fuel Ratio", 18, true, none},
      {"Bevel3", w.Bevel3, {434, 261, 140, 110}, true, true, nullptr, 0, false, none},
      {"Bevel7", w.Bevel7, {462, 270, 83, 26}, true, true, nullptr, 0, false, none},
      {"StaticText4", w.StaticText4, {480, 274, 56, 20}, true, true, "STATUS", 13, true, navy},
      {"StaticText5", w.StaticText5, {472, 302, 64, 20}, true, true, "WARMUP", 13, false, navy},
      {"WarmupLED", w.WarmupLED, {542, 302, 37, 17}, true, true, nullptr, 0, false, none},
      {"StaticText2",
       w.StaticText2,
       {448, 322, 93, 20},
       true,
       true,
       "KEST ONLINE",
       13,
       false,
       navy},
      {"OnlineLED", w.OnlineLED, {542, 322, 37, 17}, true, true, nullptr, 0, false, none},
      {"StaticText8",
       w.StaticText8,
       {448, 342, 86, 20},
       true,
       true,
       "LOG TO DISK",
       13,
       false,
       navy},
      {"LogToDiskLED", w.LogToDiskLED, {542, 342, 37, 17}, true, true, nullptr, 0, false, none},
      {"TempBar", w.TempBar, {584, 264, 9, 105}, true, true, nullptr, 0, false, none},
  };
}

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return {};
}

struct TShownWindow : TWindowFixture {
  TShownWindow() {
    W().show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&W()));
  }
};

void ExpectControls(ui::TKest3GraphMain& w, bool outerBevelFollowsWindow = false) {
  for (const TControl& c : FixedControls(w)) {
    if (outerBevelFollowsWindow && c.Widget == w.Bevel5) continue;
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(c.Widget->geometry(), c.Geometry);
    EXPECT_EQ(c.Widget->isVisibleTo(&w), c.Visible);
    EXPECT_EQ(c.Widget->isEnabled(), c.Enabled);
    if (c.Text != nullptr) {
      EXPECT_EQ(TextOf(c.Widget), QString::fromLatin1(c.Text));
    }
    if (c.FontPixels != 0) {
      EXPECT_EQ(c.Widget->font().pixelSize(), c.FontPixels);
      EXPECT_EQ(c.Widget->font().bold(), c.Bold);
      EXPECT_EQ(c.Widget->font().family(), "Arial");
    }
    if (c.Color.isValid()) {
      EXPECT_EQ(c.Widget->palette().color(QPalette::Active, QPalette::WindowText), c.Color);
    }
  }
}

}  // namespace

TEST(Layout, EveryControlWhereTheLayoutPutsIt) {
  TShownWindow f;
  auto& w = f.W();
  EXPECT_EQ(w.windowTitle(), "Torvane LSU4 KEST INTERFACE");
  EXPECT_EQ(w.centralWidget()->size(), QSize(636, 398));
  EXPECT_EQ(w.StatusBar1->geometry(), QRect(0, w.centralWidget()->y() + 398, 636, 22));
  EXPECT_EQ(w.StatusBar1->isSizeGripEnabled(), false);
  ExpectControls(w);
  // The fuel label sizes itself to the text the start-up sequence gave it.
  EXPECT_EQ(w.FuelTypeLabel->text(), "Petrol/Gasoline");
  EXPECT_EQ(w.FuelTypeLabel->pos(), QPoint(273, 375));
  EXPECT_GT(w.FuelTypeLabel->width(), 60);
  EXPECT_EQ(w.TempBar->orientation(), Qt::Vertical);
  EXPECT_EQ(w.TempBar->value(), 10);
  EXPECT_EQ(w.TrackBar1->value(), 2);
  EXPECT_TRUE(w.TrackBar1->invertedAppearance()) << "position 1 (FAST) is at the top";
}

TEST(Layout, MaximisingMovesOnlyTheOuterBevelAndTheStatusBar) {
  TShownWindow f;
  auto& w = f.W();
  w.showMaximized();
  QTRY_VERIFY(w.width() > 636);
  QApplication::processEvents();
  ExpectControls(w, true);  // all but the outer bevel in place ...
  // ... which, like the status bar, follows the window.
  EXPECT_EQ(w.Bevel5->size(), w.centralWidget()->size());
  EXPECT_GT(w.Bevel5->width(), 636);
  EXPECT_EQ(w.StatusBar1->width(), w.width());
  EXPECT_EQ(w.StatusBar1->y() + w.StatusBar1->height(), w.height());
}

TEST(Layout, ReadOutKeepsItsRightEdge) {
  for (bool methanol : {false, true}) {
    TShownWindow f;
    auto& w = f.W();
    if (methanol) w.Methanol1Click();
    f.Serial.QueueInput({0});
    f.Serial.ScheduleInputAfter(1, {34, 147, 200, 20, 110});
    f.Serial.FireTimer();
    w.OnlineTimerTimer();
    EXPECT_EQ(w.DigitalDisplay->text(), methanol ? "6.4" : "14.7");
    EXPECT_EQ(w.DigitalDisplay->x() + w.DigitalDisplay->width(), 394);
    EXPECT_EQ(w.DigitalDisplay->y(), 270);
    EXPECT_EQ(w.VoltsDisplay->pos(), QPoint(121, 311)) << "the volts grow to the right";
    EXPECT_GT(w.VoltsDisplay->width(), 30);
  }
}

TEST(Layout, StackingAndFocus) {
  TShownWindow f;
  auto& w = f.W();
  const QObjectList order = w.centralWidget()->children();  // bottom first
  auto above = [&](QWidget* top, QWidget* bottom) {
    return order.indexOf(top) > order.indexOf(bottom);
  };
  EXPECT_TRUE(above(w.Panel1, w.Panel2));
  EXPECT_TRUE(above(w.LogStart, w.Panel2));
  EXPECT_TRUE(above(w.LogStop, w.Panel2));
  EXPECT_TRUE(above(w.Label3, w.DigitalDisplay));
  EXPECT_TRUE(above(w.PaintBox1, w.Bevel2));
  for (QWidget* inside :
       {static_cast<QWidget*>(w.StaticText6), static_cast<QWidget*>(w.LowVoltsLED),
        static_cast<QWidget*>(w.VoltsDisplay)})
    EXPECT_TRUE(above(inside, w.Bevel4));
  for (QWidget* windowed : {static_cast<QWidget*>(w.StaticText2), static_cast<QWidget*>(w.TempBar),
                            static_cast<QWidget*>(w.TrackBar1)})
    for (QWidget* drawn : {static_cast<QWidget*>(w.OnlineLED), static_cast<QWidget*>(w.PaintBox1),
                           static_cast<QWidget*>(w.Image1)})
      EXPECT_TRUE(above(windowed, drawn));

  std::vector<QWidget*> focusable;
  for (QWidget* child : w.centralWidget()->findChildren<QWidget*>())
    if (child->focusPolicy() != Qt::NoFocus) focusable.push_back(child);
  EXPECT_EQ(focusable.size(), 3u);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  w.LogStop->setEnabled(true);  // a greyed button takes no focus
  w.LogStart->setFocus();
  QTest::keyClick(&w, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w.LogStop);
  QTest::keyClick(&w, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w.TrackBar1);
  QTest::keyClick(&w, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w.LogStart);
}

TEST(Layout, LampsAreCirclesFilledWithTheirColour) {
  TShownWindow f;
  auto& w = f.W();
  w.OnlineLED->SetBrushColor(ui::clGreen);
  const QImage lamp = w.OnlineLED->grab().toImage();
  EXPECT_EQ(lamp.size(), QSize(37, 17));
  EXPECT_EQ(QColor(lamp.pixel(18, 8)), ui::clGreen);            // the middle
  EXPECT_EQ(QColor(lamp.pixel(18, 0)).lightness() < 80, true);  // the outline at the top
  EXPECT_NE(QColor(lamp.pixel(2, 8)), ui::clGreen);             // outside the circle
}

TEST(AboutWindows, LogWindowShowsOnceWithItsSixLines) {
  TShownWindow f;
  auto& w = f.W();
  ui::TAboutKest3Graph about;
  ui::TAboutKest3GraphDiskLog diskLog;
  w.AboutKest3Graph = &about;
  w.AboutKest3GraphDiskLog = &diskLog;
  EXPECT_FALSE(diskLog.isVisible());
  w.L1Click();
  w.L1Click();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&diskLog));
  int shown = 0;
  for (QWidget* top : QApplication::topLevelWidgets())
    shown += qobject_cast<ui::TAboutKest3GraphDiskLog*>(top) != nullptr && top->isVisible();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(diskLog.windowTitle(), "About log to disk");
  const char* const lines[6] = {
      "This will create a CSV (Comma Separated Values) text file that can be",
      "loaded into a spreedsheet such as Excel for analysis.",
      "When \"START\" is pressed a dialog box will open asking to",
      "name a file. Once this is done the log to disk will start.",
      "The log will continue until \"STOP\" is pressed or the disk",
      "is full !"};
  const int tops[6] = {64, 88, 112, 136, 160, 184};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(diskLog.StaticTexts[i]->text(), QString::fromLatin1(lines[i]));
    EXPECT_EQ(diskLog.StaticTexts[i]->pos(), QPoint(48, tops[i]));
  }
}

// Neither window offers minimise or maximise, and one that a window manager minimises or maximises
// anyway (not every manager honours the hint) comes back to its normal state.
TEST(AboutWindows, TitleBarOffersOnlyTheMenuAndCloseAndRefusesOtherStates) {
  ui::TAboutKest3Graph about;
  ui::TAboutKest3GraphDiskLog diskLog;
  for (QWidget* window : std::initializer_list<QWidget*>{&about, &diskLog}) {
    SCOPED_TRACE(window->windowTitle().toStdString());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    ui::ShowAboutWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    for (Qt::WindowState state : {Qt::WindowMinimized, Qt::WindowMaximized, Qt::WindowFullScreen}) {
      window->setWindowState(state);
      EXPECT_TRUE(QTest::qWaitFor([&] { return window->windowState() == Qt::WindowNoState; }))
          << "state " << state;
      EXPECT_TRUE(window->isVisible());
    }
    window->close();
    EXPECT_FALSE(window->isVisible());
  }
}

TEST(AboutWindows, ClosingOneReactivatesTheMainWindowWhichKeepsItsPort) {
  TShownWindow f;
  auto& w = f.W();
  ui::TAboutKest3Graph about;
  w.AboutKest3Graph = &about;
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  ASSERT_EQ(w.StatusBarText(), "Com1 Port Open");
  const auto opens = f.Serial.CountCalls("CreateFile");
  w.StatusText->clear();
  w.About1Click();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
  EXPECT_EQ(about.windowTitle(), "About KestGraph");
  EXPECT_EQ(about.StaticText1->text(), "LSU4 Kest Interface V1.1");
  about.close();
  EXPECT_FALSE(about.isVisible()) << "closing hides the window";
  w.activateWindow();  // what the desktop does when the About window goes
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_EQ(w.StatusBarText(), "Com1 Port Open");
  EXPECT_TRUE(kesttest::DriverOf(w.Engine).IsOpen());
  EXPECT_EQ(f.Serial.CountCalls("CreateFile"), opens) << "an open port is not opened again";
}

TEST(AboutWindows, AFailedPortIsTriedAgainWhenFocusComesBack) {
  TWindowFixture f(false);
  auto& w = f.W();
  ui::TAboutKest3Graph about;
  w.AboutKest3Graph = &about;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_EQ(w.StatusBarText(), "Error: could not open Com1");
  EXPECT_EQ(f.Services.Beeps, 1);
  f.Serial.AddDevice(kesttest::TFakeSerialApi::ComName(1));
  w.About1Click();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
  about.close();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_EQ(w.StatusBarText(), "Com1 Port Open");
}
