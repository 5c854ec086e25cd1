// The mixture table as JSON, CSV and tab-separated text, and the reading of typed breakpoints,
// filters and target grids. Numbers are written and read without the machine's locale: a table
// saved on a German desktop opens the same in a spreadsheet anywhere.
#include "viewer/table/MixtureTableText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <cmath>

#include "text/Number.h"
#include "text/Words.h"
#include "viewer/logs/MixtureValue.h"

namespace viewer {

namespace {

std::string_view Trimmed(std::string_view text) { return text::Trim(text, text::WhiteSpace); }

// A finite number written as a program or a user writes it: "14.7", "+3", "1e3", blanks and line
// ends around it, and "14,7" where a comma is a decimal comma (a point still is one there).
std::optional<double> NumberOf(std::string_view text, bool decimalComma) {
  return text::ParseNumber(text, {.Blanks = text::WhiteSpace,
                                  .Plus = true,
                                  .Decimals = decimalComma ? ",." : ".",
                                  .Finite = true});
}

// The shortest text that reads back as `value`.
std::string ShortestText(double value) {
  return QString::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
}

// A cell's number as precise as a reading is worth: six significant digits, and null where there
// is none (JSON has no NaN).
QJsonValue JsonNumber(double value) {
  if (!std::isfinite(value)) return QJsonValue();
  return QString::number(value, 'g', 6).toDouble();
}

QJsonObject AxisJson(const std::string& channel, const TBins& bins) {
  QJsonArray values;
  for (const double bin : bins) values.append(bin);
  return QJsonObject{{"channel", QString::fromStdString(channel)}, {"bins", values}};
}

// A cell's text in a grid: empty without enough hits or without the quantity.
std::string CellText(const TMixtureTable& table, std::size_t x, std::size_t y,
                     TTableQuantity quantity, bool lambda) {
  if (!table.Shown(x, y)) return {};
  const TTableCell& cell = table.At(x, y);
  double value = cell.Mean;
  int decimals = lambda ? 3 : 2;
  if (quantity == TTableQuantity::Hits) return std::to_string(cell.Hits);
  if (quantity == TTableQuantity::Correction) value = cell.Correction, decimals = 3;
  if (quantity == TTableQuantity::Sd) value = cell.Sd, decimals = lambda ? 4 : 3;
  if (!std::isfinite(value)) return {};
  return QString::number(value, 'f', decimals).toStdString();
}

// A field of CSV: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string field = "\"";
  for (const char c : text) field += c == '"' ? std::string("\"\"") : std::string(1, c);
  return field + "\"";
}

// How a grid of text is laid out.
struct TGridLayout {
  bool WithAxes = true;       // the corner and the breakpoints
  bool HighestFirst = false;  // rows from the highest y breakpoint down
  char Separator = ',';
  const char* LineEnd = "\r\n";
  char DecimalSeparator = '.';
  std::string (*Field)(const std::string&) = nullptr;  // the corner's text as a field
};

// A number's text with the layout's decimal separator.
std::string WithDecimal(std::string text, char decimalSeparator) {
  std::replace(text.begin(), text.end(), '.', decimalSeparator);
  return text;
}

std::string Grid(const TMixtureTable& table, const TTableDescription& description,
                 TTableQuantity quantity, const TGridLayout& layout) {
  const bool lambda = description.Unit == "lambda";
  const char point = layout.DecimalSeparator;
  std::string text;
  if (layout.WithAxes) {
    text += layout.Field(description.YChannel + " \\ " + description.XChannel);
    for (const double bin : table.XBins)
      text += layout.Separator + WithDecimal(ShortestText(bin), point);
    text += layout.LineEnd;
  }
  for (std::size_t row = 0; row < table.Rows(); ++row) {
    const std::size_t y = layout.HighestFirst ? table.Rows() - 1 - row : row;
    if (layout.WithAxes)
      text += WithDecimal(ShortestText(table.YBins[y]), point) + layout.Separator;
    for (std::size_t x = 0; x < table.Columns(); ++x) {
      if (x > 0) text += layout.Separator;
      text += WithDecimal(CellText(table, x, y, quantity, lambda), point);
    }
    text += layout.LineEnd;
  }
  return text;
}

// A field of tab-separated text: a tab or line end inside it would break the grid.
std::string TsvField(const std::string& text) {
  std::string field = text;
  std::replace_if(
      field.begin(), field.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return field;
}

// The numbers of one grid line from cell `first` on; empty cells are NaN.
bool GridNumbers(const std::vector<std::string>& cells, std::size_t first, bool decimalComma,
                 std::size_t line, std::vector<double>& out, std::string& error) {
  for (std::size_t i = first; i < cells.size(); ++i) {
    if (Trimmed(cells[i]).empty()) {
      out.push_back(std::numeric_limits<double>::quiet_NaN());
      continue;
    }
    const std::optional<double> value = NumberOf(cells[i], decimalComma);
    if (!value) {
      error = "line " + std::to_string(line + 1) + ", cell " + std::to_string(i + 1) + ": " +
              std::string(Trimmed(cells[i])) + " is not a number";
      return false;
    }
    out.push_back(*value);
  }
  return true;
}

// "ROWS rows of COLUMNS cells" for the messages.
std::string ShapeText(std::size_t rows, std::size_t columns) {
  return std::to_string(rows) + (rows == 1 ? " row of " : " rows of ") + std::to_string(columns) +
         (columns == 1 ? " cell" : " cells");
}

// "CH=A" or "CH=A<separator>B": a channel of `log`, letter case ignored, and the two parts.
struct TFilterParts {
  std::size_t Channel = 0;
  std::string_view Value;  // all after the '='
  std::string_view First;
  std::string_view Second;  // empty without the separator
  bool Separated = false;
};

std::optional<TFilterParts> FilterPartsOf(std::string_view text, const enginelog::TLog& log,
                                          char separator, const char* form, std::string& error) {
  const std::size_t equals = text.rfind('=');
  if (equals == std::string_view::npos) {
    error = std::string(form) + " is wanted, not " + std::string(text);
    return std::nullopt;
  }
  const std::string_view name = Trimmed(text.substr(0, equals));
  const int index = log.FindChannel(name);
  if (index < 0) {
    error = log.Name + " has no channel " + std::string(name);
    return std::nullopt;
  }
  TFilterParts parts;
  parts.Channel = static_cast<std::size_t>(index);
  parts.Value = text.substr(equals + 1);
  const std::size_t at = parts.Value.find(separator);
  parts.Separated = at != std::string_view::npos;
  parts.First = Trimmed(parts.Value.substr(0, at));
  if (parts.Separated) parts.Second = Trimmed(parts.Value.substr(at + 1));
  return parts;
}

}  // namespace

std::string TableJson(const TMixtureTable& table, const TTableDescription& description) {
  QJsonArray rows;
  for (std::size_t y = 0; y < table.Rows(); ++y) {
    QJsonArray row;
    for (std::size_t x = 0; x < table.Columns(); ++x) {
      if (!table.Shown(x, y)) {
        row.append(QJsonValue());
        continue;
      }
      const TTableCell& cell = table.At(x, y);
      row.append(QJsonObject{{"mean", JsonNumber(cell.Mean)},
                             {"hits", static_cast<double>(cell.Hits)},
                             {"sd", JsonNumber(cell.Sd)},
                             {"correction", JsonNumber(cell.Correction)}});
    }
    rows.append(row);
  }
  const QJsonObject leftOut{{"no_mixture", static_cast<double>(table.NoMixture)},
                            {"implausible", static_cast<double>(table.Implausible)},
                            {"filtered", static_cast<double>(table.Unsteady)},
                            {"outside_range", static_cast<double>(table.OutOfRange)}};
  const QJsonObject object{{"x", AxisJson(description.XChannel, table.XBins)},
                           {"y", AxisJson(description.YChannel, table.YBins)},
                           {"unit", QString::fromStdString(description.Unit)},
                           {"offset_s", JsonNumber(description.Offset)},
                           {"align", QString::fromStdString(description.Align)},
                           {"cells", rows},
                           {"records", static_cast<double>(table.Samples)},
                           {"counted", static_cast<double>(table.Counted)},
                           {"left_out", leftOut}};
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string TableStatusText(const TMixtureTable& table) {
  if (!table.Error.empty()) return table.Error;
  const bool none = !table.AnyShown();
  if (table.Samples == 0) return "No cells: no engine record in range has values on both axes";
  std::string why;
  const auto reason = [&](std::size_t count, const std::string& what) {
    if (count > 0) why += (why.empty() ? "" : ", ") + std::to_string(count) + " " + what;
  };
  reason(table.Implausible, "with an implausible mixture (outside " + PlausibleRangeText() + ")");
  reason(table.NoMixture, "without a mixture at their time");
  reason(table.Unsteady, "not steady");
  reason(table.OutOfRange, "outside the range filter");
  const std::string records = std::to_string(table.Samples) + " engine records in range";
  // Every record left out: the reasons are all there is to say.
  if (table.Counted == 0) return "No cells: all " + records + " were left out: " + why;
  std::string text =
      (none ? "No cells: " : "") + records + ", " + std::to_string(table.Counted) + " counted";
  if (!why.empty()) text += "; " + std::to_string(table.LeftOut()) + " left out: " + why;
  const std::string minHits = std::to_string(table.MinHits);
  text += none ? "; no cell has the " + minHits + " hits it needs"
               : "; cells with fewer than " + minHits + " hits are empty";
  return text;
}

std::string TableCsv(const TMixtureTable& table, const TTableDescription& description,
                     TTableQuantity quantity) {
  return Grid(table, description, quantity, {true, false, ',', "\r\n", '.', CsvField});
}

std::string TableTsv(const TMixtureTable& table, const TTableDescription& description,
                     TTableQuantity quantity, bool withAxes, char decimalSeparator) {
  return Grid(table, description, quantity,
              {withAxes, true, '\t', "\n", decimalSeparator, TsvField});
}

std::optional<TBins> ParseBins(std::string_view text, std::string& error) {
  const bool decimalComma = text.find_first_of("\t;\r\n") != std::string_view::npos;
  TBins bins;
  for (const std::string_view part : text::Split(text, decimalComma ? " \t;\r\n" : " ,\t;\r\n")) {
    if (part.empty()) continue;
    const std::optional<double> value = NumberOf(part, decimalComma);
    if (!value) {
      error = std::string(part) + " is not a number";
      return std::nullopt;
    }
    if (!bins.empty() && *value <= bins.back()) {
      error =
          "breakpoints must rise: " + std::string(part) + " follows " + ShortestText(bins.back());
      return std::nullopt;
    }
    bins.push_back(*value);
  }
  if (bins.empty()) error = "no breakpoints";
  if (bins.empty()) return std::nullopt;
  return bins;
}

std::optional<std::vector<double>> ParseTargetGrid(std::string_view text, std::size_t columns,
                                                   std::size_t rows, std::string& error) {
  const char separator = text.find('\t') != std::string_view::npos  ? '\t'
                         : text.find(';') != std::string_view::npos ? ';'
                                                                    : ',';
  // A spreadsheet may open its CSV with a byte order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::vector<std::string>> lines;
  for (std::string_view line : text::Split(text, "\n")) {
    // Only the line end goes: leading and trailing separators are empty cells.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!Trimmed(line).empty()) lines.push_back(text::SplitQuoted(line, separator));
  }
  if (lines.empty()) {
    error = "the target grid is empty, the table needs " + ShapeText(rows, columns);
    return std::nullopt;
  }
  // Without breakpoints the grid is rows x columns; with them one more of each.
  const bool withAxes = lines.size() == rows + 1;
  const std::size_t width = withAxes ? columns + 1 : columns;
  const auto ragged = std::find_if(lines.begin(), lines.end(),
                                   [&](const auto& line) { return line.size() != width; });
  if ((lines.size() != rows && !withAxes) || ragged != lines.end()) {
    const std::size_t found = (ragged != lines.end() ? *ragged : lines.front()).size();
    error = "the target grid has " + ShapeText(lines.size(), found) + ", the table needs " +
            ShapeText(rows, columns) + " (or " + ShapeText(rows + 1, columns + 1) +
            " with the breakpoints)";
    return std::nullopt;
  }
  std::vector<double> values;
  std::vector<double> yBins;
  for (std::size_t i = withAxes ? 1 : 0; i < lines.size(); ++i) {
    if (!GridNumbers(lines[i], withAxes ? 1 : 0, separator != ',', i, values, error)) {
      return std::nullopt;
    }
    if (!withAxes) continue;
    const std::optional<double> bin = NumberOf(lines[i][0], separator != ',');
    if (!bin) {
      error = "line " + std::to_string(i + 1) + " does not begin with its breakpoint";
      return std::nullopt;
    }
    yBins.push_back(*bin);
  }
  // Tuning software lists the highest load first: turned round, the rows rise as the table's.
  if (yBins.size() > 1 && yBins.front() > yBins.back()) {
    for (std::size_t y = 0; y < rows / 2; ++y) {
      std::swap_ranges(values.begin() + y * columns, values.begin() + (y + 1) * columns,
                       values.begin() + (rows - 1 - y) * columns);
    }
  }
  return values;
}

std::optional<TFuelGrid> ParseFuelGrid(std::string_view text, std::string& error) {
  const char separator = text.find('\t') != std::string_view::npos  ? '\t'
                         : text.find(';') != std::string_view::npos ? ';'
                                                                    : ',';
  std::string_view body = text;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  std::vector<std::vector<std::string>> lines;
  for (std::string_view line : text::Split(body, "\n")) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!Trimmed(line).empty()) lines.push_back(text::SplitQuoted(line, separator));
  }
  if (lines.size() < 2 || lines.front().size() < 2) {
    error =
        "a fuel table needs a line of breakpoints and a line per load, each beginning with its "
        "breakpoint";
    return std::nullopt;
  }
  TFuelGrid grid;
  const auto axis = [&](TBins& bins, const std::vector<std::string>& cells, const char* which) {
    for (const std::string& cell : cells) {
      const std::optional<double> bin = NumberOf(cell, separator != ',');
      if (!bin) {
        error = std::string("the ") + which + " breakpoint '" + cell + "' is not a number";
        return false;
      }
      bins.push_back(*bin);
    }
    return true;
  };
  if (!axis(grid.X, {lines.front().begin() + 1, lines.front().end()}, "first line's")) {
    return std::nullopt;
  }
  std::vector<std::string> firsts;
  for (std::size_t i = 1; i < lines.size(); ++i) firsts.push_back(lines[i].front());
  if (!axis(grid.Y, firsts, "load")) return std::nullopt;
  if (grid.Y.size() > 1 && grid.Y.front() > grid.Y.back())
    std::reverse(grid.Y.begin(), grid.Y.end());
  for (const TBins* bins : {&grid.X, &grid.Y}) {
    // Rising, but a tune may repeat its last breakpoint ("6600 6600").
    for (std::size_t i = 1; i < bins->size(); ++i) {
      if ((*bins)[i] < (*bins)[i - 1] ||
          ((*bins)[i] == (*bins)[i - 1] && i + 1 < bins->size() && (*bins)[i + 1] != (*bins)[i])) {
        error = "the breakpoints must rise";
        return std::nullopt;
      }
    }
  }
  std::optional<std::vector<double>> values =
      ParseTargetGrid(body, grid.X.size(), grid.Y.size(), error);
  if (!values) return std::nullopt;
  grid.Values = std::move(*values);
  return grid;
}

std::optional<TSteadyFilter> ParseSteadyFilter(std::string_view text, const enginelog::TLog& log,
                                               std::string& error) {
  const std::optional<TFilterParts> parts =
      FilterPartsOf(text, log, ',', "CHANNEL=RATE[,SETTLE]", error);
  if (!parts) return std::nullopt;
  TSteadyFilter filter;
  filter.Channel = parts->Channel;
  const std::optional<double> rate = NumberOf(parts->First, false);
  const std::optional<double> settle =
      parts->Separated ? NumberOf(parts->Second, false) : filter.Settle;
  if (!rate || *rate <= 0 || !settle || *settle < 0) {
    error = "a rate above 0 and settling seconds of 0 or more are wanted, not " +
            std::string(parts->Value);
    return std::nullopt;
  }
  filter.Rate = *rate;
  filter.Settle = *settle;
  return filter;
}

std::optional<std::pair<double, double>> ParseRangeEnds(std::string_view low, std::string_view high,
                                                        std::string& error) {
  const auto end = [](std::string_view text, double open) -> std::optional<double> {
    return Trimmed(text).empty() ? open : NumberOf(text, true);
  };
  const std::optional<double> from = end(low, -std::numeric_limits<double>::infinity());
  const std::optional<double> to = end(high, std::numeric_limits<double>::infinity());
  if ((Trimmed(low).empty() && Trimmed(high).empty()) || !from || !to || *from > *to) {
    error = "LO:HI (either end may be left out, LO not above HI) is wanted, not " +
            std::string(low) + ":" + std::string(high);
    return std::nullopt;
  }
  return std::pair{*from, *to};
}

std::optional<TRangeParts> SplitRangeFilter(std::string_view text, const enginelog::TLog& log,
                                            std::string& error) {
  const std::optional<TFilterParts> parts = FilterPartsOf(text, log, ':', "CHANNEL=LO:HI", error);
  if (!parts) return std::nullopt;
  if (!parts->Separated) {
    error = "LO:HI (either end may be left out, LO not above HI) is wanted, not " +
            std::string(parts->Value);
    return std::nullopt;
  }
  if (!ParseRangeEnds(parts->First, parts->Second, error)) return std::nullopt;
  return TRangeParts{parts->Channel, std::string(parts->First), std::string(parts->Second)};
}

std::optional<TRangeFilter> ParseRangeFilter(std::string_view text, const enginelog::TLog& log,
                                             std::string& error) {
  const std::optional<TRangeParts> parts = SplitRangeFilter(text, log, error);
  if (!parts) return std::nullopt;
  const auto ends = ParseRangeEnds(parts->Low, parts->High, error);
  if (!ends) return std::nullopt;
  return TRangeFilter{parts->Channel, ends->first, ends->second};
}

}  // namespace viewer
