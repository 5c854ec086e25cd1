// Reading logs back: every form the writers produce in any locale, and every kind of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "log/CsvLog.h"
#include "log/MslLog.h"
#include "log/RowFormat.h"
#include "sensor/Reading.h"
#include "sensor/SensorFrame.h"
#include "viewer/logs/OurLog.h"
#include "viewer/logs/Summary.h"

namespace {

using viewer::ParseLogText;
using viewer::TLog;
using viewer::TReadingKind;

std::string ClassicLog(const std::string& date, const std::vector<std::string>& rows,
                       const std::string& lineEnd = "\r\n") {
  std::string text = csvlog::LogHeaderLine1(date) + lineEnd + csvlog::LogHeaderLine2 + lineEnd;
  for (const std::string& row : rows) text += row + lineEnd;
  return text;
}

// Rows one tenth of a second apart from `startSecond` (seconds since midnight), ten to a second.
std::vector<std::string> TenPerSecond(int startSecond, int seconds, const std::string& value,
                                      const std::string& volts, const char* separator = ",") {
  std::vector<std::string> rows;
  for (int s = startSecond; s < startSecond + seconds; ++s) {
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", s / 3600 % 24, s / 60 % 60, s % 60);
    for (int i = 0; i < 10; ++i)
      rows.push_back(std::string(time) + separator + value + separator + volts);
  }
  return rows;
}

TEST(LogParserTest, ReadsTheFormsOfEveryLocale) {
  struct TCase {
    const char* Name;
    std::string Text;
    std::string Separator;
    bool TwelveHour;
    int Year, Month, Day;
    double FirstTime;  // seconds since midnight of the first row's second (+ its place)
    float Value;
    TReadingKind Kind;
    float Volts;
  };
  const std::vector<TCase> cases = {
      {"US", ClassicLog("12/08/26", {"2:03:27 PM,14.7,12.5"}), ".", true, 2026, 12, 8,
       14 * 3600 + 3 * 60 + 27, 14.7f, TReadingKind::Afr, 12.5f},
      {"US zero-padded", ClassicLog("12/08/2026", {"02:03:27 PM,1.00,12.5"}), ".", true, 2026, 12,
       8, 14 * 3600 + 3 * 60 + 27, 1.00f, TReadingKind::Lambda, 12.5f},
      {"German", ClassicLog("08.12.2026", {"14:03:27,14,7,12,5"}), ",", false, 2026, 12, 8,
       14 * 3600 + 3 * 60 + 27, 14.7f, TReadingKind::Afr, 12.5f},
      {"German lambda", ClassicLog("08.12.2026", {"14:03:27,0,68,9,0"}), ",", false, 2026, 12, 8,
       14 * 3600 + 3 * 60 + 27, 0.68f, TReadingKind::Lambda, 9.0f},
      {"ISO", ClassicLog("2026-12-08", {"14:03:27,21.1,16.0"}), ".", false, 2026, 12, 8,
       14 * 3600 + 3 * 60 + 27, 21.1f, TReadingKind::Afr, 16.0f},
      {"day first by value", ClassicLog("25/12/2026", {"00:00:00,4.4,0.0"}), ".", false, 2026, 12,
       25, 0, 4.4f, TReadingKind::Afr, 0.0f},
      {"midnight in 12-hour", ClassicLog("12/08/26", {"12:00:05 AM,14.7,12.5"}), ".", true, 2026,
       12, 8, 5, 14.7f, TReadingKind::Afr, 12.5f},
      {"noon in 12-hour", ClassicLog("12/08/26", {"12:00:05 p.m.,14.7,12.5"}), ".", true, 2026, 12,
       8, 12 * 3600 + 5, 14.7f, TReadingKind::Afr, 12.5f},
      {"dotted time", ClassicLog("8.12.26", {"14.03.27,14,7,12,5"}), ",", false, 2026, 12, 8,
       14 * 3600 + 3 * 60 + 27, 14.7f, TReadingKind::Afr, 12.5f},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const viewer::TLog log = ParseLogText(c.Text, "run.txt");
    ASSERT_EQ(log.Error, "");
    EXPECT_EQ(log.Format, viewer::TFileFormat::Classic);
    EXPECT_EQ(log.Ours.DecimalSeparator, c.Separator);
    EXPECT_EQ(log.Ours.TwelveHourClock, c.TwelveHour);
    EXPECT_EQ(log.Ours.Date.Year, c.Year);
    EXPECT_EQ(log.Ours.Date.Month, c.Month);
    EXPECT_EQ(log.Ours.Date.Day, c.Day);
    ASSERT_EQ(log.Rows(), 1u);
    EXPECT_EQ(log.SkippedRecords, 0u);
    EXPECT_GE(log.Times[0], c.FirstTime);
    EXPECT_LT(log.Times[0], c.FirstTime + 1);
    EXPECT_FLOAT_EQ(viewer::SampleAt(log, 0).Value, c.Value);
    EXPECT_EQ(viewer::SampleAt(log, 0).Kind, c.Kind);
    EXPECT_FLOAT_EQ(viewer::SampleAt(log, 0).Volts, c.Volts);
  }
}

// Every row the window can write, in both separators, read back as what was written: all 256
// mixture bytes for every fuel and both display modes, against all 256 voltage codes.
TEST(LogParserTest, EveryReachableRowReadsBackInBothSeparators) {
  for (const std::string separator : {".", ","}) {
    std::string text = csvlog::LogHeaderLine1("08.12.2026") + "\r\n";
    std::vector<std::pair<std::string, std::string>> written;
    std::string row;
    for (int mode : {sensor::dmAirFuelRatio, sensor::dmLambda}) {
      for (int fuel : {sensor::ftPetrol, sensor::ftMethanol, sensor::ftPropane}) {
        for (int afrByte = 0; afrByte < 256; ++afrByte) {
          for (int voltsByte = 0; voltsByte < 256; ++voltsByte) {
            csvlog::TSample sample;
            sample.Frame.AfrByte = static_cast<std::uint8_t>(afrByte);
            sample.SupplyVolts = sensor::SupplyVoltsOf(static_cast<std::uint8_t>(voltsByte));
            sample.DisplayMode = mode;
            sample.FuelType = fuel;
            text += csvlog::ClassicRow(row, "14:03:27", sample, separator) + "\r\n";
            const double reading = sensor::CalcKest(sample.Frame.AfrByte, mode, fuel);
            written.emplace_back(sensor::ReadingText(reading, mode, "."),
                                 sensor::VoltageText(sample.SupplyVolts, "."));
          }
        }
      }
    }
    const viewer::TLog log = ParseLogText(text, "all.txt");
    ASSERT_EQ(log.Error, "");
    EXPECT_EQ(log.SkippedRecords, 0u)
        << (log.Ours.FirstBadLines.empty() ? "" : log.Ours.FirstBadLines[0].Reason);
    ASSERT_EQ(log.Rows(), written.size());
    EXPECT_EQ(log.Ours.DecimalSeparator, separator);
    for (std::size_t i = 0; i < written.size(); ++i) {
      const viewer::TSample& sample = viewer::SampleAt(log, i);
      const std::string& reading = written[i].first;
      ASSERT_FLOAT_EQ(sample.Value, std::stof(reading)) << "row " << i << ": " << reading;
      ASSERT_EQ(sample.Kind,
                reading.size() - reading.find('.') == 3 ? TReadingKind::Lambda : TReadingKind::Afr)
          << reading;
      ASSERT_FLOAT_EQ(sample.Volts, std::stof(written[i].second)) << written[i].second;
    }
  }
}

TEST(LogParserTest, MidnightAdvancesTheDay) {
  const viewer::TLog us = ParseLogText(
      ClassicLog("12/31/26",
                 {"11:59:59 PM,14.7,12.5", "12:00:00 AM,14.8,12.5", "12:00:01 AM,14.9,12.5"}),
      "night.txt");
  ASSERT_EQ(us.Rows(), 3u);
  EXPECT_LT(us.Times[0], 86400);
  EXPECT_GE(us.Times[1], 86400);
  EXPECT_LT(us.Times[1], 86401);
  EXPECT_GE(us.Times[2], 86401);
  // Two days: the second midnight adds another.
  std::vector<std::string> rows;
  for (int s : {86399, 0, 43200, 86399, 0}) {
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    rows.push_back(std::string(time) + ",14.7,12.5");
  }
  const viewer::TLog twoDays = ParseLogText(ClassicLog("2026-12-08", rows), "two.txt");
  ASSERT_EQ(twoDays.Rows(), 5u);
  EXPECT_GE(twoDays.Times[4], 2 * 86400);
  for (std::size_t i = 1; i < twoDays.Rows(); ++i) {
    EXPECT_GT(twoDays.Times[i], twoDays.Times[i - 1]);
  }
}

TEST(LogParserTest, RowsOfOneSecondSpreadOverIt) {
  // A cut first second, three whole ones, a cut last one; the readings vary as a live sensor's do.
  std::vector<std::string> rows;
  auto add = [&rows](int second, int count) {
    for (int i = 0; i < count; ++i) {
      rows.push_back("10:00:0" + std::to_string(second) + (rows.size() % 2 ? ",14.6" : ",14.8") +
                     ",12.5");
    }
  };
  add(0, 4);
  for (int s = 1; s <= 3; ++s) add(s, 10);
  add(4, 2);
  const viewer::TLog log = ParseLogText(ClassicLog("2026-12-08", rows), "spread.txt");
  ASSERT_EQ(log.Rows(), 36u);
  EXPECT_NEAR(log.Ours.SampleInterval, 0.1, 1e-9);
  const double start = 36000;
  // The cut first second ends where the next begins: its rows are its last four tenths.
  EXPECT_NEAR(log.Times[0], start + 0.65, 1e-9);
  EXPECT_NEAR(log.Times[3], start + 0.95, 1e-9);
  EXPECT_NEAR(log.Times[4], start + 1.05, 1e-9);
  EXPECT_NEAR(log.Times[34], start + 4.05, 1e-9);
  EXPECT_NEAR(log.Times[35], start + 4.15, 1e-9);
  for (std::size_t i = 1; i < log.Rows(); ++i) {
    EXPECT_FALSE(viewer::IsGapBefore(log, i)) << i;
  }
}

TEST(LogParserTest, GapsAndRepeatsBreakTheTrace) {
  // Warm-up or a closed port: rows stop for seconds. A silent controller: equal rows.
  std::vector<std::string> rows = TenPerSecond(36000, 3, "14.7", "12.5");
  for (const auto& row : TenPerSecond(36010, 2, "13.1", "12.4")) rows.push_back(row);
  for (const auto& row : TenPerSecond(36012, 3, "13.2", "12.4")) rows.push_back(row);
  for (const auto& row : TenPerSecond(36015, 1, "13.3", "12.4")) rows.push_back(row);
  // 14.7 for three seconds: long past the watchdog's 1.25 s.
  // 13.1 for two seconds too; the 13.2 run is three seconds.
  const viewer::TLog log = ParseLogText(ClassicLog("2026-12-08", rows), "gaps.txt");
  ASSERT_EQ(log.Rows(), 90u);
  std::vector<std::size_t> gaps;
  for (std::size_t i = 1; i < log.Rows(); ++i) {
    if (viewer::IsGapBefore(log, i)) gaps.push_back(i);
  }
  // Each run's repeats start a gap, the missing seconds another; the fresh value after a run of
  // repeats carries on after the gap.
  EXPECT_EQ(gaps, (std::vector<std::size_t>{1, 30, 31, 51}));
  EXPECT_FALSE(viewer::SampleAt(log, 0).Stale);
  EXPECT_TRUE(viewer::SampleAt(log, 1).Stale);
  EXPECT_TRUE(viewer::SampleAt(log, 29).Stale);
  EXPECT_FALSE(viewer::SampleAt(log, 80).Stale);
  // A value that holds for less than the watchdog's time is a reading.
  const viewer::TLog steady =
      ParseLogText(ClassicLog("2026-12-08", TenPerSecond(36000, 1, "14.7", "12.5")), "steady.txt");
  for (const auto& sample : viewer::Samples(steady)) EXPECT_FALSE(sample.Stale);
}

TEST(LogParserTest, MixedModesKeepWhatEachRowIs) {
  const viewer::TLog log = ParseLogText(
      ClassicLog("08.12.2026", {"14:03:27,14,7,12,5", "14:03:27,1,00,12,5", "14:03:28,0,68,12,5",
                                "14:03:28,4,4,12,5", "14:03:28,1,36,12,5", "14:03:29,21,1,12,5"}),
      "mixed.txt");
  ASSERT_EQ(log.Rows(), 6u);
  const std::vector<TReadingKind> kinds = {TReadingKind::Afr,    TReadingKind::Lambda,
                                           TReadingKind::Lambda, TReadingKind::Afr,
                                           TReadingKind::Lambda, TReadingKind::Afr};
  for (std::size_t i = 0; i < kinds.size(); ++i)
    EXPECT_EQ(viewer::SampleAt(log, i).Kind, kinds[i]) << i;
  viewer::TDisplay lambda{sensor::dmLambda, sensor::ftPetrol};
  EXPECT_NEAR(viewer::DisplayValue(viewer::SampleAt(log, 0), lambda), 1.0, 1e-6);
  EXPECT_NEAR(viewer::DisplayValue(viewer::SampleAt(log, 1), lambda), 1.0, 1e-6);
  viewer::TDisplay propane{sensor::dmAirFuelRatio, sensor::ftPropane};
  EXPECT_NEAR(viewer::DisplayValue(viewer::SampleAt(log, 1), propane), 15.5, 1e-5);
}

TEST(LogParserTest, ReadsTheExtendedLog) {
  csvlog::TSample sample;
  sample.Frame.AfrByte = 147;
  sample.Frame.TempByte = 20;
  sample.SupplyVolts = 12.549;
  sample.DisplayMode = sensor::dmLambda;
  sample.Status = csvlog::TRowStatus::LowVolts;
  std::string text = std::string(csvlog::ExtendedHeader) + "\n";
  text += csvlog::ExtendedRow("2026-12-08T23:59:59.950+01:00", sample) + "\n";
  sample.DisplayMode = sensor::dmAirFuelRatio;
  sample.FuelType = sensor::ftMethanol;
  sample.Status = csvlog::TRowStatus::Warmup;
  text += csvlog::ExtendedRow("2026-12-09T00:00:00.050+01:00", sample) + "\n";
  // Summer time ends: the wall clock goes back an hour, the time keeps running.
  text += csvlog::ExtendedRow("2026-12-08T23:00:00.150+00:00", sample) + "\n";
  const viewer::TLog log = ParseLogText(text, "ext.csv");
  ASSERT_EQ(log.Error, "");
  EXPECT_EQ(log.Format, viewer::TFileFormat::Extended);
  ASSERT_EQ(log.Rows(), 3u);
  EXPECT_NEAR(log.Times[0], 86399.95, 1e-6);
  EXPECT_NEAR(log.Times[1], 86400.05, 1e-6);
  EXPECT_NEAR(log.Times[2], 86400.15, 1e-6);
  EXPECT_FALSE(viewer::SampleAt(log, 2).BreakBefore);
  EXPECT_EQ(viewer::SampleAt(log, 0).Status, viewer::TSampleStatus::LowVolts);
  EXPECT_EQ(viewer::SampleAt(log, 0).Kind, TReadingKind::Lambda);
  EXPECT_FLOAT_EQ(viewer::SampleAt(log, 0).Volts, 12.55f);
  EXPECT_FLOAT_EQ(viewer::SampleAt(log, 1).Value, 6.4f);
  EXPECT_FLOAT_EQ(viewer::SampleAt(log, 1).Lambda, 1.0f);
  EXPECT_EQ(viewer::SampleAt(log, 1).Status, viewer::TSampleStatus::Warmup);
  EXPECT_EQ(viewer::LoggedDisplay(log).FuelType, sensor::ftMethanol);
}

// The head of kestlog's MSL log (extended columns, AFR) up to the units, each line ended in CR LF.
std::string MslHead(std::size_t lines = 4) {
  const csvlog::TMslCaptureDate date{2026, 12, 8, 84631046, 0};
  const std::vector<std::string> header = csvlog::MslHeaderLines(
      "kestlog 1.1.0", date, csvlog::TMslColumns::Extended, TReadingKind::Afr);
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += header[i] + "\r\n";
  return text;
}

TEST(LogParserTest, BadInputIsNamedAndNeverFatalForTheRest) {
  struct TCase {
    const char* Name;
    std::string Text;
    std::string Error;  // empty: the file reads
    std::size_t Samples;
    std::uint64_t Skipped;
    std::uint64_t FirstBadLine;
  };
  const std::string good = "14:03:27,14.7,12.5";
  const std::string mslRow = "0.100\t14.70\t13.80\t1.000\t740\t0\r\n";
  const std::vector<TCase> cases = {
      {"empty", "", "bad.txt: the file is empty", 0, 0, 0},
      {"blank lines only", "\r\n\n", "bad.txt: the file holds no log, only blank lines", 0, 0, 0},
      {"not a log", "Name,Age\r\nBob,42\r\n",
       "bad.txt: line 1: not a log of kestlsugraph or kestlog (it begins \"Name,Age\")", 0, 0, 0},
      {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
       "bad.txt: binary data, this is not a log", 0, 0, 0},
      {"header only", ClassicLog("12/08/26", {}), "", 0, 0, 0},
      {"truncated last line", ClassicLog("12/08/26", {good}) + "14:03:28,14.7,12", "", 1, 1, 4},
      {"truncated in the reading", ClassicLog("12/08/26", {good}) + "14:03:28,14.", "", 1, 1, 4},
      {"complete last line without its end", ClassicLog("12/08/26", {good}) + good, "", 2, 0, 0},
      {"junk in the middle",
       ClassicLog("12/08/26", {good, "garbage", "14:03:28,14.7", "14:03:28,14.7,12.5,1",
                               "25:00:00,14.7,12.5", "14:03:28,14.77,12.5", "14:03:28,14,7,12,5",
                               std::string("14:03\0:28,14.7,12.5", 18), good}),
       "", 2, 7, 4},
      {"LF", ClassicLog("12/08/26", {good, good}, "\n"), "", 2, 0, 0},
      {"CR", ClassicLog("12/08/26", {good, good}, "\r"), "", 2, 0, 0},
      {"mixed",
       csvlog::LogHeaderLine1("12/08/26") + "\n" + csvlog::LogHeaderLine2 + "\r\n" + good + "\r" +
           good + "\n\n" + good + "\r\n",
       "", 3, 0, 0},
      {"headerless rows", good + "\r\n" + good + "\r\n", "", 2, 0, 0},
      {"a huge line", ClassicLog("12/08/26", {good, std::string(100000, 'x'), good}), "", 2, 1, 4},
      {"MSL: header only", MslHead(), "", 0, 0, 0},
      {"MSL: rows of other columns, a status we never write, a cut last line",
       MslHead() + mslRow + "0.200\t14.70\t13.80\r\n" +
           "0.300\t14.70\t13.80\t1.000\t740\t0\t1\r\n" + "0.400\t14.70\t13.80\t1.000\t740\t7\r\n" +
           "0.5o0\t14.70\t13.80\t1.000\t740\t0\r\n" + mslRow + "0.700\t14.70\t13.80\t1.0",
       "", 2, 5, 6},
      {"MSL: another program's columns after our program line",
       MslHead(2) + "Time\tRPM\r\ns\trpm\r\n0.000\t900\r\n",
       "bad.txt: line 3: not the MSL log of kestlog or kestview (its names line was expected "
       "here)",
       0, 0, 0},
      {"MSL: the header ends before its units", MslHead(3),
       "bad.txt: the file ends inside its MSL header, before the names and units", 0, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const viewer::TLog log = ParseLogText(c.Text, "bad.txt");
    EXPECT_EQ(log.Error, c.Error);
    EXPECT_EQ(log.Rows(), c.Samples);
    EXPECT_EQ(log.SkippedRecords, c.Skipped);
    if (c.FirstBadLine != 0) {
      ASSERT_FALSE(log.Ours.FirstBadLines.empty());
      EXPECT_EQ(log.Ours.FirstBadLines.front().Line, c.FirstBadLine);
      EXPECT_NE(viewer::SkippedRowsText(log).find("bad.txt: "), std::string::npos);
    }
  }
}

// A file read in pieces, cut anywhere (inside a CR LF too), reads as the whole.
TEST(LogParserTest, PiecesOfAnySizeReadAsTheWhole) {
  std::vector<std::string> rows = TenPerSecond(36000, 3, "14.7", "12.5");
  rows.insert(rows.begin() + 7, "junk");
  const std::string text = ClassicLog("12/08/26", rows) + "10:00:03,1.00,12.5";
  const viewer::TLog whole = ParseLogText(text, "p.txt");
  for (std::size_t piece : {1u, 2u, 3u, 7u, 64u}) {
    enginelog::TOurLogReader parser("p.txt");
    for (std::size_t at = 0; at < text.size(); at += piece) {
      parser.Feed(std::string_view(text).substr(at, piece));
    }
    parser.Finish();
    const viewer::TLog& log = parser.Log();
    ASSERT_EQ(log.Rows(), whole.Rows()) << piece;
    EXPECT_EQ(log.SkippedRecords, whole.SkippedRecords);
    EXPECT_EQ(log.Ours.Lines, whole.Ours.Lines);
    for (std::size_t i = 0; i < log.Rows(); ++i) {
      EXPECT_EQ(log.Times[i], whole.Times[i]);
    }
  }
}

}  // namespace
