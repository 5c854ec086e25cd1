// How the POSIX backend turns the driver's line settings (a Win32-style DCB) into terminal
// settings.
//
// Kept apart from the backend as a pure function because a pseudo-terminal, the only serial line a
// test machine has, keeps just part of what it is given (it forces 8 bits and no parity), so the
// device cannot be the judge of this translation.
#pragma once

#include <termios.h>

#include <cstdint>

#include "platform/SerialApi.h"

namespace platform {

struct TTermiosSettings {
  // False when the DCB asks for something no serial line can do (rate 0, 4 or 9 data bits, an
  // unknown parity or stop-bit code); a Win32 driver refuses such a DCB, and so does the backend.
  bool Valid = false;
  // Raw mode as cfmakeraw leaves it, plus the character format, handshaking and speed of the DCB.
  // When ArbitraryRate is set the speed in here is only a stand-in: the rate goes in a second step.
  termios Attributes{};
  std::uint32_t BaudRate = 0;
  // The rate has no B-constant (14400 and 56000 of the driver's table among them).
  bool ArbitraryRate = false;
  // Wanted levels of the modem control lines.
  bool Dtr = false;
  bool Rts = false;
};

// The B-constant for `bitsPerSecond`, or B0 when the system has none for that rate.
speed_t SpeedConstantOf(std::uint32_t bitsPerSecond);

// Translates the DCB. DCB flags with no terminal counterpart (DSR flow and sensitivity, NUL
// stripping, error characters, abort on error, transmit-continue on XOFF) are left out.
TTermiosSettings TermiosFromDcb(const TDcb& dcb);

}  // namespace platform
