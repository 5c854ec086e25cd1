// kestview's command line.
#pragma once

#include <QSize>
#include <QStringList>
#include <optional>
#include <string>

#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/Summary.h"
#include "viewer/table/MixtureTable.h"

namespace viewer {

// --table: the mixture table over two of the engine log's channels. Channel names stay names
// until the engine log is read (TableCommand.h checks them there).
struct TTableOptions {
  bool Wanted = false;
  QString CsvPath;      // --table OUT.csv: the grid of means to this file; empty: JSON (--json)
  std::string X, Y;     // --x, --y; empty: engine speed across, load down
  std::string Mixture;  // --mixture: the engine log's mixture channel, even beside a log of ours
  std::string XBins, YBins;  // --x-bins, --y-bins as given (they read); empty: derived
  double Lag = 0;            // --lag, seconds
  std::size_t MinHits = 10;
  std::string Steady;                 // --steady CH=RATE[,SETTLE]
  std::vector<std::string> Ranges;    // --range CH=LO:HI, each given
  std::optional<double> TargetValue;  // --target VALUE
  QString TargetPath;                 // --target FILE (a CSV grid)
};

// --correct: the corrected fuel table over the table's records (the table's options choose the
// records and the mixture).
struct TCorrectOptions {
  bool Wanted = false;
  QString OutPath;           // --correct OUT.csv or OUT.msq; empty: JSON (--json)
  QString TunePath;          // --tune FILE (MSQ, or a CSV grid with its breakpoints)
  std::string Table;         // --tune-table NAME; empty: the known names
  std::string XAxis, YAxis;  // --tune-axes XNAME,YNAME
  double MaxChange = 15;     // --max-change PERCENT
};

struct TViewOptions {
  QStringList Files;
  QString ExportPath;  // --export: draw to this .png or .svg, or write this .msl, and exit
  QSize Size{1200, 600};
  bool Summary = false;  // --summary: print the summary of each file and exit
  bool Json = false;     // --json: the summary as JSON
  bool Follow = false;
  // --follow-dir, each given: the newest engine log and log of ours in these folders are
  // followed (implies Follow).
  QStringList FollowDirs;
  std::optional<double> Seconds;  // --seconds: a followed table stops after this long
  bool Relative = false;
  bool RelativeGiven = false;      // --relative was given, not taken from the number of files
  std::optional<int> DisplayMode;  // --afr, --lambda (or --unit); otherwise as logged
  std::optional<int> FuelType;     // --fuel
  TBands Bands;
  // An engine log beside a mixture log: how to line it up, a hand offset in seconds (wins over
  // Align), and the channels to show (default: engine speed and load).
  TAlignMode Align = TAlignMode::Match;
  std::optional<double> Offset;
  std::vector<std::string> Channels;
  TTableOptions Table;
  TCorrectOptions Correct;
  bool Help = false;
  bool Version = false;
};

// The options of `arguments` (without the program name), or nothing with the reason in `error`.
std::optional<TViewOptions> ParseViewOptions(const QStringList& arguments, std::string& error);

// The usage text of --help, several lines ending in a newline. Says so where this build cannot
// write SVG.
std::string ViewUsage();

}  // namespace viewer
