// Noticing a device that has gone, and re-opening it once it is back: the driver's DeviceLost and
// TPortKeeper against the scripted fake line, on its virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/PortKeeper.h"
#include "serial/SerialPortDriver.h"
#include "tests/support/FakeSerialApi.h"

namespace {

using kesttest::TFakeSerialApi;
using TEvent = TPortKeeper::TEvent;

const std::string Com1 = TFakeSerialApi::ComName(1);

class LineTest : public testing::Test {
 protected:
  LineTest() {
    Driver.SetComPort(TComPortNumber::pnCOM1);
    Driver.SetComPortInBufSize(50);
    Driver.SetComPortPollingDelay(5);
    Driver.SetInputTimeout(50);
    Driver.SetOnReceiveData(
        [this](TSerialPortDriver*, const void*, std::uint32_t size) { Received += size; });
  }
  // The adapter is pulled out: its handle fails every call and its name is gone.
  void Unplug() {
    Fake.SetDeviceFailing(true);
    Fake.RemoveDevice(Com1);
  }
  void Replug() {
    Fake.AddDevice(Com1);
    Fake.SetDeviceFailing(false);
  }
  std::uint64_t Duration(const std::function<void()>& step) {
    const std::uint64_t before = Fake.Elapsed();
    step();
    return Fake.Elapsed() - before;
  }

  TFakeSerialApi Fake;
  TSerialPortDriver Driver{Fake};
  std::uint32_t Received = 0;
};

// ---- the driver tells that its device has gone ----

struct TLossCase {
  const char* Label;
  bool QueryFails;  // false: only reads fail, as on a device that still answers queries
  bool BytesQueued;
  std::function<void(TSerialPortDriver&, TFakeSerialApi&)> Run;
  bool ExpectLost;
};

class DeviceLostTest : public LineTest, public testing::WithParamInterface<TLossCase> {};

TEST_P(DeviceLostTest, FollowsWhatTheDeviceAnswered) {
  ASSERT_TRUE(Driver.OpenPort());
  if (GetParam().BytesQueued) Fake.QueueInput({1, 2, 3});
  if (GetParam().QueryFails) {
    Fake.SetDeviceFailing(true);
  } else {
    Fake.SetReadFailing(true);
  }
  EXPECT_FALSE(Driver.DeviceLost()) << "nothing has asked the device yet";
  GetParam().Run(Driver, Fake);
  EXPECT_EQ(Driver.DeviceLost(), GetParam().ExpectLost);
  EXPECT_EQ(Received, 0u);

  // The loss belongs to the port as it was opened: closing forgets it, and so does a new open.
  Driver.ClosePort();
  EXPECT_FALSE(Driver.DeviceLost());
  Fake.SetDeviceFailing(false);
  Fake.SetReadFailing(false);
  ASSERT_TRUE(Driver.OpenPort());
  EXPECT_FALSE(Driver.DeviceLost());
}

const auto PollTick = [](TSerialPortDriver&, TFakeSerialApi& f) { f.FireTimer(); };
const auto ReadOne = [](TSerialPortDriver& d, TFakeSerialApi&) {
  std::uint8_t target = 0;
  d.ReadByte(target);
};

INSTANTIATE_TEST_SUITE_P(
    Operations, DeviceLostTest,
    testing::Values(
        TLossCase{"PollTickQueryFails", true, false, PollTick, true},
        TLossCase{"ReadByteQueryFails", true, false, ReadOne, true},
        TLossCase{"InputQueueCountFails", true, false,
                  [](TSerialPortDriver& d, TFakeSerialApi&) { d.InputQueueCount(); }, true},
        TLossCase{"OutputFreeSpaceFails", true, false,
                  [](TSerialPortDriver& d, TFakeSerialApi&) { d.OutputFreeSpace(); }, true},
        TLossCase{"WriteByteQueryFails", true, false,
                  [](TSerialPortDriver& d, TFakeSerialApi&) { d.WriteByte(110); }, true},
        TLossCase{"PollTickReadFails", false, true, PollTick, true},
        TLossCase{"ReadByteReadFails", false, true, ReadOne, true},
        // An empty queue is never read, so a device that only fails reads has shown nothing.
        TLossCase{"PollTickReadFailsOnEmptyQueue", false, false, PollTick, false},
        TLossCase{"ReadByteTimesOutOnEmptyQueue", false, false, ReadOne, false}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(LineTest, ASilentHealthyLineIsNotALoss) {
  ASSERT_TRUE(Driver.OpenPort());
  std::uint8_t target = 0;
  EXPECT_FALSE(Driver.ReadByte(target));  // a time-out
  Fake.RunFor(100);
  Driver.Purge(true, false);
  EXPECT_TRUE(Driver.WriteByte(110));
  EXPECT_FALSE(Driver.DeviceLost());
}

TEST_F(LineTest, OnceLostReadsAndWritesReturnAtOnce) {
  ASSERT_TRUE(Driver.OpenPort());
  Fake.SetDeviceFailing(true);
  Fake.FireTimer();
  ASSERT_TRUE(Driver.DeviceLost());
  std::uint8_t target = 7;
  std::array<std::uint8_t, 5> buffer{};
  const std::array<std::uint8_t, 3> data{1, 2, 3};
  // Without the loss these would wait 51, 51, 501 and 31 virtual ms.
  EXPECT_EQ(Duration([&] { EXPECT_FALSE(Driver.ReadByte(target)); }), 0u);
  EXPECT_EQ(Duration([&] { EXPECT_EQ(Driver.ReadBytes(buffer.data(), 5), 0u); }), 0u);
  EXPECT_EQ(Duration([&] { EXPECT_FALSE(Driver.WriteByte(110)); }), 0u);
  EXPECT_EQ(Duration([&] { EXPECT_EQ(Driver.WriteBytesTimed(data.data(), 3, 30), 0u); }), 0u);
  EXPECT_EQ(target, 7);
  EXPECT_EQ(Driver.PollHolds(), 0);
}

// ---- the keeper ----

TEST_F(LineTest, KeeperLeavesAHealthyOrClosedPortAlone) {
  TPortKeeper keeper(Driver);
  ASSERT_TRUE(Driver.OpenPort());
  for (int i = 0; i < 20; ++i) {
    Fake.RunFor(250);
    EXPECT_EQ(keeper.Check(Fake.Now()), TEvent::None);
  }
  EXPECT_TRUE(Driver.IsOpen());
  // A port the program closed itself, or one that never opened, is not the keeper's to open.
  Driver.ClosePort();
  Fake.RemoveDevice(TFakeSerialApi::ComName(2));
  TSerialPortDriver never(Fake);  // COM2, absent
  TPortKeeper neverKeeper(never);
  EXPECT_FALSE(never.OpenPort());
  Fake.AddDevice(TFakeSerialApi::ComName(2));
  Fake.ClearRecord();
  for (int i = 0; i < 20; ++i) {
    Fake.Advance(250);
    EXPECT_EQ(keeper.Check(Fake.Now()), TEvent::None);
    EXPECT_EQ(neverKeeper.Check(Fake.Now()), TEvent::None);
  }
  EXPECT_EQ(Fake.CountCalls("CreateFile"), 0u);
  EXPECT_FALSE(keeper.Lost());
}

TEST_F(LineTest, KeeperClosesALostPortAndReopensItAboutOnceASecond) {
  TPortKeeper keeper(Driver, 1000);
  Fake.SetTickCount(0xFFFFFFFFu - 1500);  // the retries straddle the counter's wrap
  ASSERT_TRUE(Driver.OpenPort());
  Unplug();
  Fake.RunFor(5);  // a poll tick meets the dead device
  ASSERT_TRUE(Driver.DeviceLost());
  const std::uint32_t lostAt = Fake.Now();
  EXPECT_EQ(keeper.Check(lostAt), TEvent::Lost);
  EXPECT_FALSE(Driver.IsOpen());
  EXPECT_TRUE(keeper.Lost());
  EXPECT_EQ(Fake.OpenHandleCount(), 0u);

  // Watchdog ticks every 250 ms: a try on every fourth, none in between.
  Fake.ClearRecord();
  for (std::uint32_t t = 250; t <= 3000; t += 250) {
    EXPECT_EQ(keeper.Check(lostAt + t), TEvent::None) << t;
    EXPECT_EQ(Fake.CountCalls("CreateFile"), t / 1000) << t;
  }
  EXPECT_TRUE(keeper.Lost());

  Replug();
  EXPECT_EQ(keeper.Check(lostAt + 3250), TEvent::None);
  EXPECT_EQ(keeper.Check(lostAt + 3500), TEvent::None);
  EXPECT_EQ(keeper.Check(lostAt + 3750), TEvent::None);
  EXPECT_EQ(keeper.Check(lostAt + 4000), TEvent::Reopened);
  EXPECT_TRUE(Driver.IsOpen());
  EXPECT_FALSE(keeper.Lost());
  EXPECT_EQ(Fake.CountCalls("CreateFile"), 4u);

  // The re-opened port works, and a second unplug is noticed like the first.
  Fake.QueueInput({34});
  Fake.RunFor(5);
  EXPECT_EQ(Received, 1u);
  EXPECT_EQ(keeper.Check(lostAt + 4250), TEvent::None);
  Unplug();
  Fake.RunFor(5);
  EXPECT_EQ(keeper.Check(lostAt + 4500), TEvent::Lost);
}

TEST_F(LineTest, KeeperStopsWhenTheUserTakesCharge) {
  struct TCase {
    const char* Label;
    std::function<void(TPortKeeper&, TSerialPortDriver&)> UserAction;
    bool ExpectOpen;
  };
  const TCase cases[] = {
      // The user chose a port from the menu: the keeper forgets, nothing is re-opened for them.
      {"Forget", [](TPortKeeper& k, TSerialPortDriver&) { k.Forget(); }, false},
      // The window opened the port itself (on activation): the keeper has nothing left to do.
      {"OpenedByOthers", [](TPortKeeper&, TSerialPortDriver& d) { EXPECT_TRUE(d.OpenPort()); },
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TFakeSerialApi fake;
    TSerialPortDriver driver(fake);
    driver.SetComPort(TComPortNumber::pnCOM1);
    TPortKeeper keeper(driver, 1000);
    ASSERT_TRUE(driver.OpenPort());
    fake.SetDeviceFailing(true);
    fake.FireTimer();
    ASSERT_EQ(keeper.Check(0), TEvent::Lost);
    fake.SetDeviceFailing(false);
    c.UserAction(keeper, driver);
    fake.ClearRecord();
    for (std::uint32_t t = 250; t <= 5000; t += 250) EXPECT_EQ(keeper.Check(t), TEvent::None);
    EXPECT_FALSE(keeper.Lost());
    EXPECT_EQ(driver.IsOpen(), c.ExpectOpen);
    EXPECT_EQ(fake.CountCalls("CreateFile"), 0u);
  }
}

}  // namespace
