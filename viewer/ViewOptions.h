// kestview's command line.
#pragma once

#include <QSize>
#include <QStringList>
#include <optional>
#include <string>

#include "viewer/EngineLogs.h"
#include "viewer/Summary.h"

namespace viewer {

struct TViewOptions {
  QStringList Files;
  QString ExportPath;  // --export: draw to this .png or .svg and exit
  QSize Size{1200, 600};
  bool Summary = false;  // --summary: print the summary of each file and exit
  bool Json = false;     // --json: the summary as JSON
  bool Follow = false;
  bool Relative = false;
  bool RelativeGiven = false;      // --relative was given, not taken from the number of files
  std::optional<int> DisplayMode;  // --afr, --lambda; otherwise as logged
  std::optional<int> FuelType;     // --fuel
  TBands Bands;
  // An engine log beside a mixture log: how to line it up, a hand offset in seconds (wins over
  // Align), and the channels to show (default: engine speed and load).
  TAlignMode Align = TAlignMode::Match;
  std::optional<double> Offset;
  std::vector<std::string> Channels;
  bool Help = false;
  bool Version = false;
};

// The options of `arguments` (without the program name), or nothing with the reason in `error`.
std::optional<TViewOptions> ParseViewOptions(const QStringList& arguments, std::string& error);

inline constexpr const char* ViewUsage =
    "Usage: kestview [OPTION]... [FILE]...\n"
    "Shows logs of kestlsugraph and kestlog (classic or extended) on one chart, and engine logs\n"
    "(MLG, MSL or delimited text) in panes beneath, lined up with them.\n"
    "\n"
    "  --export OUT.png|OUT.svg  draw the chart of FILE... at full range to OUT and exit\n"
    "  --size WxH                size of the exported chart (default 1200x600)\n"
    "  --summary                 print a summary of each FILE and exit\n"
    "  --json                    print the summary as JSON (implies --summary)\n"
    "  --afr, --lambda           show air-fuel ratio or lambda (default: as logged)\n"
    "  --fuel petrol|methanol|propane   the fuel for AFR (default: guessed from the log)\n"
    "  --rich L, --lean L        lambda bands of the summary (default 0.97 and 1.03)\n"
    "  --relative                time since each log's start (default with several files)\n"
    "  --follow                  show rows as they are appended (window only)\n"
    "  --align clock|match|none  line an engine log up with the mixture log by their clocks,\n"
    "                            by matching its mixture channel (then the clock), or not (match)\n"
    "  --offset SECONDS          the engine log's first record this long after our first row\n"
    "  --channels A,B,...        the engine log's channels to show (default: speed and load)\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read, 2 a bad command line.\n";

}  // namespace viewer
