// kestview --table: the mixture table of an engine log, with a log of ours lined up beside it or
// with the engine's own mixture channel, as JSON on standard output or a CSV file of means.
#pragma once

#include <optional>
#include <string>

#include "log/Log.h"
#include "viewer/EngineLogs.h"
#include "viewer/OurLog.h"
#include "viewer/ViewOptions.h"

namespace viewer {

// The files of the command line, read by the caller.
struct TTableFiles {
  const enginelog::TLog* Engine = nullptr;  // none: no engine log was given
  const TLog* Mixture = nullptr;            // the log of ours, when given
  std::size_t OursGiven = 0;                // how many logs of ours were given
  std::optional<TAlignment> Alignment;      // the engine log on Mixture's axis
};

enum class TTableStatus : unsigned char {
  Done,
  BadRequest,  // what the command line asked cannot be: a channel the log lacks, no mixture, ...
  Failed,      // the logs make no table, or the CSV file could not be written
};

struct TTableOutcome {
  TTableStatus Status = TTableStatus::Done;
  std::string Output;                 // the JSON line (with --json), line end included
  std::string Message;                // why not Done, one line without the line end
  std::vector<std::string> Warnings;  // said on standard error, the table made all the same
};

// The table `options` ask for over `files`: JSON in Output, or the CSV file written. The unit is
// --afr/--lambda/--unit (air-fuel ratio without), of --fuel's fuel or else the log of ours's.
TTableOutcome RunTable(const TViewOptions& options, const TTableFiles& files);

}  // namespace viewer
