// A tuner's tune file (MSQ): an XML file whose <msq> root holds <page>s of named <constant>s, each
// a number, a text or a table of numbers. Read whole into a TTune that remembers where each
// constant's text lies, so that the fuel table can be found with its axes and a copy of the file
// written with only that table's numbers changed. Namespace `tune`: a tune is no log, but its
// format is read and written here with the others.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tune {

// Bytes [Begin, End) of the file.
struct TSpan {
  std::size_t Begin = 0;
  std::size_t End = 0;
  bool operator==(const TSpan&) const = default;
};

struct TConstant {
  std::string Name;
  std::string Units;  // empty without a units attribute
  // The shape the attributes give; 1 where an attribute is missing (a single value).
  std::size_t Rows = 1;
  std::size_t Cols = 1;
  std::optional<int> Digits;  // decimals the file keeps, where it says
  // Every word of the text is a number (a C number: "-1.5e2" is one, "1,5" is not: the format
  // writes a point, so a comma marks no decimals). Then Values holds them as written, Rows * Cols
  // of them, row after row; otherwise Values is empty and Text holds the text.
  bool Numeric = false;
  std::vector<double> Values;
  // A constant that is not Numeric: its text without the white space around it, as written
  // (quotes and entity references kept); empty for an empty constant.
  std::string Text;
  // Where the text between the start and the end tag lies; an empty span just past the tag of a
  // constant written <constant .../>.
  TSpan TextSpan;
  std::size_t Line = 0;  // 1-based line of the start tag
};

struct TTune {
  std::string Name;  // as given to the reader; every message names it
  // Empty when the file could be read; otherwise why not, naming the file and the line.
  std::string Error;
  std::vector<TConstant> Constants;  // in the order of the file

  bool Ok() const { return Error.empty(); }
  // The first constant called exactly `name` (names are case-sensitive), or null.
  const TConstant* Find(std::string_view name) const;
};

// Reads the tune file `bytes`; `name` for the messages. A byte order mark, CR LF line ends,
// comments, processing instructions and a document type are passed over; attributes may come in
// any order in either quotes. Never throws: a file that is no XML, has no <msq> root, is cut short,
// or holds a numeric constant whose count of values is not rows * cols sets Error (with the line)
// and leaves Constants empty.
TTune ReadMsq(std::string_view bytes, const std::string& name);

// A table of the tune with its two axes, as the mixture table lays it out: row r belongs to the
// y breakpoint r (row 0 at the lowest load, the first row of the file's text), column c to the x
// breakpoint c.
struct TTable {
  std::string Name;
  std::string XName;
  std::string YName;
  std::string Units;
  std::string XUnits;
  std::string YUnits;
  std::optional<int> Digits;
  std::optional<int> XDigits;
  std::optional<int> YDigits;
  std::size_t Rows = 0;
  std::size_t Cols = 0;
  std::vector<double> Values;  // Rows * Cols, row after row
  std::vector<double> X;       // Cols breakpoints, rising; the last ones may repeat
  std::vector<double> Y;       // Rows breakpoints, the same
  TSpan TextSpan;              // where the table's numbers lie in the file
  std::size_t Line = 0;        // the table's start tag

  double At(std::size_t row, std::size_t col) const { return Values[row * Cols + col]; }
};

// The table `name` with the x axis `xAxisName` (its columns) and the y axis `yAxisName` (its
// rows), or nothing with `error` saying why: a constant missing, not numbers, named twice, an
// axis of the wrong length, or breakpoints that do not rise. An axis is one row or one column of
// numbers; it may repeat its last breakpoint (... 6600 6600) but must not fall, stand still before
// its end, or hold a single value throughout.
std::optional<TTable> FindTable(const TTune& tune, std::string_view name,
                                std::string_view xAxisName, std::string_view yAxisName,
                                std::string& error);

// The names of a table and its axes that tune files are known to use.
struct TTableNames {
  std::string_view Table;
  std::string_view XAxis;
  std::string_view YAxis;
};

// The fuel (VE) tables, in the order they are looked for.
inline constexpr std::array<TTableNames, 3> KnownFuelTables = {{
    {"veTable", "rpmBins", "fuelLoadBins"},
    {"veTable", "veRpmBins", "veLoadBins"},
    {"veTable1", "frpm_table1", "fmap_table1"},
}};
// The mixture target tables, in the order they are looked for.
inline constexpr std::array<TTableNames, 3> KnownTargetTables = {{
    {"afrTable", "rpmBinsAFR", "loadBinsAFR"},
    {"afrTable1", "arpm_table1", "amap_table1"},
    {"lambdaTable", "lambdaRpmBins", "lambdaLoadBins"},
}};

// The first of `known` whose table and both axes the tune holds, found as FindTable finds it
// (its errors are this one's); nothing with `error` naming what was looked for when no entry is
// complete.
std::optional<TTable> FindKnownTable(const TTune& tune, const std::array<TTableNames, 3>& known,
                                     std::string& error);
inline std::optional<TTable> FindFuelTable(const TTune& tune, std::string& error) {
  return FindKnownTable(tune, KnownFuelTables, error);
}
inline std::optional<TTable> FindTargetTable(const TTune& tune, std::string& error) {
  return FindKnownTable(tune, KnownTargetTables, error);
}

// A number as the tune file writes it: with `digits` decimals, rounded, where given; otherwise in
// the fewest digits that read back as the same double. Never "-0".
std::string FormatTuneValue(double value, std::optional<int> digits);

// The bytes of the tune file `tuneBytes` (the file `table` was found in, `name` for the messages)
// with the table's numbers replaced by `values` (Rows * Cols, row after row, finite), each
// formatted by FormatTuneValue with the table's digits. Every other byte stays as it was: the white
// space between the numbers too, so each row keeps its line and indentation. Nothing, with
// `error`, when `values` do not fit the table or `tuneBytes` no longer holds it where it was.
std::optional<std::string> WriteMsqWithTable(std::string_view tuneBytes, const std::string& name,
                                             const TTable& table, const std::vector<double>& values,
                                             std::string& error);

}  // namespace tune
