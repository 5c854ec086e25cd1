// Reading kestlog's command line.
#include "headless/LogOptions.h"

#include <QCommandLineParser>
#include <QStringList>

#include "platform/PortMap.h"
#include "text/Number.h"
#include "text/Words.h"

namespace headless {

namespace {

// A week: long enough for any session, short enough for a millisecond timer.
constexpr double MaxSeconds = 7 * 24 * 3600;

// A plain C number, whatever the user's locale writes, within (0, MaxSeconds].
bool ParseSeconds(const std::string& text, double& value) {
  const std::optional<double> seconds = text::ParseNumber(text);
  if (!seconds || *seconds <= 0 || *seconds > MaxSeconds) return false;
  value = *seconds;
  return true;
}

// "COM" and digits, the letters in any case: meant as a COM number, never as a file's name.
bool LooksLikeComName(const std::string& text) {
  return text.size() > 3 && text::StartsWithNoCase(text, "COM") &&
         text.find_first_not_of("0123456789", 3) == std::string::npos;
}

// kestlog's options, in the order --help lists them: the one list that parsing and the help
// text are both made from.
struct TLogParser {
  QCommandLineParser Parser;
  QCommandLineOption Help = Parser.addHelpOption();
  QCommandLineOption Version = Parser.addVersionOption();
  QCommandLineOption Port{QStringLiteral("port"),
                          QStringLiteral("The serial device, such as /dev/ttyUSB0 or "
                                         "/dev/serial/by-id/..., or COMn, the number the "
                                         "window's menu gives it."),
                          QStringLiteral("DEVICE")};
  QCommandLineOption List{QStringLiteral("list"),
                          QStringLiteral("List the serial devices with their COM numbers, and "
                                         "stop.")};
  QCommandLineOption Fast{QStringLiteral("fast"),
                          QStringLiteral("Sample every 80 ms instead of every 100 ms.")};
  QCommandLineOption Lambda{QStringLiteral("lambda"),
                            QStringLiteral("Log lambda instead of the air-fuel ratio.")};
  QCommandLineOption Fuel{QStringLiteral("fuel"),
                          QStringLiteral("petrol (default), methanol or propane: the fuel of the "
                                         "air-fuel ratio."),
                          QStringLiteral("FUEL")};
  QCommandLineOption Output{{QStringLiteral("o"), QStringLiteral("output")},
                            QStringLiteral("Write the rows to FILE (replaced if it exists); - for "
                                           "standard output (the default)."),
                            QStringLiteral("FILE")};
  QCommandLineOption Format{QStringLiteral("format"),
                            QStringLiteral("classic (default): the window's format, "
                                           "time,reading,volts. extended: ISO 8601 time with "
                                           "milliseconds, reading, petrol AFR, lambda, volts, "
                                           "temperature code and status (live, warmup, offline, "
                                           "lowvolts). msl: the same every tick as a "
                                           "tab-separated MSL log for engine tuning software, "
                                           "time in seconds from the first row, status as 0 to "
                                           "3 in that order."),
                            QStringLiteral("FORMAT")};
  QCommandLineOption Seconds{QStringLiteral("seconds"),
                             QStringLiteral("Stop after N seconds (at most 604800, a week)."),
                             QStringLiteral("N")};

  TLogParser() {
    Parser.setApplicationDescription(QStringLiteral(
        "kestlog --port DEVICE polls a wideband lambda controller on a serial device and\n"
        "writes one CSV row per sample, as the kestlsugraph window's data log does, until\n"
        "Ctrl-C or --seconds. kestlog --list lists the serial devices."));
    Parser.addOptions({Port, List, Fast, Lambda, Fuel, Output, Format, Seconds});
  }
};

}  // namespace

std::optional<TLogOptions> ParseLogOptions(const std::vector<std::string>& arguments,
                                           std::string& error) {
  TLogParser p;
  QStringList list{QStringLiteral("kestlog")};
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  if (!p.Parser.parse(list)) {
    error = p.Parser.errorText().toStdString();
    return std::nullopt;
  }
  const QStringList positional = p.Parser.positionalArguments();
  if (!positional.isEmpty()) {
    error = "unexpected argument '" + positional.first().toStdString() + "'";
    return std::nullopt;
  }
  // A later option replaces an earlier one.
  auto last = [&](const QCommandLineOption& option) {
    return p.Parser.values(option).last().toStdString();
  };

  TLogOptions options;
  options.Help = p.Parser.isSet(p.Help);
  options.Version = p.Parser.isSet(p.Version);
  options.List = p.Parser.isSet(p.List);
  options.Fast = p.Parser.isSet(p.Fast);
  if (p.Parser.isSet(p.Lambda)) options.DisplayMode = sensor::dmLambda;
  if (p.Parser.isSet(p.Port)) {
    options.Port = last(p.Port);
    // No path begins with "--": "--port --fast" lacks its device.
    if (options.Port.empty() || options.Port.rfind("--", 0) == 0) {
      error = "--port needs a device path such as /dev/ttyUSB0, or COMn";
      return std::nullopt;
    }
    // COMn is the number the window's menu gives the device (see --list).
    options.ComNumber = platform::TPortMap::ComNumberOf(options.Port).value_or(0);
    if (options.ComNumber == 0 && LooksLikeComName(options.Port)) {
      error = "--port takes COM1 to COM16 or a device path, not '" + options.Port + "'";
      return std::nullopt;
    }
  }
  if (p.Parser.isSet(p.Fuel)) {
    const std::string value = last(p.Fuel);
    const std::optional<int> fuel = sensor::FuelTypeNamed(value);
    if (!fuel) {
      error = "--fuel is petrol, methanol or propane, not '" + value + "'";
      return std::nullopt;
    }
    options.FuelType = *fuel;
  }
  if (p.Parser.isSet(p.Output)) {
    options.Output = last(p.Output);
    if (options.Output.empty()) {
      error = "--output needs a file name, or - for standard output";
      return std::nullopt;
    }
  }
  if (p.Parser.isSet(p.Format)) {
    const std::string value = last(p.Format);
    if (value == "classic") {
      options.Format = csvlog::TRowFormat::Classic;
    } else if (value == "extended") {
      options.Format = csvlog::TRowFormat::Extended;
    } else if (value == "msl") {
      options.Format = csvlog::TRowFormat::Msl;
    } else {
      error = "--format is classic, extended or msl, not '" + value + "'";
      return std::nullopt;
    }
  }
  if (p.Parser.isSet(p.Seconds)) {
    const std::string value = last(p.Seconds);
    if (!ParseSeconds(value, options.Seconds)) {
      error = "--seconds needs a number of seconds above 0 and up to 604800, not '" + value + "'";
      return std::nullopt;
    }
  }
  if (!options.Help && !options.Version && !options.List && !p.Parser.isSet(p.Port)) {
    error = "--port DEVICE is required, such as --port /dev/ttyUSB0 or --port COM1";
    return std::nullopt;
  }
  return options;
}

std::string LogUsage() {
  TLogParser p;
  return p.Parser.helpText().toStdString() +
         "\n"
         "On a terminal, with the rows going to a file, a status line shows the reading, the\n"
         "lamps and the line's health. An unplugged adapter is re-opened when it comes back.\n"
         "Exit status: 0 after Ctrl-C or --seconds, 1 when the device or the file fails,\n"
         "2 for a bad command line.\n";
}

}  // namespace headless
