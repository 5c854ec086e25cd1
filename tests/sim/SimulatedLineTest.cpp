// The box inside the process (--demo without a pseudo-terminal) seen through the serial interface,
// over the scripted line's virtual clock: what a request brings back, and when.
#include <gtest/gtest.h>

#include <vector>

#include "sim/FrameGenerator.h"
#include "sim/SimulatedLine.h"
#include "tests/support/FakeSerialApi.h"

namespace {

using kesttest::TFakeSerialApi;

const std::string Com1 = TFakeSerialApi::ComName(1);
const std::string Com2 = TFakeSerialApi::ComName(2);

TEST(SimulatedLine, AnswersEachRequestWithTheGeneratorsAnswerWhenItsTimeHasCome) {
  struct TCase {
    const char* Name;
    sim::TSimConfig Config;
    std::uint32_t SentAtMs;   // when the request is written, from the line's start
    std::uint32_t ArrivesMs;  // when the whole answer has arrived, after the request
    bool Silent;
  };
  sim::TSimConfig plain;
  plain.LatencyMs = 2;
  sim::TSimConfig paced = plain;
  paced.Pace = true;  // five bytes at 19200 bit/s take 2.6 ms after the latency
  sim::TSimConfig junk = paced;
  junk.JunkRate = 1;  // every answer behind a burst of junk, which takes its time on the line too
  sim::TSimConfig silent = plain;
  silent.SilentEverySeconds = 10;
  silent.SilentForSeconds = 5;
  sim::TSimConfig drive = paced;
  drive.Scenario = sim::TScenario::Drive;
  const TCase cases[] = {
      {"after the latency, all at once", plain, 0, 2, false},
      {"paced at the line's rate", paced, 0, 5, false},
      {"junk first, paced", junk, 0, 0, false},  // arrival worked out below
      {"in a silent spell, nothing", silent, 7000, 0, true},
      {"the drive scenario at its own time", drive, 12345, 5, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFakeSerialApi system;
    sim::TSimulatedLine line(system, Com1, c.Config);
    system.Advance(c.SentAtMs);
    const platform::TPortHandle port = line.CreateFile(Com1);
    ASSERT_NE(port, platform::InvalidPortHandle);
    const sim::TAnswer expected = sim::MakeAnswer(c.Config, c.SentAtMs / 1000.0, 0);
    std::vector<std::uint8_t> wanted(expected.Junk.begin(),
                                     expected.Junk.begin() + expected.JunkCount);
    wanted.insert(wanted.end(), expected.Frame.begin(), expected.Frame.end());
    std::uint32_t arrives = c.ArrivesMs;
    if (c.Config.JunkRate > 0) {
      ASSERT_GT(expected.JunkCount, 0u);
      arrives = static_cast<std::uint32_t>(2 + (wanted.size() * 10 * 1000 + 19199) / 19200);
    }

    const std::uint8_t request = sim::RequestCode;
    std::uint32_t written = 0;
    ASSERT_TRUE(line.WriteFile(port, &request, 1, written));
    EXPECT_EQ(written, 1u);
    std::uint32_t errors = 0;
    platform::TComStat stat;
    ASSERT_TRUE(line.ClearCommError(port, errors, stat));
    EXPECT_EQ(stat.cbInQue, 0u);  // nothing before the latency

    // Each wait ends when a byte has arrived, or at its time-out when none comes; what has
    // arrived is read at once, as the driver reads.
    const std::uint64_t before = system.Elapsed();
    std::vector<std::uint8_t> got;
    while (got.size() < wanted.size() && system.Elapsed() - before < 100) {
      line.WaitForInput(port, 100);
      std::uint8_t chunk[64] = {};
      std::uint32_t read = 0;
      ASSERT_TRUE(line.ReadFile(port, chunk, sizeof chunk, read));
      got.insert(got.end(), chunk, chunk + read);
    }
    if (c.Silent) {
      EXPECT_TRUE(got.empty());
      EXPECT_EQ(system.Elapsed() - before, 100u);
      EXPECT_EQ(line.FramesAnswered(), 0u);
      continue;
    }
    EXPECT_EQ(system.Elapsed() - before, arrives);
    EXPECT_EQ(got, wanted);
    EXPECT_EQ(line.FramesAnswered(), 1u);
  }
}

TEST(SimulatedLine, HoldsItsOwnPortOnceAndLeavesEveryOtherToTheSystem) {
  TFakeSerialApi system;
  sim::TSimulatedLine line(system, Com1, {});
  const platform::TPortHandle box = line.CreateFile(Com1);
  ASSERT_NE(box, platform::InvalidPortHandle);
  EXPECT_FALSE(system.IsDeviceOpen(Com1));  // the system's COM1 is not touched
  EXPECT_EQ(line.CreateFile(Com1), platform::InvalidPortHandle);
  EXPECT_EQ(line.LastOpenError(), platform::TOpenError::InUse);

  const platform::TPortHandle other = line.CreateFile(Com2);
  ASSERT_NE(other, platform::InvalidPortHandle);
  EXPECT_TRUE(system.IsDeviceOpen(Com2));
  EXPECT_EQ(line.LastOpenError(), platform::TOpenError::None);
  system.QueueInput({1, 2, 3});
  std::uint8_t got[8] = {};
  std::uint32_t read = 0;
  ASSERT_TRUE(line.ReadFile(other, got, sizeof got, read));
  EXPECT_EQ(read, 3u);
  system.SetOpenError(TFakeSerialApi::ComName(3), platform::TOpenError::NotFound);
  EXPECT_EQ(line.CreateFile(TFakeSerialApi::ComName(3)), platform::InvalidPortHandle);
  EXPECT_EQ(line.LastOpenError(), platform::TOpenError::NotFound);

  // Closed, the box's port opens again, with nothing left over from before.
  const std::uint8_t request = sim::RequestCode;
  std::uint32_t written = 0;
  ASSERT_TRUE(line.WriteFile(box, &request, 1, written));
  EXPECT_TRUE(line.CloseHandle(box));
  const platform::TPortHandle again = line.CreateFile(Com1);
  ASSERT_NE(again, platform::InvalidPortHandle);
  system.Advance(50);
  ASSERT_TRUE(line.ReadFile(again, got, sizeof got, read));
  EXPECT_EQ(read, 0u);
}

}  // namespace
