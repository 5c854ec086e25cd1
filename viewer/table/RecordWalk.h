// The walk over the engine records that the mixture table, the corrected fuel table and the running
// table share: the mixture at a record's time, the steady-state filter, the filters in their order,
// a cell's sums and what each counted record teaches the fuel table. A walk can be carried on as
// the logs grow, a record whose mixture is not known yet waiting until it is, so that one walk
// serves the table made once and the table kept running. The table room's own parts: the window
// and the command line ask MixtureTable.h, FuelCorrection.h and LiveTable.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "log/ChannelRoles.h"
#include "viewer/logs/MixtureValue.h"
#include "viewer/table/FuelCorrection.h"
#include "viewer/table/MixtureTable.h"

namespace viewer {

// The mixture of one log, in the table's unit, at times on the engine log's axis: a mixture
// channel of that log, placed by a shift. A log of ours gives its reading, row by row in the unit
// it was logged in, only where its rows count (status, repeats, gaps); an engine log gives its own
// mixture channel, lambda or AFR as its name, unit or values tell. NaN where there is none, and
// an implausible value where a value it is made of is implausible. Successive calls with rising
// times move the cursor forward only; a time that goes back searches again. It reads the log as it
// stands when made: a log that grew since needs a source made anew.
class TMixtureSource {
 public:
  // `channel` of `log`; `shift` is added to an engine time to find it on `log`'s own axis, and
  // the mixture is taken `lag` seconds after that.
  TMixtureSource(const enginelog::TLog& log, std::size_t channel, double shift, double lag,
                 const TDisplay& unit);

  double At(double engineTime);
  // Whether At(engineTime) answers as it will however the log grows from here: the rows it is made
  // of lie before the log's last one, a log of ours's further back than the reader may still
  // change (OurRowsFinalBehindSeconds). Engine records are taken as final once read.
  bool Settled(double engineTime) const;
  // What the source made of the whole log, which the log's growth may change: our log's sample
  // interval (the gaps and the reach of a single row follow from it), or the factor of the
  // engine's channel (its lambda or AFR told by its first values). Records decided under another
  // reading may be decided otherwise now.
  double Reading() const { return Ours ? Interval : Scale; }

 private:
  double OursAt(double time) const;
  double Near(const TSample& sample, double time) const;
  double EngineAt(double time) const;
  double Between(double a, double b, double fraction) const;

  const enginelog::TLog& Log;
  std::span<const double> Times;
  std::span<const float> Values;
  double Shift = 0;
  double Lag = 0;
  TDisplay Unit;
  TPlausibleRange Plausible;
  bool Ours = false;
  double Scale = 1;
  double Interval = 0;
  // Times on the log's own axis before this are settled: the rows either side of them are final.
  double SettledBelow = -std::numeric_limits<double>::infinity();
  std::size_t Cursor = 0;
};

// The mixture at an engine record's time: our log's reading, lined up, or the engine log's own
// mixture channel. After PrepareRecords has accepted `settings`.
TMixtureSource MixtureSourceOf(const TTableInput& input, const TTableSettings& settings);

// Tells, record by record in time order, whether the engine was steady: a change faster than the
// rate makes it unsteady from the record where the change shows until the settle time has passed.
class TSteadiness {
 public:
  explicit TSteadiness(const TSteadyFilter& filter) : Filter(filter) {}
  bool Steady(double time, float value);

 private:
  TSteadyFilter Filter;
  bool HaveLast = false;
  double LastTime = 0;
  double LastValue = 0;
  double UnsteadyUntil = -std::numeric_limits<double>::infinity();
};

// Running sums of one cell, shifted by the cell's first value so that the spread of values far
// from zero keeps its digits.
struct TCellSums {
  double Reference = 0;
  double Sum = 0;
  double SumSquares = 0;
  std::uint32_t Hits = 0;

  void Add(double value) {
    if (Hits == 0) Reference = value;
    const double d = value - Reference;
    Sum += d;
    SumSquares += d * d;
    ++Hits;
  }
};

// `table`'s cells (on its breakpoints) made of `sums`, each against its `target`.
void FinishCells(TMixtureTable& table, const std::vector<TCellSums>& sums, const TTarget& target);

// The walk over the engine records in range with values on both axes, in time order, carried on
// from where it stopped each time it is handed the log again. A record the filters drop is counted
// at once; one they keep waits for its mixture, and is decided in order once its mixture is known:
// counted as having none or an implausible one, or handed on with its mixture.
class TRecordWalk {
 public:
  using TCounted = std::function<void(std::size_t, double)>;

  // The walk of `settings` (after PrepareRecords), the engine log placed by `shift`.
  TRecordWalk(const TTableSettings& settings, double shift);

  // Walks the records `log` gained since the last call (the same log, grown), counting what
  // becomes of them into `counts`; then decides the waiting records whose mixture `mixtureAt`
  // has settled, or every one of them with `decideAll` (the logs end here). A record counted goes
  // to `counted` with its mixture, in the order of the records.
  void Walk(const enginelog::TLog& log, TMixtureSource& mixtureAt, bool decideAll,
            TMixtureTable& counts, const TCounted& counted);
  // The records that wait for their mixture, in order.
  const std::deque<std::size_t>& Waiting() const { return Pending; }
  // Decides record `i`, whose mixture is `mixture`, into `counts` and `counted`.
  void Decide(std::size_t i, double mixture, TMixtureTable& counts, const TCounted& counted) const;

 private:
  bool InRanges(const enginelog::TLog& log, std::size_t i) const;

  std::size_t XChannel = 0;
  std::size_t YChannel = 0;
  std::optional<std::size_t> SteadyChannel;
  std::optional<TSteadiness> Steadiness;
  std::vector<TRangeFilter> Ranges;
  TPlausibleRange Plausible;
  double Begin = 0;  // engine times: the walk's first look (a settle time early), the range's ends
  double First = 0;
  double Last = 0;
  bool Started = false;  // a record at Begin or later has been seen
  bool Ended = false;    // a record past Last has been seen
  std::size_t Next = 0;  // the next record to walk
  std::deque<std::size_t> Pending;
};

// What a proposal reads from the values of whole channels, which the logs' growth may change: the
// target channel's unit and each enrichment or correction channel's form.
struct TProposalReading {
  double TargetScale = 1;
  enginelog::TCorrectionForm Correction = enginelog::TCorrectionForm::Percent;
  enginelog::TCorrectionForm Warmup = enginelog::TCorrectionForm::Percent;
  enginelog::TCorrectionForm Accel = enginelog::TCorrectionForm::Percent;
  bool operator==(const TProposalReading&) const = default;
};

// The corrected fuel table's side of the walk: of the records the table counts, those fuelled for
// their table teach it their factor; the rest are counted by reason.
class TProposalRecords {
 public:
  // The proposal of `correction` over the table of `settings`: checks what it needs of the log and
  // sets `counts`'s breakpoints (the tune's, or the table's as PrepareRecords sets them); nothing,
  // with `error` set, when no proposal can be made.
  static std::optional<TProposalRecords> Prepare(TMixtureTable& counts, const TTableInput& input,
                                                 const TTableSettings& settings,
                                                 const TCorrectionInput& correction,
                                                 std::string& error);
  // What the proposal reads of the whole channels of `log` now (after a Prepare that succeeded).
  static TProposalReading ReadingOf(const enginelog::TLog& log, const TTableSettings& settings,
                                    const TCorrectionInput& correction);

  // A record the walk counted, with its mixture in the table's unit; records come in order.
  void Add(std::size_t i, double mixture);
  // The proposal over the records added; `counts`: the walk's counts, for what it left out.
  TFuelProposal Finish(const TMixtureTable& counts) const;
  const TProposalReading& Reading() const { return Read; }

 private:
  TProposalRecords(const enginelog::TLog& log, const TTableSettings& settings,
                   const TCorrectionInput& correction, const TBins& x, const TBins& y);

  // An enrichment or correction channel read as a factor (1 = none).
  struct TFactorChannel {
    const std::vector<float>* Values = nullptr;
    enginelog::TCorrectionForm Form = enginelog::TCorrectionForm::Percent;
    // The factor at record `i`; 1 where the channel is missing or has no value yet.
    double At(std::size_t i) const;
  };

  double TargetLambda(std::size_t i) const;
  bool IsCut(std::size_t i) const;

  const enginelog::TLog* Log;
  TTableSettings Settings;
  TCorrectionInput Correction;
  TBins XBins, YBins;
  TProposalSums Sums;
  TProposalReading Read;
  const std::vector<float>* Xs;
  const std::vector<float>* Ys;
  const std::vector<float>* FuelValues = nullptr;
  const std::vector<float>* CutFlags = nullptr;
  const std::vector<float>* Pulses = nullptr;
  const std::vector<float>* Targets = nullptr;
  TFactorChannel ClosedLoop, WarmupChannel, AccelChannel;
  TLeftOut LeftOut;
  std::size_t CutScan = 0;
  double LastCut = -std::numeric_limits<double>::infinity();
};

}  // namespace viewer
