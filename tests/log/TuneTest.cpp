// The tune file (MSQ), made byte by byte: its constants read, the fuel and target tables found by
// their known names with their axes, what cannot be read or laid out refused with the file and
// line named, and the copy written with new fuel numbers that differs only inside that table.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "log/Tune.h"

namespace tune {
namespace {

using TLines = std::vector<std::string>;

// A tune file around `constants` (whole <constant> elements), with the declaration, comment,
// bibliography and version a tuner's program writes.
std::string TuneFile(const TLines& constants, const std::string& eol = "\n", bool bom = false) {
  std::string file = bom ? "\xEF\xBB\xBF" : "";
  file += "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + eol;
  file += "<!-- written by hand for a test -->" + eol;
  file += "<msq xmlns=\"http://example.invalid/msq\">" + eol;
  file += "<bibliography author=\"test\" writeDate=\"Mon Jan 01 00:00:00 2024\"/>" + eol;
  file += "<versionInfo fileFormat=\"5.0\" nPages=\"1\" signature=\"test 1.0\"/>" + eol;
  file += "<page number=\"0\">" + eol;
  for (const std::string& constant : constants) file += constant + eol;
  file += "</page>" + eol + "</msq>" + eol;
  return file;
}

// A table as the format lays it out: one line a row, each indented alike.
std::string Table(const std::string& name, int rows, int cols, const std::string& digits,
                  const TLines& rowTexts, const std::string& eol = "\n") {
  std::string text = "<constant cols=\"" + std::to_string(cols) + "\"";
  if (!digits.empty()) text += " digits=\"" + digits + "\"";
  text += " name=\"" + name + "\" rows=\"" + std::to_string(rows) + "\" units=\"%\">" + eol;
  for (const std::string& row : rowTexts) text += "         " + row + eol;
  return text + "      </constant>";
}

// An axis, one breakpoint a line (rows=N cols=1) or all on one line (rows=1 cols=N).
std::string Axis(const std::string& name, const TLines& values, const std::string& units,
                 bool oneLine = false, const std::string& eol = "\n") {
  const std::string n = std::to_string(values.size());
  std::string text = "<constant cols=\"" + (oneLine ? n : "1") + "\" digits=\"0\" name=\"" + name +
                     "\" rows=\"" + (oneLine ? "1" : n) + "\" units=\"" + units + "\">";
  if (oneLine) {
    text += eol + "        ";
    for (const std::string& v : values) text += " " + v;
    text += eol;
  } else {
    text += eol;
    for (const std::string& v : values) text += "         " + v + eol;
  }
  return text + "      </constant>";
}

const TLines VeRows = {"40.0 41.0 42.0 43.0", "50.0 51.0 52.0 53.0", "60.0 61.5 62.0 63.0",
                       "70.0 71.0 72.0 73.25"};
const TLines Rpm = {"500.0", "1500.0", "3000.0", "6000.0"};
const TLines Load = {"30.0", "60.0", "90.0", "100.0"};

std::string FourByFourTune(const std::string& eol = "\n", bool bom = false) {
  return TuneFile(
      {"<constant digits=\"0\" name=\"nCylinders\">4</constant>",
       Table("veTable", 4, 4, "1", VeRows, eol), Axis("rpmBins", Rpm, "RPM", false, eol),
       Axis("fuelLoadBins", Load, "kPa", false, eol),
       "<constant name=\"algorithm\">\"Speed Density\"</constant>"},
      eol, bom);
}

TEST(Tune, ReadsEveryKindOfConstant) {
  const std::string file = TuneFile({
      "<constant digits=\"0\" name=\"nCylinders\">4</constant>",  // line 7
      "<constant name=\"algorithm\">\"Speed Density\"</constant>",
      "<constant name=\"empty\"/>",
      "<constant units='&lt;deg&gt;' rows='1' name='swapped' cols='3'\tdigits = '2' >\t-1.5e2\r"
      "\n0.25  +7 </constant>",
      "<constant name=\"comma\" units=\"ms\">1,5</constant>",
      "<constant name=\"spread\" rows=\"2\" cols=\"2\">1\t2\n\n 3\r\n4</constant>",
      "<constant name=\"notANumber\">nan</constant>",
      "<constant name=\"withComment\"><!-- 5 --> 5</constant>",
  });
  const TTune tune = ReadMsq(file, "t.msq");
  ASSERT_TRUE(tune.Ok()) << tune.Error;
  ASSERT_EQ(tune.Constants.size(), 8u);

  struct TExpected {
    const char* Name;
    std::size_t Line;
    std::size_t Rows, Cols;
    const char* Units;
    std::optional<int> Digits;
    bool Numeric;
    std::vector<double> Values;
    const char* Text;
  };
  const std::vector<TExpected> expected = {
      {"nCylinders", 7, 1, 1, "", 0, true, {4}, ""},
      {"algorithm", 8, 1, 1, "", std::nullopt, false, {}, "\"Speed Density\""},
      {"empty", 9, 1, 1, "", std::nullopt, false, {}, ""},
      {"swapped", 10, 1, 3, "<deg>", 2, true, {-150, 0.25, 7}, ""},
      {"comma", 12, 1, 1, "ms", std::nullopt, false, {}, "1,5"},
      {"spread", 13, 2, 2, "", std::nullopt, true, {1, 2, 3, 4}, ""},
      {"notANumber", 17, 1, 1, "", std::nullopt, false, {}, "nan"},
      {"withComment", 18, 1, 1, "", std::nullopt, false, {}, "<!-- 5 --> 5"},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TExpected& e = expected[i];
    const TConstant& c = tune.Constants[i];
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(c.Name, e.Name);
    EXPECT_EQ(c.Line, e.Line);
    EXPECT_EQ(c.Rows, e.Rows);
    EXPECT_EQ(c.Cols, e.Cols);
    EXPECT_EQ(c.Units, e.Units);
    EXPECT_EQ(c.Digits, e.Digits);
    EXPECT_EQ(c.Numeric, e.Numeric);
    EXPECT_EQ(c.Values, e.Values);
    EXPECT_EQ(c.Text, e.Text);
    // The span is the text between the tags, exactly as the file holds it.
    const std::string_view span(file.data() + c.TextSpan.Begin, c.TextSpan.End - c.TextSpan.Begin);
    if (c.Numeric) {
      EXPECT_EQ(span.find('<'), std::string_view::npos);
      EXPECT_EQ(file.substr(c.TextSpan.End, 11), "</constant>");
    }
    if (e.Name == std::string("empty")) {
      EXPECT_TRUE(span.empty());
      EXPECT_EQ(file.substr(c.TextSpan.Begin - 2, 2), "/>");
    }
  }
  EXPECT_EQ(tune.Find("swapped"), &tune.Constants[3]);
  EXPECT_EQ(tune.Find("SWAPPED"), nullptr);
}

TEST(Tune, FindsTheKnownTablesWithTheirAxes) {
  struct TCase {
    TTableNames Names;
    bool Target;
    bool AxesOnOneLine;
  };
  const std::vector<TCase> cases = {
      {{"veTable", "rpmBins", "fuelLoadBins"}, false, false},
      {{"veTable", "veRpmBins", "veLoadBins"}, false, true},
      {{"veTable1", "frpm_table1", "fmap_table1"}, false, false},
      {{"afrTable", "rpmBinsAFR", "loadBinsAFR"}, true, true},
      {{"afrTable1", "arpm_table1", "amap_table1"}, true, false},
      {{"lambdaTable", "lambdaRpmBins", "lambdaLoadBins"}, true, false},
  };
  for (const TCase& c : cases) {
    const std::string table(c.Names.Table);
    SCOPED_TRACE(table + " " + std::string(c.Names.XAxis));
    // Breakpoints of another table, and an axis of a known name standing alone, around it.
    const std::string file = TuneFile({
        Axis("ignRpmBins", {"700", "800", "900", "1000"}, "RPM"),
        Axis(std::string(c.Names.XAxis), Rpm, "RPM", c.AxesOnOneLine),
        Table(table, 4, 4, "1", VeRows),
        Axis(std::string(c.Names.YAxis), Load, "kPa", c.AxesOnOneLine),
        Axis(c.Target ? "rpmBins" : "rpmBinsAFR", {"1", "2", "3", "4"}, "RPM"),
    });
    const TTune tune = ReadMsq(file, "t.msq");
    ASSERT_TRUE(tune.Ok()) << tune.Error;
    std::string error;
    const std::optional<TTable> found =
        c.Target ? FindTargetTable(tune, error) : FindFuelTable(tune, error);
    ASSERT_TRUE(found) << error;
    EXPECT_EQ(found->Name, table);
    EXPECT_EQ(found->XName, c.Names.XAxis);
    EXPECT_EQ(found->YName, c.Names.YAxis);
    EXPECT_EQ(found->Units, "%");
    EXPECT_EQ(found->XUnits, "RPM");
    EXPECT_EQ(found->YUnits, "kPa");
    EXPECT_EQ(found->Digits, 1);
    EXPECT_EQ(found->XDigits, 0);
    ASSERT_EQ(found->Rows, 4u);
    ASSERT_EQ(found->Cols, 4u);
    EXPECT_EQ(found->X, (std::vector<double>{500, 1500, 3000, 6000}));
    EXPECT_EQ(found->Y, (std::vector<double>{30, 60, 90, 100}));
    // The first line of the text is the lowest load; along it the speed rises.
    EXPECT_EQ(found->At(0, 0), 40.0);
    EXPECT_EQ(found->At(0, 3), 43.0);
    EXPECT_EQ(found->At(2, 1), 61.5);
    EXPECT_EQ(found->At(3, 3), 73.25);
    EXPECT_EQ(found->Line, c.AxesOnOneLine ? 16u : 19u);
    // The other kind is not there.
    EXPECT_FALSE(c.Target ? FindFuelTable(tune, error) : FindTargetTable(tune, error));
    EXPECT_NE(error.find("looked for"), std::string::npos) << error;
  }
}

TEST(Tune, FindsATableByTheNamesGivenOrSaysWhyNot) {
  const std::string ve = Table("veTable", 4, 4, "1", VeRows);
  const std::string load = Axis("fuelLoadBins", Load, "kPa");
  struct TCase {
    const char* Name;
    TLines Constants;
    const char* X;  // the names asked for; the table is veTable
    const char* Y;
    const char* Why;  // part of the error; empty: found
  };
  const std::vector<TCase> cases = {
      {"the last breakpoints repeat",
       {ve, Axis("rpm", {"500", "1500", "6600", "6600"}, "RPM"), load},
       "rpm",
       "fuelLoadBins",
       ""},
      {"names of the user's choice",
       {ve, Axis("myX", Rpm, "RPM"), Axis("myY", Load, "kPa")},
       "myX",
       "myY",
       ""},
      {"x axis one short",
       {ve, Axis("rpm", {"500", "1500", "3000"}, "RPM"), load},
       "rpm",
       "fuelLoadBins",
       "line 13: the x axis rpm has 3 breakpoints, but the table veTable has 4 cols"},
      {"y axis one long",
       {ve, Axis("rpm", Rpm, "RPM"), Axis("load", {"1", "2", "3", "4", "5"}, "kPa")},
       "rpm",
       "load",
       "the y axis load has 5 breakpoints, but the table veTable has 4 rows"},
      {"axes swapped on a table that is not square",
       {Table("veTable", 2, 3, "1", {"1 2 3", "4 5 6"}), Axis("x", {"1", "2", "3"}, "RPM"),
        Axis("y", {"1", "2"}, "kPa")},
       "y",
       "x",
       "the x axis y has 2 breakpoints, but the table veTable has 3 cols"},
      {"a falling breakpoint",
       {ve, Axis("rpm", {"500", "3000", "1500", "6000"}, "RPM"), load},
       "rpm",
       "fuelLoadBins",
       "falls from 3000 to 1500 at breakpoints 2 and 3"},
      {"a falling last breakpoint",
       {ve, Axis("rpm", {"500", "1500", "6000", "5000"}, "RPM"), load},
       "rpm",
       "fuelLoadBins",
       "falls from 6000 to 5000"},
      {"a repeat before the end",
       {ve, Axis("rpm", {"500", "500", "1500", "6000"}, "RPM"), load},
       "rpm",
       "fuelLoadBins",
       "repeats 500 at breakpoints 1 and 2"},
      {"one value throughout",
       {ve, Axis("rpm", {"0", "0", "0", "0"}, "RPM"), load},
       "rpm",
       "fuelLoadBins",
       "the x axis rpm holds the one value 0"},
      {"an axis that is a table",
       {ve, Table("rpm", 2, 2, "0", {"1 2", "3 4"}), load},
       "rpm",
       "fuelLoadBins",
       "is a table of 2 rows and 2 cols"},
      {"no such axis, but one in other letters",
       {ve, Axis("RPMBINS", Rpm, "RPM"), load},
       "rpmBins",
       "fuelLoadBins",
       "no constant rpmBins for the x axis (there is RPMBINS)"},
      {"a table of words",
       {Table("veTable", 1, 4, "1", {"40.0 41,0 42.0 43.0"}), Axis("rpm", Rpm, "RPM"),
        Axis("load", {"1"}, "kPa")},
       "rpm",
       "load",
       "line 7: the table veTable holds \"41,0\", which is no number"},
      {"the table twice",
       {ve, Axis("rpm", Rpm, "RPM"), load, ve},
       "rpm",
       "fuelLoadBins",
       "the table veTable is there twice (lines 7 and 25)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TTune tune = ReadMsq(TuneFile(c.Constants), "t.msq");
    ASSERT_TRUE(tune.Ok()) << tune.Error;
    std::string error;
    const std::optional<TTable> table = FindTable(tune, "veTable", c.X, c.Y, error);
    if (std::string(c.Why).empty()) {
      ASSERT_TRUE(table) << error;
      EXPECT_EQ(table->XName, c.X);
      EXPECT_EQ(table->X.size(), 4u);
      EXPECT_EQ(table->X.back(), tune.Find(c.X)->Values.back());
      continue;
    }
    EXPECT_FALSE(table);
    EXPECT_EQ(error.rfind("t.msq: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.Why), std::string::npos) << error;
  }
}

TEST(Tune, TheKnownNamesSayWhatIsMissing) {
  const TTune tune = ReadMsq(TuneFile({Table("veTable", 4, 4, "1", VeRows)}), "t.msq");
  std::string error;
  EXPECT_FALSE(FindFuelTable(tune, error));
  EXPECT_NE(error.find("veTable (rpmBins, fuelLoadBins), veTable (veRpmBins, veLoadBins)"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("veTable is there without these axes"), std::string::npos) << error;
  // The first complete entry is the one used, even when it cannot be laid out.
  const TTune wrong =
      ReadMsq(TuneFile({Table("veTable", 4, 4, "1", VeRows), Axis("rpmBins", {"1", "2"}, "RPM"),
                        Axis("fuelLoadBins", Load, "kPa")}),
              "t.msq");
  EXPECT_FALSE(FindFuelTable(wrong, error));
  EXPECT_NE(error.find("rpmBins has 2 breakpoints"), std::string::npos) << error;
}

TEST(Tune, RefusesWhatItCannotRead) {
  const std::string good = FourByFourTune();
  struct TCase {
    const char* Name;
    std::string Bytes;
    const char* Why;  // part of the error, after "t.msq: "
  };
  const std::vector<TCase> cases = {
      {"empty", "", "holds no XML"},
      {"plain text", "veTable 1 2 3\n", "does not begin as XML"},
      {"a log", "Time\tRPM\n0\t800\n", "does not begin as XML"},
      {"another root", "<?xml version=\"1.0\"?>\n<tune><constant name=\"a\">1</constant></tune>",
       "its root element is <tune>, not <msq>"},
      {"declaration only", "<?xml version=\"1.0\"?>\n<!-- nothing -->\n", "no <msq> element"},
      {"a value short", TuneFile({Table("veTable", 2, 2, "1", {"1.0 2.0", "3.0"})}),
       "line 7: constant \"veTable\" holds 3 numbers, but rows 2 and cols 2 make 4"},
      {"a value too many on a scalar", TuneFile({"<constant name=\"n\">1 2</constant>"}),
       "line 7: constant \"n\" holds 2 numbers, but rows 1 and cols 1 make 1"},
      {"cut inside the table", good.substr(0, good.find("61.5")),
       "is cut short: the file ends inside <constant name=\"veTable\"> begun at line 8"},
      {"cut inside a tag", good.substr(0, good.find("name=\"rpmBins\"") + 8),
       "is cut short: the file ends inside the tag <constant> begun at line 14"},
      {"cut inside an end tag", good.substr(0, good.rfind("</msq") + 4),
       "inside an end tag begun at line 28"},
      {"cut before the root ends", good.substr(0, good.rfind("</msq>")),
       "the file ends inside <msq> begun at line 3"},
      {"cut inside the comment", good.substr(0, 60), "inside a comment begun at line 2"},
      {"an end tag that closes another", TuneFile({"<constant name=\"a\">1</page>"}),
       "line 7: </page> closes <constant name=\"a\"> begun at line 7"},
      {"rows not a number", TuneFile({"<constant name=\"a\" rows=\"x\">1</constant>"}),
       "line 7: constant \"a\": rows \"x\" is not a whole number from 1 on"},
      {"a value without quotes", TuneFile({"<constant name=a>1</constant>"}),
       "line 7: the value of name is not in quotes"},
      {"a name given twice", TuneFile({"<constant name=\"a\" units=\"%\" name=\"b\">1</constant>"}),
       "line 7: the attribute name twice in a constant"},
      {"a second root", good + "<msq></msq>\n", "a second root element <msq>"},
      {"text after the root", good + "junk\n", "line 29: text after the end of <msq>"},
      {"UTF-16", std::string("\xFF\xFE<\0m\0s\0q\0>\0", 10), "does not begin as XML"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TTune tune = ReadMsq(c.Bytes, "t.msq");
    EXPECT_FALSE(tune.Ok());
    EXPECT_TRUE(tune.Constants.empty());
    EXPECT_EQ(tune.Error.rfind("t.msq: ", 0), 0u) << tune.Error;
    EXPECT_NE(tune.Error.find(c.Why), std::string::npos) << tune.Error;
  }
}

TEST(Tune, EveryCutOfATuneFileIsRefused) {
  const std::string good = FourByFourTune("\r\n", true);
  ASSERT_TRUE(ReadMsq(good, "t.msq").Ok());
  const std::size_t rootEnd = good.rfind("</msq>") + 6;
  for (std::size_t length = 0; length < rootEnd; ++length) {
    const TTune tune = ReadMsq(good.substr(0, length), "t.msq");
    ASSERT_FALSE(tune.Ok()) << "cut at byte " << length;
  }
}

TEST(Tune, LineEndsAndAByteOrderMarkReadAlike) {
  const TTune plain = ReadMsq(FourByFourTune(), "t.msq");
  const TTune windows = ReadMsq(FourByFourTune("\r\n", true), "t.msq");
  ASSERT_TRUE(plain.Ok()) << plain.Error;
  ASSERT_TRUE(windows.Ok()) << windows.Error;
  ASSERT_EQ(plain.Constants.size(), windows.Constants.size());
  for (std::size_t i = 0; i < plain.Constants.size(); ++i) {
    EXPECT_EQ(plain.Constants[i].Name, windows.Constants[i].Name);
    EXPECT_EQ(plain.Constants[i].Values, windows.Constants[i].Values);
    EXPECT_EQ(plain.Constants[i].Text, windows.Constants[i].Text);
    EXPECT_EQ(plain.Constants[i].Line, windows.Constants[i].Line);
  }
}

TEST(Tune, FormatsNumbersAsTheFileKeepsThem) {
  struct TCase {
    double Value;
    std::optional<int> Digits;
    const char* Text;
  };
  const std::vector<TCase> cases = {
      {51.26, 1, "51.3"},
      {51.24, 1, "51.2"},
      {99.96, 1, "100.0"},
      {-0.04, 1, "0.0"},
      {-0.4, 0, "0"},
      {-12.346, 2, "-12.35"},
      {107.6, 0, "108"},
      {45, std::nullopt, "45"},
      {14.7, std::nullopt, "14.7"},
      {0.1, 3, "0.100"},
      {-1.5e2, std::nullopt, "-150"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(FormatTuneValue(c.Value, c.Digits), c.Text) << c.Value;
  }
}

// The lines of `text` with their line ends, cut after each '\n'.
std::vector<std::string> LinesOf(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

std::string Indent(const std::string& line) {
  return line.substr(0, line.find_first_not_of(" \t"));
}

TEST(Tune, WritesACopyThatDiffersOnlyInTheTablesNumbers) {
  // New values chosen so that their rounding is plain; the rows are written as expected back.
  const std::vector<double> newValues = {40.04, 41.26, 42.5, 43.0, 50.96, 51.0, 52.0, 53.0,
                                         60.0,  61.0,  62.0, 63.0, 70.0,  71.0, 72.0, 99.96};
  const TLines roundedToOne = {"40.0 41.3 42.5 43.0", "51.0 51.0 52.0 53.0", "60.0 61.0 62.0 63.0",
                               "70.0 71.0 72.0 100.0"};
  const TLines asGiven = {"40.04 41.26 42.5 43", "50.96 51 52 53", "60 61 62 63", "70 71 72 99.96"};
  const TLines uneven = {"40.0\t41.0  42.0 43.0", "  50.0 51.0 52.0 53.0",
                         "60.0 61.5 62.0 63.0 70.0 71.0 72.0 73.25"};
  struct TCase {
    const char* Name;
    std::string Eol;
    bool Bom;
    std::string Digits;
    TLines Rows;  // the table's text in the tune that is copied
    TLines Expected;
  };
  const std::vector<TCase> cases = {
      {"LF, one decimal", "\n", false, "1", VeRows, roundedToOne},
      {"CR LF and a byte order mark", "\r\n", true, "1", VeRows, roundedToOne},
      {"no digits: as few as keep the value", "\n", false, "", VeRows, asGiven},
      {"uneven white space kept",
       "\n",
       false,
       "1",
       uneven,
       {"40.0\t41.3  42.5 43.0", "51.0 51.0 52.0 53.0",
        "60.0 61.0 62.0 63.0 70.0 71.0 72.0 100.0"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string tuneBytes = TuneFile(
        {"<constant digits=\"0\" name=\"nCylinders\">4</constant>",
         Table("veTable", 4, 4, c.Digits, c.Rows, c.Eol), Axis("rpmBins", Rpm, "RPM", false, c.Eol),
         Axis("fuelLoadBins", Load, "kPa", false, c.Eol)},
        c.Eol, c.Bom);
    const TTune tune = ReadMsq(tuneBytes, "t.msq");
    ASSERT_TRUE(tune.Ok()) << tune.Error;
    std::string error;
    const std::optional<TTable> table = FindFuelTable(tune, error);
    ASSERT_TRUE(table) << error;
    const std::optional<std::string> written =
        WriteMsqWithTable(tuneBytes, "t.msq", *table, newValues, error);
    ASSERT_TRUE(written) << error;

    // Every byte before and after the table's text is the tune's as it was read.
    const std::size_t begin = table->TextSpan.Begin;
    const std::size_t tail = tuneBytes.size() - table->TextSpan.End;
    ASSERT_GE(written->size(), begin + tail);
    EXPECT_EQ(written->substr(0, begin), tuneBytes.substr(0, begin));
    EXPECT_EQ(written->substr(written->size() - tail), tuneBytes.substr(table->TextSpan.End));

    // Inside it, each line keeps its indentation and line end; only the numbers changed.
    const std::string newText = written->substr(begin, written->size() - tail - begin);
    const std::vector<std::string> oldLines =
        LinesOf(tuneBytes.substr(begin, table->TextSpan.End - begin));
    const std::vector<std::string> newLines = LinesOf(newText);
    ASSERT_EQ(newLines.size(), oldLines.size()) << newText;
    ASSERT_EQ(newLines.size(), c.Expected.size() + 2) << newText;
    for (std::size_t i = 0; i < newLines.size(); ++i) {
      EXPECT_EQ(Indent(newLines[i]), Indent(oldLines[i]));
      EXPECT_EQ(newLines[i].back(), oldLines[i].back());
      const std::size_t eol = newLines[i].size() - (newLines[i].ends_with("\r\n") ? 2 : 1);
      if (i >= 1 && i <= c.Expected.size()) {
        EXPECT_EQ(newLines[i].substr(Indent(newLines[i]).size(), eol - Indent(newLines[i]).size()),
                  c.Expected[i - 1]);
      }
    }

    // Read back: the new values, rounded to the table's digits.
    const TTune again = ReadMsq(*written, "t.msq");
    ASSERT_TRUE(again.Ok()) << again.Error;
    const std::optional<TTable> back = FindFuelTable(again, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->X, table->X);
    EXPECT_EQ(back->Y, table->Y);
    EXPECT_EQ(back->At(0, 1), c.Digits.empty() ? 41.26 : 41.3);
    EXPECT_EQ(back->At(1, 0), c.Digits.empty() ? 50.96 : 51.0);
    EXPECT_EQ(back->At(3, 3), c.Digits.empty() ? 99.96 : 100.0);
  }
}

TEST(Tune, WritesNothingItCannotWriteSafely) {
  const std::string tuneBytes = FourByFourTune();
  const TTune tune = ReadMsq(tuneBytes, "t.msq");
  std::string error;
  const std::optional<TTable> table = FindFuelTable(tune, error);
  ASSERT_TRUE(table) << error;
  const std::vector<double> sixteen(16, 50.0);
  std::vector<double> withNan = sixteen;
  withNan[6] = std::nan("");
  // The same table, but the file changed before it: its numbers now lie elsewhere.
  const std::string moved =
      TuneFile({"<constant name=\"extra\">1</constant>",
                "<constant digits=\"0\" name=\"nCylinders\">4</constant>",
                Table("veTable", 4, 4, "1", VeRows), Axis("rpmBins", Rpm, "RPM"),
                Axis("fuelLoadBins", Load, "kPa")});
  struct TCase {
    const char* Name;
    std::string Original;
    std::vector<double> Values;
    const char* Why;
  };
  const std::vector<TCase> cases = {
      {"a value short", tuneBytes, std::vector<double>(15, 50.0), "15 new values"},
      {"not a number", tuneBytes, withNan, "at row 2, col 3 is not a number"},
      {"another file", moved, sixteen, "is no longer where it was read"},
      {"a file that cannot be read", tuneBytes.substr(0, 100), sixteen, "is cut short"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_FALSE(WriteMsqWithTable(c.Original, "t.msq", *table, c.Values, error));
    EXPECT_NE(error.find(c.Why), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tune
