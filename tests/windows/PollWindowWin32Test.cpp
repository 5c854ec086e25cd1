// The driver's hidden poll window on Windows: a real message-only window whose timers arrive as
// WM_TIMER messages of their own id through this thread's message loop, and which hands every
// other message to the system's default treatment through the driver.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/PollWindowWin32.h"
#include "platform/SerialApi.h"
#include "serial/SerialPortDriver.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

// A generous guard on every wait for a tick; the timers run every few milliseconds.
constexpr std::uint32_t TickGuardMs = 10000;

// Records what a poll window delivers.
struct TRecorder {
  std::vector<platform::TMessage> Timers;
  int Others = 0;
  platform::TPollHandler Handler() {
    return [this](platform::TMessage& message) {
      if (message.Msg == WM_TIMER) {
        Timers.push_back(message);
      } else {
        ++Others;
      }
    };
  }
};

// The driver's window, found by its class among this process's message-only windows.
HWND FindPollWindow() {
  return ::FindWindowExA(HWND_MESSAGE, nullptr, "KestSerialPollWindow", nullptr);
}

TEST(PollWindowWin32Test, EachWindowGetsTheTicksOfItsOwnTimerOnly) {
  TRecorder first, second;
  const std::unique_ptr<platform::TPollWindow> a = platform::CreateWin32PollWindow(first.Handler());
  const std::unique_ptr<platform::TPollWindow> b =
      platform::CreateWin32PollWindow(second.Handler());
  ASSERT_TRUE(a->SetTimer(1, 5));
  ASSERT_TRUE(b->SetTimer(7, 5));
  ASSERT_TRUE(kesttest::PumpMessagesUntil(
      [&] { return first.Timers.size() >= 3 && second.Timers.size() >= 3; }, TickGuardMs));
  a->KillTimer(1);
  b->KillTimer(7);
  for (const platform::TMessage& tick : first.Timers) EXPECT_EQ(tick.WParam, 1u);
  for (const platform::TMessage& tick : second.Timers) EXPECT_EQ(tick.WParam, 7u);
}

TEST(PollWindowWin32Test, AKilledTimerTicksNoMoreAndCanBeStartedAgain) {
  TRecorder recorder;
  const std::unique_ptr<platform::TPollWindow> window =
      platform::CreateWin32PollWindow(recorder.Handler());
  ASSERT_TRUE(window->SetTimer(1, 5));
  ASSERT_TRUE(kesttest::PumpMessagesUntil([&] { return !recorder.Timers.empty(); }, TickGuardMs));
  window->KillTimer(1);
  window->KillTimer(9);  // never started: harmless
  const std::size_t before = recorder.Timers.size();
  // Several intervals pass with the timer stopped; a running timer would have queued a tick.
  ::Sleep(40);
  kesttest::DrainMessages();
  EXPECT_EQ(recorder.Timers.size(), before);

  ASSERT_TRUE(window->SetTimer(1, 5));
  EXPECT_TRUE(
      kesttest::PumpMessagesUntil([&] { return recorder.Timers.size() > before; }, TickGuardMs));
  window->KillTimer(1);
}

TEST(PollWindowWin32Test, TheDriversWindowAnswersOtherMessagesWithTheDefaultTreatment) {
  {
    TSerialPortDriver driver;
    const HWND window = FindPollWindow();
    ASSERT_NE(window, nullptr);
    // The title is kept and measured by the default window procedure, reached through PollTick.
    ASSERT_TRUE(::SetWindowTextA(window, "poll"));
    EXPECT_EQ(::SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), 4);
    // A tick while the port is closed goes the same way and reads nothing.
    EXPECT_EQ(::SendMessageA(window, WM_TIMER, 1, 0), 0);
    EXPECT_FALSE(driver.IsOpen());
  }
  EXPECT_EQ(FindPollWindow(), nullptr) << "the window outlived its driver";
}

}  // namespace
