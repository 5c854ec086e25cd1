// Reading the window's and kestlog's logs back from text, whatever the writer's locale, and the
// MSL log our programs write, into the one log model.
#include "log/OurLogReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "log/CivilTime.h"
#include "log/MslLog.h"
#include "log/RowGrammar.h"
#include "sensor/Monitoring.h"
#include "text/Words.h"

namespace enginelog {

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
// A run of repeats is marked once it outlasts OfflineSeconds, and a classic second's rows are
// placed when the next second begins (a second and a half back at one row a second): both must lie
// within what the header promises may still change.
static_assert(OfflineSeconds + 1.5 < OurRowsFinalBehindSeconds);

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

TOurLogReader::TOurLogReader(std::string name)
    : TLogReader(std::move(name), TFileFormat::Unknown, 0) {
  EmptyIsError = false;
  // A first line judged not a log on a text start may yet prove the file binary.
  SeesBytesAfterError = true;
  static constexpr std::array<std::pair<const char*, const char*>, OurChannelCount> Names = {{
      {"Reading", ""},
      {"Lambda", "lambda"},
      {"Volts", "V"},
      {"Temp", ""},
      {"Status", ""},
  }};
  for (const auto& [channelName, unit] : Names) Result.Channels.push_back({channelName, unit, {}});
}

// Lines are cut here, not by the base's pieces: a line too long for a row is cut short as it
// comes, so a junk file never sits in memory whole.
std::size_t TOurLogReader::Consume(std::string_view data, std::uint64_t, bool atEnd) {
  FeedLines(data);
  if (atEnd) FinishLines();
  return data.size();
}

void TOurLogReader::SetError(const std::string& text) { Result.Error = Result.Name + ": " + text; }

void TOurLogReader::FeedLines(std::string_view bytes) {
  if (Head.size() < HeadLength) Head.append(bytes.substr(0, HeadLength - Head.size()));
  if (JudgedText && !IsText(Head, true)) {
    SetError("binary data, this is not a log");
    JudgedText = false;
  }
  std::size_t pos = 0;
  if (SawCarriageReturn && !bytes.empty() && bytes.front() == '\n') pos = 1;
  if (!bytes.empty()) SawCarriageReturn = false;
  while (pos < bytes.size() && Result.Ok()) {
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

void TOurLogReader::FinishLines() {
  if (!Result.Ok()) return;
  if (!Pending.empty()) {
    const std::string last = std::move(Pending);
    Pending.clear();
    ReadLine(last, false);
  }
  if (!Result.Ok()) return;
  if (!SawFirstLine) {
    SetError("the file is empty");
  } else if (!HeaderDone && Result.Format == TFileFormat::OurMsl) {
    SetError("the file ends inside its MSL header, before the names and units");
  } else if (!HeaderDone) {
    SetError("the file holds no log, only blank lines");
  }
}

void TOurLogReader::AddBad(std::string reason) {
  ++Result.SkippedRecords;
  if (Result.Ours.FirstBadLines.size() < KeptBadLines) {
    Result.Ours.FirstBadLines.push_back({LineNumber, std::move(reason)});
  }
}

void TOurLogReader::ReadLine(std::string_view line, bool complete) {
  ++LineNumber;
  if (complete) ++Result.Ours.Lines;
  if (LineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  SawFirstLine = true;
  if (!IsText(line)) {
    if (!HeaderDone) {
      SetError("binary data, this is not a log");
    } else {
      AddBad("binary data");
    }
    return;
  }
  line = text::Trim(line);
  if (line.empty()) return;
  if (line.size() >= MaxLineLength) {
    if (!HeaderDone) {
      SetError("line " + std::to_string(LineNumber) +
               ": a line far too long for a log; this is not a log");
    } else {
      AddBad("a line far too long for a row");
    }
    return;
  }
  if (!HeaderDone) {
    if (Result.Format == TFileFormat::OurMsl) {
      ReadMslHeaderLine(line);
    } else {
      ReadHeaderOrFirstRow(line);
    }
    return;
  }
  bool read = false;
  const char* what = "";
  if (Result.Format == TFileFormat::Classic) {
    // The second header line, or a header of a log appended to this one, is no row.
    if (csvlog::IsClassicColumns(line) || csvlog::IsClassicHeader(line)) return;
    read = ReadClassicRow(line);
    what = "not a row of time, reading and volts";
  } else if (Result.Format == TFileFormat::OurMsl) {
    read = ReadMslRow(line);
    what = "not a row of the MSL log's columns";
  } else {
    if (csvlog::IsExtendedHeader(line)) return;
    read = ReadExtendedRow(line);
    what = "not a row of the extended log";
  }
  if (!read) AddBad(complete ? what : "the last line is cut short");
}

void TOurLogReader::ReadHeaderOrFirstRow(std::string_view line) {
  TOurLogFacts& facts = Result.Ours;
  if (csvlog::IsClassicHeader(line, &facts.DateText)) {
    Result.Format = TFileFormat::Classic;
    facts.Date = csvlog::ParseShortDate(facts.DateText);
    HeaderDone = true;
    return;
  }
  if (csvlog::IsExtendedHeader(line)) {
    Result.Format = TFileFormat::Extended;
    facts.DecimalSeparator = ".";
    HeaderDone = true;
    return;
  }
  if (csvlog::IsOurMslProgramLine(line)) {
    Result.Format = TFileFormat::OurMsl;
    facts.DecimalSeparator = ".";
    MslHeaderRead = 1;
    return;
  }
  // A log whose header was cut off is still read, when its first line is a row.
  Result.Format = TFileFormat::Extended;
  facts.DecimalSeparator = ".";
  if (ReadExtendedRow(line)) {
    HeaderDone = true;
    return;
  }
  Result.Format = TFileFormat::Classic;
  facts.DecimalSeparator.clear();
  if (ReadClassicRow(line)) {
    HeaderDone = true;
    return;
  }
  Result.Format = TFileFormat::Unknown;
  // Binary files often begin with a line of text ("\x89PNG"); their first bytes give them away.
  if (!IsText(Head, true)) {
    SetError("binary data, this is not a log");
    return;
  }
  JudgedText = true;
  std::string start(line.substr(0, 40));
  SetError("line " + std::to_string(LineNumber) +
           ": not a log of kestlsugraph or kestlog (it begins \"" + start + "\")");
}

// The capture date, names and units after our program line. Anything else there makes it another
// program's MSL log, an engine log, which the window opens as one.
void TOurLogReader::ReadMslHeaderLine(std::string_view line) {
  static constexpr const char* Due[] = {"", "capture date", "names", "units"};
  TOurLogFacts& facts = Result.Ours;
  bool expected = false;
  if (MslHeaderRead == 1) {
    csvlog::TMslCaptureDate date;
    expected = csvlog::ReadMslCaptureDate(line, date);
    if (date.Year != 0) facts.Date = {date.Year, date.Month, date.Day, false};
    facts.UtcOffsetSeconds = date.OffsetSeconds.value_or(0);
    facts.MslOffsetKnown = date.OffsetSeconds.has_value();
    MslOriginMs = date.DayMs;
  } else if (MslHeaderRead == 2) {
    expected = csvlog::ReadMslNames(line, MslLayout);
    facts.MslExtendedColumns = MslLayout.Columns == csvlog::TMslColumns::Extended;
  } else {
    expected = csvlog::IsMslUnits(line, MslLayout);
  }
  if (!expected) {
    SetError("line " + std::to_string(LineNumber) +
             ": not the MSL log of kestlog or kestview (its " + Due[MslHeaderRead] +
             " line was expected here)");
    return;
  }
  HeaderDone = ++MslHeaderRead == 4;
}

bool TOurLogReader::ReadMslRow(std::string_view line) {
  double seconds = 0;
  csvlog::TMslValues values;
  if (!csvlog::ReadMslRow(line, MslLayout, seconds, values)) return false;
  TRow row;
  row.Lambdas = MslLayout.Kind == csvlog::TReadingKind::Lambda;
  row.Value = static_cast<float>(values.Reading);
  row.Volts = static_cast<float>(values.Volts);
  if (Result.Ours.MslExtendedColumns) {
    row.Lambda = static_cast<float>(values.Lambda);
    row.Temp = static_cast<std::uint16_t>(values.Temp);
    row.Status = SampleStatusOf(values.Status);
  } else {
    row.Lambda = std::numeric_limits<float>::quiet_NaN();
  }
  // Whole milliseconds from the capture's midnight, as the extended log's times are, so that the
  // same run reads the same in either.
  row.Time = static_cast<double>(MslOriginMs + std::llround(seconds * 1000.0)) / 1000.0;
  AddTimedRow(row);
  // Without a status column a silent controller's repeats look like readings, as in the classic
  // log this one may have been written from.
  if (!Result.Ours.MslExtendedColumns) MarkStale();
  return true;
}

bool TOurLogReader::ReadClassicRow(std::string_view line) {
  csvlog::TClassicFields fields;
  if (!csvlog::ReadClassicRow(line, Result.Ours.DecimalSeparator, fields)) return false;
  if (fields.TwelveHour) Result.Ours.TwelveHourClock = true;
  TRow row;
  row.Lambda = std::numeric_limits<float>::quiet_NaN();
  row.Lambdas = fields.Kind == csvlog::TReadingKind::Lambda;
  row.Value = static_cast<float>(fields.Reading);
  row.Volts = static_cast<float>(fields.Volts);
  AddClassicRow(fields.DayTime, row);
  return true;
}

void TOurLogReader::Append(const TRow& row) {
  Result.Times.push_back(row.Time);
  Column(OurReading).push_back(row.Value);
  Column(OurLambda).push_back(row.Lambda);
  Column(OurVolts).push_back(row.Volts);
  Column(OurTemp).push_back(static_cast<float>(row.Temp));
  Column(OurStatus).push_back(static_cast<float>(row.Status));
  Result.RowFlags.push_back(static_cast<std::uint8_t>((row.Lambdas ? RowLambda : 0) |
                                                      (row.BreakBefore ? RowBreakBefore : 0)));
}

void TOurLogReader::AddClassicRow(int dayTime, TRow row) {
  if (LastDayTime >= 0 && dayTime < LastDayTime) {
    if (dayTime + HalfDay < LastDayTime) {
      DayOffset += SecondsPerDay;  // past midnight
    } else {
      // The clock was put back (summer time ended, or it was set): the rows go on from where the
      // log was, after a break, so that time never runs backwards on the chart.
      ClockShift += LastDayTime - dayTime;
      row.BreakBefore = true;
    }
  }
  LastDayTime = dayTime;
  const std::int64_t second = dayTime + DayOffset + ClockShift;
  if (second != RunSecond) {
    if (RunSecond >= 0) PlaceClassicRun(second == RunSecond + 1);
    RunAfterGap = RunSecond < 0 || second != RunSecond + 1;
    RunSecond = second;
    RunStart = Result.Times.size();
    RunCapacity = 0;
  }
  Append(row);
  std::vector<double>& times = Result.Times;
  const double interval = Result.Ours.SampleInterval;
  // Until the next second comes the run is taken to be still growing: its rows sit a sample
  // interval apart from the start of the second, as they were written. More rows than fit are
  // spread over the second, re-spread only when their count doubles so that a run of any length
  // costs constant time per row.
  const std::size_t count = times.size() - RunStart;
  if (static_cast<double>(count) * interval <= 1.0) {
    times.back() = static_cast<double>(RunSecond) + (count - 0.5) * interval;
  } else {
    if (count > RunCapacity) {
      RunCapacity = 2 * count;
      for (std::size_t i = 0; i + 1 < count; ++i) {
        times[RunStart + i] =
            static_cast<double>(RunSecond) + (i + 0.5) / static_cast<double>(RunCapacity);
      }
    }
    times.back() =
        static_cast<double>(RunSecond) + (count - 0.5) / static_cast<double>(RunCapacity);
  }
  MarkStale();
}

void TOurLogReader::PlaceClassicRun(bool nextSecondFollows) {
  const std::size_t count = Result.Times.size() - RunStart;
  if (count == 0 || !nextSecondFollows) return;  // a run before a gap stays where it is
  double& interval = Result.Ours.SampleInterval;
  double step = std::min(interval, 1.0 / static_cast<double>(count));
  double first = 0.5 * step;
  if (!RunAfterGap) {
    // A whole second between two others: its rows fill it evenly, and it tells the sample rate.
    step = 1.0 / static_cast<double>(count);
    first = 0.5 * step;
    const std::size_t slot = std::min<std::size_t>(count, std::size(CountsPerSecond) - 1);
    ++CountsPerSecond[slot];
    const auto best = std::max_element(std::begin(CountsPerSecond), std::end(CountsPerSecond));
    interval = 1.0 / static_cast<double>(best - std::begin(CountsPerSecond));
  } else {
    // The first second after a gap was entered part way: its rows end where the next begin.
    first = 1.0 - (static_cast<double>(count) - 0.5) * step;
  }
  for (std::size_t i = 0; i < count; ++i) {
    Result.Times[RunStart + i] = static_cast<double>(RunSecond) + first + i * step;
  }
}

void TOurLogReader::MarkStale() {
  const std::size_t last = Result.Times.size() - 1;
  if (last == 0) return;
  const std::vector<float>& values = Column(OurReading);
  const std::vector<float>& volts = Column(OurVolts);
  std::vector<std::uint8_t>& flags = Result.RowFlags;
  if (values[last] != values[last - 1] ||
      (flags[last] & RowLambda) != (flags[last - 1] & RowLambda) ||
      volts[last] != volts[last - 1] || (flags[last] & RowBreakBefore) != 0) {
    SameStart = last;
    return;
  }
  if (Result.Times[last] - Result.Times[SameStart] <= OfflineSeconds) return;
  for (std::size_t i = last; i > SameStart && (flags[i] & RowStale) == 0; --i) {
    flags[i] |= RowStale;
  }
}

bool TOurLogReader::ReadExtendedRow(std::string_view line) {
  csvlog::TExtendedFields fields;
  if (!csvlog::ReadExtendedRow(line, fields)) return false;
  TRow row;
  row.Lambdas = fields.Kind == csvlog::TReadingKind::Lambda;
  row.Value = static_cast<float>(fields.Reading);
  row.Status = SampleStatusOf(fields.Status);
  row.Lambda = static_cast<float>(fields.Lambda);
  row.Volts = static_cast<float>(fields.Volts);
  row.Temp = static_cast<std::uint16_t>(fields.Temp);
  const std::int64_t localDay = csvlog::DaysFromCivil(fields.Year, fields.Month, fields.Day);
  const std::int64_t utcMs =
      localDay * SecondsPerDay * 1000LL + fields.DayMs - fields.OffsetSeconds * 1000LL;
  if (!HaveOrigin) {
    HaveOrigin = true;
    Result.Ours.Date = {fields.Year, fields.Month, fields.Day, false};
    Result.Ours.UtcOffsetSeconds = fields.OffsetSeconds;
    OriginMidnightUtc = (localDay * SecondsPerDay - fields.OffsetSeconds) * 1000LL;
  }
  // Times count from midnight of the first day in the first row's zone, so that a change of
  // summer time in the log neither jumps nor runs back.
  row.Time = static_cast<double>(utcMs - OriginMidnightUtc) / 1000.0;
  AddTimedRow(row);
  return true;
}

// A row whose time the log gave: one going back stays where the log was, after a break, so that
// time never runs backwards on the chart.
void TOurLogReader::AddTimedRow(TRow row) {
  if (!Result.Times.empty()) {
    const double previous = Result.Times.back();
    if (row.Time < previous) {
      row.Time = previous;
      row.BreakBefore = true;
    } else {
      UpdateExtendedInterval(row.Time - previous);
    }
  }
  Append(row);
}

void TOurLogReader::UpdateExtendedInterval(double delta) {
  const long steps = std::lround(delta * 100.0);
  if (steps <= 0 || steps >= static_cast<long>(std::size(DeltaCounts))) return;
  ++DeltaCounts[steps];
  const auto best = std::max_element(std::begin(DeltaCounts), std::end(DeltaCounts));
  Result.Ours.SampleInterval = static_cast<double>(best - std::begin(DeltaCounts)) / 100.0;
}

bool HasStatusColumn(const TLog& log) {
  return log.Format == TFileFormat::Extended ||
         (log.Format == TFileFormat::OurMsl && log.Ours.MslExtendedColumns);
}

bool HasUtcOffset(const TLog& log) {
  return log.Format == TFileFormat::Extended ||
         (log.Format == TFileFormat::OurMsl && log.Ours.MslOffsetKnown);
}

std::string SkippedRowsText(const TLog& log) {
  if (!log.Error.empty()) return log.Error;
  if (log.SkippedRecords == 0) return {};
  std::string text = log.Name + ": " + std::to_string(log.SkippedRecords) +
                     (log.SkippedRecords == 1 ? " row" : " rows") + " skipped";
  if (log.Ours.FirstBadLines.empty()) return text;
  const TBadLine& first = log.Ours.FirstBadLines.front();
  return text + " (line " + std::to_string(first.Line) + ": " + first.Reason + ")";
}

}  // namespace enginelog
