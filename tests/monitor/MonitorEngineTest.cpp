// The monitoring engine through its own seam: the commands a view gives it, what it tells the view
// back, what its probe sees, and a sample tick that logs without allocating. On the scripted line
// and its virtual clock; the engine's timers stay stopped and the test steps the handlers.
#include <gtest/gtest.h>

#include <QDateTime>
#include <string>
#include <vector>

#include "monitor/MonitorEngine.h"
#include "sensor/Reading.h"
#include "tests/serial/AllocationCounter.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/support/Frames.h"

namespace {

using kesttest::Frame;
using kesttest::TFakeSerialApi;
using monitor::THandler;
using monitor::TPortEvent;

// Counts the rows it is told of and keeps the last (in memory it reuses, so that it allocates
// nothing itself), and remembers the port events and what the probe saw.
class TRecordingView : public monitor::TMonitorView, public monitor::TEngineProbe {
 public:
  std::size_t Rows = 0;
  std::string LastRow = std::string(64, ' ');
  std::vector<TPortEvent> Events;
  std::vector<std::string> Probed;

  bool LogRowDue(const std::string& row) override {
    ++Rows;
    LastRow.assign(row);
    return true;
  }
  void PortChanged(const TPortEvent& event) override { Events.push_back(event); }
  void HandlerBegins(THandler handler, const monitor::TMonitorState&) override {
    Probed.push_back(std::string("begin ") + Name(handler));
  }
  void HandlerEnds(THandler handler, const monitor::TMonitorState& state) override {
    Probed.push_back(std::string("end ") + Name(handler) +
                     (state.ReadingLive ? " live" : " not live"));
  }

 private:
  static const char* Name(THandler handler) {
    return handler == THandler::Receive      ? "receive"
           : handler == THandler::SampleTick ? "tick"
                                             : "watchdog";
  }
};

struct TEngineFixture {
  TFakeSerialApi Serial;
  TRecordingView View;
  monitor::TMonitorEngine Engine{Serial, View, monitor::EngineSettingsOf({}, [] {
                                   return QDateTime(QDate(2024, 5, 1), QTime(14, 3, 27), Qt::UTC);
                                 })};

  TEngineFixture() {
    Engine.SetDisplayMode(sensor::dmAirFuelRatio);
    Engine.SetFuelType(sensor::ftPetrol);
  }

  // The poll takes the tick's answer; the handler's own request is answered 1 ms later.
  void Answer(std::uint8_t afr, std::uint8_t volts = 200) {
    Serial.QueueInput({0});
    Serial.ScheduleInputAfter(1, Frame(afr, volts, 20));
    Serial.FireTimer();
  }
  // A quarter second of a running engine: a sample tick, its answer, and the watchdog.
  void Round() {
    Engine.GetByteClick();
    Answer(147);
    Serial.Advance(250);
    Engine.OnlineTimerTimer();
  }
  void Rounds(int count) {
    for (int i = 0; i < count; ++i) Round();
  }
  // The reading and volts of the last row, without the time of day the system's zone gives.
  std::string LastRowValues() const {
    if (View.Rows == 0) return "no row";
    return View.LastRow.substr(View.LastRow.find(','));
  }
};

TEST(MonitorEngine, CommandsDecideWhatTheNextRowSays) {
  TEngineFixture f;
  ASSERT_TRUE(f.Engine.OpenCommsClick(false));
  f.Answer(147);
  struct TStep {
    const char* What;
    void (*Command)(monitor::TMonitorEngine&);
    bool Logging;
    std::size_t Rows;
    const char* Values;
  };
  const TStep steps[] = {
      {"not logging yet", [](monitor::TMonitorEngine&) {}, false, 0, "no row"},
      {"logging", [](monitor::TMonitorEngine& e) { e.StartLogging(); }, true, 1, ",14.7,12.5"},
      {"propane", [](monitor::TMonitorEngine& e) { e.SetFuelType(sensor::ftPropane); }, true, 2,
       ",15.5,12.5"},
      {"lambda", [](monitor::TMonitorEngine& e) { e.SetDisplayMode(sensor::dmLambda); }, true, 3,
       ",1.00,12.5"},
      {"stopped", [](monitor::TMonitorEngine& e) { e.StopLogging(); }, false, 3, ",1.00,12.5"},
  };
  for (const TStep& step : steps) {
    step.Command(f.Engine);
    f.Engine.GetByteClick();
    EXPECT_EQ(f.Engine.State().Logging, step.Logging) << step.What;
    EXPECT_EQ(f.View.Rows, step.Rows) << step.What;
    EXPECT_EQ(f.LastRowValues(), step.Values) << step.What;
  }
}

TEST(MonitorEngine, SelectingAPortClosesTheOldOneAndOpensTheNewAsAsked) {
  TEngineFixture f;
  f.Serial.RemoveDevice(TFakeSerialApi::ComName(2));
  ASSERT_TRUE(f.Engine.OpenCommsClick(false));
  struct TStep {
    int Number;
    bool Opens;
  };
  for (const TStep& step : {TStep{2, false}, TStep{1, true}, TStep{3, true}}) {
    EXPECT_EQ(f.Engine.SelectPort(step.Number), step.Opens) << step.Number;
    EXPECT_EQ(f.Engine.ComPortNumber(), step.Number);
    EXPECT_EQ(f.Engine.State().PortOpen, step.Opens) << step.Number;
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(f.Serial.IsDeviceOpen(TFakeSerialApi::ComName(n)), step.Opens && n == step.Number)
          << "COM" << n << " after choosing COM" << step.Number;
    }
    const TPortEvent& event = f.View.Events.back();
    EXPECT_EQ(event.Kind, step.Opens ? TPortEvent::TKind::Opened : TPortEvent::TKind::Failed);
    EXPECT_EQ(event.Number, step.Number);
    EXPECT_TRUE(event.UserAsked) << "a choice of the user's";
  }
}

TEST(MonitorEngine, TheProbeSeesEachHandlerBeginAndEnd) {
  TEngineFixture f;
  f.Engine.SetProbe(&f.View);
  ASSERT_TRUE(f.Engine.OpenCommsClick(false));
  f.Answer(147);
  f.Engine.GetByteClick();
  f.Engine.OnlineTimerTimer();
  f.Engine.SetProbe(nullptr);
  f.Engine.GetByteClick();
  EXPECT_EQ(f.View.Probed,
            (std::vector<std::string>{"begin receive", "end receive live", "begin tick",
                                      "end tick live", "begin watchdog", "end watchdog live"}));
}

// A call on the open port that fails keeps the system's code and words, and the view hears them
// once when the failure begins, not on every tick while it lasts: a refused setting or write
// while the port stays open, a failed read or queue query as the reason the device was lost.
// Once the call has worked again (or the port was opened anew), a new failure is told again.
TEST(MonitorEngine, AFailingCallsReasonReachesTheViewOnce) {
  using TKind = TPortEvent::TKind;
  struct TCase {
    const char* Call;
    TKind Kind;
    // Ends the first spell and begins the second.
    void (*Again)(TEngineFixture&);
  };
  const platform::TSystemError error{5, "Input/output error"};
  const TCase cases[] = {
      // Only an open programs the line: the user opens it again.
      {"SetCommState", TKind::Faulted, [](TEngineFixture& f) { f.Engine.SelectPort(1); }},
      {"WriteFile", TKind::Faulted,
       [](TEngineFixture& f) {
         f.Serial.HealCall("WriteFile");
         f.Round();
         f.Serial.FailCall("WriteFile", platform::TSystemError{5, "Input/output error"});
       }},
      // The keeper re-opens a lost port about once a second.
      {"ReadFile", TKind::Lost, [](TEngineFixture& f) { f.Rounds(2); }},
      {"ClearCommError", TKind::Lost, [](TEngineFixture& f) { f.Rounds(2); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Call);
    TEngineFixture f;
    f.Serial.FailCall(c.Call, error);
    ASSERT_TRUE(f.Engine.OpenCommsClick(false)) << c.Call;
    const auto told = [&] {
      std::size_t count = 0;
      for (const TPortEvent& event : f.View.Events) {
        if (event.Fault.Call.empty()) continue;
        ++count;
        EXPECT_EQ(event.Kind, c.Kind) << c.Call;
        EXPECT_EQ(event.Fault.Call, c.Call);
        EXPECT_EQ(event.Fault.Error, error) << c.Call;
        EXPECT_EQ(event.Number, 1) << c.Call;
      }
      return count;
    };
    f.Rounds(3);  // less than the keeper's second
    EXPECT_EQ(told(), 1u) << c.Call << ": told when it began";
    c.Again(f);
    f.Rounds(3);
    EXPECT_EQ(told(), 2u) << c.Call << ": told again once it began again";
  }
}

// The sample tick runs ten times a second for hours: once its row has grown to its length, a
// logging tick allocates nothing, in every format (the MSL header, with the first row, is the
// only thing a log allocates for).
TEST(MonitorEngine, ALoggingSampleTickAllocatesNothing) {
  struct TCase {
    csvlog::TRowFormat Format;
    std::size_t From;  // where in the row the part below starts: after the time
    const char* Rest;
  };
  const TCase cases[] = {
      {csvlog::TRowFormat::Classic, 8, ",14.7,12.5"},
      {csvlog::TRowFormat::Extended, 0,
       "2024-05-01T14:03:27.000+00:00,14.7,14.7,1.000,12.55,20,live"},
      {csvlog::TRowFormat::Msl, 5, "\t14.70\t12.55\t1.000\t20\t0"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Format));
    TEngineFixture f;
    ASSERT_TRUE(f.Engine.OpenCommsClick(false));
    f.Answer(147);
    f.Engine.SetLogFormat(c.Format, "kestlog 1.2.0");
    f.Engine.StartLogging();
    f.Serial.SetRecording(false);
    // The scripted line keeps what is written; it grows its memory here, not in the ticks counted.
    for (int i = 0; i < 40; ++i) f.Engine.GetByteClick();
    f.Serial.ClearWritten();
    std::size_t allocations = 0;
    {
      TAllocationCount count;
      for (int i = 0; i < 10; ++i) f.Engine.GetByteClick();
      allocations = count.Count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(f.View.Rows, 50u);
    EXPECT_EQ(f.View.LastRow.substr(c.From), c.Rest);
  }
}

}  // namespace
