// Translation of the driver's DCB into terminal settings for the POSIX backend.
#include "platform/TermiosSettings.h"

#include <array>
#include <utility>

namespace platform {

namespace {

// The rates the system has constants for. Anything else goes through the arbitrary-rate interface.
constexpr std::array<std::pair<std::uint32_t, speed_t>, 30> SpeedConstants = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

// Parked in the settings while an arbitrary rate is on its way; never B0, which would hang up.
constexpr speed_t StandInSpeed = B9600;

constexpr std::uint8_t ParityNone = 0, ParityOdd = 1, ParityEven = 2, ParityMark = 3,
                       ParitySpace = 4;
constexpr std::uint8_t OneAndAHalfStopBits = 1, TwoStopBits = 2;

tcflag_t CharacterSizeFlag(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

// The control flags of a DCB parity setting; mark and space parity need the stick-parity flag.
tcflag_t ParityFlags(std::uint8_t parity) {
  switch (parity) {
    case ParityOdd:
      return PARENB | PARODD;
    case ParityEven:
      return PARENB;
    case ParityMark:
      return PARENB | CMSPAR | PARODD;
    case ParitySpace:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

}  // namespace

speed_t SpeedConstantOf(std::uint32_t bitsPerSecond) {
  for (const auto& [rate, constant] : SpeedConstants) {
    if (rate == bitsPerSecond) return constant;
  }
  return B0;
}

TTermiosSettings TermiosFromDcb(const TDcb& dcb) {
  TTermiosSettings settings;
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > ParitySpace ||
      dcb.StopBits > TwoStopBits) {
    return settings;
  }
  settings.Valid = true;
  settings.BaudRate = dcb.BaudRate;

  // Raw: no line editing, echo, signals, output processing or input translation; every byte
  // passes unchanged both ways, as on a Win32 port in binary mode.
  termios& t = settings.Attributes;
  t = termios{};
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  // CLOCAL: the controller box drives no carrier line, and opening or reading must not wait for
  // one. CREAD: without it the line receives nothing.
  t.c_cflag = CREAD | CLOCAL | CharacterSizeFlag(dcb.ByteSize);
  // A read returns what is there; the backend opens non-blocking, so an empty queue gives EAGAIN.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  t.c_cflag |= ParityFlags(dcb.Parity);
  // fParity asks for received parity to be checked; without it the parity bit is sent but
  // received bytes are taken as they come, as the Win32 DCB means it.
  if (dcb.Flags & DcbFlag::fParity) t.c_iflag |= INPCK;

  // Terminals know one or two stop bits; one and a half (a 5-bit-only setting) becomes two, the
  // nearer of the two lengths a receiver still accepts.
  if (dcb.StopBits == OneAndAHalfStopBits || dcb.StopBits == TwoStopBits) t.c_cflag |= CSTOPB;

  // The terminal's RTS/CTS flow control covers both directions at once: asking for either half
  // in the DCB (CTS-governed output or RTS driven by the input queue) turns on both.
  if (dcb.Flags & (DcbFlag::fOutxCtsFlow | DcbFlag::RtsControlHandshake)) t.c_cflag |= CRTSCTS;

  // fOutX: our output obeys the peer's XOFF/XON. fInX: we send XOFF/XON as our input fills.
  if (dcb.Flags & DcbFlag::fOutX) t.c_iflag |= IXON;
  if (dcb.Flags & DcbFlag::fInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

  speed_t speed = SpeedConstantOf(dcb.BaudRate);
  if (speed == B0) {
    settings.ArbitraryRate = true;
    speed = StandInSpeed;
  }
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);

  // DTR handshake and RTS handshake/toggle still begin with the line raised.
  settings.Dtr = (dcb.Flags & (DcbFlag::DtrControlEnable | DcbFlag::DtrControlHandshake)) != 0;
  settings.Rts = (dcb.Flags & (DcbFlag::RtsControlEnable | DcbFlag::RtsControlHandshake)) != 0;
  return settings;
}

}  // namespace platform
