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
  QString ExportPath;  // --export: draw to this .png or .svg, or write this .msl, and exit
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

// The usage text of --help, several lines ending in a newline. Says so where this build cannot
// write SVG.
std::string ViewUsage();

}  // namespace viewer
