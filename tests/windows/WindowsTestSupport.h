// What the Windows-only tests share: the line that the CI script attaches, a message loop that
// ends, and a byte source over the driver for the frame reader.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

// Our headers come before <windows.h>: they declare constants with names (WM_TIMER, PURGE_RXCLEAR)
// that the system header turns into macros, which must not rewrite our declarations.
#include "monitor/ControllerLine.h"
#include "platform/Win32.h"  // the system header, as platform/ includes it
#include "sensor/SensorFrame.h"
#include "serial/SerialPortDriver.h"

// Our interfaces have methods of these names; the A/W-choosing macros must not rename them.
#undef CreateFile
#undef GetVersionEx
#undef DefWindowProc

namespace kesttest {

// A line with the simulated controller at its far end, as scripts/ci-wine.sh sets it up:
// KEST_TEST_COM_PORT=n names COM n (1 to 16), KEST_TEST_SIM_AFR the simulator's constant mixture
// byte (kestsim --afr), and KEST_TEST_COM_IS_PTY=1 says the far end is a Linux pseudo-terminal.
struct TTestLine {
  TComPortNumber Port = TComPortNumber::pnCOM1;
  std::uint8_t Afr = 0;
  bool IsPseudoTerminal = false;
};

// The attached line, or nothing when the environment names none (a run by hand without the
// simulator). A variable that is set but malformed is reported as a test failure.
std::optional<TTestLine> AttachedLine();

// True when this process runs under Wine rather than on Windows itself.
bool RunningUnderWine();

// Dispatches this thread's window messages until `done` holds, handing messages that belong to
// no window (thread timers) to `onThreadMessage` instead. Gives up after `limitMs` of wall time,
// a guard against a hang rather than a measure of speed; returns whether `done` held.
bool PumpMessagesUntil(const std::function<bool()>& done, std::uint32_t limitMs,
                       const std::function<void(const MSG&)>& onThreadMessage = {});

// Empties this thread's message queue, dispatching everything in it, without waiting.
void DrainMessages();

// The monitor's own settings of its driver: 19200 bit/s, a 50-byte receive buffer, a poll every
// 5 ms and reads that give up after 50 ms of silence.
void ConfigureAsTheMonitorDoes(TSerialPortDriver& driver, TComPortNumber port);

}  // namespace kesttest
