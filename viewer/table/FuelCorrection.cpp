// The corrected fuel table's arithmetic: see FuelCorrection.h.
#include "viewer/table/FuelCorrection.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "viewer/logs/MixtureValue.h"
#include "viewer/table/RecordWalk.h"

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

// More than this off 1 is an enrichment at work: a record the engine fuelled for something else
// than its table.
constexpr double EnrichmentTolerance = 0.005;

// How long after a fuel cut the exhaust still carries its air: the sensor reads lean while the
// engine already fuels by its table again, and a record then would teach the table too much fuel.
constexpr double AfterCutSeconds = 1.0;

}  // namespace

std::optional<TProposalRecords> TProposalRecords::Prepare(TMixtureTable& counts,
                                                          const TTableInput& input,
                                                          const TTableSettings& settings,
                                                          const TCorrectionInput& correction,
                                                          std::string& error) {
  TTableSettings walk = settings;
  if (correction.Tune) {
    // The tune's breakpoints, not ones derived from the data.
    walk.XBins = correction.Tune->X;
    walk.YBins = correction.Tune->Y;
  }
  if (!PrepareRecords(counts, input, walk)) {
    error = counts.Error;
    return std::nullopt;
  }
  const enginelog::TLog& log = *input.Engine;
  const TCorrectionChannels& channels = correction.Channels;
  const std::size_t count = log.Channels.size();
  for (const auto& channel :
       {channels.FuelValue, channels.Target, channels.Correction, channels.Warmup, channels.Accel,
        channels.FuelCut, channels.PulseWidth}) {
    if (channel && *channel >= count) {
      error = "no such channel";
      return std::nullopt;
    }
  }
  if (!correction.Tune && !channels.FuelValue) {
    error = "no fuel table: give the tune, or a log with the fuel table value (VE) the engine used";
    return std::nullopt;
  }
  return TProposalRecords(log, settings, correction, counts.XBins, counts.YBins);
}

TProposalReading TProposalRecords::ReadingOf(const enginelog::TLog& log,
                                             const TTableSettings& settings,
                                             const TCorrectionInput& correction) {
  const TCorrectionChannels& channels = correction.Channels;
  TProposalReading reading;
  if (channels.Target) {
    reading.TargetScale = ChannelScale(log.Channels[*channels.Target],
                                       TDisplay{sensor::dmLambda, settings.Unit.FuelType});
  }
  const auto formOf = [&](std::optional<std::size_t> channel) {
    return channel ? enginelog::CorrectionFormOf(log.Channels[*channel])
                   : enginelog::TCorrectionForm::Percent;
  };
  reading.Correction = formOf(channels.Correction);
  reading.Warmup = formOf(channels.Warmup);
  reading.Accel = formOf(channels.Accel);
  return reading;
}

TProposalRecords::TProposalRecords(const enginelog::TLog& log, const TTableSettings& settings,
                                   const TCorrectionInput& correction, const TBins& x,
                                   const TBins& y)
    : Log(&log),
      Settings(settings),
      Correction(correction),
      XBins(x),
      YBins(y),
      Sums(x, y),
      Read(ReadingOf(log, settings, correction)),
      Xs(&log.Channels[settings.XChannel].Values),
      Ys(&log.Channels[settings.YChannel].Values) {
  const TCorrectionChannels& channels = correction.Channels;
  const auto values = [&](std::optional<std::size_t> channel) {
    return channel ? &log.Channels[*channel].Values : nullptr;
  };
  FuelValues = values(channels.FuelValue);
  CutFlags = values(channels.FuelCut);
  Pulses = values(channels.PulseWidth);
  Targets = values(channels.Target);
  ClosedLoop = {values(channels.Correction), Read.Correction};
  WarmupChannel = {values(channels.Warmup), Read.Warmup};
  AccelChannel = {values(channels.Accel), Read.Accel};
}

double TProposalRecords::TFactorChannel::At(std::size_t i) const {
  if (Values == nullptr || !std::isfinite((*Values)[i])) return 1;
  return enginelog::CorrectionFactor((*Values)[i], Form);
}

double TProposalRecords::TargetLambda(std::size_t i) const {
  const double x = (*Xs)[i], y = (*Ys)[i];
  if (Targets != nullptr) return (*Targets)[i] * Read.TargetScale;
  if (Settings.Target.Any()) {
    const double target =
        Settings.Target.At(NearestBin(XBins, x), NearestBin(YBins, y), XBins.size());
    return LambdaIn(target, Settings.Unit);
  }
  if (Correction.TuneTarget) return Interpolate(*Correction.TuneTarget, x, y);
  return NaN;
}

bool TProposalRecords::IsCut(std::size_t i) const {
  return (CutFlags != nullptr && (*CutFlags)[i] != 0 && !std::isnan((*CutFlags)[i])) ||
         (Pulses != nullptr && (*Pulses)[i] <= 0);
}

void TProposalRecords::Add(std::size_t i, double mixture) {
  if (std::abs(WarmupChannel.At(i) - 1) > EnrichmentTolerance) {
    ++LeftOut.Warmup;
    return;
  }
  if (std::abs(AccelChannel.At(i) - 1) > EnrichmentTolerance) {
    ++LeftOut.Accel;
    return;
  }
  // Every record up to this one, left out or not, tells when fuel was last cut.
  for (; CutScan <= i; ++CutScan) {
    if (IsCut(CutScan)) LastCut = Log->Times[CutScan];
  }
  if (Log->Times[i] - LastCut < AfterCutSeconds) {
    ++LeftOut.FuelCut;
    return;
  }
  const double target = TargetLambda(i);
  if (!(target > 0)) {
    ++LeftOut.NoTarget;
    return;
  }
  const double fuelValue = FuelValues != nullptr ? (*FuelValues)[i] : NaN;
  if (!Correction.Tune && !std::isfinite(fuelValue)) {
    ++LeftOut.NoFuelValue;
    return;
  }
  Sums.Add((*Xs)[i], (*Ys)[i], ClosedLoop.At(i) * LambdaIn(mixture, Settings.Unit) / target,
           fuelValue);
}

TFuelProposal TProposalRecords::Finish(const TMixtureTable& counts) const {
  TFuelProposal proposal = Sums.Finish(Correction.Tune, Correction.Limits);
  proposal.LeftOut = LeftOut;
  proposal.LeftOut.NoMixture = counts.NoMixture;
  proposal.LeftOut.Implausible = counts.Implausible;
  proposal.LeftOut.Filtered = counts.Unsteady;
  proposal.LeftOut.OutsideRange = counts.OutOfRange;
  return proposal;
}

TFuelProposal BuildFuelProposal(const TTableInput& input, const TTableSettings& settings,
                                const TCorrectionInput& correction) {
  TFuelProposal failed;
  TMixtureTable counts;
  std::optional<TProposalRecords> records =
      TProposalRecords::Prepare(counts, input, settings, correction, failed.Error);
  if (!records) return failed;
  // The walk is the table's: the breakpoints, the tune's or not, only place the records.
  WalkRecords(counts, input, settings,
              [&](std::size_t i, double mixture) { records->Add(i, mixture); });
  return records->Finish(counts);
}

}  // namespace viewer
