// The corrected fuel table's arithmetic: see FuelCorrection.h.
#include "viewer/table/FuelCorrection.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

}  // namespace viewer
