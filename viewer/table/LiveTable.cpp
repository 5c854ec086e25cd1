// The running table: see LiveTable.h. The walk and the sums it fills are the one-off table's own
// (RecordWalk.h), carried on update by update; what is shown is a copy of them with the records
// still waiting decided as the logs stand, so the running sums themselves only ever take records
// whose answer can no longer change.
#include "viewer/table/LiveTable.h"

#include <cmath>
#include <utility>

namespace viewer {

TLiveTable::TLiveTable(const TTableSettings& settings, std::optional<TCorrectionInput> correction)
    : Given(settings), Kept(settings), Correction(std::move(correction)) {
  StartOver(false);
  if (!Correction) ProposalFailure.Error = "no corrected fuel table was asked for";
  MadeTable.MinHits = Kept.MinHits;
  MadeTable.Error = "no update yet";
  MadeProposal = ProposalFailure;
}

bool TLiveTable::TLogMarks::GrownFrom(const TLogMarks& before) const {
  return Engine == before.Engine && Mixture == before.Mixture &&
         EngineChannels == before.EngineChannels && EngineRecords >= before.EngineRecords &&
         MixtureRows >= before.MixtureRows &&
         (before.EngineRecords == 0 || EngineStart == before.EngineStart);
}

void TLiveTable::StartOver(bool keepGrid) {
  Walk.reset();
  Counts = TMixtureTable{};
  TableReady = false;
  Sums.clear();
  Records.reset();
  Read.reset();
  if (keepGrid) return;
  Kept = Given;
  FilledAtStart.reset();
  ProposingAtStart.reset();
}

void TLiveTable::Prepare(const TTableInput& input) {
  if (!TableReady) {
    TMixtureTable table;
    table.MinHits = Kept.MinHits;
    TableReady = PrepareRecords(table, input, Kept);
    if (TableReady) {
      // Derived once, here, and given from now on.
      Kept.XBins = table.XBins;
      Kept.YBins = table.YBins;
      Sums.assign(table.Columns() * table.Rows(), TCellSums{});
    } else {
      TableFailure = std::move(table);
    }
  }
  if (Correction && !Records) {
    TMixtureTable counts;
    ProposalFailure = TFuelProposal{};
    Records = TProposalRecords::Prepare(counts, input, Kept, *Correction, ProposalFailure.Error);
  }
  // Before the table's breakpoints can be derived no record in range has values on both axes, so
  // a walk begun for the proposal alone has counted nothing the table would have had.
  if (!Walk && (TableReady || Records)) Walk.emplace(Kept, input.Shift);
}

TRecordWalk::TCounted TLiveTable::CountInto(const enginelog::TLog& log,
                                            std::vector<TCellSums>& sums,
                                            std::optional<TProposalRecords>& records) const {
  const std::vector<float>* xs = &log.Channels[Kept.XChannel].Values;
  const std::vector<float>* ys = &log.Channels[Kept.YChannel].Values;
  return [this, xs, ys, &sums, &records](std::size_t i, double mixture) {
    if (TableReady) {
      sums[NearestBin(Kept.YBins, (*ys)[i]) * Kept.XBins.size() + NearestBin(Kept.XBins, (*xs)[i])]
          .Add(mixture);
    }
    if (records) records->Add(i, mixture);
  };
}

void TLiveTable::Update(const TTableInput& input) {
  TLogMarks marks;
  marks.Engine = input.Engine;
  marks.Mixture = input.Mixture;
  if (input.Engine != nullptr) {
    marks.EngineRecords = input.Engine->Times.size();
    marks.EngineChannels = input.Engine->Channels.size();
    marks.EngineStart = input.Engine->Times.empty() ? 0 : input.Engine->Times.front();
  }
  if (input.Mixture != nullptr) marks.MixtureRows = input.Mixture->Times.size();
  if (!marks.GrownFrom(Marks)) StartOver(false);
  Marks = marks;
  Prepare(input);
  if (!Walk) {
    Publish(input, nullptr);
    return;
  }
  TMixtureSource source = MixtureSourceOf(input, Kept);
  const TReading reading{input.Shift, source.Reading(),
                         Correction && Records
                             ? TProposalRecords::ReadingOf(*input.Engine, Kept, *Correction)
                             : TProposalReading{}};
  if (Read && *Read != reading) {
    // Records decided under the old reading might be decided otherwise now: walk them again, on
    // the same grid.
    StartOver(true);
    Prepare(input);
  }
  Read = reading;
  Walk->Walk(*input.Engine, source, false, Counts, CountInto(*input.Engine, Sums, Records));
  Publish(input, &source);
}

void TLiveTable::Publish(const TTableInput& input, TMixtureSource* source) {
  TMixtureTable counts = Counts;
  std::vector<TCellSums> sums = Sums;
  std::optional<TProposalRecords> records = Records;
  if (Walk && source != nullptr) {
    // The waiting records as a table made now would take them, into copies: the running sums
    // keep only what is settled.
    const TRecordWalk::TCounted counted = CountInto(*input.Engine, sums, records);
    for (const std::size_t i : Walk->Waiting()) {
      Walk->Decide(i, source->At(input.Engine->Times[i]), counts, counted);
    }
  }
  MadeProposal = records ? records->Finish(counts) : ProposalFailure;
  if (TableReady) {
    counts.MinHits = Kept.MinHits;
    counts.XBins = Kept.XBins;
    counts.YBins = Kept.YBins;
    FinishCells(counts, sums, Kept.Target);
    MadeTable = std::move(counts);
  } else {
    MadeTable = TableFailure;
  }

  HaveLast = false;
  const enginelog::TLog* engine = input.Engine;
  if (engine != nullptr && !engine->Times.empty() && Kept.XChannel < engine->Channels.size() &&
      Kept.YChannel < engine->Channels.size()) {
    LastX = engine->Channels[Kept.XChannel].Values.back();
    LastY = engine->Channels[Kept.YChannel].Values.back();
    HaveLast = std::isfinite(LastX) && std::isfinite(LastY);
  }

  const auto newSince = [](std::optional<std::vector<bool>>& atStart, const std::vector<bool>& now,
                           std::size_t columns, std::vector<TCellIndex>& since) {
    if (!atStart || atStart->size() != now.size()) atStart = now;
    since.clear();
    for (std::size_t c = 0; c < now.size(); ++c) {
      if (now[c] && !(*atStart)[c]) since.push_back({c % columns, c / columns});
    }
  };
  if (TableReady) {
    std::vector<bool> shown(MadeTable.Cells.size());
    for (std::size_t c = 0; c < shown.size(); ++c) {
      shown[c] = MadeTable.Shown(c % MadeTable.Columns(), c / MadeTable.Columns());
    }
    newSince(FilledAtStart, shown, MadeTable.Columns(), Filled);
  }
  if (MadeProposal.Error.empty() && MadeProposal.Current.Columns() > 0) {
    const double least = Correction->Limits.MinWeight;
    std::vector<bool> proposing(MadeProposal.Weight.size());
    for (std::size_t c = 0; c < proposing.size(); ++c) {
      proposing[c] = MadeProposal.Weight[c] > 0 && MadeProposal.Weight[c] >= least;
    }
    newSince(ProposingAtStart, proposing, MadeProposal.Current.Columns(), Proposing);
  }
}

std::optional<TCellIndex> TLiveTable::CurrentCell(const TBins& x, const TBins& y) const {
  if (!HaveLast || x.empty() || y.empty()) return std::nullopt;
  return TCellIndex{NearestBin(x, LastX), NearestBin(y, LastY)};
}

}  // namespace viewer
