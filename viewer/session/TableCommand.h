// kestview --table: the mixture table of an engine log, with a log of ours lined up beside it or
// with the engine's own mixture channel, as JSON on standard output or a CSV file of means.
#pragma once

#include <optional>
#include <string>

#include "log/Log.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/OurLog.h"
#include "viewer/session/ViewOptions.h"
#include "viewer/session/ViewSession.h"

namespace viewer {

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

// The table `options` ask for over the files open in `session` (opened by the caller through
// it): the options become the session's table setup and unit, and the table is made from the
// session as the window makes it. JSON in Output, or the CSV file written. The unit is
// --afr/--lambda/--unit (air-fuel ratio without), of --fuel's fuel or else the log of ours's.
TTableOutcome RunTable(const TViewOptions& options, TViewSession& session);

// The corrected fuel table `options` ask for (--correct), over the table's records as RunTable
// chooses them: JSON in Output, or the proposed table's CSV file, or a copy of the MSQ tune with
// only its fuel table changed, written whole or not at all. BadRequest for a tune that cannot be
// read or holds no table kestview can name, a missing fuel table or target, or a target grid not
// of the table's shape.
TTableOutcome RunCorrect(const TViewOptions& options, TViewSession& session);

}  // namespace viewer
