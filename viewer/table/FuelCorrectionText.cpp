// The corrected fuel table's texts: see FuelCorrectionText.h.
#include "viewer/table/FuelCorrectionText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QString>
#include <cmath>

namespace viewer {

namespace {

// A value as short as reads back, with `decimalSeparator`; empty for none.
std::string ValueText(double value, char decimalSeparator = '.') {
  if (!std::isfinite(value)) return {};
  std::string text = QString::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
  if (decimalSeparator != '.') {
    for (char& c : text) {
      if (c == '.') c = decimalSeparator;
    }
  }
  return text;
}

QJsonValue JsonValue(double value) {
  if (!std::isfinite(value)) return QJsonValue();
  // Six significant digits: a fuel table value is never known better.
  return QString::number(value, 'g', 6).toDouble();
}

// A grid as rows of the rising y breakpoints.
template <typename TCell>
QJsonArray Rows(const TFuelGrid& shape, const TCell& cell) {
  QJsonArray rows;
  for (std::size_t y = 0; y < shape.Rows(); ++y) {
    QJsonArray row;
    for (std::size_t x = 0; x < shape.Columns(); ++x) row.append(cell(y * shape.Columns() + x));
    rows.append(row);
  }
  return rows;
}

QJsonObject Axis(const std::string& channel, const TBins& bins) {
  QJsonArray values;
  for (const double bin : bins) values.append(bin);
  return QJsonObject{{"channel", QString::fromStdString(channel)}, {"bins", values}};
}

}  // namespace

std::string ProposalJson(const TFuelProposal& proposal, const TProposalDescription& description) {
  const TFuelGrid& grid = proposal.Current;
  const TLeftOut& left = proposal.LeftOut;
  const QJsonObject leftOut{{"no_mixture", static_cast<double>(left.NoMixture)},
                            {"implausible", static_cast<double>(left.Implausible)},
                            {"filtered", static_cast<double>(left.Filtered)},
                            {"outside_range", static_cast<double>(left.OutsideRange)},
                            {"warmup", static_cast<double>(left.Warmup)},
                            {"accel", static_cast<double>(left.Accel)},
                            {"fuel_cut", static_cast<double>(left.FuelCut)},
                            {"no_target", static_cast<double>(left.NoTarget)},
                            {"no_fuel_value", static_cast<double>(left.NoFuelValue)}};
  const QJsonObject object{
      {"x", Axis(description.XChannel, grid.X)},
      {"y", Axis(description.YChannel, grid.Y)},
      {"source", QString::fromStdString(description.Source)},
      {"target", QString::fromStdString(description.Target)},
      {"current", Rows(grid, [&](std::size_t c) { return JsonValue(grid.Values[c]); })},
      {"proposed", Rows(grid, [&](std::size_t c) { return JsonValue(proposal.Proposed[c]); })},
      {"weight", Rows(grid, [&](std::size_t c) { return JsonValue(proposal.Weight[c]); })},
      {"changed", Rows(grid, [&](std::size_t c) { return QJsonValue(bool(proposal.Changed[c])); })},
      {"used", static_cast<double>(proposal.Used)},
      {"left_out", leftOut}};
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string ProposalStatusText(const TFuelProposal& proposal) {
  if (!proposal.Error.empty()) return proposal.Error;
  std::size_t changed = 0;
  for (const bool c : proposal.Changed) changed += c ? 1 : 0;
  std::string text = std::to_string(proposal.Used) + " records used, " + std::to_string(changed) +
                     (changed == 1 ? " cell changed" : " cells changed");
  if (proposal.Estimated) text += " (current table estimated from the logged VE)";
  const TLeftOut& left = proposal.LeftOut;
  std::string why;
  const auto reason = [&](std::size_t count, const char* what) {
    if (count > 0) why += (why.empty() ? "" : ", ") + std::to_string(count) + " " + what;
  };
  reason(left.NoMixture, "without a mixture");
  reason(left.Implausible, "with an implausible mixture");
  reason(left.Filtered, "not steady");
  reason(left.OutsideRange, "outside the range");
  reason(left.Warmup, "in warm-up");
  reason(left.Accel, "accelerating");
  reason(left.FuelCut, "in fuel cut");
  reason(left.NoTarget, "without a target");
  reason(left.NoFuelValue, "without a VE");
  if (!why.empty()) text += "; left out: " + why;
  return text;
}

std::string ProposalCsv(const TFuelProposal& proposal, const TProposalDescription& description) {
  const TFuelGrid& grid = proposal.Current;
  std::string text = "\"" + description.YChannel + " \\ " + description.XChannel + "\"";
  for (const double bin : grid.X) text += "," + ValueText(bin);
  text += "\r\n";
  for (std::size_t y = 0; y < grid.Rows(); ++y) {
    text += ValueText(grid.Y[y]);
    for (std::size_t x = 0; x < grid.Columns(); ++x) {
      text += "," + ValueText(proposal.Proposed[y * grid.Columns() + x]);
    }
    text += "\r\n";
  }
  return text;
}

std::string ProposalTsv(const TFuelProposal& proposal, bool withAxes, char decimalSeparator) {
  const TFuelGrid& grid = proposal.Current;
  std::string text;
  if (withAxes) {
    for (const double bin : grid.X) text += "\t" + ValueText(bin, decimalSeparator);
    text += "\n";
  }
  for (std::size_t row = grid.Rows(); row-- > 0;) {
    std::string line = withAxes ? ValueText(grid.Y[row], decimalSeparator) : std::string();
    for (std::size_t x = 0; x < grid.Columns(); ++x) {
      if (withAxes || x > 0) line += "\t";
      line += ValueText(proposal.Proposed[row * grid.Columns() + x], decimalSeparator);
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace viewer
