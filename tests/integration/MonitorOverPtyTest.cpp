// The monitor as a user runs it: the main window with the real driver and the system's serial
// backend, on real timers, over a pseudo-terminal with the simulated box on its own thread at the
// far end. What is checked is what a user sees (read-out, online lamp, status bar, beeps) when the
// box answers, falls silent, is pulled out, is plugged back in, sends junk, or when a second
// program wants the same port.
//
// Every wait polls its condition with a generous deadline that only a broken monitor reaches; no
// result depends on how fast the machine is. The deadlines stand for what a user would call
// "at once" (the read-out live within two seconds) and "within about a second" (offline within
// 1.25 s of silence, here allowed 2.5 s).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>

#include "platform/PortMap.h"
#include "serial/SerialPortDriver.h"
#include "sim/KestSimulator.h"
#include "tests/integration/WaitUntil.h"
#include "tests/support/EngineAccess.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Kest3GraphMain.h"

namespace {

constexpr int LiveDeadlineMs = 2000;     // from the port open to the first reading shown
constexpr int OfflineDeadlineMs = 2500;  // from silence to the lamp off (1.25 s, with slack)
constexpr int ReopenDeadlineMs = 5000;   // from the re-plug to the port open again (~1 s retries)
constexpr int StartDeadlineMs = 5000;    // from show() to the port open

using integrationtest::WaitUntil;

// The tests' port map and the system's serial backend that opens by it.
platform::TPortMap& TestPorts() {
  static platform::TPortMap map;
  return map;
}
platform::TSerialApi& TestSerialApi() {
  static const std::unique_ptr<platform::TSerialApi> api =
      platform::CreateSystemSerialApi(TestPorts());
  return *api;
}

// The simulated box behind a symbolic link in a folder of its own, mapped as COM1, the way a
// USB adapter's stable name stands for whatever device node it gets when plugged in.
struct TBench {
  QTemporaryDir Folder;
  std::string Link;
  std::unique_ptr<sim::TKestSimulator> Box;

  explicit TBench(sim::TSimConfig config = {}) {
    Link = Folder.filePath(QStringLiteral("ttyKEST")).toStdString();
    config.ConstantAfr = 147;
    config.LinkPath = Link;
    Box = std::make_unique<sim::TKestSimulator>(config);
    TestPorts().Map(1, Link);
  }
  bool Start() { return Folder.isValid() && Box->Start(); }
};

// The system's serial backend, counting the opens tried through it: a retry of the port keeper
// shows here, so a test can wait for one instead of for a while.
class TOpenCountingApi final : public platform::TSerialApi {
 public:
  explicit TOpenCountingApi(platform::TSerialApi& inner) : Inner(inner) {}
  int OpensTried = 0;

  platform::TPortHandle CreateFile(const std::string& name) override {
    ++OpensTried;
    return Inner.CreateFile(name);
  }
  platform::TOpenError LastOpenError() const override { return Inner.LastOpenError(); }
  platform::TOpenFailure LastOpenFailure() const override { return Inner.LastOpenFailure(); }
  bool CloseHandle(platform::TPortHandle p) override { return Inner.CloseHandle(p); }
  bool SetCommState(platform::TPortHandle p, const platform::TDcb& dcb) override {
    return Inner.SetCommState(p, dcb);
  }
  bool SetupComm(platform::TPortHandle p, std::uint32_t in, std::uint32_t out) override {
    return Inner.SetupComm(p, in, out);
  }
  bool SetCommTimeouts(platform::TPortHandle p, const platform::TCommTimeouts& t) override {
    return Inner.SetCommTimeouts(p, t);
  }
  bool PurgeComm(platform::TPortHandle p, std::uint32_t flags) override {
    return Inner.PurgeComm(p, flags);
  }
  bool ClearCommError(platform::TPortHandle p, std::uint32_t& errors,
                      platform::TComStat& stat) override {
    return Inner.ClearCommError(p, errors, stat);
  }
  bool ReadFile(platform::TPortHandle p, void* buffer, std::uint32_t count,
                std::uint32_t& done) override {
    return Inner.ReadFile(p, buffer, count, done);
  }
  bool WriteFile(platform::TPortHandle p, const void* data, std::uint32_t count,
                 std::uint32_t& done) override {
    return Inner.WriteFile(p, data, count, done);
  }
  void WaitForInput(platform::TPortHandle p, std::uint32_t ms) override {
    Inner.WaitForInput(p, ms);
  }
  void WaitForOutputSpace(platform::TPortHandle p, std::uint32_t ms) override {
    Inner.WaitForOutputSpace(p, ms);
  }
  void SleepMicroseconds(std::uint32_t us) override { Inner.SleepMicroseconds(us); }
  std::uint32_t GetTickCount() override { return Inner.GetTickCount(); }
  bool GetVersionEx(platform::TOsVersionInfo& info) override { return Inner.GetVersionEx(info); }
  std::unique_ptr<platform::TPollWindow> CreatePollWindow(platform::TPollHandler h) override {
    return Inner.CreatePollWindow(std::move(h));
  }

 private:
  platform::TSerialApi& Inner;
};

// A main window on the system's serial ports with the desktop's services recorded.
struct TMonitor {
  uitest::TRecordingServices Services;
  TOpenCountingApi Serial{TestSerialApi()};
  std::unique_ptr<ui::TKest3GraphMain> Window;

  TMonitor() {
    ui::TMainWindowOptions options;
    options.SerialApi = &Serial;
    options.Services = &Services;
    options.Locale = platform::TLocaleFormats{};
    Window = std::make_unique<ui::TKest3GraphMain>(std::move(options));
    Window->show();
  }
  ui::TKest3GraphMain& W() { return *Window; }
  QString Status() const { return Window->StatusBarText(); }
  bool Live() const {
    return Window->DigitalDisplay->isEnabled() && Window->DigitalDisplay->text() == "14.7" &&
           Window->OnlineLED->BrushColor() == ui::clGreen;
  }
  bool Offline() const {
    return !Window->DigitalDisplay->isEnabled() &&
           Window->OnlineLED->BrushColor() == ui::clBtnFace();
  }
};

// Starts the box and a monitor on it and waits until the reading is live.
#define START_LIVE(bench, monitor)                                                              \
  ASSERT_TRUE((bench).Start()) << (bench).Box->LastError();                                     \
  TMonitor monitor;                                                                             \
  ASSERT_TRUE(WaitUntil([&] { return monitor.Status() == "Com1 Port Open"; }, StartDeadlineMs)) \
      << monitor.Status().toStdString();                                                        \
  ASSERT_TRUE(WaitUntil([&] { return monitor.Live(); }, LiveDeadlineMs))                        \
      << "read-out " << monitor.W().DigitalDisplay->text().toStdString() << ", enabled "        \
      << monitor.W().DigitalDisplay->isEnabled()

TEST(MonitorOverPty, ShowsTheReadingGoesOfflineWhenSilentAndComesBack) {
  sim::TSimConfig config;
  // Answers for 3 s, silent for 3 s, and so on.
  config.SilentEverySeconds = 6;
  config.SilentForSeconds = 3;
  TBench bench(config);
  START_LIVE(bench, monitor);
  EXPECT_EQ(monitor.W().VoltsDisplay->text(), "13.8 V");

  ASSERT_TRUE(
      WaitUntil([&] { return bench.Box->Counters().SilentRequestsIgnored > 0; }, StartDeadlineMs));
  EXPECT_TRUE(WaitUntil([&] { return monitor.Offline(); }, OfflineDeadlineMs));
  EXPECT_EQ(monitor.W().DigitalDisplay->text(), "14.7") << "the stale reading stays, greyed";
  EXPECT_EQ(monitor.Status(), "Com1 Port Open") << "a silent box is not a lost port";

  const std::uint64_t framesBefore = bench.Box->Counters().FramesSent;
  ASSERT_TRUE(
      WaitUntil([&] { return bench.Box->Counters().FramesSent > framesBefore; }, StartDeadlineMs));
  EXPECT_TRUE(WaitUntil([&] { return monitor.Live(); }, LiveDeadlineMs));
  EXPECT_EQ(monitor.Services.Beeps, 0);
  EXPECT_EQ(monitor.Services.BoxesShown, 0);
}

TEST(MonitorOverPty, SurvivesAnUnplugWithoutBeeping) {
  TBench bench;
  START_LIVE(bench, monitor);

  ASSERT_TRUE(bench.Box->Unplug());
  EXPECT_TRUE(WaitUntil([&] { return monitor.Offline(); }, OfflineDeadlineMs));
  EXPECT_TRUE(WaitUntil([&] { return monitor.Status() == "Error: could not open Com1"; },
                        OfflineDeadlineMs));
  EXPECT_FALSE(kesttest::StateOf(monitor.W().Engine).PortOpen);
  // Stay unplugged for two retries of the keeper (what that costs in CPU, kest-wait-bench
  // measures).
  const int opens = monitor.Serial.OpensTried;
  EXPECT_TRUE(WaitUntil([&] { return monitor.Serial.OpensTried >= opens + 2; }, ReopenDeadlineMs));
  EXPECT_TRUE(monitor.Offline());
  EXPECT_EQ(monitor.Services.Beeps, 0);
  EXPECT_EQ(monitor.Services.BoxesShown, 0);
  EXPECT_TRUE(monitor.Services.Errors.empty());
  EXPECT_TRUE(monitor.W().isVisible());
}

TEST(MonitorOverPty, ReopensARepluggedAdapterByItself) {
  TBench bench;
  START_LIVE(bench, monitor);

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(bench.Box->Unplug());
    ASSERT_TRUE(WaitUntil([&] { return monitor.Status() == "Error: could not open Com1"; },
                          OfflineDeadlineMs));
    EXPECT_TRUE(WaitUntil([&] { return monitor.Offline(); }, OfflineDeadlineMs));
    const int opens = monitor.Serial.OpensTried;
    ASSERT_TRUE(WaitUntil([&] { return monitor.Serial.OpensTried > opens; }, ReopenDeadlineMs));
    EXPECT_EQ(monitor.Status(), "Error: could not open Com1") << "a retry finds nothing";

    ASSERT_TRUE(bench.Box->Replug()) << bench.Box->LastError();
    EXPECT_TRUE(WaitUntil([&] { return monitor.Status() == "Com1 Port Open"; }, ReopenDeadlineMs));
    EXPECT_TRUE(kesttest::StateOf(monitor.W().Engine).PortOpen);
    EXPECT_TRUE(WaitUntil([&] { return monitor.Live(); }, LiveDeadlineMs));
  }
  EXPECT_EQ(monitor.Services.Beeps, 0);
  EXPECT_EQ(monitor.Services.BoxesShown, 0);
}

TEST(MonitorOverPty, ASecondProgramCannotTakeAPortInUse) {
  TBench bench;
  START_LIVE(bench, monitor);

  {
    TMonitor second;
    EXPECT_TRUE(
        WaitUntil([&] { return second.Status() == "Error: could not open Com1"; }, StartDeadlineMs))
        << second.Status().toStdString();
    EXPECT_EQ(second.Services.Beeps, 1) << "the user's own start is told with a beep";
    EXPECT_FALSE(kesttest::StateOf(second.W().Engine).PortOpen);

    // A bare driver on the same device is refused as well, and told why.
    TSerialPortDriver driver(TestSerialApi());
    driver.SetComPort(TComPortNumber::pnCOM1);
    EXPECT_FALSE(driver.OpenPort());
    EXPECT_EQ(TestSerialApi().LastOpenError(), platform::TOpenError::InUse);

    // The first program goes on as if nothing happened, frame after frame.
    const std::uint64_t sent = bench.Box->Counters().FramesSent;
    ASSERT_TRUE(
        WaitUntil([&] { return bench.Box->Counters().FramesSent >= sent + 5; }, StartDeadlineMs));
    EXPECT_TRUE(monitor.Live());
    EXPECT_FALSE(second.Live());
  }
  EXPECT_EQ(monitor.Status(), "Com1 Port Open");
  EXPECT_EQ(monitor.Services.Beeps, 0);
}

TEST(MonitorOverPty, JunkAndCorruptFramesDoNotShakeTheReading) {
  sim::TSimConfig config;
  config.JunkRate = 0.5;
  config.CorruptRate = 0.3;
  config.Seed = 7;
  TBench bench(config);
  START_LIVE(bench, monitor);

  // Sample what the user sees whenever the box has sent a frame, for thirty frames. A rejected
  // frame repeats the last good one; only a false frame inside junk whose check byte happens to
  // hold (about 1 in 256) can show something else, for one watchdog tick.
  int samples = 0;
  int steady = 0;
  int offline = 0;
  while (samples < 30) {
    const std::uint64_t sent = bench.Box->Counters().FramesSent;
    ASSERT_TRUE(
        WaitUntil([&] { return bench.Box->Counters().FramesSent > sent; }, StartDeadlineMs));
    ++samples;
    if (monitor.Live()) ++steady;
    if (monitor.W().OnlineLED->BrushColor() != ui::clGreen) ++offline;
  }
  const sim::TSimCounters sent = bench.Box->Counters();
  EXPECT_GT(sent.JunkBytesSent, 0u);
  EXPECT_GT(sent.FramesCorrupted, 0u);
  EXPECT_EQ(offline, 0) << "junk is data: the box stays online";
  EXPECT_GE(steady * 4, samples * 3) << steady << " of " << samples << " samples showed 14.7";
  EXPECT_EQ(monitor.Services.Beeps, 0);
}

}  // namespace
