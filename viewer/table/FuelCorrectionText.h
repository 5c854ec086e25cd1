// The corrected fuel table as text: the JSON of kestview --correct, and the proposed grid as CSV
// for a file and as a tuning program's table editor takes a paste.
#pragma once

#include <string>

#include "viewer/table/FuelCorrection.h"

namespace viewer {

// What the proposal's texts say of it beside its numbers.
struct TProposalDescription {
  std::string XChannel;
  std::string YChannel;
  std::string Source = "estimated";  // "tune" or "estimated"
  std::string Target = "none";       // "channel", "value", "grid", "tune" or "none"
};

// {"x": {"channel", "bins"}, "y": {...}, "source", "target", "current", "proposed", "weight",
// "changed", "left_out": {reason: count}, "used"}: grids as rows in the rising order of the y
// breakpoints, a number missing as null. One line, no line end.
std::string ProposalJson(const TFuelProposal& proposal, const TProposalDescription& description);

// What became of the records, for a status line: how many taught the proposal, how many cells
// changed, and why the rest were left out ("12,000 records used, 34 cells changed; left out:
// 800 in warm-up, 120 in fuel cut").
std::string ProposalStatusText(const TFuelProposal& proposal);

// The proposed grid as the table's CSV: the corner ("Y \ X"), the x breakpoints, then a row per y
// breakpoint (rising) of proposed values; decimal point, CR LF. Reads back as a tune.
std::string ProposalCsv(const TFuelProposal& proposal, const TProposalDescription& description);

// The proposed grid tab-separated, the highest load first, as a tuning program's table editor
// takes a paste: with the breakpoints or the cells alone, numbers with `decimalSeparator`.
std::string ProposalTsv(const TFuelProposal& proposal, bool withAxes, char decimalSeparator);

}  // namespace viewer
