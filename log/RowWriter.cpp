// The one writer of our log rows: the classic, extended and MSL rows from one sample.
#include "log/RowWriter.h"

#include <utility>

#include "log/CivilTime.h"
#include "log/MslLog.h"

namespace csvlog {

TRowWriter::TRowWriter(TRowWriterSettings settings) : Settings(std::move(settings)) {}

void TRowWriter::Restart() {
  Started = false;
  Before.clear();
  ElapsedMs = 0;
}

const std::string& TRowWriter::Row(const TSample& sample, const TRowTime& time) {
  // Cleared, not freed: the vector keeps its memory, and only the first MSL row fills it.
  Before.clear();
  switch (Settings.Format) {
    case TRowFormat::Extended:
      return ExtendedRow(Buffer, time.UtcMs, time.OffsetSeconds, sample);
    case TRowFormat::Msl:
      return MslRow(sample, time);
    case TRowFormat::Classic:
      break;
  }
  return ClassicRow(Buffer, time.LocalClock, sample, Settings.DecimalSeparator);
}

// The MSL header comes with the first row: its capture date is that row's wall-clock time, to the
// millisecond, so that the rows' seconds line up with an engine log by the clock. The seconds
// themselves come from the tick counter, which a clock set forward or back does not move.
const std::string& TRowWriter::MslRow(const TSample& sample, const TRowTime& time) {
  const TReadingKind kind =
      sample.DisplayMode == sensor::dmAirFuelRatio ? TReadingKind::Afr : TReadingKind::Lambda;
  if (!Started) {
    const TCivilTime local = CivilTimeOf(time.UtcMs + time.OffsetSeconds * 1000LL);
    TMslCaptureDate date;
    date.Year = local.Year;
    date.Month = local.Month;
    date.Day = local.Day;
    date.DayMs = local.DayMs;
    date.OffsetSeconds = time.OffsetSeconds;
    Before = MslHeaderLines(Settings.Program, date, TMslColumns::Extended, kind);
    Started = true;
    LastTick = time.TickMs;
  }
  // Unsigned differences stay right across the counter's wrap after 49 days.
  ElapsedMs += static_cast<std::uint32_t>(time.TickMs - LastTick);
  LastTick = time.TickMs;
  return csvlog::MslRow(Buffer, static_cast<double>(ElapsedMs) / 1000.0, MslValuesOf(sample),
                        TMslColumns::Extended, kind);
}

}  // namespace csvlog
