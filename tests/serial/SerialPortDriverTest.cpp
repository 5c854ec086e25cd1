// TSerialPortDriver against the scripted fake line: what it writes into the line settings, when it
// purges and touches its timer, how its reads and writes time out on the virtual clock, and what a
// poll tick hands to OnReceiveData.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "serial/SerialPortDriver.h"
#include "tests/serial/AllocationCounter.h"
#include "tests/support/FakeSerialApi.h"

namespace {

using kesttest::TFakeSerialApi;
using kesttest::TFakeTimerCall;
using platform::TCommTimeouts;
using platform::TDcb;
using platform::TMessage;
using platform::TOpenError;
using testing::ElementsAre;
using testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t PurgeBoth = 0xF;
constexpr std::uint32_t WM_PAINT = 15;
constexpr std::uint32_t WM_USER = 0x400;

// The settings the monitor's main window gives its driver.
void ConfigureAsMonitor(TSerialPortDriver& driver) {
  driver.SetComPort(TComPortNumber::pnCOM1);
  driver.SetComPortSpeed(TComPortBaudRate::br19200);
  driver.SetComPortInBufSize(50);
  driver.SetComPortPollingDelay(5);
  driver.SetInputTimeout(50);
}

// The line settings record for the monitor's settings.
TDcb MonitorDcb() {
  TDcb dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = 19200;
  dcb.Flags = 0x1011;
  dcb.XonLim = 12;
  dcb.XoffLim = 12;
  dcb.ByteSize = 8;
  dcb.Parity = 0;
  dcb.StopBits = 0;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

// Bytes 0, 1, 2, ... so that a slice shows where it came from.
Bytes Pattern(std::size_t count, std::size_t from = 0) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>((from + i) % 251);
  return bytes;
}

class DriverTest : public testing::Test {
 protected:
  DriverTest() {
    ConfigureAsMonitor(Driver);
    Driver.SetOnReceiveData(
        [this](TSerialPortDriver* sender, const void* data, std::uint32_t size) {
          EXPECT_EQ(sender, &Driver);
          const auto* bytes = static_cast<const std::uint8_t*>(data);
          Received.emplace_back(bytes, bytes + size);
        });
    Fake.ClearRecord();
  }

  // Opens the port and forgets what opening recorded.
  void Open() {
    ASSERT_TRUE(Driver.OpenPort());
    Fake.ClearRecord();
  }

  // Virtual milliseconds `action` took.
  std::uint64_t Duration(const std::function<void()>& action) {
    const std::uint64_t before = Fake.Elapsed();
    action();
    return Fake.Elapsed() - before;
  }

  TFakeSerialApi Fake;
  TSerialPortDriver Driver{Fake};
  std::vector<Bytes> Received;
};

// ---- construction and opening ----

TEST(SerialPortDriverDefaults, AnUnconfiguredDriverUsesTheComponentDefaults) {
  TFakeSerialApi fake;
  TSerialPortDriver driver{fake};
  EXPECT_FALSE(driver.IsOpen());
  EXPECT_EQ(driver.PollHolds(), 0);
  EXPECT_THAT(fake.CallNames(), ElementsAre("CreatePollWindow"));

  TDcb expected = MonitorDcb();
  expected.BaudRate = 9600;
  expected.XonLim = expected.XoffLim = 512;  // a quarter of the 2048-byte receive queue
  EXPECT_EQ(driver.BuildDcb(), expected);

  fake.ClearRecord();
  ASSERT_TRUE(driver.OpenPort());
  ASSERT_FALSE(fake.Calls().empty());
  EXPECT_EQ(fake.Calls().front().Text, R"(\\.\COM2)");
  EXPECT_THAT(fake.SetupCommSizes(),
              ElementsAre(std::pair<std::uint32_t, std::uint32_t>{2048, 2048}));
  EXPECT_THAT(fake.TimerCalls(), ElementsAre(TFakeTimerCall{true, 1, 50}));

  // Default time-outs: 200 ms for input, 500 ms for output.
  std::uint8_t target = 0;
  std::uint64_t before = fake.Elapsed();
  EXPECT_FALSE(driver.ReadByte(target));
  EXPECT_EQ(fake.Elapsed() - before, 201u);
  fake.StallTransmitFull();
  before = fake.Elapsed();
  EXPECT_FALSE(driver.WriteByte(110));
  EXPECT_EQ(fake.Elapsed() - before, 501u);

  // The default receive buffer holds 2048 bytes.
  std::vector<std::uint32_t> sizes;
  driver.SetOnReceiveData(
      [&](TSerialPortDriver*, const void*, std::uint32_t size) { sizes.push_back(size); });
  fake.QueueInput(Pattern(3000));
  fake.FireTimer();
  EXPECT_THAT(sizes, ElementsAre(2048u));
}

TEST_F(DriverTest, OpenPortProgramsTheLineOnceInOrder) {
  ASSERT_TRUE(Driver.OpenPort());
  EXPECT_TRUE(Driver.IsOpen());
  EXPECT_THAT(Fake.CallNames(),
              ElementsAre("CreateFile", "GetVersionEx", "GetVersionEx", "SetCommState", "PurgeComm",
                          "SetupComm", "SetCommTimeouts", "SetTimer"));
  ASSERT_FALSE(Fake.Calls().empty());
  EXPECT_EQ(Fake.Calls().front().Text, R"(\\.\COM1)");
  EXPECT_THAT(Fake.DcbsWritten(), ElementsAre(MonitorDcb()));
  EXPECT_THAT(Fake.PurgeFlags(), ElementsAre(PurgeBoth));
  EXPECT_THAT(Fake.SetupCommSizes(),
              ElementsAre(std::pair<std::uint32_t, std::uint32_t>{50, 2048}));
  EXPECT_THAT(Fake.TimeoutsWritten(), ElementsAre(TCommTimeouts{1, 0, 1, 0, 1}));
  EXPECT_THAT(Fake.TimerCalls(), ElementsAre(TFakeTimerCall{true, 1, 5}));
  EXPECT_TRUE(Fake.TimerRunning(1));

  // Every port call went to the handle that was opened.
  const std::uint64_t handle = static_cast<std::uint64_t>(Fake.OpenHandle());
  for (const auto& call : Fake.Calls()) {
    if (call.Name == "SetCommState" || call.Name == "PurgeComm" || call.Name == "SetupComm" ||
        call.Name == "SetCommTimeouts") {
      EXPECT_EQ(call.Args.at(0), handle) << call.Name;
    }
  }
}

TEST_F(DriverTest, OpenPortOnAnOpenPortRedoesNothing) {
  Open();
  Fake.QueueInput({1, 2, 3});
  EXPECT_TRUE(Driver.OpenPort());
  EXPECT_TRUE(Driver.IsOpen());
  EXPECT_THAT(Fake.CallNames(), ElementsAre());
  EXPECT_EQ(Fake.InputQueued(), 3u);  // not purged
  EXPECT_EQ(Fake.OpenHandleCount(), 1u);
}

struct TOpenFailureCase {
  const char* Label;
  std::function<void(TFakeSerialApi&)> Arrange;
};

class OpenFailureTest : public DriverTest, public testing::WithParamInterface<TOpenFailureCase> {};

TEST_P(OpenFailureTest, LeavesThePortClosedAndUntouched) {
  GetParam().Arrange(Fake);
  Fake.ClearRecord();
  EXPECT_FALSE(Driver.OpenPort());
  EXPECT_FALSE(Driver.IsOpen());
  EXPECT_THAT(Fake.CallNames(), ElementsAre("CreateFile"));
  EXPECT_FALSE(Fake.TimerRunning(1));

  Fake.ClearRecord();
  Driver.ClosePort();
  EXPECT_THAT(Fake.CallNames(), ElementsAre());

  // A tick now is no poll: it goes to the default treatment and reads nothing.
  Fake.QueueInput({1, 2});
  Fake.FireTimer();
  EXPECT_THAT(Fake.CallNames(), ElementsAre("DefWindowProc"));
  EXPECT_TRUE(Received.empty());
  EXPECT_EQ(Driver.InputQueueCount(), 65535u);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, OpenFailureTest,
    testing::Values(
        TOpenFailureCase{"Absent", [](TFakeSerialApi& f) { f.RemoveDevice(R"(\\.\COM1)"); }},
        TOpenFailureCase{"InUseElsewhere",
                         [](TFakeSerialApi& f) { f.SetDeviceInUse(R"(\\.\COM1)", true); }},
        TOpenFailureCase{"AlreadyOpenedExclusively",
                         [](TFakeSerialApi& f) { f.CreateFile(R"(\\.\COM1)"); }},
        TOpenFailureCase{"PermissionDenied",
                         [](TFakeSerialApi& f) {
                           f.SetOpenError(R"(\\.\COM1)", TOpenError::PermissionDenied);
                         }}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(SerialPortDriverNames, DeviceNameCarriesThePortNumberInDecimal) {
  const std::vector<std::pair<TComPortNumber, std::string>> cases = {
      {TComPortNumber::pnCOM1, R"(\\.\COM1)"},   {TComPortNumber::pnCOM2, R"(\\.\COM2)"},
      {TComPortNumber::pnCOM9, R"(\\.\COM9)"},   {TComPortNumber::pnCOM10, R"(\\.\COM10)"},
      {TComPortNumber::pnCOM16, R"(\\.\COM16)"},
  };
  for (const auto& [port, name] : cases) EXPECT_EQ(ComPortDeviceName(port), name);
}

TEST_F(DriverTest, Com10OpensTheDeviceNamedCom10) {
  Driver.SetComPort(TComPortNumber::pnCOM10);
  ASSERT_TRUE(Driver.OpenPort());
  ASSERT_FALSE(Fake.Calls().empty());
  EXPECT_EQ(Fake.Calls().front().Text, R"(\\.\COM10)");
  EXPECT_TRUE(Fake.IsDeviceOpen(R"(\\.\COM10)"));
}

TEST_F(DriverTest, ComPortIsIgnoredWhileOpenAndAcceptedAfterClose) {
  Open();
  Driver.SetComPort(TComPortNumber::pnCOM3);
  EXPECT_EQ(Driver.ComPort(), TComPortNumber::pnCOM1);
  EXPECT_THAT(Fake.CallNames(), ElementsAre());

  Driver.ClosePort();
  Driver.SetComPort(TComPortNumber::pnCOM3);
  EXPECT_EQ(Driver.ComPort(), TComPortNumber::pnCOM3);
  Fake.ClearRecord();
  ASSERT_TRUE(Driver.OpenPort());
  ASSERT_FALSE(Fake.Calls().empty());
  EXPECT_EQ(Fake.Calls().front().Text, R"(\\.\COM3)");
}

TEST_F(DriverTest, QueueSizesAreIgnoredWhileOpenAndAcceptedAfterClose) {
  Open();
  Driver.SetComPortInBufSize(10);
  Driver.SetComPortOutBufSize(100);
  EXPECT_EQ(Driver.ComPortInBufSize(), 50u);
  EXPECT_EQ(Driver.ComPortOutBufSize(), 2048u);

  // Reprogramming still asks for the old sizes, and a tick still fills the old buffer.
  Driver.SetComPortSpeed(TComPortBaudRate::br9600);
  EXPECT_THAT(Fake.SetupCommSizes(),
              ElementsAre(std::pair<std::uint32_t, std::uint32_t>{50, 2048}));
  Fake.QueueInput(Pattern(60));
  Fake.FireTimer();
  ASSERT_EQ(Received.size(), 1u);
  EXPECT_EQ(Received[0].size(), 50u);

  Driver.ClosePort();
  Driver.SetComPortInBufSize(10);
  Driver.SetComPortOutBufSize(100);
  Fake.ClearRecord();
  Received.clear();
  ASSERT_TRUE(Driver.OpenPort());
  EXPECT_THAT(Fake.SetupCommSizes(), ElementsAre(std::pair<std::uint32_t, std::uint32_t>{10, 100}));
  ASSERT_EQ(Fake.DcbsWritten().size(), 1u);
  EXPECT_EQ(Fake.DcbsWritten()[0].XonLim, 2u);
  Fake.QueueInput(Pattern(60));
  Fake.FireTimer();
  ASSERT_EQ(Received.size(), 1u);
  EXPECT_EQ(Received[0], Pattern(10));
}

// ---- line settings ----

TEST(SerialPortDriverRates, EverySpeedWritesItsBitRate) {
  const std::array<std::uint32_t, 13> rates = {110,   300,   600,   1200,  2400,  4800,  9600,
                                               14400, 19200, 38400, 56000, 57600, 115200};
  TFakeSerialApi fake;
  TSerialPortDriver driver{fake};
  for (std::size_t i = 0; i < rates.size(); ++i) {
    driver.SetComPortSpeed(static_cast<TComPortBaudRate>(i));
    EXPECT_EQ(driver.BuildDcb().BaudRate, rates[i]) << "ordinal " << i;
  }
}

struct TLineSettingCase {
  const char* Label;
  std::function<void(TSerialPortDriver&)> Change;
  std::function<void(TDcb&)> Expect;  // applied to the monitor's record
};

const std::vector<TLineSettingCase> LineSettingCases = {
    {"Speed115200", [](auto& d) { d.SetComPortSpeed(TComPortBaudRate::br115200); },
     [](TDcb& e) { e.BaudRate = 115200; }},
    {"SevenDataBits", [](auto& d) { d.SetComPortDataBits(TComPortDataBits::db7BITS); },
     [](TDcb& e) { e.ByteSize = 7; }},
    {"FiveDataBits", [](auto& d) { d.SetComPortDataBits(TComPortDataBits::db5BITS); },
     [](TDcb& e) { e.ByteSize = 5; }},
    {"OneAndAHalfStopBits", [](auto& d) { d.SetComPortStopBits(TComPortStopBits::sb1HALFBITS); },
     [](TDcb& e) { e.StopBits = 1; }},
    {"TwoStopBits", [](auto& d) { d.SetComPortStopBits(TComPortStopBits::sb2BITS); },
     [](TDcb& e) { e.StopBits = 2; }},
    // Parity never sets fParity.
    {"OddParity", [](auto& d) { d.SetComPortParity(TComPortParity::ptODD); },
     [](TDcb& e) { e.Parity = 1; }},
    {"EvenParity", [](auto& d) { d.SetComPortParity(TComPortParity::ptEVEN); },
     [](TDcb& e) { e.Parity = 2; }},
    {"MarkParity", [](auto& d) { d.SetComPortParity(TComPortParity::ptMARK); },
     [](TDcb& e) { e.Parity = 3; }},
    {"SpaceParity", [](auto& d) { d.SetComPortParity(TComPortParity::ptSPACE); },
     [](TDcb& e) { e.Parity = 4; }},
    {"RtsCts", [](auto& d) { d.SetComPortHwHandshaking(TComPortHwHandshaking::hhRTSCTS); },
     [](TDcb& e) { e.Flags = 0x2015; }},
    {"NoHandshakeRtsLow", [](auto& d) { d.SetComPortHwHandshaking(TComPortHwHandshaking::hhNONE); },
     [](TDcb& e) { e.Flags = 0x0011; }},
    {"XonXoff", [](auto& d) { d.SetComPortSwHandshaking(TComPortSwHandshaking::shXONXOFF); },
     [](TDcb& e) { e.Flags = 0x1311; }},
};

class LineSettingTest : public DriverTest, public testing::WithParamInterface<TLineSettingCase> {};

TEST_P(LineSettingTest, WhileOpenReprogramsAtOnceAndDiscardsBothDirections) {
  Open();
  Fake.QueueInput({1, 2, 3, 4, 5});
  Fake.StallTransmit(7);
  GetParam().Change(Driver);
  TDcb expected = MonitorDcb();
  GetParam().Expect(expected);
  EXPECT_THAT(Fake.CallNames(), ElementsAre("GetVersionEx", "GetVersionEx", "SetCommState",
                                            "PurgeComm", "SetupComm"));
  EXPECT_THAT(Fake.DcbsWritten(), ElementsAre(expected));
  EXPECT_THAT(Fake.PurgeFlags(), ElementsAre(PurgeBoth));
  EXPECT_THAT(Fake.SetupCommSizes(),
              ElementsAre(std::pair<std::uint32_t, std::uint32_t>{50, 2048}));
  EXPECT_EQ(Fake.InputQueued(), 0u);
  EXPECT_EQ(Fake.TransmitQueued(), 0u);
  EXPECT_THAT(Fake.TimerCalls(), ElementsAre());
}

TEST_P(LineSettingTest, WhileClosedIsOnlyStoredAndUsedAtOpen) {
  Fake.ClearRecord();
  GetParam().Change(Driver);
  EXPECT_THAT(Fake.CallNames(), ElementsAre());
  TDcb expected = MonitorDcb();
  GetParam().Expect(expected);
  ASSERT_TRUE(Driver.OpenPort());
  EXPECT_THAT(Fake.DcbsWritten(), ElementsAre(expected));
}

INSTANTIATE_TEST_SUITE_P(Settings, LineSettingTest, testing::ValuesIn(LineSettingCases),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST_F(DriverTest, FlowControlBitsCombine) {
  Driver.SetComPortHwHandshaking(TComPortHwHandshaking::hhRTSCTS);
  Driver.SetComPortSwHandshaking(TComPortSwHandshaking::shXONXOFF);
  Driver.SetEnableDTROnOpen(false);
  EXPECT_EQ(Driver.BuildDcb().Flags, 0x2305u);
}

TEST_F(DriverTest, DtrSettingTakesEffectAtTheNextProgramming) {
  Open();
  Driver.SetEnableDTROnOpen(false);
  EXPECT_THAT(Fake.CallNames(), ElementsAre());
  Driver.ApplyLineSettings();
  ASSERT_EQ(Fake.DcbsWritten().size(), 1u);
  EXPECT_EQ(Fake.DcbsWritten()[0].Flags, 0x1001u);
}

// ---- the platform and the queue threshold ----

struct TPlatform {
  const char* Label;
  std::optional<std::array<std::uint32_t, 3>> Version;  // platform id, major, minor; none: fails
  bool Capped;
  bool IsNt;
};

const std::vector<TPlatform> Platforms = {
    {"W32S", std::array<std::uint32_t, 3>{0, 3, 95}, false, false},
    {"W95", std::array<std::uint32_t, 3>{1, 4, 10}, false, false},
    {"NT4", std::array<std::uint32_t, 3>{2, 4, 0}, true, true},
    {"NT10", std::array<std::uint32_t, 3>{2, 10, 0}, true, true},
    {"NT351", std::array<std::uint32_t, 3>{2, 3, 51}, false, true},
    {"UnknownId", std::array<std::uint32_t, 3>{3, 10, 0}, false, false},
    {"QueryFails", std::nullopt, false, false},
};

void Arrange(TFakeSerialApi& fake, const TPlatform& platform) {
  if (platform.Version) {
    const auto& [id, major, minor] = *platform.Version;
    fake.SetVersion(id, major, minor);
  } else {
    fake.SetVersionQueryFails(true);
  }
}

struct TThresholdCase {
  std::uint16_t InBufSize;
  std::uint16_t Capped;
  std::uint16_t Uncapped;
};

const std::vector<TThresholdCase> ThresholdCases = {
    {50, 12, 12}, {2048, 512, 512}, {16387, 4096, 4096}, {16388, 4096, 4097}, {65535, 4096, 16383},
};

class ThresholdTest : public testing::TestWithParam<std::tuple<TPlatform, TThresholdCase>> {};

TEST_P(ThresholdTest, IsAQuarterOfTheReceiveQueueCappedOnNt4AndLater) {
  const auto& [platform, sizes] = GetParam();
  TFakeSerialApi fake;
  Arrange(fake, platform);
  TSerialPortDriver driver{fake};
  driver.SetComPortInBufSize(sizes.InBufSize);
  fake.ClearRecord();
  const TDcb dcb = driver.BuildDcb();
  const std::uint16_t expected = platform.Capped ? sizes.Capped : sizes.Uncapped;
  EXPECT_EQ(dcb.XonLim, expected);
  EXPECT_EQ(dcb.XoffLim, expected);
  // The version is asked for only on NT; every query carries the record size 148.
  EXPECT_EQ(fake.CountCalls("GetVersionEx"), platform.IsNt ? 2u : 1u);
  for (const auto& call : fake.Calls()) EXPECT_EQ(call.Args.at(0), 148u);
}

INSTANTIATE_TEST_SUITE_P(PlatformsAndSizes, ThresholdTest,
                         testing::Combine(testing::ValuesIn(Platforms),
                                          testing::ValuesIn(ThresholdCases)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).Label) + "_" +
                                  std::to_string(std::get<1>(info.param).InBufSize);
                         });

TEST_F(DriverTest, ThresholdFollowsThePlatformAskedAfreshEachTime) {
  Driver.SetComPortInBufSize(65535);
  Fake.SetVersion(2, 10, 0);
  Open();
  Fake.SetVersion(1, 4, 10);
  Driver.SetComPortSpeed(TComPortBaudRate::br9600);
  Fake.SetVersion(2, 6, 1);
  Driver.ApplyLineSettings();
  ASSERT_EQ(Fake.DcbsWritten().size(), 2u);
  EXPECT_EQ(Fake.DcbsWritten()[0].XonLim, 16383u);
  EXPECT_EQ(Fake.DcbsWritten()[1].XonLim, 4096u);
}

struct TVersionCase {
  const char* Label;
  std::optional<std::array<std::uint32_t, 3>> Version;
  const char* Tag;
  std::uint32_t Number;
};

class WinVersionTest : public testing::TestWithParam<TVersionCase> {};

TEST_P(WinVersionTest, TagAndNumberComeFromTheVersionQuery) {
  TFakeSerialApi fake;
  Arrange(fake, TPlatform{"", GetParam().Version, false, false});
  EXPECT_EQ(GetWinPlatform(fake), GetParam().Tag);
  EXPECT_EQ(GetWinVersion(fake), GetParam().Number);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WinVersionTest,
    testing::Values(
        TVersionCase{"W32S", std::array<std::uint32_t, 3>{0, 3, 95}, "W32S", 3 * 65536 + 95},
        TVersionCase{"W95", std::array<std::uint32_t, 3>{1, 4, 10}, "W95", 4 * 65536 + 10},
        TVersionCase{"NT4", std::array<std::uint32_t, 3>{2, 4, 0}, "WNT", 262144},
        TVersionCase{"NT351", std::array<std::uint32_t, 3>{2, 3, 51}, "WNT", 3 * 65536 + 51},
        TVersionCase{"Id3", std::array<std::uint32_t, 3>{3, 1, 0}, "", 65536},
        TVersionCase{"Id7", std::array<std::uint32_t, 3>{7, 1, 0}, "", 65536},
        // Major and minor are taken as 16 bits each.
        TVersionCase{"WideFields", std::array<std::uint32_t, 3>{2, 0x10005, 0x20001}, "WNT",
                     5 * 65536 + 1},
        TVersionCase{"Fails", std::nullopt, "??", 0}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- purging ----

struct TPurgeCase {
  bool Receive;
  bool Transmit;
  std::uint32_t Flags;
};

class PurgeTest : public DriverTest, public testing::WithParamInterface<TPurgeCase> {};

TEST_P(PurgeTest, DiscardsTheDirectionsAskedFor) {
  Open();
  Fake.QueueInput({1, 2, 3});
  Fake.StallTransmit(4);
  Driver.Purge(GetParam().Receive, GetParam().Transmit);
  EXPECT_THAT(Fake.PurgeFlags(), ElementsAre(GetParam().Flags));
  EXPECT_EQ(Fake.InputQueued(), GetParam().Receive ? 0u : 3u);
  EXPECT_EQ(Fake.TransmitQueued(), GetParam().Transmit ? 0u : 4u);
}

INSTANTIATE_TEST_SUITE_P(Directions, PurgeTest,
                         testing::Values(TPurgeCase{true, false, 0xA}, TPurgeCase{false, true, 0x5},
                                         TPurgeCase{true, true, 0xF}, TPurgeCase{false, false, 0}));

// ---- reading ----

struct TReadTimeoutCase {
  const char* Label;
  std::uint32_t InputTimeout;
  std::optional<std::uint32_t> ArrivalMs;  // one byte, this long after the read starts
  std::uint32_t WaitStep;                  // cap on one wait (0: none)
  bool ExpectRead;
  std::uint64_t ExpectDuration;
};

class ReadTimeoutTest : public DriverTest, public testing::WithParamInterface<TReadTimeoutCase> {};

TEST_P(ReadTimeoutTest, LeavesOnlyWhenMoreThanTheTimeoutHasPassed) {
  const auto& c = GetParam();
  Driver.SetInputTimeout(c.InputTimeout);
  Open();
  Fake.SetMaxWaitStep(c.WaitStep);
  if (c.ArrivalMs) Fake.ScheduleInputAfter(*c.ArrivalMs, {0x42});
  std::uint8_t target = 0xEE;
  bool read = false;
  EXPECT_EQ(Duration([&] { read = Driver.ReadByte(target); }), c.ExpectDuration);
  EXPECT_EQ(read, c.ExpectRead);
  EXPECT_EQ(target, c.ExpectRead ? 0x42 : 0xEE);
  EXPECT_EQ(Driver.PollHolds(), 0);
  // The driver waits in the system between queries instead of spinning on them.
  const std::uint64_t maxQueries = c.WaitStep == 0 ? 3 : c.ExpectDuration / c.WaitStep + 3;
  EXPECT_LE(Fake.CountCalls("ClearCommError"), maxQueries);
}

INSTANTIATE_TEST_SUITE_P(
    Boundary, ReadTimeoutTest,
    testing::Values(TReadTimeoutCase{"Silent", 50, std::nullopt, 0, false, 51},
                    TReadTimeoutCase{"SilentWakingEveryMs", 50, std::nullopt, 1, false, 51},
                    TReadTimeoutCase{"SilentWakingEvery7Ms", 50, std::nullopt, 7, false, 51},
                    TReadTimeoutCase{"ZeroTimeout", 0, std::nullopt, 0, false, 1},
                    TReadTimeoutCase{"ByteSoon", 50, 1u, 0, true, 1},
                    TReadTimeoutCase{"ByteAtExactlyTheTimeout", 50, 50u, 1, true, 50},
                    // At 51 ms the queue is looked at once more before the clock is.
                    TReadTimeoutCase{"ByteAtTimeoutPlusOne", 50, 51u, 1, true, 51},
                    TReadTimeoutCase{"ByteTooLate", 50, 52u, 1, false, 51}),
    [](const auto& info) { return std::string(info.param.Label); });

struct TTrickleCase {
  const char* Label;
  std::vector<std::pair<std::uint32_t, Bytes>> Arrivals;  // ms after the read starts
  std::uint32_t Count;
  Bytes ExpectBytes;
  std::uint64_t ExpectDuration;
  std::size_t ExpectLeftQueued;
};

class TrickleTest : public DriverTest, public testing::WithParamInterface<TTrickleCase> {};

TEST_P(TrickleTest, EachByteRestartsTheIdleClock) {
  const auto& c = GetParam();
  Open();
  for (const auto& [ms, bytes] : c.Arrivals) Fake.ScheduleInputAfter(ms, bytes);
  Bytes buffer(c.Count + 4, 0xEE);
  std::uint32_t got = 0;
  EXPECT_EQ(Duration([&] { got = Driver.ReadBytes(buffer.data(), c.Count); }), c.ExpectDuration);
  ASSERT_EQ(got, c.ExpectBytes.size());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), c.ExpectBytes);
  EXPECT_TRUE(std::all_of(buffer.begin() + got, buffer.end(), [](auto b) { return b == 0xEE; }));
  EXPECT_EQ(Fake.InputQueued(), c.ExpectLeftQueued);
  EXPECT_EQ(Driver.PollHolds(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, TrickleTest,
    testing::Values(
        TTrickleCase{"EveryFortyMs",
                     {{40, {1}}, {80, {2}}, {120, {3}}, {160, {4}}},
                     4,
                     {1, 2, 3, 4},
                     160,
                     0},
        TTrickleCase{"EveryFiftyMs", {{50, {1}}, {100, {2}}, {150, {3}}}, 3, {1, 2, 3}, 150, 0},
        TTrickleCase{"GapEndsTheRead", {{40, {1}}, {80, {2}}, {200, {3}}}, 3, {1, 2}, 131, 0},
        TTrickleCase{"BurstLargerThanAsked", {{10, {7, 8, 9}}}, 2, {7, 8}, 10, 1},
        TTrickleCase{
            "SeveralBursts", {{0, {1, 2}}, {30, {3}}, {60, {4, 5}}}, 5, {1, 2, 3, 4, 5}, 60, 0}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- waiting for bytes that belong together ----

struct TQueuedWaitCase {
  const char* Label;
  TComPortBaudRate Speed;
  bool Closed;
  bool Failing;
  std::size_t QueuedBefore;                               // bytes already there, and queried
  std::vector<std::pair<std::uint32_t, Bytes>> Arrivals;  // ms after the wait starts
  std::uint64_t ExpectDuration;                           // virtual ms
  std::vector<std::uint64_t> ExpectSleeps;                // microseconds asked for, in order
  std::size_t ExpectQueued;
};

class QueuedWaitTest : public DriverTest, public testing::WithParamInterface<TQueuedWaitCase> {};

// Four bytes are awaited at 19200 bit/s, whose character takes 521 us: a sleep lasts the line time
// of the bytes still missing and of one more, the fake's clock moves in whole milliseconds.
TEST_P(QueuedWaitTest, SleepsWhileTheBytesKeepComingAndReadsNone) {
  const auto& c = GetParam();
  Driver.SetComPortSpeed(c.Speed);
  if (!c.Closed) Open();
  Fake.QueueInput(Pattern(c.QueuedBefore));
  Driver.InputQueueCount();  // as the read before the wait did
  for (const auto& [ms, bytes] : c.Arrivals) Fake.ScheduleInputAfter(ms, bytes);
  Fake.SetDeviceFailing(c.Failing);
  Fake.ClearRecord();
  EXPECT_EQ(Duration([&] { Driver.WaitForQueuedInput(4); }), c.ExpectDuration);
  std::vector<std::uint64_t> sleeps;
  for (const auto& call : Fake.Calls()) {
    if (call.Name == "SleepMicroseconds") sleeps.push_back(call.Args.at(0));
  }
  EXPECT_EQ(sleeps, c.ExpectSleeps);
  EXPECT_EQ(Fake.InputQueued(), c.ExpectQueued);
  EXPECT_EQ(Fake.CountCalls("ReadFile"), 0u);
  EXPECT_EQ(Fake.CountCalls("WaitForInput"), 0u);
  EXPECT_EQ(Driver.PollHolds(), 0);
  if (c.Closed) {
    EXPECT_TRUE(Fake.Calls().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, QueuedWaitTest,
    testing::Values(
        TQueuedWaitCase{"AlreadyQueued", TComPortBaudRate::br19200, false, false, 4, {}, 0, {}, 4},
        TQueuedWaitCase{
            "MoreThanEnoughQueued", TComPortBaudRate::br19200, false, false, 9, {}, 0, {}, 9},
        TQueuedWaitCase{"PacedBytes",
                        TComPortBaudRate::br19200,
                        false,
                        false,
                        0,
                        {{1, {1}}, {2, {2}}, {3, {3}}, {4, {4}}},
                        5,
                        {2605, 1042},
                        4},
        TQueuedWaitCase{
            "OneBurst", TComPortBaudRate::br19200, false, false, 1, {{2, {1, 2, 3}}}, 3, {2084}, 4},
        // Nothing came in a whole sleep: the rest is late, and the reads wait for it themselves.
        TQueuedWaitCase{
            "NothingComes", TComPortBaudRate::br19200, false, false, 0, {}, 3, {2605}, 0},
        TQueuedWaitCase{"StopsHalfWay",
                        TComPortBaudRate::br19200,
                        false,
                        false,
                        0,
                        {{1, {1}}, {2, {2}}, {40, {3, 4}}},
                        5,
                        {2605, 1563},
                        2},
        // At 110 bit/s five characters take 455 ms; no sleep outlasts a read's idle time-out.
        TQueuedWaitCase{"SlowLineKeepsToTheIdleTimeout",
                        TComPortBaudRate::br110,
                        false,
                        false,
                        0,
                        {},
                        51,
                        {51000},
                        0},
        TQueuedWaitCase{"ClosedPort", TComPortBaudRate::br19200, true, false, 0, {}, 0, {}, 0},
        // Bytes that came after the last query are found after the first sleep.
        TQueuedWaitCase{"CameSinceTheLastQuery",
                        TComPortBaudRate::br19200,
                        false,
                        false,
                        0,
                        {{1, {1, 2, 3, 4}}},
                        3,
                        {2605},
                        4},
        // A device that went away answers no query: the wait ends after its first sleep.
        TQueuedWaitCase{
            "DeviceGone", TComPortBaudRate::br19200, false, true, 0, {{1, {1}}}, 3, {2605}, 1}),
    [](const auto& info) { return std::string(info.param.Label); });

struct TCharacterTimeCase {
  TComPortBaudRate Speed;
  TComPortDataBits DataBits;
  TComPortParity Parity;
  TComPortStopBits StopBits;
  std::uint32_t ExpectMicroseconds;
};

class CharacterTimeTest : public DriverTest,
                          public testing::WithParamInterface<TCharacterTimeCase> {};

TEST_P(CharacterTimeTest, CountsStartDataParityAndStopBits) {
  const auto& c = GetParam();
  Driver.SetComPortSpeed(c.Speed);
  Driver.SetComPortDataBits(c.DataBits);
  Driver.SetComPortParity(c.Parity);
  Driver.SetComPortStopBits(c.StopBits);
  EXPECT_EQ(Driver.CharacterMicroseconds(), c.ExpectMicroseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CharacterTimeTest,
    testing::Values(
        // 10 bits at 19200 bit/s: 520.8 us, rounded up.
        TCharacterTimeCase{TComPortBaudRate::br19200, TComPortDataBits::db8BITS,
                           TComPortParity::ptNONE, TComPortStopBits::sb1BITS, 521},
        TCharacterTimeCase{TComPortBaudRate::br115200, TComPortDataBits::db8BITS,
                           TComPortParity::ptNONE, TComPortStopBits::sb1BITS, 87},
        // 1 + 7 + 1 + 2 = 11 bits.
        TCharacterTimeCase{TComPortBaudRate::br9600, TComPortDataBits::db7BITS,
                           TComPortParity::ptEVEN, TComPortStopBits::sb2BITS, 1146},
        // 1 + 5 + 1.5 = 7.5 bits: the half bit counts.
        TCharacterTimeCase{TComPortBaudRate::br110, TComPortDataBits::db5BITS,
                           TComPortParity::ptNONE, TComPortStopBits::sb1HALFBITS, 68182},
        TCharacterTimeCase{TComPortBaudRate::br110, TComPortDataBits::db8BITS,
                           TComPortParity::ptMARK, TComPortStopBits::sb2BITS, 109091}));

// Bytes a query found are read without asking again, until a purge, a short read or a failure
// says the count no longer holds.
struct TKnownQueuedCase {
  const char* Label;
  std::function<void(TFakeSerialApi&, TSerialPortDriver&)> Between;  // after the first read
  Bytes ExpectBytes;                                                 // of five single reads
  std::uint64_t ExpectQueries;
};

class KnownQueuedTest : public DriverTest, public testing::WithParamInterface<TKnownQueuedCase> {};

TEST_P(KnownQueuedTest, ReadsWhatAQueryFoundWithoutAskingAgain) {
  const auto& c = GetParam();
  Open();
  Fake.QueueInput({1, 2, 3, 4, 5});
  Bytes got;
  std::uint8_t byte = 0xEE;
  if (Driver.ReadByte(byte)) got.push_back(byte);
  c.Between(Fake, Driver);
  for (int i = 0; i < 4; ++i) {
    if (Driver.ReadByte(byte)) got.push_back(byte);
  }
  EXPECT_EQ(got, c.ExpectBytes);
  EXPECT_EQ(Fake.CountCalls("ClearCommError"), c.ExpectQueries);
  EXPECT_EQ(Driver.PollHolds(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, KnownQueuedTest,
    testing::Values(
        TKnownQueuedCase{"OneQueryForAWholeFrame",
                         [](TFakeSerialApi&, TSerialPortDriver&) {},
                         {1, 2, 3, 4, 5},
                         1},
        // A purge empties the queue: what comes after it is read, nothing of what was there.
        TKnownQueuedCase{"APurgeForgetsTheCount",
                         [](TFakeSerialApi& fake, TSerialPortDriver& driver) {
                           driver.Purge(true, false);
                           fake.QueueInput({7, 8, 9, 10});
                         },
                         {1, 7, 8, 9, 10},
                         2},
        TKnownQueuedCase{
            "ATransmitPurgeKeepsIt",
            [](TFakeSerialApi&, TSerialPortDriver& driver) { driver.Purge(false, true); },
            {1, 2, 3, 4, 5},
            1},
        // Closing and opening again starts from a fresh query (the fake's queue outlives it).
        TKnownQueuedCase{"AReopenForgetsTheCount",
                         [](TFakeSerialApi& fake, TSerialPortDriver& driver) {
                           driver.ClosePort();
                           ASSERT_TRUE(driver.OpenPort());
                           fake.QueueInput({6, 7, 8, 9});
                         },
                         {1, 6, 7, 8, 9},
                         2},
        // A failed read forgets the count: the same read asks afresh while it waits out its
        // time-out, and the reads after it return at once on the lost device.
        TKnownQueuedCase{
            "AFailedReadForgetsIt",
            [](TFakeSerialApi& fake, TSerialPortDriver&) { fake.SetReadFailing(true); },
            {1},
            2},
        // A read that got less than the query promised asks again before it reads on.
        TKnownQueuedCase{"AShortReadForgetsIt",
                         [](TFakeSerialApi& fake, TSerialPortDriver& driver) {
                           fake.SetMaxReadPerCall(1);
                           Bytes two(2);
                           EXPECT_EQ(driver.ReadBytes(two.data(), 2), 2u);
                           fake.SetMaxReadPerCall(0);
                           fake.QueueInput({6, 7});
                         },
                         {1, 4, 5, 6, 7},
                         3},
        // So does a poll tick's: the wait for the rest of a frame sleeps and asks, rather than
        // returning at once on the count.
        TKnownQueuedCase{"AShortPollTickForgetsIt",
                         [](TFakeSerialApi& fake, TSerialPortDriver& driver) {
                           fake.SetMaxReadPerCall(1);
                           fake.FireTimer();
                           fake.SetMaxReadPerCall(0);
                           const std::uint64_t before = fake.Elapsed();
                           driver.WaitForQueuedInput(3);
                           EXPECT_GT(fake.Elapsed(), before) << "the wait did not sleep";
                           fake.QueueInput({6});
                         },
                         {1, 3, 4, 5, 6},
                         4}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(DriverTest, WhatAPollTickLeftQueuedIsReadWithoutAQuery) {
  Open();
  Fake.QueueInput(Pattern(60));
  Fake.FireTimer();  // takes a buffer full, 50 bytes
  ASSERT_EQ(Received.size(), 1u);
  Fake.ClearRecord();
  Bytes rest(10);
  EXPECT_EQ(Driver.ReadBytes(rest.data(), 10), 10u);
  EXPECT_EQ(rest, Pattern(10, 50));
  EXPECT_EQ(Fake.CountCalls("ClearCommError"), 0u);
}

TEST_F(DriverTest, ShortReadsKeepReading) {
  Open();
  Fake.SetMaxReadPerCall(2);
  Fake.QueueInput(Pattern(7));
  Bytes buffer(7);
  EXPECT_EQ(Driver.ReadBytes(buffer.data(), 7), 7u);
  EXPECT_EQ(buffer, Pattern(7));
  EXPECT_EQ(Fake.Elapsed(), 0u);
}

TEST_F(DriverTest, CountZeroReturnsAtOnce) {
  Open();
  Fake.QueueInput({1});
  Driver.HoldPolling();
  std::uint8_t byte = 0;
  EXPECT_EQ(Driver.ReadBytes(&byte, 0), 0u);
  EXPECT_EQ(Driver.PollHolds(), 1);
  EXPECT_EQ(Fake.CountCalls("ClearCommError") + Fake.CountCalls("ReadFile") +
                Fake.CountCalls("WaitForInput"),
            0u);
  EXPECT_EQ(Fake.Elapsed(), 0u);
  EXPECT_EQ(Fake.InputQueued(), 1u);
}

class TickWrapTest : public DriverTest, public testing::WithParamInterface<std::uint32_t> {};

TEST_P(TickWrapTest, WaitsDoNotDependOnWhereTheCounterStands) {
  Fake.SetTickCount(GetParam());
  Open();
  Fake.SetMaxWaitStep(1);  // many readings, some on each side of the wrap

  const std::uint32_t start = Fake.Now();
  Fake.ScheduleInput(start + 30, {1});
  Fake.ScheduleInput(start + 70, {2});
  Fake.ScheduleInput(start + 200, {3});
  Bytes buffer(3);
  std::uint32_t got = 0;
  EXPECT_EQ(Duration([&] { got = Driver.ReadBytes(buffer.data(), 3); }), 121u);
  EXPECT_EQ(got, 2u);

  std::uint8_t target = 0;
  Fake.ClearRecord();
  EXPECT_EQ(Duration([&] { EXPECT_FALSE(Driver.ReadByte(target)); }), 51u);

  Fake.StallTransmitFull();
  const Bytes data = {1, 2};
  EXPECT_EQ(Duration([&] { EXPECT_EQ(Driver.WriteBytesTimed(data.data(), 2, 30), 0u); }), 31u);
}

INSTANTIATE_TEST_SUITE_P(Starts, TickWrapTest,
                         testing::Values(0u, 0x80000000u, 0xFFFFFFFFu - 19, 0xFFFFFFFFu - 50,
                                         0xFFFFFFFFu - 120, 0xFFFFFFFFu));

// ---- holding polling ----

TEST_F(DriverTest, ReadBytesPairsItsHold) {
  Open();
  for (std::int32_t startHolds : {-1, 0, 2}) {
    while (Driver.PollHolds() < startHolds) Driver.HoldPolling();
    while (Driver.PollHolds() > startHolds) Driver.ReleasePolling();
    std::vector<std::int32_t> holdsWhileWaiting;
    Fake.SetWaitHook([&](std::uint32_t) { holdsWhileWaiting.push_back(Driver.PollHolds()); });
    Fake.ScheduleInputAfter(10, {5});
    std::uint8_t target = 0;
    EXPECT_TRUE(Driver.ReadByte(target));
    EXPECT_FALSE(Driver.ReadByte(target));
    EXPECT_EQ(Driver.PollHolds(), startHolds);
    EXPECT_THAT(holdsWhileWaiting, testing::Each(startHolds + 1));
    EXPECT_FALSE(holdsWhileWaiting.empty());
    Fake.SetWaitHook(nullptr);
  }
}

TEST_F(DriverTest, ATickDuringARead_LeavesTheBytesToTheReader) {
  Open();
  bool fired = false;
  Fake.SetWaitHook([&](std::uint32_t) {
    if (fired) return;
    fired = true;
    Fake.QueueInput({9});
    Fake.FireTimer();
  });
  std::uint8_t target = 0;
  EXPECT_TRUE(Driver.ReadByte(target));
  EXPECT_EQ(target, 9);
  EXPECT_TRUE(Received.empty());
}

class HoldCountTest : public DriverTest, public testing::WithParamInterface<std::int32_t> {};

TEST_P(HoldCountTest, OnlyACountAboveZeroHoldsAPollTick) {
  Open();
  const std::int32_t holds = GetParam();
  for (std::int32_t i = 0; i < holds; ++i) Driver.HoldPolling();
  for (std::int32_t i = 0; i > holds; --i) Driver.ReleasePolling();
  EXPECT_EQ(Driver.PollHolds(), holds);
  Fake.QueueInput({1, 2, 3});
  Fake.FireTimer();
  if (holds > 0) {
    EXPECT_THAT(Fake.CallNames(), ElementsAre());  // neither queried nor read
    EXPECT_TRUE(Received.empty());
    EXPECT_EQ(Fake.InputQueued(), 3u);
  } else {
    EXPECT_THAT(Received, ElementsAre(Bytes{1, 2, 3}));
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, HoldCountTest, testing::Values(-2, -1, 0, 1, 2));

TEST_F(DriverTest, OpenAndCloseLeaveTheHoldCountAlone) {
  Driver.HoldPolling();
  ASSERT_TRUE(Driver.OpenPort());
  Driver.ClosePort();
  ASSERT_TRUE(Driver.OpenPort());
  EXPECT_EQ(Driver.PollHolds(), 1);
}

// ---- poll ticks ----

struct TTickCase {
  const char* Label;
  std::uint16_t InBufSize;
  std::size_t Queued;
  std::uint32_t MaxReadPerCall;
  std::vector<std::size_t> ExpectSizes;  // one per tick until the queue is empty
};

class PollTickTest : public DriverTest, public testing::WithParamInterface<TTickCase> {};

TEST_P(PollTickTest, TakesAtMostOneBufferFullAndLeavesTheRestQueued) {
  const auto& c = GetParam();
  Driver.SetComPortInBufSize(c.InBufSize);
  Open();
  Fake.SetMaxReadPerCall(c.MaxReadPerCall);
  Fake.QueueInput(Pattern(c.Queued));
  std::size_t taken = 0;
  for (std::size_t tick = 0; tick <= c.ExpectSizes.size(); ++tick) {
    Fake.ClearRecord();
    const TMessage message = Fake.FireTimer();
    EXPECT_EQ(Fake.CountCalls("DefWindowProc"), 0u);
    EXPECT_EQ(message.Result, 0);
    // Never asked for more than the buffer holds: nothing can land past its end.
    for (std::uint32_t size : Fake.ReadRequests()) EXPECT_LE(size, c.InBufSize);
    if (tick < c.ExpectSizes.size()) {
      ASSERT_EQ(Received.size(), tick + 1);
      EXPECT_EQ(Received.back(), Pattern(c.ExpectSizes[tick], taken));
      taken += c.ExpectSizes[tick];
      EXPECT_EQ(Fake.InputQueued(), c.Queued - taken);
    } else {
      // The queue is empty: the tick looks once and reads nothing.
      EXPECT_EQ(Received.size(), c.ExpectSizes.size());
      EXPECT_EQ(Fake.CountCalls("ClearCommError"), 1u);
      EXPECT_EQ(Fake.CountCalls("ReadFile"), 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Queues, PollTickTest,
    testing::Values(TTickCase{"Empty", 50, 0, 0, {}}, TTickCase{"OneByte", 50, 1, 0, {1}},
                    TTickCase{"ExactlyABuffer", 50, 50, 0, {50}},
                    TTickCase{"MoreThanABuffer", 50, 120, 0, {50, 50, 20}},
                    TTickCase{"OneByteBuffer", 1, 3, 0, {1, 1, 1}},
                    TTickCase{"DefaultSizedBuffer", 2048, 3000, 0, {2048, 952}},
                    TTickCase{"ShortReads", 50, 30, 10, {10, 10, 10}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(DriverTest, ATickWithoutAHandlerDropsTheBytes) {
  Driver.SetOnReceiveData(nullptr);
  Open();
  Fake.QueueInput({1, 2});
  Fake.FireTimer();
  EXPECT_EQ(Fake.InputQueued(), 0u);
}

TEST_F(DriverTest, TheTimerIdIsNotExamined) {
  Open();
  Fake.QueueInput({4});
  Fake.FireTimer(7);
  EXPECT_THAT(Received, ElementsAre(Bytes{4}));
}

struct TMessageCase {
  const char* Label;
  std::uint32_t Msg;
  bool Open;
  bool ExpectDefault;
};

class MessageTest : public DriverTest, public testing::WithParamInterface<TMessageCase> {};

TEST_P(MessageTest, WhatIsNotAPollGoesToTheDefaultTreatment) {
  if (GetParam().Open) Open();
  Fake.SetDefWindowProcResult(1234);
  Fake.QueueInput({1});
  Fake.ClearRecord();
  TMessage sent;
  sent.Msg = GetParam().Msg;
  sent.WParam = 1;
  sent.LParam = -77;
  sent.Result = -5;
  const TMessage back = Fake.SendMessage(sent);
  if (GetParam().ExpectDefault) {
    EXPECT_EQ(back.Result, 1234);
    ASSERT_EQ(Fake.DefWindowProcMessages().size(), 1u);
    const TMessage& passed = Fake.DefWindowProcMessages()[0];
    EXPECT_EQ(passed.Msg, sent.Msg);
    EXPECT_EQ(passed.WParam, sent.WParam);
    EXPECT_EQ(passed.LParam, sent.LParam);
    EXPECT_THAT(Fake.CallNames(), ElementsAre("DefWindowProc"));
    EXPECT_TRUE(Received.empty());
  } else {
    EXPECT_EQ(back.Result, -5);
    EXPECT_TRUE(Fake.DefWindowProcMessages().empty());
    EXPECT_THAT(Received, ElementsAre(Bytes{1}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MessageTest,
    testing::Values(TMessageCase{"TimerWhileOpen", platform::WM_TIMER, true, false},
                    TMessageCase{"TimerWhileClosed", platform::WM_TIMER, false, true},
                    TMessageCase{"PaintWhileOpen", WM_PAINT, true, true},
                    TMessageCase{"UserWhileClosed", WM_USER, false, true}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(DriverTest, PollTicksFollowTheTimerAndAHandlerCanReadTheRest) {
  // The receive handler's pattern: the tick brings the first bytes, the handler holds polling
  // and reads the rest of the frame itself.
  std::vector<Bytes> frames;
  Driver.SetOnReceiveData([&](TSerialPortDriver* sender, const void* data, std::uint32_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    Bytes frame(bytes, bytes + size);
    sender->HoldPolling();
    Bytes rest(5 - frame.size());
    rest.resize(sender->ReadBytes(rest.data(), static_cast<std::uint32_t>(rest.size())));
    sender->ReleasePolling();
    frame.insert(frame.end(), rest.begin(), rest.end());
    frames.push_back(frame);
  });
  Open();
  Fake.ScheduleInputAfter(12, {34, 150});
  Fake.ScheduleInputAfter(17, {60, 80, 7});
  Fake.RunFor(100);
  EXPECT_THAT(frames, ElementsAre(Bytes{34, 150, 60, 80, 7}));
  // A tick every 5 ms looks at the queue once (20 in 100 ms); the handler's read looks twice.
  EXPECT_EQ(Fake.CountCalls("ClearCommError"), 20u + 2u);
}

// ---- failing devices ----

struct TFailureCase {
  const char* Label;
  bool ReadOnly;  // only reads fail; the queue can still be queried
  std::function<std::uint32_t(TSerialPortDriver&, TFakeSerialApi&)> Run;
  std::uint32_t ExpectResult;
  std::uint64_t ExpectDuration;
};

class FailingDeviceTest : public DriverTest, public testing::WithParamInterface<TFailureCase> {};

TEST_P(FailingDeviceTest, EveryLoopEndsByItsTimeout) {
  Open();
  Fake.QueueInput({1, 2, 3});  // there, but out of reach
  if (GetParam().ReadOnly) {
    Fake.SetReadFailing(true);
  } else {
    Fake.SetDeviceFailing(true);
  }
  std::uint32_t result = 0;
  EXPECT_EQ(Duration([&] { result = GetParam().Run(Driver, Fake); }), GetParam().ExpectDuration);
  EXPECT_EQ(result, GetParam().ExpectResult);
  EXPECT_TRUE(Received.empty());
  EXPECT_EQ(Driver.PollHolds(), 0);
  EXPECT_LE(Fake.CountCalls("ClearCommError"), 3u);  // waited, not spun
}

const std::function<std::uint32_t(TSerialPortDriver&, TFakeSerialApi&)> ReadOneByte =
    [](TSerialPortDriver& d, TFakeSerialApi&) {
      std::uint8_t target = 0;
      return static_cast<std::uint32_t>(d.ReadByte(target));
    };
const std::function<std::uint32_t(TSerialPortDriver&, TFakeSerialApi&)> Tick =
    [](TSerialPortDriver&, TFakeSerialApi& f) {
      f.FireTimer();
      return static_cast<std::uint32_t>(f.CountCalls("ReadFile"));
    };

INSTANTIATE_TEST_SUITE_P(
    Operations, FailingDeviceTest,
    testing::Values(TFailureCase{"ReadByte", false, ReadOneByte, 0, 51},
                    TFailureCase{"ReadBytes", false,
                                 [](TSerialPortDriver& d, TFakeSerialApi&) {
                                   std::array<std::uint8_t, 5> buffer{};
                                   return d.ReadBytes(buffer.data(), 5);
                                 },
                                 0, 51},
                    TFailureCase{"WriteBytesTimed", false,
                                 [](TSerialPortDriver& d, TFakeSerialApi&) {
                                   const std::array<std::uint8_t, 3> data{1, 2, 3};
                                   return d.WriteBytesTimed(data.data(), 3, 30);
                                 },
                                 0, 31},
                    TFailureCase{"WriteByte", false,
                                 [](TSerialPortDriver& d, TFakeSerialApi&) {
                                   return static_cast<std::uint32_t>(d.WriteByte(110));
                                 },
                                 0, 501},
                    TFailureCase{
                        "InputQueueCount", false,
                        [](TSerialPortDriver& d, TFakeSerialApi&) { return d.InputQueueCount(); },
                        0, 0},
                    TFailureCase{"OutputFreeSpace", false,
                                 [](TSerialPortDriver& d, TFakeSerialApi&) {
                                   return static_cast<std::uint32_t>(d.OutputFreeSpace());
                                 },
                                 0, 0},
                    TFailureCase{"PollTick", false, Tick, 0, 0},
                    // The queue says bytes are there, but reading yields none.
                    TFailureCase{"ReadByteOnUnreadableQueue", true, ReadOneByte, 0, 51},
                    TFailureCase{"PollTickOnUnreadableQueue", true, Tick, 1, 0}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- queue queries and writing ----

struct TQueueCase {
  const char* Label;
  bool Open;
  std::uint16_t OutBufSize;
  std::size_t InputQueued;
  std::optional<std::uint32_t> TransmitQueued;  // stalled with this many bytes
  std::uint32_t ExpectInput;
  std::uint16_t ExpectFree;
};

class QueueQueryTest : public DriverTest, public testing::WithParamInterface<TQueueCase> {};

TEST_P(QueueQueryTest, CountsWhatIsQueued) {
  const auto& c = GetParam();
  Driver.SetComPortOutBufSize(c.OutBufSize);
  if (c.Open) Open();
  Fake.QueueInput(Pattern(c.InputQueued));
  if (c.TransmitQueued) Fake.StallTransmit(*c.TransmitQueued);
  EXPECT_EQ(Driver.InputQueueCount(), c.ExpectInput);
  EXPECT_EQ(Driver.OutputFreeSpace(), c.ExpectFree);
}

INSTANTIATE_TEST_SUITE_P(
    Queues, QueueQueryTest,
    testing::Values(TQueueCase{"Closed", false, 2048, 7, 10u, 65535, 65535},
                    TQueueCase{"OpenAndIdle", true, 2048, 0, std::nullopt, 0, 2048},
                    TQueueCase{"SomethingEachWay", true, 2048, 7, 2000u, 7, 48},
                    TQueueCase{"TransmitFull", true, 2048, 0, 2048u, 0, 0},
                    // The free space is a 16-bit difference, as the component always gave it.
                    TQueueCase{"DeviceQueueBeyondTheAskedSize", true, 100, 0, 200u, 0, 65436}),
    [](const auto& info) { return std::string(info.param.Label); });

struct TWriteCase {
  const char* Label;
  std::optional<std::uint32_t> StallQueued;
  std::optional<std::uint32_t> ResumeAfterMs;
  std::uint32_t MaxWritePerCall;
  std::uint32_t Timeout;
  std::uint32_t ExpectWritten;
  std::uint64_t ExpectDuration;
};

class WriteTest : public DriverTest, public testing::WithParamInterface<TWriteCase> {};

TEST_P(WriteTest, WritesWhatFitsAndWaitsForRoomUpToTheTimeout) {
  const auto& c = GetParam();
  Open();
  if (c.StallQueued) Fake.StallTransmit(*c.StallQueued);
  if (c.ResumeAfterMs) Fake.ResumeTransmitAfter(*c.ResumeAfterMs);
  Fake.SetMaxWritePerCall(c.MaxWritePerCall);
  const Bytes data = Pattern(10, 100);
  std::uint32_t written = 0;
  EXPECT_EQ(Duration([&] { written = Driver.WriteBytesTimed(data.data(), 10, c.Timeout); }),
            c.ExpectDuration);
  EXPECT_EQ(written, c.ExpectWritten);
  EXPECT_EQ(Fake.Written(), Pattern(c.ExpectWritten, 100));
  EXPECT_EQ(Driver.PollHolds(), 0);  // writing takes no hold
  EXPECT_LE(Fake.CountCalls("ClearCommError"), 10u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WriteTest,
    testing::Values(TWriteCase{"FreeLine", std::nullopt, std::nullopt, 0, 50, 10, 0},
                    TWriteCase{"ShortWrites", std::nullopt, std::nullopt, 4, 50, 10, 0},
                    TWriteCase{"StalledThenFreed", 2048u, 30u, 0, 50, 10, 30},
                    TWriteCase{"FreedAtTheTimeout", 2048u, 30u, 0, 30, 10, 30},
                    // At 31 ms there is room again, and room is looked for before the clock.
                    TWriteCase{"FreedAtTimeoutPlusOne", 2048u, 31u, 0, 30, 10, 31},
                    TWriteCase{"FreedTooLate", 2048u, 32u, 0, 30, 0, 31},
                    TWriteCase{"StalledForGood", 2048u, std::nullopt, 0, 30, 0, 31},
                    TWriteCase{"RoomForThreeThenFreed", 2045u, 40u, 0, 50, 10, 40},
                    // The idle clock restarts with the three bytes that went out at once.
                    TWriteCase{"RoomForThreeOnly", 2045u, std::nullopt, 0, 50, 3, 51}),
    [](const auto& info) { return std::string(info.param.Label); });

// Room a query found is written into without asking again: only our writes fill the transmit
// queue. A short write, or room used up, sends the next write back to a query.
struct TKnownRoomCase {
  const char* Label;
  std::optional<std::uint32_t> StallQueued;
  std::uint32_t MaxWritePerCall;
  std::vector<std::uint32_t> Writes;  // sizes, one WriteBytesTimed each, 10 ms time-out
  std::uint32_t ExpectWritten;
  std::uint64_t ExpectQueries;
  std::uint64_t ExpectWriteCalls;
};

class KnownRoomTest : public DriverTest, public testing::WithParamInterface<TKnownRoomCase> {};

TEST_P(KnownRoomTest, WritesIntoWhatAQueryFoundFree) {
  const auto& c = GetParam();
  Open();
  if (c.StallQueued) Fake.StallTransmit(*c.StallQueued);
  Fake.SetMaxWritePerCall(c.MaxWritePerCall);
  const Bytes data = Pattern(16);
  std::uint32_t written = 0;
  for (std::uint32_t size : c.Writes) written += Driver.WriteBytesTimed(data.data(), size, 10);
  EXPECT_EQ(written, c.ExpectWritten);
  EXPECT_EQ(Fake.Written().size(), c.ExpectWritten);
  EXPECT_EQ(Fake.CountCalls("ClearCommError"), c.ExpectQueries);
  EXPECT_EQ(Fake.CountCalls("WriteFile"), c.ExpectWriteCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, KnownRoomTest,
    testing::Values(
        TKnownRoomCase{"RequestsOnAFreeLine", std::nullopt, 0, {1, 1, 1, 1, 1}, 5, 1, 5},
        // Two bytes of room: the third request finds the queue full and never reaches the line.
        TKnownRoomCase{"RoomUsedUp", 2046u, 0, {1, 1, 1}, 2, 3, 2},
        TKnownRoomCase{"ShortWritesAskAgain", std::nullopt, 1, {4}, 4, 4, 4}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(DriverTest, WriteBytesUsesTheOutputTimeout) {
  Driver.SetOutputTimeout(20);
  Open();
  Fake.StallTransmitFull();
  const Bytes data = {1, 2};
  EXPECT_EQ(Duration([&] { EXPECT_EQ(Driver.WriteBytes(data.data(), 2), 0u); }), 21u);
}

// ---- closed port ----

struct TClosedCase {
  const char* Label;
  std::function<std::uint32_t(TSerialPortDriver&)> Run;
  std::uint32_t Expect;
};

class ClosedPortTest : public DriverTest, public testing::WithParamInterface<TClosedCase> {};

TEST_P(ClosedPortTest, NothingReachesTheLine) {
  Fake.QueueInput({1, 2, 3});
  Fake.ClearRecord();
  EXPECT_EQ(Duration([&] { EXPECT_EQ(GetParam().Run(Driver), GetParam().Expect); }), 0u);
  EXPECT_THAT(Fake.CallNames(), ElementsAre());
  EXPECT_EQ(Fake.TickReads(), 0u);
  EXPECT_TRUE(Fake.Written().empty());
  EXPECT_EQ(Fake.InputQueued(), 3u);
  EXPECT_EQ(Driver.PollHolds(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ClosedPortTest,
    testing::Values(TClosedCase{"ReadBytes",
                                [](TSerialPortDriver& d) {
                                  std::array<std::uint8_t, 3> buffer{7, 7, 7};
                                  const std::uint32_t got = d.ReadBytes(buffer.data(), 3);
                                  return buffer == std::array<std::uint8_t, 3>{7, 7, 7} ? got : 999;
                                },
                                0},
                    TClosedCase{"ReadByte",
                                [](TSerialPortDriver& d) {
                                  std::uint8_t target = 7;
                                  return d.ReadByte(target) ? 1u : target;
                                },
                                7},
                    TClosedCase{"WriteByte",
                                [](TSerialPortDriver& d) {
                                  return static_cast<std::uint32_t>(d.WriteByte(1));
                                },
                                0},
                    TClosedCase{"WriteBytesTimed",
                                [](TSerialPortDriver& d) {
                                  const std::array<std::uint8_t, 2> data{1, 2};
                                  return d.WriteBytesTimed(data.data(), 2, 100);
                                },
                                0},
                    TClosedCase{"InputQueueCount",
                                [](TSerialPortDriver& d) { return d.InputQueueCount(); }, 65535},
                    TClosedCase{"OutputFreeSpace",
                                [](TSerialPortDriver& d) {
                                  return static_cast<std::uint32_t>(d.OutputFreeSpace());
                                },
                                65535},
                    TClosedCase{"Purge",
                                [](TSerialPortDriver& d) {
                                  d.Purge(true, true);
                                  return 0u;
                                },
                                0},
                    TClosedCase{"ApplyLineSettings",
                                [](TSerialPortDriver& d) {
                                  d.ApplyLineSettings();
                                  return 0u;
                                },
                                0}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- polling delay ----

struct TDelayCase {
  const char* Label;
  bool Open;
  std::uint16_t Delay;
  std::vector<TFakeTimerCall> ExpectCalls;
};

class PollingDelayTest : public DriverTest, public testing::WithParamInterface<TDelayCase> {};

TEST_P(PollingDelayTest, RestartsTheTimerOnlyForANewValueWhileOpen) {
  const auto& c = GetParam();
  if (c.Open) Open();
  Fake.ClearRecord();
  Driver.SetComPortPollingDelay(c.Delay);
  EXPECT_EQ(Driver.ComPortPollingDelay(), c.Delay);
  EXPECT_THAT(Fake.TimerCalls(), ElementsAreArray(c.ExpectCalls));
  EXPECT_EQ(Fake.TimerRunning(1), c.Open);
  if (!c.Open) {
    ASSERT_TRUE(Driver.OpenPort());
  }
  EXPECT_EQ(Fake.TimerInterval(1), c.Delay);
}

INSTANTIATE_TEST_SUITE_P(
    Delays, PollingDelayTest,
    testing::Values(
        TDelayCase{"SameWhileOpen", true, 5, {}}, TDelayCase{"SameWhileClosed", false, 5, {}},
        TDelayCase{
            "NewWhileOpen", true, 20, {TFakeTimerCall{false, 1, 0}, TFakeTimerCall{true, 1, 20}}},
        TDelayCase{"NewWhileClosed", false, 20, {}}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- closing and destruction ----

TEST_F(DriverTest, ClosePortStopsTheTimerAndClosesWithoutPurging) {
  Open();
  Fake.QueueInput({1});
  Driver.HoldPolling();
  const std::uint64_t handle = static_cast<std::uint64_t>(Fake.OpenHandle());
  Driver.ClosePort();
  EXPECT_FALSE(Driver.IsOpen());
  ASSERT_THAT(Fake.CallNames(), ElementsAre("KillTimer", "CloseHandle"));
  EXPECT_THAT(Fake.TimerCalls(), ElementsAre(TFakeTimerCall{false, 1, 0}));
  EXPECT_EQ(Fake.Calls()[1].Args.at(0), handle);
  EXPECT_EQ(Fake.OpenHandleCount(), 0u);
  EXPECT_EQ(Driver.PollHolds(), 1);

  Fake.ClearRecord();
  Driver.ClosePort();
  EXPECT_THAT(Fake.CallNames(), ElementsAre());
}

TEST(SerialPortDriverLifetime, DestructionClosesThePortFirst) {
  TFakeSerialApi fake;
  auto driver = std::make_unique<TSerialPortDriver>(fake);
  ASSERT_TRUE(driver->OpenPort());
  fake.ClearRecord();
  driver.reset();
  EXPECT_THAT(fake.CallNames(), ElementsAre("KillTimer", "CloseHandle", "DestroyPollWindow"));
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
  EXPECT_FALSE(fake.HasPollWindow());
}

TEST(SerialPortDriverLifetime, DestructionWhileClosedOnlyDestroysTheWindow) {
  TFakeSerialApi fake;
  auto driver = std::make_unique<TSerialPortDriver>(fake);
  fake.ClearRecord();
  driver.reset();
  EXPECT_THAT(fake.CallNames(), ElementsAre("DestroyPollWindow"));
}

// ---- no allocation on the hot paths ----

TEST_F(DriverTest, TicksAndReadsAllocateNothing) {
  std::array<std::uint8_t, 256> sink{};
  std::uint32_t delivered = 0;
  Driver.SetOnReceiveData([&](TSerialPortDriver*, const void* data, std::uint32_t size) {
    std::memcpy(sink.data(), data, size);
    delivered += size;
  });
  Open();
  Fake.QueueInput(Pattern(170));
  Fake.SetRecording(false);
  std::array<std::uint8_t, 20> buffer{};
  std::uint8_t byte = 0;
  std::size_t allocations = 0;
  {
    TAllocationCount count;
    for (int i = 0; i < 3; ++i) Fake.FireTimer();
    Driver.ReadBytes(buffer.data(), 20);
    Driver.ReadByte(byte);  // times out: waits included
    allocations = count.Count();
  }
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(delivered, 150u);
  EXPECT_EQ(buffer[0], 150);

  // The counter does see allocations.
  TAllocationCount control;
  void* block = ::operator new(16);
  EXPECT_EQ(control.Count(), 1u);
  ::operator delete(block);
}

}  // namespace
