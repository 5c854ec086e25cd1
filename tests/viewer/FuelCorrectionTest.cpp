// The corrected fuel table's arithmetic: the weights the engine reads its table with, and the
// proposal of records whose engine breathes a known factor off its table.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "viewer/table/FuelCorrection.h"

namespace viewer {
namespace {

TEST(FuelCorrection, ValuesInterpolateAsTheEngineReadsItsTable) {
  // 10 20 | 30 40 at rows 50 and 100 kPa, columns 1000 and 2000 rpm, and a repeated 3000.
  const TFuelGrid grid{{1000, 2000, 3000, 3000}, {50, 100}, {10, 20, 60, 60, 30, 40, 80, 80}};
  struct TCase {
    double X, Y, Value;
  };
  const TCase cases[] = {
      {1000, 50, 10}, {2000, 100, 40}, {1500, 50, 15},  {1500, 75, 25},     {500, 25, 10},
      {2500, 50, 40}, {3000, 100, 80}, {9000, 100, 80}, {1250, 62.5, 17.5}, {2000, 60, 24},
  };
  for (const TCase& c : cases) {
    EXPECT_NEAR(Interpolate(grid, c.X, c.Y), c.Value, 1e-9) << c.X << " " << c.Y;
  }
  // The repeated breakpoint's columns share the weight beyond it equally.
  const TAxisWeights end = AxisWeightsAt(grid.X, 5000);
  ASSERT_EQ(end.Count, 2U);
  EXPECT_EQ(end.Index[0] + end.Index[1], 5U);
  EXPECT_DOUBLE_EQ(end.Weight[0], 0.5);
  EXPECT_TRUE(std::isnan(Interpolate(TFuelGrid{}, 1, 1)));
}

// Records spread over a 3 x 2 table whose engine breathes `factor` times its table: each cell
// they reach is proposed at its value times the factor, not dragged towards its neighbours, and a
// cell with too little weight keeps its value.
TEST(FuelCorrection, TheProposalRecoversTheTableLimitedAndRounded) {
  const TFuelGrid tune{{1000, 2000, 3000}, {50, 100}, {40, 50, 60, 70, 80, 90}};
  struct TCase {
    const char* Name;
    double Factor;
    TCorrectionLimits Limits;
    std::vector<double> Proposed;
  };
  const TCase cases[] = {
      {"within the limit", 1.10, {10, 15, 1}, {44, 55, 60, 77, 88, 90}},
      {"limited", 1.30, {10, 15, {}}, {46, 57.5, 60, 80.5, 92, 90}},
      {"limited and rounded inside", 1.30, {10, 15, 0}, {46, 57, 60, 80, 92, 90}},
      {"too little weight anywhere", 1.10, {1000, 15, 1}, {40, 50, 60, 70, 80, 90}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TProposalSums sums(tune.X, tune.Y);
    // Records on a lattice from 1000 to 2200 rpm and 50 to 100 kPa: the cells at 3000 rpm get
    // only the weight of the records past 2000, under 3 records' worth each.
    for (int i = 0; i <= 24; ++i) {
      for (int j = 0; j <= 10; ++j) {
        const double rpm = 1000 + 50.0 * i;
        const double map = 50 + 5.0 * j;
        const double ve = Interpolate(tune, rpm, map);
        sums.Add(rpm, map, c.Factor, ve);
      }
    }
    const TFuelProposal proposal = sums.Finish(tune, c.Limits);
    ASSERT_EQ(proposal.Proposed.size(), c.Proposed.size());
    for (std::size_t k = 0; k < c.Proposed.size(); ++k) {
      EXPECT_NEAR(proposal.Proposed[k], c.Proposed[k], 1e-9) << k;
      EXPECT_EQ(proposal.Changed[k], c.Proposed[k] != tune.Values[k]) << k;
    }
    EXPECT_FALSE(proposal.Estimated);
  }
}

}  // namespace
}  // namespace viewer
