// What users type or load into the mixture table, over arbitrary bytes: breakpoints pasted from
// anywhere and a target grid from any CSV file. The first two bytes give the table's shape.
//
// Rules: breakpoints are refused with a reason or come back finite and strictly rising; a target
// grid is refused with a reason or comes back with exactly one value a cell, none of them infinite.
#include <cmath>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzTargets.h"
#include "viewer/table/MixtureTableText.h"

namespace fuzz {

std::optional<std::string> RunTableText(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return std::nullopt;
  const std::size_t columns = 1 + data[0] % 20;
  const std::size_t rows = 1 + data[1] % 20;
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string error;
  if (const std::optional<viewer::TBins> bins = viewer::ParseBins(text, error)) {
    if (bins->empty()) return "breakpoints accepted without a number";
    for (std::size_t i = 0; i < bins->size(); ++i) {
      if (!std::isfinite((*bins)[i])) return "a breakpoint that is not finite";
      if (i > 0 && !((*bins)[i - 1] < (*bins)[i])) return "breakpoints that do not rise";
    }
  } else if (error.empty()) {
    return "breakpoints refused without a reason";
  }
  error.clear();
  if (const auto grid = viewer::ParseTargetGrid(text, columns, rows, error)) {
    if (grid->size() != columns * rows) return "a target grid of another shape";
    for (const double value : *grid) {
      if (std::isinf(value)) return "an infinite target";
    }
  } else if (error.empty()) {
    return "a target grid refused without a reason";
  }
  return std::nullopt;
}

}  // namespace fuzz
