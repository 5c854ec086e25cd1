// The status a row is given, kestlog's status line and its summary.
#include "headless/StatusText.h"

namespace headless {

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
