// TRowWriter: the one writer of our log rows. The engine hands it each sample with the tick's
// time; it writes the classic, extended or MSL row into a buffer of its own, which the engine
// hands on to its view (the window's log file, kestlog's sink). Pure code: the clocks are read by
// whoever calls it, so the same sample and time give the same row on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/RowFormat.h"

namespace csvlog {

// When a row was taken, as the machine's clocks told it at the tick. Each format reads its own
// fields and leaves the others alone.
struct TRowTime {
  // Classic: the local time of day in the user's long time format ("14:03:27", "2:03:27 PM").
  std::string_view LocalClock;
  // Extended and MSL: the wall clock in milliseconds since 1970-01-01 UTC, seen OffsetSeconds
  // east of UTC (the row's time and the MSL capture date).
  std::int64_t UtcMs = 0;
  int OffsetSeconds = 0;
  // MSL: a millisecond counter that no change of the wall clock moves (the line's tick count);
  // the rows' seconds are its distance from the first row, right across its wrap.
  std::uint32_t TickMs = 0;
};

// What a writer is given once.
struct TRowWriterSettings {
  TRowFormat Format = TRowFormat::Classic;
  // The classic row's decimal separator, the user's.
  std::string DecimalSeparator = ".";
  // The MSL header's program line, such as "kestlog 1.2.0".
  std::string Program;
};

class TRowWriter {
 public:
  explicit TRowWriter(TRowWriterSettings settings = {});

  TRowFormat Format() const { return Settings.Format; }
  // True for the formats with a row on every tick (extended and MSL, whose status column says
  // what the row is worth); false for the classic one, whose rows come only with a reading.
  bool EveryTick() const { return Settings.Format != TRowFormat::Classic; }

  // The row of `sample` taken at `time`, without its line end, into the writer's own buffer
  // (valid until the next call; once it has grown a row allocates nothing). The MSL reading is
  // AFR or lambda after the sample's display mode.
  const std::string& Row(const TSample& sample, const TRowTime& time);
  // The lines due before the row Row() last made: with the first MSL row, the MSL header (its
  // capture date is that row's time, its reading unit that row's); none otherwise.
  const std::vector<std::string>& LinesBefore() const { return Before; }
  // The next row is a first row again (a new log): the MSL header comes with it and its seconds
  // count from it.
  void Restart();

 private:
  const std::string& MslRow(const TSample& sample, const TRowTime& time);

  TRowWriterSettings Settings;
  std::string Buffer;
  std::vector<std::string> Before;
  bool Started = false;
  std::uint32_t LastTick = 0;
  std::int64_t ElapsedMs = 0;
};

}  // namespace csvlog
