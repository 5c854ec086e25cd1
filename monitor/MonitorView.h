// TMonitorView: what the monitoring engine tells the one who shows it (the window, kestlog, the
// benchmark). Each call comes at the step of the handler where the change happens, in the
// handler's order, and only when something changed; a view that has no use for a call keeps the
// default, which does nothing.
#pragma once

#include <string>

#include "platform/SerialApi.h"

namespace monitor {

enum class TLamp { Online, Warmup, LowVolts };

// Something happened to the serial port.
struct TPortEvent {
  enum class TKind {
    Opened,    // an open that was asked for succeeded
    Failed,    // an open that was asked for failed; Failure says why
    Lost,      // the open port's device went away; the port was closed
    Reopened,  // a port came back by itself: the keeper re-opened it, or its device appeared
    Faulted,   // a call on the open port began to fail; the port stays open. Fault says which
  };
  TKind Kind = TKind::Opened;
  int Number = 1;  // the COM number, 1 to 16
  // For Failed: why, as the backend saw it where the call failed. For Lost: that the device went
  // away.
  platform::TOpenFailure Failure;
  // For Faulted, and for Lost when it is known: the call on the port that failed and the system's
  // reason. Told once when the failure begins, not on every tick while it lasts.
  platform::TPortFailure Fault;
  // The user asked for the open (a menu choice, the window coming to the front): a failure is
  // worth a beep then, and never when nobody asked for anything.
  bool UserAsked = false;
};

class TMonitorView {
 public:
  virtual ~TMonitorView() = default;

  virtual void LampChanged(TLamp /*lamp*/, bool /*on*/) {}
  virtual void WarmupMessageChanged(bool /*shown*/) {}
  virtual void ReadoutChanged(const std::string& /*text*/) {}
  virtual void ReadoutEnabledChanged(bool /*enabled*/) {}
  virtual void VoltsChanged(const std::string& /*text*/) {}
  virtual void VoltsEnabledChanged(bool /*enabled*/) {}
  virtual void TempBarChanged(int /*value*/) {}
  // `reading` is the title text that shows the reading, or empty for the program's own title.
  virtual void TitleChanged(const std::string& /*reading*/) {}
  // Whether the program is the active application; the reading goes into the title when not.
  virtual bool IsApplicationActive() { return true; }

  // The sample tick has a live reading: the chart advances one step now.
  virtual void ChartStepDue() {}
  // The sample tick has a row to log (only while Logging): `row` is the log's row without its
  // line end, in the engine's log format. False when it could not be written; the tick then ends
  // at once (no chart step).
  virtual bool LogRowDue(const std::string& /*row*/) { return true; }
  // A line of the log's header is due before the next row (the MSL header, which carries its
  // first row's time, comes with that row); without its line end. False when it could not be
  // written; the tick then ends at once, and the row is not handed on.
  virtual bool LogHeaderDue(const std::string& /*line*/) { return true; }
  virtual void PortChanged(const TPortEvent& /*event*/) {}

  // The end of each sample tick and of each watchdog tick (for rows and status lines that follow
  // the ticks rather than the changes).
  virtual void SampleTickDone() {}
  virtual void WatchdogTickDone() {}
};

}  // namespace monitor
