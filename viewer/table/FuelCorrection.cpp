// The corrected fuel table's arithmetic: see FuelCorrection.h.
#include "viewer/table/FuelCorrection.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "viewer/logs/MixtureValue.h"

namespace viewer {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// The most breakpoints one value may share its weight among: two groups of repeats of up to four.
constexpr std::size_t MaxRepeats = 4;

// Adds the breakpoints equal to bins[at] (at most MaxRepeats of them), sharing `weight`.
void AddGroup(TAxisWeights& weights, const TBins& bins, std::size_t at, double weight) {
  std::size_t first = at;
  while (first > 0 && bins[first - 1] == bins[at]) --first;
  std::size_t last = at;
  while (last + 1 < bins.size() && bins[last + 1] == bins[at]) ++last;
  last = std::min(last, first + MaxRepeats - 1);
  const double share = weight / static_cast<double>(last - first + 1);
  for (std::size_t i = first; i <= last; ++i) {
    weights.Index[weights.Count] = i;
    weights.Weight[weights.Count] = share;
    ++weights.Count;
  }
}

}  // namespace

TAxisWeights AxisWeightsAt(const TBins& bins, double value) {
  TAxisWeights weights;
  if (bins.empty() || std::isnan(value)) return weights;
  if (value <= bins.front()) {
    AddGroup(weights, bins, 0, 1);
    return weights;
  }
  if (value >= bins.back()) {
    AddGroup(weights, bins, bins.size() - 1, 1);
    return weights;
  }
  const auto above = std::upper_bound(bins.begin(), bins.end(), value);
  const auto upper = static_cast<std::size_t>(above - bins.begin());
  const std::size_t lower = upper - 1;
  const double t = (value - bins[lower]) / (bins[upper] - bins[lower]);
  if (t < 1) AddGroup(weights, bins, lower, 1 - t);
  if (t > 0) AddGroup(weights, bins, upper, t);
  return weights;
}

double Interpolate(const TFuelGrid& grid, double x, double y) {
  const TAxisWeights across = AxisWeightsAt(grid.X, x);
  const TAxisWeights down = AxisWeightsAt(grid.Y, y);
  if (across.Count == 0 || down.Count == 0) return NaN;
  double value = 0;
  for (std::size_t j = 0; j < down.Count; ++j) {
    for (std::size_t i = 0; i < across.Count; ++i) {
      value += across.Weight[i] * down.Weight[j] * grid.At(across.Index[i], down.Index[j]);
    }
  }
  return value;
}

double RoundTo(double value, int digits) {
  const double scale = std::pow(10.0, digits);
  return std::round(value * scale) / scale;
}

TProposalSums::TProposalSums(const TBins& x, const TBins& y)
    : X(x),
      Y(y),
      WeightSum(x.size() * y.size()),
      FactorSum(x.size() * y.size()),
      FuelSum(x.size() * y.size()) {}

void TProposalSums::Add(double x, double y, double factor, double fuelValue) {
  const TAxisWeights across = AxisWeightsAt(X, x);
  const TAxisWeights down = AxisWeightsAt(Y, y);
  for (std::size_t j = 0; j < down.Count; ++j) {
    for (std::size_t i = 0; i < across.Count; ++i) {
      const double weight = across.Weight[i] * down.Weight[j];
      const std::size_t cell = down.Index[j] * X.size() + across.Index[i];
      WeightSum[cell] += weight;
      FactorSum[cell] += weight * factor;
      if (std::isfinite(fuelValue)) FuelSum[cell] += weight * fuelValue;
    }
  }
  ++Records;
}

TFuelProposal TProposalSums::Finish(const std::optional<TFuelGrid>& current,
                                    const TCorrectionLimits& limits) const {
  TFuelProposal result;
  result.Used = Records;
  result.Estimated = !current.has_value();
  result.Current = current ? *current : TFuelGrid{X, Y, std::vector<double>(WeightSum.size(), NaN)};
  const std::size_t cells = WeightSum.size();
  result.Proposed.resize(cells);
  result.Weight = WeightSum;
  result.Changed.assign(cells, false);
  const double most = limits.MaxChangePercent / 100;
  for (std::size_t c = 0; c < cells; ++c) {
    if (!current && WeightSum[c] > 0) result.Current.Values[c] = FuelSum[c] / WeightSum[c];
    const double now = result.Current.Values[c];
    result.Proposed[c] = now;
    // A cell the records barely touched says too little to change a running engine's fuel.
    if (WeightSum[c] < limits.MinWeight || !(now > 0)) continue;
    const double low = now * (1 - most), high = now * (1 + most);
    double proposed = std::clamp(now * FactorSum[c] / WeightSum[c], low, high);
    if (limits.Digits) {
      // Rounded to the tune's decimals, but never past the limit.
      const double unit = std::pow(10.0, -*limits.Digits);
      proposed = RoundTo(proposed, *limits.Digits);
      if (proposed > high) proposed = RoundTo(proposed - unit, *limits.Digits);
      if (proposed < low) proposed = RoundTo(proposed + unit, *limits.Digits);
    }
    result.Proposed[c] = proposed;
    result.Changed[c] = proposed != now;
  }
  return result;
}

namespace {

// The lambda of `value`, a mixture in `unit`'s values.
double LambdaIn(double value, const TDisplay& unit) {
  return unit.DisplayMode == sensor::dmLambda ? value : value / StoichiometricAfr(unit.FuelType);
}

// An enrichment or correction channel read as a factor (1 = none), told by its values.
struct TFactorChannel {
  const std::vector<float>* Values = nullptr;
  enginelog::TCorrectionForm Form = enginelog::TCorrectionForm::Percent;

  TFactorChannel(const enginelog::TLog& log, std::optional<std::size_t> channel) {
    if (!channel || *channel >= log.Channels.size()) return;
    Values = &log.Channels[*channel].Values;
    Form = enginelog::CorrectionFormOf(log.Channels[*channel]);
  }
  // The factor at record `i`; 1 where the channel is missing or has no value yet.
  double At(std::size_t i) const {
    if (Values == nullptr || !std::isfinite((*Values)[i])) return 1;
    return enginelog::CorrectionFactor((*Values)[i], Form);
  }
};

// More than this off 1 is an enrichment at work: a record the engine fuelled for something else
// than its table.
constexpr double EnrichmentTolerance = 0.005;

// How long after a fuel cut the exhaust still carries its air: the sensor reads lean while the
// engine already fuels by its table again, and a record then would teach the table too much fuel.
constexpr double AfterCutSeconds = 1.0;

}  // namespace

TFuelProposal BuildFuelProposal(const TTableInput& input, const TTableSettings& settings,
                                const TCorrectionInput& correction) {
  TFuelProposal failed;
  TMixtureTable counts;
  TTableSettings walk = settings;
  if (correction.Tune) {
    // The tune's breakpoints, not ones derived from the data.
    walk.XBins = correction.Tune->X;
    walk.YBins = correction.Tune->Y;
  }
  if (!PrepareRecords(counts, input, walk)) {
    failed.Error = counts.Error;
    return failed;
  }
  const enginelog::TLog& log = *input.Engine;
  const TCorrectionChannels& channels = correction.Channels;
  const std::size_t count = log.Channels.size();
  for (const auto& channel :
       {channels.FuelValue, channels.Target, channels.Correction, channels.Warmup, channels.Accel,
        channels.FuelCut, channels.PulseWidth}) {
    if (channel && *channel >= count) {
      failed.Error = "no such channel";
      return failed;
    }
  }
  if (!correction.Tune && !channels.FuelValue) {
    failed.Error =
        "no fuel table: give the tune, or a log with the fuel table value (VE) the engine used";
    return failed;
  }
  const TBins& xBins = correction.Tune ? correction.Tune->X : counts.XBins;
  const TBins& yBins = correction.Tune ? correction.Tune->Y : counts.YBins;
  TProposalSums sums(xBins, yBins);
  const std::vector<float>& xs = log.Channels[settings.XChannel].Values;
  const std::vector<float>& ys = log.Channels[settings.YChannel].Values;
  const std::vector<float>* fuelValues =
      channels.FuelValue ? &log.Channels[*channels.FuelValue].Values : nullptr;
  const std::vector<float>* cut =
      channels.FuelCut ? &log.Channels[*channels.FuelCut].Values : nullptr;
  const std::vector<float>* pulse =
      channels.PulseWidth ? &log.Channels[*channels.PulseWidth].Values : nullptr;
  const std::vector<float>* targets =
      channels.Target ? &log.Channels[*channels.Target].Values : nullptr;
  const double targetScale = channels.Target
                                 ? ChannelScale(log.Channels[*channels.Target],
                                                TDisplay{sensor::dmLambda, settings.Unit.FuelType})
                                 : 1.0;
  const TFactorChannel closedLoop(log, channels.Correction);
  const TFactorChannel warmup(log, channels.Warmup);
  const TFactorChannel accel(log, channels.Accel);
  TLeftOut leftOut;
  const auto targetLambda = [&](std::size_t i) {
    if (targets != nullptr) return (*targets)[i] * targetScale;
    if (settings.Target.Any()) {
      const double target =
          settings.Target.At(NearestBin(xBins, xs[i]), NearestBin(yBins, ys[i]), xBins.size());
      return LambdaIn(target, settings.Unit);
    }
    if (correction.TuneTarget) return Interpolate(*correction.TuneTarget, xs[i], ys[i]);
    return std::numeric_limits<double>::quiet_NaN();
  };
  const auto isCut = [&](std::size_t i) {
    return (cut != nullptr && (*cut)[i] != 0 && !std::isnan((*cut)[i])) ||
           (pulse != nullptr && (*pulse)[i] <= 0);
  };
  std::size_t cutScan = 0;
  double lastCut = -std::numeric_limits<double>::infinity();
  WalkRecords(counts, input, walk, [&](std::size_t i, double mixture) {
    if (std::abs(warmup.At(i) - 1) > EnrichmentTolerance) {
      ++leftOut.Warmup;
      return;
    }
    if (std::abs(accel.At(i) - 1) > EnrichmentTolerance) {
      ++leftOut.Accel;
      return;
    }
    // Every record up to this one, left out or not, tells when fuel was last cut.
    for (; cutScan <= i; ++cutScan) {
      if (isCut(cutScan)) lastCut = log.Times[cutScan];
    }
    if (log.Times[i] - lastCut < AfterCutSeconds) {
      ++leftOut.FuelCut;
      return;
    }
    const double target = targetLambda(i);
    if (!(target > 0)) {
      ++leftOut.NoTarget;
      return;
    }
    const double fuelValue = fuelValues != nullptr ? (*fuelValues)[i] : NaN;
    if (!correction.Tune && !std::isfinite(fuelValue)) {
      ++leftOut.NoFuelValue;
      return;
    }
    sums.Add(xs[i], ys[i], closedLoop.At(i) * LambdaIn(mixture, settings.Unit) / target, fuelValue);
  });
  TFuelProposal proposal = sums.Finish(correction.Tune, correction.Limits);
  leftOut.NoMixture = counts.NoMixture;
  leftOut.Implausible = counts.Implausible;
  leftOut.Filtered = counts.Unsteady;
  leftOut.OutsideRange = counts.OutOfRange;
  proposal.LeftOut = leftOut;
  return proposal;
}

}  // namespace viewer
