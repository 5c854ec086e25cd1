// The mixture table and the corrected fuel table kept running while the logs grow. For settings
// that stay, each update walks only the engine records the logs gained since the last one, so a
// drive followed for an hour costs each second what that second brought, not the hour. A record
// whose mixture (its time plus the lag) lies where the mixture log may still change waits, and is
// decided on a later update; what is shown counts the waiting ones as the logs stand, so that the
// table and the proposal are always those BuildMixtureTable and BuildFuelProposal make of the
// same logs with the same settings. Pure: no files, no widgets.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "viewer/table/FuelCorrection.h"
#include "viewer/table/MixtureTable.h"
#include "viewer/table/RecordWalk.h"

namespace viewer {

class TLiveTable {
 public:
  // Follows the table of `settings` (From and To on the mixture log's axis; either may be
  // infinite) and, with `correction`, its corrected fuel table. Breakpoints not given are derived
  // from the records in range at the first update that has any, and kept from then on: a grid
  // that moved as the drive went on would scatter the hits a cell already had.
  explicit TLiveTable(const TTableSettings& settings,
                      std::optional<TCorrectionInput> correction = std::nullopt);

  // Reads what the logs of `input` gained since the last update. Engine records are taken as
  // final once read (a reader hands over whole records only). The table starts again from the
  // first record when the logs are other ones (another object, fewer rows or channels, another
  // first engine record) and when something read from their whole length changed since: the
  // shift, our log's sample interval, the unit or form a channel's values tell. Never throws.
  void Update(const TTableInput& input);

  // The table as BuildMixtureTable makes it of the logs as they stood at the last update, with
  // the settings and breakpoints kept (Settings()); Error set while none can be made.
  const TMixtureTable& Table() const { return MadeTable; }
  // The corrected fuel table as BuildFuelProposal makes it, likewise; Error set without a
  // correction to make or while none can be made.
  const TFuelProposal& Proposal() const { return MadeProposal; }
  // The settings followed, with the breakpoints derived where they were not given.
  const TTableSettings& Settings() const { return Kept; }

  // The cell of a grid over `x` and `y` the engine is in now: that of the last engine record;
  // none without one or without values on both axes there.
  std::optional<TCellIndex> CurrentCell(const TBins& x, const TBins& y) const;
  // The table's cells shown now that were not at the first update that made a table (reached the
  // minimum hits since following began), and the proposal's cells that reached their weight.
  const std::vector<TCellIndex>& NewlyFilled() const { return Filled; }
  const std::vector<TCellIndex>& NewlyProposed() const { return Proposing; }
  // Records in range that wait for their mixture.
  std::size_t Waiting() const { return Walk ? Walk->Waiting().size() : 0; }

 private:
  // What the logs were at the last update, to tell growth from other logs.
  struct TLogMarks {
    const enginelog::TLog* Engine = nullptr;
    const TLog* Mixture = nullptr;
    std::size_t EngineRecords = 0;
    std::size_t EngineChannels = 0;
    std::size_t MixtureRows = 0;
    double EngineStart = 0;
    bool GrownFrom(const TLogMarks& before) const;
  };
  // What the walk made of the logs' whole length.
  struct TReading {
    double Shift = 0;
    double Source = 0;
    TProposalReading Proposal;
    bool operator==(const TReading&) const = default;
  };

  void StartOver(bool keepGrid);
  void Prepare(const TTableInput& input);
  void Publish(const TTableInput& input, TMixtureSource* source);
  TRecordWalk::TCounted CountInto(const enginelog::TLog& log, std::vector<TCellSums>& sums,
                                  std::optional<TProposalRecords>& records) const;

  TTableSettings Given;  // as asked
  TTableSettings Kept;   // with the breakpoints kept
  std::optional<TCorrectionInput> Correction;
  TLogMarks Marks;
  std::optional<TReading> Read;
  // The walk and what it decided so far; the table's part once its breakpoints are known, the
  // proposal's once it can be made.
  std::optional<TRecordWalk> Walk;
  TMixtureTable Counts;
  bool TableReady = false;
  std::vector<TCellSums> Sums;
  std::optional<TProposalRecords> Records;
  TMixtureTable TableFailure;
  TFuelProposal ProposalFailure;
  // What the last update showed.
  TMixtureTable MadeTable;
  TFuelProposal MadeProposal;
  float LastX = 0, LastY = 0;
  bool HaveLast = false;
  // The cells shown at the first update that showed any table (proposal), and those since.
  std::optional<std::vector<bool>> FilledAtStart, ProposingAtStart;
  std::vector<TCellIndex> Filled, Proposing;
};

}  // namespace viewer
