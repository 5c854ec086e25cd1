// The "%DataLog%" CSV export read back: files made byte by byte with channel blocks of every Type,
// rows that pass midnight, the header's 12-hour clock, CR LF, a BOM, and every broken file, each
// ending in the values its raw numbers scale to, or in a message naming the file and the line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "log/DataLogReader.h"
#include "log/Log.h"
#include "log/LogSniffer.h"
#include "tests/log/ReadInPieces.h"

namespace datalogtest {
namespace {

using enginelog::TLog;

constexpr std::int64_t July18th2025 = 20287LL * 86400;  // 2025-07-18 00:00:00

// The lines joined, each ended by `eol`.
std::string Lines(const std::vector<std::string>& lines, const std::string& eol = "\n") {
  std::string text;
  for (const std::string& line : lines) text += line + eol;
  return text;
}

// The export's header as the engine software writes it, with channel blocks of the given names and
// Types and the `Log :` line (none when empty).
std::vector<std::string> Header(const std::vector<std::pair<std::string, std::string>>& channels,
                                const std::string& logLine = "Log : 20250718 02:15:46") {
  std::vector<std::string> lines = {"%DataLog%", "DataLogVersion : 1.0", "Software : Tuner 3.10",
                                    "DownloadDateTime : 20250718 04:09:48"};
  int id = 224;
  for (const auto& [name, type] : channels) {
    lines.push_back("Channel : " + name);
    lines.push_back("ID : " + std::to_string(id++));
    lines.push_back("Type : " + type);
    lines.push_back("DisplayMaxMin : 32000,-32000");
  }
  if (!logLine.empty()) lines.push_back(logLine);
  return lines;
}

std::vector<std::string> With(std::vector<std::string> lines,
                              const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

std::string AllWarnings(const TLog& log) {
  std::string text;
  for (const std::string& warning : log.Warnings) text += warning + "\n";
  return text;
}

// Every Type the documentation scales, one channel each, and two it does not: one row of raw
// values, read back as the values and units they stand for.
TEST(DataLogReader, EachTypeScalesItsRawValuesToItsUnit) {
  struct TCase {
    const char* Type;
    const char* Raw;
    double Value;
    const char* Unit;
  };
  const std::vector<TCase> cases = {
      {"EngineSpeed", "3696", 3696, "rpm"},
      {"AbsPressure", "1013", 101.3, "kPa"},
      {"Pressure", "1513", 50.0, "kPa"},  // above the 101.3 kPa of the atmosphere
      {"Percentage", "235", 23.5, "%"},
      {"Angle", "-55", -5.5, "deg"},
      {"Temperature", "3631", 89.95, "C"},  // tenths of a kelvin
      {"BatteryVoltage", "13800", 13.8, "V"},
      {"Speed", "1234", 123.4, "km/h"},
      {"AFR", "14700", 14.7, "AFR"},
      {"Flow", "250", 2.5, ""},
      {"Raw", "7", 7, "raw"},
      {"GearPosition", "3", 3, "raw"},    // a Type the documentation does not scale
      {"absPRESSURE", "990", 99, "kPa"},  // letter case aside
  };
  std::vector<std::pair<std::string, std::string>> channels;
  std::string row = "14:15:46.000,0";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    channels.emplace_back("Channel " + std::to_string(i), cases[i].Type);
    row += std::string(",") + cases[i].Raw;
  }
  const TLog log = enginelog::ReadLog(Lines(With(Header(channels), {row})), "export.csv");
  ASSERT_TRUE(log.Ok()) << log.Error;
  EXPECT_EQ(log.Format, enginelog::TFileFormat::DataLog);
  EXPECT_STREQ(enginelog::FormatName(log.Format), "datalog");
  EXPECT_TRUE(log.Warnings.empty()) << AllWarnings(log);
  ASSERT_EQ(log.Channels.size(), cases.size());
  ASSERT_EQ(log.Rows(), 1u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].Type);
    EXPECT_EQ(log.Channels[i].Name, "Channel " + std::to_string(i));
    EXPECT_EQ(log.Channels[i].Unit, cases[i].Unit);
    EXPECT_NEAR(log.Channels[i].Values[0], cases[i].Value, 1e-4);
  }
}

// The header's example: several channels, rows 50 ms apart after a leading 0, the `Log :` line's
// time on a 12-hour clock; and the same file with CR LF, a BOM, blanks around the colons, blank
// lines and keys this reader does not know, which make no difference.
TEST(DataLogReader, TheExportReadsTheSameHoweverItIsWritten) {
  const std::vector<std::string> rows = {"14:15:46.000,0,1013,3696,3631",
                                         "14:15:46.050,0,1020,3710,3632",
                                         "14:15:46.100,0,1031,3725,3632"};
  const std::vector<std::pair<std::string, std::string>> channels = {
      {"Manifold Pressure", "AbsPressure"},
      {"Engine Speed", "EngineSpeed"},
      {"Coolant Temperature", "Temperature"}};
  const std::string plain = Lines(With(Header(channels), rows));
  std::vector<std::string> loose = Header(channels);
  for (std::string& line : loose) {
    const std::size_t colon = line.find(" : ");
    if (colon != std::string::npos) line.replace(colon, 3, line[0] == 'C' ? ":" : "   :\t ");
  }
  loose.insert(loose.begin() + 5, "Colour : Red");  // unknown keys, in a block and out of it
  loose.insert(loose.begin() + 2, "Comment : first pull");
  loose.insert(loose.begin() + 3, "");
  const std::vector<std::pair<std::string, std::string>> variants = {
      {"LF", plain},
      {"CR LF", Lines(With(Header(channels), rows), "\r\n")},
      {"BOM and CR LF", "\xEF\xBB\xBF" + Lines(With(Header(channels), rows), "\r\n")},
      {"blanks, blank lines, unknown keys", Lines(With(loose, {rows[0], "", rows[1], rows[2]}))},
      {"no line end after the last row", plain.substr(0, plain.size() - 1)},
  };
  for (const auto& [name, bytes] : variants) {
    SCOPED_TRACE(name);
    EXPECT_EQ(enginelog::SniffLogFormat(bytes, true), enginelog::TLogFormat::DataLog);
    const TLog log = enginelog::ReadLog(bytes, "run.csv");
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_TRUE(log.Warnings.empty()) << AllWarnings(log);
    ASSERT_EQ(log.Channels.size(), 3u);
    EXPECT_EQ(log.Channels[0].Name, "Manifold Pressure");
    EXPECT_EQ(log.Channels[1].Name, "Engine Speed");
    EXPECT_EQ(log.Channels[2].Name, "Coolant Temperature");
    EXPECT_EQ(log.Channels[0].Unit, "kPa");
    EXPECT_EQ(log.Channels[1].Unit, "rpm");
    EXPECT_EQ(log.Channels[2].Unit, "C");
    ASSERT_EQ(log.Rows(), 3u);
    const double start = 14 * 3600 + 15 * 60 + 46;
    EXPECT_DOUBLE_EQ(log.Times[0], start);
    EXPECT_NEAR(log.Times[1], start + 0.05, 1e-9);
    EXPECT_NEAR(log.Times[2], start + 0.1, 1e-9);
    EXPECT_EQ(log.Channels[1].Values, (std::vector<float>{3696, 3710, 3725}));
    EXPECT_NEAR(log.Channels[0].Values[2], 103.1, 1e-4);
    EXPECT_NEAR(log.Channels[2].Values[1], 90.05, 1e-4);
    ASSERT_TRUE(log.Start.has_value());
    EXPECT_EQ(log.Start->Seconds, July18th2025 + static_cast<std::int64_t>(start));
    EXPECT_EQ(log.Start->Fraction, 0);
    EXPECT_FALSE(log.Start->UtcOffsetSeconds.has_value());
    EXPECT_EQ(log.SkippedRecords, 0u);
  }
}

// The log's start: the date from the `Log :` line (else from the download), the time of day from
// the first row; the rows' times of day on one axis from the first row's midnight, each midnight
// passed adding a day; a later `Log :` line starting another log of its own date.
TEST(DataLogReader, TimesCountFromTheFirstRowsMidnightAndTheHeaderDatesThem) {
  struct TCase {
    const char* Name;
    std::string LogLine;  // empty: none
    std::string Download;
    std::vector<std::string> Rows;  // times of day (a value follows each), or header lines
    std::vector<double> Times;
    std::int64_t StartSeconds;
    double StartFraction;
    std::vector<std::pair<double, std::string>> Markers;
  };
  const std::vector<TCase> cases = {
      {"the header's 12-hour time is the first row's 24-hour one",
       "Log : 20250718 02:15:46",
       "20250718 04:09:48",
       {"14:15:46.000", "14:15:46.050"},
       {51346, 51346.05},
       July18th2025 + 51346,
       0,
       {}},
      {"midnight passed twice",
       "Log : 20250718 11:59:59",
       "20250720 09:00:00",
       {"23:59:59.950", "00:00:00.000", "12:00:00.000", "23:59:59.000", "00:00:01.000"},
       {86399.95, 86400, 129600, 172799, 172801},
       July18th2025 + 86399,
       0.95,
       {}},
      {"rows a moment out of order stay where they are",
       "Log : 20250718 10:00:00",
       "",
       {"10:00:00.100", "10:00:00.050", "10:00:00.150"},
       {36000.1, 36000.05, 36000.15},
       July18th2025 + 36000,
       0.1,
       {}},
      {"the header just before midnight, the first row after it",
       "Log : 20250718 11:59:58",
       "",
       {"00:00:01.250", "00:00:01.300"},
       {1.25, 1.3},
       July18th2025 + 86400 + 1,
       0.25,
       {}},
      {"no Log line: the download's date",
       "",
       "20250718 04:09:48",
       {"14:15:46.000"},
       {51346},
       July18th2025 + 51346,
       0,
       {}},
      {"no Log line, downloaded after midnight: the log was the day before",
       "",
       "20250719 12:30:00",
       {"23:00:00.000"},
       {82800},
       July18th2025 + 82800,
       0,
       {}},
      {"a download time with AM is no 12-hour puzzle",
       "",
       "20250719 01:00:00 AM",
       {"12:30:00.000"},
       {45000},
       July18th2025 + 45000,
       0,
       {}},
      {"another log in the same file, two days later",
       "Log : 20250718 02:15:46",
       "",
       {"14:15:46.000", "14:15:47.000", "Log : 20250720 09:00:00", "09:00:00.500"},
       {51346, 51347, 2 * 86400 + 32400.5},
       July18th2025 + 51346,
       0,
       {{2 * 86400 + 32400.5, "Log : 20250720 09:00:00"}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> lines = {"%DataLog%"};
    if (!c.Download.empty()) lines.push_back("DownloadDateTime : " + c.Download);
    lines.insert(lines.end(), {"Channel : Engine Speed", "Type : EngineSpeed"});
    if (!c.LogLine.empty()) lines.push_back(c.LogLine);
    for (const std::string& row : c.Rows) lines.push_back(row[0] == 'L' ? row : row + ",0,900");
    const TLog log = enginelog::ReadLog(Lines(lines), "times.csv");
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_TRUE(log.Warnings.empty()) << AllWarnings(log);
    ASSERT_EQ(log.Times.size(), c.Times.size());
    for (std::size_t i = 0; i < c.Times.size(); ++i) EXPECT_NEAR(log.Times[i], c.Times[i], 1e-9);
    ASSERT_TRUE(log.Start.has_value());
    EXPECT_EQ(log.Start->Seconds, c.StartSeconds);
    EXPECT_NEAR(log.Start->Fraction, c.StartFraction, 1e-9);
    ASSERT_EQ(log.Markers.size(), c.Markers.size());
    for (std::size_t i = 0; i < c.Markers.size(); ++i) {
      EXPECT_NEAR(log.Markers[i].Time, c.Markers[i].first, 1e-9);
      EXPECT_EQ(log.Markers[i].Text, c.Markers[i].second);
    }
  }
  // A `Log :` line after rows of which none could be read dates the log, as the first would.
  const TLog redated = enginelog::ReadLog(
      Lines({"%DataLog%", "Channel : RPM", "Type : EngineSpeed", "Log : 20250718 01:00:00",
             "13:00:00.000,0", "Log : 20250720 01:00:00", "13:00:00.000,0,900"}),
      "r.csv");
  ASSERT_TRUE(redated.Ok()) << redated.Error;
  EXPECT_EQ(redated.Rows(), 1u);
  ASSERT_TRUE(redated.Start.has_value());
  EXPECT_EQ(redated.Start->Seconds, July18th2025 + 2 * 86400 + 13 * 3600);
  EXPECT_TRUE(redated.Markers.empty());
  // Without any date in the header the rows still have their times, and the log no start.
  const TLog undated = enginelog::ReadLog(
      Lines({"%DataLog%", "Channel : RPM", "Type : EngineSpeed", "08:00:00.000,0,800"}), "u.csv");
  ASSERT_TRUE(undated.Ok()) << undated.Error;
  EXPECT_EQ(undated.Times, (std::vector<double>{28800}));
  EXPECT_FALSE(undated.Start.has_value());
}

// Whether a row carries a value before the channels' is told by the rows: with it, the channels'
// values follow it; without it, they follow the time; one broken row does not sway it.
TEST(DataLogReader, TheValueBeforeTheChannelsIsFoundFromTheRows) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Rows;
    std::vector<float> Speed;
    std::uint64_t Skipped;
  };
  const std::vector<TCase> cases = {
      {"a leading value", {"10:00:00.000,0,900,1013", "10:00:00.100,0,910,1020"}, {900, 910}, 0},
      {"none", {"10:00:00.000,900,1013", "10:00:00.100,910,1020"}, {900, 910}, 0},
      {"a leading value, the first row one short",
       {"10:00:00.000,900,1013", "10:00:00.100,0,910,1020", "10:00:00.200,0,920,1030"},
       {910, 920},
       1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TLog log = enginelog::ReadLog(
        Lines(With(Header({{"Engine Speed", "EngineSpeed"}, {"MAP", "AbsPressure"}}), c.Rows)),
        "lead.csv");
    ASSERT_TRUE(log.Ok()) << log.Error;
    ASSERT_EQ(log.Channels.size(), 2u);
    EXPECT_EQ(log.Channels[0].Values, c.Speed);
    EXPECT_EQ(log.SkippedRecords, c.Skipped);
  }
}

// What can be read is kept, what cannot is counted and named once with its line; a file with
// nothing to read fails with the file's name and the line.
TEST(DataLogReader, BrokenRowsAreCountedAndUnreadableFilesNamed) {
  const std::vector<std::string> header =
      Header({{"Engine Speed", "EngineSpeed"}, {"MAP", "AbsPressure"}});  // 13 lines
  std::vector<std::string> stray = header;
  stray.insert(stray.begin() + 3, "just words");
  struct TCase {
    const char* Name;
    std::string Bytes;
    const char* Error;    // expected in Error; nullptr: the log reads
    const char* Warning;  // expected among the warnings
    std::size_t Rows;
    std::uint64_t Skipped;
  };
  const std::vector<TCase> cases = {
      {"a last row cut short",
       Lines(With(header, {"10:00:00.000,0,900,1013"})) + "10:00:00.100,0,91", nullptr,
       "the last line (line 15) is cut short; it is left out", 1, 1},
      {"a row with a value too many and one with one too few",
       Lines(With(header, {"10:00:00.000,0,900,1013", "10:00:00.100,0,910,1020,5",
                           "10:00:00.200,0,920", "10:00:00.300,0,930,1030"})),
       nullptr,
       "2 rows are left out for the number of their values (the first at line 15: 4 values after "
       "the time where 3 are due)",
       2, 2},
      {"values that are no numbers",
       Lines(With(header, {"10:00:00.000,0,900,1013", "10:00:00.100,0,fast,",
                           "10:00:00.200,0,"
                           "920,1030"})),
       nullptr,
       "2 values are not numbers (the first at line 15: 'fast' in Engine Speed); they are left as "
       "gaps",
       3, 0},
      {"a row without its time",
       Lines(With(header, {"10:00:00.000,0,900,1013", "1O:00:00.100,0,910,1020",
                           "10:00:00.200,0,920,1030"})),
       nullptr, "(the first at line 15: '1O:00:00.100' is no time of day)", 2, 1},
      {"a stray line in the header and a header line among the rows",
       Lines(With(stray, {"10:00:00.000,0,900,1013", "Channel : Late", "10:00:00.100,0,910,1020"})),
       nullptr, "2 lines are left out (the first at line 4: 'just words' is neither", 2, 0},
      {"a header alone", Lines(Header({{"Engine Speed", "EngineSpeed"}}, "")),
       "header.csv: the header ends at line 8 with neither a 'Log :' line nor a row of values",
       nullptr, 0, 0},
      {"a Log line and no rows", Lines(Header({{"Engine Speed", "EngineSpeed"}})),
       "header.csv: line 9: the 'Log :' line is followed by no row of values", nullptr, 0, 0},
      {"no channel blocks", Lines({"%DataLog%", "Log : 20250718 02:15:46", ""}),
       "header.csv: ends at line 3 without a channel block", nullptr, 0, 0},
      {"rows before any channel block",
       Lines({"%DataLog%", "Log : 20250718 02:15:46", "10:00:00.000,0,900"}),
       "header.csv: line 3: a row of values before any channel block", nullptr, 0, 0},
      {"no row readable", Lines(With(header, {"10:00:00.000,0", "10:00:00.100,0"})),
       "header.csv: none of its rows could be read (line 14: 1 values after the time where 2 are "
       "due)",
       nullptr, 0, 0},
      {"the only row cut short", Lines(header) + "10:00:00.000,0",
       "header.csv: its only row, line 14, is cut short", nullptr, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TLog log = enginelog::ReadLog(c.Bytes, "header.csv");
    if (c.Error) {
      EXPECT_EQ(log.Error.rfind(c.Error, 0), 0u) << log.Error;
      EXPECT_TRUE(log.Times.empty() && log.Channels.empty());
      continue;
    }
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_NE(AllWarnings(log).find(c.Warning), std::string::npos) << AllWarnings(log);
    EXPECT_EQ(log.Warnings.size(), 1u) << AllWarnings(log);
    EXPECT_EQ(log.Rows(), c.Rows);
    EXPECT_EQ(log.SkippedRecords, c.Skipped);
    for (const enginelog::TChannel& channel : log.Channels) {
      EXPECT_EQ(channel.Values.size(), log.Rows());
    }
  }
  // The values that are no numbers are gaps, the rest of their row is read.
  const TLog gaps = enginelog::ReadLog(cases[2].Bytes, "gaps.csv");
  ASSERT_EQ(gaps.Rows(), 3u);
  EXPECT_TRUE(std::isnan(gaps.Channels[0].Values[1]));
  EXPECT_TRUE(std::isnan(gaps.Channels[1].Values[1]));
  EXPECT_NEAR(gaps.Channels[1].Values[2], 103.0, 1e-4);

  // Bytes that do not begin as the export does, handed to its reader all the same.
  for (const std::string& bytes : {std::string(), std::string("Time,RPM\n0,900\n")}) {
    const TLog log = enginelog::ReadDataLog(bytes, "other.csv");
    EXPECT_EQ(log.Error, bytes.empty() ? "other.csv: is empty"
                                       : "other.csv: line 1: not a DataLog export (it does not "
                                         "begin with %DataLog%)");
  }
}

// The first bytes tell the export from every other log: its first line alone, after a BOM.
TEST(DataLogReader, TheFirstLineTellsTheExport) {
  const std::vector<std::pair<std::string, enginelog::TLogFormat>> cases = {
      {"%DataLog%\nChannel : RPM\n", enginelog::TLogFormat::DataLog},
      {"\xEF\xBB\xBF%DataLog%  \r\n", enginelog::TLogFormat::DataLog},
      {"%DataLog%", enginelog::TLogFormat::DataLog},
      {"%DataLog%s\nTime,RPM\n0,900\n0.1,910\n", enginelog::TLogFormat::Text},
      {"Time,RPM\n0,900\n0.1,910\n", enginelog::TLogFormat::Text},
      {" %DataLog%\n", enginelog::TLogFormat::None},
  };
  for (const auto& [bytes, format] : cases) {
    EXPECT_EQ(enginelog::SniffLogFormat(bytes, true), format) << bytes;
  }
}

// Fed in pieces of every size, from one byte to the whole, the export reads as it does whole:
// lines, CR LF and the BOM split anywhere, the first rows awaited before the layout is decided.
TEST(DataLogReader, PiecesOfEverySizeReadAsTheWhole) {
  std::vector<std::string> rows = {"10:00:00.000,0,90"};  // one short: the rows decide, not it
  for (int i = 1; i < 30; ++i) {
    rows.push_back("10:00:0" + std::to_string(i / 10) + "." + std::to_string(i % 10) + "00,0," +
                   std::to_string(900 + i) + (i == 7 ? ",x" : ",1013"));
  }
  rows.insert(rows.begin() + 12, "23:59:59.000,0,1,2");
  const std::string bytes =
      "\xEF\xBB\xBF" +
      Lines(With(Header({{"Engine Speed", "EngineSpeed"}, {"MAP", "AbsPressure"}}), rows), "\r\n") +
      "10:00:03.0";
  const TLog whole = enginelog::ReadLog(bytes, "x");
  ASSERT_TRUE(whole.Ok()) << whole.Error;
  ASSERT_EQ(whole.Rows(), 30u);
  ASSERT_EQ(whole.Warnings.size(), 3u) << AllWarnings(whole);
  for (std::size_t piece = 1; piece <= bytes.size(); ++piece) {
    SCOPED_TRACE(piece);
    const TLog log = logtest::ReadInPieces(bytes, piece);
    ASSERT_TRUE(log.Ok()) << log.Error;
    ASSERT_EQ(log.Times, whole.Times);
    ASSERT_EQ(log.Channels.size(), whole.Channels.size());
    for (std::size_t c = 0; c < log.Channels.size(); ++c) {
      ASSERT_EQ(log.Channels[c].Name, whole.Channels[c].Name);
      ASSERT_EQ(log.Channels[c].Unit, whole.Channels[c].Unit);
      for (std::size_t r = 0; r < log.Rows(); ++r) {
        const float a = log.Channels[c].Values[r];
        const float b = whole.Channels[c].Values[r];
        ASSERT_TRUE(a == b || (std::isnan(a) && std::isnan(b))) << c << " " << r;
      }
    }
    ASSERT_EQ(log.Warnings, whole.Warnings);
    ASSERT_EQ(log.SkippedRecords, whole.SkippedRecords);
    ASSERT_EQ(log.Start.has_value(), whole.Start.has_value());
    ASSERT_EQ(log.Start->Seconds, whole.Start->Seconds);
  }
}

}  // namespace
}  // namespace datalogtest
