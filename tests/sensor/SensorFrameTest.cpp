// The frame reader and the checksum step, fed from scripted byte streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sensor/SensorFrame.h"

namespace sensor {

// Lets failed expectations print frames as their five bytes.
void PrintTo(const SensorFrame& frame, std::ostream* out) {
  *out << "{" << int(frame.SyncByte) << "," << int(frame.AfrByte) << "," << int(frame.VoltsByte)
       << "," << int(frame.TempByte) << "," << int(frame.CheckByte) << "}";
}

namespace {

using TScript = std::vector<std::optional<std::uint8_t>>;
constexpr std::nullopt_t TimeOut = std::nullopt;

// A byte source playing a fixed script: a value is a byte that came, TimeOut a read that timed
// out. Reads past the end time out too. Counts every read it is asked for, and notes after how
// many reads each announcement of bytes that belong together came.
class TScriptedReader : public TByteReader {
 public:
  explicit TScriptedReader(TScript script) : Script(std::move(script)) {}
  bool ReadByte(std::uint8_t& target) override {
    const std::size_t index = Reads++;
    if (index >= Script.size() || !Script[index]) return false;
    target = *Script[index];
    return true;
  }
  void ExpectBytes(int count) override { Announced.emplace_back(Reads, count); }
  TScript Script;
  std::size_t Reads = 0;
  std::vector<std::pair<std::size_t, int>> Announced;  // reads made before it, count announced
};

TScript Junk(int count) { return TScript(static_cast<std::size_t>(count), std::uint8_t{7}); }
TScript operator+(TScript a, const TScript& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const TScript ValidStream = {34, 147, 200, 20, 110};
const SensorFrame ValidFrame{34, 147, 200, 20, 110};
// What an earlier sample left in the current frame; "untouched" is checked against it.
const SensorFrame PreviousFrame{34, 140, 190, 30, 127};

struct TReadCase {
  std::string Name;
  TScript Stream;
  SensorFrame Before;
  bool Found;
  SensorFrame After;
  std::size_t Reads;
  friend void PrintTo(const TReadCase& c, std::ostream* out) { *out << c.Name; }
};

class ReadSensorFrameTest : public ::testing::TestWithParam<TReadCase> {};

TEST_P(ReadSensorFrameTest, FindsAndReadsTheFrame) {
  const TReadCase& c = GetParam();
  TScriptedReader reader(c.Stream);
  SensorFrame current = c.Before;
  EXPECT_EQ(ReadSensorFrame(reader, current), c.Found);
  EXPECT_EQ(current, c.After);
  EXPECT_EQ(reader.Reads, c.Reads);
  // The rest of a frame is announced once, straight after its sync byte was read, so that a
  // source on a paced line can wait for it at once; a search that finds no frame announces none.
  if (!c.Found) {
    EXPECT_TRUE(reader.Announced.empty());
    return;
  }
  ASSERT_EQ(reader.Announced.size(), 1u);
  const auto [readsBefore, count] = reader.Announced.front();
  EXPECT_EQ(count, 4);
  ASSERT_GE(readsBefore, 1u);
  EXPECT_EQ(c.Stream.at(readsBefore - 1), std::optional<std::uint8_t>(SyncValue));
  EXPECT_GE(c.Reads - readsBefore, 4u);  // a doubled sync makes it five
  EXPECT_LE(c.Reads - readsBefore, 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ReadSensorFrameTest,
    ::testing::Values(
        TReadCase{"ValidFrame", ValidStream, {}, true, ValidFrame, 5},
        TReadCase{"DoubledSyncSkipped", TScript{34} + ValidStream, {}, true, ValidFrame, 6},
        // After a doubled sync a third 34 is the mixture byte: skipped once, never twice.
        TReadCase{"ThirdSyncIsTheAfrByte",
                  {34, 34, 34, 200, 20, 110},
                  {},
                  true,
                  {34, 34, 200, 20, 110},
                  6},
        TReadCase{"EighteenJunkBytesThenFrame", Junk(18) + ValidStream, {}, true, ValidFrame, 23},
        // The sync comes on the 20th read: discarded, and nothing after it is read.
        TReadCase{"NineteenJunkBytesThenFrame", Junk(19) + ValidStream, PreviousFrame, false,
                  PreviousFrame, 20},
        TReadCase{"OnlyJunk", Junk(40), PreviousFrame, false, PreviousFrame, 20},
        TReadCase{"SilentLine", {}, PreviousFrame, false, PreviousFrame, 20},
        // The previous frame's SyncByte is 34: a reader that searched in it would see a sync.
        TReadCase{
            "TimeOutOnFirstReadIsNoSync", {TimeOut, 9, 9}, PreviousFrame, false, PreviousFrame, 20},
        TReadCase{
            "TimeOutOnFirstReadThenFrame", TScript{TimeOut} + ValidStream, {}, true, ValidFrame, 6},
        // A time-out after a junk byte keeps that junk byte, which is no sync either.
        TReadCase{"TimeOutAfterJunkThenFrame",
                  TScript{5, TimeOut, TimeOut} + ValidStream,
                  {},
                  true,
                  ValidFrame,
                  8},
        // Leftover of an answer that the poll took only part of, then the real frame.
        TReadCase{"RestOfEarlierAnswerThenFrame",
                  TScript{200, 20, 110} + ValidStream,
                  {},
                  true,
                  ValidFrame,
                  8},
        // Read in place: a timed-out field keeps what the frame held before.
        TReadCase{"TimeOutsInsideFrameKeepFields",
                  {34, TimeOut, 200, TimeOut, TimeOut},
                  PreviousFrame,
                  true,
                  {34, 140, 200, 30, 127},
                  5},
        TReadCase{"LineGoesSilentAfterSync", {34}, PreviousFrame, true, PreviousFrame, 5},
        // The kept AfrByte is 34, so it is taken as a doubled sync and read once more.
        TReadCase{"TimedOutAfrByteThatWas34",
                  {34, TimeOut, 147, 200, 20, 110},
                  {0, 34, 0, 0, 0},
                  true,
                  ValidFrame,
                  6}),
    [](const auto& info) { return info.param.Name; });

// 255 minus the low byte of the sum: wrap-around of the sum, and the no-wrap ends.
TEST(ExpectedCheckByteTest, EightBitArithmetic) {
  struct TCase {
    SensorFrame Frame;
    std::uint8_t Check;
  };
  const TCase cases[] = {
      {{34, 147, 200, 20, 0}, 110},  // 401 -> 145
      {{34, 0, 0, 0, 0}, 221},       {{0, 0, 0, 0, 0}, 255},
      {{34, 255, 255, 255, 0}, 224},  // 799 -> 31
      {{34, 221, 0, 0, 0}, 0},        // exactly 255
      {{34, 222, 0, 0, 0}, 255},      // exactly 256
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Frame));
    EXPECT_EQ(ExpectedCheckByte(c.Frame), c.Check);
    // The check byte itself is not part of the sum.
    SensorFrame withCheck = c.Frame;
    withCheck.CheckByte = 99;
    EXPECT_EQ(ExpectedCheckByte(withCheck), c.Check);
  }
}

// The receive path end to end: read, check, volts and warm-up, as the main window chains them.
struct TReceiveCase {
  std::string Name;
  TScript Stream;
  SensorFrame LastGoodBefore;
  bool Accepted;
  SensorFrame Frame;  // the current frame after the checksum step
  SensorFrame LastGoodAfter;
  double Volts;
  bool WarmingUp;
  friend void PrintTo(const TReceiveCase& c, std::ostream* out) { *out << c.Name; }
};

class ReceivePathTest : public ::testing::TestWithParam<TReceiveCase> {};

TEST_P(ReceivePathTest, ChecksAndDecodesTheFrame) {
  const TReceiveCase& c = GetParam();
  TScriptedReader reader(c.Stream);
  SensorFrame current = PreviousFrame;
  SensorFrame lastGood = c.LastGoodBefore;
  ASSERT_TRUE(ReadSensorFrame(reader, current));
  EXPECT_EQ(AcceptFrame(current, lastGood), c.Accepted);
  EXPECT_EQ(current, c.Frame);
  EXPECT_EQ(lastGood, c.LastGoodAfter);
  EXPECT_NEAR(SupplyVoltsOf(current.VoltsByte), c.Volts, 0.0005);
  EXPECT_EQ(IsWarmingUp(current), c.WarmingUp);
}

const SensorFrame EarlierGood{34, 150, 180, 190, 213};  // warming up, 11.3 V

INSTANTIATE_TEST_SUITE_P(
    Frames, ReceivePathTest,
    ::testing::Values(
        TReceiveCase{"Valid", ValidStream, {}, true, ValidFrame, ValidFrame, 12.549, false},
        TReceiveCase{"DoubledSync", TScript{34} + ValidStream, EarlierGood, true, ValidFrame,
                     ValidFrame, 12.549, false},
        TReceiveCase{
            "BadCheckBeforeAnyGoodFrame", {34, 147, 200, 20, 111}, {}, false, {}, {}, 0.0, false},
        TReceiveCase{"BadCheckRepeatsEarlierGood",
                     {34, 147, 200, 20, 111},
                     EarlierGood,
                     false,
                     EarlierGood,
                     EarlierGood,
                     11.294,
                     true},
        // Time-outs inside the frame assemble a frame from stale bytes: the checksum rejects it.
        TReceiveCase{"StaleFieldsRejected",
                     {34, 147, TimeOut, TimeOut, TimeOut},
                     EarlierGood,
                     false,
                     EarlierGood,
                     EarlierGood,
                     11.294,
                     true},
        TReceiveCase{"Temp179IsWarm",
                     {34, 147, 200, 179, 207},
                     {},
                     true,
                     {34, 147, 200, 179, 207},
                     {34, 147, 200, 179, 207},
                     12.549,
                     false},
        TReceiveCase{"Temp180IsWarmingUp",
                     {34, 147, 200, 180, 206},
                     {},
                     true,
                     {34, 147, 200, 180, 206},
                     {34, 147, 200, 180, 206},
                     12.549,
                     true}),
    [](const auto& info) { return info.param.Name; });

// The voltage scale against its decimal definition: code x 0.0627450976 exactly.
TEST(SupplyVoltsOfTest, AllCodes) {
  for (int code = 0; code < 256; ++code) {
    SCOPED_TRACE(code);
    EXPECT_NEAR(SupplyVoltsOf(static_cast<std::uint8_t>(code)), code * 627450976.0 / 1e10, 1e-12);
  }
  EXPECT_EQ(SupplyVoltsOf(0), 0.0);
  EXPECT_NEAR(SupplyVoltsOf(255), 16.0, 1e-6);
}

}  // namespace
}  // namespace sensor
