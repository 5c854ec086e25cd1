// The POSIX serial backend over a real pseudo-terminal: the test holds the master side (the far
// end of the line) and maps COM1 to the slave, which the backend opens like any serial device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/PortMap.h"
#include "platform/SerialApi.h"
#include "platform/SerialPosix.h"
#include "platform/TermiosRate.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr const char* Com1 = "\\\\.\\COM1";
constexpr const char* Com2 = "\\\\.\\COM2";
// Only a bound for waiting on the pseudo-terminal's asynchronous hand-over, never a measure.
constexpr auto Patience = std::chrono::seconds(5);

TDcb LineDcb(std::uint32_t rate = 19200) {
  TDcb dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = rate;
  dcb.Flags = DcbFlag::fBinary | DcbFlag::DtrControlEnable | DcbFlag::RtsControlEnable;
  dcb.XonLim = 12;
  dcb.XoffLim = 12;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

class SerialPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&Master, &Slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK), 0);
    SlavePath = ttyname(Slave);
    ASSERT_TRUE(Ports.Map(1, SlavePath));
  }

  void TearDown() override {
    if (Port != InvalidPortHandle) Api.CloseHandle(Port);
    if (Master >= 0) close(Master);
    if (Slave >= 0) close(Slave);
  }

  // Opens COM1 and puts it in the program's line settings (raw 19200 8N1).
  void OpenPort() {
    Port = Api.CreateFile(Com1);
    ASSERT_NE(Port, InvalidPortHandle);
    ASSERT_TRUE(Api.SetCommState(Port, LineDcb()));
  }

  void WriteMaster(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(write(Master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // The queue counts once at least `count` bytes have arrived (the pseudo-terminal hands bytes
  // over in the background), or the last counts seen when they never do.
  TComStat WaitForQueued(std::uint32_t count) {
    TComStat stat;
    const auto deadline = steady_clock::now() + Patience;
    while (steady_clock::now() < deadline) {
      std::uint32_t errors = 0;
      if (!Api.ClearCommError(Port, errors, stat)) break;
      if (stat.cbInQue >= count) break;
      Api.WaitForInput(Port, 10);
    }
    return stat;
  }

  // Reads everything the far end has been sent until the line has been quiet for a moment.
  std::size_t DrainMaster() {
    std::size_t total = 0;
    pollfd ready{Master, POLLIN, 0};
    while (poll(&ready, 1, 100) > 0) {
      std::uint8_t buffer[4096];
      const ssize_t n = read(Master, buffer, sizeof buffer);
      if (n <= 0) break;
      total += static_cast<std::size_t>(n);
    }
    return total;
  }

  std::vector<std::uint8_t> ReadMaster(std::size_t count) {
    std::vector<std::uint8_t> got;
    const auto deadline = steady_clock::now() + Patience;
    while (got.size() < count && steady_clock::now() < deadline) {
      pollfd ready{Master, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      std::uint8_t buffer[4096];
      const ssize_t n = read(Master, buffer, sizeof buffer);
      if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  TPortMap Ports;  // what the backend opens COM n by
  const std::unique_ptr<TSerialApi> Backend = CreateSystemSerialApi(Ports);
  TSerialApi& Api = *Backend;
  int Master = -1;
  int Slave = -1;
  std::string SlavePath;
  TPortHandle Port = InvalidPortHandle;
};

TEST_F(SerialPosix, OpensThroughThePortMapAndCloses) {
  const int descriptorsBefore = OpenDescriptorCount();
  Port = Api.CreateFile(Com1);
  ASSERT_NE(Port, InvalidPortHandle);
  EXPECT_NE(Port, 0);
  EXPECT_EQ(Api.LastOpenError(), TOpenError::None);
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore + 1);

  EXPECT_TRUE(Api.CloseHandle(Port));
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
  EXPECT_FALSE(Api.CloseHandle(Port));  // a handle closes once
  Port = InvalidPortHandle;
}

// Exclusive use is a mode of the terminal, not of our descriptor: left set after the close, it
// would keep refusing other programs while anyone else still holds the terminal. Root opens a
// terminal in exclusive use all the same, so the mode itself is read back from the device.
TEST_F(SerialPosix, ClosingThePortEndsItsExclusiveUse) {
  const auto exclusive = [this] {
    int mode = -1;
    EXPECT_EQ(ioctl(Slave, TIOCGEXCL, &mode), 0);
    return mode;
  };
  ASSERT_EQ(exclusive(), 0);
  OpenPort();
  EXPECT_EQ(exclusive(), 1) << "an open port is held exclusively";
  ASSERT_TRUE(Api.CloseHandle(Port));
  Port = InvalidPortHandle;
  EXPECT_EQ(exclusive(), 0);
}

TEST_F(SerialPosix, AClosedHandleNeverReachesTheDescriptorThatReusesItsNumber) {
  OpenPort();
  const TPortHandle stale = Port;
  ASSERT_TRUE(Api.CloseHandle(Port));
  Port = InvalidPortHandle;

  // The lowest free descriptor is the one the port had: this file most likely gets it.
  char path[] = "/tmp/kest-stale-XXXXXX";
  const int file = mkstemp(path);
  ASSERT_GE(file, 0);
  unlink(path);

  std::uint32_t done = 99;
  const std::uint8_t byte = 'x';
  std::uint8_t buffer[4];
  std::uint32_t errors = 0;
  TComStat stat;
  EXPECT_FALSE(Api.WriteFile(stale, &byte, 1, done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(Api.ReadFile(stale, buffer, sizeof buffer, done));
  EXPECT_FALSE(Api.SetCommState(stale, LineDcb()));
  EXPECT_FALSE(Api.PurgeComm(stale, PURGE_RXCLEAR | PURGE_TXCLEAR));
  EXPECT_FALSE(Api.ClearCommError(stale, errors, stat));
  EXPECT_FALSE(Api.SetupComm(stale, 50, 2048));
  EXPECT_FALSE(Api.SetCommTimeouts(stale, TCommTimeouts{1, 0, 1, 0, 1}));
  EXPECT_FALSE(Api.CloseHandle(stale));

  struct stat info {};
  ASSERT_EQ(fstat(file, &info), 0);
  EXPECT_EQ(info.st_size, 0);           // nothing was written into the file
  EXPECT_NE(fcntl(file, F_GETFD), -1);  // and it is still open
  close(file);
}

TEST_F(SerialPosix, APortHeldElsewhereIsRefusedAndHoldsNothing) {
  struct TInUseCase {
    const char* Name;
    bool HeldByBackend;  // else by another program's lock on its own open of the device
  };
  const TInUseCase cases[] = {{"second open by this program", true},
                              {"locked by another program", false}};
  for (const TInUseCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TPortHandle holder = InvalidPortHandle;
    if (c.HeldByBackend) {
      holder = Api.CreateFile(Com1);
      ASSERT_NE(holder, InvalidPortHandle);
    } else {
      ASSERT_EQ(flock(Slave, LOCK_EX | LOCK_NB), 0);
    }

    const int descriptorsBefore = OpenDescriptorCount();
    EXPECT_EQ(Api.CreateFile(Com1), InvalidPortHandle);
    EXPECT_EQ(Api.LastOpenError(), TOpenError::InUse);
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);

    if (c.HeldByBackend) {
      ASSERT_TRUE(Api.CloseHandle(holder));
    } else {
      ASSERT_EQ(flock(Slave, LOCK_UN), 0);
    }
    // Released: the port opens again, so the refused attempt left no lock or mode behind.
    const TPortHandle again = Api.CreateFile(Com1);
    EXPECT_NE(again, InvalidPortHandle);
    EXPECT_EQ(Api.LastOpenError(), TOpenError::None);
    if (again != InvalidPortHandle) Api.CloseHandle(again);
  }
}

TEST_F(SerialPosix, PathsThatAreNoSerialLineAreRefusedWithTheirReason) {
  char file[] = "/tmp/kest-plain-XXXXXX";
  const int fileFd = mkstemp(file);
  ASSERT_GE(fileFd, 0);
  close(fileFd);
  char directory[] = "/tmp/kest-dir-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);

  const std::pair<std::string, TOpenError> cases[] = {
      {file, TOpenError::NotATerminal},
      {"/dev/null", TOpenError::NotATerminal},
      {directory, TOpenError::NotATerminal},
      {std::string(directory) + "/absent", TOpenError::NotFound},
      {"/dev/kest-no-such-tty", TOpenError::NotFound},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(Ports.Map(2, path));
    const int descriptorsBefore = OpenDescriptorCount();
    EXPECT_EQ(Api.CreateFile(Com2), InvalidPortHandle);
    EXPECT_EQ(Api.LastOpenError(), reason);
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
  }
  unlink(file);
  rmdir(directory);

  // A later success clears the reason.
  Port = Api.CreateFile(Com1);
  ASSERT_NE(Port, InvalidPortHandle);
  EXPECT_EQ(Api.LastOpenError(), TOpenError::None);
}

TEST_F(SerialPosix, ADeviceTheUserMayNotOpenIsPermissionDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens every device";
  ASSERT_EQ(fchmod(Slave, 0), 0);
  EXPECT_EQ(Api.CreateFile(Com1), InvalidPortHandle);
  EXPECT_EQ(Api.LastOpenError(), TOpenError::PermissionDenied);
}

TEST_F(SerialPosix, EveryByteValuePassesUnchangedBothWays) {
  OpenPort();
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);

  WriteMaster(all);
  ASSERT_EQ(WaitForQueued(256).cbInQue, 256u);
  std::vector<std::uint8_t> received(300, 0xAA);
  std::uint32_t done = 0;
  ASSERT_TRUE(Api.ReadFile(Port, received.data(), 256, done));
  ASSERT_EQ(done, 256u);
  received.resize(done);
  EXPECT_EQ(received, all);

  ASSERT_TRUE(Api.WriteFile(Port, all.data(), 256, done));
  EXPECT_EQ(done, 256u);
  EXPECT_EQ(ReadMaster(256), all);  // nothing added (no CR before LF), nothing echoed
}

TEST_F(SerialPosix, ReadingAnEmptyQueueIsZeroDoneNotAFailure) {
  OpenPort();
  std::uint8_t buffer[8];
  std::uint32_t done = 99;
  EXPECT_TRUE(Api.ReadFile(Port, buffer, sizeof buffer, done));
  EXPECT_EQ(done, 0u);
}

TEST_F(SerialPosix, QueueCountsFollowWhatArrivesAndIsRead) {
  OpenPort();
  WriteMaster({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  TComStat stat = WaitForQueued(10);
  EXPECT_EQ(stat.cbInQue, 10u);
  EXPECT_EQ(stat.cbOutQue, 0u);  // a pseudo-terminal hands every written byte straight over

  std::uint8_t buffer[4];
  std::uint32_t done = 0;
  ASSERT_TRUE(Api.ReadFile(Port, buffer, sizeof buffer, done));
  ASSERT_EQ(done, 4u);
  std::uint32_t errors = 99;
  ASSERT_TRUE(Api.ClearCommError(Port, errors, stat));
  EXPECT_EQ(stat.cbInQue, 6u);
  EXPECT_EQ(errors, 0u);
}

TEST_F(SerialPosix, AFullTransmitQueueWritesNothingAndIsWaitedOn) {
  OpenPort();
  // The far end reads nothing, so the line fills up.
  std::vector<std::uint8_t> chunk(4096, 'U');
  std::uint32_t done = 1;
  const auto fill = [&] {
    for (int i = 0; i < 1000; ++i) {
      if (!Api.WriteFile(Port, chunk.data(), static_cast<std::uint32_t>(chunk.size()), done)) {
        return false;
      }
      if (done == 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(fill());
  // The system hands written bytes on to the far end's line discipline in the background, so a
  // queue that has just refused a write may find room a moment later (seen on slow, sanitized
  // builds). Full means a write still takes nothing after such a pause.
  bool settled = false;
  for (int round = 0; round < 50 && !settled; ++round) {
    std::this_thread::sleep_for(milliseconds(20));
    ASSERT_TRUE(Api.WriteFile(Port, chunk.data(), static_cast<std::uint32_t>(chunk.size()), done));
    settled = done == 0;
    if (!settled) {
      ASSERT_TRUE(fill());
    }
  }
  ASSERT_TRUE(settled);

  const auto before = steady_clock::now();
  Api.WaitForOutputSpace(Port, 100);
  EXPECT_GE(steady_clock::now() - before, milliseconds(90));  // it waited, it did not spin

  // Once the far end reads, there is room again and the wait ends early.
  ASSERT_GT(DrainMaster(), 0u);
  const auto drained = steady_clock::now();
  Api.WaitForOutputSpace(Port, 60000);
  EXPECT_LT(steady_clock::now() - drained, Patience);
  ASSERT_TRUE(Api.WriteFile(Port, chunk.data(), 16, done));
  EXPECT_EQ(done, 16u);
}

TEST_F(SerialPosix, PurgeDiscardsTheInputOnlyWhenAskedTo) {
  struct TPurgeCase {
    const char* Name;
    std::uint32_t Flags;
    bool InputKept;
  };
  const TPurgeCase cases[] = {
      {"nothing", 0, true},
      {"transmit side", PURGE_TXABORT | PURGE_TXCLEAR, true},
      {"receive side", PURGE_RXABORT | PURGE_RXCLEAR, false},
      {"both sides", 0xF, false},
      {"receive clear alone", PURGE_RXCLEAR, false},
      // Abort cancels pending transfers on Win32 and leaves the queue; there are none to cancel.
      {"receive abort alone", PURGE_RXABORT, true},
  };
  OpenPort();
  for (const TPurgeCase& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteMaster({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
    ASSERT_EQ(WaitForQueued(8).cbInQue, 8u);
    EXPECT_TRUE(Api.PurgeComm(Port, c.Flags));
    std::uint32_t errors = 0;
    TComStat stat;
    ASSERT_TRUE(Api.ClearCommError(Port, errors, stat));
    EXPECT_EQ(stat.cbInQue, c.InputKept ? 8u : 0u);
    ASSERT_TRUE(Api.PurgeComm(Port, PURGE_RXCLEAR));
  }
}

TEST_F(SerialPosix, EveryRateAndRawModeReachTheDevice) {
  Port = Api.CreateFile(Com1);
  ASSERT_NE(Port, InvalidPortHandle);
  const std::uint32_t rates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                 14400, 19200, 38400, 56000, 57600, 115200};
  for (std::uint32_t rate : rates) {
    SCOPED_TRACE(rate);
    // The modem lines a pseudo-terminal lacks do not make the settings fail.
    ASSERT_TRUE(Api.SetCommState(Port, LineDcb(rate)));
    termios t{};
    ASSERT_EQ(tcgetattr(Slave, &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
    EXPECT_EQ(ArbitraryRateOf(Slave), rate);
  }
}

TEST_F(SerialPosix, XonXoffAndItsCharactersReachTheDevice) {
  Port = Api.CreateFile(Com1);
  ASSERT_NE(Port, InvalidPortHandle);
  TDcb dcb = LineDcb();
  dcb.Flags |= DcbFlag::fOutX | DcbFlag::fInX;
  dcb.XonChar = 'Q';
  dcb.XoffChar = 'S';
  ASSERT_TRUE(Api.SetCommState(Port, dcb));
  termios t{};
  ASSERT_EQ(tcgetattr(Slave, &t), 0);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_cc[VSTART], 'Q');
  EXPECT_EQ(t.c_cc[VSTOP], 'S');
}

TEST_F(SerialPosix, RefusedLineSettingsLeaveTheLineAsItWas) {
  OpenPort();
  TDcb bad = LineDcb(0);
  EXPECT_FALSE(Api.SetCommState(Port, bad));
  bad = LineDcb(9600);
  bad.ByteSize = 9;
  EXPECT_FALSE(Api.SetCommState(Port, bad));
  EXPECT_EQ(ArbitraryRateOf(Slave), 19200u);
}

TEST_F(SerialPosix, AHungUpDeviceFailsItsQueriesAndIsWaitedOutWithoutSpinning) {
  OpenPort();
  close(Master);  // the far end goes away, as an unplugged adapter does
  Master = -1;

  std::uint32_t errors = 77;
  TComStat stat;
  stat.cbInQue = 77;
  stat.cbOutQue = 77;
  EXPECT_FALSE(Api.ClearCommError(Port, errors, stat));
  EXPECT_EQ(stat.cbInQue, 77u);  // counts untouched on failure
  EXPECT_EQ(stat.cbOutQue, 77u);
  EXPECT_EQ(errors, 77u);
  std::uint8_t buffer[8];
  std::uint32_t done = 99;
  EXPECT_FALSE(Api.ReadFile(Port, buffer, sizeof buffer, done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(Api.WriteFile(Port, buffer, sizeof buffer, done));
  EXPECT_EQ(done, 0u);

  // Each wait takes its whole time instead of returning at once on the hang-up.
  for (auto wait : {&TSerialApi::WaitForInput, &TSerialApi::WaitForOutputSpace}) {
    const auto before = steady_clock::now();
    (Api.*wait)(Port, 20);
    EXPECT_GE(steady_clock::now() - before, milliseconds(20));
  }

  // A read loop as the driver runs it: query, and wait for the rest of the time-out while nothing
  // is queued. It must end by its time-out, each pass waiting rather than spinning (what that
  // costs in CPU, kest-wait-bench measures).
  constexpr std::uint32_t TimeoutMs = 1000;
  constexpr std::uint32_t WaitMs = 50;
  const std::uint32_t start = Api.GetTickCount();
  int passes = 0;
  while (Api.GetTickCount() - start <= TimeoutMs) {
    ++passes;
    if (Api.ClearCommError(Port, errors, stat) && stat.cbInQue > 0) break;
    Api.WaitForInput(Port, WaitMs);
  }
  EXPECT_LE(passes, static_cast<int>(TimeoutMs / WaitMs) + 2);
}

// Some adapters' drivers go on answering the queue queries after the device has hung up. The
// backend must count such a device as gone all the same, or the driver would poll a dead port
// for ever instead of closing it and waiting for the adapter to come back.
TEST_F(SerialPosix, AHungUpDeviceWhoseQueriesStillAnswerCountsAsGone) {
  const std::unique_ptr<TSerialApi> api =
      CreatePosixSerialApi(Ports, [](int, int& queuedIn, int& queuedOut) {
        queuedIn = 3;
        queuedOut = 0;
        return true;
      });
  const TPortHandle port = api->CreateFile(Com1);
  ASSERT_NE(port, InvalidPortHandle);
  ASSERT_TRUE(api->SetCommState(port, LineDcb()));
  std::uint32_t errors = 0;
  TComStat stat;
  ASSERT_TRUE(api->ClearCommError(port, errors, stat)) << "the device is still there";
  EXPECT_EQ(stat.cbInQue, 3u) << "the counts come from the query";

  close(Master);  // the far end goes away, as an unplugged adapter does
  Master = -1;
  stat.cbInQue = 77;
  EXPECT_FALSE(api->ClearCommError(port, errors, stat));
  EXPECT_EQ(stat.cbInQue, 77u);
  EXPECT_TRUE(api->CloseHandle(port));
}

// A wait for input that nothing ends takes its time rather than returning at once (how closely it
// keeps to that time, kest-wait-bench measures).
TEST_F(SerialPosix, AWaitForInputOnAnIdlePortEndsAfterItsTime) {
  OpenPort();
  const auto before = steady_clock::now();
  Api.WaitForInput(Port, 100);
  EXPECT_GE(steady_clock::now() - before, milliseconds(90));
}

TEST_F(SerialPosix, TheTickCountIsMillisecondsOfTheMonotonicClock) {
  timespec now{};
  ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &now), 0);
  const auto reference =
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                                 static_cast<std::uint64_t>(now.tv_nsec) / 1000000);
  const std::uint32_t tick = Api.GetTickCount();
  // Read one after the other: the difference is a few ms at most, in 32-bit wrap-around arithmetic.
  EXPECT_LT(tick - reference, 1000u);
}

TEST_F(SerialPosix, TheVersionAnswersOnlyToTheRightRecordSize) {
  for (std::uint32_t size : {0u, 147u, 149u, 156u, 276u}) {
    SCOPED_TRACE(size);
    TOsVersionInfo info;
    info.dwOSVersionInfoSize = size;
    EXPECT_FALSE(Api.GetVersionEx(info));
  }
  TOsVersionInfo info;
  info.dwOSVersionInfoSize = OsVersionInfoSize;
  info.szCSDVersion[0] = 'x';
  ASSERT_TRUE(Api.GetVersionEx(info));
  EXPECT_EQ(info.dwPlatformId, 2u);
  EXPECT_EQ(info.dwMajorVersion, 10u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.szCSDVersion[0], '\0');
}

}  // namespace
}  // namespace platform
