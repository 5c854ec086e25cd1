// The pseudo-terminal under the simulator: raw in both directions, quiet while nobody listens, and
// a hang-up for the peer when it closes.
#include <gtest/gtest.h>

#include <vector>

#include "platform/PseudoTerminal.h"
#include "tests/sim/TtyHelpers.h"

namespace platform {
namespace {

using simtest::OpenTty;
using simtest::ReadBytes;
using simtest::SeesHangup;
using simtest::TFd;
using simtest::WriteBytes;

std::vector<std::uint8_t> ReadFromMaster(TPseudoTerminal& pty, std::size_t count) {
  std::vector<std::uint8_t> got;
  std::uint8_t buffer[512];
  for (int tries = 0; tries < 50 && got.size() < count; ++tries) {
    const long n = pty.Read(buffer, std::min(sizeof buffer, count - got.size()), 100);
    if (n < 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

TEST(PseudoTerminalTest, EveryByteValuePassesUnchangedBothWaysWithoutEcho) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Open()) << pty.LastError();
  TFd peer(OpenTty(pty.SlavePath()));
  ASSERT_TRUE(peer.Valid());

  std::vector<std::uint8_t> all;
  for (int value = 0; value < 256; ++value) all.push_back(static_cast<std::uint8_t>(value));
  // Control characters (CR, ^C, ^D, XON/XOFF, 0xFF) are where a cooked line would interfere.
  ASSERT_EQ(pty.Write(all.data(), all.size()), all.size());
  EXPECT_EQ(ReadBytes(peer.Get(), all.size()), all);

  ASSERT_TRUE(WriteBytes(peer.Get(), all));
  // An echo of what the master wrote would arrive ahead of the peer's bytes.
  EXPECT_EQ(ReadFromMaster(pty, all.size()), all);
}

TEST(PseudoTerminalTest, ReadTimesOutQuietlyWhetherOrNotAPeerIsThere) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Open()) << pty.LastError();
  std::uint8_t buffer[8];
  EXPECT_EQ(pty.Read(buffer, sizeof buffer, 5), 0) << "nobody opened the slave yet";
  {
    TFd peer(OpenTty(pty.SlavePath()));
    ASSERT_TRUE(peer.Valid());
    EXPECT_EQ(pty.Read(buffer, sizeof buffer, 5), 0);
  }
  // The monitor closed its port: still a quiet line, not an error that would end the simulator.
  EXPECT_EQ(pty.Read(buffer, sizeof buffer, 5), 0);
  const std::uint8_t byte = 7;
  EXPECT_EQ(pty.Write(&byte, 1), 1u) << "bytes for a monitor that is away are not an error";

  TFd again(OpenTty(pty.SlavePath()));
  ASSERT_TRUE(again.Valid());
  ASSERT_TRUE(WriteBytes(again.Get(), {42}));
  EXPECT_EQ(ReadFromMaster(pty, 1), std::vector<std::uint8_t>{42});
}

TEST(PseudoTerminalTest, CloseHangsUpThePeerAndEndsReadsAndWrites) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Open()) << pty.LastError();
  const std::string path = pty.SlavePath();
  TFd peer(OpenTty(path));
  ASSERT_TRUE(peer.Valid());

  pty.Close();
  EXPECT_FALSE(pty.IsOpen());
  EXPECT_TRUE(pty.SlavePath().empty());
  EXPECT_TRUE(SeesHangup(peer.Get()));
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(pty.Read(buffer, sizeof buffer, 5), -1);
  EXPECT_EQ(pty.Write(buffer, sizeof buffer), 0u);
  pty.Close();  // twice is harmless
}

TEST(PseudoTerminalTest, WriteGivesUpOnAPeerThatStopsReading) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Open()) << pty.LastError();
  TFd peer(OpenTty(pty.SlavePath()));
  ASSERT_TRUE(peer.Valid());
  // Far more than any terminal queue holds; the peer never reads.
  const std::vector<std::uint8_t> flood(1 << 20, 0x55);
  const std::size_t sent = pty.Write(flood.data(), flood.size(), 50);
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, flood.size());
}

TEST(PseudoTerminalTest, OpenExistingRefusesWhatIsNotATerminal) {
  TPseudoTerminal pty;
  EXPECT_FALSE(pty.OpenExisting("/dev/null"));
  EXPECT_FALSE(pty.IsOpen());
  EXPECT_NE(pty.LastError().find("/dev/null"), std::string::npos);
  EXPECT_FALSE(pty.OpenExisting("/nonexistent/tty"));
  EXPECT_FALSE(pty.LastError().empty());
}

}  // namespace
}  // namespace platform
