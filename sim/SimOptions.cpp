// Reading kestsim's command line into a simulator configuration.
#include "sim/SimOptions.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <type_traits>

#include "platform/CommandLine.h"
#include "sim/KestSimulator.h"

namespace sim {

namespace {

// from_chars, not strtod: the decimal point must not depend on the user's locale.
template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return false;
  if constexpr (std::is_floating_point_v<T>) return std::isfinite(value);
  return true;
}

bool InRange(double value, double low, double high) { return value >= low && value <= high; }

}  // namespace

std::optional<TSimOptions> ParseSimOptions(const std::vector<std::string>& arguments,
                                           std::string& error) {
  TSimOptions options;
  TSimConfig& config = options.Config;
  bool silentEveryGiven = false;
  bool silentForGiven = false;

  for (platform::TOptionCursor cursor(arguments); cursor.Next();) {
    const std::string& name = cursor.Name();
    auto flag = [&]() {
      if (!cursor.HasInlineValue()) return true;
      error = name + " takes no value";
      return false;
    };
    std::string value;
    auto takeValue = [&]() {
      std::optional<std::string> given = cursor.TakeValue(false);
      if (!given) {
        error = name + " needs a value";
        return false;
      }
      value = std::move(*given);
      return true;
    };
    auto number = [&](double& target, double low, double high, const char* what) {
      if (!takeValue()) return false;
      if (!ParseNumber(value, target) || !InRange(target, low, high)) {
        std::ostringstream text;
        text << name << " needs " << what << " from " << low << " to " << high << ", not '" << value
             << "'";
        error = text.str();
        return false;
      }
      return true;
    };

    if (name == "--help" || name == "-h") {
      if (!flag()) return std::nullopt;
      options.Help = true;
    } else if (name == "--link") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "--link needs a path";
        return std::nullopt;
      }
      config.LinkPath = value;
    } else if (name == "--tty") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "--tty needs a path";
        return std::nullopt;
      }
      config.TtyPath = value;
    } else if (name == "--scenario") {
      if (!takeValue()) return std::nullopt;
      if (value == "constant") {
        config.Scenario = TScenario::Constant;
      } else if (value == "drive") {
        config.Scenario = TScenario::Drive;
      } else {
        error = "--scenario is constant or drive, not '" + value + "'";
        return std::nullopt;
      }
    } else if (name == "--afr") {
      if (!takeValue()) return std::nullopt;
      unsigned afr = 0;
      if (!ParseNumber(value, afr) || afr > 255) {
        error = "--afr needs a whole number from 0 to 255, not '" + value + "'";
        return std::nullopt;
      }
      config.ConstantAfr = static_cast<std::uint8_t>(afr);
    } else if (name == "--latency") {
      if (!takeValue()) return std::nullopt;
      int latency = 0;
      if (!ParseNumber(value, latency) || latency < 0 || latency > 60000) {
        error = "--latency needs whole milliseconds from 0 to 60000, not '" + value + "'";
        return std::nullopt;
      }
      config.LatencyMs = latency;
    } else if (name == "--pace") {
      if (!flag()) return std::nullopt;
      config.Pace = true;
    } else if (name == "--warmup") {
      if (!number(config.WarmupSeconds, 0, 86400, "seconds")) return std::nullopt;
    } else if (name == "--corrupt") {
      if (!number(config.CorruptRate, 0, 1, "a rate")) return std::nullopt;
    } else if (name == "--junk") {
      if (!number(config.JunkRate, 0, 1, "a rate")) return std::nullopt;
    } else if (name == "--silent-every") {
      if (!number(config.SilentEverySeconds, 0, 86400, "seconds")) return std::nullopt;
      silentEveryGiven = true;
    } else if (name == "--silent-for") {
      if (!number(config.SilentForSeconds, 0, 86400, "seconds")) return std::nullopt;
      silentForGiven = true;
    } else if (name == "--spew") {
      if (!flag()) return std::nullopt;
      config.Spew = true;
    } else if (name == "--volts") {
      if (!number(config.SupplyVolts, 0, 16, "volts")) return std::nullopt;
    } else if (name == "--dip") {
      if (!flag()) return std::nullopt;
      config.Dip = true;
    } else if (name == "--seed") {
      if (!takeValue()) return std::nullopt;
      if (!ParseNumber(value, config.Seed)) {
        error = "--seed needs a whole number from 0 to 18446744073709551615, not '" + value + "'";
        return std::nullopt;
      }
    } else if (name == "--seconds") {
      if (!number(options.Seconds, 0, 1e9, "seconds")) return std::nullopt;
    } else {
      error = "unknown argument '" + cursor.Argument() + "' (try --help)";
      return std::nullopt;
    }
  }

  if (silentEveryGiven != silentForGiven) {
    error = "--silent-every and --silent-for go together";
    return std::nullopt;
  }
  if (silentEveryGiven && !(config.SilentForSeconds < config.SilentEverySeconds)) {
    error = "--silent-for must be shorter than --silent-every, or the box never answers";
    return std::nullopt;
  }
  return options;
}

std::string SimUsage() {
  return "Usage: kestsim [options]\n"
         "A simulated wideband lambda controller on a pseudo-terminal. Prints the device path on\n"
         "the first line, answers each request byte with one frame until SIGINT or SIGTERM, then\n"
         "prints its counters.\n"
         "  --link PATH              keep a symbolic link PATH to the device while running\n"
         "  --tty PATH               answer on this existing terminal device instead\n"
         "  --scenario constant|drive  fixed mixture, or idle/load/cruise/overrun (constant)\n"
         "  --afr N                  AFR x 10 of the constant scenario, 0 to 255 (147)\n"
         "  --latency MS             delay before each answer (2)\n"
         "  --pace                   send at 19200 bit/s instead of all bytes at once\n"
         "  --warmup S               sensor warming up for the first S seconds (0)\n"
         "  --corrupt RATE           share of frames with a wrong check byte, 0 to 1 (0)\n"
         "  --junk RATE              share of answers preceded by junk bytes, 0 to 1 (0)\n"
         "  --silent-every S --silent-for S  no answers for the last S of every S seconds\n"
         "  --spew                   junk without a sync byte at 19200 bit/s, never an answer\n"
         "  --volts V                supply volts, 0 to 16 (13.8)\n"
         "  --dip                    supply dips below 12 V for 4 s of every 20 s\n"
         "  --seed N                 the same seed repeats the same run (1)\n"
         "  --seconds N              stop after N seconds\n";
}

std::string SummaryLine(const TSimCounters& counters) {
  std::ostringstream line;
  line << "requests " << counters.RequestsSeen << ", frames " << counters.FramesSent
       << ", corrupted " << counters.FramesCorrupted << ", junk bytes " << counters.JunkBytesSent
       << ", silent " << counters.SilentRequestsIgnored << ", other bytes "
       << counters.OtherBytesIgnored << ", dropped " << counters.AnswersDropped;
  return line.str();
}

}  // namespace sim
