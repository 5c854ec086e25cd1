// kestsim's command line: what each option sets, and a one-line reason for every bad one.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <functional>

#include "sim/SimOptions.h"

namespace sim {
namespace {

TEST(SimOptionsTest, NoArgumentsGiveTheDefaults) {
  std::string error;
  const auto options = ParseSimOptions({}, error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->Config.Scenario, TScenario::Constant);
  EXPECT_EQ(options->Config.ConstantAfr, 147);
  EXPECT_DOUBLE_EQ(options->Config.SupplyVolts, 13.8);
  EXPECT_EQ(options->Seconds, 0);
  EXPECT_FALSE(options->Help);
}

TEST(SimOptionsTest, EachOptionLandsInItsField) {
  struct TCase {
    std::vector<std::string> Arguments;
    std::function<bool(const TSimOptions&)> Holds;
  };
  const std::vector<TCase> cases = {
      {{"--link", "/tmp/x"}, [](const TSimOptions& o) { return o.Config.LinkPath == "/tmp/x"; }},
      {{"--tty=/dev/ttyS1"}, [](const TSimOptions& o) { return o.Config.TtyPath == "/dev/ttyS1"; }},
      {{"--scenario", "drive"},
       [](const TSimOptions& o) { return o.Config.Scenario == TScenario::Drive; }},
      {{"--afr", "0"}, [](const TSimOptions& o) { return o.Config.ConstantAfr == 0; }},
      {{"--afr=255"}, [](const TSimOptions& o) { return o.Config.ConstantAfr == 255; }},
      {{"--latency", "40"}, [](const TSimOptions& o) { return o.Config.LatencyMs == 40; }},
      {{"--pace"}, [](const TSimOptions& o) { return o.Config.Pace; }},
      {{"--warmup", "12.5"}, [](const TSimOptions& o) { return o.Config.WarmupSeconds == 12.5; }},
      {{"--corrupt", "0.25"}, [](const TSimOptions& o) { return o.Config.CorruptRate == 0.25; }},
      {{"--junk", "1"}, [](const TSimOptions& o) { return o.Config.JunkRate == 1.0; }},
      {{"--silent-every", "10", "--silent-for", "2"},
       [](const TSimOptions& o) {
         return o.Config.SilentEverySeconds == 10 && o.Config.SilentForSeconds == 2;
       }},
      {{"--spew"}, [](const TSimOptions& o) { return o.Config.Spew; }},
      {{"--volts", "11.5", "--dip"},
       [](const TSimOptions& o) { return o.Config.SupplyVolts == 11.5 && o.Config.Dip; }},
      {{"--seed", "18446744073709551615"},
       [](const TSimOptions& o) { return o.Config.Seed == 18446744073709551615ull; }},
      {{"--seconds", "2"}, [](const TSimOptions& o) { return o.Seconds == 2.0; }},
      {{"--help"}, [](const TSimOptions& o) { return o.Help; }},
      {{"--engine-log", "e.MLG", "--engine-rate", "50", "--engine-afr",
        "--engine-clock-offset=-7.5"},
       [](const TSimOptions& o) {
         return o.EngineLog.Path == "e.MLG" && o.EngineLog.RateHz == 50 && o.EngineLog.Afr &&
                o.EngineLog.ClockOffsetSeconds == -7.5;
       }},
      {{"--afr", "100", "--afr", "120"},
       [](const TSimOptions& o) { return o.Config.ConstantAfr == 120; }},
      {{"--scenario", "drive", "--closed-loop", "off", "--ve-error", "1.25"},
       [](const TSimOptions& o) {
         return !o.Config.ClosedLoop && o.Config.VeError &&
                o.Config.VeError->At(3000, 50) == 1.25 && !o.Config.VeTable;
       }},
      {{"--scenario", "drive"},
       [](const TSimOptions& o) { return o.Config.ClosedLoop && !o.Config.VeError; }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Arguments));
    std::string error;
    const auto options = ParseSimOptions(c.Arguments, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(c.Holds(*options));
  }
}

TEST(SimOptionsTest, BadArgumentsAreRefusedWithAReason) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // A grid that reads, but with a value no VE table or breathing error can have.
  const std::string zeros = dir.filePath(QStringLiteral("zeros.csv")).toStdString();
  std::ofstream(zeros) << "MAP \\ RPM,1000,3000\n20,1,0\n100,1,1\n";
  const std::string missing = dir.filePath(QStringLiteral("missing.csv")).toStdString();
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"stray"},
      {"--afr"},
      {"--afr", "256"},
      {"--afr", "-1"},
      {"--afr", "14.7"},
      {"--afr", ""},
      {"--latency", "-5"},
      {"--latency", "abc"},
      {"--corrupt", "1.5"},
      {"--corrupt", "0.5x"},
      {"--junk", "nan"},
      {"--junk", "-0.1"},
      {"--volts", "17"},
      {"--warmup", "inf"},
      {"--seed", "-1"},
      {"--seconds", "-2"},
      {"--scenario", "race"},
      {"--pace=yes"},
      {"--link", ""},
      {"--silent-every", "5"},
      {"--silent-for", "5"},
      {"--silent-every", "5", "--silent-for", "5"},
      {"--engine-log", "engine.txt"},
      {"--engine-log", "e.csv", "--engine-rate", "0"},
      {"--engine-log", "e.csv", "--engine-clock-offset", "1e6"},
      {"--engine-afr"},
      {"--ve-error", "1.1"},
      {"--closed-loop", "off"},
      {"--scenario", "drive", "--closed-loop", "maybe"},
      {"--scenario", "drive", "--ve-error", "0.4"},
      {"--scenario", "drive", "--ve-error", "2.01"},
      {"--scenario", "drive", "--ve-error", missing},
      {"--scenario", "drive", "--ve-error", zeros},
      {"--scenario", "drive", "--ve-table", zeros},
      {"--scenario", "drive", "--ve-table", missing},
      {"--scenario", "drive", "--ve-table", "1.1"},
  };
  for (const auto& arguments : cases) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    std::string error;
    EXPECT_FALSE(ParseSimOptions(arguments, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

// The help text is made from the option list the parser reads: every option is in it.
TEST(SimOptionsTest, HelpNamesEveryOption) {
  const std::string usage = SimUsage();
  std::vector<std::string> options = {
      "--link",   "--tty",     "--scenario", "--afr",          "--latency",    "--pace",
      "--warmup", "--corrupt", "--junk",     "--silent-every", "--silent-for", "--spew",
      "--volts",  "--dip",     "--seed",     "--seconds",      "--help"};
  options.insert(options.end(),
                 {"--engine-log", "--engine-rate", "--engine-afr", "--engine-clock-offset",
                  "--closed-loop", "--ve-error", "--ve-table"});
  for (const std::string& option : options) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

TEST(SimOptionsTest, SummaryNamesEveryCounter) {
  TSimCounters counters;
  counters.RequestsSeen = 11;
  counters.FramesSent = 7;
  counters.FramesCorrupted = 2;
  counters.JunkBytesSent = 30;
  counters.SilentRequestsIgnored = 3;
  counters.OtherBytesIgnored = 5;
  counters.AnswersDropped = 1;
  EXPECT_EQ(SummaryLine(counters),
            "requests 11, frames 7, corrupted 2, junk bytes 30, silent 3, other bytes 5, "
            "dropped 1");
}

}  // namespace
}  // namespace sim
