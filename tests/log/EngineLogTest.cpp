// Engine logs read back: MLG files of both versions built byte by byte, MSL and delimited text in
// each of their forms, the format told from the first bytes, and every kind of broken file, each
// ending in a message that names the file and where, or in what was whole being kept.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "log/Log.h"
#include "log/LogSniffer.h"
#include "log/MlgReader.h"
#include "log/TextLogReader.h"
#include "tests/log/MlgBuilder.h"
#include "tests/log/ReadInPieces.h"

namespace enginelog {
namespace {

using logtest::TMlgBuilder;

const std::vector<float>& Values(const TLog& log, const std::string& name) {
  static const std::vector<float> None;
  const int index = log.FindChannel(name);
  EXPECT_GE(index, 0) << "no channel " << name;
  return index < 0 ? None : log.Channels[static_cast<std::size_t>(index)].Values;
}

std::string AllWarnings(const TLog& log) {
  std::string text;
  for (const std::string& warning : log.Warnings) text += warning + "\n";
  return text;
}

// Each field type with a raw value, scale and transform, and the value they make.
struct TTypeCase {
  std::uint8_t Type;
  double Raw;
  float Scale;
  float Transform;
  double Expected;
};

TEST(MlgReader, EveryFieldTypeScaledAndTransformedInBothVersions) {
  const std::vector<TTypeCase> cases = {
      {0, 200, 0.5f, 0, 100},           // U08
      {1, -100, 1, 40, -60},            // S08: (raw + transform) * scale
      {2, 60000, 0.1f, 0, 6000},        // U16
      {3, -1234, 0.01f, 0, -12.34},     // S16
      {4, 3000000000.0, 1, 0, 3e9},     // U32
      {5, -70000, 0.001f, 100, -69.9},  // S32
      {6, -5000000000.0, 1, 0, -5e9},   // S64
      {7, 14.7, 2, -0.7f, 28},          // F32
      {3, -40, 1.8f, 17.7778f, -40},    // a temperature in Fahrenheit, stored in Celsius
  };
  for (const int version : {1, 2}) {
    SCOPED_TRACE("version " + std::to_string(version));
    TMlgBuilder builder(version, 1700000000);
    std::vector<double> raw;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      builder.Field(cases[i].Type, "F" + std::to_string(i), "u" + std::to_string(i), cases[i].Scale,
                    cases[i].Transform);
      raw.push_back(cases[i].Raw);
    }
    builder.Record(100, raw);
    const TLog log = ReadEngineLog(builder.Bytes(), "drive.mlg");
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_EQ(log.Format, TFileFormat::Mlg);
    ASSERT_EQ(log.Channels.size(), cases.size());
    ASSERT_TRUE(log.Start.has_value());
    EXPECT_EQ(log.Start->Seconds, 1700000000);
    EXPECT_EQ(log.Start->UtcOffsetSeconds, 0);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE("field " + std::to_string(i));
      EXPECT_EQ(log.Channels[i].Name, "F" + std::to_string(i));
      EXPECT_EQ(log.Channels[i].Unit, "u" + std::to_string(i));
      ASSERT_EQ(log.Channels[i].Values.size(), 1u);
      EXPECT_NEAR(log.Channels[i].Values[0], cases[i].Expected,
                  std::abs(cases[i].Expected) * 1e-6 + 1e-3);
    }
  }
}

// Time stamps in 10 us steps that wrap at 65536, markers among the records, and a Time field that
// shows a pause longer than the stamp can.
TEST(MlgReader, TimeStampsUnwrapAndMarkersKeepTheirPlace) {
  struct TCase {
    const char* Name;
    bool TimeField;
    std::vector<std::pair<std::uint16_t, double>> Records;  // stamp, Time field value
    std::vector<double> Times;
  };
  const std::vector<TCase> cases = {
      {"plain", false, {{1000, 0}, {2000, 0}, {3000, 0}}, {0, 0.01, 0.02}},
      {"wraps", false, {{65000, 0}, {500, 0}, {2536, 0}}, {0, 0.01036, 0.03072}},
      {"pause seen by the Time field",
       true,
       {{100, 10.0}, {600, 10.005}, {600, 12.6264}},
       {0, 0.005, 0.005 + 4 * 0.65536}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TMlgBuilder builder(2);
    builder.Field(c.TimeField ? 5 : 2, c.TimeField ? "Time" : "RPM", c.TimeField ? "s" : "rpm",
                  c.TimeField ? 0.0001f : 1);
    for (std::size_t i = 0; i < c.Records.size(); ++i) {
      builder.Record(c.Records[i].first, {c.Records[i].second * 10000});
      if (i == 0) builder.Marker(static_cast<std::uint16_t>(c.Records[0].first + 250), "pull 1");
    }
    const TLog log = ReadEngineLog(builder.Bytes(), "t.mlg");
    ASSERT_TRUE(log.Ok()) << log.Error;
    ASSERT_EQ(log.Times.size(), c.Times.size());
    for (std::size_t i = 0; i < c.Times.size(); ++i) EXPECT_NEAR(log.Times[i], c.Times[i], 1e-9);
    ASSERT_EQ(log.Markers.size(), 1u);
    EXPECT_EQ(log.Markers[0].Text, "pull 1");
    EXPECT_NEAR(log.Markers[0].Time, 0.0025, 1e-9);
    EXPECT_FALSE(log.Start.has_value()) << "a zero start stamp is no start time";
  }
}

TMlgBuilder TwoFields(int version = 2) {
  TMlgBuilder builder(version, 1);
  builder.Field(2, "RPM", "rpm").Field(0, "TPS", "%");
  return builder;
}

TMlgBuilder WithRecords(TMlgBuilder builder, int count) {
  for (int i = 0; i < count; ++i) builder.Record(static_cast<std::uint16_t>(i * 100), {1000, 5});
  return builder;
}

// Broken files: a message naming the file and the byte, or what was whole kept with a warning.
TEST(MlgReader, BrokenFilesFailWithTheFileAndTheByteOrKeepWhatWasWhole) {
  struct TCase {
    const char* Name;
    std::function<std::string()> Bytes;
    const char* Error;    // expected in Error; nullptr: the log reads
    const char* Warning;  // expected among the warnings
    std::size_t Rows;
    std::uint64_t Skipped;
  };
  const std::vector<TCase> cases = {
      {"header cut short", [] { return TwoFields().Bytes().substr(0, 15); }, "ends at byte 15",
       nullptr, 0, 0},
      {"wrong signature",
       [] {
         std::string bytes = TwoFields().Bytes();
         bytes[0] = 'X';
         return bytes;
       },
       "MLG signature", nullptr, 0, 0},
      {"unknown version",
       [] {
         return "MLVLG" + std::string(1, '\0') + std::string("\0\3", 2) + std::string(30, '\0');
       },
       "version 3", nullptr, 0, 0},
      {"no fields",
       [] {
         TMlgBuilder b = TwoFields();
         b.FieldCount = 0;
         return b.Bytes();
       },
       "declares no fields", nullptr, 0, 0},
      {"more fields than fit before the records",
       [] {
         TMlgBuilder b = TwoFields();
         b.FieldCount = 500;
         return b.Bytes();
       },
       "500 field descriptors end at byte 44524", nullptr, 0, 0},
      {"records start past the end of the file",
       [] {
         TMlgBuilder b = TwoFields();
         b.DataBegin = 100000;
         return b.Bytes().substr(0, 300);
       },
       "past the end of the file (300 bytes)", nullptr, 0, 0},
      {"record length that is not the fields'",
       [] {
         TMlgBuilder b = WithRecords(TwoFields(), 2);
         b.RecordLength = 7;
         return b.Bytes();
       },
       "declared 7 bytes long (byte 20), but its fields take 3", nullptr, 0, 0},
      {"unknown field type",
       [] {
         TMlgBuilder b = TwoFields();
         b.Field(9, "Knock", "");
         return b.Bytes();
       },
       "field 3 (descriptor at byte 202) has the unknown type 9", nullptr, 0, 0},
      {"no records", [] { return TwoFields().Bytes(); }, "holds no records", nullptr, 0, 0},
      {"last record cut short",
       [] {
         const std::string bytes = WithRecords(TwoFields(), 3).Bytes();
         return bytes.substr(0, bytes.size() - 2);
       },
       nullptr, "is cut short (6 of 8 bytes)", 2, 1},
      {"unknown block type after two records",
       [] { return WithRecords(TwoFields(), 2).Raw(std::string("\7junkjunk")).Bytes(); }, nullptr,
       "unknown block type 7 at byte", 2, 0},
      {"one record with a wrong checksum",
       [] {
         TMlgBuilder b = WithRecords(TwoFields(), 2);
         b.ChecksumError = 1;
         b.Record(300, {1, 1});
         b.ChecksumError = 0;
         b.Record(400, {1, 1});
         return b.Bytes();
       },
       nullptr, "1 records fail their checksum", 3, 1},
      {"every checksum another writer's",
       [] {
         TMlgBuilder b = TwoFields();
         b.ChecksumError = 3;
         return WithRecords(b, 3).Bytes();
       },
       nullptr, "no record's checksum is the sum", 3, 0},
      {"version 1 with the same faults tolerated",
       [] {
         const std::string bytes = WithRecords(TwoFields(1), 4).Bytes();
         return bytes.substr(0, bytes.size() - 1);
       },
       nullptr, "cut short (7 of 8 bytes)", 3, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TLog log = ReadMlg(c.Bytes(), "bad.mlg");
    if (c.Error) {
      EXPECT_NE(log.Error.find(c.Error), std::string::npos) << log.Error;
      EXPECT_EQ(log.Error.rfind("bad.mlg: ", 0), 0u) << log.Error;
      EXPECT_TRUE(log.Times.empty() && log.Channels.empty());
      continue;
    }
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_NE(AllWarnings(log).find(c.Warning), std::string::npos) << AllWarnings(log);
    EXPECT_EQ(log.Rows(), c.Rows);
    EXPECT_EQ(log.SkippedRecords, c.Skipped);
    for (const TChannel& channel : log.Channels) EXPECT_EQ(channel.Values.size(), log.Rows());
  }
}

struct TTextCase {
  const char* Name;
  std::string Text;
  TFileFormat Format;
  std::vector<std::string> Channels;  // names in order
  std::vector<std::string> Units;
  std::vector<double> Times;
  std::string Probe;  // a channel whose values are checked
  std::vector<double> ProbeValues;
  std::vector<std::string> Markers;
  std::optional<std::int64_t> StartSeconds;  // civil seconds since 1970 of the first record
};

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t May1st2024 = 19844LL * 86400;  // 2024-05-01 00:00:00

TEST(TextLogReader, EachDelimiterDecimalAndTimeForm) {
  const std::vector<TTextCase> cases = {
      {"msl with header lines",
       "\"MS3 Format 0435.12P\"\r\n\"Capture Date: Wed May 01 12:30:00 UTC 2024\"\r\n"
       "Time\tRPM\tAFR\r\ns\trpm\tAFR\r\n0.000\t900\t14.7\r\n0.050\t950\t14.5\r\nMARK 000 pull\r\n"
       "0.100\t1000\t13.9\r\n",
       TFileFormat::Msl,
       {"RPM", "AFR"},
       {"rpm", "AFR"},
       {0, 0.05, 0.1},
       "AFR",
       {14.7, 14.5, 13.9},
       {"000 pull"},
       May1st2024 + 12 * 3600 + 30 * 60},
      {"msl without header lines",
       "Time\tRPM\tMAP\ns\trpm\tkPa\n1.5\t900\t35\n1.6\t910\t36\n",
       TFileFormat::Msl,
       {"RPM", "MAP"},
       {"rpm", "kPa"},
       {1.5, 1.6},
       "MAP",
       {35, 36},
       {},
       std::nullopt},
      {"comma, point, units in the names, seconds",
       "Time (s),Engine Speed (rpm),Lambda\n0.0,800,1.00\n0.1,820,0.98\n0.2,850,0.97\n",
       TFileFormat::Text,
       {"Engine Speed", "Lambda"},
       {"rpm", ""},
       {0, 0.1, 0.2},
       "Lambda",
       {1.0, 0.98, 0.97},
       {},
       std::nullopt},
      {"semicolon, decimal comma, milliseconds, header date",
       "Log started 01.05.2024 08:15:30\nTime;RPM;Boost\nms;1/min;bar\n0;900;0,1\n20;910;0,25\n"
       "40;950;1,5\n",
       TFileFormat::Text,
       {"RPM", "Boost"},
       {"1/min", "bar"},
       {0, 0.02, 0.04},
       "Boost",
       {0.1, 0.25, 1.5},
       {},
       May1st2024 + 8 * 3600 + 15 * 60 + 30},
      {"tab, clock time past midnight, date above",
       "Date: 2024-05-01\nTime\tRPM\n23:59:59.5\t1000\n23:59:59.9\t1100\n00:00:00.3\t1200\n",
       TFileFormat::Text,
       {"RPM"},
       {""},
       {86399.5, 86399.9, 86400.3},
       "RPM",
       {1000, 1100, 1200},
       {},
       May1st2024 + 86399},
      {"sparse cells carry the last value, text column left out",
       "time,rpm,gear,afr\n0.0,,N,\n0.1,900,N,14.1\n0.2,,1,\n0.3,950,1,13.8\n",
       TFileFormat::Text,
       {"rpm", "afr"},
       {"", ""},
       {0, 0.1, 0.2, 0.3},
       "rpm",
       {NaN, 900, 900, 950},
       {},
       std::nullopt},
      {"quoted names, date and time in each row",
       "\"Timestamp\",\"RPM\"\n2024-05-01 10:00:00.000,800\n2024-05-01 10:00:00.250,810\n",
       TFileFormat::Text,
       {"RPM"},
       {""},
       {36000, 36000.25},
       "RPM",
       {800, 810},
       {},
       May1st2024 + 36000},
  };
  for (const TTextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TLog log = ReadEngineLog(c.Text, "engine.csv");
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_EQ(log.Format, c.Format);
    EXPECT_TRUE(log.Warnings.empty()) << AllWarnings(log);
    ASSERT_EQ(log.Channels.size(), c.Channels.size());
    for (std::size_t i = 0; i < c.Channels.size(); ++i) {
      EXPECT_EQ(log.Channels[i].Name, c.Channels[i]);
      EXPECT_EQ(log.Channels[i].Unit, c.Units[i]);
    }
    ASSERT_EQ(log.Times.size(), c.Times.size());
    for (std::size_t i = 0; i < c.Times.size(); ++i) EXPECT_NEAR(log.Times[i], c.Times[i], 1e-6);
    const std::vector<float>& values = Values(log, c.Probe);
    ASSERT_EQ(values.size(), c.ProbeValues.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (std::isnan(c.ProbeValues[i])) {
        EXPECT_TRUE(std::isnan(values[i])) << i;
      } else {
        EXPECT_NEAR(values[i], c.ProbeValues[i], 1e-5) << i;
      }
    }
    ASSERT_EQ(log.Markers.size(), c.Markers.size());
    for (std::size_t i = 0; i < c.Markers.size(); ++i) EXPECT_EQ(log.Markers[i].Text, c.Markers[i]);
    ASSERT_EQ(log.Start.has_value(), c.StartSeconds.has_value());
    if (c.StartSeconds) {
      EXPECT_EQ(log.Start->Seconds, *c.StartSeconds);
    }
  }
}

// The offset from UTC after a header's time, in each form it is written; without one the start
// is in the reader's local zone.
TEST(TextLogReader, ZoneAfterTheStartTime) {
  const std::vector<std::pair<std::string, std::optional<int>>> cases = {
      {"+02:00", 7200}, {"+0200", 7200}, {"-0330", -12600}, {"-3:30", -12600},
      {"UTC+01", 3600}, {"GMT", 0},      {"Z", 0},          {"", std::nullopt},
  };
  for (const auto& [zone, offset] : cases) {
    SCOPED_TRACE(zone);
    bool hasTime = false;
    const auto start = FindDateTime("started 2024-05-01 08:15:30 " + zone, hasTime);
    ASSERT_TRUE(start);
    EXPECT_TRUE(hasTime);
    EXPECT_EQ(start->Seconds, May1st2024 + 8 * 3600 + 15 * 60 + 30);
    EXPECT_EQ(start->UtcOffsetSeconds, offset);
  }
}

TEST(TextLogReader, BadRowsAreCountedWithTheirLineAndUnreadableFilesFail) {
  struct TCase {
    const char* Name;
    std::string Text;
    const char* Error;
    const char* Warning;
    std::size_t Rows;
  };
  const std::vector<TCase> cases = {
      {"too many cells", "Time,RPM\n0,900\n1,910,7\n2,920\n", nullptr,
       "1 rows are left out (the first at line 3: 3 cells where the header has 2)", 2},
      {"too few cells", "Time,RPM,MAP\n0,900,30\n1,910\n2,920,32\n", nullptr,
       "fewer cells than the header (the first at line 3)", 3},
      {"a cell that is no number", "Time;RPM\n0;900\n1;fast\n2;920\n3;930\n4;940\n", nullptr,
       "1 cells are not numbers (the first at line 3: 'fast' in RPM)", 5},
      {"a row without its time", "Time,RPM\n0,900\n,910\n2,920\n", nullptr,
       "(the first at line 3: no time in column Time)", 2},
      {"no rows at all", "Time,RPM\n", "not an engine log", nullptr, 0},
      {"prose", "Dear diary,\nthe car ran lean today.\n", "not an engine log", nullptr, 0},
      {"binary junk", std::string("\x01\x02\0\xff garbage", 12), "not an engine log", nullptr, 0},
      {"empty", "", "not an engine log", nullptr, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TLog log = ReadEngineLog(c.Text, "engine.csv");
    if (c.Error) {
      EXPECT_NE(log.Error.find(c.Error), std::string::npos) << log.Error;
      EXPECT_EQ(log.Error.rfind("engine.csv: ", 0), 0u) << log.Error;
      continue;
    }
    ASSERT_TRUE(log.Ok()) << log.Error;
    EXPECT_NE(AllWarnings(log).find(c.Warning), std::string::npos) << AllWarnings(log);
    EXPECT_EQ(log.Rows(), c.Rows);
  }
}

TEST(LogSniffer, TellsEachLogFromItsFirstBytes) {
  const std::string ourMsl =
      "\"kestlog 1.1.0\"\r\n\"Capture Date: 2026-12-08T23:30:31.046+00:00\"\r\n"
      "Time\tAFR\tVolts\tLambda\tTemp\tStatus\r\ns\tAFR\tV\tlambda\tcode\tcode\r\n"
      "0.000\t14.70\t13.80\t1.000\t740\t0\r\n";
  const std::string foreignMsl = "\"other 2.0\"\r\n" + ourMsl.substr(ourMsl.find("\r\n") + 2);
  const std::vector<std::pair<std::string, TLogFormat>> cases = {
      {"Torvane KEST datalog.  12/08/26\r\nTime, AFR or LAMBDA, Supply "
       "volts\r\n08:00:00,14.7,13.2\r\n",
       TLogFormat::Ours},
      {"time,reading,afr,lambda,volts,temp,status\n2026-08-12T08:00:00+02:00,14.7,14.7,1.00,"
       "13.2,740,live\n",
       TLogFormat::Ours},
      {TwoFields().Record(0, {1, 2}).Bytes(), TLogFormat::Mlg},
      {"\"sig\"\nTime\tRPM\ns\trpm\n0\t900\n", TLogFormat::Msl},
      {ourMsl, TLogFormat::Ours},
      {"\"kestview\"\n\"Capture Date: 14:03:27.123\"\nTime\tLambda\tVolts\ns\tlambda\tV\n",
       TLogFormat::Ours},
      {foreignMsl, TLogFormat::Msl},
      {"\"kestlog 1.1.0\"\nTime\tRPM\ns\trpm\n0\t900\n", TLogFormat::Msl},
      {"\"kestlogger 1.1.0\"\n\"Capture Date: "
       "14:03:27.123\"\nTime\tAFR\tVolts\ns\tAFR\tV\n0.000\t14.70\t13.80\n",
       TLogFormat::Msl},
      {"Time,RPM\n0,900\n0.1,910\n", TLogFormat::Text},
      {std::string("\x89PNG\r\n\x1a\n\0\0", 10), TLogFormat::None},
      {"just some words\n", TLogFormat::None},
  };
  for (const auto& [bytes, format] : cases) {
    EXPECT_EQ(SniffLogFormat(bytes, true), format) << bytes.substr(0, 30);
  }
  // kestlog has written part of its header so far: what there is of it is ours.
  EXPECT_EQ(SniffLogFormat(ourMsl.substr(0, ourMsl.find("Time") + 6), false), TLogFormat::Ours);
}

// Pieces of any size read as the whole file does: records and lines split anywhere, CR LF split
// between its two bytes.
TEST(EngineLogReader, PiecesOfAnySizeReadAsTheWhole) {
  TMlgBuilder mlg = TwoFields();
  for (int i = 0; i < 40; ++i)
    mlg.Record(static_cast<std::uint16_t>(i * 3000), {i * 10.0, static_cast<double>(i)});
  mlg.Marker(500, "m");
  std::string text = "\"sig\"\r\nTime\tRPM\tAFR\r\ns\trpm\tAFR\r\n";
  // Longer than the first look at a text log, so that its rows are read piece by piece.
  for (int i = 0; i < 4000; ++i) {
    text += std::to_string(i * 0.05) + "\t" + std::to_string(900 + i) + "\t14." +
            std::to_string(i % 10) + "\r\n";
  }
  std::string dataLog =
      "%DataLog%\r\nChannel : RPM\r\nType : EngineSpeed\r\nLog : 20250718 01:00:00\r\n";
  for (int i = 0; i < 40; ++i) {
    dataLog += "13:00:0" + std::to_string(i / 10) + "." + std::to_string(i % 10) + "00,0," +
               std::to_string(900 + i) + "\r\n";
  }
  for (const std::string& bytes : {mlg.Bytes(), text, dataLog}) {
    const TLog whole = ReadEngineLog(bytes, "x");
    ASSERT_TRUE(whole.Ok()) << whole.Error;
    for (const std::size_t piece : {1u, 2u, 7u, 33u}) {
      SCOPED_TRACE(piece);
      const TLog log = logtest::ReadInPieces(bytes, piece);
      ASSERT_TRUE(log.Ok()) << log.Error;
      EXPECT_EQ(log.Format, whole.Format);
      EXPECT_EQ(log.Times, whole.Times);
      ASSERT_EQ(log.Channels.size(), whole.Channels.size());
      for (std::size_t c = 0; c < log.Channels.size(); ++c) {
        EXPECT_EQ(log.Channels[c].Values, whole.Channels[c].Values);
      }
      EXPECT_EQ(log.Markers.size(), whole.Markers.size());
      EXPECT_EQ(log.Warnings, whole.Warnings);
    }
  }
}

TEST(EngineLogReader, FilesAreReadOrNamedInTheMessage) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("kest_engine_" + std::to_string(::getpid()) + ".mlg");
  {
    std::ofstream out(path, std::ios::binary);
    out << TwoFields().Record(0, {3000, 50}).Record(2000, {3100, 52}).Bytes();
  }
  const TLog log = ReadEngineLogFile(path.string(), "drive.mlg");
  std::filesystem::remove(path);
  ASSERT_TRUE(log.Ok()) << log.Error;
  EXPECT_EQ(log.Rows(), 2u);
  EXPECT_EQ(Values(log, "rpm"), (std::vector<float>{3000, 3100}));

  const TLog missing = ReadEngineLogFile(path.string(), "gone.mlg");
  EXPECT_EQ(missing.Error.rfind("gone.mlg: cannot be opened", 0), 0u) << missing.Error;
}

}  // namespace
}  // namespace enginelog

namespace enginelog {
namespace {

bool SameValue(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// What is wrong with `part`, the log of a file followed up to some byte, as a part of `whole`: an
// error, or a record that is not one of the whole's first (a record shown before all of it came);
// empty when nothing is.
std::string NotAPartOf(const TLog& part, const TLog& whole) {
  if (!part.Ok()) return "error: " + part.Error;
  if (part.Rows() > whole.Rows()) return "more rows than the whole";
  if (!part.Channels.empty() && part.Channels.size() != whole.Channels.size()) {
    return "other channels than the whole";
  }
  for (std::size_t r = 0; r < part.Rows(); ++r) {
    if (part.Times[r] != whole.Times[r]) return "the time of row " + std::to_string(r);
    for (std::size_t c = 0; c < part.Channels.size(); ++c) {
      if (!SameValue(part.Channels[c].Values[r], whole.Channels[c].Values[r])) {
        return "row " + std::to_string(r) + " of " + part.Channels[c].Name;
      }
    }
  }
  return {};
}

// A followed engine log, cut at every byte (the header, a record or a line split anywhere) and
// fed a byte at a time: no error while it grows, only whole records shown, every record shown
// once all its bytes are there (a text log's rows before a first look's worth of bytes came), and
// at its end the log that reading it whole gives.
TEST(EngineLogReader, FollowedLogsCutAnywhereReadAsTheWhole) {
  TMlgBuilder mlg = TwoFields();
  for (int i = 0; i < 30; ++i) {
    mlg.Record(static_cast<std::uint16_t>(i * 1000), {900.0 + i * 7, static_cast<double>(i)});
    if (i == 12) mlg.Marker(static_cast<std::uint16_t>(i * 1000 + 1), "lap");
  }
  std::string text = "Log started 2024-05-01 12:00:00\nTime (s),RPM,MAP (kPa)\n";
  for (int i = 0; i < 80; ++i) {
    text += std::to_string(i * 0.05).substr(0, 4) + "," + std::to_string(900 + i * 3) + "," +
            std::to_string(40 + i % 7) + "\n";
  }
  std::string msl = "\"sig\"\r\nTime\tRPM\tAFR\r\ns\trpm\tAFR\r\n";
  for (int i = 0; i < 70; ++i) {
    msl += std::to_string(i * 0.1).substr(0, 4) + "\t" + std::to_string(900 + i) + "\t14." +
           std::to_string(i % 10) + "\r\n";
  }
  std::string dataLog =
      "%DataLog%\r\nChannel : RPM\r\nType : EngineSpeed\r\nLog : 20250718 01:00:00\r\n";
  for (int i = 0; i < 30; ++i) {
    dataLog += "13:00:0" + std::to_string(i / 10) + "." + std::to_string(i % 10) + "00,0," +
               std::to_string(900 + i) + "\r\n";
  }
  const struct {
    const char* Name;
    std::string Bytes;
  } cases[] = {{"mlg", mlg.Bytes()}, {"text", text}, {"msl", msl}, {"datalog", dataLog}};
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    ASSERT_LT(bytes.size(), SniffBytes);
    const TLog whole = ReadEngineLog(bytes, "x");
    ASSERT_TRUE(whole.Ok()) << whole.Error;
    ASSERT_GE(whole.Rows(), 30u);
    std::vector<std::vector<std::size_t>> growths;
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) growths.push_back({cut, bytes.size()});
    growths.emplace_back();
    for (std::size_t end = 1; end <= bytes.size(); ++end) growths.back().push_back(end);
    for (const std::vector<std::size_t>& ends : growths) {
      std::string fault;
      const TLog log = logtest::FollowInPieces(bytes, ends, [&](const TLog& part, std::size_t at) {
        if (!fault.empty()) return;
        fault = NotAPartOf(part, whole);
        if (fault.empty() && at == bytes.size() && part.Rows() != whole.Rows()) {
          fault = "only " + std::to_string(part.Rows()) + " rows shown of the whole file";
        }
        if (!fault.empty()) fault += " (at byte " + std::to_string(at) + ")";
      });
      const std::string cut = ends.size() == 2 ? "cut at " + std::to_string(ends[0]) : "bytewise";
      ASSERT_EQ(fault, "") << cut;
      ASSERT_EQ(NotAPartOf(log, whole), "") << cut;
      ASSERT_EQ(log.Rows(), whole.Rows()) << cut;
      ASSERT_EQ(log.Format, whole.Format) << cut;
      ASSERT_EQ(log.Markers.size(), whole.Markers.size()) << cut;
      ASSERT_EQ(log.Warnings, whole.Warnings) << cut;
    }
  }
}

}  // namespace
}  // namespace enginelog
