// The monitoring engine as a view sees it, on the scripted line and its virtual clock, driven
// through its handlers: how often it tells of a change, and how a returning device comes back.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "monitor/MonitorEngine.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/support/Frames.h"

namespace {

using kesttest::TFakeSerialApi;
using monitor::TPortEvent;
using TCounts = std::map<std::string, int>;

// Counts what it is told, by kind; the per-tick calls are not changes and are left out.
class TCountingView : public monitor::TMonitorView {
 public:
  TCounts Calls;
  void LampChanged(monitor::TLamp, bool) override { ++Calls["lamp"]; }
  void WarmupMessageChanged(bool) override { ++Calls["warmup message"]; }
  void ReadoutChanged(const std::string&) override { ++Calls["readout"]; }
  void ReadoutEnabledChanged(bool) override { ++Calls["readout enabled"]; }
  void VoltsChanged(const std::string&) override { ++Calls["volts"]; }
  void VoltsEnabledChanged(bool) override { ++Calls["volts enabled"]; }
  void TempBarChanged(int) override { ++Calls["temp bar"]; }
  void TitleChanged(const std::string&) override { ++Calls["title"]; }
  void PortChanged(const TPortEvent& event) override {
    const bool opened =
        event.Kind == TPortEvent::TKind::Opened || event.Kind == TPortEvent::TKind::Reopened;
    ++Calls[opened ? "opened" : "port"];
  }
};

struct TEngineFixture {
  TFakeSerialApi Serial;
  TCountingView View;
  monitor::TMonitorEngine Engine{Serial, View};

  TEngineFixture() { EXPECT_TRUE(Engine.OpenCommsClick(false)); }
  // One watchdog period: a sample tick, the controller's answer when `answers`, the watchdog.
  void Quarter(bool answers) {
    Serial.Advance(250);
    Engine.GetByteClick();
    if (answers) {
      // The poll takes the answer to the tick's request; the handler reads its own frame.
      Serial.QueueInput({0});
      Serial.ScheduleInputAfter(1, kesttest::Frame(147, 200, 20));
      Serial.FireTimer();
    }
    Engine.OnlineTimerTimer();
  }
  void Unplug() {
    Serial.SetDeviceFailing(true);
    Serial.RemoveDevice(TFakeSerialApi::ComName(1));
    Serial.FireTimer();  // the next poll tick meets the dead device
  }
  void Replug() {
    Serial.AddDevice(TFakeSerialApi::ComName(1));
    Serial.SetDeviceFailing(false);
  }
};

TEST(MonitorEngine, TellsItsViewOfEachChangeOnce) {
  struct TPhase {
    const char* Name;
    int Quarters;
    bool Answers;
    TCounts Expected;  // calls during the phase
  };
  const TPhase phases[] = {
      {"first frame",
       1,
       true,
       {{"lamp", 1},
        {"readout enabled", 1},
        {"volts enabled", 1},
        {"readout", 1},
        {"volts", 1},
        {"temp bar", 1}}},
      {"the same frame again", 12, true, {}},
      {"silence", 6, false, {{"lamp", 1}, {"readout enabled", 1}, {"volts enabled", 1}}},
      {"more silence", 12, false, {}},
  };
  TEngineFixture f;
  f.View.Calls.clear();
  for (const TPhase& phase : phases) {
    SCOPED_TRACE(phase.Name);
    for (int i = 0; i < phase.Quarters; ++i) f.Quarter(phase.Answers);
    EXPECT_EQ(f.View.Calls, phase.Expected);
    f.View.Calls.clear();
  }
}

// A device that comes back while the keeper waits for its next try is opened once, whoever gets
// to it first, and told once.
TEST(MonitorEngine, AReturningDeviceIsReopenedOnceWithOneHandle) {
  struct TCase {
    const char* Name;
    std::function<void(monitor::TMonitorEngine&)> Between;  // while the keeper waits
    std::function<void(monitor::TMonitorEngine&)> After;    // once the keeper had its try
  };
  const auto nothing = [](monitor::TMonitorEngine&) {};
  const auto announced = [](monitor::TMonitorEngine& e) { e.OpenQuietly(); };
  const TCase cases[] = {
      {"KeeperAlone", nothing, nothing},
      {"AnnouncedBetweenTries", announced, announced},
      {"OpenedOnActivation", [](monitor::TMonitorEngine& e) { e.OpenCommsClick(false); },
       announced},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TEngineFixture f;
    f.Unplug();
    f.Quarter(false);
    ASSERT_EQ(f.View.Calls["port"], 1) << "the loss";
    f.Serial.Advance(100);
    f.Replug();
    f.Serial.ClearRecord();
    f.View.Calls.clear();
    c.Between(f.Engine);
    for (int i = 0; i < 8; ++i) f.Quarter(false);
    c.After(f.Engine);
    EXPECT_EQ(f.View.Calls["opened"], 1);
    EXPECT_EQ(f.Serial.CountCalls("CreateFile"), 1u);
    EXPECT_EQ(f.Serial.OpenHandleCount(), 1u);
  }
}

}  // namespace
