// The window and kestlog against the same scripted controller, each on its own scripted line with
// the same virtual clock: warm-up, live frames, corrupt frames, low volts, junk, silence, an
// unplug, the re-plug and a switch to lambda. Both must write the same log, byte for byte, and show
// the same lamps after every step; and both must purge the receive side on every silent watchdog
// tick.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "headless/HeadlessMonitor.h"
#include "tests/headless/HeadlessSupport.h"
#include "tests/support/EngineAccess.h"
#include "tests/support/Frames.h"
#include "tests/ui/UiTestSupport.h"

namespace {

using kesttest::Corrupt;
using kesttest::Frame;
using kesttest::TBytes;
using kesttest::TFakeSerialApi;

// What a user sees of the lamps: online, warm-up and low volts lit, and the read-out live.
struct TShown {
  bool Online = false;
  bool Warmup = false;
  bool LowVolts = false;
  bool Live = false;
  bool operator==(const TShown&) const = default;
};

std::string Describe(const TShown& s) {
  return std::string("online=") + (s.Online ? "1" : "0") + " warmup=" + (s.Warmup ? "1" : "0") +
         " lowvolts=" + (s.LowVolts ? "1" : "0") + " live=" + (s.Live ? "1" : "0");
}

// The rows are stamped from the line's virtual clock, so both sides stamp alike.
QDateTime ClockOf(const TFakeSerialApi& serial) {
  const QDateTime base(QDate(2024, 5, 1), QTime(14, 3, 27), Qt::OffsetFromUTC, 7200);
  return base.addMSecs(static_cast<qint64>(serial.Elapsed()));
}

// One program on its own scripted line.
class TSide {
 public:
  virtual ~TSide() = default;
  TFakeSerialApi Serial;
  virtual void SampleTick() = 0;
  virtual void Watchdog() = 0;
  virtual void SwitchToLambda() = 0;
  virtual void StartLog() = 0;
  virtual TShown Shown() = 0;
  virtual std::vector<std::string> LogLines() = 0;
};

class TWindowSide : public TSide {
 public:
  explicit TWindowSide(const QString& logPath) : LogPath(logPath) {
    ui::TMainWindowOptions options;
    options.SerialApi = &Serial;
    options.Services = &Services;
    options.Locale = platform::TLocaleFormats{};
    options.Now = [this] { return ClockOf(Serial); };
    Window = std::make_unique<ui::TKest3GraphMain>(std::move(options));
    kesttest::SampleTimerOf(Window->Engine).stop();
    kesttest::WatchdogTimerOf(Window->Engine).stop();
    Window->OpenCommsClick();
  }
  void SampleTick() override { Window->GetByteClick(); }
  void Watchdog() override { Window->OnlineTimerTimer(); }
  void SwitchToLambda() override { Window->Lambda1->trigger(); }
  void StartLog() override {
    Services.SaveAnswers.push_back(LogPath);
    Window->LogStart->click();
  }
  TShown Shown() override {
    TShown s;
    s.Online = Window->OnlineLED->BrushColor() == ui::clGreen;
    s.Warmup = Window->WarmupLED->BrushColor() == ui::clGreen;
    s.LowVolts = Window->LowVoltsLED->BrushColor() == ui::clRed;
    s.Live = Window->DigitalDisplay->isEnabled();
    return s;
  }
  std::vector<std::string> LogLines() override {
    bool complete = false;
    return headlesstest::CrLfLines(headlesstest::ReadWholeFile(LogPath.toStdString()), complete);
  }

 private:
  QString LogPath;
  uitest::TRecordingServices Services;
  std::unique_ptr<ui::TKest3GraphMain> Window;
};

class TKestLogSide : public TSide {
 public:
  TKestLogSide() {
    headless::TMonitorSettings settings;
    settings.Format = csvlog::TRowFormat::Classic;
    settings.Now = [this] { return ClockOf(Serial); };
    Monitor = std::make_unique<headless::THeadlessMonitor>(Serial, settings);
    Monitor->OpenPort();
  }
  void SampleTick() override { Monitor->GetByteClick(); }
  void Watchdog() override { Monitor->OnlineTimerTimer(); }
  // kestlog has no menu; the engine's display mode is what the window's menu item sets.
  void SwitchToLambda() override { Monitor->MonitorEngine().SetDisplayMode(sensor::dmLambda); }
  void StartLog() override {
    Monitor->Start(Sink);
    kesttest::SampleTimerOf(Monitor->MonitorEngine()).stop();
    kesttest::WatchdogTimerOf(Monitor->MonitorEngine()).stop();
  }
  TShown Shown() override {
    const headless::TLampState lamps = Monitor->Lamps();
    return TShown{lamps.Online, lamps.WarmupLamp, lamps.LowVolts, lamps.Live};
  }
  std::vector<std::string> LogLines() override { return Sink.Lines; }

 private:
  headlesstest::TMemorySink Sink;
  std::unique_ptr<headless::THeadlessMonitor> Monitor;
};

// What the controller does on a sample: answer with a frame (the answer to the tick's request,
// then the same frame again for the receive handler's own request), send bytes with no frame in
// them, or stay silent.
struct TController {
  TBytes Answer;
  bool Junk = false;
};

// The two timers of a side on the line's clock. A tick that comes due while a handler still runs
// fires late, once, and the next one is due an interval after it, as a toolkit timer behaves.
struct TTimers {
  std::uint64_t NextSample = 100;
  std::uint64_t NextWatchdog = 250;
  std::uint64_t StepEnd = 0;
};

// Drives one side for `periods` watchdog periods: the sample tick every 100 ms with the
// controller's answer, the watchdog every 250 ms. Returns the receive purges of its watchdog
// ticks.
std::size_t RunPeriods(TSide& side, int periods, const TController& controller, TTimers& t) {
  std::size_t purges = 0;
  // A step lasts its periods from where the clock stands: a long handler (junk makes the receive
  // handler wait out its whole sync search) delays what follows, it does not shorten it.
  t.StepEnd =
      std::max(t.StepEnd, side.Serial.Elapsed()) + static_cast<std::uint64_t>(periods) * 250;
  for (;;) {
    const bool sample = t.NextSample < t.NextWatchdog;
    const std::uint64_t due = sample ? t.NextSample : t.NextWatchdog;
    if (due > t.StepEnd) break;
    if (due > side.Serial.Elapsed())
      side.Serial.Advance(static_cast<std::uint32_t>(due - side.Serial.Elapsed()));
    const std::uint64_t fired = side.Serial.Elapsed();
    if (sample) {
      t.NextSample = fired + 100;
      side.SampleTick();
      if (!controller.Answer.empty()) {
        side.Serial.QueueInput(controller.Answer);
        side.Serial.ScheduleInputAfter(3, controller.Answer);
      } else if (controller.Junk) {
        side.Serial.QueueInput({0x55, 0x13, 0x00});
      }
      side.Serial.FireTimer();  // the driver's poll
    } else {
      t.NextWatchdog = fired + 250;
      side.Serial.ClearRecord();
      side.Watchdog();
      for (std::uint32_t flags : side.Serial.PurgeFlags()) {
        if (flags & platform::PURGE_RXCLEAR) ++purges;
      }
    }
  }
  return purges;
}

struct TStep {
  const char* What;
  std::function<void(TSide&)> Before;  // what happens to the line or the program first
  TController Controller;
  int Periods;
  TShown Expected;   // the lamps after the step
  int Purges;        // watchdog ticks that purged the receive side: every silent one, no other
  int NewRows;       // rows the step adds to the log
  const char* Tail;  // the end (after the time) of every new row but the first, which may still
                     // carry the frame before the step's first answer
};

TEST(OneEngine, TheWindowAndKestlogWriteTheSameLogAndShowTheSameLamps) {
  const TBytes warming = Frame(147, 200, 200);
  const TBytes warm = Frame(147, 200, 20);  // 14.7 at 12.5 V
  const TBytes low = Frame(147, 190, 20);   // 11.9 V: below 12.0
  const TBytes back = Frame(148, 200, 20);  // 14.8 at 12.5 V
  const auto nothing = [](TSide&) {};
  const TShown off{};
  const TShown live{true, false, false, true};
  const TShown liveLow{true, false, true, true};
  // Rows a step adds: one a sample tick (100 ms) while the port is open and the sensor warm.
  const TStep steps[] = {
      {"a controller that does not answer yet", nothing, {}, 3, off, 3, 0, nullptr},
      {"warming up", nothing, {warming}, 4, {true, true, false, false}, 0, 0, nullptr},
      {"warm; the user starts the log",
       [](TSide& s) { s.StartLog(); },
       {warm},
       4,
       live,
       0,
       9,
       ",14.7,12.5"},
      {"corrupt frames repeat the last good one",
       nothing,
       {Corrupt(Frame(150, 190, 20))},
       4,
       live,
       0,
       10,
       ",14.7,12.5"},
      {"low volts", nothing, {low}, 4, liveLow, 0, 10, ",14.7,11.9"},
      // Each junk answer keeps the receive handler in its sync search for a second.
      {"junk keeps the controller online", nothing, {{}, true}, 2, liveLow, 0, 2, ",14.7,11.9"},
      {"silence: offline on the fifth tick; the rows repeat the last values",
       nothing,
       {},
       8,
       off,
       5,
       21,
       ",14.7,11.9"},
      // The ticks before the watchdog notices the loss still log; a closed port purges nothing.
      {"unplugged: the port closes and the rows stop",
       [](TSide& s) {
         s.Serial.SetDeviceFailing(true);
         s.Serial.RemoveDevice(TFakeSerialApi::ComName(1));
       },
       {},
       4,
       off,
       0,
       2,
       ",14.7,11.9"},
      // Re-opened within a second; silent (and purged) until the first answer after it.
      {"plugged back in and answering",
       [](TSide& s) {
         s.Serial.AddDevice(TFakeSerialApi::ComName(1));
         s.Serial.SetDeviceFailing(false);
       },
       {back},
       8,
       live,
       2,
       14,
       ",14.8,12.5"},
      {"lambda", [](TSide& s) { s.SwitchToLambda(); }, {back}, 4, live, 0, 10, ",1.01,12.5"},
  };

  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  TWindowSide window(folder.filePath(QStringLiteral("window.csv")));
  TKestLogSide kestlog;
  TSide* const sides[] = {&window, &kestlog};
  TTimers timers[2];
  std::size_t rowsBefore = 0;
  bool logStarted = false;

  for (const TStep& step : steps) {
    SCOPED_TRACE(step.What);
    std::size_t purges[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      step.Before(*sides[i]);
      purges[i] = RunPeriods(*sides[i], step.Periods, step.Controller, timers[i]);
    }
    logStarted = logStarted || step.NewRows > 0;
    EXPECT_EQ(window.Serial.Elapsed(), kestlog.Serial.Elapsed());

    const TShown shown = window.Shown();
    EXPECT_EQ(shown, kestlog.Shown())
        << "window " << Describe(shown) << ", kestlog " << Describe(kestlog.Shown());
    EXPECT_EQ(shown, step.Expected) << Describe(shown);
    EXPECT_EQ(purges[0], static_cast<std::size_t>(step.Purges)) << "the window";
    EXPECT_EQ(purges[1], static_cast<std::size_t>(step.Purges)) << "kestlog";

    if (!logStarted) continue;
    const std::vector<std::string> windowLines = window.LogLines();
    ASSERT_EQ(windowLines, kestlog.LogLines());
    ASSERT_GE(windowLines.size(), 2u);
    const std::size_t rows = windowLines.size() - 2;
    ASSERT_EQ(rows, rowsBefore + static_cast<std::size_t>(step.NewRows));
    for (std::size_t r = rowsBefore + 3; r < windowLines.size(); ++r) {
      const std::string& row = windowLines[r];
      EXPECT_EQ(row.substr(row.find(',')), step.Tail) << row;
    }
    rowsBefore = rows;
  }
}

}  // namespace
