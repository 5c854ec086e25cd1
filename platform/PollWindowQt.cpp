// The driver's hidden poll window, made of QTimers on the GUI thread's event loop.
#include "platform/PollWindowQt.h"

#include <QAbstractEventDispatcher>
#include <QTimer>
#include <algorithm>
#include <map>

namespace platform {

namespace {

class TQtPollWindow final : public TPollWindow {
 public:
  explicit TQtPollWindow(TPollHandler handler) : Handler(std::move(handler)) {}

  bool SetTimer(std::uint32_t id, std::uint32_t intervalMs) override {
    if (QAbstractEventDispatcher::instance() == nullptr) return false;
    auto& timer = Timers[id];
    if (!timer) {
      timer = std::make_unique<QTimer>();
      // The driver's 5 ms poll is what keeps its receive path short; a coarse timer may stretch it
      // by up to 5 per cent, and so may the system when it groups wake-ups: precise it is.
      timer->setTimerType(Qt::PreciseTimer);
      QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this, id] {
        TMessage message;
        message.Msg = WM_TIMER;
        message.WParam = id;
        Handler(message);
      });
    }
    // A zero interval would fire on every pass of the event loop, turning the poll into a spin;
    // Win32 raises such intervals to its minimum as well.
    timer->start(static_cast<int>(std::clamp<std::uint32_t>(intervalMs, 1, 0x7fffffff)));
    return timer->isActive();
  }

  // Only stops the timer: KillTimer is often called from inside a tick (the driver closing its
  // port), and the QTimer that is emitting must not be deleted under its own signal.
  void KillTimer(std::uint32_t id) override {
    const auto found = Timers.find(id);
    if (found != Timers.end()) found->second->stop();
  }

  std::intptr_t DefWindowProc(const TMessage&) override { return 0; }

 private:
  TPollHandler Handler;
  std::map<std::uint32_t, std::unique_ptr<QTimer>> Timers;
};

}  // namespace

std::unique_ptr<TPollWindow> CreateQtPollWindow(TPollHandler handler) {
  return std::make_unique<TQtPollWindow>(std::move(handler));
}

}  // namespace platform
