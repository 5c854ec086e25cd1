// The command line of kestsim, the simulated box as a program of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/EngineLogWriter.h"
#include "sim/KestSimulator.h"
#include "sim/SimConfig.h"

namespace sim {

struct TSimOptions {
  TSimConfig Config;
  TEngineLogOptions EngineLog;  // the engine side of the drive, where a path is given
  std::string TunePath;         // --write-tune: the engine computer's tune as MSQ, where given
  double Seconds = 0;           // run this long, then stop; 0 runs until a signal
  bool Help = false;            // --help: print SimUsage() and do nothing else
};

// Parses the arguments after the program name with the option list that --help shows ("--afr 147"
// and "--afr=147" alike). On a bad argument returns nothing and puts a one-line reason into
// `error`: the command-line parser's words for the forms it checks, ours for the values (and for a
// grid file that --ve-error or --ve-table names and that does not read). It changes no global
// state and reads nothing but those files.
std::optional<TSimOptions> ParseSimOptions(const std::vector<std::string>& arguments,
                                           std::string& error);

// The usage text for --help, made from the same option list, several lines ending in a newline.
// Wants the Qt application object, which names the program in its first line.
std::string SimUsage();

// The counters as one line, without a newline, for the summary at exit.
std::string SummaryLine(const TSimCounters& counters);

}  // namespace sim
