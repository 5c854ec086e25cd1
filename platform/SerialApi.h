// The operating-system calls the serial port driver makes, behind one interface.
//
// Each backend (POSIX termios, Win32, and the scripted fake for tests) implements TSerialApi with
// the same contract: the names, records and flag values are those of the Win32 communications API,
// so the driver reads the same on every system and a test can check exactly what it asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// An open port as the backend knows it. The backends never hand out 0 or InvalidPortHandle for an
// open port, so the driver can keep 0 for "no port".
using TPortHandle = std::intptr_t;
inline constexpr TPortHandle InvalidPortHandle = -1;

// Bits of TDcb::Flags, laid out as the Win32 DCB's bit-field word.
namespace DcbFlag {
inline constexpr std::uint32_t fBinary = 0x1;
inline constexpr std::uint32_t fParity = 0x2;
inline constexpr std::uint32_t fOutxCtsFlow = 0x4;
inline constexpr std::uint32_t fOutxDsrFlow = 0x8;
inline constexpr std::uint32_t DtrControlEnable = 0x10;     // fDtrControl = 1
inline constexpr std::uint32_t DtrControlHandshake = 0x20;  // fDtrControl = 2
inline constexpr std::uint32_t fDsrSensitivity = 0x40;
inline constexpr std::uint32_t fTXContinueOnXoff = 0x80;
inline constexpr std::uint32_t fOutX = 0x100;
inline constexpr std::uint32_t fInX = 0x200;
inline constexpr std::uint32_t fErrorChar = 0x400;
inline constexpr std::uint32_t fNull = 0x800;
inline constexpr std::uint32_t RtsControlEnable = 0x1000;     // fRtsControl = 1
inline constexpr std::uint32_t RtsControlHandshake = 0x2000;  // fRtsControl = 2
inline constexpr std::uint32_t fAbortOnError = 0x4000;
}  // namespace DcbFlag

// Line settings: the fields of the Win32 DCB, in its order.
struct TDcb {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;

  bool operator==(const TDcb&) const = default;
};

struct TCommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const TCommTimeouts&) const = default;
};

// The part of COMSTAT the driver uses: bytes waiting in each direction.
struct TComStat {
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
};

// OSVERSIONINFO; its size field must be 148 for the query to answer.
struct TOsVersionInfo {
  std::uint32_t dwOSVersionInfoSize = 0;
  std::uint32_t dwMajorVersion = 0;
  std::uint32_t dwMinorVersion = 0;
  std::uint32_t dwBuildNumber = 0;
  std::uint32_t dwPlatformId = 0;
  char szCSDVersion[128] = {};
};
inline constexpr std::uint32_t OsVersionInfoSize = 148;

inline constexpr std::uint32_t PURGE_TXABORT = 0x1;
inline constexpr std::uint32_t PURGE_RXABORT = 0x2;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x4;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x8;

inline constexpr std::uint32_t WM_TIMER = 275;

// A window message as the poll window hands it on; Result is filled when the message is passed on.
struct TMessage {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

using TPollHandler = std::function<void(TMessage&)>;

// A hidden window owned by the driver: its timers arrive as WM_TIMER messages (WParam = timer id),
// delivered to the handler on the thread that created the window, one at a time.
class TPollWindow {
 public:
  virtual ~TPollWindow() = default;
  // Starts (or restarts) timer `id` with the given interval. False when the system refused.
  virtual bool SetTimer(std::uint32_t id, std::uint32_t intervalMs) = 0;
  // Stops timer `id`; stopping a timer that does not run is harmless.
  virtual void KillTimer(std::uint32_t id) = 0;
  // The system's default treatment of a message the driver does not handle; returns its result.
  virtual std::intptr_t DefWindowProc(const TMessage& message) = 0;
};

// Why the last CreateFile failed, so that callers can help the user (the driver itself reports
// nothing but its result).
enum class TOpenError { None, NotFound, InUse, PermissionDenied, NotATerminal, Other };

// The last failed CreateFile in full, captured where the call failed: enough to tell a user what
// went wrong and what to do. Empty text: the backend did not say.
struct TOpenFailure {
  TOpenError Error = TOpenError::None;
  std::string Path;        // the device the name was resolved to
  std::string SystemText;  // the system's own words for the error
  std::string Holder;      // for InUse: the program holding the device, if the system tells
};

// Why the last call on an open port failed, in the system's terms: its error code (errno on POSIX,
// GetLastError on Windows) and its own words for it. Code 0: the system gave no code (a terminal
// that hung up answers a read with end of file), and the words then say what happened.
struct TSystemError {
  std::uint32_t Code = 0;
  std::string Text;

  bool operator==(const TSystemError&) const = default;
};

// A call on an open port that failed: its name in TSerialApi ("WriteFile", "ClearCommError", ...)
// and why, as the system said where it failed. An empty Call: nothing failed, or nothing is known.
struct TPortFailure {
  std::string Call;
  TSystemError Error;

  bool operator==(const TPortFailure&) const = default;
};

class TSerialApi {
 public:
  virtual ~TSerialApi() = default;

  // Opens the device exclusively for reading and writing; InvalidPortHandle on failure.
  virtual TPortHandle CreateFile(const std::string& deviceName) = 0;
  // What made the last failed CreateFile fail; None after a successful one.
  virtual TOpenError LastOpenError() const = 0;
  // The same, with what else the backend learned; a backend that learns nothing more answers
  // with LastOpenError() alone.
  virtual TOpenFailure LastOpenFailure() const { return TOpenFailure{LastOpenError(), {}, {}, {}}; }
  virtual bool CloseHandle(TPortHandle port) = 0;

  virtual bool SetCommState(TPortHandle port, const TDcb& dcb) = 0;
  virtual bool SetupComm(TPortHandle port, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  virtual bool SetCommTimeouts(TPortHandle port, const TCommTimeouts& timeouts) = 0;
  // Discards what the PURGE_* flags name; flags 0 discards nothing.
  virtual bool PurgeComm(TPortHandle port, std::uint32_t flags) = 0;
  // Fills the queue counts and clears a pending line error into `errors`. False when the device
  // cannot be queried (for instance it has gone away); the counts are then left untouched.
  virtual bool ClearCommError(TPortHandle port, std::uint32_t& errors, TComStat& stat) = 0;

  // Reads/writes at most `count` bytes without waiting for more than is there; `done` gets the
  // count.
  virtual bool ReadFile(TPortHandle port, void* buffer, std::uint32_t count,
                        std::uint32_t& done) = 0;
  virtual bool WriteFile(TPortHandle port, const void* data, std::uint32_t count,
                         std::uint32_t& done) = 0;

  // Why the last of the calls above on an open port (all but CreateFile and CloseHandle) that
  // returned false failed, taken where it failed; a call that succeeds leaves it as it is. A
  // backend that learns nothing answers with code 0 and no words.
  virtual TSystemError LastPortError() const { return {}; }

  // Blocks in the system until input may be queued or `maxMs` milliseconds have passed, whichever
  // comes first. Never returns early again and again on a device that has hung up: such a device
  // is waited out for the full time, so that a caller's time-out loop cannot become a spin.
  virtual void WaitForInput(TPortHandle port, std::uint32_t maxMs) = 0;
  // The same for room in the transmit queue.
  virtual void WaitForOutputSpace(TPortHandle port, std::uint32_t maxMs) = 0;
  // Blocks in the system for at least `microseconds`, whatever the ports do: for a wait whose
  // length the caller knows better than any port event could tell it.
  virtual void SleepMicroseconds(std::uint32_t microseconds) = 0;

  // Milliseconds of a monotonic clock, wrapping at 2^32 like the Win32 tick counter.
  virtual std::uint32_t GetTickCount() = 0;
  // False when the system does not answer (or the size field is not 148).
  virtual bool GetVersionEx(TOsVersionInfo& info) = 0;

  // The driver's hidden poll window, delivering its messages to `handler`.
  virtual std::unique_ptr<TPollWindow> CreatePollWindow(TPollHandler handler) = 0;
};

class TPortMap;

// The backend this build was made for (POSIX termios or Win32), resolving the driver's COM names
// through `ports`, which must outlive it and is read at each open (so mappings made later count).
// On Windows an unmapped COM n is the system's own COMn, and a mapping names another port.
std::unique_ptr<TSerialApi> CreateSystemSerialApi(const TPortMap& ports);
// The same backend without mappings (COM n is the system's own name for it); lives for the whole
// process.
TSerialApi& SystemSerialApi();

}  // namespace platform
