// The MSL log we write, read back by our own MSL reader: every value of every row, the column
// names and units, and the capture date of the header, for the classic and the extended columns.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "log/CivilTime.h"
#include "log/MslLog.h"
#include "log/TextLogReader.h"

namespace csvlog {
namespace {

struct TRow {
  double Seconds;
  TMslValues Values;
};

struct TRoundTripCase {
  const char* Name;
  TMslColumns Columns;
  TReadingKind Kind;
  TMslCaptureDate Date;
  std::vector<std::string> Names;  // as the reader must find them, time column aside
  std::vector<std::string> Units;
  std::vector<TRow> Rows;
};

TEST(MslLog, OurReaderReadsWhatWeWriteValueForValue) {
  const std::vector<TRoundTripCase> cases = {
      {"classic AFR log without a zone",
       TMslColumns::Classic,
       TReadingKind::Afr,
       {2024, 5, 1, (14 * 3600 + 3 * 60 + 27) * 1000LL + 40, std::nullopt},
       {"AFR", "Volts"},
       {"AFR", "V"},
       {{0, {14.7, 12.55}}, {0.1, {9.85, 12.5}}, {1.234, {20, 11.95}}, {3600.5, {10, 0}}}},
      {"extended AFR log, east of UTC",
       TMslColumns::Extended,
       TReadingKind::Afr,
       {2026, 12, 8, (23 * 3600 + 59 * 60 + 59) * 1000LL + 999, 2 * 3600},
       {"AFR", "Volts", "Lambda", "Temp", "Status"},
       {"AFR", "V", "lambda", "code", "code"},
       {{0, {14.7, 12.55, 1.0, 20, TRowStatus::Live}},
        {0.08, {13.23, 11.9, 0.9, 21, TRowStatus::LowVolts}},
        {0.18, {14.7, 0, 1.0, 0, TRowStatus::Offline}},
        {0.26, {22.5, 12.1, 1.531, 255, TRowStatus::Warmup}}}},
      {"extended lambda log, west of UTC: one Lambda column",
       TMslColumns::Extended,
       TReadingKind::Lambda,
       {2025, 1, 2, 5 * 1000LL, -5 * 3600 - 30 * 60},
       {"Lambda", "Volts", "Temp", "Status"},
       {"lambda", "V", "code", "code"},
       {{0, {0.68, 13.8, 0, 7, TRowStatus::Warmup}},
        {0.1, {1.361, 13.75, 0, 8, TRowStatus::Live}}}},
  };
  for (const TRoundTripCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string text;
    const std::vector<std::string> header =
        MslHeaderLines("kestlog 9.8.7", c.Date, c.Columns, c.Kind);
    for (const std::string& line : header) text += line + "\r\n";
    std::string row;
    for (const TRow& r : c.Rows)
      text += MslRow(row, r.Seconds, r.Values, c.Columns, c.Kind) + "\r\n";
    EXPECT_EQ(header.front(), "\"kestlog 9.8.7\"");

    const enginelog::TLog log = enginelog::ReadTextLog(text, "x.msl");
    ASSERT_TRUE(log.Ok()) << log.Error << "\n" << text;
    EXPECT_TRUE(log.Warnings.empty()) << text;
    EXPECT_EQ(log.Format, enginelog::TFileFormat::Msl);
    ASSERT_EQ(log.Channels.size(), c.Names.size()) << text;
    for (std::size_t i = 0; i < c.Names.size(); ++i) {
      EXPECT_EQ(log.Channels[i].Name, c.Names[i]);
      EXPECT_EQ(log.Channels[i].Unit, c.Units[i]);
    }

    // The capture date is the first row's wall-clock time, to the millisecond.
    ASSERT_TRUE(log.Start.has_value()) << header[1];
    const std::int64_t localMs =
        DaysFromCivil(c.Date.Year, c.Date.Month, c.Date.Day) * MsPerDay + c.Date.DayMs;
    EXPECT_EQ(log.Start->Seconds, localMs / 1000);
    EXPECT_NEAR(log.Start->Fraction, static_cast<double>(localMs % 1000) / 1000, 1e-6);
    EXPECT_EQ(log.Start->UtcOffsetSeconds, c.Date.OffsetSeconds);

    ASSERT_EQ(log.Rows(), c.Rows.size());
    const bool extended = c.Columns == TMslColumns::Extended;
    const bool lambdaReading = c.Kind == TReadingKind::Lambda;
    for (std::size_t r = 0; r < c.Rows.size(); ++r) {
      SCOPED_TRACE("row " + std::to_string(r));
      const TMslValues& v = c.Rows[r].Values;
      EXPECT_DOUBLE_EQ(log.Times[r], c.Rows[r].Seconds);
      std::vector<double> expected = {v.Reading, v.Volts};
      if (extended && !lambdaReading) expected.push_back(v.Lambda);
      if (extended) {
        expected.push_back(v.Temp);
        expected.push_back(MslStatusCode(v.Status));
      }
      for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_FLOAT_EQ(log.Channels[i].Values[r], static_cast<float>(expected[i])) << c.Names[i];
      }
      if (extended) {
        TRowStatus status = TRowStatus::Offline;
        EXPECT_TRUE(MslStatusOf(log.Channels.back().Values[r], status));
        EXPECT_EQ(status, v.Status);
      }
    }
  }
}

}  // namespace
}  // namespace csvlog
