// Waiting on a real line: the event loop runs until a condition holds or a generous deadline
// passes, so the tests check what happened, never how fast.
#pragma once

#include <QElapsedTimer>
#include <QTest>

namespace integrationtest {

// Runs the event loop until `condition` holds or `timeoutMs` have passed; true when it held.
template <typename TCondition>
bool WaitUntil(TCondition condition, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() >= timeoutMs) return condition();
    QTest::qWait(10);
  }
  return true;
}

}  // namespace integrationtest
