// The windowless monitor over the scripted serial line, on its virtual clock: which rows it writes
// and what their status says, through warm-up, live, silence, low volts, bad frames and an unplug.
#include <gtest/gtest.h>

#include <QDateTime>
#include <functional>
#include <regex>

#include "headless/HeadlessMonitor.h"
#include "log/TextLogReader.h"
#include "sensor/Monitoring.h"
#include "tests/headless/HeadlessSupport.h"
#include "tests/support/EngineAccess.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/support/Frames.h"

namespace {

using csvlog::TRowFormat;
using headless::THeadlessMonitor;
using headlesstest::TMemorySink;
using kesttest::Corrupt;
using kesttest::Frame;
using kesttest::TBytes;
using kesttest::TFakeSerialApi;

// Supply voltage codes: 12.55 V, 11.92 V (below 12.0), 12.05 V (between 12.0 and 12.1), 12.17 V.
constexpr std::uint8_t Volts12_5 = 200;
constexpr std::uint8_t VoltsLow = 190;
constexpr std::uint8_t VoltsBand = 192;
constexpr std::uint8_t VoltsAbove = 194;

struct TMonitorFixture {
  TFakeSerialApi Serial;
  TMemorySink Sink;
  std::unique_ptr<THeadlessMonitor> Monitor;

  explicit TMonitorFixture(TRowFormat format, int displayMode = sensor::dmAirFuelRatio,
                           bool fast = false) {
    headless::TMonitorSettings settings;
    settings.Format = format;
    settings.DisplayMode = displayMode;
    settings.Fast = fast;
    // Rows are stamped from the line's virtual clock, so they are the same on every run.
    const QDateTime base(QDate(2024, 5, 1), QTime(14, 3, 27), Qt::OffsetFromUTC, 7200);
    settings.Now = [this, base] { return base.addMSecs(static_cast<qint64>(Serial.Elapsed())); };
    Monitor = std::make_unique<THeadlessMonitor>(Serial, settings);
    EXPECT_TRUE(Monitor->OpenPort());
    Monitor->Start(Sink);
    // The tests drive the ticks by hand.
    kesttest::SampleTimerOf(Monitor->MonitorEngine()).stop();
    kesttest::WatchdogTimerOf(Monitor->MonitorEngine()).stop();
  }
  THeadlessMonitor& M() { return *Monitor; }

  // The poll takes a byte; the handler's own request is answered 1 ms later with `answer`.
  void Answer(const TBytes& answer, const TBytes& chunk = {0}) {
    Serial.QueueInput(chunk);
    if (!answer.empty()) Serial.ScheduleInputAfter(1, answer);
    Serial.FireTimer();
  }
  void Watchdog(int ticks) {
    for (int i = 0; i < ticks; ++i) {
      Serial.Advance(250);  // the watchdog's period
      M().OnlineTimerTimer();
    }
  }
  // The adapter is pulled out: its handle fails every call and its name is gone.
  void Unplug() {
    Serial.SetDeviceFailing(true);
    Serial.RemoveDevice(TFakeSerialApi::ComName(1));
  }
  void Replug() {
    Serial.AddDevice(TFakeSerialApi::ComName(1));
    Serial.SetDeviceFailing(false);
  }
  std::size_t Rows() const { return Sink.Lines.size() - HeaderCount(); }
  std::size_t HeaderCount() const {
    return Sink.Lines.empty() || Sink.Lines[0] != csvlog::ExtendedHeader ? 2u : 1u;
  }
  const std::string& LastLine() const { return Sink.Lines.back(); }
};

std::string StatusOfRow(const std::string& row) { return row.substr(row.rfind(',') + 1); }

// ---- the extended format's status column ----

struct TStatusStep {
  const char* What;
  std::function<void(TMonitorFixture&)> Do;
  const char* Status;  // of the row the sample tick after it writes
};

TEST(HeadlessStatus, FollowsWarmupLiveSilenceAndLowVolts) {
  const TStatusStep steps[] = {
      {"before the first answer", [](TMonitorFixture&) {}, "offline"},
      {"a warm-up frame", [](TMonitorFixture& f) { f.Answer(Frame(147, Volts12_5, 200)); },
       "warmup"},
      {"a warm frame", [](TMonitorFixture& f) { f.Answer(Frame(147, Volts12_5, 20)); }, "live"},
      {"four silent watchdog ticks", [](TMonitorFixture& f) { f.Watchdog(4); }, "live"},
      {"the fifth silent tick", [](TMonitorFixture& f) { f.Watchdog(1); }, "offline"},
      {"still silent", [](TMonitorFixture& f) { f.Watchdog(3); }, "offline"},
      {"junk without a frame: online, but nothing live",
       [](TMonitorFixture& f) {
         f.Answer({}, {1, 2, 3});
       },
       "offline"},
      {"answering again", [](TMonitorFixture& f) { f.Answer(Frame(147, Volts12_5, 20)); }, "live"},
      {"supply below 12.0 V", [](TMonitorFixture& f) { f.Answer(Frame(147, VoltsLow, 20)); },
       "lowvolts"},
      {"12.05 V keeps the lamp lit",
       [](TMonitorFixture& f) { f.Answer(Frame(147, VoltsBand, 20)); }, "lowvolts"},
      {"above 12.1 V puts it out", [](TMonitorFixture& f) { f.Answer(Frame(147, VoltsAbove, 20)); },
       "live"},
      {"a corrupt low-volts frame repeats the last good one",
       [](TMonitorFixture& f) { f.Answer(Corrupt(Frame(150, VoltsLow, 20))); }, "live"},
      {"low volts again", [](TMonitorFixture& f) { f.Answer(Frame(147, VoltsLow, 20)); },
       "lowvolts"},
      {"silence puts the low-volts lamp out with the rest",
       [](TMonitorFixture& f) { f.Watchdog(5); }, "offline"},
      {"back, warming up again", [](TMonitorFixture& f) { f.Answer(Frame(147, VoltsLow, 180)); },
       "warmup"},
      {"TempByte 179 is warm", [](TMonitorFixture& f) { f.Answer(Frame(147, Volts12_5, 179)); },
       "live"},
  };
  TMonitorFixture f(TRowFormat::Extended);
  for (const TStatusStep& step : steps) {
    step.Do(f);
    const std::size_t before = f.Rows();
    f.M().GetByteClick();
    ASSERT_EQ(f.Rows(), before + 1) << step.What << ": the extended log writes every tick";
    EXPECT_EQ(StatusOfRow(f.LastLine()), step.Status) << step.What << ": " << f.LastLine();
    EXPECT_STREQ(csvlog::StatusWord(f.M().Status()), step.Status) << step.What;
  }
}

TEST(HeadlessStatus, ExtendedRowCarriesTheSampleAndTheLineClock) {
  TMonitorFixture f(TRowFormat::Extended, sensor::dmLambda);
  ASSERT_EQ(f.Sink.Lines.size(), 1u);
  EXPECT_EQ(f.Sink.Lines[0], csvlog::ExtendedHeader);
  f.Answer(Frame(148, Volts12_5, 20));
  f.M().GetByteClick();
  const std::regex form(R"(2024-05-01T14:03:27\.\d{3}\+02:00,1\.01,14\.8,1\.007,12\.55,20,live)");
  EXPECT_TRUE(std::regex_match(f.LastLine(), form)) << f.LastLine();
}

// The MSL header waits for the first row, whose wall-clock time it carries; the rows' seconds are
// the line clock's distance from that row, and our MSL reader reads them back.
TEST(HeadlessMsl, HeaderComesWithTheFirstRowAndRowsCountFromIt) {
  TMonitorFixture f(TRowFormat::Msl, sensor::dmLambda);
  EXPECT_TRUE(f.Sink.Lines.empty());
  std::vector<std::uint64_t> tickTimes;
  const auto tick = [&] {
    tickTimes.push_back(f.Serial.Elapsed());
    f.M().GetByteClick();
  };
  f.Answer(Frame(148, Volts12_5, 20));
  tick();
  f.Serial.Advance(100);
  tick();
  f.Serial.Advance(80);
  f.Answer(Frame(147, VoltsLow, 20));
  tick();
  ASSERT_EQ(f.Sink.Lines.size(), 4u + tickTimes.size());
  const std::regex capture(R"("Capture Date: 2024-05-01T14:03:27\.\d{3}\+02:00")");
  EXPECT_TRUE(std::regex_match(f.Sink.Lines[1], capture)) << f.Sink.Lines[1];

  std::string text;
  for (const std::string& line : f.Sink.Lines) text += line + "\r\n";
  const enginelog::TLog log = enginelog::ReadTextLog(text, "drive.msl");
  ASSERT_TRUE(log.Ok()) << log.Error;
  ASSERT_EQ(log.Rows(), tickTimes.size()) << text;
  ASSERT_EQ(log.Channels.size(), 4u) << text;  // Lambda, Volts, Temp, Status
  const std::vector<std::vector<float>> expected = {
      {1.007f, 12.55f, 20, 0}, {1.007f, 12.55f, 20, 0}, {1.0f, 11.92f, 20, 3}};
  for (std::size_t r = 0; r < tickTimes.size(); ++r) {
    EXPECT_DOUBLE_EQ(log.Times[r], static_cast<double>(tickTimes[r] - tickTimes[0]) / 1000.0);
    for (std::size_t c = 0; c < expected[r].size(); ++c) {
      EXPECT_FLOAT_EQ(log.Channels[c].Values[r], expected[r][c]) << log.Channels[c].Name << r;
    }
  }
}

TEST(HeadlessStatus, StatusLineShowsWhatTheWindowsReadoutShows) {
  struct TCase {
    const char* What;
    int Mode;
    TBytes Answer;
    bool Unplugged;  // after the answer, the adapter is pulled out and the keeper notices
    const char* Readout;
    const char* Volts;
    const char* Lamps;  // the status line's words between the volts and the frame rate
  };
  const TCase cases[] = {
      {"warming", sensor::dmAirFuelRatio, Frame(147, Volts12_5, 200), false, "00.0", "n/a",
       "online warmup"},
      {"warm", sensor::dmAirFuelRatio, Frame(147, Volts12_5, 20), false, "14.7", "12.5 V",
       "online"},
      {"lambda", sensor::dmLambda, Frame(147, Volts12_5, 20), false, "1.00", "12.5 V", "online"},
      // The placeholders belong to an open port's warm-up: once the port is lost, the frame's
      // own reading and volts are shown beside the loss.
      {"lost while warming", sensor::dmAirFuelRatio, Frame(147, Volts12_5, 200), true, "14.7",
       "12.5 V", "device lost"},
  };
  for (const TCase& c : cases) {
    TMonitorFixture f(TRowFormat::Classic, c.Mode);
    f.Answer(c.Answer);
    if (c.Unplugged) {
      f.Unplug();
      f.Serial.FireTimer();  // the poll finds the device gone
      f.Watchdog(1);
    }
    const headless::TStatusView view = f.M().StatusView();
    EXPECT_EQ(view.ReadoutText, c.Readout) << c.What;
    EXPECT_EQ(view.VoltsText, c.Volts) << c.What;
    EXPECT_EQ(view.DisplayMode, c.Mode) << c.What;
    const std::string line = headless::StatusLine(view);
    const std::string words = std::string(c.Readout) + "  " + c.Volts + "  " + c.Lamps + "  ";
    EXPECT_EQ(line.substr(line.find(' ') + 1, words.size()), words) << c.What << ": " << line;
  }
}

// kestlog --fast: the sample tick comes every 80 ms instead of every 100, and so do the rows. The
// engine's sample timer is stepped on the line's clock for four seconds.
TEST(HeadlessStatus, FastAndNormalGiveTheirOwnRowRates) {
  struct TCase {
    bool Fast;
    std::size_t Rows;
  };
  for (const TCase& c : {TCase{false, 40}, TCase{true, 50}}) {
    TMonitorFixture f(TRowFormat::Extended, sensor::dmAirFuelRatio, c.Fast);
    const auto interval =
        static_cast<std::uint32_t>(kesttest::SampleTimerOf(f.M().MonitorEngine()).interval());
    ASSERT_GT(interval, 0u);
    for (std::uint32_t elapsed = interval; elapsed <= 4000; elapsed += interval) {
      f.Serial.Advance(interval);
      f.M().GetByteClick();
    }
    EXPECT_EQ(f.Rows(), c.Rows) << (c.Fast ? "FAST" : "NORMAL");
  }
}

// ---- the classic format: the window's rows ----

TEST(HeadlessClassic, WritesTheWindowsRowsAndSurvivesAnUnplug) {
  struct TClassicStep {
    const char* What;
    std::function<void(TMonitorFixture&)> Do;
    std::size_t NewRows;
    const char* Tail;  // the end of the last row, after its time
  };
  const TClassicStep steps[] = {
      {"no row before the controller's first frame", [](TMonitorFixture&) {}, 0, nullptr},
      {"no row while warming", [](TMonitorFixture& f) { f.Answer(Frame(147, Volts12_5, 200)); }, 0,
       nullptr},
      {"a row once warm", [](TMonitorFixture& f) { f.Answer(Frame(147, Volts12_5, 20)); }, 1,
       ",14.7,12.5"},
      {"a silent controller repeats the last values", [](TMonitorFixture& f) { f.Watchdog(6); }, 1,
       ",14.7,12.5"},
      {"unplugged: the keeper closes the port and the rows stop",
       [](TMonitorFixture& f) {
         f.Unplug();
         f.Serial.FireTimer();  // the poll finds the device gone
         f.Watchdog(1);
         EXPECT_FALSE(f.M().Lamps().PortOpen);
         EXPECT_TRUE(f.M().PortLost());
       },
       0, nullptr},
      {"still away a few seconds later", [](TMonitorFixture& f) { f.Watchdog(12); }, 0, nullptr},
      {"plugged back in: re-opened within a second, rows with the new frame",
       [](TMonitorFixture& f) {
         f.Replug();
         f.Watchdog(4);
         EXPECT_TRUE(f.M().Lamps().PortOpen);
         EXPECT_FALSE(f.M().PortLost());
         f.Answer(Frame(150, Volts12_5, 20));
       },
       1, ",15.0,12.5"},
  };
  TMonitorFixture f(TRowFormat::Classic);
  ASSERT_EQ(f.Sink.Lines.size(), 2u);
  EXPECT_EQ(f.Sink.Lines[0].rfind("Torvane KEST datalog.  ", 0), 0u) << f.Sink.Lines[0];
  EXPECT_GT(f.Sink.Lines[0].size(), std::string("Torvane KEST datalog.  ").size()) << "no date";
  EXPECT_EQ(f.Sink.Lines[1], "Time, AFR or LAMBDA, Supply volts");
  const std::regex time(R"(^\d\d:\d\d:\d\d,)");
  for (const TClassicStep& step : steps) {
    step.Do(f);
    const std::size_t before = f.Rows();
    f.M().GetByteClick();
    ASSERT_EQ(f.Rows(), before + step.NewRows) << step.What;
    if (step.Tail == nullptr) continue;
    const std::string& row = f.LastLine();
    EXPECT_TRUE(std::regex_search(row, time)) << step.What << ": " << row;
    EXPECT_EQ(row.substr(row.find(',')), step.Tail) << step.What;
  }
  EXPECT_EQ(f.M().Stats().PortLosses, 1u);
}

// ---- the watchdog ----

// While the controller answers, bytes on their way are left for the next read; once it has been
// silent for five ticks, every tick throws away what came in meanwhile (a half frame, line noise),
// so that the next answer is not read behind stale bytes. What waits to be sent stays.
TEST(HeadlessWatchdog, EverySilentTickEmptiesTheReceiveQueueOnly) {
  struct TTick {
    int Tick;
    std::size_t QueuedAfter;
  };
  const TTick ticks[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 0}, {6, 0}, {7, 0}, {8, 0}};
  TMonitorFixture f(TRowFormat::Extended);
  f.Answer(Frame(147, Volts12_5, 20));
  ASSERT_EQ(f.Serial.InputQueued(), 0u);
  f.Serial.StallTransmit(3);
  for (const TTick& t : ticks) {
    f.Serial.QueueInput({34});
    f.Watchdog(1);
    EXPECT_EQ(f.Serial.InputQueued(), t.QueuedAfter) << "after silent tick " << t.Tick;
    EXPECT_EQ(f.Serial.TransmitQueued(), 3u) << "after silent tick " << t.Tick;
  }
  EXPECT_FALSE(f.M().Lamps().Online);
}

// ---- counters for the status line and the summary ----

TEST(HeadlessCounters, CountFramesTimeoutsAndSpells) {
  TMonitorFixture f(TRowFormat::Extended);
  const auto& stats = f.M().Stats();
  for (int i = 0; i < 3; ++i) f.Answer(Frame(147, Volts12_5, 20));
  EXPECT_EQ(stats.FramesAccepted, 3u);
  EXPECT_EQ(stats.ReadTimeouts, 0u) << "whole frames need no waiting out";

  f.Answer(Corrupt(Frame(147, Volts12_5, 20)));
  EXPECT_EQ(stats.FramesRejected, 1u);

  // Bytes with no sync after them: every read of the sync search runs out.
  f.Answer({}, {1, 2});
  EXPECT_EQ(stats.ReadTimeouts, 20u) << "the sync search gives up after 20 reads";
  // A frame cut short after two bytes: three reads run out, the bytes of the frame before stay,
  // and with a new mixture byte among them the check byte cannot hold.
  f.Answer({34, 150});
  EXPECT_EQ(stats.ReadTimeouts, 20u + 3u);
  EXPECT_EQ(stats.FramesRejected, 2u);
  EXPECT_EQ(stats.FramesAccepted, 3u);

  EXPECT_EQ(stats.OfflineSpells, 0u) << "dark before the first answer is no spell";
  f.Watchdog(5);
  EXPECT_EQ(stats.OfflineSpells, 1u);
  f.Watchdog(5);
  EXPECT_EQ(stats.OfflineSpells, 1u) << "one silence is one spell, however long";
  f.Answer(Frame(147, Volts12_5, 20));
  f.Watchdog(5);
  EXPECT_EQ(stats.OfflineSpells, 2u);

  // Two frames in each watchdog period: about eight frames a second on the line's own clock.
  for (int i = 0; i < 6; ++i) {
    f.Answer(Frame(147, Volts12_5, 20));
    f.Answer(Frame(147, Volts12_5, 20));
    f.Watchdog(1);
  }
  EXPECT_NEAR(f.M().FramesPerSecond(), 8.0, 0.2);
  const headless::TStatusView view = f.M().StatusView();
  EXPECT_EQ(view.ChecksumFailures, 2u);
  EXPECT_EQ(view.Timeouts, stats.ReadTimeouts);
  EXPECT_TRUE(view.Lamps.Online);
}

// A controller that sends its answer a byte at a time, as a UART at 19200 bit/s does: the receive
// handler waits in the system once for the sync byte and then once or twice for the rest of the
// frame, not once per byte, and still reads every byte of it one by one.
TEST(HeadlessReceive, APacedAnswerIsWaitedForOnceAfterItsSync) {
  TMonitorFixture f(TRowFormat::Extended);
  const TBytes frame = Frame(147, Volts12_5, 20);
  for (int answer = 0; answer < 3; ++answer) {
    f.Serial.QueueInput({0});
    for (std::size_t i = 0; i < frame.size(); ++i) {
      f.Serial.ScheduleInputAfter(static_cast<std::uint32_t>(2 + i), {frame[i]});
    }
    f.Serial.ClearRecord();
    f.Serial.FireTimer();
    EXPECT_EQ(f.Serial.CountCalls("WaitForInput"), 1u) << "answer " << answer;
    EXPECT_GE(f.Serial.CountCalls("SleepMicroseconds"), 1u) << "answer " << answer;
    EXPECT_LE(f.Serial.CountCalls("SleepMicroseconds"), 2u) << "answer " << answer;
    EXPECT_EQ(f.Serial.CountCalls("ReadFile"), frame.size() + 1)
        << "the poll's chunk, then byte by byte";
    EXPECT_EQ(f.Serial.InputQueued(), 0u);
  }
  EXPECT_EQ(f.M().Stats().FramesAccepted, 3u);
  EXPECT_EQ(f.M().Stats().ReadTimeouts, 0u);
}

TEST(HeadlessCounters, RowsStopAtTheFirstFailedRowWhichIsReportedOnce) {
  TMonitorFixture f(TRowFormat::Extended);
  std::vector<std::string> reports;
  f.M().OnRowError = [&](const csvlog::TLogFileError& error) { reports.push_back(error.what()); };
  f.M().GetByteClick();
  EXPECT_EQ(f.M().Stats().Rows, 1u);
  f.Sink.Refuse = true;
  f.M().GetByteClick();
  const int writes = f.Sink.Writes;
  f.M().GetByteClick();
  f.M().GetByteClick();
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_EQ(f.Sink.Writes, writes) << "no row is tried after the owner was told";
  ASSERT_TRUE(f.M().RowError().has_value());
  EXPECT_EQ(f.M().Stats().Rows, 1u) << "the failed row does not count";
}

TEST(HeadlessCounters, AHeaderThatCannotBeWrittenStartsNothing) {
  TFakeSerialApi serial;
  TMemorySink sink;
  sink.Refuse = true;
  THeadlessMonitor monitor(serial, {});
  ASSERT_TRUE(monitor.OpenPort());
  EXPECT_THROW(monitor.Start(sink), csvlog::TLogFileError);
  EXPECT_FALSE(kesttest::SampleTimerOf(monitor.MonitorEngine()).isActive());
  EXPECT_FALSE(kesttest::WatchdogTimerOf(monitor.MonitorEngine()).isActive());
}

TEST(HeadlessCounters, APortThatWillNotOpenSaysWhy) {
  TFakeSerialApi serial;
  serial.SetOpenError(TFakeSerialApi::ComName(1), platform::TOpenError::PermissionDenied);
  THeadlessMonitor monitor(serial, {});
  EXPECT_FALSE(monitor.OpenPort());
  EXPECT_EQ(monitor.LastOpenError(), platform::TOpenError::PermissionDenied);
  EXPECT_FALSE(monitor.Lamps().PortOpen);
}

}  // namespace
