// How the main window reports a lost port and its return, and that the user's menu choice wins,
// step by step on the scripted line and its virtual clock: the parts of re-plugging whose order
// and counts the real-time tests beside this one cannot pin down.
#include <gtest/gtest.h>

#include "tests/support/EngineAccess.h"
#include "tests/ui/UiTestSupport.h"

namespace {

using kesttest::TFakeSerialApi;
using TBytes = std::vector<std::uint8_t>;

const std::string Com1 = TFakeSerialApi::ComName(1);

struct TKeptWindow : uitest::TWindowFixture {
  TKeptWindow() {
    W().OpenCommsClick();
    W().OnlineTimerTimer();
  }
  // One watchdog period: the sample ticks, then the watchdog, on the virtual clock.
  void Quarter() {
    Serial.Advance(150);
    W().GetByteClick();
    Serial.Advance(100);
    W().GetByteClick();
    W().OnlineTimerTimer();
  }
  void Unplug() {
    Serial.SetDeviceFailing(true);
    Serial.RemoveDevice(Com1);
    Serial.FireTimer();  // the next poll tick meets the dead device
  }
  void Replug() {
    Serial.AddDevice(Com1);
    Serial.SetDeviceFailing(false);
  }
  // A frame arrives: the poll takes the sample's answer, the handler reads its own.
  void Receive() {
    Serial.QueueInput({0});
    Serial.ScheduleInputAfter(1, {34, 147, 200, 20, 110});
    Serial.FireTimer();
  }
};

TEST(PortKeeperWindow, LossAndReturnAreToldWithoutABeep) {
  TKeptWindow f;
  auto& w = f.W();
  f.Receive();
  w.OnlineTimerTimer();
  ASSERT_TRUE(w.DigitalDisplay->isEnabled());

  f.Unplug();
  const std::uint64_t lostAt = f.Serial.Elapsed();
  f.Quarter();
  EXPECT_EQ(w.StatusBarText(), "Error: could not open Com1");
  EXPECT_FALSE(kesttest::StateOf(w.Engine).PortOpen);
  EXPECT_FALSE(kesttest::DriverOf(w.Engine).IsOpen());
  EXPECT_EQ(w.OnlineLED->BrushColor(), ui::clBtnFace());
  EXPECT_FALSE(w.DigitalDisplay->isEnabled());
  // The sample ticks on the dead port did not wait out their write time-outs.
  EXPECT_EQ(f.Serial.Elapsed() - lostAt, 250u);

  f.Serial.ClearRecord();
  for (int i = 0; i < 12; ++i) f.Quarter();  // three seconds unplugged
  EXPECT_EQ(f.Serial.CountCalls("CreateFile"), 3u) << "about one try a second";
  EXPECT_EQ(w.StatusBarText(), "Error: could not open Com1");

  f.Replug();
  int quarters = 0;
  while (w.StatusBarText() != "Com1 Port Open" && quarters < 8) {
    f.Quarter();
    ++quarters;
  }
  EXPECT_LE(quarters, 4);
  EXPECT_TRUE(kesttest::StateOf(w.Engine).PortOpen);
  EXPECT_FALSE(w.DigitalDisplay->isEnabled()) << "live only with the next frame";
  f.Receive();
  w.OnlineTimerTimer();
  EXPECT_TRUE(w.DigitalDisplay->isEnabled());
  EXPECT_EQ(w.DigitalDisplay->text(), "14.7");
  EXPECT_EQ(f.Services.Beeps, 0);
}

TEST(PortKeeperWindow, TheUsersMenuChoiceWins) {
  TKeptWindow f;
  auto& w = f.W();
  f.Unplug();
  f.Quarter();
  ASSERT_EQ(w.StatusBarText(), "Error: could not open Com1");

  // The user picks COM2, which is not there either: told with a beep, as always.
  f.Serial.RemoveDevice(TFakeSerialApi::ComName(2));
  w.PortItems[1]->trigger();
  EXPECT_EQ(w.StatusBarText(), "Error: could not open Com2");
  EXPECT_EQ(f.Services.Beeps, 1);

  // Neither the lost COM1 nor the chosen COM2 is opened behind the user's back.
  f.Replug();
  f.Serial.AddDevice(TFakeSerialApi::ComName(2));
  f.Serial.ClearRecord();
  for (int i = 0; i < 12; ++i) f.Quarter();
  EXPECT_EQ(f.Serial.CountCalls("CreateFile"), 0u);
  EXPECT_EQ(w.StatusBarText(), "Error: could not open Com2");
  EXPECT_FALSE(kesttest::StateOf(w.Engine).PortOpen);
  EXPECT_EQ(f.Services.Beeps, 1);
}

}  // namespace
