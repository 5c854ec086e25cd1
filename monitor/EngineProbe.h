// TEngineProbe: how the benchmark watches the monitoring engine at work without changing it.
//
// The engine calls its probe, when one is set, at the start and at the end of each of its three
// handlers, with the state as it stands then: the benchmark times the handlers, counts the ticks
// that should log a row or step the chart, and accounts for the bytes each receive took. A probe
// only reads; the engine does the same with or without one, and without one a call costs a
// pointer test.
#pragma once

#include "monitor/MonitorState.h"

namespace monitor {

enum class THandler {
  Receive,     // SerialPortDriverReceiveData3, fired by the driver's poll
  SampleTick,  // GetByteClick, the sample tick (the view's SampleTickDone included)
  Watchdog,    // OnlineTimerTimer (the view's WatchdogTickDone included)
};

class TEngineProbe {
 public:
  virtual ~TEngineProbe() = default;
  virtual void HandlerBegins(THandler /*handler*/, const TMonitorState& /*state*/) {}
  virtual void HandlerEnds(THandler /*handler*/, const TMonitorState& /*state*/) {}
};

// Tells `probe`, if there is one, that `handler` begins now, and when it goes out of scope that it
// ended, with `state` as it then stands.
class TProbeCall {
 public:
  TProbeCall(TEngineProbe* probe, THandler handler, const TMonitorState& state)
      : Probe(probe), Handler(handler), State(state) {
    if (Probe != nullptr) Probe->HandlerBegins(Handler, State);
  }
  ~TProbeCall() {
    if (Probe != nullptr) Probe->HandlerEnds(Handler, State);
  }
  TProbeCall(const TProbeCall&) = delete;
  TProbeCall& operator=(const TProbeCall&) = delete;

 private:
  TEngineProbe* Probe;
  THandler Handler;
  const TMonitorState& State;
};

}  // namespace monitor
