// Grids of the engine computer's tables read from the CSV that kestview writes, and looked up
// between their breakpoints as an engine computer does.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "sim/FuelTable.h"

namespace sim {
namespace {

struct TLookup {
  double Rpm;
  double MapKpa;
  double Value;
};

// 1.0 and 1.2 at 20 kPa, 1.4 and 2.0 at 100 kPa, over 1000 and 3000 rpm: in the middle of the
// four cells the mean of them, on an edge the mean of its two, beyond the breakpoints the edge.
const std::vector<TLookup> SquareLookups = {
    {1000, 20, 1.0}, {3000, 20, 1.2},  {1000, 100, 1.4}, {3000, 100, 2.0},
    {2000, 20, 1.1}, {1000, 60, 1.2},  {2000, 60, 1.4},  {2500, 80, 1.675},
    {500, 10, 1.0},  {9000, 200, 2.0}, {2000, 10, 1.1},  {500, 60, 1.2},
};

TEST(FuelTableTest, GridsReadAndInterpolate) {
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<TLookup> Lookups;  // empty: the grid is refused
    double Fill = NAN;             // fills the empty cells, where given
  };
  const std::vector<TCase> cases = {
      {"as kestview writes it", "MAP \\ RPM,1000,3000\r\n20,1.0,1.2\r\n100,1.4,2.0\r\n",
       SquareLookups},
      {"highest load first, semicolons, decimal commas",
       "MAP \\ RPM;1000;3000\n100;1,4;2,0\n20;1,0;1,2\n", SquareLookups},
      {"byte order mark, quoted corner, blank lines, tabs",
       "\xEF\xBB\xBF\"MAP, kPa \\ RPM\"\t1000\t3000\n\n20\t1.0\t1.2\n\n100\t1.4\t2.0",
       SquareLookups},
      {"an empty cell takes the filling",
       "x,1000,3000\n20,,1.2\n100,1.4,2.0\n",
       {{1000, 20, 0.8}, {2000, 20, 1.0}},
       0.8},
      {"one cell everywhere", "x,2500\n50,1.1\n", {{500, 20, 1.1}, {7000, 100, 1.1}}},
      {"ragged", "x,1000,3000\n20,1.0\n100,1.4,2.0\n", {}},
      {"rpm not rising", "x,3000,1000\n20,1.0,1.2\n", {}},
      {"MAP neither rising nor falling", "x,1000\n20,1\n100,1\n60,1\n", {}},
      {"a word for a value", "x,1000\n20,lean\n", {}},
      {"a value beyond the bounds", "x,1000\n20,2.5\n", {}},
      {"no breakpoint", "x,1000\n,1.0\n", {}},
      {"breakpoints only", "x,1000,3000\n", {}},
      {"no value at all", "x,1000\n20,\n", {}},
      {"empty", "", {}},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  int fileNumber = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    // Through a file, as kestsim reads it.
    const std::string path =
        dir.filePath(QString::number(++fileNumber) + QStringLiteral(".csv")).toStdString();
    std::ofstream(path, std::ios::binary) << c.Text;
    std::string error;
    std::optional<TFuelTable> table = ReadFuelTableCsv(path, 0.5, 2.0, error);
    if (c.Lookups.empty()) {
      EXPECT_FALSE(table);
      EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(table) << error;
    if (!std::isnan(c.Fill)) FillEmptyCells(*table, TFuelTable::Uniform(c.Fill));
    for (const TLookup& lookup : c.Lookups) {
      EXPECT_NEAR(table->At(lookup.Rpm, lookup.MapKpa), lookup.Value, 1e-12)
          << lookup.Rpm << " rpm, " << lookup.MapKpa << " kPa";
    }
  }
  std::string error;
  EXPECT_FALSE(ReadFuelTableCsv(dir.filePath("missing.csv").toStdString(), 0.5, 2.0, error));
  EXPECT_NE(error.find("missing.csv: "), std::string::npos) << error;
}

}  // namespace
}  // namespace sim
