// The Qt poll window: its timers arrive as WM_TIMER messages carrying their ids, on the event loop
// of the thread that set them. Bounds are generous: these tests check delivery, not speed.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/PollWindowQt.h"
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

TEST(PollWindowQt, TimersDeliverTheirIdsOnTheCallersEventLoop) {
  // The factory of the Qt window itself and the one the POSIX backend hands to the driver.
  const std::pair<const char*, std::function<std::unique_ptr<TPollWindow>(TPollHandler)>>
      factories[] = {
          {"CreateQtPollWindow", &CreateQtPollWindow},
          {"SystemSerialApi", [](TPollHandler h) { return SystemSerialApi().CreatePollWindow(h); }},
      };
  for (const auto& [name, factory] : factories) {
    SCOPED_TRACE(name);
    TRecorder recorder;
    std::unique_ptr<TPollWindow> window = factory(recorder.Handler());
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
  std::unique_ptr<TPollWindow> window;
  int ticks = 0;
  window = CreateQtPollWindow([&](TMessage&) {
    ++ticks;
    window->KillTimer(1);  // as the driver does when a handler closes the port
  });
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
  TRecorder recorder;
  std::unique_ptr<TPollWindow> window = CreateQtPollWindow(recorder.Handler());
  ASSERT_TRUE(window->SetTimer(1, 5));
  ASSERT_TRUE(window->SetTimer(1, 60000));
  RunFor(200);
  EXPECT_TRUE(recorder.Messages.empty());
}

TEST(PollWindowQt, ThereAreNoTimersWithoutAnEventLoop) {
  bool started = true;
  std::thread plain([&] {
    TRecorder recorder;
    std::unique_ptr<TPollWindow> window = CreateQtPollWindow(recorder.Handler());
    started = window->SetTimer(1, 5);
  });
  plain.join();
  EXPECT_FALSE(started);
}

}  // namespace
}  // namespace platform
