// The Qt poll window: its timers arrive as WM_TIMER messages carrying their ids, on the event loop
// of the thread that set them. Bounds are generous: these tests check delivery, not speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/PollWindowQt.h"
#include "platform/PortMap.h"
#include "platform/SerialApi.h"

namespace platform {
namespace {

constexpr int GiveUpMs = 5000;

// Runs the event loop until `done` holds or GiveUpMs pass; true when `done` held.
bool RunUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  check.start(1);
  QTimer::singleShot(GiveUpMs, &loop, &QEventLoop::quit);
  if (!done()) loop.exec();
  return done();
}

// Runs the event loop for `ms` milliseconds.
void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

struct TRecorder {
  std::vector<TMessage> Messages;
  std::vector<std::thread::id> Threads;
  TPollHandler Handler() {
    return [this](TMessage& message) {
      Messages.push_back(message);
      Threads.push_back(std::this_thread::get_id());
    };
  }
  int CountOf(std::uintptr_t id) const {
    int n = 0;
    for (const TMessage& m : Messages) n += m.WParam == id ? 1 : 0;
    return n;
  }
};

// A pipe whose read end stands for a port with input.
struct TPipe {
  int Read = -1;
  int Write = -1;
  TPipe() {
    int ends[2];
    if (pipe(ends) == 0) {
      Read = ends[0];
      Write = ends[1];
      fcntl(Read, F_SETFL, fcntl(Read, F_GETFL) | O_NONBLOCK);
    }
  }
  ~TPipe() {
    CloseWrite();
    if (Read >= 0) close(Read);
  }
  void CloseWrite() {
    if (Write >= 0) close(Write);
    Write = -1;
  }
  bool Put() { return write(Write, "x", 1) == 1; }
  void Drain() {
    char buffer[64];
    while (read(Read, buffer, sizeof buffer) > 0) {
    }
  }
};

// The window over a descriptor that always has input ticks as a plain timer would.
std::unique_ptr<TPollWindow> AlwaysReadyWindow(TPollHandler handler, const TPipe& ready) {
  const int descriptor = ready.Read;
  return CreateQtInputPollWindow(std::move(handler),
                                 [descriptor] { return std::vector<int>{descriptor}; });
}

TEST(PollWindowQt, TimersDeliverTheirIdsOnTheCallersEventLoop) {
  TPipe alwaysReady;
  ASSERT_TRUE(alwaysReady.Put());
  {
    TRecorder recorder;
    std::unique_ptr<TPollWindow> window = AlwaysReadyWindow(recorder.Handler(), alwaysReady);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->SetTimer(1, 5));
    ASSERT_TRUE(window->SetTimer(7, 5));
    EXPECT_TRUE(RunUntil([&] { return recorder.CountOf(1) >= 2 && recorder.CountOf(7) >= 2; }));
    window->KillTimer(1);
    window->KillTimer(7);

    for (std::size_t i = 0; i < recorder.Messages.size(); ++i) {
      EXPECT_EQ(recorder.Messages[i].Msg, WM_TIMER);
      EXPECT_TRUE(recorder.Messages[i].WParam == 1 || recorder.Messages[i].WParam == 7);
      EXPECT_EQ(recorder.Threads[i], std::this_thread::get_id());
    }
    TMessage other;
    other.Msg = 0x0010;
    EXPECT_EQ(window->DefWindowProc(other), 0);
  }
}

TEST(PollWindowQt, KillTimerStopsTheTicksEvenFromInsideOne) {
  TPipe alwaysReady;
  ASSERT_TRUE(alwaysReady.Put());
  std::unique_ptr<TPollWindow> window;
  int ticks = 0;
  window = AlwaysReadyWindow(
      [&](TMessage&) {
        ++ticks;
        window->KillTimer(1);  // as the driver does when a handler closes the port
      },
      alwaysReady);
  ASSERT_TRUE(window->SetTimer(1, 5));
  ASSERT_TRUE(RunUntil([&] { return ticks >= 1; }));
  RunFor(200);  // forty periods
  EXPECT_EQ(ticks, 1);

  window->KillTimer(1);                 // stopping a stopped timer is harmless
  window->KillTimer(42);                // and so is one that never ran
  ASSERT_TRUE(window->SetTimer(1, 5));  // and it starts again
  EXPECT_TRUE(RunUntil([&] { return ticks >= 2; }));
}

TEST(PollWindowQt, SettingATimerAgainReplacesItsInterval) {
  TPipe alwaysReady;
  ASSERT_TRUE(alwaysReady.Put());
  TRecorder recorder;
  std::unique_ptr<TPollWindow> window = AlwaysReadyWindow(recorder.Handler(), alwaysReady);
  ASSERT_TRUE(window->SetTimer(1, 5));
  ASSERT_TRUE(window->SetTimer(1, 60000));
  RunFor(200);
  EXPECT_TRUE(recorder.Messages.empty());
}

TEST(PollWindowQt, ThereAreNoTimersWithoutAnEventLoop) {
  TPipe alwaysReady;
  ASSERT_TRUE(alwaysReady.Put());
  bool started = true;
  std::thread plain([&] {
    TRecorder recorder;
    std::unique_ptr<TPollWindow> window = AlwaysReadyWindow(recorder.Handler(), alwaysReady);
    started = window->SetTimer(1, 5);
  });
  plain.join();
  EXPECT_FALSE(started);
}

// The input window: no input, no tick; input brings the next tick of the beat; a descriptor that
// stays readable (unread input, or a hung-up device) gets at most one tick per interval.
TEST(PollWindowQt, InputWindowTicksOnlyForInputAndNeverFasterThanItsInterval) {
  struct TCase {
    const char* Name;
    bool ReadInput;  // the tick takes the input, as the driver does
    bool HangUp;     // the far end goes away instead of writing
  };
  const TCase cases[] = {
      {"InputTaken", true, false}, {"InputLeft", false, false}, {"HungUp", false, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TPipe line;
    ASSERT_GE(line.Read, 0);
    std::vector<std::chrono::steady_clock::time_point> ticks;
    std::unique_ptr<TPollWindow> window = CreateQtInputPollWindow(
        [&](TMessage& message) {
          EXPECT_EQ(message.Msg, WM_TIMER);
          EXPECT_EQ(message.WParam, 1u);
          ticks.push_back(std::chrono::steady_clock::now());
          if (c.ReadInput) line.Drain();
        },
        [&] { return std::vector<int>{line.Read}; });
    ASSERT_TRUE(window->SetTimer(1, 5));
    RunFor(100);  // twenty beats with nothing to read
    EXPECT_TRUE(ticks.empty());

    if (c.HangUp) {
      line.CloseWrite();
    } else {
      ASSERT_TRUE(line.Put());
    }
    if (c.ReadInput) {
      ASSERT_TRUE(RunUntil([&] { return !ticks.empty(); }));
      RunFor(100);  // the input was taken: nothing more to tick for
      EXPECT_EQ(ticks.size(), 1u);
    } else {
      ASSERT_TRUE(RunUntil([&] { return ticks.size() >= 6; }));
      // Each tick waits for the first beat after the one before it has run, so a beat lies
      // between any two ticks and any three span more than one interval. A late tick may be
      // followed closely by the next, so nothing tighter holds; a window that spun on the
      // readable descriptor would deliver all six within microseconds.
      for (std::size_t i = 0; i + 2 < ticks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GT(ticks[i + 2] - ticks[i], std::chrono::microseconds(4500));
      }
    }
    window->KillTimer(1);
    const std::size_t before = ticks.size();
    if (!c.HangUp) {
      ASSERT_TRUE(line.Put());
    }
    RunFor(50);
    EXPECT_EQ(ticks.size(), before);  // a killed timer stays quiet, input or not
  }
}

// The window the POSIX backend gives the driver listens to the ports the backend holds.
TEST(PollWindowQt, BackendWindowTicksForInputOnAnOpenPort) {
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios raw{};
  ASSERT_EQ(tcgetattr(slave, &raw), 0);
  cfmakeraw(&raw);  // a byte is input at once, not at the end of a line
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  TPortMap ports;
  ASSERT_TRUE(ports.Map(16, ttyname(slave)));
  const std::unique_ptr<TSerialApi> backend = CreateSystemSerialApi(ports);
  TSerialApi& api = *backend;
  const TPortHandle port = api.CreateFile("\\\\.\\COM16");
  ASSERT_NE(port, InvalidPortHandle);
  int ticks = 0;
  std::unique_ptr<TPollWindow> window = api.CreatePollWindow([&](TMessage&) {
    ++ticks;
    std::uint8_t buffer[16];
    std::uint32_t done = 0;
    api.ReadFile(port, buffer, sizeof buffer, done);
  });
  ASSERT_TRUE(window->SetTimer(1, 5));
  RunFor(50);
  EXPECT_EQ(ticks, 0);
  ASSERT_EQ(write(master, "n", 1), 1);
  EXPECT_TRUE(RunUntil([&] { return ticks >= 1; }));
  window->KillTimer(1);
  api.CloseHandle(port);
  close(slave);
  close(master);
}

}  // namespace
}  // namespace platform
