// The status a row is given, from the engine's lamps.
#include "monitor/RowStatus.h"

namespace monitor {

TLampState LampsOf(const TMonitorState& s) {
  TLampState lamps;
  lamps.PortOpen = s.PortOpen;
  lamps.Online = s.OnlineLamp && s.OnlineCountdown > 0;
  lamps.WarmingUp = s.WarmingUp;
  lamps.Live = s.ReadingLive;
  lamps.LowVolts = s.LowVoltsLamp;
  lamps.WarmupLamp = s.WarmupLamp;
  return lamps;
}

csvlog::TRowStatus RowStatusOf(const TLampState& lamps) {
  // Offline first: a silent controller's frame is stale whatever it says. Then warm-up, which the
  // controller reports while it answers. A controller that answers but has sent no usable frame
  // since it was last silent (junk only) has no live reading either.
  if (!lamps.PortOpen || !lamps.Online) return csvlog::TRowStatus::Offline;
  if (lamps.WarmingUp) return csvlog::TRowStatus::Warmup;
  if (!lamps.Live) return csvlog::TRowStatus::Offline;
  return lamps.LowVolts ? csvlog::TRowStatus::LowVolts : csvlog::TRowStatus::Live;
}

}  // namespace monitor
