// kestview's command line.
#include "viewer/session/ViewOptions.h"

#include <QFileInfo>
#include <cmath>

#include "viewer/chart/SvgExport.h"
#include "viewer/table/MixtureTableText.h"

namespace viewer {

namespace {

// "WxH" within the sizes an export can be drawn at.
bool ParseSize(const QString& text, QSize& size, std::string& error) {
  const QStringList parts = text.split('x');
  bool okWidth = false, okHeight = false;
  const int width = parts.size() == 2 ? parts[0].toInt(&okWidth) : 0;
  const int height = parts.size() == 2 ? parts[1].toInt(&okHeight) : 0;
  if (!okWidth || !okHeight || width < 200 || height < 150 || width > 20000 || height > 20000) {
    error = "--size needs WxH from 200x150 to 20000x20000, not " + text.toStdString();
    return false;
  }
  size = QSize(width, height);
  return true;
}

// A lambda band's edge given to `option`.
bool ParseBandEdge(const QString& option, const QString& text, double& target, std::string& error) {
  bool ok = false;
  target = text.toDouble(&ok);
  if (!ok || target < 0.5 || target > 1.5) {
    error = option.toStdString() + " needs a lambda between 0.5 and 1.5, not " + text.toStdString();
    return false;
  }
  return true;
}

bool ParseFuel(const QString& text, std::optional<int>& fuel, std::string& error) {
  fuel = sensor::FuelTypeNamed(text.toStdString());
  if (!fuel) error = "--fuel is petrol, methanol or propane, not " + text.toStdString();
  return fuel.has_value();
}

// The table's options that take a value.
const QStringList TableValued = {"--x",       "--y",      "--x-bins",   "--y-bins",
                                 "--mixture", "--lag",    "--min-hits", "--steady",
                                 "--range",   "--target", "--unit"};
// The corrected fuel table's options that take a value.
const QStringList CorrectValued = {"--tune", "--tune-table", "--tune-axes", "--max-change"};

// A value of one of CorrectValued; false with the reason.
bool ParseCorrectValue(const QString& option, const QString& value, TCorrectOptions& correct,
                       std::string& error) {
  if (option == "--tune") {
    correct.TunePath = value;
  } else if (option == "--tune-table") {
    correct.Table = value.trimmed().toStdString();
  } else if (option == "--tune-axes") {
    const QStringList names = value.split(',');
    if (names.size() != 2 || names[0].trimmed().isEmpty() || names[1].trimmed().isEmpty()) {
      error = "--tune-axes needs XNAME,YNAME, not " + value.toStdString();
      return false;
    }
    correct.XAxis = names[0].trimmed().toStdString();
    correct.YAxis = names[1].trimmed().toStdString();
  } else {
    bool ok = false;
    const double percent = value.toDouble(&ok);
    if (!ok || !(percent > 0 && percent <= 100)) {
      error = "--max-change needs a percentage above 0 and up to 100, not " + value.toStdString();
      return false;
    }
    correct.MaxChange = percent;
  }
  return true;
}

// A number of seconds or hits within [low, high] given to `option`.
bool ParseNumber(const QString& option, const QString& text, double low, double high,
                 const char* wanted, double& number, std::string& error) {
  bool ok = false;
  const double value = text.toDouble(&ok);
  if (!ok || !(value >= low && value <= high)) {
    error = option.toStdString() + " needs " + wanted + ", not " + text.toStdString();
    return false;
  }
  number = value;
  return true;
}

// A value of one of TableValued; false with the reason.
bool ParseTableValue(const QString& option, const QString& value, TViewOptions& options,
                     std::string& error) {
  TTableOptions& table = options.Table;
  const std::string text = value.toStdString();
  if (option == "--x" || option == "--y" || option == "--mixture") {
    (option == "--x" ? table.X : option == "--y" ? table.Y : table.Mixture) = text;
  } else if (option == "--x-bins" || option == "--y-bins") {
    // Read here so that a bad list is a bad command line before any file is read; the session
    // reads the text again as it reads what the window's user types.
    if (!ParseBins(text, error)) {
      error = option.toStdString() + ": " + error;
      return false;
    }
    (option == "--x-bins" ? table.XBins : table.YBins) = text;
  } else if (option == "--lag") {
    return ParseNumber(option, value, 0, 10, "seconds from 0 to 10", table.Lag, error);
  } else if (option == "--min-hits") {
    double hits = 0;
    if (!ParseNumber(option, value, 1, 1e9, "a whole number of 1 or more", hits, error)) {
      return false;
    }
    table.MinHits = static_cast<std::size_t>(hits);
    if (hits != std::floor(hits)) error = "--min-hits needs a whole number, not " + text;
    return hits == std::floor(hits);
  } else if (option == "--steady") {
    table.Steady = text;
  } else if (option == "--range") {
    table.Ranges.push_back(text);
  } else if (option == "--target") {
    bool number = false;
    const double target = value.toDouble(&number);
    if (number && !(target > 0 && std::isfinite(target))) {
      error = "--target needs a mixture above 0, not " + text;
      return false;
    }
    if (number) table.TargetValue = target;
    if (!number) table.TargetPath = value;
  } else if (value == "afr" || value == "lambda") {  // --unit
    options.DisplayMode = value == "afr" ? sensor::dmAirFuelRatio : sensor::dmLambda;
  } else {
    error = "--unit is afr or lambda, not " + text;
    return false;
  }
  return true;
}

// An option that takes a value, with the value that followed it; false with the reason.
bool ParseValued(const QString& option, const QString& value, TViewOptions& options,
                 std::string& error) {
  if (TableValued.contains(option)) return ParseTableValue(option, value, options, error);
  if (CorrectValued.contains(option))
    return ParseCorrectValue(option, value, options.Correct, error);
  if (option == "--table" || option == "--correct") {
    // An option where the file's name should be is a forgotten --json, not a file to write.
    if (value.startsWith(QStringLiteral("--"))) {
      error = option.toStdString() + " needs OUT.csv, or --json to print it, not " +
              value.toStdString();
      return false;
    }
    (option == "--table" ? options.Table.CsvPath : options.Correct.OutPath) = value;
    return true;
  }
  if (option == "--export") {
    options.ExportPath = value;
    return true;
  }
  if (option == "--size") return ParseSize(value, options.Size, error);
  if (option == "--follow-dir") {
    options.FollowDirs << value;
    options.Follow = true;
    return true;
  }
  if (option == "--fuel") return ParseFuel(value, options.FuelType, error);
  if (option == "--align") {
    const std::optional<TAlignMode> mode = AlignModeOf(value.toStdString());
    if (!mode) error = "--align is clock, match or none, not " + value.toStdString();
    if (mode) options.Align = *mode;
    return mode.has_value();
  }
  if (option == "--offset") {
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || std::abs(seconds) > 1e7) {
      error = "--offset needs seconds, such as -12.5, not " + value.toStdString();
      return false;
    }
    options.Offset = seconds;
    return true;
  }
  if (option == "--channels") {
    for (const QString& name : value.split(',', Qt::SkipEmptyParts)) {
      options.Channels.push_back(name.trimmed().toStdString());
    }
    return true;
  }
  if (option == "--seconds") {
    double seconds = 0;
    if (!ParseNumber(option, value, 0, 1e7, "seconds above 0", seconds, error)) return false;
    if (seconds == 0) error = "--seconds needs seconds above 0, not " + value.toStdString();
    options.Seconds = seconds;
    return seconds > 0;
  }
  if (option == "--rich") return ParseBandEdge(option, value, options.Bands.RichBelow, error);
  return ParseBandEdge(option, value, options.Bands.LeanAbove, error);
}

// A flag; false when `option` is none.
bool ParseFlag(const QString& option, TViewOptions& options, bool& relativeGiven) {
  if (option == "--summary") {
    options.Summary = true;
  } else if (option == "--json") {
    options.Json = true;
  } else if (option == "--afr") {
    options.DisplayMode = sensor::dmAirFuelRatio;
  } else if (option == "--lambda") {
    options.DisplayMode = sensor::dmLambda;
  } else if (option == "--relative") {
    options.Relative = relativeGiven = true;
  } else if (option == "--table") {
    options.Table.Wanted = true;
  } else if (option == "--correct") {
    options.Correct.Wanted = true;
  } else if (option == "--follow") {
    options.Follow = true;
  } else if (option == "--help" || option == "-h") {
    options.Help = true;
  } else if (option == "--version") {
    options.Version = true;
  } else {
    return false;
  }
  return true;
}

// The table goes alone: --json then means the table's JSON, not the summaries.
bool CheckTable(TViewOptions& options, std::string& error) {
  if (!options.ExportPath.isEmpty() || options.Summary) {
    error = "--table goes without --export and --summary";
    return false;
  }
  if (options.Files.isEmpty() && !options.Help && !options.Version) {
    error = "--table needs an engine log FILE";
    return false;
  }
  if (options.Files.contains(options.Table.CsvPath)) {
    error = "--table would write over " + options.Table.CsvPath.toStdString();
    return false;
  }
  return true;
}

// The corrected table goes alone too (where it may write is checked as it runs).
bool CheckCorrect(TViewOptions& options, std::string& error) {
  const TCorrectOptions& correct = options.Correct;
  if (options.Table.Wanted || !options.ExportPath.isEmpty() || options.Summary) {
    error = "--correct goes without --table, --export and --summary";
    return false;
  }
  if (options.Files.isEmpty() && !options.Help && !options.Version) {
    error = "--correct needs an engine log FILE";
    return false;
  }
  if (!correct.Table.empty() != !correct.XAxis.empty()) {
    error = "--tune-table and --tune-axes go together";
    return false;
  }
  return true;
}

// What the options say together, once all are read.
bool CheckTogether(TViewOptions& options, bool relativeGiven, std::string& error) {
  if (options.Bands.RichBelow > options.Bands.LeanAbove) {
    error = "--rich must not be above --lean";
    return false;
  }
  if (options.Correct.Wanted && !CheckCorrect(options, error)) return false;
  if (options.Table.Wanted && !CheckTable(options, error)) return false;
  const bool table = options.Table.Wanted || options.Correct.Wanted;
  // Following, the table goes out as JSON lines; a file written again each second would be read
  // half written by whoever opens it.
  if (table && options.Follow && !options.Json) {
    error = std::string(options.Table.Wanted ? "--table" : "--correct") +
            " --follow prints JSON lines: add --json";
    return false;
  }
  if (options.Seconds && !(table && options.Follow)) {
    error = "--seconds goes with --follow and --table or --correct";
    return false;
  }
  if (options.Json && !options.Table.Wanted && !options.Correct.Wanted) options.Summary = true;
  if (!options.FollowDirs.isEmpty() && (options.Summary || !options.ExportPath.isEmpty() ||
                                        options.Table.Wanted || options.Correct.Wanted)) {
    error =
        "--follow-dir is for the window: it goes without --export, --summary, --table and "
        "--correct";
    return false;
  }
  if ((options.Summary || !options.ExportPath.isEmpty()) && options.Files.isEmpty() &&
      !options.Help && !options.Version) {
    error = "--export and --summary need at least one FILE";
    return false;
  }
  options.RelativeGiven = relativeGiven;
  if (!relativeGiven) options.Relative = options.Files.size() > 1;
  return true;
}

}  // namespace

std::optional<TViewOptions> ParseViewOptions(const QStringList& arguments, std::string& error) {
  QStringList valued =
      QStringList{"--export", "--size",   "--fuel",     "--rich",       "--lean",
                  "--align",  "--offset", "--channels", "--follow-dir", "--seconds"} +
      TableValued + CorrectValued;
  // With --json the table goes to standard output; without, --table (or --correct) names its
  // file.
  if (!arguments.mid(0, arguments.indexOf("--")).contains("--json"))
    valued << "--table"
           << "--correct";
  TViewOptions options;
  bool relativeGiven = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == "--table") options.Table.Wanted = true;
    if (argument == "--correct") options.Correct.Wanted = true;
    if (valued.contains(argument)) {
      if (i + 1 >= arguments.size()) {
        error = argument.toStdString() + " needs a value";
        return std::nullopt;
      }
      if (!ParseValued(argument, arguments[++i], options, error)) return std::nullopt;
    } else if (ParseFlag(argument, options, relativeGiven)) {
      continue;
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
  if (!CheckTogether(options, relativeGiven, error)) return std::nullopt;
  return options;
}

}  // namespace viewer

namespace viewer {

std::string ViewUsage() {
  const bool svg = SvgExportBuilt();
  std::string text =
      "Usage: kestview [OPTION]... [FILE]...\n"
      "Shows logs of kestlsugraph and kestlog (classic, extended or MSL) on one chart, and engine\n"
      "logs (MLG, another program's MSL, a DataLog export or delimited text) in panes beneath,\n"
      "lined up with them.\n"
      "\n";
  text +=
      svg ? "  --export OUT.png|OUT.svg  draw the chart of FILE... at full range to OUT and exit\n"
          : "  --export OUT.png          draw the chart of FILE... at full range to OUT and exit\n"
            "                            (this build cannot write SVG)\n";
  text +=
      "  --export OUT.msl          write the first FILE as an MSL log for engine tuning\n"
      "                            software (time in seconds, tab-separated) and exit\n";
  text +=
      "  --size WxH                size of the exported chart (default 1200x600)\n"
      "  --summary                 print a summary of each FILE and exit\n"
      "  --json                    print the summary as JSON (implies --summary)\n"
      "  --afr, --lambda           show air-fuel ratio or lambda (default: as logged)\n"
      "  --fuel petrol|methanol|propane   the fuel for AFR (default: guessed from the log)\n"
      "  --rich L, --lean L        lambda bands of the summary (default 0.97 and 1.03)\n"
      "  --relative                time since each log's start (default with several files)\n"
      "  --follow                  show rows as they are appended, to the engine log's too;\n"
      "                            with --table or --correct --json, print the table again, a\n"
      "                            JSON line at most once a second, whenever the files grew,\n"
      "                            until interrupted\n"
      "  --seconds N               with --follow and a table: stop after N seconds\n"
      "  --follow-dir DIR          follow the newest engine log in DIR and, where DIR holds\n"
      "                            logs of ours, the newest of ours, moving on to a newer one\n"
      "                            when one appears; may be given more than once (the newest\n"
      "                            of each kind in all of them); implies --follow (window only)\n"
      "  --align clock|match|none  line an engine log up with the mixture log by their clocks,\n"
      "                            by matching its mixture channel (then the clock), or not "
      "(match)\n"
      "  --offset SECONDS          the engine log's first record this long after our first row\n"
      "  --channels A,B,...        the engine log's channels to show (default: speed and load)\n"
      "\n"
      "The mixture table of an engine log FILE, the mixture from a log of ours FILE beside it\n"
      "(lined up as above) or from the engine log's own mixture channel:\n"
      "  --table OUT.csv           write the table's mean mixture per cell to OUT.csv and exit\n"
      "  --table --json            print the table as JSON and exit\n"
      "  --x CH, --y CH            the channels across and down (default: engine speed, load)\n"
      "  --x-bins A,B,...          rising breakpoints across (default: 16 from the data)\n"
      "  --y-bins A,B,...          rising breakpoints down (default: 16 from the data)\n"
      "  --mixture CH              the mixture from the engine log's channel CH\n"
      "  --unit afr|lambda         the table's unit, as --afr or --lambda (default: afr)\n"
      "  --lag SECONDS             the mixture taken this long after each engine record (0)\n"
      "  --min-hits N              cells of fewer records are left empty (default 10)\n"
      "  --steady CH=RATE[,SETTLE] leave out records while CH changes faster than RATE a\n"
      "                            second, and SETTLE seconds after (default 0.5)\n"
      "  --range CH=LO:HI          count records with CH from LO to HI only (an end may be\n"
      "                            left out); may be given more than once\n"
      "  --target VALUE|FILE       the mixture aimed at, one value or a CSV grid of the\n"
      "                            table's shape: each cell's correction is mean / target\n"
      "\n"
      "The corrected fuel table: each cell of the fuel table times the mean of VE x C x measured\n"
      "/ target over its records (weighted as the engine interpolates), with the options above:\n"
      "  --correct --json          print the current and proposed tables as JSON and exit\n"
      "  --correct OUT.csv         write the proposed table to OUT.csv and exit\n"
      "  --correct OUT.msq         write a copy of the --tune with only its fuel table changed\n"
      "  --tune FILE               the tune (MSQ, or a CSV grid with its breakpoints); without\n"
      "                            it the current table is estimated from the logged VE (in\n"
      "                            the window: the table panel's tune)\n"
      "  --tune-table NAME --tune-axes XNAME,YNAME   the MSQ tune's fuel table and its axes\n"
      "                            (default: the known names of the fuel table)\n"
      "  --max-change PERCENT      the most a cell may change either way (default 15)\n"
      "  --min-hits N              cells of fewer records' weight keep their value (default 10)\n"
      "\n"
      "  --help, --version\n"
      "\n"
      "Exit status: 0 success, 1 a file could not be read, 2 a bad command line.\n";
  return text;
}

}  // namespace viewer
