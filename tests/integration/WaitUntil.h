// Waiting on a real line: the event loop runs until a condition holds or a generous deadline
// passes, so the tests check what happened, never how fast.
#pragma once

#include <QTest>

namespace integrationtest {

// Runs the event loop until `condition` holds or `timeoutMs` have passed; true when it held.
template <typename TCondition>
bool WaitUntil(TCondition condition, int timeoutMs) {
  return QTest::qWaitFor(condition, timeoutMs);
}

}  // namespace integrationtest
