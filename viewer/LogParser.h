// Reading a logged run back: the window's classic CSV log, kestlog's extended log, in whatever
// locale they were written, and the MSL log our programs write, from text alone. The rows' grammar
// is log/'s; this is the run they make: where each row sits in time, which rows repeat a silent
// controller, the usual sample interval. No file, clock or locale of the reader is consulted, so
// tests feed it strings and a log reads the same on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/MslLog.h"
#include "log/RowGrammar.h"
#include "sensor/Monitoring.h"

namespace viewer {

enum class TLogKind : std::uint8_t {
  Unknown,   // nothing recognisable yet (or not a log at all: see TLogData::Error)
  Classic,   // the window's log: date header, then time,reading,volts in the writer's locale
  Extended,  // kestlog --format extended: ISO time, reading, afr, lambda, volts, temp, status
  Msl,       // kestlog --format msl, kestview --export: capture date, then seconds and values
};

// What a logged reading is, as the row's own grammar tells (log/RowGrammar.h).
using csvlog::TReadingKind;

// The extended log's status column; classic logs have none.
enum class TSampleStatus : std::uint8_t { None, Live, Warmup, Offline, LowVolts };

// One row. 32 bytes, so that a day-long log of a million rows stays small.
struct TSample {
  double Time = 0;  // seconds since local midnight of the log's first day (passes 86400 next day)
  float Value = 0;  // the reading as logged, in the unit of Kind
  float Volts = 0;
  // The extended log's lambda column (and the MSL log's, or its lambda reading); NaN in a classic
  // log, which needs a fuel to tell it.
  float Lambda = 0;
  TReadingKind Kind = TReadingKind::Afr;
  TSampleStatus Status = TSampleStatus::None;
  // A break before this row that the time alone does not show: the clock went back.
  bool BreakBefore = false;
  // A classic row that repeats the one before it after the controller must have gone silent: the
  // window keeps logging the last frame while nothing arrives. Not a measurement.
  bool Stale = false;
  std::uint16_t Temp = 0;  // the temperature code of the extended columns; 0 in a classic log
};

// A row that could not be read.
struct TBadLine {
  std::uint64_t Line = 0;  // 1-based line number in the file
  std::string Reason;
};

// The date the classic header carries, as the reader understood it.
using csvlog::TLogDate;

struct TLogData {
  std::string Name;  // as given to the parser, used in every message
  TLogKind Kind = TLogKind::Unknown;
  // Empty when the file could be read; otherwise why not, naming the file (and the line).
  std::string Error;

  std::string DateText;  // classic: the header's date text as written
  // classic: from DateText; extended: the first row's date; msl: the capture date (none when it
  // gave the time of day only)
  TLogDate Date;
  std::string DecimalSeparator;     // classic: as found in the rows ("." or ","); the others: "."
  bool TwelveHourClock = false;     // classic: times carried an AM/PM mark
  int UtcOffsetSeconds = 0;         // extended: the first row's offset from UTC; msl: the capture's
  bool MslExtendedColumns = false;  // msl: the rows carry lambda, temperature code and status
  bool MslOffsetKnown = false;      // msl: the capture date gave its offset from UTC

  std::vector<TSample> Samples;
  std::uint64_t Lines = 0;              // complete lines seen, header lines included
  std::uint64_t SkippedRows = 0;        // rows that could not be read
  std::vector<TBadLine> FirstBadLines;  // the first few of them, for the messages
  // The usual time between two rows, found from the rows (the "NORMAL" sample tick until enough
  // rows are seen).
  double SampleInterval = sensor::NormalSampleIntervalMs / 1000.0;
};

// How many bad lines are kept for messages; the rest are only counted.
inline constexpr std::size_t KeptBadLines = 8;

// Reads a log handed over in pieces of any size (a whole file, or what a growing file gained
// since the last look). Line ends may be LF, CR LF or CR, mixed. A last line without a line end is
// held back until more text comes, or read at Finish(). Never throws on bad input: bad rows are
// counted and skipped, and a file that is not a log at all sets Error and reads nothing more.
class TLogParser {
 public:
  explicit TLogParser(std::string name);

  // Reads `bytes`, the next piece of the file.
  void Feed(std::string_view bytes);
  // The file ends here: a pending last line is read (a truncated one is counted as skipped), and
  // an empty file or one without a single line becomes an error.
  void Finish();

  const TLogData& Data() const { return Log; }
  TLogData& Data() { return Log; }
  // Bytes held back as an unfinished line.
  std::size_t PendingBytes() const { return Pending.size(); }

 private:
  void ReadLine(std::string_view line, bool complete);
  void ReadHeaderOrFirstRow(std::string_view line);
  void ReadMslHeaderLine(std::string_view line);
  bool ReadMslRow(std::string_view line);
  bool ReadClassicRow(std::string_view line);
  bool ReadExtendedRow(std::string_view line);
  void AddClassicSample(int dayTime, TSample sample);
  void PlaceClassicRun(bool nextSecondFollows);
  void MarkStale();
  void AddBad(std::string reason);
  void UpdateExtendedInterval(double delta);
  void AddTimedSample(TSample sample);

  TLogData Log;
  std::string Pending;
  static constexpr std::size_t HeadLength = 512;
  std::string Head;  // the file's first bytes, to tell a binary file from text
  // The first line was no log, judged text on the part of Head seen then: the rest of Head, as
  // later pieces bring it, may still show the file binary, as a read of the whole would have.
  bool JudgedText = false;
  std::uint64_t LineNumber = 0;
  bool HeaderDone = false;
  bool SawFirstLine = false;
  bool SawCarriageReturn = false;  // the last piece ended in CR: an LF next is the same line end

  // Classic times carry whole seconds: the rows of one second are spread over it once the next
  // second shows whether the run was cut short.
  std::int64_t RunSecond = -1;  // the second (with days and clock shifts) of the current run
  std::size_t RunStart = 0;     // index of its first sample
  std::size_t RunCapacity = 0;  // rows the run is spread for, once more came than fit a second
  bool RunAfterGap = true;      // the second before the run had no rows
  std::int64_t LastDayTime = -1;
  std::int64_t DayOffset = 0;              // whole days passed, in seconds
  std::int64_t ClockShift = 0;             // seconds added after the clock went back
  std::uint32_t CountsPerSecond[64] = {};  // how many rows full seconds held

  // Repeated rows: the start of the current run of equal rows.
  std::size_t SameStart = 0;

  // Extended: the first row's UTC second and its day's local midnight.
  bool HaveOrigin = false;
  std::int64_t OriginMidnightUtc = 0;
  std::uint32_t DeltaCounts[64] = {};  // time between rows in 10 ms steps

  // MSL: the header lines read so far (the program line is the first), the columns they name, and
  // the capture's local time of day, from which the rows count.
  int MslHeaderRead = 0;
  csvlog::TMslLayout MslLayout;
  std::int64_t MslOriginMs = 0;
};

// The rows carry a status, lambda and the temperature code: an extended log, or an MSL log of ours
// with those columns.
bool HasStatusColumn(const TLogData& log);
// UtcOffsetSeconds is the log's own: an extended log, or an MSL log whose capture date gave it.
// Otherwise the times are local time of an unknown zone.
bool HasUtcOffset(const TLogData& log);

// A whole log in one string.
TLogData ParseLogText(std::string_view text, const std::string& name);

// Messages for a log, each naming the file: the error, or a line about the skipped rows (empty
// when none were skipped).
std::string SkippedRowsText(const TLogData& log);

}  // namespace viewer
