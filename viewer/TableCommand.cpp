// kestview --table: from the command line's words and the logs read to a table, then to JSON or
// a CSV file.
#include "viewer/TableCommand.h"

#include <QFile>
#include <QSaveFile>
#include <limits>

#include "log/LogAlignment.h"
#include "log/LogSniffer.h"
#include "viewer/EngineLogs.h"
#include "viewer/MixtureTable.h"
#include "viewer/MixtureTableText.h"
#include "viewer/Summary.h"

namespace viewer {

namespace {

constexpr double Everywhere = std::numeric_limits<double>::infinity();

TTableOutcome Refused(std::string message) {
  TTableOutcome outcome;
  outcome.Status = TTableStatus::BadRequest;
  outcome.Message = std::move(message);
  return outcome;
}

// The channel named after `option`, or the default axis when none is named.
std::optional<std::size_t> AxisChannel(const enginelog::TLog& engine, const std::string& name,
                                       bool across, std::string& error) {
  if (!name.empty()) {
    const int index = engine.FindChannel(name);
    if (index >= 0) return static_cast<std::size_t>(index);
    error = std::string(across ? "--x: " : "--y: ") + engine.Name + " has no channel " + name;
    return std::nullopt;
  }
  const std::optional<std::size_t> channel =
      across ? DefaultXChannel(engine) : DefaultYChannel(engine);
  if (!channel) {
    error = engine.Name + (across ? " has no engine speed channel: name one with --x"
                                  : " has no load or manifold pressure channel: name one with --y");
  }
  return channel;
}

// Where the mixture comes from: a channel named with --mixture (even beside a log of ours), the
// log of ours, or the engine log's own mixture channel.
bool ChooseMixture(const TTableOptions& table, const TTableFiles& files, TTableSettings& settings,
                   std::string& error) {
  const enginelog::TLog& engine = *files.Engine;
  if (!table.Mixture.empty()) {
    const int index = engine.FindChannel(table.Mixture);
    if (index < 0) {
      error = "--mixture: " + engine.Name + " has no channel " + table.Mixture;
      return false;
    }
    settings.MixtureChannel = static_cast<std::size_t>(index);
    settings.UseEngineMixture = true;
    return true;
  }
  if (files.Mixture != nullptr) return true;
  settings.MixtureChannel = enginelog::FindMixtureChannel(engine);
  if (!settings.MixtureChannel) {
    error = "no mixture: " + engine.Name +
            " has no mixture channel; give a log of kestlsugraph or kestlog beside it, or name "
            "the channel with --mixture";
  }
  return settings.MixtureChannel.has_value();
}

bool ChooseFilters(const TTableOptions& table, const enginelog::TLog& engine,
                   TTableSettings& settings, std::string& error) {
  if (!table.Steady.empty()) {
    settings.Steady = ParseSteadyFilter(table.Steady, engine, error);
    if (!settings.Steady) {
      error = "--steady: " + error;
      return false;
    }
  }
  for (const std::string& text : table.Ranges) {
    const std::optional<TRangeFilter> range = ParseRangeFilter(text, engine, error);
    if (!range) {
      error = "--range: " + error;
      return false;
    }
    settings.Ranges.push_back(*range);
  }
  return true;
}

// The target: one value, or a grid from the CSV file in the table's shape.
bool ChooseTarget(const TTableOptions& table, TTableSettings& settings, std::string& error) {
  settings.Target.Value = table.TargetValue;
  if (table.TargetPath.isEmpty() || settings.XBins.empty() || settings.YBins.empty()) return true;
  QFile file(table.TargetPath);
  if (!file.open(QIODevice::ReadOnly)) {
    error = "--target is a number or a CSV file: " + table.TargetPath.toStdString() + ": " +
            file.errorString().toStdString();
    return false;
  }
  const QByteArray text = file.readAll();
  std::optional<std::vector<double>> grid =
      ParseTargetGrid(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                      settings.XBins.size(), settings.YBins.size(), error);
  if (!grid) {
    error = "--target " + table.TargetPath.toStdString() + ": " + error;
    return false;
  }
  settings.Target.Grid = std::move(*grid);
  return true;
}

// Everything the table needs from the command line; the engine log and the shift are known.
std::optional<TTableSettings> SettingsOf(const TViewOptions& options, const TTableFiles& files,
                                         double shift, std::string& error) {
  const TTableOptions& table = options.Table;
  const enginelog::TLog& engine = *files.Engine;
  TTableSettings settings;
  const std::optional<std::size_t> x = AxisChannel(engine, table.X, true, error);
  const std::optional<std::size_t> y = x ? AxisChannel(engine, table.Y, false, error) : x;
  if (!x || !y || !ChooseMixture(table, files, settings, error) ||
      !ChooseFilters(table, engine, settings, error)) {
    return std::nullopt;
  }
  settings.XChannel = *x;
  settings.YChannel = *y;
  settings.Unit.DisplayMode = options.DisplayMode.value_or(sensor::dmAirFuelRatio);
  settings.Unit.FuelType = options.FuelType ? *options.FuelType
                           : files.Mixture  ? LoggedDisplay(*files.Mixture).FuelType
                                            : sensor::ftPetrol;
  settings.Lag = table.Lag;
  settings.MinHits = table.MinHits;
  // The breakpoints are fixed before the target grid is read: its shape is theirs.
  settings.XBins =
      !table.XBins.empty() ? table.XBins : DeriveBins(engine, *x, shift, -Everywhere, Everywhere);
  settings.YBins =
      !table.YBins.empty() ? table.YBins : DeriveBins(engine, *y, shift, -Everywhere, Everywhere);
  if (!ChooseTarget(table, settings, error)) return std::nullopt;
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

// The CSV file written whole or not at all.
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

}  // namespace

TTableOutcome RunTable(const TViewOptions& options, const TTableFiles& files) {
  if (files.Engine == nullptr) {
    return Refused("--table needs an engine log (MLG, MSL or delimited text) among the FILEs");
  }
  if (files.OursGiven > 1) {
    return Refused("--table takes one log of ours beside the engine log, not " +
                   std::to_string(files.OursGiven));
  }
  const TTableOptions& table = options.Table;
  if (!table.CsvPath.isEmpty() && IsLogNotTable(table.CsvPath)) {
    return Refused("--table " + table.CsvPath.toStdString() +
                   " is a log: the table would write over it (--json prints the table)");
  }
  const enginelog::TLog& engine = *files.Engine;
  TTableOutcome outcome;
  TTableInput input;
  input.Engine = &engine;
  input.Mixture = files.Mixture;
  const TAlignment alignment = files.Alignment.value_or(TAlignment{});
  if (files.Mixture != nullptr) input.Shift = EngineShift(*files.Mixture, engine, alignment.Offset);
  if (!alignment.Note.empty()) outcome.Warnings.push_back(alignment.Note);
  std::string error;
  const std::optional<TTableSettings> settings = SettingsOf(options, files, input.Shift, error);
  if (!settings) return Refused(error);
  const TMixtureTable made = BuildMixtureTable(input, *settings);
  if (!made.Error.empty()) {
    outcome.Status = TTableStatus::Failed;
    outcome.Message = made.Error;
    return outcome;
  }
  const TTableDescription description{
      engine.Channels[settings->XChannel].Name, engine.Channels[settings->YChannel].Name,
      settings->Unit.DisplayMode == sensor::dmLambda ? "lambda" : "afr", alignment.Offset,
      alignment.How};
  if (table.CsvPath.isEmpty()) {
    outcome.Output = TableJson(made, description) + "\n";
  } else if (!WriteCsv(table.CsvPath, TableCsv(made, description), outcome.Message)) {
    outcome.Status = TTableStatus::Failed;
  }
  return outcome;
}

}  // namespace viewer
