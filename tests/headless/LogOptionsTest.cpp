// kestlog's command line: what each option sets, and a one-line reason for each bad one (the
// command-line parser's words for the forms it checks, ours for the values).
#include <gtest/gtest.h>

#include "headless/LogOptions.h"

namespace {

using csvlog::TRowFormat;
using headless::ParseLogOptions;
using headless::TLogOptions;
using TArgs = std::vector<std::string>;

TEST(LogOptions, EachOptionSetsItsSetting) {
  struct TCase {
    TArgs Args;
    std::function<bool(const TLogOptions&)> Holds;
    const char* What;
  };
  const TCase cases[] = {
      {{"--port", "/dev/ttyUSB0"},
       [](const TLogOptions& o) {
         return o.Port == "/dev/ttyUSB0" && !o.Fast && o.DisplayMode == sensor::dmAirFuelRatio &&
                o.FuelType == sensor::ftPetrol && o.Output == "-" &&
                o.Format == TRowFormat::Classic && o.Seconds == 0 && !o.Help && !o.Version;
       },
       "defaults"},
      {{"--port=/dev/pts/3"},
       [](const TLogOptions& o) { return o.Port == "/dev/pts/3"; },
       "inline value"},
      {{"--port", "a", "--port", "b"},
       [](const TLogOptions& o) { return o.Port == "b"; },
       "the later one wins"},
      {{"--port", "p", "--fast"}, [](const TLogOptions& o) { return o.Fast; }, "fast"},
      {{"--port", "p", "--lambda"},
       [](const TLogOptions& o) { return o.DisplayMode == sensor::dmLambda; },
       "lambda"},
      {{"--port", "p", "--fuel", "methanol"},
       [](const TLogOptions& o) { return o.FuelType == sensor::ftMethanol; },
       "methanol"},
      {{"--port", "p", "--fuel=propane"},
       [](const TLogOptions& o) { return o.FuelType == sensor::ftPropane; },
       "propane"},
      {{"--port", "p", "--output", "log.csv"},
       [](const TLogOptions& o) { return o.Output == "log.csv"; },
       "output"},
      {{"--port", "p", "-o", "short.csv"},
       [](const TLogOptions& o) { return o.Output == "short.csv"; },
       "output, short form"},
      {{"--port", "p", "--output", "-"},
       [](const TLogOptions& o) { return o.Output == "-"; },
       "standard output"},
      {{"--port", "p", "--format", "extended"},
       [](const TLogOptions& o) { return o.Format == TRowFormat::Extended; },
       "extended"},
      {{"--port", "p", "--format", "msl"},
       [](const TLogOptions& o) { return o.Format == TRowFormat::Msl; },
       "msl"},
      {{"--port", "p", "--seconds", "2.5"},
       [](const TLogOptions& o) { return o.Seconds == 2.5; },
       "seconds"},
      {{"--port", "p", "--seconds", "604800"},
       [](const TLogOptions& o) { return o.Seconds == 604800; },
       "seconds: a week, the most it takes"},
      {{"--help"}, [](const TLogOptions& o) { return o.Help; }, "help needs no port"},
      {{"--version"}, [](const TLogOptions& o) { return o.Version; }, "version needs no port"},
      {{"--list"}, [](const TLogOptions& o) { return o.List; }, "list needs no port"},
      {{"--port", "COM12"},
       [](const TLogOptions& o) { return o.ComNumber == 12 && o.Port == "COM12"; },
       "a COM number"},
      {{"--port", "/dev/ttyUSB0"},
       [](const TLogOptions& o) { return o.ComNumber == 0; },
       "a path has no number"},
  };
  for (const TCase& c : cases) {
    std::string error;
    const auto options = ParseLogOptions(c.Args, error);
    ASSERT_TRUE(options.has_value()) << c.What << ": " << error;
    EXPECT_TRUE(c.Holds(*options)) << c.What;
  }
}

TEST(LogOptions, BadArgumentsGiveOneLineWhy) {
  struct TCase {
    TArgs Args;
    const char* Says;
  };
  const TCase cases[] = {
      {{}, "--port DEVICE is required"},
      {{"--fast"}, "--port DEVICE is required"},
      {{"--port"}, "Missing value after '--port'"},
      {{"--port="}, "--port needs a device path"},
      {{"--port", "--fast"}, "--port needs a device path"},
      {{"--list=yes"}, "Unexpected value after '--list'"},
      {{"--port", "COM17"}, "COM1 to COM16 or a device path, not 'COM17'"},
      {{"--port", "com0"}, "not 'com0'"},
      {{"--port", "p", "--fuel", "diesel"}, "--fuel is petrol, methanol or propane, not 'diesel'"},
      {{"--port", "p", "--fuel"}, "Missing value after '--fuel'"},
      {{"--port", "p", "--format", "csv"}, "--format is classic, extended or msl, not 'csv'"},
      {{"--port", "p", "--seconds", "0"}, "--seconds needs"},
      {{"--port", "p", "--seconds", "-3"}, "not '-3'"},
      {{"--port", "p", "--seconds", "ten"}, "not 'ten'"},
      {{"--port", "p", "--seconds", "nan"}, "not 'nan'"},
      {{"--port", "p", "--seconds", "1e9"}, "not '1e9'"},
      {{"--port", "p", "--seconds", "604800.5"}, "up to 604800, not '604800.5'"},
      {{"--port", "p", "--seconds", "2,5"}, "not '2,5'"},
      {{"--port", "p", "--output"}, "Missing value after '--output'"},
      {{"--port", "p", "--fast=yes"}, "Unexpected value after '--fast'"},
      {{"--port", "p", "--baud", "9600"}, "Unknown option 'baud'"},
      {{"--port", "p", "extra"}, "unexpected argument 'extra'"},
  };
  for (const TCase& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseLogOptions(c.Args, error).has_value()) << c.Says;
    EXPECT_NE(error.find(c.Says), std::string::npos) << "got: " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

// The help text is made from the option list the parser reads: every option is in it.
TEST(LogOptions, HelpNamesEveryOption) {
  const std::string usage = headless::LogUsage();
  for (const char* option : {"--port", "--list", "--fast", "--lambda", "--fuel", "--output",
                             "--format", "--seconds", "--help", "--version"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
