// The menu bar: its captions, one check mark per group whatever the user does, the port items,
// and what the fuel and display items do to the labels.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <random>

#include "UiTestSupport.h"
#include "tests/support/EngineAccess.h"

using kesttest::TFakeSerialApi;
using uitest::TWindowFixture;

namespace {

QStringList Captions(const QList<QAction*>& actions) {
  QStringList list;
  for (const QAction* a : actions) list << a->text();
  return list;
}

int CheckedCount(const std::vector<QAction*>& items) {
  int n = 0;
  for (const QAction* a : items) n += a->isChecked();
  return n;
}

bool Visible(QWidget* w, QWidget* window) { return w->isVisibleTo(window); }

}  // namespace

TEST(Menus, CaptionsInOrder) {
  TWindowFixture f;
  auto& w = f.W();
  EXPECT_EQ(Captions(w.menuBar()->actions()),
            (QStringList{"Select Port", "Fuel Type", "Display Type", "Help"}));
  EXPECT_EQ(Captions(w.Setup1->actions()),
            (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
  EXPECT_EQ(Captions(w.Petrol1->actions()),
            (QStringList{"Petrol (Gasoline)", "Methanol/Alcohol", "Propane (LPG)"}));
  EXPECT_EQ(Captions(w.DisplayType1->actions()), (QStringList{"Air Fuel Ratio", "Lambda"}));
  EXPECT_EQ(Captions(w.Help1->actions()), (QStringList{"About Log to Disk", "About KestGraph"}));
}

TEST(Menus, ExactlyOneCheckPerGroupAfterAnySequenceOfChoices) {
  TWindowFixture f;
  auto& w = f.W();
  std::vector<QAction*> ports(w.PortItems.begin(), w.PortItems.end());
  const std::vector<QAction*> fuels{w.Petrol2, w.Methanol1, w.Propane1};
  const std::vector<QAction*> modes{w.AirFuelRatio1, w.Lambda1};
  std::vector<QAction*> all = ports;
  all.insert(all.end(), fuels.begin(), fuels.end());
  all.insert(all.end(), modes.begin(), modes.end());
  std::mt19937 random(7);
  for (int step = 0; step < 300; ++step) {
    QAction* item = all[random() % all.size()];
    if (!item->isEnabled() ||
        (item->parent() == w.Petrol1 && !w.Petrol1->menuAction()->isEnabled()))
      continue;
    item->trigger();  // as a click: Qt toggles a checkable item before the handler runs
    ASSERT_EQ(CheckedCount(ports), 1) << "after " << item->text().toStdString();
    ASSERT_EQ(CheckedCount(fuels), 1) << "after " << item->text().toStdString();
    ASSERT_EQ(CheckedCount(modes), 1) << "after " << item->text().toStdString();
    ASSERT_EQ(w.Lambda1->isChecked(), kesttest::StateOf(w.Engine).DisplayMode == 2);
  }
}

TEST(Menus, ChoosingAPortClosesTheOldOneFirstAndReports) {
  for (bool com2Present : {true, false}) {
    TWindowFixture f;
    auto& w = f.W();
    if (!com2Present) f.Serial.RemoveDevice(TFakeSerialApi::ComName(2));
    w.OpenCommsClick();
    ASSERT_TRUE(f.Serial.IsDeviceOpen(TFakeSerialApi::ComName(1)));
    f.Serial.ClearRecord();
    w.PortItems[1]->trigger();
    const auto names = f.Serial.CallNames();
    const auto close = std::find(names.begin(), names.end(), "CloseHandle");
    const auto open = std::find(names.begin(), names.end(), "CreateFile");
    ASSERT_NE(close, names.end());
    ASSERT_NE(open, names.end());
    EXPECT_LT(close, open) << "COM1 is closed before COM2 is opened";
    EXPECT_FALSE(f.Serial.IsDeviceOpen(TFakeSerialApi::ComName(1)));
    EXPECT_EQ(f.Serial.Calls()[open - names.begin()].Text, TFakeSerialApi::ComName(2));
    EXPECT_EQ(w.StatusBarText(), com2Present ? "Com2 Port Open" : "Error: could not open Com2");
    EXPECT_EQ(kesttest::StateOf(w.Engine).PortOpen, com2Present);
    EXPECT_EQ(f.Services.Beeps, com2Present ? 0 : 1);
    EXPECT_TRUE(w.PortItems[1]->isChecked());
    EXPECT_EQ(kesttest::DriverOf(w.Engine).ComPort(), TComPortNumber::pnCOM2);
  }
}

TEST(Menus, ChoosingTheSelectedPortReopensIt) {
  TWindowFixture f;
  f.W().OpenCommsClick();
  f.Serial.ClearRecord();
  f.W().PortItems[0]->trigger();
  EXPECT_EQ(f.Serial.CountCalls("CloseHandle"), 1u);
  EXPECT_EQ(f.Serial.CountCalls("CreateFile"), 1u);
  EXPECT_EQ(f.W().StatusBarText(), "Com1 Port Open");
  EXPECT_TRUE(f.W().PortItems[0]->isChecked());
}

TEST(Menus, ReActivationKeepsTheChosenPort) {
  TWindowFixture f;
  f.W().OpenCommsClick();
  f.W().PortItems[2]->trigger();
  f.W().OpenCommsClick();  // as when an About window closes
  EXPECT_EQ(f.W().StatusBarText(), "Com3 Port Open");
  EXPECT_TRUE(f.Serial.IsDeviceOpen(TFakeSerialApi::ComName(3)));
}

TEST(Menus, FuelAndDisplayChoicesSetLabelsAndAxes) {
  struct TCase {
    const char* Name;
    std::vector<QAction * ui::TKest3GraphMain::*> Steps;
    bool AfrLabels, LambdaLabels, LambdaPic, FuelLabelShown, FuelMenuEnabled;
    const char* FuelLabel;
    const char* Title;
    const char* AxisTitle;
  };
  using W = ui::TKest3GraphMain;
  const TCase cases[] = {
      {"start", {}, true, false, false, true, true, "Petrol/Gasoline", "Air Fuel Ratio", "AFR"},
      {"methanol",
       {&W::Methanol1},
       false,
       false,
       false,
       true,
       true,
       "Methanol/Alcohol",
       "Air Fuel Ratio",
       "AFR"},
      {"propane",
       {&W::Propane1},
       false,
       false,
       false,
       true,
       true,
       "Propane/LPG",
       "Air Fuel Ratio",
       "AFR"},
      {"lambda",
       {&W::Lambda1},
       false,
       true,
       true,
       false,
       false,
       "Petrol/Gasoline",
       "   Lambda",
       " "},
      {"methanol, lambda, AFR",
       {&W::Methanol1, &W::Lambda1, &W::AirFuelRatio1},
       false,
       false,
       false,
       true,
       true,
       "Methanol/Alcohol",
       "Air Fuel Ratio",
       "AFR"},
      {"petrol, lambda, AFR",
       {&W::Methanol1, &W::Petrol2, &W::Lambda1, &W::AirFuelRatio1},
       true,
       false,
       false,
       true,
       true,
       "Petrol/Gasoline",
       "Air Fuel Ratio",
       "AFR"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TWindowFixture f;
    auto& w = f.W();
    for (auto step : c.Steps) (w.*step)->trigger();
    for (QLabel* l : w.AfrAxisLabels) EXPECT_EQ(Visible(l, &w), c.AfrLabels);
    for (QLabel* l : w.LambdaAxisLabels) EXPECT_EQ(Visible(l, &w), c.LambdaLabels);
    EXPECT_EQ(Visible(w.LambdaPIC, &w), c.LambdaPic);
    EXPECT_EQ(Visible(w.FuelTypeLabel, &w), c.FuelLabelShown);
    EXPECT_EQ(w.Petrol1->menuAction()->isEnabled(), c.FuelMenuEnabled);
    EXPECT_EQ(w.FuelTypeLabel->text(), c.FuelLabel);
    EXPECT_EQ(w.Label3->text(), c.Title);
    EXPECT_EQ(w.GraphYLabel->text(), c.AxisTitle);
  }
}

TEST(Menus, FuelStaysWhileInLambdaAndAppliesAgainInAfr) {
  TWindowFixture f;
  auto& w = f.W();
  w.Propane1->trigger();
  w.Lambda1->trigger();
  EXPECT_EQ(kesttest::StateOf(w.Engine).FuelType, 3);
  kesttest::StateOf(w.Engine).SensorFrame.AfrByte = 147;
  EXPECT_NEAR(w.CalcKest(), 1.0, 1e-9);
  w.AirFuelRatio1->trigger();
  EXPECT_NEAR(w.CalcKest(), 15.5, 1e-9);
}
