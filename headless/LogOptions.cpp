// Reading kestlog's command line.
#include "headless/LogOptions.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "platform/CommandLine.h"
#include "platform/PortMap.h"

namespace headless {

namespace {

// A week: long enough for any session, short enough for a millisecond timer.
constexpr double MaxSeconds = 7 * 24 * 3600;

// from_chars, not strtod: the decimal point must not depend on the user's locale.
bool ParseSeconds(const std::string& text, double& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && std::isfinite(value) && value > 0 &&
         value <= MaxSeconds;
}

// "COM" and digits, the letters in any case: meant as a COM number, never as a file's name.
bool LooksLikeComName(const std::string& text) {
  if (text.size() <= 3) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i]) return false;
  }
  return text.find_first_not_of("0123456789", 3) == std::string::npos;
}

}  // namespace

std::optional<TLogOptions> ParseLogOptions(const std::vector<std::string>& arguments,
                                           std::string& error) {
  TLogOptions options;
  bool portGiven = false;

  for (platform::TOptionCursor cursor(arguments); cursor.Next();) {
    const std::string& name = cursor.Name();
    auto flag = [&]() {
      if (!cursor.HasInlineValue()) return true;
      error = name + " takes no value";
      return false;
    };
    std::string value;
    auto takeValue = [&](const char* what) {
      // No path or number begins with "--": "--port --fast" lacks its device.
      value = cursor.TakeValue(true).value_or(std::string());
      if (!value.empty()) return true;
      error = name + " needs " + what;
      return false;
    };

    if (name == "--help" || name == "-h") {
      if (!flag()) return std::nullopt;
      options.Help = true;
    } else if (name == "--version") {
      if (!flag()) return std::nullopt;
      options.Version = true;
    } else if (name == "--port") {
      if (!takeValue("a device path such as /dev/ttyUSB0, or COMn")) return std::nullopt;
      // COMn is the number the window's menu gives the device (see --list).
      options.ComNumber = platform::TPortMap::ComNumberOf(value).value_or(0);
      if (options.ComNumber == 0 && LooksLikeComName(value)) {
        error = "--port takes COM1 to COM16 or a device path, not '" + value + "'";
        return std::nullopt;
      }
      options.Port = value;
      portGiven = true;
    } else if (name == "--list") {
      if (!flag()) return std::nullopt;
      options.List = true;
    } else if (name == "--fast") {
      if (!flag()) return std::nullopt;
      options.Fast = true;
    } else if (name == "--lambda") {
      if (!flag()) return std::nullopt;
      options.DisplayMode = sensor::dmLambda;
    } else if (name == "--fuel") {
      if (!takeValue("petrol, methanol or propane")) return std::nullopt;
      if (value == "petrol") {
        options.FuelType = sensor::ftPetrol;
      } else if (value == "methanol") {
        options.FuelType = sensor::ftMethanol;
      } else if (value == "propane") {
        options.FuelType = sensor::ftPropane;
      } else {
        error = "--fuel is petrol, methanol or propane, not '" + value + "'";
        return std::nullopt;
      }
    } else if (name == "--output" || name == "-o") {
      if (!takeValue("a file name, or - for standard output")) return std::nullopt;
      options.Output = value;
    } else if (name == "--format") {
      if (!takeValue("classic or extended")) return std::nullopt;
      if (value == "classic") {
        options.Format = TRowFormat::Classic;
      } else if (value == "extended") {
        options.Format = TRowFormat::Extended;
      } else {
        error = "--format is classic or extended, not '" + value + "'";
        return std::nullopt;
      }
    } else if (name == "--seconds") {
      if (!takeValue("a number of seconds")) return std::nullopt;
      if (!ParseSeconds(value, options.Seconds)) {
        error = "--seconds needs a number of seconds above 0 and up to 604800, not '" + value + "'";
        return std::nullopt;
      }
    } else if (name.rfind("-", 0) == 0 && name.size() > 1) {
      error = "unknown option '" + name + "'";
      return std::nullopt;
    } else {
      error = "unexpected argument '" + cursor.Argument() + "'";
      return std::nullopt;
    }
  }

  if (!options.Help && !options.Version && !options.List && !portGiven) {
    error = "--port DEVICE is required, such as --port /dev/ttyUSB0 or --port COM1";
    return std::nullopt;
  }
  return options;
}

std::string LogUsage() {
  return "Usage: kestlog --port DEVICE [options]\n"
         "       kestlog --list\n"
         "Polls a wideband lambda controller on a serial device and writes one CSV row per\n"
         "sample, as the kestlsugraph window's data log does, until Ctrl-C or --seconds.\n"
         "\n"
         "  --port DEVICE      the serial device, such as /dev/ttyUSB0 or /dev/serial/by-id/...,\n"
         "                     or COMn, the number the window's menu gives it\n"
         "  --list             list the serial devices with their COM numbers, and stop\n"
         "  --fast             sample every 80 ms instead of every 100 ms\n"
         "  --lambda           log lambda instead of the air-fuel ratio\n"
         "  --fuel FUEL        petrol (default), methanol or propane: the air-fuel ratio's fuel\n"
         "  --output FILE      write the rows to FILE (replaced if it exists); - for standard\n"
         "                     output (the default)\n"
         "  --format FORMAT    classic (default): the window's format, time,reading,volts\n"
         "                     extended: ISO 8601 time with milliseconds, reading, petrol AFR,\n"
         "                     lambda, volts, temperature code and status\n"
         "                     (live, warmup, offline, lowvolts)\n"
         "  --seconds N        stop after N seconds (at most 604800, a week)\n"
         "  --help             show this text\n"
         "  --version          show the version\n"
         "\n"
         "On a terminal, with the rows going to a file, a status line shows the reading, the\n"
         "lamps and the line's health. An unplugged adapter is re-opened when it comes back.\n"
         "Exit status: 0 after Ctrl-C or --seconds, 1 when the device or the file fails,\n"
         "2 for a bad command line.\n";
}

}  // namespace headless
