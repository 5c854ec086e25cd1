// The command line of kestlog, the monitor without a window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "log/RowFormat.h"
#include "sensor/Reading.h"

namespace headless {

// Output "-" is standard output.
inline constexpr const char* StandardOutputName = "-";

struct TLogOptions {
  std::string Port;                          // the serial device's path, or COMn as given
  int ComNumber = 0;                         // n when Port is "COMn"; 0 for a path
  bool Fast = false;                         // --fast: the 80 ms sample tick
  int DisplayMode = sensor::dmAirFuelRatio;  // --lambda: sensor::dmLambda
  int FuelType = sensor::ftPetrol;           // --fuel
  std::string Output = StandardOutputName;   // --output FILE or -
  csvlog::TRowFormat Format = csvlog::TRowFormat::Classic;  // --format
  double Seconds = 0;    // --seconds: stop after this long; 0: run on
  bool List = false;     // --list: print the serial devices only
  bool Help = false;     // --help: print LogUsage() only
  bool Version = false;  // --version: print the version only
};

// Parses the arguments after the program name with the option list that --help shows ("--port X"
// and "--port=X" alike; a later option replaces an earlier one). --help, --version and --list need
// nothing else; otherwise --port is required. On a bad argument returns nothing and puts a
// one-line reason (no newline) into `error`: the command-line parser's own words for an unknown
// option, a missing value or a value given to a flag, ours for a value that is not allowed. A pure
// function: it reads and changes no global state.
std::optional<TLogOptions> ParseLogOptions(const std::vector<std::string>& arguments,
                                           std::string& error);

// The usage text for --help, made from the same option list, several lines ending in a newline.
// Wants the Qt application object, which names the program in its first line.
std::string LogUsage();

}  // namespace headless
