// One reader per file, chosen once from its first bytes: every log kestview opens, ours or an
// engine log, read through the same factory into the one model, whole or in pieces.
#include <gtest/gtest.h>

#include <string>

#include "log/Log.h"
#include "log/LogSniffer.h"
#include "tests/log/MlgBuilder.h"

namespace {

using enginelog::TFileFormat;

std::string MlgBytes() {
  logtest::TMlgBuilder builder(2);
  builder.Field(2, "RPM", "rpm").Field(2, "MAP", "kPa");
  builder.Record(0, {900, 30}).Record(100, {950, 31});
  return builder.Bytes();
}

TEST(LogReaderFactory, OneSniffPicksTheReaderOfEveryFormat) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    TFileFormat Format;
    std::size_t Rows;
    std::string FirstChannel;  // what the reader made of the file: its first channel's name
  };
  const std::string classic =
      "Torvane KEST datalog.  08.12.2026\nTime, AFR or LAMBDA, Supply volts\n"
      "14:03:27,14,7,12,5\n14:03:28,14,8,12,5\n";
  const TCase cases[] = {
      {"classic", classic, TFileFormat::Classic, 2, "Reading"},
      {"extended",
       "time,reading,afr,lambda,volts,temp,status\n"
       "2026-12-08T10:00:00.000+00:00,14.7,14.7,1.000,13.80,12,live\n",
       TFileFormat::Extended, 1, "Reading"},
      {"our msl",
       "\"kestview 1.1.0\"\n\"Capture Date: 14:03:27.250\"\nTime\tLambda\tVolts\ns\tlambda\tV\n"
       "0.000\t1.00\t13.8\n",
       TFileFormat::OurMsl, 1, "Reading"},
      {"engine msl", "Time\tRPM\ns\trpm\n0\t900\n0.1\t910\n", TFileFormat::Msl, 2, "RPM"},
      {"engine text", "Time,RPM\n0,900\n0.1,910\n", TFileFormat::Text, 2, "RPM"},
      {"mlg", MlgBytes(), TFileFormat::Mlg, 2, "RPM"},
      {"datalog",
       "%DataLog%\nChannel : RPM\nType : EngineSpeed\nLog : 20250718 01:00:00\n"
       "13:00:00.000,0,900\n13:00:00.100,0,910\n",
       TFileFormat::DataLog, 2, "RPM"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    // Whole, and in pieces of three bytes after a head that is the whole file.
    for (const std::size_t piece : {c.Bytes.size(), std::size_t{3}}) {
      const auto reader = enginelog::MakeLogReader(c.Bytes, true, "f", c.Bytes.size());
      for (std::size_t at = 0; at < c.Bytes.size(); at += piece) {
        reader->Feed(std::string_view(c.Bytes).substr(at, piece));
      }
      reader->Finish();
      const enginelog::TLog& log = reader->Log();
      ASSERT_TRUE(log.Ok()) << log.Error;
      EXPECT_EQ(log.Format, c.Format);
      EXPECT_EQ(log.Rows(), c.Rows);
      ASSERT_FALSE(log.Channels.empty());
      EXPECT_EQ(log.Channels.front().Name, c.FirstChannel);
      EXPECT_EQ(enginelog::IsOurs(log.Format), log.Channels.size() == enginelog::OurChannelCount &&
                                                   log.RowFlags.size() == log.Rows());
    }
  }
  // A file that is no log at all gets our reader, whose message names the fault; a log of ours
  // with a header alone is an empty log (one just started), an engine log without records is not.
  const auto junk = enginelog::ReadLog("just some words\n", "junk.txt");
  EXPECT_EQ(junk.Error,
            "junk.txt: line 1: not a log of kestlsugraph or kestlog (it begins "
            "\"just some words\")");
  const auto header = enginelog::ReadLog(classic.substr(0, classic.find("14:03")), "new.txt");
  EXPECT_TRUE(header.Ok()) << header.Error;
  EXPECT_EQ(header.Format, TFileFormat::Classic);
  EXPECT_EQ(header.Channels.size(), enginelog::OurChannelCount);
  EXPECT_FALSE(enginelog::ReadLog("Time,RPM\n", "e.csv").Ok());
}

}  // namespace
