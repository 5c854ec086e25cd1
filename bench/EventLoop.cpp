// The benchmarks' waits on Qt's event loop.
#include "bench/EventLoop.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>

#include "bench/Figures.h"

namespace bench {

void RunFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)),
                     Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

bool RunUntil(const std::function<bool()>& done, double seconds) {
  const TClock::time_point start = TClock::now();
  while (!done()) {
    if (SecondsSince(start) >= seconds) return false;
    RunFor(0.005);
  }
  return true;
}

}  // namespace bench
