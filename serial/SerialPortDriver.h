// TSerialPortDriver: the component through which the monitor talks to the controller box.
//
// It opens one serial port by number, programs its line settings and offers byte reads and writes
// that wait with idle time-outs. While the port is open a poll timer looks at the receive queue
// every ComPortPollingDelay ms and hands what has arrived to OnReceiveData. Everything runs on the
// thread that created the driver; it starts no thread of its own. The driver reports every outcome
// by its result and never throws or shows anything.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialApi.h"

enum class TComPortNumber : std::uint8_t {
  pnCOM1,
  pnCOM2,
  pnCOM3,
  pnCOM4,
  pnCOM5,
  pnCOM6,
  pnCOM7,
  pnCOM8,
  pnCOM9,
  pnCOM10,
  pnCOM11,
  pnCOM12,
  pnCOM13,
  pnCOM14,
  pnCOM15,
  pnCOM16
};
enum class TComPortBaudRate : std::uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200
};
enum class TComPortDataBits : std::uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum class TComPortStopBits : std::uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum class TComPortParity : std::uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum class TComPortHwHandshaking : std::uint8_t { hhNONE, hhNONERTSON, hhRTSCTS };
enum class TComPortSwHandshaking : std::uint8_t { shNONE, shXONXOFF };

// Bits per second for each TComPortBaudRate, by ordinal.
inline constexpr std::array<std::uint32_t, 13> ComPortRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

class TSerialPortDriver;

// Called from a poll tick with the bytes it took from the port; DataPtr is valid only during the
// call.
using TComPortReceiveDataEvent =
    std::function<void(TSerialPortDriver* Sender, const void* DataPtr, std::uint32_t DataSize)>;

// "W32S", "W95", "WNT", "" for an unknown platform id, "??" when the system does not answer.
std::string GetWinPlatform(platform::TSerialApi& api);
// Major version x 65536 + minor version, or 0 when the system does not answer.
std::uint32_t GetWinVersion(platform::TSerialApi& api);

class TSerialPortDriver {
 public:
  // The driver keeps a reference to `api`, which must outlive it. The port starts closed.
  explicit TSerialPortDriver(platform::TSerialApi& api = platform::SystemSerialApi());
  // Closes the port, then frees the receive buffer and the poll window.
  ~TSerialPortDriver();
  TSerialPortDriver(const TSerialPortDriver&) = delete;
  TSerialPortDriver& operator=(const TSerialPortDriver&) = delete;

  // --- Settings. Those that need a closed port are ignored while it is open. ---
  TComPortNumber ComPort() const { return FComPort; }
  void SetComPort(TComPortNumber value);  // ignored while open
  TComPortBaudRate ComPortSpeed() const { return FComPortSpeed; }
  void SetComPortSpeed(TComPortBaudRate value);  // while open: reprograms the line at once
  TComPortDataBits ComPortDataBits() const { return FComPortDataBits; }
  void SetComPortDataBits(TComPortDataBits value);  // as ComPortSpeed
  TComPortStopBits ComPortStopBits() const { return FComPortStopBits; }
  void SetComPortStopBits(TComPortStopBits value);  // as ComPortSpeed
  TComPortParity ComPortParity() const { return FComPortParity; }
  void SetComPortParity(TComPortParity value);  // as ComPortSpeed
  TComPortHwHandshaking ComPortHwHandshaking() const { return FComPortHwHandshaking; }
  void SetComPortHwHandshaking(TComPortHwHandshaking value);  // as ComPortSpeed
  TComPortSwHandshaking ComPortSwHandshaking() const { return FComPortSwHandshaking; }
  void SetComPortSwHandshaking(TComPortSwHandshaking value);  // as ComPortSpeed
  std::uint16_t ComPortInBufSize() const { return FComPortInBufSize; }
  // Ignored while open; while closed, a new receive buffer of this size replaces the old one.
  void SetComPortInBufSize(std::uint16_t value);
  std::uint16_t ComPortOutBufSize() const { return FComPortOutBufSize; }
  void SetComPortOutBufSize(std::uint16_t value);  // ignored while open
  std::uint16_t ComPortPollingDelay() const { return FComPortPollingDelay; }
  // The same value again does nothing; while open the poll timer restarts with the new interval.
  void SetComPortPollingDelay(std::uint16_t value);
  bool EnableDTROnOpen() const { return FEnableDTROnOpen; }
  void SetEnableDTROnOpen(bool value) { FEnableDTROnOpen = value; }  // used at the next programming
  std::uint16_t OutputTimeout() const { return FOutputTimeout; }
  void SetOutputTimeout(std::uint16_t value) { FOutputTimeout = value; }
  std::uint32_t InputTimeout() const { return FInputTimeout; }
  void SetInputTimeout(std::uint32_t value) { FInputTimeout = value; }
  const TComPortReceiveDataEvent& OnReceiveData() const { return FOnReceiveData; }
  void SetOnReceiveData(TComPortReceiveDataEvent handler) { FOnReceiveData = std::move(handler); }

  // --- Operations ---
  // True when the port is open afterwards. Already open: true, and nothing is redone.
  bool OpenPort();
  // Stops the poll timer and closes the port; does nothing while closed.
  void ClosePort();
  bool IsOpen() const { return PortHandle != 0; }
  // Why the last OpenPort failed (None after one that succeeded), so callers can help the user.
  platform::TOpenError LastOpenError() const { return Api.LastOpenError(); }
  // The same with the device's path, the system's words and a busy device's holder.
  platform::TOpenFailure LastOpenFailure() const { return Api.LastOpenFailure(); }
  // True once a queue query or a read on the open port has failed since OpenPort: the device has
  // gone (an adapter pulled out, a terminal hung up) and nothing more will come from it. False
  // while closed. A read or write begun after that returns 0 at once instead of waiting out its
  // time-out on a dead device; the caller closes the port and opens it again when it is back.
  bool DeviceLost() const { return DeviceFailed; }
  // The first call on the open port that began to fail since the last TakeFailure, and takes it
  // (an empty Call: none). A call begins to fail when it fails where the last call of its kind
  // since OpenPort did not: a failure that lasts (a write refused on every tick) is kept once, and
  // again only after a call of its kind succeeded or the port was opened anew. What failed is
  // kept across ClosePort, so a caller can still say why it closed a lost port.
  platform::TPortFailure TakeFailure();
  // Programs speed, character format, handshaking and queue sizes, discarding pending data in both
  // directions. Does nothing while closed.
  void ApplyLineSettings();
  // The line settings record ApplyLineSettings would write now (what it depends on: the settings
  // and the platform's version); the queue threshold follows the platform rules.
  platform::TDcb BuildDcb();
  void HoldPolling() { ++PollHoldCount; }
  void ReleasePolling() { --PollHoldCount; }
  std::int32_t PollHolds() const { return PollHoldCount; }
  // Discards pending data in the directions asked for; does nothing while closed.
  void Purge(bool receive, bool transmit);
  // Bytes waiting to be read; 65535 while closed, 0 when the device cannot be queried.
  std::uint32_t InputQueueCount();
  // Room left in the transmit queue, in 16-bit arithmetic; 65535 while closed, 0 when the device
  // cannot be queried.
  std::uint16_t OutputFreeSpace();
  // Writes up to `count` bytes, waiting for room; leaves when more than `timeout` ms pass without
  // progress. Returns the bytes written (0 at once while closed).
  std::uint32_t WriteBytesTimed(const void* data, std::uint32_t count, std::uint32_t timeout);
  std::uint32_t WriteBytes(const void* data, std::uint32_t count);  // with OutputTimeout
  bool WriteByte(std::uint8_t value);                               // exactly one byte written
  // Reads up to `count` bytes, holding polling meanwhile; leaves when more than InputTimeout ms
  // pass without a byte. Returns the bytes read (0 at once, buffer untouched, while closed).
  std::uint32_t ReadBytes(void* buffer, std::uint32_t count);
  // Exactly one byte read into `target`; on time-out `target` keeps its value.
  bool ReadByte(std::uint8_t& target);
  // Sleeps until `count` bytes are queued, while they keep coming at the line's rate, and reads
  // nothing: each sleep lasts the line time of the bytes still missing and of one more, and ends
  // the wait when no new byte came in it. Never sleeps past the idle time-out of a read begun
  // now. Returns at once while closed, on a device that is gone, or when the last queue query
  // found enough that no read has taken since. A caller that knows how many bytes belong
  // together calls it after a read and before reading them one by one, so that a line carrying
  // them one at a time wakes it once, not once per byte.
  void WaitForQueuedInput(std::uint32_t count);
  // The line time of one character at the current settings: start bit, data bits, parity bit
  // (unless none) and stop bits, in microseconds, rounded up.
  std::uint32_t CharacterMicroseconds() const;
  // The poll window's message handler: a timer message while open takes what is queued (at most
  // ComPortInBufSize bytes; the rest stays queued for the next tick) and fires OnReceiveData. Every
  // other message goes to the window's default treatment, whose result lands in message.Result.
  void PollTick(platform::TMessage& message);

 private:
  // The port calls whose failures are told apart: a failing write does not hide a failing read.
  enum class TCall : std::uint8_t {
    SetCommState,
    SetupComm,
    SetCommTimeouts,
    PurgeComm,
    ClearCommError,
    ReadFile,
    WriteFile,
  };
  static constexpr std::size_t CallKinds = 7;
  // `result` as it is; a failed call of `call` that begins a failure keeps the system's reason.
  bool Kept(TCall call, bool result);

  platform::TSerialApi& Api;
  platform::TPortHandle PortHandle = 0;
  std::unique_ptr<platform::TPollWindow> PollWindow;
  std::vector<std::uint8_t> ReceiveBuffer;
  std::int32_t PollHoldCount = 0;
  bool DeviceFailed = false;  // see DeviceLost
  // Bytes the last queue query found that no read or purge has taken since. Only our own reads
  // and purges take bytes out of the receive queue, so they are surely still there, and a read
  // of no more than them needs no query first: on a line that delivers a frame at once, that
  // halves the system calls of reading it byte by byte.
  std::uint32_t KnownQueued = 0;
  // The same for room in the transmit queue, which only our own writes fill: what the last query
  // found free, less what was written since, is free still.
  std::uint32_t KnownRoom = 0;
  // Which kinds of call failed last time since OpenPort, and the first failure not taken yet.
  std::array<bool, CallKinds> Failing{};
  platform::TPortFailure Failure;

  TComPortNumber FComPort = TComPortNumber::pnCOM2;
  TComPortBaudRate FComPortSpeed = TComPortBaudRate::br9600;
  TComPortDataBits FComPortDataBits = TComPortDataBits::db8BITS;
  TComPortStopBits FComPortStopBits = TComPortStopBits::sb1BITS;
  TComPortParity FComPortParity = TComPortParity::ptNONE;
  TComPortHwHandshaking FComPortHwHandshaking = TComPortHwHandshaking::hhNONERTSON;
  TComPortSwHandshaking FComPortSwHandshaking = TComPortSwHandshaking::shNONE;
  std::uint16_t FComPortInBufSize = 2048;
  std::uint16_t FComPortOutBufSize = 2048;
  std::uint16_t FComPortPollingDelay = 50;
  bool FEnableDTROnOpen = true;
  std::uint16_t FOutputTimeout = 500;
  std::uint32_t FInputTimeout = 200;
  TComPortReceiveDataEvent FOnReceiveData;
};

// The device name for a port: "\\.\COM" followed by the port's number (ordinal + 1).
std::string ComPortDeviceName(TComPortNumber port);
