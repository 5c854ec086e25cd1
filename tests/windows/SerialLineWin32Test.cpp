// The driver over the Win32 backend on a real communications port: COM n with the simulated
// controller at its far end (under Wine, a pseudo-terminal mapped as COM1 by scripts/ci-wine.sh).
// Frames come through poll ticks of the real hidden window and a message loop, through ReadBytes
// and WriteBytes, and the line settings are read back from the system.
//
// Where Wine or a pseudo-terminal cannot keep what a real port keeps, the case says so and leaves
// that part out; nothing here depends on how fast the line is, only on what comes across it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/SerialApi.h"
#include "sensor/Monitoring.h"
#include "sensor/SensorFrame.h"
#include "serial/SerialPortDriver.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

using kesttest::TTestLine;
using platform::TOpenError;
using platform::TPortHandle;

constexpr std::size_t FrameSize = 5;
// A generous guard on every wait for the line: the simulator answers within milliseconds.
constexpr std::uint32_t LineGuardMs = 10000;

HANDLE HandleOf(TPortHandle port) { return reinterpret_cast<HANDLE>(port); }

// The frames in `bytes`, which must be whole frames back to back.
std::vector<sensor::SensorFrame> FramesOf(const std::uint8_t* bytes, std::size_t size) {
  std::vector<sensor::SensorFrame> frames;
  for (std::size_t at = 0; at + FrameSize <= size; at += FrameSize) {
    frames.push_back({bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3], bytes[at + 4]});
  }
  return frames;
}

void ExpectSimulatorFrame(const sensor::SensorFrame& frame, const TTestLine& line) {
  EXPECT_EQ(frame.SyncByte, sensor::SyncValue);
  EXPECT_EQ(frame.AfrByte, line.Afr);
  EXPECT_EQ(frame.CheckByte, sensor::ExpectedCheckByte(frame)) << "a frame was garbled";
}

// Waits, without dispatching messages, until at least `count` bytes are queued.
bool WaitForQueued(TSerialPortDriver& driver, std::uint32_t count) {
  const DWORD start = ::GetTickCount();
  while (driver.InputQueueCount() < count) {
    if (::GetTickCount() - start > LineGuardMs) return false;
    ::Sleep(1);
  }
  return true;
}

class SerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::optional<TTestLine> line = kesttest::AttachedLine();
    if (HasFailure()) return;
    if (!line) {
      GTEST_SKIP()
          << "no line attached (KEST_TEST_COM_PORT unset); scripts/ci-wine.sh attaches one";
    }
    Line = *line;
  }
  TTestLine Line;
};

TEST_F(SerialLineTest, FramesArriveThroughPollTicksOfTheHiddenWindow) {
  TSerialPortDriver driver;
  kesttest::ConfigureAsTheMonitorDoes(driver, Line.Port);
  TDriverByteReader reader(driver);

  // The window's receive step: ask for the next frame, hold polling, read it, release.
  sensor::SensorFrame current, lastGood;
  double supplyVolts = 0;
  bool warmingUp = false;
  std::vector<sensor::SensorFrame> frames;
  int calls = 0, depth = 0, deepest = 0, checkFailures = 0;
  std::uint32_t largestHandOver = 0;
  driver.SetOnReceiveData([&](TSerialPortDriver* sender, const void*, std::uint32_t size) {
    ++calls;
    deepest = std::max(deepest, ++depth);
    EXPECT_EQ(sender, &driver);
    largestHandOver = std::max(largestHandOver, size);
    driver.WriteByte(sensor::RequestByte);
    driver.HoldPolling();
    const sensor::TFrameReceipt receipt =
        sensor::ReceiveFrame(reader, current, lastGood, supplyVolts, warmingUp);
    driver.ReleasePolling();
    if (receipt.FrameFound) frames.push_back(current);
    if (receipt.FrameFound && !receipt.CheckHeld) ++checkFailures;
    --depth;
  });
  ASSERT_TRUE(driver.OpenPort());

  // The sample tick of the window, as a thread timer of this loop: it asks again whenever the
  // chain of requests from the receive step has ended.
  const UINT_PTR sampleTick = ::SetTimer(nullptr, 0, sensor::FastSampleIntervalMs, nullptr);
  ASSERT_NE(sampleTick, 0u);
  ASSERT_TRUE(driver.WriteByte(sensor::RequestByte));
  constexpr std::size_t Wanted = 8;
  const bool enough = kesttest::PumpMessagesUntil(
      [&] { return frames.size() >= Wanted; }, LineGuardMs,
      [&](const MSG& message) {
        if (message.message == WM_TIMER && message.wParam == sampleTick) {
          driver.WriteByte(sensor::RequestByte);
        }
      });
  ::KillTimer(nullptr, sampleTick);
  driver.ClosePort();

  ASSERT_TRUE(enough) << "only " << frames.size() << " frames in " << calls << " receive calls";
  for (const sensor::SensorFrame& frame : frames) ExpectSimulatorFrame(frame, Line);
  EXPECT_EQ(checkFailures, 0);
  EXPECT_EQ(deepest, 1) << "a poll tick ran inside the receive step";
  EXPECT_LE(largestHandOver, driver.ComPortInBufSize());
  EXPECT_EQ(driver.PollHolds(), 0);
  EXPECT_EQ(supplyVolts, sensor::SupplyVoltsOf(frames.back().VoltsByte));
}

TEST_F(SerialLineTest, ReadBytesTakesTheAnswersToWriteBytesAcrossACloseAndReopen) {
  TSerialPortDriver driver;
  kesttest::ConfigureAsTheMonitorDoes(driver, Line.Port);
  // No message is dispatched here, so no poll tick takes bytes from the queue.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "first open" : "after close and reopen");
    ASSERT_TRUE(driver.OpenPort());
    // The first round left an answer unread when it closed; opening discards it.
    EXPECT_EQ(driver.InputQueueCount(), 0u);

    const std::array<std::uint8_t, 3> requests = {sensor::RequestByte, sensor::RequestByte,
                                                  sensor::RequestByte};
    EXPECT_EQ(driver.WriteBytes(requests.data(), requests.size()), requests.size());
    std::array<std::uint8_t, 3 * FrameSize> answer{};
    ASSERT_EQ(driver.ReadBytes(answer.data(), answer.size()), answer.size());
    for (const sensor::SensorFrame& frame : FramesOf(answer.data(), answer.size())) {
      ExpectSimulatorFrame(frame, Line);
    }

    // Nothing more was asked for: the read times out, keeps its target and balances its hold.
    std::uint8_t target = 0xA5;
    EXPECT_FALSE(driver.ReadByte(target));
    EXPECT_EQ(target, 0xA5);
    EXPECT_EQ(driver.PollHolds(), 0);

    ASSERT_TRUE(driver.WriteByte(sensor::RequestByte));
    ASSERT_TRUE(WaitForQueued(driver, FrameSize));
    driver.ClosePort();
    EXPECT_FALSE(driver.IsOpen());
  }
}

// Wine makes the device's receive queue as large as it likes whatever SetupComm asked for, and so
// may a Windows driver: a tick that finds more than its buffer holds takes one buffer full and
// leaves the rest for the next ticks, in order and without a byte lost.
TEST_F(SerialLineTest, TicksTakeALongQueueOneBufferFullAtATime) {
  TSerialPortDriver driver;
  kesttest::ConfigureAsTheMonitorDoes(driver, Line.Port);
  constexpr std::uint16_t Buffer = 8;
  driver.SetComPortInBufSize(Buffer);
  std::vector<std::uint8_t> received;
  std::vector<std::uint32_t> handOvers;
  driver.SetOnReceiveData([&](TSerialPortDriver*, const void* data, std::uint32_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    received.insert(received.end(), bytes, bytes + size);
    handOvers.push_back(size);
  });
  ASSERT_TRUE(driver.OpenPort());

  constexpr std::size_t Frames = 8;
  const std::vector<std::uint8_t> requests(Frames, sensor::RequestByte);
  ASSERT_EQ(driver.WriteBytes(requests.data(), Frames), Frames);
  // All answers queued before the first tick is dispatched, so the first tick meets a queue five
  // times its buffer.
  ASSERT_TRUE(WaitForQueued(driver, Frames * FrameSize));
  const bool all = kesttest::PumpMessagesUntil(
      [&] { return received.size() >= Frames * FrameSize; }, LineGuardMs);
  driver.ClosePort();

  ASSERT_TRUE(all) << received.size() << " of " << Frames * FrameSize << " bytes arrived";
  EXPECT_EQ(received.size(), Frames * FrameSize);
  ASSERT_FALSE(handOvers.empty());
  EXPECT_EQ(handOvers.front(), Buffer);
  for (std::uint32_t size : handOvers) EXPECT_LE(size, Buffer);
  for (const sensor::SensorFrame& frame : FramesOf(received.data(), received.size())) {
    ExpectSimulatorFrame(frame, Line);
  }
}

// What becomes of an answer that has arrived but was not read yet.
struct TDiscardCase {
  const char* Name;
  std::function<void(TSerialPortDriver&)> Act;
  bool Kept;
};

void PrintTo(const TDiscardCase& c, std::ostream* out) { *out << c.Name; }

class DiscardTest : public SerialLineTest, public ::testing::WithParamInterface<TDiscardCase> {};

TEST_P(DiscardTest, WhatHasArrivedIsDiscardedOnlyWhenAskedFor) {
  TSerialPortDriver driver;
  kesttest::ConfigureAsTheMonitorDoes(driver, Line.Port);
  ASSERT_TRUE(driver.OpenPort());
  ASSERT_TRUE(driver.WriteByte(sensor::RequestByte));
  ASSERT_TRUE(WaitForQueued(driver, FrameSize));

  GetParam().Act(driver);

  std::array<std::uint8_t, FrameSize> frame{};
  if (GetParam().Kept) {
    EXPECT_EQ(driver.InputQueueCount(), FrameSize);
    ASSERT_EQ(driver.ReadBytes(frame.data(), frame.size()), FrameSize);
    ExpectSimulatorFrame(FramesOf(frame.data(), frame.size()).front(), Line);
  } else {
    EXPECT_EQ(driver.InputQueueCount(), 0u);
    EXPECT_EQ(driver.ReadBytes(frame.data(), frame.size()), 0u);
  }
  driver.ClosePort();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, DiscardTest,
    testing::Values(
        TDiscardCase{"PurgeOfTheReceiveSide", [](TSerialPortDriver& d) { d.Purge(true, false); },
                     false},
        TDiscardCase{"PurgeOfBothSides", [](TSerialPortDriver& d) { d.Purge(true, true); }, false},
        TDiscardCase{"PurgeOfTheTransmitSide", [](TSerialPortDriver& d) { d.Purge(false, true); },
                     true},
        TDiscardCase{"PurgeOfNeither", [](TSerialPortDriver& d) { d.Purge(false, false); }, true},
        TDiscardCase{"ANewSpeedWhileOpen",
                     [](TSerialPortDriver& d) { d.SetComPortSpeed(TComPortBaudRate::br19200); },
                     false},
        TDiscardCase{"AQueueQuery", [](TSerialPortDriver& d) { d.OutputFreeSpace(); }, true}),
    [](const testing::TestParamInfo<TDiscardCase>& info) { return info.param.Name; });

// --- Line settings read back from the system. ---

// Which parts of a DCB the line under test can keep. A Linux pseudo-terminal always runs 8 data
// bits without parity (so 1.5 stop bits, which need 5 data bits, read back as 2) and has no modem
// lines: Wine then reports DTR and RTS as raised whatever was asked. Wine keeps no XON/XOFF
// thresholds and reports fixed ones of its own.
struct TKept {
  bool CharacterFormat = true;
  bool ModemLines = true;
  bool Thresholds = true;
};

TKept KeptBy(const TTestLine& line) {
  TKept kept;
  kept.CharacterFormat = !line.IsPseudoTerminal;
  kept.ModemLines = !line.IsPseudoTerminal;
  kept.Thresholds = !kesttest::RunningUnderWine();
  return kept;
}

// Writes the driver's DCB through the backend and compares what the system reads back.
void ExpectRoundTrip(const TTestLine& line, const platform::TDcb& written) {
  platform::TSerialApi& api = platform::SystemSerialApi();
  const TPortHandle port = api.CreateFile(ComPortDeviceName(line.Port));
  ASSERT_NE(port, platform::InvalidPortHandle);
  EXPECT_TRUE(api.SetCommState(port, written));
  DCB back{};
  back.DCBlength = sizeof back;
  const bool read = ::GetCommState(HandleOf(port), &back) != FALSE;
  api.CloseHandle(port);
  ASSERT_TRUE(read);

  // The DCB's flags are bit-fields, copied out before they are compared.
  const auto bit = [](DWORD field) { return static_cast<std::uint32_t>(field); };
  const auto flag = [&](std::uint32_t mask) { return (written.Flags & mask) != 0 ? 1u : 0u; };
  namespace Flag = platform::DcbFlag;
  EXPECT_EQ(back.BaudRate, written.BaudRate);
  EXPECT_EQ(bit(back.fBinary), flag(Flag::fBinary));
  EXPECT_EQ(bit(back.fParity), flag(Flag::fParity));
  EXPECT_EQ(bit(back.fOutxCtsFlow), flag(Flag::fOutxCtsFlow));
  EXPECT_EQ(bit(back.fOutxDsrFlow), flag(Flag::fOutxDsrFlow));
  EXPECT_EQ(bit(back.fOutX), flag(Flag::fOutX));
  EXPECT_EQ(bit(back.fInX), flag(Flag::fInX));
  EXPECT_EQ(back.XonChar, written.XonChar);
  EXPECT_EQ(back.XoffChar, written.XoffChar);

  const TKept kept = KeptBy(line);
  if (kept.CharacterFormat) {
    EXPECT_EQ(back.ByteSize, written.ByteSize);
    EXPECT_EQ(back.Parity, written.Parity);
  }
  if (kept.CharacterFormat || written.StopBits != ONE5STOPBITS) {
    EXPECT_EQ(back.StopBits, written.StopBits);
  }
  if (kept.ModemLines) {
    EXPECT_EQ(bit(back.fDtrControl), (written.Flags >> 4) & 0x3u);
    EXPECT_EQ(bit(back.fRtsControl), (written.Flags >> 12) & 0x3u);
  }
  if (kept.Thresholds) {
    EXPECT_EQ(back.XonLim, written.XonLim);
    EXPECT_EQ(back.XoffLim, written.XoffLim);
  }
}

// Puts the line back to the monitor's settings, so that no case leaves XON/XOFF or handshaking
// on for the cases after it.
void RestoreTheMonitorsSettings(const TTestLine& line) {
  TSerialPortDriver driver;
  kesttest::ConfigureAsTheMonitorDoes(driver, line.Port);
  ASSERT_TRUE(driver.OpenPort());
  driver.ClosePort();
}

struct TLineSettingsCase {
  const char* Name;
  TComPortBaudRate Speed;
  TComPortDataBits DataBits;
  TComPortStopBits StopBits;
  TComPortParity Parity;
  TComPortHwHandshaking Hardware;
  TComPortSwHandshaking Software;
  bool Dtr;
};

void PrintTo(const TLineSettingsCase& c, std::ostream* out) { *out << c.Name; }

class LineSettingsTest : public SerialLineTest,
                         public ::testing::WithParamInterface<TLineSettingsCase> {
 protected:
  void TearDown() override {
    if (!IsSkipped()) RestoreTheMonitorsSettings(Line);
  }
};

TEST_P(LineSettingsTest, WhatTheDriverWritesIsWhatTheSystemReadsBack) {
  const TLineSettingsCase& c = GetParam();
  TSerialPortDriver driver;
  driver.SetComPort(Line.Port);
  driver.SetComPortSpeed(c.Speed);
  driver.SetComPortDataBits(c.DataBits);
  driver.SetComPortStopBits(c.StopBits);
  driver.SetComPortParity(c.Parity);
  driver.SetComPortHwHandshaking(c.Hardware);
  driver.SetComPortSwHandshaking(c.Software);
  driver.SetEnableDTROnOpen(c.Dtr);
  driver.SetComPortInBufSize(50);
  ExpectRoundTrip(Line, driver.BuildDcb());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LineSettingsTest,
    testing::Values(
        TLineSettingsCase{"TheMonitors", TComPortBaudRate::br19200, TComPortDataBits::db8BITS,
                          TComPortStopBits::sb1BITS, TComPortParity::ptNONE,
                          TComPortHwHandshaking::hhNONERTSON, TComPortSwHandshaking::shNONE, true},
        TLineSettingsCase{"SevenEvenTwoWithRtsCts", TComPortBaudRate::br9600,
                          TComPortDataBits::db7BITS, TComPortStopBits::sb2BITS,
                          TComPortParity::ptEVEN, TComPortHwHandshaking::hhRTSCTS,
                          TComPortSwHandshaking::shNONE, true},
        TLineSettingsCase{"EightOddOneWithXonXoffNoModemLines", TComPortBaudRate::br115200,
                          TComPortDataBits::db8BITS, TComPortStopBits::sb1BITS,
                          TComPortParity::ptODD, TComPortHwHandshaking::hhNONE,
                          TComPortSwHandshaking::shXONXOFF, false},
        TLineSettingsCase{"FiveMarkOneAndAHalf", TComPortBaudRate::br1200,
                          TComPortDataBits::db5BITS, TComPortStopBits::sb1HALFBITS,
                          TComPortParity::ptMARK, TComPortHwHandshaking::hhNONERTSON,
                          TComPortSwHandshaking::shNONE, false},
        TLineSettingsCase{"SixSpaceTwo", TComPortBaudRate::br57600, TComPortDataBits::db6BITS,
                          TComPortStopBits::sb2BITS, TComPortParity::ptSPACE,
                          TComPortHwHandshaking::hhNONE, TComPortSwHandshaking::shNONE, true}),
    [](const testing::TestParamInfo<TLineSettingsCase>& info) { return info.param.Name; });

class LineRateTest : public SerialLineTest {
 protected:
  void TearDown() override {
    if (!IsSkipped()) RestoreTheMonitorsSettings(Line);
  }
};

TEST_F(LineRateTest, EverySpeedIsTheRateTheSystemReadsBack) {
  for (std::size_t ordinal = 0; ordinal < ComPortRates.size(); ++ordinal) {
    const std::uint32_t rate = ComPortRates[ordinal];
    SCOPED_TRACE(rate);
    // Wine sets a rate that has no termios constant (14400, 56000) through the serial driver's
    // custom divisor; a pseudo-terminal has none, yet Wine reports success and leaves the line
    // at 38400. A real port keeps the rate.
    if (kesttest::RunningUnderWine() && Line.IsPseudoTerminal && (rate == 14400 || rate == 56000)) {
      continue;
    }
    TSerialPortDriver driver;
    driver.SetComPort(Line.Port);
    driver.SetComPortSpeed(static_cast<TComPortBaudRate>(ordinal));
    ExpectRoundTrip(Line, driver.BuildDcb());
  }
}

// Wine does not enforce share mode 0 on a communications port: a second CreateFile of a port that
// is held succeeds there, so this case runs on Windows only.
TEST_F(SerialLineTest, APortHeldByOneDriverIsRefusedToAnother) {
  if (kesttest::RunningUnderWine()) {
    GTEST_SKIP() << "Wine opens a held communications port a second time";
  }
  TSerialPortDriver first, second;
  first.SetComPort(Line.Port);
  second.SetComPort(Line.Port);
  ASSERT_TRUE(first.OpenPort());
  EXPECT_FALSE(second.OpenPort());
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(platform::SystemSerialApi().LastOpenError(), TOpenError::InUse);
  first.ClosePort();
  EXPECT_TRUE(second.OpenPort()) << "the port is free again once closed";
}

// --- The backend without a line. ---

struct TOpenFailureCase {
  const char* Name;
  std::function<std::string(const std::filesystem::path& folder)> DeviceName;
  TOpenError Error;
};

void PrintTo(const TOpenFailureCase& c, std::ostream* out) { *out << c.Name; }

class OpenFailureTest : public ::testing::TestWithParam<TOpenFailureCase> {
 protected:
  void SetUp() override {
    Folder = std::filesystem::temp_directory_path() /
             ("kest_windows_tests_" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(Folder);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
  std::filesystem::path Folder;
};

TEST_P(OpenFailureTest, NothingIsHeldAndTheReasonIsKept) {
  platform::TSerialApi& api = platform::SystemSerialApi();
  const std::string name = GetParam().DeviceName(Folder);
  EXPECT_EQ(api.CreateFile(name), platform::InvalidPortHandle) << name;
  EXPECT_EQ(api.LastOpenError(), GetParam().Error) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenFailureTest,
    testing::Values(
        // Far beyond any port that a test machine or a Wine prefix maps.
        TOpenFailureCase{"AnAbsentPort",
                         [](const std::filesystem::path&) { return std::string("\\\\.\\COM250"); },
                         TOpenError::NotFound},
        // A character device that is no communications port.
        TOpenFailureCase{"TheNullDevice",
                         [](const std::filesystem::path&) { return std::string("\\\\.\\NUL"); },
                         TOpenError::NotATerminal},
        TOpenFailureCase{"AFile",
                         [](const std::filesystem::path& folder) {
                           const std::filesystem::path file = folder / "not-a-port.txt";
                           std::ofstream(file) << "text";
                           return file.string();
                         },
                         TOpenError::NotATerminal}),
    [](const testing::TestParamInfo<TOpenFailureCase>& info) { return info.param.Name; });

// The platform test of the flow-control threshold asks the system for its version; every
// Windows that runs the program, and Wine, is NT 4 or later.
TEST(SystemVersionTest, TheSystemAnswersOnlyTheSizeOf148) {
  platform::TSerialApi& api = platform::SystemSerialApi();
  EXPECT_EQ(GetWinPlatform(api), "WNT");
  EXPECT_GE(GetWinVersion(api), 4u * 65536u);
  for (const std::uint32_t size : {0u, 147u, 156u}) {
    platform::TOsVersionInfo info;
    info.dwOSVersionInfoSize = size;
    EXPECT_FALSE(api.GetVersionEx(info)) << size;
  }
}

}  // namespace
