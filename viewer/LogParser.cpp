// Reading the window's and kestlog's logs back from text, whatever the writer's locale, and the
// MSL log our programs write.
#include "viewer/LogParser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "log/CivilTime.h"
#include "log/MslLog.h"
#include "log/RowGrammar.h"
#include "sensor/Monitoring.h"
#include "text/Words.h"

namespace viewer {

namespace {

// A line longer than this is no row of ours; it is skipped rather than held in memory.
constexpr std::size_t MaxLineLength = 4096;
constexpr int SecondsPerDay = 86400;
// A time that went back by more than half a day went past midnight; less is a clock change.
constexpr int HalfDay = SecondsPerDay / 2;
// The window calls the controller offline after this long without a frame and keeps logging the
// last frame meanwhile: equal rows over a longer span are repeats, not readings.
constexpr double OfflineSeconds =
    sensor::WatchdogIntervalMs * sensor::OnlineCountdownReload / 1000.0;

// The extended log's status word as the chart colours it.
TSampleStatus SampleStatusOf(csvlog::TRowStatus status) {
  switch (status) {
    case csvlog::TRowStatus::Live:
      return TSampleStatus::Live;
    case csvlog::TRowStatus::Warmup:
      return TSampleStatus::Warmup;
    case csvlog::TRowStatus::LowVolts:
      return TSampleStatus::LowVolts;
    case csvlog::TRowStatus::Offline:
      break;
  }
  return TSampleStatus::Offline;
}

// No control character but tabs (and, with `lineEnds`, CR and LF).
bool IsText(std::string_view text, bool lineEnds = false) {
  return std::none_of(text.begin(), text.end(), [lineEnds](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\t' && !(lineEnds && (c == '\r' || c == '\n'));
  });
}

}  // namespace

TLogParser::TLogParser(std::string name) { Log.Name = std::move(name); }

void TLogParser::Feed(std::string_view bytes) {
  if (Head.size() < HeadLength) Head.append(bytes.substr(0, HeadLength - Head.size()));
  if (JudgedText && !IsText(Head, true)) {
    Log.Error = Log.Name + ": binary data, this is not a log";
    JudgedText = false;
  }
  std::size_t pos = 0;
  if (SawCarriageReturn && !bytes.empty() && bytes.front() == '\n') pos = 1;
  if (!bytes.empty()) SawCarriageReturn = false;
  while (pos < bytes.size() && Log.Error.empty()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    if (end == bytes.size()) {
      const std::string_view rest = bytes.substr(pos);
      if (Pending.size() + rest.size() > MaxLineLength) {
        // No row is this long: the line is junk (or the file binary). Its start stands for it.
        Pending.append(rest.substr(0, MaxLineLength - std::min(MaxLineLength, Pending.size())));
      } else {
        Pending.append(rest);
      }
      return;
    }
    std::string_view line = bytes.substr(pos, end - pos);
    if (!Pending.empty()) {
      Pending.append(line.substr(0, MaxLineLength - std::min(MaxLineLength, Pending.size())));
      line = Pending;
    }
    if (bytes[end] == '\r') {
      if (end + 1 == bytes.size()) {
        SawCarriageReturn = true;
      } else if (bytes[end + 1] == '\n') {
        ++end;
      }
    }
    ReadLine(line.substr(0, MaxLineLength), true);
    Pending.clear();
    pos = end + 1;
  }
}

void TLogParser::Finish() {
  if (!Log.Error.empty()) return;
  if (!Pending.empty()) {
    const std::string last = std::move(Pending);
    Pending.clear();
    ReadLine(last, false);
  }
  if (!Log.Error.empty()) return;
  if (!SawFirstLine) {
    Log.Error = Log.Name + ": the file is empty";
  } else if (!HeaderDone && Log.Kind == TLogKind::Msl) {
    Log.Error = Log.Name + ": the file ends inside its MSL header, before the names and units";
  } else if (!HeaderDone) {
    Log.Error = Log.Name + ": the file holds no log, only blank lines";
  }
}

void TLogParser::AddBad(std::string reason) {
  ++Log.SkippedRows;
  if (Log.FirstBadLines.size() < KeptBadLines) {
    Log.FirstBadLines.push_back({LineNumber, std::move(reason)});
  }
}

void TLogParser::ReadLine(std::string_view line, bool complete) {
  ++LineNumber;
  if (complete) ++Log.Lines;
  if (LineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  SawFirstLine = true;
  if (!IsText(line)) {
    if (!HeaderDone) {
      Log.Error = Log.Name + ": binary data, this is not a log";
    } else {
      AddBad("binary data");
    }
    return;
  }
  line = text::Trim(line);
  if (line.empty()) return;
  if (line.size() >= MaxLineLength) {
    if (!HeaderDone) {
      Log.Error = Log.Name + ": line " + std::to_string(LineNumber) +
                  ": a line far too long for a log; this is not a log";
    } else {
      AddBad("a line far too long for a row");
    }
    return;
  }
  if (!HeaderDone) {
    if (Log.Kind == TLogKind::Msl) {
      ReadMslHeaderLine(line);
    } else {
      ReadHeaderOrFirstRow(line);
    }
    return;
  }
  bool read = false;
  const char* what = "";
  if (Log.Kind == TLogKind::Classic) {
    // The second header line, or a header of a log appended to this one, is no row.
    if (csvlog::IsClassicColumns(line) || csvlog::IsClassicHeader(line)) return;
    read = ReadClassicRow(line);
    what = "not a row of time, reading and volts";
  } else if (Log.Kind == TLogKind::Msl) {
    read = ReadMslRow(line);
    what = "not a row of the MSL log's columns";
  } else {
    if (csvlog::IsExtendedHeader(line)) return;
    read = ReadExtendedRow(line);
    what = "not a row of the extended log";
  }
  if (!read) AddBad(complete ? what : "the last line is cut short");
}

void TLogParser::ReadHeaderOrFirstRow(std::string_view line) {
  if (csvlog::IsClassicHeader(line, &Log.DateText)) {
    Log.Kind = TLogKind::Classic;
    Log.Date = csvlog::ParseShortDate(Log.DateText);
    HeaderDone = true;
    return;
  }
  if (csvlog::IsExtendedHeader(line)) {
    Log.Kind = TLogKind::Extended;
    Log.DecimalSeparator = ".";
    HeaderDone = true;
    return;
  }
  if (csvlog::IsOurMslProgramLine(line)) {
    Log.Kind = TLogKind::Msl;
    Log.DecimalSeparator = ".";
    MslHeaderRead = 1;
    return;
  }
  // A log whose header was cut off is still read, when its first line is a row.
  Log.Kind = TLogKind::Extended;
  Log.DecimalSeparator = ".";
  if (ReadExtendedRow(line)) {
    HeaderDone = true;
    return;
  }
  Log.Kind = TLogKind::Classic;
  Log.DecimalSeparator.clear();
  if (ReadClassicRow(line)) {
    HeaderDone = true;
    return;
  }
  Log.Kind = TLogKind::Unknown;
  // Binary files often begin with a line of text ("\x89PNG"); their first bytes give them away.
  if (!IsText(Head, true)) {
    Log.Error = Log.Name + ": binary data, this is not a log";
    return;
  }
  JudgedText = true;
  std::string start(line.substr(0, 40));
  Log.Error = Log.Name + ": line " + std::to_string(LineNumber) +
              ": not a log of kestlsugraph or kestlog (it begins \"" + start + "\")";
}

// The capture date, names and units after our program line. Anything else there makes it another
// program's MSL log, an engine log, which the window opens as one.
void TLogParser::ReadMslHeaderLine(std::string_view line) {
  static constexpr const char* Due[] = {"", "capture date", "names", "units"};
  bool expected = false;
  if (MslHeaderRead == 1) {
    csvlog::TMslCaptureDate date;
    expected = csvlog::ReadMslCaptureDate(line, date);
    if (date.Year != 0) Log.Date = {date.Year, date.Month, date.Day, false};
    Log.UtcOffsetSeconds = date.OffsetSeconds.value_or(0);
    Log.MslOffsetKnown = date.OffsetSeconds.has_value();
    MslOriginMs = date.DayMs;
  } else if (MslHeaderRead == 2) {
    expected = csvlog::ReadMslNames(line, MslLayout);
    Log.MslExtendedColumns = MslLayout.Columns == csvlog::TMslColumns::Extended;
  } else {
    expected = csvlog::IsMslUnits(line, MslLayout);
  }
  if (!expected) {
    Log.Error = Log.Name + ": line " + std::to_string(LineNumber) +
                ": not the MSL log of kestlog or kestview (its " + Due[MslHeaderRead] +
                " line was expected here)";
    return;
  }
  HeaderDone = ++MslHeaderRead == 4;
}

bool TLogParser::ReadMslRow(std::string_view line) {
  double seconds = 0;
  csvlog::TMslValues values;
  if (!csvlog::ReadMslRow(line, MslLayout, seconds, values)) return false;
  TSample sample;
  sample.Kind = MslLayout.Kind;
  sample.Value = static_cast<float>(values.Reading);
  sample.Volts = static_cast<float>(values.Volts);
  if (Log.MslExtendedColumns) {
    sample.Lambda = static_cast<float>(values.Lambda);
    sample.Temp = static_cast<std::uint16_t>(values.Temp);
    sample.Status = SampleStatusOf(values.Status);
  } else {
    sample.Lambda = std::numeric_limits<float>::quiet_NaN();
  }
  // Whole milliseconds from the capture's midnight, as the extended log's times are, so that the
  // same run reads the same in either.
  sample.Time = static_cast<double>(MslOriginMs + std::llround(seconds * 1000.0)) / 1000.0;
  AddTimedSample(sample);
  // Without a status column a silent controller's repeats look like readings, as in the classic
  // log this one may have been written from.
  if (!Log.MslExtendedColumns) MarkStale();
  return true;
}

bool TLogParser::ReadClassicRow(std::string_view line) {
  csvlog::TClassicFields row;
  if (!csvlog::ReadClassicRow(line, Log.DecimalSeparator, row)) return false;
  if (row.TwelveHour) Log.TwelveHourClock = true;
  TSample sample;
  sample.Lambda = std::numeric_limits<float>::quiet_NaN();
  sample.Kind = row.Kind;
  sample.Value = static_cast<float>(row.Reading);
  sample.Volts = static_cast<float>(row.Volts);
  AddClassicSample(row.DayTime, sample);
  return true;
}

void TLogParser::AddClassicSample(int dayTime, TSample sample) {
  if (LastDayTime >= 0 && dayTime < LastDayTime) {
    if (dayTime + HalfDay < LastDayTime) {
      DayOffset += SecondsPerDay;  // past midnight
    } else {
      // The clock was put back (summer time ended, or it was set): the rows go on from where the
      // log was, after a break, so that time never runs backwards on the chart.
      ClockShift += LastDayTime - dayTime;
      sample.BreakBefore = true;
    }
  }
  LastDayTime = dayTime;
  const std::int64_t second = dayTime + DayOffset + ClockShift;
  if (second != RunSecond) {
    if (RunSecond >= 0) PlaceClassicRun(second == RunSecond + 1);
    RunAfterGap = RunSecond < 0 || second != RunSecond + 1;
    RunSecond = second;
    RunStart = Log.Samples.size();
    RunCapacity = 0;
  }
  Log.Samples.push_back(sample);
  // Until the next second comes the run is taken to be still growing: its rows sit a sample
  // interval apart from the start of the second, as they were written. More rows than fit are
  // spread over the second, re-spread only when their count doubles so that a run of any length
  // costs constant time per row.
  const std::size_t count = Log.Samples.size() - RunStart;
  if (static_cast<double>(count) * Log.SampleInterval <= 1.0) {
    Log.Samples.back().Time = static_cast<double>(RunSecond) + (count - 0.5) * Log.SampleInterval;
  } else {
    if (count > RunCapacity) {
      RunCapacity = 2 * count;
      for (std::size_t i = 0; i + 1 < count; ++i) {
        Log.Samples[RunStart + i].Time =
            static_cast<double>(RunSecond) + (i + 0.5) / static_cast<double>(RunCapacity);
      }
    }
    Log.Samples.back().Time =
        static_cast<double>(RunSecond) + (count - 0.5) / static_cast<double>(RunCapacity);
  }
  MarkStale();
}

void TLogParser::PlaceClassicRun(bool nextSecondFollows) {
  const std::size_t count = Log.Samples.size() - RunStart;
  if (count == 0 || !nextSecondFollows) return;  // a run before a gap stays where it is
  double step = std::min(Log.SampleInterval, 1.0 / static_cast<double>(count));
  double first = 0.5 * step;
  if (!RunAfterGap) {
    // A whole second between two others: its rows fill it evenly, and it tells the sample rate.
    step = 1.0 / static_cast<double>(count);
    first = 0.5 * step;
    const std::size_t slot = std::min<std::size_t>(count, std::size(CountsPerSecond) - 1);
    ++CountsPerSecond[slot];
    const auto best = std::max_element(std::begin(CountsPerSecond), std::end(CountsPerSecond));
    Log.SampleInterval = 1.0 / static_cast<double>(best - std::begin(CountsPerSecond));
  } else {
    // The first second after a gap was entered part way: its rows end where the next begin.
    first = 1.0 - (static_cast<double>(count) - 0.5) * step;
  }
  for (std::size_t i = 0; i < count; ++i) {
    Log.Samples[RunStart + i].Time = static_cast<double>(RunSecond) + first + i * step;
  }
}

void TLogParser::MarkStale() {
  const std::size_t last = Log.Samples.size() - 1;
  if (last == 0) return;
  const TSample& now = Log.Samples[last];
  const TSample& before = Log.Samples[last - 1];
  if (now.Value != before.Value || now.Kind != before.Kind || now.Volts != before.Volts ||
      now.BreakBefore) {
    SameStart = last;
    return;
  }
  if (Log.Samples[last].Time - Log.Samples[SameStart].Time <= OfflineSeconds) return;
  for (std::size_t i = last; i > SameStart && !Log.Samples[i].Stale; --i) {
    Log.Samples[i].Stale = true;
  }
}

bool TLogParser::ReadExtendedRow(std::string_view line) {
  csvlog::TExtendedFields row;
  if (!csvlog::ReadExtendedRow(line, row)) return false;
  TSample sample;
  sample.Kind = row.Kind;
  sample.Value = static_cast<float>(row.Reading);
  sample.Status = SampleStatusOf(row.Status);
  sample.Lambda = static_cast<float>(row.Lambda);
  sample.Volts = static_cast<float>(row.Volts);
  sample.Temp = static_cast<std::uint16_t>(row.Temp);
  const std::int64_t localDay = csvlog::DaysFromCivil(row.Year, row.Month, row.Day);
  const std::int64_t utcMs =
      localDay * SecondsPerDay * 1000LL + row.DayMs - row.OffsetSeconds * 1000LL;
  if (!HaveOrigin) {
    HaveOrigin = true;
    Log.Date = {row.Year, row.Month, row.Day, false};
    Log.UtcOffsetSeconds = row.OffsetSeconds;
    OriginMidnightUtc = (localDay * SecondsPerDay - row.OffsetSeconds) * 1000LL;
  }
  // Times count from midnight of the first day in the first row's zone, so that a change of
  // summer time in the log neither jumps nor runs back.
  sample.Time = static_cast<double>(utcMs - OriginMidnightUtc) / 1000.0;
  AddTimedSample(sample);
  return true;
}

// A row whose time the log gave: one going back stays where the log was, after a break, so that
// time never runs backwards on the chart.
void TLogParser::AddTimedSample(TSample sample) {
  if (!Log.Samples.empty()) {
    const double previous = Log.Samples.back().Time;
    if (sample.Time < previous) {
      sample.Time = previous;
      sample.BreakBefore = true;
    } else {
      UpdateExtendedInterval(sample.Time - previous);
    }
  }
  Log.Samples.push_back(sample);
}

void TLogParser::UpdateExtendedInterval(double delta) {
  const long steps = std::lround(delta * 100.0);
  if (steps <= 0 || steps >= static_cast<long>(std::size(DeltaCounts))) return;
  ++DeltaCounts[steps];
  const auto best = std::max_element(std::begin(DeltaCounts), std::end(DeltaCounts));
  Log.SampleInterval = static_cast<double>(best - std::begin(DeltaCounts)) / 100.0;
}

bool HasStatusColumn(const TLogData& log) {
  return log.Kind == TLogKind::Extended || (log.Kind == TLogKind::Msl && log.MslExtendedColumns);
}

bool HasUtcOffset(const TLogData& log) {
  return log.Kind == TLogKind::Extended || (log.Kind == TLogKind::Msl && log.MslOffsetKnown);
}

TLogData ParseLogText(std::string_view text, const std::string& name) {
  TLogParser parser(name);
  parser.Feed(text);
  parser.Finish();
  return std::move(parser.Data());
}

std::string SkippedRowsText(const TLogData& log) {
  if (!log.Error.empty()) return log.Error;
  if (log.SkippedRows == 0) return {};
  const TBadLine& first = log.FirstBadLines.front();
  return log.Name + ": " + std::to_string(log.SkippedRows) +
         (log.SkippedRows == 1 ? " row" : " rows") + " skipped (line " +
         std::to_string(first.Line) + ": " + first.Reason + ")";
}

}  // namespace viewer
