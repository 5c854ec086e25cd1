// The status a row is given, kestlog's status line and its summary.
#include "headless/StatusText.h"

namespace headless {

TLampState LampsOf(const monitor::TMonitorState& s) {
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

std::string IsoTimestamp(const QDateTime& when) {
  return csvlog::IsoTimestamp(when.toMSecsSinceEpoch(), when.offsetFromUtc());
}

std::string StatusLine(const TStatusView& view) {
  std::string line = view.DisplayMode == sensor::dmAirFuelRatio ? "AFR " : "LAMBDA ";
  line += view.ReadoutText;
  line += "  ";
  line += view.VoltsText;
  line += "  ";
  if (view.PortLost) {
    line += "device lost";
  } else if (!view.Lamps.PortOpen) {
    line += "no port";
  } else {
    // The lamps as the window shows them: online or not, and the two that light up on their own.
    line += view.Lamps.Online ? "online" : "offline";
    if (view.Lamps.Online && view.Lamps.WarmingUp) line += " warmup";
    if (view.Lamps.LowVolts) line += " lowvolts";
  }
  line += "  ";
  line += csvlog::PointDecimal(view.FramesPerSecond, 1);
  line += " frames/s  ";
  line += std::to_string(view.ChecksumFailures);
  line += " bad checksums  ";
  line += std::to_string(view.Timeouts);
  line += " time-outs";
  return line;
}

std::string SummaryText(const TMonitorStats& stats, const std::string& outputName, double seconds) {
  std::string text = "kestlog: stopped after " + csvlog::PointDecimal(seconds, 1) + " s\n";
  text += "  rows written:    " + std::to_string(stats.Rows) + " (" + outputName + ")\n";
  text += "  frames accepted: " + std::to_string(stats.FramesAccepted) + "\n";
  text += "  frames rejected: " + std::to_string(stats.FramesRejected) + " (bad checksum)\n";
  text += "  read time-outs:  " + std::to_string(stats.ReadTimeouts) + "\n";
  text += "  offline spells:  " + std::to_string(stats.OfflineSpells) + "\n";
  if (stats.PortLosses > 0) text += "  device lost:     " + std::to_string(stats.PortLosses) + "\n";
  return text;
}

}  // namespace headless
