// The simulated box over a real pseudo-terminal, seen from the monitor's side of the line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "platform/PseudoTerminal.h"
#include "sim/FrameGenerator.h"
#include "sim/KestSimulator.h"
#include "tests/sim/TtyHelpers.h"

namespace sim {
namespace {

using simtest::OpenTty;
using simtest::ReadBytes;
using simtest::SeesHangup;
using simtest::TFd;
using simtest::WaitFor;
using simtest::WriteBytes;
namespace fs = std::filesystem;

using TBytes = std::vector<std::uint8_t>;

TBytes FrameOf(std::uint8_t afr, std::uint8_t volts, std::uint8_t temp) {
  const unsigned sum = 34u + afr + volts + temp;
  return {34, afr, volts, temp, static_cast<std::uint8_t>(255u - sum % 256u)};
}

// A folder of its own for each test that makes links, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestsim-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) Path = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    if (!Path.empty()) fs::remove_all(Path, ignored);
  }
  fs::path Path;
};

TEST(KestSimulatorTest, AnswersARequestWithOneValidFrame) {
  TSimConfig config;
  config.ConstantAfr = 150;
  config.SupplyVolts = 12.549;  // code 200
  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  ASSERT_TRUE(simulator.IsRunning());
  ASSERT_FALSE(simulator.SlavePath().empty());
  TFd line(OpenTty(simulator.SlavePath()));
  ASSERT_TRUE(line.Valid());

  ASSERT_TRUE(WriteBytes(line.Get(), {RequestCode}));
  EXPECT_EQ(ReadBytes(line.Get(), FrameSize), FrameOf(150, 200, WarmTempCode));
  ASSERT_TRUE(WaitFor([&] { return simulator.Counters().FramesSent == 1; }));
  EXPECT_EQ(simulator.Counters().RequestsSeen, 1u);
}

struct TTwoRequestsCase {
  const char* Name;
  bool Pace;
  bool Together;  // both request bytes in one write
};

class KestSimulatorTwoRequestsTest : public testing::TestWithParam<TTwoRequestsCase> {};

TEST_P(KestSimulatorTwoRequestsTest, TwoRequestsGiveTwoFrames) {
  TSimConfig config;
  config.Pace = GetParam().Pace;
  config.LatencyMs = 0;
  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  TFd line(OpenTty(simulator.SlavePath()));
  ASSERT_TRUE(line.Valid());

  const TBytes frame = FrameOf(147, VoltsCodeAt(config, 0), WarmTempCode);
  TBytes both = frame;
  both.insert(both.end(), frame.begin(), frame.end());
  if (GetParam().Together) {
    ASSERT_TRUE(WriteBytes(line.Get(), {RequestCode, RequestCode}));
    EXPECT_EQ(ReadBytes(line.Get(), 2 * FrameSize), both);
  } else {
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(WriteBytes(line.Get(), {RequestCode}));
      EXPECT_EQ(ReadBytes(line.Get(), FrameSize), frame) << "request " << i;
    }
  }
  ASSERT_TRUE(WaitFor([&] { return simulator.Counters().FramesSent == 2; }));
  EXPECT_EQ(simulator.Counters().RequestsSeen, 2u);
}

INSTANTIATE_TEST_SUITE_P(Lines, KestSimulatorTwoRequestsTest,
                         testing::Values(TTwoRequestsCase{"AtOnce", false, true},
                                         TTwoRequestsCase{"OneByOne", false, false},
                                         TTwoRequestsCase{"PacedTogether", true, true},
                                         TTwoRequestsCase{"PacedOneByOne", true, false}),
                         [](const testing::TestParamInfo<TTwoRequestsCase>& info) {
                           return info.param.Name;
                         });

TEST(KestSimulatorTest, BytesOtherThanTheRequestGetNoAnswer) {
  TKestSimulator simulator;
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  TFd line(OpenTty(simulator.SlavePath()));
  ASSERT_TRUE(line.Valid());

  TBytes junk;
  for (int value = 0; value < 256; ++value) {
    if (value != RequestCode) junk.push_back(static_cast<std::uint8_t>(value));
  }
  junk.push_back(RequestCode);
  ASSERT_TRUE(WriteBytes(line.Get(), junk));
  // An answer to any of the junk would come ahead of the frame.
  const TBytes frame = FrameOf(147, VoltsCodeAt(TSimConfig{}, 0), WarmTempCode);
  EXPECT_EQ(ReadBytes(line.Get(), FrameSize), frame);
  ASSERT_TRUE(WriteBytes(line.Get(), {RequestCode}));
  EXPECT_EQ(ReadBytes(line.Get(), FrameSize), frame);

  ASSERT_TRUE(WaitFor([&] { return simulator.Counters().FramesSent == 2; }));
  const TSimCounters counters = simulator.Counters();
  EXPECT_EQ(counters.RequestsSeen, 2u);
  EXPECT_EQ(counters.OtherBytesIgnored, 255u);
}

// Nothing lost, nothing invented: with a time-independent scenario the bytes on the line must be
// exactly the generator's answers in request order, and the counters must add up to them.
TEST(KestSimulatorTest, LineCarriesExactlyTheGeneratedAnswers) {
  TSimConfig config;
  config.Seed = 7;
  config.CorruptRate = 0.3;
  config.JunkRate = 0.3;
  config.LatencyMs = 0;
  constexpr std::uint64_t Requests = 80;
  TBytes expected;
  std::uint64_t corrupted = 0;
  std::uint64_t junkBytes = 0;
  for (std::uint64_t i = 0; i < Requests; ++i) {
    const TAnswer answer = MakeAnswer(config, 0, i);
    expected.insert(expected.end(), answer.Junk.begin(), answer.Junk.begin() + answer.JunkCount);
    expected.insert(expected.end(), answer.Frame.begin(), answer.Frame.end());
    corrupted += answer.Corrupted;
    junkBytes += answer.JunkCount;
  }
  ASSERT_GT(corrupted, 0u);
  ASSERT_GT(junkBytes, 0u);

  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  TFd line(OpenTty(simulator.SlavePath()));
  ASSERT_TRUE(line.Valid());
  // In three writes of different sizes, so that requests arrive both alone and in bunches.
  const TBytes requests(Requests, RequestCode);
  ASSERT_TRUE(WriteBytes(line.Get(), TBytes(requests.begin(), requests.begin() + 1)));
  ASSERT_TRUE(WriteBytes(line.Get(), TBytes(requests.begin() + 1, requests.begin() + 30)));
  ASSERT_TRUE(WriteBytes(line.Get(), TBytes(requests.begin() + 30, requests.end())));

  EXPECT_EQ(ReadBytes(line.Get(), expected.size()), expected);
  ASSERT_TRUE(WaitFor([&] { return simulator.Counters().FramesSent == Requests; }));
  simulator.Stop();
  const TSimCounters counters = simulator.Counters();
  EXPECT_EQ(counters.RequestsSeen, Requests);
  EXPECT_EQ(counters.FramesCorrupted, corrupted);
  EXPECT_EQ(counters.JunkBytesSent, junkBytes);
  EXPECT_EQ(counters.AnswersDropped, 0u);
  EXPECT_EQ(counters.SilentRequestsIgnored, 0u);
}

// The bad line of the benchmarks: a steady stream that never holds a sync byte, so no frame can
// ever be found in it, and no request is answered.
TEST(KestSimulatorTest, SpewSendsJunkWithoutASyncAndAnswersNothing) {
  TSimConfig config;
  config.Spew = true;
  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  TFd line(OpenTty(simulator.SlavePath()));
  ASSERT_TRUE(line.Valid());

  ASSERT_TRUE(WriteBytes(line.Get(), {RequestCode, RequestCode, 7}));
  // 400 bytes take about 0.2 s at the line's rate; a 34 among them would start a frame.
  const TBytes got = ReadBytes(line.Get(), 400);
  ASSERT_EQ(got.size(), 400u);
  EXPECT_EQ(std::count(got.begin(), got.end(), SyncCode), 0);
  // Spread over the other values (400 even draws of 255 give about 200 distinct), not stuck on a
  // few.
  EXPECT_GT(std::set<std::uint8_t>(got.begin(), got.end()).size(), 150u);
  ASSERT_TRUE(WaitFor([&] { return simulator.Counters().RequestsSeen == 2; }));
  simulator.Stop();
  const TSimCounters counters = simulator.Counters();
  EXPECT_EQ(counters.FramesSent, 0u);
  EXPECT_EQ(counters.SilentRequestsIgnored, 2u);
  EXPECT_EQ(counters.OtherBytesIgnored, 1u);
  EXPECT_GE(counters.JunkBytesSent, 400u);
}

TEST(KestSimulatorTest, UnplugHangsUpTheLineAndCountsQueuedAnswersAsDropped) {
  TSimConfig config;
  config.LatencyMs = 60000;  // the answers are still queued when the plug is pulled
  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  TFd line(OpenTty(simulator.SlavePath()));
  ASSERT_TRUE(line.Valid());
  ASSERT_TRUE(WriteBytes(line.Get(), {RequestCode, RequestCode, RequestCode}));
  ASSERT_TRUE(WaitFor([&] { return simulator.Counters().RequestsSeen == 3; }));

  ASSERT_TRUE(simulator.Unplug());
  EXPECT_TRUE(SeesHangup(line.Get()));
  EXPECT_FALSE(simulator.IsRunning());
  EXPECT_TRUE(simulator.SlavePath().empty());
  const TSimCounters counters = simulator.Counters();
  EXPECT_EQ(counters.FramesSent, 0u);
  EXPECT_EQ(counters.AnswersDropped, 3u);
  EXPECT_FALSE(simulator.Unplug()) << "a box that is unplugged cannot be unplugged again";
}

TEST(KestSimulatorTest, ReplugPutsANewDeviceBehindTheSameLink) {
  TTempDir dir;
  ASSERT_FALSE(dir.Path.empty());
  TSimConfig config;
  config.LinkPath = (dir.Path / "kest").string();
  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  const std::string first = simulator.SlavePath();
  ASSERT_EQ(fs::read_symlink(config.LinkPath), fs::path(first));
  EXPECT_FALSE(fs::exists(config.LinkPath + ".kestsim-new"));

  TFd before(OpenTty(config.LinkPath));
  ASSERT_TRUE(before.Valid());
  ASSERT_TRUE(WriteBytes(before.Get(), {RequestCode}));
  ASSERT_EQ(ReadBytes(before.Get(), FrameSize).size(), FrameSize);

  ASSERT_TRUE(simulator.Unplug());
  EXPECT_TRUE(SeesHangup(before.Get()));
  // Gone like the node of a pulled adapter, rather than left pointing at a number that the
  // system may hand to someone else's terminal.
  EXPECT_FALSE(fs::exists(fs::symlink_status(config.LinkPath)));
  ASSERT_TRUE(simulator.Replug()) << simulator.LastError();
  ASSERT_TRUE(simulator.IsRunning());
  const std::string second = simulator.SlavePath();
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(fs::read_symlink(config.LinkPath), fs::path(second));

  TFd after(OpenTty(config.LinkPath));
  ASSERT_TRUE(after.Valid());
  ASSERT_TRUE(WriteBytes(after.Get(), {RequestCode}));
  const TBytes frame = ReadBytes(after.Get(), FrameSize);
  EXPECT_EQ(frame, FrameOf(147, VoltsCodeAt(config, 0), WarmTempCode));
  EXPECT_TRUE(SeesHangup(before.Get(), 100)) << "the old descriptor stays dead";
  ASSERT_TRUE(WaitFor([&] { return simulator.Counters().FramesSent == 2; }));
  EXPECT_EQ(simulator.Counters().RequestsSeen, 2u) << "counters go on across the replug";
  EXPECT_FALSE(simulator.Replug()) << "already plugged in";

  simulator.Stop();
  EXPECT_FALSE(fs::exists(fs::symlink_status(config.LinkPath)));
  EXPECT_TRUE(SeesHangup(after.Get()));
}

TEST(KestSimulatorTest, ReplugNeedsAStartedBox) {
  TKestSimulator simulator;
  EXPECT_FALSE(simulator.Unplug());
  EXPECT_FALSE(simulator.Replug());
  EXPECT_FALSE(simulator.LastError().empty());
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  simulator.Stop();
  EXPECT_FALSE(simulator.Replug()) << "a stopped box is not plugged back in";
  simulator.Stop();  // twice is harmless
}

TEST(KestSimulatorTest, LinkReplacesOnlyItsOwnKind) {
  enum class TExisting { Nothing, StaleLink, LinkToAFile, File, Folder };
  struct TCase {
    const char* Name;
    TExisting Existing;
    bool Starts;
  };
  for (const TCase c :
       {TCase{"nothing", TExisting::Nothing, true}, TCase{"stale link", TExisting::StaleLink, true},
        TCase{"link to a file", TExisting::LinkToAFile, true},
        TCase{"file", TExisting::File, false}, TCase{"folder", TExisting::Folder, false}}) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    ASSERT_FALSE(dir.Path.empty());
    const fs::path link = dir.Path / "kest";
    const fs::path userFile = dir.Path / "precious.txt";
    std::ofstream(userFile) << "keep me";
    switch (c.Existing) {
      case TExisting::Nothing:
        break;
      case TExisting::StaleLink:
        fs::create_symlink(dir.Path / "gone", link);
        break;
      case TExisting::LinkToAFile:
        fs::create_symlink(userFile, link);
        break;
      case TExisting::File:
        std::ofstream(link) << "keep me";
        break;
      case TExisting::Folder:
        fs::create_directory(link);
        break;
    }
    TSimConfig config;
    config.LinkPath = link.string();
    TKestSimulator simulator(config);
    ASSERT_EQ(simulator.Start(), c.Starts) << simulator.LastError();
    if (c.Starts) {
      EXPECT_EQ(fs::read_symlink(link), fs::path(simulator.SlavePath()));
      simulator.Stop();
      EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    } else {
      EXPECT_FALSE(simulator.IsRunning());
      EXPECT_NE(simulator.LastError().find(link.string()), std::string::npos);
      if (c.Existing == TExisting::File) {
        std::ifstream in(link);
        std::string text;
        std::getline(in, text);
        EXPECT_EQ(text, "keep me");
      }
      EXPECT_TRUE(fs::exists(link));
    }
    std::ifstream in(userFile);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me") << "a link's target is never touched";
  }
}

TEST(KestSimulatorTest, LinkRepointedBySomeoneElseIsLeftAlone) {
  TTempDir dir;
  ASSERT_FALSE(dir.Path.empty());
  TSimConfig config;
  config.LinkPath = (dir.Path / "kest").string();
  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  // Another simulator (or the user) took the name over meanwhile.
  fs::remove(config.LinkPath);
  fs::create_symlink("/dev/null", config.LinkPath);
  simulator.Stop();
  EXPECT_EQ(fs::read_symlink(config.LinkPath), fs::path("/dev/null"));
}

TEST(KestSimulatorTest, AnswersOnAGivenTerminalDevice) {
  // The far end of another pseudo-terminal plays a serial port with the monitor behind it.
  platform::TPseudoTerminal monitorSide;
  ASSERT_TRUE(monitorSide.Open()) << monitorSide.LastError();
  TSimConfig config;
  config.TtyPath = monitorSide.SlavePath();
  config.ConstantAfr = 123;
  TKestSimulator simulator(config);
  ASSERT_TRUE(simulator.Start()) << simulator.LastError();
  EXPECT_EQ(simulator.SlavePath(), config.TtyPath);

  const std::uint8_t request = RequestCode;
  ASSERT_EQ(monitorSide.Write(&request, 1), 1u);
  TBytes got;
  std::uint8_t buffer[16];
  for (int tries = 0; tries < 50 && got.size() < FrameSize; ++tries) {
    const long n = monitorSide.Read(buffer, sizeof buffer, 100);
    ASSERT_GE(n, 0);
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_EQ(got, FrameOf(123, VoltsCodeAt(config, 0), WarmTempCode));
}

TEST(KestSimulatorTest, StartFailsCleanlyOnSomethingThatIsNotATerminal) {
  TTempDir dir;
  ASSERT_FALSE(dir.Path.empty());
  const fs::path file = dir.Path / "plain";
  std::ofstream(file) << "x";
  for (const fs::path& path : {file, dir.Path / "missing"}) {
    TSimConfig config;
    config.TtyPath = path.string();
    TKestSimulator simulator(config);
    EXPECT_FALSE(simulator.Start()) << path;
    EXPECT_FALSE(simulator.IsRunning());
    EXPECT_TRUE(simulator.SlavePath().empty());
    EXPECT_NE(simulator.LastError().find(path.string()), std::string::npos)
        << simulator.LastError();
  }
}

}  // namespace
}  // namespace sim
