// The receive path as the main window runs it (the driver's poll tick handing a chunk to a handler
// that asks again and reads its own frame with sensor::ReceiveFrame through the driver's ReadByte),
// over the scripted fake line, with the line's bytes, chunking, timing and faults taken from
// arbitrary input.
//
// How the input is read. Byte 0 chooses the receive buffer's size (1 to 64 bytes, so that chunks
// overflow it often); byte 1 a clock step per tick reading (0 to 3 ms) and a cap on bytes per
// ReadFile (0 to 7, 0 = none). Then each byte is an operation, its low three bits the kind and
// the upper five an argument a (0 to 31):
//   0  a+1 bytes arrive now              (taken from the input that follows)
//   1  a+1 bytes arrive after g ms       (g is the next byte, then the bytes)
//   2  the clock runs a*8+1 ms, firing the poll timer as it comes due
//   3  one poll tick, whether the timer runs or not
//   4  the clock moves a*8 ms without ticks (bytes still arrive)
//   5  a fault: a%4 = 0 healthy, 1 the device fails, 2 only reads fail, 3 close and re-open
//   6  purge: receive when a&1, transmit when a&2
//   7  the sample tick's request byte; the ReadFile cap becomes a%8
// Input that runs out ends the script; every input is a valid script.
#include "tests/fuzz/ReceivePathCase.h"

#include <cmath>
#include <exception>
#include <vector>

#include "monitor/ControllerLine.h"
#include "sensor/Monitoring.h"
#include "sensor/SensorFrame.h"
#include "serial/SerialPortDriver.h"
#include "tests/fuzz/FuzzTargets.h"
#include "tests/support/FakeSerialApi.h"

namespace fuzz {

namespace {

using kesttest::TFakeSerialApi;
using sensor::SensorFrame;

constexpr std::uint32_t InputTimeoutMs = 50;  // the window's driver settings
constexpr std::uint16_t PollingDelayMs = 5;

// Worked out here rather than with the sensor library's helper, so that a fault there is caught.
bool CheckHolds(const SensorFrame& f) {
  const unsigned sum = 34u + f.AfrByte + f.VoltsByte + f.TempByte;
  return f.SyncByte == 34 && f.CheckByte == static_cast<std::uint8_t>(255u - (sum & 0xFFu));
}

class TScript {
 public:
  TScript(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {}
  bool AtEnd() const { return Position >= Size; }
  std::uint8_t Next() { return AtEnd() ? 0 : Data[Position++]; }
  std::vector<std::uint8_t> Take(std::size_t count) {
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < count && !AtEnd()) bytes.push_back(Data[Position++]);
    return bytes;
  }

 private:
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Position = 0;
};

class TReceivePath {
 public:
  explicit TReceivePath(std::uint16_t inBufSize) : Driver(Line) {
    Line.SetRecording(false);  // the record would grow with every call of a long script
    Driver.SetComPort(TComPortNumber::pnCOM1);
    Driver.SetComPortSpeed(TComPortBaudRate::br19200);
    Driver.SetComPortInBufSize(inBufSize);
    Driver.SetComPortPollingDelay(PollingDelayMs);
    Driver.SetInputTimeout(InputTimeoutMs);
    Driver.SetOnReceiveData([this](TSerialPortDriver* sender, const void* data,
                                   std::uint32_t size) { ReceiveData(sender, data, size); });
    Driver.OpenPort();
  }

  void Run(TScript& script) {
    const std::uint8_t timing = script.Next();
    Line.SetTickStep(timing & 3u);
    Line.SetMaxReadPerCall((timing >> 2) & 7u);
    while (!script.AtEnd() && !Result.Failure) {
      const std::uint8_t op = script.Next();
      const unsigned a = op >> 3;
      switch (op & 7u) {
        case 0:
          Line.QueueInput(script.Take(a + 1));
          break;
        case 1: {
          const std::uint8_t gap = script.Next();
          Line.ScheduleInputAfter(gap, script.Take(a + 1));
          break;
        }
        case 2:
          Line.RunFor(a * 8 + 1);
          break;
        case 3:
          Line.FireTimer();
          break;
        case 4:
          Line.Advance(a * 8);
          break;
        case 5:
          Fault(a % 4);
          break;
        case 6:
          Driver.Purge((a & 1u) != 0, (a & 2u) != 0);
          break;
        case 7:
          Driver.WriteByte(sensor::RequestByte);
          Line.SetMaxReadPerCall(a % 8);
          break;
      }
      Line.ClearWritten();
      if (Driver.PollHolds() != 0) Fail("polling left held after an operation");
    }
  }

  TCaseResult Result;

 private:
  void Fail(const std::string& what) {
    if (!Result.Failure) Result.Failure = what;
  }

  void Fault(unsigned kind) {
    Line.SetDeviceFailing(kind == 1);
    Line.SetReadFailing(kind == 2);
    if (kind == 3) {
      Driver.ClosePort();
      if (!Driver.OpenPort()) Fail("a healthy port did not open again");
      if (Driver.DeviceLost()) Fail("a fresh open still counts its device as lost");
    }
  }

  // The window's receive handler, step for step, without its widgets.
  void ReceiveData(TSerialPortDriver* sender, const void* data, std::uint32_t size) {
    if (sender != &Driver) Fail("the handler was called for another driver");
    if (size == 0) Fail("the handler was called with no bytes");
    if (size > Driver.ComPortInBufSize()) Fail("a poll tick handed on more than its buffer holds");
    // Every byte handed on is looked at, so that the address checker sees a chunk that reaches
    // past the receive buffer.
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    unsigned sum = 0;
    for (std::uint32_t i = 0; i < size; ++i) sum += bytes[i];
    ChunkSum += sum;

    const SensorFrame currentBefore = Current;
    const SensorFrame lastGoodBefore = LastGood;
    const double voltsBefore = SupplyVolts;
    const bool warmingBefore = WarmingUp;

    Driver.WriteByte(sensor::RequestByte);
    Driver.HoldPolling();
    TDriverByteReader reader(Driver);
    const sensor::TFrameReceipt receipt =
        sensor::ReceiveFrame(reader, Current, LastGood, SupplyVolts, WarmingUp);
    if (Driver.PollHolds() != 1) Fail("the frame's reads did not pair their holds");
    Driver.ReleasePolling();
    OnlineCountdown = sensor::OnlineCountdownReload;
    ++Result.Chunks;
    if (receipt.FrameFound) ++Result.FramesFound;
    if (receipt.CheckHeld) ++Result.FramesKept;

    if (!receipt.FrameFound) {
      if (receipt.CheckHeld) Fail("a check held on no frame");
      if (!(Current == currentBefore) || !(LastGood == lastGoodBefore) ||
          SupplyVolts != voltsBefore || WarmingUp != warmingBefore) {
        Fail("no frame was found, yet the state changed");
      }
      return;
    }
    if (!(Current == LastGood)) Fail("after a frame the current and the last good one differ");
    if (receipt.CheckHeld && !CheckHolds(Current)) Fail("a frame whose check fails was kept");
    if (!receipt.CheckHeld && !(LastGood == lastGoodBefore)) {
      Fail("a rejected frame changed the last good frame");
    }
    if (!(LastGood == SensorFrame{}) && !CheckHolds(LastGood)) {
      Fail("the last good frame does not hold its check");
    }
    // Numbers the controller's protocol defines, written out so that a wrong constant in the
    // sensor library cannot move the expectation with it: warm-up from temperature code 180, and
    // 0.019607843 V x 3.2 per volts code.
    if (WarmingUp != (Current.TempByte >= 180)) {
      Fail("the warm-up state does not follow the frame");
    }
    if (std::fabs(SupplyVolts - Current.VoltsByte * 0.019607843 * 3.2) > 1e-9) {
      Fail("the supply volts do not follow the frame");
    }
  }

  TFakeSerialApi Line;
  TSerialPortDriver Driver;
  SensorFrame Current;
  SensorFrame LastGood;
  double SupplyVolts = 0;
  bool WarmingUp = false;
  int OnlineCountdown = 0;
  unsigned ChunkSum = 0;
};

}  // namespace

TCaseResult RunReceivePathCase(const std::uint8_t* data, std::size_t size) {
  TScript script(data, size);
  const auto inBufSize = static_cast<std::uint16_t>(1 + script.Next() % 64);
  try {
    TReceivePath path(inBufSize);
    path.Run(script);
    return path.Result;
  } catch (const std::exception& error) {
    // The fake throws when its caller spins without the clock or any byte moving.
    TCaseResult result;
    result.Failure = std::string("exception: ") + error.what();
    return result;
  }
}

std::optional<std::string> RunReceivePath(const std::uint8_t* data, std::size_t size) {
  return RunReceivePathCase(data, size).Failure;
}

}  // namespace fuzz
