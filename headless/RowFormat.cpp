// The texts kestlog writes: rows, status line, summary.
#include "headless/RowFormat.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "log/CsvLog.h"

namespace headless {

namespace {

// The extended format is for programs: its numbers always use a point.
constexpr const char* Point = ".";

// `value` in fixed notation with `decimals` decimals and a point, whatever the locale.
std::string Fixed(double value, int decimals) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  return std::string(buffer.data(), result.ptr);
}

std::string TwoDigits(int value) {
  const char text[3] = {static_cast<char>('0' + value / 10 % 10),
                        static_cast<char>('0' + value % 10), 0};
  return text;
}

}  // namespace

const char* StatusWord(TRowStatus status) {
  switch (status) {
    case TRowStatus::Live:
      return "live";
    case TRowStatus::Warmup:
      return "warmup";
    case TRowStatus::LowVolts:
      return "lowvolts";
    case TRowStatus::Offline:
      break;
  }
  return "offline";
}

TRowStatus RowStatusOf(const TLampState& lamps) {
  // Offline first: a silent controller's frame is stale whatever it says. Then warm-up, which the
  // controller reports while it answers. A controller that answers but has sent no usable frame
  // since it was last silent (junk only) has no live reading either.
  if (!lamps.PortOpen || !lamps.Online) return TRowStatus::Offline;
  if (lamps.WarmingUp) return TRowStatus::Warmup;
  if (!lamps.Live) return TRowStatus::Offline;
  return lamps.LowVolts ? TRowStatus::LowVolts : TRowStatus::Live;
}

std::vector<std::string> HeaderLines(TRowFormat format, const std::string& dateText) {
  if (format == TRowFormat::Extended) return {ExtendedHeader};
  return {csvlog::LogHeaderLine1(dateText), csvlog::LogHeaderLine2};
}

std::string ClassicRow(const std::string& timeText, const TSample& sample,
                       const std::string& decimalSeparator) {
  const double reading =
      sensor::CalcKest(sample.Frame.AfrByte, sample.DisplayMode, sample.FuelType);
  return csvlog::LogRow(timeText,
                        sensor::ReadingText(reading, sample.DisplayMode, decimalSeparator),
                        sensor::VoltageText(sample.SupplyVolts, decimalSeparator));
}

std::string ExtendedRow(const std::string& isoTime, const TSample& sample) {
  const std::uint8_t afrByte = sample.Frame.AfrByte;
  const double reading = sensor::CalcKest(afrByte, sample.DisplayMode, sample.FuelType);
  const double petrolAfr = sensor::CalcKest(afrByte, sensor::dmAirFuelRatio, sensor::ftPetrol);
  const double lambda = sensor::CalcKest(afrByte, sensor::dmLambda, sensor::ftPetrol);
  std::string row = isoTime;
  row += ',';
  row += sensor::ReadingText(reading, sample.DisplayMode, Point);
  row += ',';
  row += Fixed(petrolAfr, 1);
  row += ',';
  // Three decimals and two for the volts: one step of the controller's byte then always changes
  // the text, which the window's rounding to three digits does not promise.
  row += Fixed(lambda, 3);
  row += ',';
  row += Fixed(sample.SupplyVolts, 2);
  row += ',';
  row += std::to_string(sample.Frame.TempByte);
  row += ',';
  row += StatusWord(sample.Status);
  return row;
}

std::string IsoTimestamp(const QDateTime& when) {
  std::string text = when.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")).toStdString();
  const int offset = when.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  text += offset < 0 ? '-' : '+';
  text += TwoDigits(minutes / 60);
  text += ':';
  text += TwoDigits(minutes % 60);
  return text;
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
  line += Fixed(view.FramesPerSecond, 1);
  line += " frames/s  ";
  line += std::to_string(view.ChecksumFailures);
  line += " bad checksums  ";
  line += std::to_string(view.Timeouts);
  line += " time-outs";
  return line;
}

std::string SummaryText(const TMonitorStats& stats, const std::string& outputName, double seconds) {
  std::string text = "kestlog: stopped after " + Fixed(seconds, 1) + " s\n";
  text += "  rows written:    " + std::to_string(stats.Rows) + " (" + outputName + ")\n";
  text += "  frames accepted: " + std::to_string(stats.FramesAccepted) + "\n";
  text += "  frames rejected: " + std::to_string(stats.FramesRejected) + " (bad checksum)\n";
  text += "  read time-outs:  " + std::to_string(stats.ReadTimeouts) + "\n";
  text += "  offline spells:  " + std::to_string(stats.OfflineSpells) + "\n";
  if (stats.PortLosses > 0) text += "  device lost:     " + std::to_string(stats.PortLosses) + "\n";
  return text;
}

}  // namespace headless
