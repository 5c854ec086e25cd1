// The main window's start-up, receive path, sample tick and watchdog, over the scripted serial
// device and with the desktop's services recorded.
#include <gtest/gtest.h>

#include <QTest>

#include "UiTestSupport.h"
#include "platform/OpenErrorHint.h"
#include "tests/support/EngineAccess.h"

using kesttest::TFakeSerialApi;
using uitest::TWindowFixture;

namespace {

using TBytes = std::vector<std::uint8_t>;

// The poll takes `chunk`; the handler's own request is answered 1 ms later with `answer`.
void Receive(TWindowFixture& f, const TBytes& answer, const TBytes& chunk = {0}) {
  f.Serial.QueueInput(chunk);
  if (!answer.empty()) f.Serial.ScheduleInputAfter(1, answer);
  f.Serial.FireTimer();
}

// The port open and the first watchdog tick past: the controller shows offline until it answers.
struct TOpenWindow : TWindowFixture {
  TOpenWindow() {
    W().OpenCommsClick();
    W().OnlineTimerTimer();
    Serial.ClearRecord();
  }
};

}  // namespace

TEST(StartUp, StatusBarSaysWhetherThePortOpened) {
  TWindowFixture present;
  present.W().OpenCommsClick();
  EXPECT_EQ(present.W().StatusBarText(), "Com1 Port Open");
  EXPECT_TRUE(kesttest::StateOf(present.W().Engine).PortOpen);
  EXPECT_EQ(present.Services.Beeps, 0);

  TWindowFixture absent(false);
  absent.W().OpenCommsClick();
  EXPECT_EQ(absent.W().StatusBarText(), "Error: could not open Com1");
  EXPECT_FALSE(kesttest::StateOf(absent.W().Engine).PortOpen);
  EXPECT_EQ(absent.Services.Beeps, 1);
  // Tried again on the next activation, which finds the device this time.
  absent.Serial.AddDevice(TFakeSerialApi::ComName(1));
  absent.W().OpenCommsClick();
  EXPECT_EQ(absent.W().StatusBarText(), "Com1 Port Open");
  EXPECT_TRUE(kesttest::StateOf(absent.W().Engine).PortOpen);
}

TEST(StartUp, ShowingTheWindowOpensThePortOnce) {
  TWindowFixture f;
  f.W().show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f.W()));
  QApplication::processEvents();
  EXPECT_EQ(f.W().StatusBarText(), "Com1 Port Open");
  EXPECT_EQ(f.Serial.CountCalls("CreateFile"), 1u);
}

// Where the controls start is the layout test's; this is the state behind them.
TEST(StartUp, StartState) {
  TWindowFixture f;
  auto& w = f.W();
  EXPECT_EQ(w.ApplicationTitleText(), "Torvane KEST");
  EXPECT_EQ(kesttest::StateOf(w.Engine).FuelType, 1);
  EXPECT_EQ(kesttest::StateOf(w.Engine).DisplayMode, 1);
  for (ui::TLamp* lamp : {w.OnlineLED, w.WarmupLED, w.LowVoltsLED, w.LogToDiskLED})
    EXPECT_EQ(lamp->BrushColor(), ui::clBtnFace());
  EXPECT_EQ(w.TempBar->maximum(), 50);
  EXPECT_EQ(kesttest::SampleTimerOf(w.Engine).interval(), 100);
  EXPECT_EQ(kesttest::SampleTimerOf(w.Engine).timerType(), Qt::PreciseTimer);
  EXPECT_EQ(kesttest::WatchdogTimerOf(w.Engine).interval(), 250);
}

// What the controller's line gets from the window: COM1 at 19200 bit/s, 8N1 with DTR and RTS
// raised and no flow control, queues of 50 and 2048 bytes, and reads that give up once 50 ms
// have passed without a byte. (The 5 ms poll is the sample-tick test's.)
TEST(StartUp, OpeningProgramsTheControllersLine) {
  TWindowFixture f;
  f.W().OpenCommsClick();
  EXPECT_TRUE(f.Serial.IsDeviceOpen(R"(\\.\COM1)"));
  ASSERT_EQ(f.Serial.DcbsWritten().size(), 1u);
  const platform::TDcb& dcb = f.Serial.DcbsWritten()[0];
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.Flags, 0x1011u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  ASSERT_EQ(f.Serial.SetupCommSizes().size(), 1u);
  EXPECT_EQ(f.Serial.SetupCommSizes()[0], (std::pair<std::uint32_t, std::uint32_t>{50, 2048}));

  std::uint8_t byte = 0;
  const std::uint64_t before = f.Serial.Elapsed();
  EXPECT_FALSE(kesttest::DriverOf(f.W().Engine).ReadByte(byte));
  EXPECT_EQ(f.Serial.Elapsed() - before, 51u) << "a silent read waits just past 50 ms";
}

TEST(ReceivePath, FramesAreCheckedKeptAndDecided) {
  struct TCase {
    const char* Name;
    bool EarlierGoodFrame;  // 34, 120, 210, 30, 117 first
    TBytes Answer;
    sensor::SensorFrame Expected;
    double Volts;
    bool WarmingUp;
  };
  const sensor::SensorFrame valid{34, 147, 200, 20, 110};
  const sensor::SensorFrame earlier{34, 120, 210, 30, 117};
  const TCase cases[] = {
      {"valid frame", false, {34, 147, 200, 20, 110}, valid, 12.549, false},
      {"bad check, no earlier frame", false, {34, 147, 200, 20, 111}, {}, 0.0, false},
      {"bad check, earlier frame", true, {34, 147, 200, 20, 111}, earlier, 13.176, false},
      {"doubled sync", false, {34, 34, 147, 200, 20, 110}, valid, 12.549, false},
      {"temperature 179 is warm",
       false,
       {34, 147, 200, 179, 207},
       {34, 147, 200, 179, 207},
       12.549,
       false},
      {"temperature 180 warms up",
       false,
       {34, 147, 200, 180, 206},
       {34, 147, 200, 180, 206},
       12.549,
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOpenWindow f;
    auto& s = f.W().Engine.State();
    if (c.EarlierGoodFrame) Receive(f, {34, 120, 210, 30, 117});
    Receive(f, c.Answer);
    EXPECT_EQ(s.SensorFrame, c.Expected);
    EXPECT_NEAR(s.SupplyVolts, c.Volts, 0.0005);
    EXPECT_EQ(s.WarmingUp, c.WarmingUp);
    EXPECT_EQ(f.W().WarmupMessage->isVisibleTo(&f.W()), c.WarmingUp);
    EXPECT_EQ(f.W().WarmupLED->BrushColor(), c.WarmingUp ? ui::clGreen : ui::clBtnFace());
    EXPECT_EQ(f.W().DigitalDisplay->isEnabled(), !c.WarmingUp);
    EXPECT_EQ(s.OnlineCountdown, 5);
  }
}

TEST(ReceivePath, JunkBeforeTheSync) {
  for (int junk : {0, 5, 18, 19, 25}) {
    SCOPED_TRACE(junk);
    TOpenWindow f;
    TBytes answer(junk, 7);
    answer.insert(answer.end(), {34, 147, 200, 20, 110});
    Receive(f, answer);
    const bool found = junk <= 18;
    EXPECT_EQ(kesttest::StateOf(f.W().Engine).SensorFrame.AfrByte, found ? 147 : 0);
    EXPECT_EQ(kesttest::StateOf(f.W().Engine).OnlineCountdown, 5);
  }
}

TEST(ReceivePath, AnyChunkLightsTheLampAndReloadsTheCountdownAndAsksAgain) {
  TOpenWindow f;
  auto& w = f.W();
  kesttest::StateOf(w.Engine).OnlineCountdown = 1;
  f.Serial.ClearWritten();
  Receive(f, {}, {0xFF, 0x13, 0x00});  // pure junk, then silence
  EXPECT_EQ(w.OnlineLED->BrushColor(), ui::clGreen);
  EXPECT_EQ(kesttest::StateOf(w.Engine).OnlineCountdown, 5);
  EXPECT_EQ(f.Serial.Written(), TBytes{110});
  EXPECT_EQ(kesttest::DriverOf(w.Engine).PollHolds(), 0);
  EXPECT_FALSE(w.DigitalDisplay->isEnabled()) << "no frame, nothing becomes live";
}

TEST(Watchdog, NoControllerShowsGreyedZeroFrameAndGoesOfflineOnTheFifthTick) {
  TOpenWindow f;
  auto& w = f.W();
  Receive(f, {}, {1});  // something arrived once, then silence
  ASSERT_EQ(kesttest::StateOf(w.Engine).OnlineCountdown, 5);
  f.Serial.ClearRecord();
  for (int tick = 1; tick <= 4; ++tick) {
    w.OnlineTimerTimer();
    EXPECT_EQ(w.OnlineLED->BrushColor(), ui::clGreen) << tick;
  }
  EXPECT_TRUE(f.Serial.PurgeFlags().empty());
  w.OnlineTimerTimer();
  EXPECT_EQ(w.OnlineLED->BrushColor(), ui::clBtnFace());
  EXPECT_FALSE(w.DigitalDisplay->isEnabled());
  EXPECT_FALSE(w.VoltsDisplay->isEnabled());
  EXPECT_EQ(w.DigitalDisplay->text(), "10.0");
  EXPECT_EQ(w.VoltsDisplay->text(), "0.0 V");
  EXPECT_EQ(w.TempBar->value(), 50);
  w.OnlineTimerTimer();
  w.OnlineTimerTimer();
  EXPECT_EQ(f.Serial.PurgeFlags(), (std::vector<std::uint32_t>{0xA, 0xA, 0xA}));
}

TEST(Watchdog, ReadOutsFollowTheFrame) {
  struct TCase {
    TBytes Answer;
    int Mode;
    int Fuel;
    const char* Reading;
    const char* Volts;
    int Bar;
  };
  const TCase cases[] = {
      {{34, 147, 200, 20, 110}, 1, 1, "14.7", "12.5 V", 30},
      {{34, 147, 200, 10, 120}, 2, 1, "1.00", "12.5 V", 40},
      {{34, 147, 200, 49, 81}, 1, 2, "6.4", "12.5 V", 1},
      {{34, 147, 200, 50, 80}, 1, 3, "15.5", "12.5 V", 1},
      {{34, 147, 200, 120, 10}, 1, 1, "14.7", "12.5 V", 1},
      {{34, 147, 200, 200, 186}, 1, 1, "00.0", "n/a ", 50},  // bar left as it was
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Reading);
    TOpenWindow f;
    auto& w = f.W();
    if (c.Mode == 2) w.Lambda1Click();
    if (c.Fuel == 2) w.Methanol1Click();
    if (c.Fuel == 3) w.Propane1Click();
    Receive(f, c.Answer);
    w.OnlineTimerTimer();
    EXPECT_EQ(w.DigitalDisplay->text(), c.Reading);
    EXPECT_EQ(w.VoltsDisplay->text(), c.Volts);
    EXPECT_EQ(w.TempBar->value(), c.Bar);
    const bool warm = c.Answer[3] < 180;
    EXPECT_EQ(w.DigitalDisplay->isEnabled(), warm);
    EXPECT_EQ(w.VoltsDisplay->isEnabled(), warm);
  }
}

TEST(Watchdog, TitleCarriesTheReadingInTheBackground) {
  for (int mode : {1, 2}) {
    TOpenWindow f;
    auto& w = f.W();
    if (mode == 2) w.Lambda1Click();
    Receive(f, {34, 147, 200, 20, 110});
    w.OnlineTimerTimer();
    EXPECT_EQ(w.ApplicationTitleText(), "Torvane KEST");
    f.Services.Active = false;
    w.OnlineTimerTimer();
    EXPECT_EQ(w.ApplicationTitleText(), mode == 1 ? " AFR = 14.7" : " LAMBDA = 1.00");
    EXPECT_EQ(w.windowIconText(), w.ApplicationTitleText());
    // The title is what task bars show.
    EXPECT_EQ(w.windowTitle(), w.ApplicationTitleText());
    f.Services.Active = true;
    w.OnlineTimerTimer();
    EXPECT_EQ(w.ApplicationTitleText(), "Torvane KEST");
    EXPECT_EQ(w.windowIconText(), "Torvane KEST");
    EXPECT_EQ(w.windowTitle(), "Torvane LSU4 KEST INTERFACE");
    EXPECT_FALSE(kesttest::StateOf(w.Engine).TitleShowsReading);
  }
}

TEST(SampleTick, AsksEveryTickAndKeepsLampsOffWhileThePortIsClosed) {
  TWindowFixture f(false);
  auto& w = f.W();
  w.OpenCommsClick();
  // Lamps and read-out as a controller left them (the engine's state, and the widgets with it).
  kesttest::StateOf(w.Engine).OnlineLamp = kesttest::StateOf(w.Engine).LowVoltsLamp =
      kesttest::StateOf(w.Engine).WarmupLamp = true;
  kesttest::StateOf(w.Engine).ReadingLive = true;
  w.OnlineLED->SetBrushColor(ui::clGreen);
  w.LowVoltsLED->SetBrushColor(ui::clRed);
  w.WarmupLED->SetBrushColor(ui::clGreen);
  w.DigitalDisplay->setEnabled(true);
  w.GetByteClick();
  for (ui::TLamp* lamp : {w.OnlineLED, w.WarmupLED, w.LowVoltsLED})
    EXPECT_EQ(lamp->BrushColor(), ui::clBtnFace());
  EXPECT_FALSE(w.DigitalDisplay->isEnabled());
  EXPECT_FALSE(kesttest::StateOf(w.Engine).ReadingLive);

  TOpenWindow open;
  open.Serial.ClearWritten();
  for (int i = 0; i < 3; ++i) open.W().GetByteClick();
  EXPECT_EQ(open.Serial.Written(), (TBytes{110, 110, 110}));
}

TEST(SampleTick, SliderChoosesTheInterval) {
  TWindowFixture f;
  f.W().TrackBar1->setValue(1);
  EXPECT_EQ(kesttest::SampleTimerOf(f.W().Engine).interval(), 80);
  f.W().TrackBar1->setValue(2);
  EXPECT_EQ(kesttest::SampleTimerOf(f.W().Engine).interval(), 100);
}

// A port that stays open keeps its status text when a call on it fails; the tool tip says why, in
// the system's words and code.
TEST(StartUp, AFailingWriteKeepsTheStatusAndTellsWhyInTheTooltip) {
  TWindowFixture f;
  f.W().OpenCommsClick();
  f.Serial.FailCall("WriteFile", platform::TSystemError{5, "Input/output error"});
  f.W().GetByteClick();
  EXPECT_EQ(f.W().StatusBarText(), "Com1 Port Open");
  EXPECT_EQ(f.W().StatusText->toolTip(), "COM1: writing failed: Input/output error (error 5)");
}

TEST(SampleTick, ThePollTimerRunsEveryFiveMillisecondsWhileOpen) {
  TOpenWindow f;
  EXPECT_TRUE(f.Serial.TimerRunning(1));
  EXPECT_EQ(f.Serial.TimerInterval(1), 5u);
}

// The status bar keeps its text; the tooltip tells the user how to get the permission, in the
// system's terms (the dialout group on Linux).
TEST(StartUp, APermissionRefusalExplainsTheRemedyInTheTooltip) {
  struct TStep {
    platform::TOpenError Error;
    const char* Status;
    bool Hint;
  };
  const TStep steps[] = {
      {platform::TOpenError::PermissionDenied, "Error: could not open Com1", true},
      {platform::TOpenError::NotFound, "Error: could not open Com1", false},
      {platform::TOpenError::PermissionDenied, "Error: could not open Com1", true},
      {platform::TOpenError::None, "Com1 Port Open", false},  // an open clears it
  };
  TWindowFixture f;
  for (const TStep& step : steps) {
    f.Serial.SetOpenError(TFakeSerialApi::ComName(1), step.Error);
    f.W().OpenCommsClick();
    EXPECT_EQ(f.W().StatusBarText(), step.Status);
    const QString remedy =
        QString::fromStdString(platform::OpenErrorHint(platform::TOpenError::PermissionDenied));
    EXPECT_EQ(f.W().StatusText->toolTip().contains(remedy), step.Hint)
        << f.W().StatusText->toolTip().toStdString();
  }
}
