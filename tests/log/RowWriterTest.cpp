// The one row writer: the classic, extended and MSL rows it makes from the same samples and tick
// times, the MSL header it puts before the first row, and the seconds it counts from there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/CivilTime.h"
#include "log/RowWriter.h"
#include "sensor/SensorFrame.h"

namespace csvlog {
namespace {

// 147 is 14.7 AFR (lambda 1.000), volts code 200 is 12.55 V, temperature code 20 is warm.
TSample SampleOf(int mode, TRowStatus status = TRowStatus::Live) {
  TSample sample;
  sample.Frame = {34, 147, 200, 20, 0};
  sample.SupplyVolts = sensor::SupplyVoltsOf(200);
  sample.DisplayMode = mode;
  sample.FuelType = sensor::ftPetrol;
  sample.Status = status;
  return sample;
}

// 2024-05-01 12:03:27.123 UTC.
constexpr std::int64_t NoonUtcMs =
    DaysFromCivil(2024, 5, 1) * MsPerDay + (12 * 3600 + 3 * 60 + 27) * 1000LL + 123;

TRowTime TimeOf(std::string_view clock, int offsetSeconds, std::uint32_t tickMs,
                std::int64_t laterMs = 0) {
  TRowTime time;
  time.LocalClock = clock;
  time.UtcMs = NoonUtcMs + laterMs;
  time.OffsetSeconds = offsetSeconds;
  time.TickMs = tickMs;
  return time;
}

struct TStep {
  TSample Sample;
  TRowTime Time;
  bool Restart;                    // a new log starts before this row
  std::vector<std::string> Lines;  // the lines before the row, then the row
};

struct TCase {
  const char* Name;
  TRowWriterSettings Settings;
  std::vector<TStep> Steps;
};

TEST(RowWriter, WritesEachFormatFromTheSameSamples) {
  const int afr = sensor::dmAirFuelRatio;
  const int lambda = sensor::dmLambda;
  const std::string mslAfrNames = "Time\tAFR\tVolts\tLambda\tTemp\tStatus";
  const std::string mslAfrUnits = "s\tAFR\tV\tlambda\tcode\tcode";
  const std::string captured = "\"Capture Date: 2024-05-01T14:03:27.123+02:00\"";
  const std::vector<TCase> cases = {
      {"classic: the window's row, the clock as the user writes it",
       {TRowFormat::Classic, ".", "kestlog 1.2.0"},
       {{SampleOf(afr), TimeOf("14:03:27", 7200, 0), false, {"14:03:27,14.7,12.5"}},
        {SampleOf(lambda), TimeOf("14:03:27", 7200, 0), false, {"14:03:27,1.00,12.5"}}}},
      {"classic: a decimal comma and a 12-hour clock",
       {TRowFormat::Classic, ",", ""},
       {{SampleOf(afr), TimeOf("2:03:27 PM", 7200, 0), false, {"2:03:27 PM,14,7,12,5"}}}},
      {"extended: ISO time with the offset and points whatever the user's separator",
       {TRowFormat::Extended, ",", ""},
       {{SampleOf(afr),
         TimeOf("", 7200, 0),
         false,
         {"2024-05-01T14:03:27.123+02:00,14.7,14.7,1.000,12.55,20,live"}},
        {SampleOf(lambda, TRowStatus::LowVolts),
         TimeOf("", -(5 * 3600 + 1800), 0, 80),
         false,
         {"2024-05-01T06:33:27.203-05:30,1.00,14.7,1.000,12.55,20,lowvolts"}}}},
      {"MSL: the header before the first row, seconds from it on the tick counter",
       {TRowFormat::Msl, ",", "kestlog 1.2.0"},
       {{SampleOf(afr),
         TimeOf("", 7200, 1000),
         false,
         {"\"kestlog 1.2.0\"", captured, mslAfrNames, mslAfrUnits,
          "0.000\t14.70\t12.55\t1.000\t20\t0"}},
        // The wall clock jumped by an hour; the counter, which the seconds follow, did not.
        {SampleOf(afr, TRowStatus::Warmup),
         TimeOf("", 7200, 1080, 3600000),
         false,
         {"0.080\t14.70\t12.55\t1.000\t20\t1"}}}},
      {"MSL: a lambda log, the counter's wrap, and a new log with a header of its own",
       {TRowFormat::Msl, ".", "kestlog 1.2.0"},
       {{SampleOf(lambda),
         TimeOf("", 0, 0xFFFFFFC0u),
         false,
         {"\"kestlog 1.2.0\"", "\"Capture Date: 2024-05-01T12:03:27.123+00:00\"",
          "Time\tLambda\tVolts\tTemp\tStatus", "s\tlambda\tV\tcode\tcode",
          "0.000\t1.000\t12.55\t20\t0"}},
        {SampleOf(lambda, TRowStatus::Offline),
         TimeOf("", 0, 0x40u, 128),
         false,
         {"0.128\t1.000\t12.55\t20\t2"}},
        {SampleOf(afr),
         TimeOf("", 7200, 5000),
         true,
         {"\"kestlog 1.2.0\"", captured, mslAfrNames, mslAfrUnits,
          "0.000\t14.70\t12.55\t1.000\t20\t0"}}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRowWriter writer(c.Settings);
    for (std::size_t i = 0; i < c.Steps.size(); ++i) {
      const TStep& step = c.Steps[i];
      if (step.Restart) writer.Restart();
      const std::string row = writer.Row(step.Sample, step.Time);
      std::vector<std::string> lines = writer.LinesBefore();
      lines.push_back(row);
      EXPECT_EQ(lines, step.Lines) << "row " << i;
    }
  }
}

}  // namespace
}  // namespace csvlog
