// kestview's command line.
#include "viewer/ViewOptions.h"

#include "viewer/SvgExport.h"

namespace viewer {

std::optional<TViewOptions> ParseViewOptions(const QStringList& arguments, std::string& error) {
  TViewOptions options;
  bool relativeGiven = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    auto value = [&](QString& target) {
      if (i + 1 >= arguments.size()) {
        error = argument.toStdString() + " needs a value";
        return false;
      }
      target = arguments[++i];
      return true;
    };
    auto lambdaValue = [&](double& target) {
      QString text;
      if (!value(text)) return false;
      bool ok = false;
      target = text.toDouble(&ok);
      if (!ok || target < 0.5 || target > 1.5) {
        error = argument.toStdString() + " needs a lambda between 0.5 and 1.5, not " +
                text.toStdString();
        return false;
      }
      return true;
    };
    if (argument == "--export") {
      if (!value(options.ExportPath)) return std::nullopt;
    } else if (argument == "--size") {
      QString text;
      if (!value(text)) return std::nullopt;
      const QStringList parts = text.split('x');
      bool okWidth = false, okHeight = false;
      const int width = parts.size() == 2 ? parts[0].toInt(&okWidth) : 0;
      const int height = parts.size() == 2 ? parts[1].toInt(&okHeight) : 0;
      if (!okWidth || !okHeight || width < 200 || height < 150 || width > 20000 || height > 20000) {
        error = "--size needs WxH from 200x150 to 20000x20000, not " + text.toStdString();
        return std::nullopt;
      }
      options.Size = QSize(width, height);
    } else if (argument == "--summary") {
      options.Summary = true;
    } else if (argument == "--json") {
      options.Json = options.Summary = true;
    } else if (argument == "--afr") {
      options.DisplayMode = sensor::dmAirFuelRatio;
    } else if (argument == "--lambda") {
      options.DisplayMode = sensor::dmLambda;
    } else if (argument == "--fuel") {
      QString fuel;
      if (!value(fuel)) return std::nullopt;
      if (fuel == "petrol") {
        options.FuelType = sensor::ftPetrol;
      } else if (fuel == "methanol") {
        options.FuelType = sensor::ftMethanol;
      } else if (fuel == "propane") {
        options.FuelType = sensor::ftPropane;
      } else {
        error = "--fuel is petrol, methanol or propane, not " + fuel.toStdString();
        return std::nullopt;
      }
    } else if (argument == "--rich") {
      if (!lambdaValue(options.Bands.RichBelow)) return std::nullopt;
    } else if (argument == "--lean") {
      if (!lambdaValue(options.Bands.LeanAbove)) return std::nullopt;
    } else if (argument == "--relative") {
      options.Relative = relativeGiven = true;
    } else if (argument == "--follow") {
      options.Follow = true;
    } else if (argument == "--help" || argument == "-h") {
      options.Help = true;
    } else if (argument == "--version") {
      options.Version = true;
    } else if (argument == "--") {
      options.Files << arguments.mid(i + 1);
      break;
    } else if (argument.startsWith('-') && argument != "-") {
      error = "unknown option " + argument.toStdString();
      return std::nullopt;
    } else {
      options.Files << argument;
    }
  }
  if (options.Bands.RichBelow > options.Bands.LeanAbove) {
    error = "--rich must not be above --lean";
    return std::nullopt;
  }
  if ((options.Summary || !options.ExportPath.isEmpty()) && options.Files.isEmpty() &&
      !options.Help && !options.Version) {
    error = "--export and --summary need at least one FILE";
    return std::nullopt;
  }
  if (!relativeGiven) options.Relative = options.Files.size() > 1;
  return options;
}

}  // namespace viewer

namespace viewer {

std::string ViewUsage() {
  const bool svg = SvgExportBuilt();
  std::string text =
      "Usage: kestview [OPTION]... [FILE]...\n"
      "Shows logs of kestlsugraph and kestlog (classic or extended) on one chart.\n"
      "\n";
  text +=
      svg ? "  --export OUT.png|OUT.svg  draw the chart of FILE... at full range to OUT and exit\n"
          : "  --export OUT.png          draw the chart of FILE... at full range to OUT and exit\n"
            "                            (this build cannot write SVG)\n";
  text +=
      "  --size WxH                size of the exported chart (default 1200x600)\n"
      "  --summary                 print a summary of each FILE and exit\n"
      "  --json                    print the summary as JSON (implies --summary)\n"
      "  --afr, --lambda           show air-fuel ratio or lambda (default: as logged)\n"
      "  --fuel petrol|methanol|propane   the fuel for AFR (default: guessed from the log)\n"
      "  --rich L, --lean L        lambda bands of the summary (default 0.97 and 1.03)\n"
      "  --relative                time since each log's start (default with several files)\n"
      "  --follow                  show rows as they are appended (window only)\n"
      "  --help, --version\n"
      "\n"
      "Exit status: 0 success, 1 a file could not be read, 2 a bad command line.\n";
  return text;
}

}  // namespace viewer
