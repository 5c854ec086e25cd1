// kestview --table: from the command line's words and the logs read to a table, then to JSON or
// a CSV file.
#include "viewer/session/TableCommand.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <limits>

#include "log/LogAlignment.h"
#include "log/LogSniffer.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/Summary.h"
#include "viewer/table/MixtureTable.h"
#include "viewer/table/MixtureTableText.h"

namespace viewer {

namespace {

TTableOutcome Refused(std::string message) {
  TTableOutcome outcome;
  outcome.Status = TTableStatus::BadRequest;
  outcome.Message = std::move(message);
  return outcome;
}

// The channel named after `option`, or the default axis when none is named.
std::optional<std::size_t> AxisChannel(const TViewSession& session, const std::string& name,
                                       bool across, std::string& error) {
  const enginelog::TLog& engine = *session.EngineLog();
  if (!name.empty()) {
    const int index = engine.FindChannel(name);
    if (index >= 0) return static_cast<std::size_t>(index);
    error = std::string(across ? "--x: " : "--y: ") + engine.Name + " has no channel " + name;
    return std::nullopt;
  }
  const std::optional<std::size_t> channel = across
                                                 ? DefaultXChannel(engine, session.ChannelNames())
                                                 : DefaultYChannel(engine, session.ChannelNames());
  if (!channel) {
    error = engine.Name + (across ? " has no engine speed channel: name one with --x"
                                  : " has no load or manifold pressure channel: name one with --y");
  }
  return channel;
}

// Where the mixture comes from: a channel named with --mixture (even beside a log of ours), the
// log of ours, or the engine log's own mixture channel.
std::optional<int> ChooseMixture(const TTableOptions& table, const TViewSession& session,
                                 std::string& error) {
  const enginelog::TLog& engine = *session.EngineLog();
  if (!table.Mixture.empty()) {
    const int index = engine.FindChannel(table.Mixture);
    if (index < 0) {
      error = "--mixture: " + engine.Name + " has no channel " + table.Mixture;
      return std::nullopt;
    }
    return index;
  }
  if (!session.Logs().empty()) return MixtureFromOurs;
  const std::optional<std::size_t> channel = session.EngineMixture();
  if (!channel) {
    error = "no mixture: " + engine.Name +
            " has no mixture channel; give a log of kestlsugraph or kestlog beside it, or name "
            "the channel with --mixture";
    return std::nullopt;
  }
  return static_cast<int>(*channel);
}

// The command line's table as the session's setup and unit, its names looked up in the engine
// log; false with the reason when a name or a filter does not read.
bool SetUpTable(const TViewOptions& options, TViewSession& session, std::string& error) {
  const TTableOptions& table = options.Table;
  const enginelog::TLog& engine = *session.EngineLog();
  const std::optional<std::size_t> x = AxisChannel(session, table.X, true, error);
  const std::optional<std::size_t> y = x ? AxisChannel(session, table.Y, false, error) : x;
  const std::optional<int> mixture = x && y ? ChooseMixture(table, session, error) : std::nullopt;
  if (!mixture) return false;
  std::optional<TSteadyFilter> steady;
  if (!table.Steady.empty()) {
    steady = ParseSteadyFilter(table.Steady, engine, error);
    if (!steady) {
      error = "--steady: " + error;
      return false;
    }
  }
  std::vector<TRangeText> ranges;
  for (const std::string& text : table.Ranges) {
    const std::optional<TRangeParts> range = SplitRangeFilter(text, engine, error);
    if (!range) {
      error = "--range: " + error;
      return false;
    }
    ranges.push_back({range->Channel, range->Low, range->High});
  }
  TDisplay unit;
  unit.DisplayMode = options.DisplayMode.value_or(sensor::dmAirFuelRatio);
  unit.FuelType = options.FuelType.value_or(session.Display().FuelType);
  session.SetDisplay(unit);
  session.SetTableAxes(*x, *y);
  // Breakpoints not given are derived over the whole log: the command line has no zoom.
  session.SetTableBinsText(table.XBins, table.YBins);
  session.SetTableMixture(*mixture);
  session.SetTableLag(table.Lag);
  session.SetTableMinHits(table.MinHits);
  session.SetTableSteady(steady.has_value(), steady.value_or(session.TableSetup().SteadyFilter));
  session.SetTableRanges(ranges);
  session.SetTableTarget(
      table.TargetValue
          ? QString::number(*table.TargetValue, 'g', QLocale::FloatingPointShortest).toStdString()
          : std::string());
  return true;
}

// The target grid of --target FILE, in the shape of the table's breakpoints.
bool LoadTarget(const TTableOptions& table, TViewSession& session, const TTableSettings& settings,
                std::string& error) {
  if (table.TargetPath.isEmpty() || settings.XBins.empty() || settings.YBins.empty()) return true;
  QFile file(table.TargetPath);
  if (!file.open(QIODevice::ReadOnly)) {
    error = "--target is a number or a CSV file: " + table.TargetPath.toStdString() + ": " +
            file.errorString().toStdString();
    return false;
  }
  if (!session.LoadTableTarget(table.TargetPath, error)) {
    error = "--target " + error;
    return false;
  }
  return true;
}

// The session's table settings, or why not in the command line's words.
std::optional<TTableSettings> SettingsOf(const TViewSession& session, std::string& error) {
  TTableProblem problem;
  std::optional<TTableSettings> settings = session.TableSettings(problem);
  using TField = TTableProblem::TField;
  if (!settings) {
    error = (problem.Field == TField::XBins   ? "--x-bins: "
             : problem.Field == TField::YBins ? "--y-bins: "
             : problem.Field == TField::Range ? "--range: "
                                              : "--target: ") +
            problem.Reason;
  }
  return settings;
}

// Whether the file at `path` is a log (ours or an engine log) rather than a table written
// before: --table takes the name that follows it, so a forgotten --json must not turn the log
// of ours into the table's file.
bool IsLogNotTable(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = file.read(static_cast<qint64>(enginelog::SniffBytes));
  const QByteArray corner = head.left(head.indexOf('\n')).split(',').front();
  if (corner.contains(" \\ ")) return false;
  return enginelog::SniffLogFormat(std::string_view(head.constData(), head.size()), file.atEnd()) !=
         enginelog::TLogFormat::None;
}

// The file written whole or not at all.
bool WriteCsv(const QString& path, const std::string& text, std::string& error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !file.commit()) {
    error = "cannot write " + path.toStdString() + ": " + file.errorString().toStdString();
    return false;
  }
  return true;
}

// The engine log, with at most one log of ours beside it; the reason when not.
std::optional<std::string> LogsRefused(const TViewSession& session, const char* option) {
  if (session.EngineLog() == nullptr) {
    return std::string(option) +
           " needs an engine log (MLG, MSL, DataLog export or delimited text) among the FILEs";
  }
  const std::size_t oursGiven = session.Logs().size() + session.UnreadableLogs().size();
  if (oursGiven > 1) {
    return std::string(option) + " takes one log of ours beside the engine log, not " +
           std::to_string(oursGiven);
  }
  return std::nullopt;
}

// The table's setup as the command line asks it, read: the settings and what the table's texts
// say of them; nothing, with `outcome` refused, when it cannot be made.
struct TTablePlan {
  TTableSettings Settings;
  TTableDescription Description;
};

std::optional<TTablePlan> PlanTable(const TViewOptions& options, TViewSession& session,
                                    TTableOutcome& outcome) {
  if (const std::optional<std::string> refused = LogsRefused(session, "--table")) {
    outcome = Refused(*refused);
    return std::nullopt;
  }
  const TTableOptions& table = options.Table;
  if (!table.CsvPath.isEmpty() && IsLogNotTable(table.CsvPath)) {
    outcome = Refused("--table " + table.CsvPath.toStdString() +
                      " is a log: the table would write over it (--json prints the table)");
    return std::nullopt;
  }
  const std::optional<TAlignment> alignment = session.LinedUp();
  if (alignment && !alignment->Note.empty()) outcome.Warnings.push_back(alignment->Note);
  std::string error;
  std::optional<TTableSettings> settings;
  if (SetUpTable(options, session, error)) settings = SettingsOf(session, error);
  if (settings && !table.TargetPath.isEmpty()) {
    settings =
        LoadTarget(table, session, *settings, error) ? SettingsOf(session, error) : std::nullopt;
  }
  if (!settings) {
    outcome = Refused(error);
    return std::nullopt;
  }
  return TTablePlan{*settings, session.TableDescription(*settings)};
}

// `outcome` with the table `made` of the plan: its JSON line, or its CSV file written.
void TableResult(const TMixtureTable& made, const TTablePlan& plan, const TTableOptions& table,
                 TTableOutcome& outcome) {
  if (!made.Error.empty()) {
    outcome.Status = TTableStatus::Failed;
    outcome.Message = made.Error;
    return;
  }
  // A table without a cell is still the answer, but the user is told why it is empty.
  if (!made.AnyShown()) outcome.Warnings.push_back(TableStatusText(made));
  if (table.CsvPath.isEmpty()) {
    outcome.Output = TableJson(made, plan.Description) + "\n";
  } else if (!WriteCsv(table.CsvPath, TableCsv(made, plan.Description), outcome.Message)) {
    outcome.Status = TTableStatus::Failed;
  }
}

}  // namespace

TTableOutcome RunTable(const TViewOptions& options, TViewSession& session) {
  TTableOutcome outcome;
  const std::optional<TTablePlan> plan = PlanTable(options, session, outcome);
  if (!plan) return outcome;
  TableResult(BuildMixtureTable(session.TableInput(), plan->Settings), *plan, options.Table,
              outcome);
  return outcome;
}

namespace {

// Why --correct may not write where it was told: not a CSV or MSQ file, an MSQ copy without the
// tune to copy, or a file it reads (a log, the tune, the target grid).
std::optional<std::string> OutputRefused(const TViewOptions& options) {
  const TCorrectOptions& correct = options.Correct;
  const QString& out = correct.OutPath;
  if (out.isEmpty()) return std::nullopt;
  const bool msq = out.endsWith(".msq", Qt::CaseInsensitive);
  if (!msq && !out.endsWith(".csv", Qt::CaseInsensitive)) {
    return "--correct writes OUT.csv or OUT.msq (or prints JSON with --json), not " +
           out.toStdString();
  }
  if (msq && correct.TunePath.isEmpty()) {
    return "--correct " + out.toStdString() + " needs the MSQ tune to copy: --tune IN.msq";
  }
  QStringList inputs = options.Files;
  inputs << correct.TunePath << options.Table.TargetPath;
  for (const QString& input : inputs) {
    if (!input.isEmpty() && QFileInfo(input) == QFileInfo(out)) {
      return "--correct would write over " + input.toStdString() + ", which it reads";
    }
  }
  return std::nullopt;
}

// --target FILE as a grid of the tune's shape: the corrected table lies on the tune's breakpoints.
bool LoadTuneShapedTarget(const QString& path, const TFuelGrid& tuneGrid, TTableSettings& settings,
                          std::string& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = "--target is a number or a CSV file: " + path.toStdString() + ": " +
            file.errorString().toStdString();
    return false;
  }
  const QByteArray text = file.readAll();
  std::optional<std::vector<double>> grid =
      ParseTargetGrid(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                      tuneGrid.Columns(), tuneGrid.Rows(), error);
  if (!grid) {
    error = "--target " + path.toStdString() + ": " + error + " (the tune's fuel table)";
    return false;
  }
  settings.Target.Value.reset();
  settings.Target.Grid = std::move(*grid);
  return true;
}

// The corrected table's setup as the command line asks it: the table's settings (its target on the
// tune's grid where a tune gives one), what the proposal is made of besides the logs, and what its
// texts say; nothing, with `outcome` refused, when it cannot be made.
struct TCorrectPlan {
  TTableSettings Settings;
  TCorrectionInput Input;
  TProposalDescription Description;
};

std::optional<TCorrectPlan> PlanCorrect(const TViewOptions& options, TViewSession& session,
                                        TTableOutcome& outcome) {
  const TCorrectOptions& correct = options.Correct;
  std::optional<std::string> refused = OutputRefused(options);
  if (!refused) refused = LogsRefused(session, "--correct");
  if (refused) {
    outcome = Refused(*refused);
    return std::nullopt;
  }
  const std::optional<TAlignment> alignment = session.LinedUp();
  if (alignment && !alignment->Note.empty()) outcome.Warnings.push_back(alignment->Note);
  std::string error;
  session.SetTuneNames(correct.Table, correct.XAxis, correct.YAxis);
  if (!correct.TunePath.isEmpty() && !session.LoadTune(correct.TunePath, error)) {
    outcome = Refused("--tune " + error);
    return std::nullopt;
  }
  session.SetMaxChange(correct.MaxChange);
  std::optional<TTableSettings> settings;
  if (SetUpTable(options, session, error)) settings = SettingsOf(session, error);
  const QString& targetPath = options.Table.TargetPath;
  if (settings && !targetPath.isEmpty()) {
    const std::optional<TFuelGrid> tuneGrid =
        correct.TunePath.isEmpty() ? std::nullopt : session.TuneGrid();
    if (tuneGrid) {
      if (!LoadTuneShapedTarget(targetPath, *tuneGrid, *settings, error)) settings.reset();
    } else {
      settings = LoadTarget(options.Table, session, *settings, error) ? SettingsOf(session, error)
                                                                      : std::nullopt;
    }
  }
  if (!settings) {
    outcome = Refused(error);
    return std::nullopt;
  }
  TCorrectPlan plan{*settings, {}, {}};
  plan.Input = session.CorrectionInput(plan.Settings, &plan.Description);
  return plan;
}

// `outcome` with the proposal of the plan: its JSON line, its CSV file or the tune's corrected
// copy written.
void CorrectResult(const TFuelProposal& proposal, const TCorrectPlan& plan,
                   const TViewOptions& options, const TViewSession& session,
                   TTableOutcome& outcome) {
  if (!proposal.Error.empty()) {
    outcome = Refused(proposal.Error);
    return;
  }
  if (plan.Description.Target == "none") {
    outcome = Refused("no target: " + session.EngineLog()->Name +
                      " has no target channel; give --target VALUE|FILE, or a tune with its "
                      "target table");
    return;
  }
  if (proposal.Used == 0)
    outcome.Warnings.push_back("no record taught the table anything: " +
                               ProposalStatusText(proposal));
  const QString& out = options.Correct.OutPath;
  std::string error;
  if (out.isEmpty()) {
    outcome.Output = ProposalJson(proposal, plan.Description) + "\n";
  } else if (out.endsWith(".msq", Qt::CaseInsensitive)) {
    const std::optional<std::string> copy = session.TuneWithProposal(proposal, error);
    if (!copy) {
      outcome = Refused("--correct " + out.toStdString() + ": " + error);
      return;
    }
    if (!WriteCsv(out, *copy, outcome.Message)) outcome.Status = TTableStatus::Failed;
  } else if (!WriteCsv(out, ProposalCsv(proposal, plan.Description), outcome.Message)) {
    outcome.Status = TTableStatus::Failed;
  }
}

}  // namespace

TTableOutcome RunCorrect(const TViewOptions& options, TViewSession& session) {
  TTableOutcome outcome;
  const std::optional<TCorrectPlan> plan = PlanCorrect(options, session, outcome);
  if (!plan) return outcome;
  CorrectResult(BuildFuelProposal(session.TableInput(), plan->Settings, plan->Input), *plan,
                options, session, outcome);
  return outcome;
}

struct TTableFollower::TPlans {
  std::optional<TTablePlan> Table;
  std::optional<TCorrectPlan> Correct;
};

TTableFollower::TTableFollower(const TViewOptions& options, TViewSession& session, TWrite write,
                               TSay say, QObject* parent)
    : QObject(parent),
      Options(options),
      Session(session),
      Write(std::move(write)),
      Say(std::move(say)),
      Plans(std::make_unique<TPlans>()) {
  Timer.setInterval(LineIntervalMs);
  connect(&Timer, &QTimer::timeout, this, &TTableFollower::Tick);
  connect(&Session, &TViewSession::Changed, this, [this](TViewSession::TChange what) {
    // Another log in place of one followed (a newer one in a followed folder) may have other
    // channels: the setup is made again for it.
    if (what == TViewSession::TChange::Files) Replan = true;
    if (what == TViewSession::TChange::Grew || what == TViewSession::TChange::Files) Grown = true;
  });
}

TTableFollower::~TTableFollower() = default;

bool TTableFollower::Plan(TTableOutcome& outcome) {
  Plans = std::make_unique<TPlans>();
  Live.reset();
  if (Options.Correct.Wanted) {
    Plans->Correct = PlanCorrect(Options, Session, outcome);
    if (!Plans->Correct) return false;
    Live.emplace(Plans->Correct->Settings, Plans->Correct->Input);
  } else {
    Plans->Table = PlanTable(Options, Session, outcome);
    if (!Plans->Table) return false;
    Live.emplace(Plans->Table->Settings);
  }
  return true;
}

TTableOutcome TTableFollower::Start() {
  TTableOutcome outcome;
  if (!Plan(outcome)) return outcome;
  Live->Update(Session.TableInput());
  MakeLine(outcome);
  if (outcome.Status != TTableStatus::Done) return outcome;
  if (!Write(outcome.Output)) {
    outcome.Status = TTableStatus::Failed;
    outcome.Message = "the table could not be written to standard output";
    return outcome;
  }
  Timer.start();
  return outcome;
}

void TTableFollower::MakeLine(TTableOutcome& outcome) const {
  if (Plans->Correct) {
    CorrectResult(Live->Proposal(), *Plans->Correct, Options, Session, outcome);
  } else {
    TableResult(Live->Table(), *Plans->Table, Options.Table, outcome);
  }
}

void TTableFollower::Tick() {
  if (!Grown) return;
  Grown = false;
  TTableOutcome outcome;
  // Breakpoints derived from the data move with it (a drive that began at idle leaves them): each
  // line is the one-off table of the files as they stand, so a line on other breakpoints is made
  // again from the start.
  const bool derived = (Options.Table.XBins.empty() || Options.Table.YBins.empty()) &&
                       (Options.Correct.TunePath.isEmpty() || !Options.Correct.Wanted);
  if (derived && !Replan && (Plans->Table || Plans->Correct)) {
    const TTableSettings& planned =
        Plans->Table ? Plans->Table->Settings : Plans->Correct->Settings;
    TTableProblem problem;
    const std::optional<TTableSettings> now = Session.TableSettings(problem);
    if (now && (now->XBins != planned.XBins || now->YBins != planned.YBins)) Replan = true;
  }
  if (Replan) {
    Replan = false;
    Plan(outcome);
  }
  if (Live) {
    Live->Update(Session.TableInput());
    MakeLine(outcome);
  }
  if (outcome.Status != TTableStatus::Done) {
    // The logs were cut short or replaced and make no table now: said once, and the lines go on
    // when they make one again.
    if (outcome.Message != LastSaid) Say(outcome.Message);
    LastSaid = outcome.Message;
    return;
  }
  LastSaid.clear();
  if (!Write(outcome.Output)) {
    Timer.stop();
    emit WriteFailed();
  }
}

}  // namespace viewer
