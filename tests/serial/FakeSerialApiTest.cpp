// The scripted fake line's own promises, which the driver tests and the window tests build on:
// scheduled arrivals across the tick counter's wrap, waits that end at the first event, the spin
// guard, and timers fired by RunFor.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/FakeSerialApi.h"

namespace {

using kesttest::TFakeSerialApi;
using kesttest::TFakeSpinError;
using platform::TMessage;

TEST(FakeSerialLine, ArrivalsScheduledByTickComeAcrossTheWrap) {
  TFakeSerialApi fake;
  fake.SetTickCount(0xFFFFFFF0u);
  fake.ScheduleInput(0x10, {1});  // 32 ms on, after the counter has wrapped
  fake.Advance(31);
  EXPECT_EQ(fake.InputQueued(), 0u);
  EXPECT_EQ(fake.Now(), 0x0Fu);
  fake.Advance(1);
  EXPECT_EQ(fake.InputQueued(), 1u);
}

TEST(FakeSerialLine, WaitsEndAtTheFirstEventOrTakeTheirFullTime) {
  struct TCase {
    const char* Label;
    bool Failing;
    bool QueuedNow;
    std::uint32_t ArrivalMs;  // 0: none
    std::uint64_t ExpectMs;
  };
  const std::vector<TCase> cases = {
      {"NothingComes", false, false, 0, 40},
      {"ArrivalFirst", false, false, 15, 15},
      {"ArrivalAfterTheWait", false, false, 60, 40},
      {"AlreadyQueued", false, true, 0, 0},
      {"FailingDeviceWithQueuedBytes", true, true, 15, 40},
  };
  for (const auto& c : cases) {
    TFakeSerialApi fake;
    const auto port = fake.CreateFile(TFakeSerialApi::ComName(1));
    if (c.QueuedNow) fake.QueueInput({1});
    if (c.ArrivalMs != 0) fake.ScheduleInputAfter(c.ArrivalMs, {2});
    fake.SetDeviceFailing(c.Failing);
    fake.WaitForInput(port, 40);
    EXPECT_EQ(fake.Elapsed(), c.ExpectMs) << c.Label;
  }

  // Output: a full queue waits for the stall to end.
  TFakeSerialApi fake;
  const auto port = fake.CreateFile(TFakeSerialApi::ComName(1));
  fake.StallTransmitFull();
  fake.ResumeTransmitAfter(25);
  fake.WaitForOutputSpace(port, 40);
  EXPECT_EQ(fake.Elapsed(), 25u);
  EXPECT_FALSE(fake.TransmitStalled());
}

TEST(FakeSerialLine, ASpinningCallerIsStopped) {
  TFakeSerialApi fake;
  fake.SetSpinLimit(100);
  const auto port = fake.CreateFile(TFakeSerialApi::ComName(1));
  std::uint32_t errors = 0;
  platform::TComStat stat;
  auto spin = [&] {
    for (int i = 0; i < 1000; ++i) fake.ClearCommError(port, errors, stat);
  };
  EXPECT_THROW(spin(), TFakeSpinError);

  // A loop that lets the clock move is no spin.
  auto waiting = [&] {
    for (int i = 0; i < 1000; ++i) {
      fake.ClearCommError(port, errors, stat);
      fake.WaitForInput(port, 1);
    }
  };
  EXPECT_NO_THROW(waiting());
}

TEST(FakeSerialLine, RunForFiresRunningTimersAndCollapsesMissedTicks) {
  TFakeSerialApi fake;
  std::vector<std::uint64_t> ticks;
  std::uint32_t stallOnce = 0;
  auto window = fake.CreatePollWindow([&](TMessage& message) {
    ASSERT_EQ(message.Msg, platform::WM_TIMER);
    ticks.push_back(fake.Elapsed());
    if (stallOnce != 0) {
      fake.Advance(stallOnce);  // a handler that takes long, as a read does
      stallOnce = 0;
    }
  });
  window->SetTimer(1, 5);
  fake.RunFor(12);
  EXPECT_THAT(ticks, testing::ElementsAre(5u, 10u));

  stallOnce = 12;
  fake.RunFor(20);  // the tick at 15 runs until 27; those due at 20 and 25 collapse into one
  EXPECT_THAT(ticks, testing::ElementsAre(5u, 10u, 15u, 27u, 32u));
  EXPECT_EQ(fake.Elapsed(), 32u);

  window->KillTimer(1);
  fake.RunFor(50);
  EXPECT_EQ(ticks.size(), 5u);
}

}  // namespace
