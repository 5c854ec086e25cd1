// The corrected fuel table. The engine computer injects fuel for the air it expects from its fuel
// table value VE (bilinear between the four cells around the record's speed and load), aiming at
// a target mixture, and its closed loop scales the fuel by a correction C. An engine that really
// breathes VE_true then burns measured / target = VE_true / (VE x C), so each record proposes
// VE_true = VE x C x measured / target, that is VE times a factor C x measured / target. A cell's
// proposal is its value times the mean of its records' factors, each weighted by the record's
// bilinear weight for that cell (the weights the engine used), where the summed weight is enough;
// every change is limited. The factors are averaged rather than the records' VE_true, because a
// record between cells carries its neighbours' values in its VE: their mean would drag a cell
// towards the cells around it, while the factor of an engine that breathes 10 % more than its
// table is 1.10 wherever it is read. Pure: no files, no widgets.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "viewer/table/MixtureTable.h"

namespace viewer {

// A fuel table on its breakpoints: Values[y * X.size() + x], row 0 at the lowest load. The
// breakpoints rise; one may repeat the one before it (tunes end an axis with "6600 6600").
struct TFuelGrid {
  TBins X;
  TBins Y;
  std::vector<double> Values;
  std::size_t Columns() const { return X.size(); }
  std::size_t Rows() const { return Y.size(); }
  double At(std::size_t x, std::size_t y) const { return Values[y * Columns() + x]; }
};

// How one value of a channel falls between the breakpoints of an axis: up to two breakpoints and
// their weights (summing to 1). A value beyond either end counts wholly at that end. Repeated
// breakpoints share their weight equally, so that both columns of a repeated "6600 6600" learn
// alike.
struct TAxisWeights {
  std::size_t Count = 0;
  std::size_t Index[4] = {};
  double Weight[4] = {};
};
TAxisWeights AxisWeightsAt(const TBins& bins, double value);

// The grid's value at (x, y), bilinear between the four cells around it as the engine reads it;
// NaN outside a grid without breakpoints.
double Interpolate(const TFuelGrid& grid, double x, double y);

// Why records taught nothing, each counted.
struct TLeftOut {
  std::size_t NoMixture = 0;     // no mixture at the record's time (plus the lag)
  std::size_t Implausible = 0;   // a mixture outside what a wideband can read
  std::size_t Filtered = 0;      // the steady-state filter
  std::size_t OutsideRange = 0;  // a range filter
  std::size_t Warmup = 0;        // warm-up or after-start enrichment active
  std::size_t Accel = 0;         // acceleration enrichment active
  std::size_t FuelCut = 0;       // fuel cut, or no pulse
  std::size_t NoTarget = 0;      // no target at the record
  std::size_t NoFuelValue = 0;   // no fuel table value at the record
};

struct TCorrectionLimits {
  double MinWeight = 10;         // a cell's summed weight, in records' worth, to propose anything
  double MaxChangePercent = 15;  // the most a cell may move, either way
  std::optional<int> Digits;     // the tune's decimals; none: as computed
};

// The proposal, cell by cell on the grid's breakpoints.
struct TFuelProposal {
  TFuelGrid Current;
  bool Estimated = false;  // Current was estimated from the logged fuel table values
  std::vector<double> Proposed;
  std::vector<double> Weight;
  std::vector<bool> Changed;
  TLeftOut LeftOut;
  std::size_t Used = 0;  // records that taught a proposal
  std::string Error;
};

// The running sums of a proposal over a grid's breakpoints: records are added one by one.
class TProposalSums {
 public:
  TProposalSums(const TBins& x, const TBins& y);
  // A record at (x, y) whose engine breathes `factor` times what its table says (C x measured /
  // target); `fuelValue`, the fuel table value it used (NaN: not logged), for an estimate of the
  // current table.
  void Add(double x, double y, double factor, double fuelValue);
  // The proposal over `current` (the tune's table, or none: the estimate from the logged fuel
  // table values, marked Estimated; cells without any keep NaN).
  TFuelProposal Finish(const std::optional<TFuelGrid>& current,
                       const TCorrectionLimits& limits) const;

 private:
  TBins X, Y;
  std::vector<double> WeightSum, FactorSum, FuelSum;
  std::size_t Records = 0;
};

// A value rounded to `digits` decimals.
double RoundTo(double value, int digits);

// The engine log's channels the proposal reads, each where the log has one.
struct TCorrectionChannels {
  std::optional<std::size_t> FuelValue;   // the fuel table value (VE) the engine used
  std::optional<std::size_t> Target;      // the engine software's mixture target
  std::optional<std::size_t> Correction;  // the closed-loop correction
  std::optional<std::size_t> Warmup;      // warm-up or after-start enrichment
  std::optional<std::size_t> Accel;       // acceleration enrichment
  std::optional<std::size_t> FuelCut;     // 1 while fuel is cut
  std::optional<std::size_t> PulseWidth;  // 0 while fuel is cut
};

// Where each record's target comes from: the logged channel, else the table settings' Target
// (one value, or a grid of the fuel table's shape), else the tune's own target table.
struct TCorrectionInput {
  std::optional<TFuelGrid> Tune;        // the tune's fuel table; none: estimated from FuelValue
  std::optional<TFuelGrid> TuneTarget;  // the tune's target table, in lambda
  TCorrectionChannels Channels;
  TCorrectionLimits Limits;
};

// The proposal over the records the table would count (`settings`: its axes, lag, filters and
// range; its breakpoints are used where no tune gives them), leaving out the records made under
// an enrichment, in fuel cut, or without a target. Never throws; Error says why none can be made.
TFuelProposal BuildFuelProposal(const TTableInput& input, const TTableSettings& settings,
                                const TCorrectionInput& correction);

}  // namespace viewer
