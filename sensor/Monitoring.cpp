// The receive step the monitoring engine runs for each answer: read, check, keep the last good
// frame, derive the supply volts and the warm-up state.
#include "sensor/Monitoring.h"

namespace sensor {

TFrameReceipt ReceiveFrame(TByteReader& source, SensorFrame& current, SensorFrame& lastGood,
                           double& supplyVolts, bool& warmingUp) {
  TFrameReceipt receipt;
  receipt.FrameFound = ReadSensorFrame(source, current);
  if (!receipt.FrameFound) return receipt;
  receipt.CheckHeld = AcceptFrame(current, lastGood);
  supplyVolts = SupplyVoltsOf(current.VoltsByte);
  warmingUp = IsWarmingUp(current);
  return receipt;
}

}  // namespace sensor
