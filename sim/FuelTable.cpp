// The engine computer's tables, their lookup, and the reading of a table grid from CSV text.
#include "sim/FuelTable.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

#include "log/Tune.h"
#include "text/Number.h"
#include "text/Words.h"

namespace sim {

namespace {

// Where `value` lies on `bins`: the lower cell's index and the share of the way to the next one,
// 0 beyond the first breakpoint and 1 beyond the last (the edge cells hold there).
struct TBinPlace {
  std::size_t Low = 0;
  double Weight = 0;
};

TBinPlace PlaceOn(const std::vector<double>& bins, double value) {
  if (bins.size() < 2 || !(value > bins.front())) return {0, 0};
  if (value >= bins.back()) return {bins.size() - 2, 1};
  const auto above = std::upper_bound(bins.begin(), bins.end(), value);
  const auto low = static_cast<std::size_t>(above - bins.begin()) - 1;
  return {low, (value - bins[low]) / (bins[low + 1] - bins[low])};
}

const std::vector<double> BuiltInRpm = {500,  800,  1100, 1400, 1700, 2000, 2400, 2800,
                                        3200, 3600, 4000, 4500, 5000, 5500, 6200, 7000};
const std::vector<double> BuiltInMap = {20, 25, 30, 35, 40, 45, 50, 55,
                                        60, 65, 70, 75, 80, 85, 90, 100};

// clang-format off
const std::vector<double> BuiltInVe = {
    42, 42, 43, 44, 45, 47, 49, 52, 54, 56, 58, 59, 58, 57, 53, 48,  // 20 kPa
    44, 44, 45, 46, 48, 49, 52, 54, 57, 59, 61, 62, 61, 60, 56, 51,  // 25
    46, 46, 47, 48, 50, 51, 54, 57, 59, 62, 63, 64, 64, 62, 58, 53,  // 30
    47, 48, 49, 50, 52, 53, 56, 59, 62, 64, 66, 67, 66, 64, 60, 55,  // 35
    49, 50, 51, 52, 53, 55, 58, 61, 64, 66, 68, 69, 69, 67, 62, 57,  // 40
    51, 51, 52, 54, 55, 57, 60, 63, 66, 68, 70, 72, 71, 69, 64, 58,  // 45
    52, 53, 54, 55, 57, 59, 62, 65, 68, 71, 73, 74, 73, 71, 66, 60,  // 50
    54, 55, 56, 57, 59, 61, 64, 67, 70, 73, 75, 76, 75, 73, 68, 62,  // 55
    55, 56, 57, 59, 60, 62, 65, 69, 72, 75, 77, 78, 78, 75, 70, 64,  // 60
    57, 58, 59, 60, 62, 64, 67, 71, 74, 77, 79, 80, 80, 78, 72, 66,  // 65
    58, 59, 60, 62, 64, 66, 69, 72, 76, 79, 81, 83, 82, 80, 74, 67,  // 70
    60, 61, 62, 64, 65, 68, 71, 74, 78, 81, 83, 85, 84, 82, 76, 69,  // 75
    61, 62, 64, 65, 67, 69, 73, 76, 80, 83, 85, 87, 86, 84, 78, 71,  // 80
    63, 64, 65, 67, 69, 71, 74, 78, 82, 85, 87, 89, 88, 86, 80, 73,  // 85
    64, 65, 67, 68, 70, 73, 76, 80, 84, 87, 89, 91, 90, 88, 82, 74,  // 90
    67, 68, 70, 71, 73, 76, 79, 83, 87, 91, 93, 95, 94, 92, 85, 78,  // 100
};

const std::vector<double> BuiltInAfrTarget = {
    14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.8, 14.9, 14.9, 14.9, 14.9, 14.8, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.9, 15.2, 15.2, 15.2, 15.2, 14.9, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.9, 15.2, 15.2, 15.2, 15.2, 14.9, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.9, 15.2, 15.2, 15.2, 15.2, 14.9, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.8, 14.9, 14.9, 14.9, 14.9, 14.8, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7, 14.7,
    14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5, 14.5,
    14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1, 14.1,
    13.6, 13.6, 13.6, 13.6, 13.6, 13.6, 13.6, 13.6, 13.6, 13.6, 13.6, 13.6, 13.5, 13.5, 13.5, 13.4,
    13.1, 13.1, 13.1, 13.1, 13.1, 13.1, 13.1, 13.1, 13.1, 13.1, 13.1, 13.0, 13.0, 12.9, 12.9, 12.8,
    12.7, 12.7, 12.7, 12.7, 12.7, 12.7, 12.7, 12.7, 12.7, 12.7, 12.7, 12.6, 12.6, 12.5, 12.4, 12.4,
    12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.4, 12.3, 12.2, 12.2,
    12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.5, 12.4, 12.3, 12.2, 12.2,
};
// clang-format on

std::string Place(std::size_t line, std::size_t cell) {
  return "line " + std::to_string(line + 1) + ", cell " + std::to_string(cell + 1);
}

// The cell's number, NaN for an empty cell where `emptyAllowed`; nothing, with the reason, else.
std::optional<double> CellNumber(const std::string& cell, bool decimalComma, bool emptyAllowed,
                                 std::size_t line, std::size_t index, std::string& error) {
  if (text::Trim(cell, text::WhiteSpace).empty()) {
    if (emptyAllowed) return std::numeric_limits<double>::quiet_NaN();
    error = Place(line, index) + " is empty: a breakpoint is wanted";
    return std::nullopt;
  }
  const std::optional<double> value =
      text::ParseNumber(cell, {.Blanks = text::WhiteSpace,
                               .Plus = true,
                               .Decimals = decimalComma ? ",." : ".",
                               .Finite = true});
  if (!value)
    error = Place(line, index) + ": " + std::string(text::Trim(cell, text::WhiteSpace)) +
            " is not a number";
  return value;
}

}  // namespace

double TFuelTable::At(double rpm, double mapKpa) const {
  const TBinPlace x = PlaceOn(RpmBins, rpm);
  const TBinPlace y = PlaceOn(MapBins, mapKpa);
  const std::size_t columns = RpmBins.size();
  const auto cell = [&](std::size_t dx, std::size_t dy) {
    const std::size_t cx = std::min(x.Low + dx, columns - 1);
    const std::size_t cy = std::min(y.Low + dy, MapBins.size() - 1);
    return Values[cy * columns + cx];
  };
  const double low = cell(0, 0) + (cell(1, 0) - cell(0, 0)) * x.Weight;
  const double high = cell(0, 1) + (cell(1, 1) - cell(0, 1)) * x.Weight;
  return low + (high - low) * y.Weight;
}

TFuelTable TFuelTable::Uniform(double value) { return {{0}, {0}, {value}}; }

const TFuelTable& BuiltInVeTable() {
  static const TFuelTable table{BuiltInRpm, BuiltInMap, BuiltInVe};
  return table;
}

const TFuelTable& BuiltInAfrTargetTable() {
  static const TFuelTable table{BuiltInRpm, BuiltInMap, BuiltInAfrTarget};
  return table;
}

std::optional<TFuelTable> ParseFuelTableCsv(std::string_view text, double low, double high,
                                            std::string& error) {
  const char separator = text.find('\t') != std::string_view::npos  ? '\t'
                         : text.find(';') != std::string_view::npos ? ';'
                                                                    : ',';
  const bool decimalComma = separator != ',';
  // A spreadsheet may open its CSV with a byte order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Blank lines are passed over, but the numbers in messages are the file's own.
  std::vector<std::pair<std::size_t, std::vector<std::string>>> lines;
  std::size_t number = 0;
  for (std::string_view line : text::Split(text, "\n")) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!text::Trim(line, text::WhiteSpace).empty())
      lines.emplace_back(number, text::SplitQuoted(line, separator));
    ++number;
  }
  if (lines.size() < 2 || lines.front().second.size() < 2) {
    error =
        "a grid needs a line of rpm breakpoints after a corner cell, then a line per MAP "
        "breakpoint";
    return std::nullopt;
  }
  TFuelTable table;
  const auto& [headLine, head] = lines.front();
  for (std::size_t i = 1; i < head.size(); ++i) {
    const std::optional<double> bin = CellNumber(head[i], decimalComma, false, headLine, i, error);
    if (!bin) return std::nullopt;
    if (!table.RpmBins.empty() && !(*bin > table.RpmBins.back())) {
      error = Place(headLine, i) + ": the rpm breakpoints must rise";
      return std::nullopt;
    }
    table.RpmBins.push_back(*bin);
  }
  bool anyValue = false;
  for (std::size_t row = 1; row < lines.size(); ++row) {
    const auto& [line, cells] = lines[row];
    if (cells.size() != head.size()) {
      error = "line " + std::to_string(line + 1) + " has " + std::to_string(cells.size()) +
              " cells, the first line " + std::to_string(head.size());
      return std::nullopt;
    }
    const std::optional<double> bin = CellNumber(cells[0], decimalComma, false, line, 0, error);
    if (!bin) return std::nullopt;
    table.MapBins.push_back(*bin);
    for (std::size_t i = 1; i < cells.size(); ++i) {
      const std::optional<double> value = CellNumber(cells[i], decimalComma, true, line, i, error);
      if (!value) return std::nullopt;
      if (!std::isnan(*value) && !(*value >= low && *value <= high)) {
        std::ostringstream message;
        message << Place(line, i) << ": " << *value << " lies outside " << low << " to " << high;
        error = message.str();
        return std::nullopt;
      }
      anyValue |= !std::isnan(*value);
      table.Values.push_back(*value);
    }
  }
  // Tuning software lists the highest load first: turned round, the rows rise.
  std::vector<double>& map = table.MapBins;
  const std::size_t rows = map.size();
  const std::size_t columns = table.RpmBins.size();
  if (rows > 1 && map.front() > map.back()) {
    std::reverse(map.begin(), map.end());
    for (std::size_t y = 0; y < rows / 2; ++y) {
      std::swap_ranges(
          table.Values.begin() + static_cast<std::ptrdiff_t>(y * columns),
          table.Values.begin() + static_cast<std::ptrdiff_t>((y + 1) * columns),
          table.Values.begin() + static_cast<std::ptrdiff_t>((rows - 1 - y) * columns));
    }
  }
  if (std::adjacent_find(map.begin(), map.end(), std::greater_equal<>()) != map.end()) {
    error = "the MAP breakpoints (the first cell of each line) must rise or fall throughout";
    return std::nullopt;
  }
  if (!anyValue) {
    error = "the grid has no value in any cell";
    return std::nullopt;
  }
  return table;
}

std::optional<TFuelTable> ReadFuelTableCsv(const std::string& path, double low, double high,
                                           std::string& error) {
  std::error_code folderError;
  if (std::filesystem::is_directory(path, folderError)) {
    error = path + ": is a folder";
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": " + std::generic_category().message(errno);
    return std::nullopt;
  }
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  std::optional<TFuelTable> table = ParseFuelTableCsv(content.str(), low, high, error);
  if (!table) error = path + ": " + error;
  return table;
}

void FillEmptyCells(TFuelTable& table, const TFuelTable& from) {
  const std::size_t columns = table.RpmBins.size();
  for (std::size_t i = 0; i < table.Values.size(); ++i) {
    if (std::isnan(table.Values[i])) {
      table.Values[i] = from.At(table.RpmBins[i % columns], table.MapBins[i / columns]);
    }
  }
}

std::optional<TFuelTable> ReadFuelTableMsq(const std::string& path, double low, double high,
                                           std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  const tune::TTune msq = tune::ReadMsq(bytes.str(), path);
  if (!msq.Ok()) {
    error = msq.Error;
    return std::nullopt;
  }
  std::string why;
  const std::optional<tune::TTable> found = tune::FindFuelTable(msq, why);
  if (!found) {
    error = path + ": " + why;
    return std::nullopt;
  }
  // The lookup wants rising breakpoints: a repeated end is one breakpoint.
  const auto kept = [](const std::vector<double>& bins) {
    std::size_t n = bins.size();
    while (n > 1 && bins[n - 1] == bins[n - 2]) --n;
    return n;
  };
  const std::size_t cols = kept(found->X);
  const std::size_t rows = kept(found->Y);
  TFuelTable table;
  table.RpmBins.assign(found->X.begin(), found->X.begin() + static_cast<long>(cols));
  table.MapBins.assign(found->Y.begin(), found->Y.begin() + static_cast<long>(rows));
  for (std::size_t y = 0; y < rows; ++y) {
    for (std::size_t x = 0; x < cols; ++x) {
      const double value = found->At(y, x);
      if (!(value >= low && value <= high)) {
        error = path + ": " + found->Name + " holds " + std::to_string(value) + ", outside " +
                std::to_string(low) + " to " + std::to_string(high);
        return std::nullopt;
      }
      table.Values.push_back(value);
    }
  }
  return table;
}

namespace {

// One constant of an MSQ tune: a table of rows x cols, or an axis of rows.
std::string MsqConstant(const char* name, const char* units, std::size_t rows, std::size_t cols,
                        const std::vector<double>& values, int digits) {
  std::ostringstream text;
  text << "    <constant cols=\"" << cols << "\" digits=\"" << digits << "\" name=\"" << name
       << "\" rows=\"" << rows << "\" units=\"" << units << "\">\n";
  text.setf(std::ios::fixed);
  text.precision(digits);
  for (std::size_t r = 0; r < rows; ++r) {
    text << "         ";
    for (std::size_t c = 0; c < cols; ++c) text << (c > 0 ? " " : "") << values[r * cols + c];
    text << "\n";
  }
  text << "      </constant>\n";
  return text.str();
}

}  // namespace

std::string TuneMsqText(const TFuelTable& ve, const TFuelTable& afrTarget) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
      "<msq>\n"
      "  <bibliography author=\"kestsim\" writeDate=\"\"/>\n"
      "  <versionInfo fileFormat=\"5.0\" nPages=\"1\" signature=\"kestsim engine\"/>\n"
      "  <page number=\"0\">\n";
  text += MsqConstant("veTable", "%", ve.MapBins.size(), ve.RpmBins.size(), ve.Values, 1);
  text += MsqConstant("rpmBins", "RPM", ve.RpmBins.size(), 1, ve.RpmBins, 0);
  text += MsqConstant("fuelLoadBins", "kPa", ve.MapBins.size(), 1, ve.MapBins, 0);
  text += MsqConstant("afrTable", "AFR", afrTarget.MapBins.size(), afrTarget.RpmBins.size(),
                      afrTarget.Values, 1);
  text += MsqConstant("rpmBinsAFR", "RPM", afrTarget.RpmBins.size(), 1, afrTarget.RpmBins, 0);
  text += MsqConstant("loadBinsAFR", "kPa", afrTarget.MapBins.size(), 1, afrTarget.MapBins, 0);
  text += "  </page>\n</msq>\n";
  return text;
}

}  // namespace sim
