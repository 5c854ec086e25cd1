// The tune file reader over arbitrary bytes: a tuner's file cut short, from another program, or
// no tune at all; then the table search over what it read, and the copy written with new numbers
// in the fuel table (or else the first numeric constant), as kestview writes a corrected one.
//
// Rules: a file not read says so naming it and holds no constant; a file read holds constants whose
// text spans lie in the file, in order, each numeric one with rows * cols finite values; a table
// found has an axis breakpoint per column and per row, rising but for a repeated end; the copy
// keeps every byte outside the constant's text, reads back, and holds the new values as written.
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "log/Tune.h"
#include "tests/fuzz/FuzzTargets.h"
#include "text/Number.h"

namespace fuzz {

namespace {

constexpr const char* TuneName = "fuzz.msq";

std::optional<std::string> CheckRead(const tune::TTune& tune, std::size_t size) {
  if (!tune.Ok()) {
    if (tune.Error.rfind(std::string(TuneName) + ": ", 0) != 0)
      return "an error not naming the file";
    if (!tune.Constants.empty()) return "an unread tune that holds constants";
    return std::nullopt;
  }
  std::size_t last = 0;
  for (const tune::TConstant& c : tune.Constants) {
    if (c.TextSpan.Begin > c.TextSpan.End || c.TextSpan.End > size) return "a span out of the file";
    if (c.TextSpan.Begin < last) return "spans out of order";
    last = c.TextSpan.End;
    if (c.Numeric) {
      if (c.Values.size() != c.Rows * c.Cols) return "a numeric constant of another shape";
      for (const double v : c.Values) {
        if (!std::isfinite(v)) return "a value that is not finite";
      }
      if (!c.Text.empty()) return "a numeric constant with a text";
    } else if (!c.Values.empty()) {
      return "values in a constant that is not numeric";
    }
  }
  return std::nullopt;
}

bool RisesButForItsEnd(const std::vector<double>& values) {
  std::size_t end = values.size() - 1;
  while (end > 0 && values[end - 1] == values[end]) --end;
  if (values.size() > 1 && end == 0) return false;
  for (std::size_t i = 1; i <= end; ++i) {
    if (!(values[i - 1] < values[i])) return false;
  }
  return true;
}

std::optional<std::string> CheckTable(const std::optional<tune::TTable>& table,
                                      const std::string& error) {
  if (!table) {
    if (error.rfind(std::string(TuneName) + ": ", 0) != 0)
      return "a table refused without the file";
    return std::nullopt;
  }
  if (table->Values.size() != table->Rows * table->Cols) return "a table of another shape";
  if (table->X.size() != table->Cols || table->Y.size() != table->Rows) {
    return "axes that do not fit their table";
  }
  if (!RisesButForItsEnd(table->X) || !RisesButForItsEnd(table->Y)) return "axes that fall";
  return std::nullopt;
}

// A table of `constant` alone, as the writer needs it: its name, shape, digits and place.
tune::TTable TableOf(const tune::TConstant& constant) {
  tune::TTable table;
  table.Name = constant.Name;
  table.Rows = constant.Rows;
  table.Cols = constant.Cols;
  table.Digits = constant.Digits;
  table.Values = constant.Values;
  table.TextSpan = constant.TextSpan;
  table.Line = constant.Line;
  return table;
}

std::optional<std::string> CheckWrite(std::string_view bytes, const tune::TTable& table) {
  const std::vector<double>& old = table.Values;
  std::vector<double> values(old.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = old[i] * 1.07 - 0.3 * static_cast<double>(i % 7);
  }
  std::string error;
  const std::optional<std::string> written =
      tune::WriteMsqWithTable(bytes, TuneName, table, values, error);
  if (!written) {
    // Values far out of range may overflow to infinity and be refused; nothing else is.
    for (const double v : values) {
      if (!std::isfinite(v)) return std::nullopt;
    }
    return "a table refused for writing: " + error;
  }
  const tune::TSpan span = table.TextSpan;
  const std::size_t tail = bytes.size() - span.End;
  if (written->size() < span.Begin + tail ||
      std::string_view(*written).substr(0, span.Begin) != bytes.substr(0, span.Begin) ||
      std::string_view(*written).substr(written->size() - tail) != bytes.substr(span.End)) {
    return "the copy changed bytes outside the table";
  }
  const tune::TTune again = tune::ReadMsq(*written, TuneName);
  if (!again.Ok()) return "the copy does not read: " + again.Error;
  for (const tune::TConstant& c : again.Constants) {
    if (c.TextSpan.Begin != span.Begin) continue;
    if (!c.Numeric || c.Values.size() != values.size()) return "the copy's table lost its shape";
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::optional<double> expected =
          text::ParseNumber(tune::FormatTuneValue(values[i], table.Digits));
      if (!expected || c.Values[i] != *expected) return "the copy holds other values";
    }
    return std::nullopt;
  }
  return "the copy's table is gone";
}

}  // namespace

std::optional<std::string> RunTuneReader(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const tune::TTune tune = tune::ReadMsq(bytes, TuneName);
  if (auto failure = CheckRead(tune, size)) return failure;
  if (!tune.Ok()) return std::nullopt;

  std::string error;
  const std::optional<tune::TTable> fuel = tune::FindFuelTable(tune, error);
  if (auto failure = CheckTable(fuel, error)) return failure;
  if (auto failure = CheckTable(tune::FindTargetTable(tune, error), error)) return failure;
  // The first three numeric constants as a table and its axes, as a user may name them.
  std::vector<const tune::TConstant*> numeric;
  for (const tune::TConstant& c : tune.Constants) {
    if (c.Numeric && numeric.size() < 3) numeric.push_back(&c);
  }
  if (numeric.size() == 3) {
    const auto table =
        tune::FindTable(tune, numeric[0]->Name, numeric[1]->Name, numeric[2]->Name, error);
    if (auto failure = CheckTable(table, error)) return failure;
  }
  // The fuel table where there is one, as kestview writes it; otherwise any numbers.
  if (fuel) return CheckWrite(bytes, *fuel);
  if (!numeric.empty()) return CheckWrite(bytes, TableOf(*numeric[0]));
  return std::nullopt;
}

}  // namespace fuzz
