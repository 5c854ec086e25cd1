// The session's tune and the corrected fuel table made from it: see ViewSession.h.
#include <QFile>
#include <cctype>
#include <cmath>

#include "log/ChannelRoles.h"
#include "log/Tune.h"
#include "viewer/logs/MixtureValue.h"
#include "viewer/session/ViewSession.h"

namespace viewer {

// A tune as loaded: its bytes, kept for the corrected copy, and its fuel and target tables.
struct TViewSession::TLoadedTune {
  std::string Bytes;
  std::optional<tune::TTable> Msq;  // an MSQ tune's fuel table as found; none: a CSV grid
  TFuelGrid Fuel;
  std::optional<int> Digits;
  std::optional<TFuelGrid> Target;  // as written: lambda or an air-fuel ratio
};

namespace {

TFuelGrid GridOf(const tune::TTable& table) { return TFuelGrid{table.X, table.Y, table.Values}; }

// An MSQ tune when the file's first bytes (past a byte order mark and blanks) open XML.
bool LooksLikeXml(const std::string& bytes) {
  std::size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
  return at < bytes.size() && bytes[at] == '<';
}

}  // namespace

bool TViewSession::LoadTune(const QString& path, std::string& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = path.toStdString() + ": " + file.errorString().toStdString();
    return false;
  }
  const QByteArray read = file.readAll();
  auto loaded = std::make_shared<TLoadedTune>();
  loaded->Bytes.assign(read.constData(), static_cast<std::size_t>(read.size()));
  const std::string name = path.toStdString();
  if (LooksLikeXml(loaded->Bytes)) {
    const tune::TTune msq = tune::ReadMsq(loaded->Bytes, name);
    if (!msq.Ok()) {
      error = msq.Error;
      return false;
    }
    std::optional<tune::TTable> fuel =
        TuneTable.empty() ? tune::FindFuelTable(msq, error)
                          : tune::FindTable(msq, TuneTable, TuneXAxis, TuneYAxis, error);
    if (!fuel) {
      error = name + ": " + error;
      return false;
    }
    std::string targetError;
    if (const std::optional<tune::TTable> target = tune::FindTargetTable(msq, targetError)) {
      loaded->Target = GridOf(*target);
    }
    loaded->Fuel = GridOf(*fuel);
    loaded->Digits = fuel->Digits;
    loaded->Msq = std::move(fuel);
  } else {
    std::optional<TFuelGrid> grid = ParseFuelGrid(loaded->Bytes, error);
    if (!grid) {
      error = name + ": " + error;
      return false;
    }
    loaded->Fuel = std::move(*grid);
  }
  Tune = std::move(loaded);
  TuneFile = path;
  Say(TChange::Table);
  return true;
}

void TViewSession::ClearTune() {
  if (!Tune) return;
  Tune.reset();
  TuneFile.clear();
  Say(TChange::Table);
}

bool TViewSession::TuneIsMsq() const { return Tune && Tune->Msq; }

std::optional<TFuelGrid> TViewSession::TuneGrid() const {
  if (!Tune) return std::nullopt;
  return Tune->Fuel;
}

void TViewSession::SetTuneNames(const std::string& table, const std::string& xAxis,
                                const std::string& yAxis) {
  TuneTable = table;
  TuneXAxis = xAxis;
  TuneYAxis = yAxis;
}

void TViewSession::SetMaxChange(double percent) {
  if (percent == MaxChangePercent) return;
  MaxChangePercent = percent;
  Say(TChange::Table);
}

TFuelProposal TViewSession::Proposal(const TTableSettings& settings,
                                     TProposalDescription* description) const {
  if (!EngineLog()) {
    TFuelProposal none;
    none.Error = "no engine log";
    return none;
  }
  return BuildFuelProposal(TableInput(), settings, CorrectionInput(settings, description));
}

TCorrectionInput TViewSession::CorrectionInput(const TTableSettings& settings,
                                               TProposalDescription* description) const {
  TCorrectionInput input;
  using enginelog::TChannelRole;
  const auto role = [&](TChannelRole r) { return enginelog::FindRole(*EngineLog(), r, Names); };
  TCorrectionChannels& channels = input.Channels;
  channels.FuelValue = role(TChannelRole::FuelTableValue);
  channels.Target = role(TChannelRole::MixtureTarget);
  channels.Correction = role(TChannelRole::Correction);
  channels.Warmup = role(TChannelRole::WarmupEnrichment);
  channels.Accel = role(TChannelRole::AccelEnrichment);
  channels.FuelCut = role(TChannelRole::FuelCut);
  channels.PulseWidth = role(TChannelRole::PulseWidth);
  input.Limits.MinWeight = static_cast<double>(settings.MinHits);
  input.Limits.MaxChangePercent = MaxChangePercent;
  std::string target = channels.Target                     ? "channel"
                       : settings.Target.Value.has_value() ? "value"
                       : !settings.Target.Grid.empty()     ? "grid"
                                                           : "none";
  if (Tune) {
    input.Tune = Tune->Fuel;
    input.Limits.Digits = Tune->Digits;
    if (Tune->Target) {
      // The tune's target in lambda: a table of values below 3 is lambda already.
      TFuelGrid lambda = *Tune->Target;
      double sum = 0;
      for (const double value : lambda.Values) sum += value;
      const bool isLambda =
          !lambda.Values.empty() && sum / static_cast<double>(lambda.Values.size()) < 3;
      if (!isLambda) {
        for (double& value : lambda.Values) value /= StoichiometricAfr(settings.Unit.FuelType);
      }
      input.TuneTarget = std::move(lambda);
      if (target == "none") target = "tune";
    }
  }
  if (description != nullptr) {
    const TTableDescription table = TableDescription(settings);
    description->XChannel = table.XChannel;
    description->YChannel = table.YChannel;
    description->Source = Tune ? "tune" : "estimated";
    description->Target = target;
  }
  return input;
}

std::optional<std::string> TViewSession::TuneWithProposal(const TFuelProposal& proposal,
                                                          std::string& error) const {
  if (!Tune || !Tune->Msq) {
    error = "no MSQ tune is loaded to write a corrected copy of";
    return std::nullopt;
  }
  if (proposal.Proposed.size() != Tune->Msq->Values.size()) {
    error = "the proposal is not of the tune's fuel table's shape";
    return std::nullopt;
  }
  return tune::WriteMsqWithTable(Tune->Bytes, TuneFile.toStdString(), *Tune->Msq, proposal.Proposed,
                                 error);
}

}  // namespace viewer
