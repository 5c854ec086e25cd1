// Reading kestsim's command line into a simulator configuration.
#include "sim/SimOptions.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdint>
#include <sstream>
#include <type_traits>

#include "sim/KestSimulator.h"
#include "text/Number.h"
#include "text/Words.h"

namespace sim {

namespace {

// A plain C number, whatever the user's locale writes; a whole one for a whole `value`.
template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  std::optional<T> number;
  if constexpr (std::is_floating_point_v<T>) {
    number = text::ParseNumber(text);
  } else {
    number = text::ParseWhole<T>(text);
  }
  if (number) value = *number;
  return number.has_value();
}

bool InRange(double value, double low, double high) { return value >= low && value <= high; }

// How far from its table an engine may breathe, and what a VE table may hold, in percent: beyond
// them the box's mixture would be pinned at its ends all the time.
constexpr double MinVeError = 0.5;
constexpr double MaxVeError = 2.0;
constexpr double MinVePercent = 5.0;
constexpr double MaxVePercent = 250.0;

// kestsim's options, in the order --help lists them: the one list that parsing and the help text
// are both made from.
struct TSimParser {
  QCommandLineParser Parser;
  QCommandLineOption Help = Parser.addHelpOption();
  QCommandLineOption Link{QStringLiteral("link"),
                          QStringLiteral("Keep a symbolic link PATH to the device while running."),
                          QStringLiteral("PATH")};
  QCommandLineOption Tty{QStringLiteral("tty"),
                         QStringLiteral("Answer on this existing terminal device instead."),
                         QStringLiteral("PATH")};
  QCommandLineOption Scenario{
      QStringLiteral("scenario"),
      QStringLiteral(
          "constant: a fixed mixture (the default); drive: idle, load, cruise, overrun."),
      QStringLiteral("NAME")};
  QCommandLineOption Afr{QStringLiteral("afr"),
                         QStringLiteral("AFR x 10 of the constant scenario, 0 to 255 (147)."),
                         QStringLiteral("N")};
  QCommandLineOption Latency{QStringLiteral("latency"),
                             QStringLiteral("Delay before each answer, 0 to 60000 (2)."),
                             QStringLiteral("MS")};
  QCommandLineOption Pace{QStringLiteral("pace"),
                          QStringLiteral("Send at 19200 bit/s instead of all bytes at once.")};
  QCommandLineOption Warmup{QStringLiteral("warmup"),
                            QStringLiteral("Sensor warming up for the first S seconds (0)."),
                            QStringLiteral("S")};
  QCommandLineOption Corrupt{QStringLiteral("corrupt"),
                             QStringLiteral("Share of frames with a wrong check byte, 0 to 1 (0)."),
                             QStringLiteral("RATE")};
  QCommandLineOption Junk{QStringLiteral("junk"),
                          QStringLiteral("Share of answers preceded by junk bytes, 0 to 1 (0)."),
                          QStringLiteral("RATE")};
  QCommandLineOption SilentEvery{
      QStringLiteral("silent-every"),
      QStringLiteral("With --silent-for: no answers for the last part of every S seconds."),
      QStringLiteral("S")};
  QCommandLineOption SilentFor{QStringLiteral("silent-for"),
                               QStringLiteral("How long each silence of --silent-every lasts."),
                               QStringLiteral("S")};
  QCommandLineOption Spew{QStringLiteral("spew"),
                          QStringLiteral("Junk without a sync byte at 19200 bit/s, never an "
                                         "answer.")};
  QCommandLineOption Volts{QStringLiteral("volts"), QStringLiteral("Supply volts, 0 to 16 (13.8)."),
                           QStringLiteral("V")};
  QCommandLineOption Dip{QStringLiteral("dip"),
                         QStringLiteral("Supply dips below 12 V for 4 s of every 20 s.")};
  QCommandLineOption Seed{QStringLiteral("seed"),
                          QStringLiteral("The same seed repeats the same run (1)."),
                          QStringLiteral("N")};
  QCommandLineOption EngineLog{
      QStringLiteral("engine-log"),
      QStringLiteral("Also write the engine's side of the drive (speed, MAP, throttle, "
                     "coolant, and the fuel: VE, AFR target, closed-loop correction, warm-up "
                     "and acceleration enrichment, fuel cut, pulse width) as its software logs "
                     "it: FILE.mlg (binary) or FILE.csv (text)."),
      QStringLiteral("FILE")};
  QCommandLineOption EngineRate{QStringLiteral("engine-rate"),
                                QStringLiteral("Engine log records a second, 1 to 1000 (20)."),
                                QStringLiteral("HZ")};
  QCommandLineOption EngineAfr{
      QStringLiteral("engine-afr"),
      QStringLiteral("The engine log gets a mixture channel of its own, lagging and noisy.")};
  QCommandLineOption EngineClockOffset{
      QStringLiteral("engine-clock-offset"),
      QStringLiteral("The engine's clock runs S seconds ahead of this machine's (0)."),
      QStringLiteral("S")};
  QCommandLineOption ClosedLoop{
      QStringLiteral("closed-loop"),
      QStringLiteral("With --scenario drive: on, the engine's closed loop trims its fuel towards "
                     "the target when warm and steady (the default); off, it never does."),
      QStringLiteral("on|off")};
  QCommandLineOption EngineWarm{
      QStringLiteral("engine-warm"),
      QStringLiteral("With --scenario drive: the engine starts warm (coolant at 88 C), so there is "
                     "no warm-up enrichment and the closed loop may work at once.")};
  QCommandLineOption VeError{
      QStringLiteral("ve-error"),
      QStringLiteral("With --scenario drive: the engine breathes FACTOR times what its VE table "
                     "says (1.10: 10 % more), 0.5 to 2 (1); or a grid of factors by rpm and MAP "
                     "in the CSV of kestview --table (empty cells: 1)."),
      QStringLiteral("FACTOR|FILE.csv")};
  QCommandLineOption VeTable{
      QStringLiteral("ve-table"),
      QStringLiteral("With --scenario drive: the engine fuels by this VE table (%) by rpm and MAP, "
                     "in the CSV of kestview --table (empty cells: the built-in table's), or the "
                     "fuel table of an MSQ tune such as kestview --correct writes."),
      QStringLiteral("FILE.csv|FILE.msq")};
  QCommandLineOption WriteTune{
      QStringLiteral("write-tune"),
      QStringLiteral("Write the engine computer's tune (its VE table, as --ve-table makes it, and "
                     "its target) to FILE.msq, for kestview --correct --tune."),
      QStringLiteral("FILE.msq")};
  QCommandLineOption Seconds{QStringLiteral("seconds"), QStringLiteral("Stop after N seconds."),
                             QStringLiteral("N")};

  TSimParser() {
    Parser.setApplicationDescription(QStringLiteral(
        "A simulated wideband lambda controller on a pseudo-terminal. Prints the device path on\n"
        "the first line, answers each request byte with one frame until SIGINT or SIGTERM, then\n"
        "prints its counters."));
    Parser.addOptions({Link,
                       Tty,
                       Scenario,
                       Afr,
                       Latency,
                       Pace,
                       Warmup,
                       Corrupt,
                       Junk,
                       SilentEvery,
                       SilentFor,
                       Spew,
                       Volts,
                       Dip,
                       Seed,
                       EngineLog,
                       EngineRate,
                       EngineAfr,
                       EngineClockOffset,
                       ClosedLoop,
                       EngineWarm,
                       VeError,
                       VeTable,
                       WriteTune,
                       Seconds});
  }
};

// The engine computer's fuel arithmetic of the drive: the closed loop, the engine's breathing
// against its table, and the table it fuels by.
bool FuelArithmetic(const TSimParser& p, TSimConfig& config, std::string& error) {
  const auto value = [&](const QCommandLineOption& option) {
    return p.Parser.values(option).last().toStdString();
  };
  const bool closedLoop = p.Parser.isSet(p.ClosedLoop);
  const bool veError = p.Parser.isSet(p.VeError);
  const bool veTable = p.Parser.isSet(p.VeTable);
  config.EngineWarm = p.Parser.isSet(p.EngineWarm);
  if ((closedLoop || veError || veTable || config.EngineWarm) &&
      config.Scenario != TScenario::Drive) {
    error = "--closed-loop, --engine-warm, --ve-error and --ve-table go with --scenario drive";
    return false;
  }
  if (closedLoop) {
    const std::string text = value(p.ClosedLoop);
    if (text != "on" && text != "off") {
      error = "--closed-loop is on or off, not '" + text + "'";
      return false;
    }
    config.ClosedLoop = text == "on";
  }
  if (veError) {
    const std::string text = value(p.VeError);
    std::ostringstream wanted;
    wanted << "--ve-error needs a factor from " << MinVeError << " to " << MaxVeError
           << " or a grid file";
    double factor = 0;
    if (ParseNumber(text, factor)) {
      if (!InRange(factor, MinVeError, MaxVeError)) {
        error = wanted.str() + ", not '" + text + "'";
        return false;
      }
      config.VeError = TFuelTable::Uniform(factor);
    } else {
      std::string why;
      config.VeError = ReadFuelTableCsv(text, MinVeError, MaxVeError, why);
      if (!config.VeError) {
        error = wanted.str() + ": " + why;
        return false;
      }
      FillEmptyCells(*config.VeError, TFuelTable::Uniform(1.0));
    }
  }
  if (veTable) {
    std::string why;
    const std::string path = value(p.VeTable);
    const bool msq = path.size() > 4 && text::EndsWithNoCase(path, ".msq");
    config.VeTable = msq ? ReadFuelTableMsq(path, MinVePercent, MaxVePercent, why)
                         : ReadFuelTableCsv(path, MinVePercent, MaxVePercent, why);
    if (!config.VeTable) {
      error = "--ve-table needs a grid file: " + why;
      return false;
    }
    FillEmptyCells(*config.VeTable, BuiltInVeTable());
  }
  return true;
}

}  // namespace

std::optional<TSimOptions> ParseSimOptions(const std::vector<std::string>& arguments,
                                           std::string& error) {
  TSimParser p;
  QStringList list{QStringLiteral("kestsim")};
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  if (!p.Parser.parse(list)) {
    error = p.Parser.errorText().toStdString() + " (try --help)";
    return std::nullopt;
  }
  if (!p.Parser.positionalArguments().isEmpty()) {
    error = "unknown argument '" + p.Parser.positionalArguments().first().toStdString() +
            "' (try --help)";
    return std::nullopt;
  }
  auto isSet = [&](const QCommandLineOption& option) { return p.Parser.isSet(option); };
  // A later option replaces an earlier one.
  auto value = [&](const QCommandLineOption& option) {
    return p.Parser.values(option).last().toStdString();
  };
  auto number = [&](const QCommandLineOption& option, double& target, double low, double high,
                    const char* what) {
    if (!isSet(option)) return true;
    const std::string text = value(option);
    if (ParseNumber(text, target) && InRange(target, low, high)) return true;
    std::ostringstream message;
    message << "--" << option.names().first().toStdString() << " needs " << what << " from " << low
            << " to " << high << ", not '" << text << "'";
    error = message.str();
    return false;
  };

  TSimOptions options;
  TSimConfig& config = options.Config;
  options.Help = isSet(p.Help);
  config.Pace = isSet(p.Pace);
  config.Spew = isSet(p.Spew);
  config.Dip = isSet(p.Dip);
  if (isSet(p.Link)) {
    config.LinkPath = value(p.Link);
    if (config.LinkPath.empty()) {
      error = "--link needs a path";
      return std::nullopt;
    }
  }
  if (isSet(p.Tty)) {
    config.TtyPath = value(p.Tty);
    if (config.TtyPath.empty()) {
      error = "--tty needs a path";
      return std::nullopt;
    }
  }
  if (isSet(p.Scenario)) {
    const std::string text = value(p.Scenario);
    if (text == "constant") {
      config.Scenario = TScenario::Constant;
    } else if (text == "drive") {
      config.Scenario = TScenario::Drive;
    } else {
      error = "--scenario is constant or drive, not '" + text + "'";
      return std::nullopt;
    }
  }
  if (isSet(p.Afr)) {
    const std::string text = value(p.Afr);
    unsigned afr = 0;
    if (!ParseNumber(text, afr) || afr > 255) {
      error = "--afr needs a whole number from 0 to 255, not '" + text + "'";
      return std::nullopt;
    }
    config.ConstantAfr = static_cast<std::uint8_t>(afr);
  }
  if (isSet(p.Latency)) {
    const std::string text = value(p.Latency);
    int latency = 0;
    if (!ParseNumber(text, latency) || latency < 0 || latency > 60000) {
      error = "--latency needs whole milliseconds from 0 to 60000, not '" + text + "'";
      return std::nullopt;
    }
    config.LatencyMs = latency;
  }
  if (!number(p.Warmup, config.WarmupSeconds, 0, 86400, "seconds") ||
      !number(p.Corrupt, config.CorruptRate, 0, 1, "a rate") ||
      !number(p.Junk, config.JunkRate, 0, 1, "a rate") ||
      !number(p.SilentEvery, config.SilentEverySeconds, 0, 86400, "seconds") ||
      !number(p.SilentFor, config.SilentForSeconds, 0, 86400, "seconds") ||
      !number(p.Volts, config.SupplyVolts, 0, 16, "volts") ||
      !number(p.Seconds, options.Seconds, 0, 1e9, "seconds") ||
      !number(p.EngineRate, options.EngineLog.RateHz, 1, 1000, "records a second") ||
      !number(p.EngineClockOffset, options.EngineLog.ClockOffsetSeconds, -86400, 86400,
              "seconds")) {
    return std::nullopt;
  }
  options.EngineLog.Afr = isSet(p.EngineAfr);
  if (isSet(p.EngineLog)) {
    options.EngineLog.Path = value(p.EngineLog);
    if (!EngineLogKindOf(options.EngineLog.Path)) {
      error = "--engine-log needs a file name ending in .mlg or .csv, not '" +
              options.EngineLog.Path + "'";
      return std::nullopt;
    }
  } else if (isSet(p.EngineRate) || isSet(p.EngineAfr) || isSet(p.EngineClockOffset)) {
    error = "--engine-rate, --engine-afr and --engine-clock-offset go with --engine-log";
    return std::nullopt;
  }
  if (!FuelArithmetic(p, config, error)) return std::nullopt;
  if (isSet(p.WriteTune)) {
    options.TunePath = value(p.WriteTune);
    if (!text::EndsWithNoCase(options.TunePath, ".msq") || options.TunePath.size() <= 4) {
      error = "--write-tune needs a file name ending in .msq, not '" + options.TunePath + "'";
      return std::nullopt;
    }
  }
  if (isSet(p.Seed)) {
    const std::string text = value(p.Seed);
    if (!ParseNumber(text, config.Seed)) {
      error = "--seed needs a whole number from 0 to 18446744073709551615, not '" + text + "'";
      return std::nullopt;
    }
  }
  if (isSet(p.SilentEvery) != isSet(p.SilentFor)) {
    error = "--silent-every and --silent-for go together";
    return std::nullopt;
  }
  if (isSet(p.SilentEvery) && !(config.SilentForSeconds < config.SilentEverySeconds)) {
    error = "--silent-for must be shorter than --silent-every, or the box never answers";
    return std::nullopt;
  }
  return options;
}

std::string SimUsage() {
  TSimParser p;
  return p.Parser.helpText().toStdString();
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
