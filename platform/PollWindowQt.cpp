// The driver's hidden poll window, made of QTimers on the GUI thread's event loop.
#include "platform/PollWindowQt.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <map>

namespace platform {

namespace {

// Ticks only when input may be waiting; see CreateQtInputPollWindow.
class TQtInputPollWindow final : public TPollWindow {
 public:
  TQtInputPollWindow(TPollHandler handler, TInputDescriptors inputs)
      : Handler(std::move(handler)), Inputs(std::move(inputs)) {}

  bool SetTimer(std::uint32_t id, std::uint32_t intervalMs) override {
    if (QAbstractEventDispatcher::instance() == nullptr) return false;
    TTimer& timer = Timers[id];
    if (!timer.Due) {
      timer.Due = std::make_unique<QTimer>();
      timer.Due->setSingleShot(true);
      // The driver's 5 ms poll is what keeps its receive path short; a coarse timer may stretch it
      // by up to 5 per cent, and so may the system when it groups wake-ups: precise it is.
      timer.Due->setTimerType(Qt::PreciseTimer);
      QObject::connect(timer.Due.get(), &QTimer::timeout, timer.Due.get(),
                       [this, id] { Fire(id); });
    }
    timer.Due->stop();
    // A zero interval would fire on every pass of the event loop, turning the poll into a spin;
    // Win32 raises such intervals to its minimum as well.
    timer.Interval =
        std::chrono::milliseconds(std::clamp<std::uint32_t>(intervalMs, 1, 0x7fffffff));
    timer.Start = TClock::now();
    timer.Running = true;
    Listen();
    return true;
  }

  // Only stops: KillTimer is often called from inside a tick, whose QTimer must not be deleted
  // under its own signal.
  void KillTimer(std::uint32_t id) override {
    const auto found = Timers.find(id);
    if (found == Timers.end()) return;
    found->second.Running = false;
    found->second.Due->stop();
    if (std::none_of(Timers.begin(), Timers.end(), [](const auto& t) { return t.second.Running; }))
      for (auto& [fd, notifier] : Notifiers) notifier->setEnabled(false);
  }

  std::intptr_t DefWindowProc(const TMessage&) override { return 0; }

 private:
  using TClock = std::chrono::steady_clock;
  struct TTimer {
    std::unique_ptr<QTimer> Due;  // the next tick, once input has come
    std::chrono::milliseconds Interval{1};
    TClock::time_point Start;
    bool Running = false;
  };

  // Waits for input on the descriptors the backend holds now; those it no longer holds are let go.
  // Never called from inside a notifier's own signal, so dropping notifiers here is safe.
  void Listen() {
    if (std::none_of(Timers.begin(), Timers.end(), [](const auto& t) { return t.second.Running; }))
      return;
    const std::vector<int> wanted = Inputs ? Inputs() : std::vector<int>{};
    for (auto it = Notifiers.begin(); it != Notifiers.end();) {
      if (std::find(wanted.begin(), wanted.end(), it->first) == wanted.end()) {
        it = Notifiers.erase(it);
      } else {
        ++it;
      }
    }
    for (int fd : wanted) {
      auto& notifier = Notifiers[fd];
      if (!notifier) {
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                         [this] { OnInput(); });
      }
      notifier->setEnabled(true);
    }
  }

  // Input came (or the device hung up): every running timer delivers its next tick due. Until
  // then nothing more is listened for, so a descriptor that stays readable cannot spin.
  void OnInput() {
    for (auto& [fd, notifier] : Notifiers) notifier->setEnabled(false);
    const TClock::time_point now = TClock::now();
    for (auto& [id, timer] : Timers) {
      if (!timer.Running || timer.Due->isActive()) continue;
      const auto beats = (now - timer.Start) / timer.Interval + 1;
      const auto due = timer.Start + beats * timer.Interval;
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
      timer.Due->start(std::max<std::chrono::milliseconds>(wait, std::chrono::milliseconds(0)));
    }
  }

  void Fire(std::uint32_t id) {
    const auto found = Timers.find(id);
    if (found == Timers.end() || !found->second.Running) return;
    TMessage message;
    message.Msg = WM_TIMER;
    message.WParam = id;
    Handler(message);
    // Whatever the tick left queued, and whatever comes next, brings the next tick.
    Listen();
  }

  TPollHandler Handler;
  TInputDescriptors Inputs;
  std::map<std::uint32_t, TTimer> Timers;
  std::map<int, std::unique_ptr<QSocketNotifier>> Notifiers;
};

}  // namespace

std::unique_ptr<TPollWindow> CreateQtInputPollWindow(TPollHandler handler,
                                                     TInputDescriptors inputs) {
  return std::make_unique<TQtInputPollWindow>(std::move(handler), std::move(inputs));
}

}  // namespace platform
