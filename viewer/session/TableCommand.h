// kestview --table: the mixture table of an engine log, with a log of ours lined up beside it or
// with the engine's own mixture channel, as JSON on standard output or a CSV file of means; and
// with --follow, the table again as the logs grow, a JSON line at a time.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "log/Log.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/OurLog.h"
#include "viewer/session/ViewOptions.h"
#include "viewer/session/ViewSession.h"
#include "viewer/table/LiveTable.h"

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

// kestview --table --follow --json (or --correct): the line RunTable (RunCorrect) prints, printed
// again whenever the session says its files grew, at most once a second, while the event loop
// runs. Each line is made from running sums (LiveTable.h), not from the whole logs again. The
// setup, breakpoints and lining up included, is made once from the files as they are at the start
// (and again when the session opens other files in their place); each line is what the one-off
// command prints with that setup over the files as they stand then.
class TTableFollower : public QObject {
  Q_OBJECT

 public:
  static constexpr int LineIntervalMs = 1000;
  // A line leaves whole, its end included; false when it could not be written.
  using TWrite = std::function<bool(const std::string& line)>;
  // A message for standard error, one line without its end.
  using TSay = std::function<void(const std::string& message)>;

  // Follows the table `options` ask for over the files open in `session` (opened with Follow
  // on); both must outlive the follower.
  TTableFollower(const TViewOptions& options, TViewSession& session, TWrite write, TSay say,
                 QObject* parent = nullptr);
  ~TTableFollower() override;

  // Makes the first table and writes its line; from then on the lines follow. Anything but Done:
  // nothing is followed, and the outcome says why as the one-off command's would (its warnings
  // are the caller's to say in either case).
  TTableOutcome Start();

 signals:
  // A line could not be written (the reader of the lines went away): no more are made.
  void WriteFailed();

 private:
  struct TPlans;
  bool Plan(TTableOutcome& outcome);
  void MakeLine(TTableOutcome& outcome) const;
  void Tick();

  const TViewOptions& Options;
  TViewSession& Session;
  TWrite Write;
  TSay Say;
  std::unique_ptr<TPlans> Plans;
  std::optional<TLiveTable> Live;
  QTimer Timer;
  bool Grown = false;
  bool Replan = false;
  std::string LastSaid;
};

}  // namespace viewer
