// A log read back, whichever program wrote it: named channels, each with its unit, on one time
// axis, with its markers and, where the file says, the wall-clock time of its first record. An
// engine software's log brings its own channels; our mixture logs bring the reading, lambda,
// volts, the temperature code and the status as channels, a byte of marks per row and what their
// header and rows tell of the run (TOurLogFacts). Kept compact for day-long logs: one time column
// per file, one float per value, no text per row.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/RowGrammar.h"
#include "sensor/Monitoring.h"

namespace enginelog {

enum class TFileFormat : std::uint8_t {
  Mlg,  // engine logs of other programs: binary MLG, MSL text, delimited text
  Msl,
  Text,
  DataLog,   // an engine software's "%DataLog%" CSV export: channel blocks, then raw values
  Classic,   // the window's log: date header, then time,reading,volts in the writer's locale
  Extended,  // kestlog --format extended: ISO time, reading, afr, lambda, volts, temp, status
  OurMsl,    // kestlog --format msl, kestview --export: capture date, then seconds and values
  Unknown,   // a log of ours before its first line told which
};

// "mlg", "msl", "text" or "datalog" for engine logs, as the summaries name the format; "classic",
// "extended" or "msl" for ours.
const char* FormatName(TFileFormat format);
// Classic, Extended or OurMsl.
bool IsOurs(TFileFormat format);

struct TChannel {
  std::string Name;
  std::string Unit;
  std::vector<float> Values;  // one per record; NaN before a sparse channel's first value
};

struct TMarker {
  double Time = 0;  // on the log's own time axis (see TLog::Times)
  std::string Text;
};

// A wall-clock moment as the file wrote it.
struct TStartTime {
  // Seconds since 1970-01-01 00:00:00 on the clock that wrote the file: Unix time when
  // UtcOffsetSeconds is 0, the local time of the writer's zone otherwise.
  std::int64_t Seconds = 0;
  double Fraction = 0;                  // the part of a second, [0, 1)
  std::optional<int> UtcOffsetSeconds;  // that clock's offset from UTC, where the file says
};

// The channels of a log of ours, in this order.
enum TOurChannel : std::size_t {
  OurReading,  // the reading as logged, in the unit its row's RowLambda mark says
  OurLambda,   // the extended and MSL logs' lambda column; NaN in a classic log
  OurVolts,
  OurTemp,    // the temperature code of the extended columns; 0 without them
  OurStatus,  // a TSampleStatus; None without a status column
  OurChannelCount,
};

// The extended log's status column as a row of ours carries it.
enum class TSampleStatus : std::uint8_t { None, Live, Warmup, Offline, LowVolts };

// The marks of a row of ours (TLog::RowFlags), one byte a row.
enum TRowFlag : std::uint8_t {
  RowLambda = 1,  // the reading was logged as lambda, not as an air-fuel ratio
  // A break before this row that the time alone does not show: the clock went back.
  RowBreakBefore = 2,
  // A row that repeats the one before it after the controller must have gone silent: the window
  // keeps logging the last frame while nothing arrives. Not a measurement.
  RowStale = 4,
};

// A row of ours that could not be read.
struct TBadLine {
  std::uint64_t Line = 0;  // 1-based line number in the file
  std::string Reason;
};

// How many bad lines are kept for messages; the rest are only counted.
inline constexpr std::size_t KeptBadLines = 8;

// What a log of ours says beyond its rows.
struct TOurLogFacts {
  std::string DateText;  // classic: the header's date text as written
  // classic: from DateText; extended: the first row's date; msl: the capture date (none when it
  // gave the time of day only)
  csvlog::TLogDate Date;
  std::string DecimalSeparator;     // classic: as found in the rows ("." or ","); the others: "."
  bool TwelveHourClock = false;     // classic: times carried an AM/PM mark
  int UtcOffsetSeconds = 0;         // extended: the first row's offset from UTC; msl: the capture's
  bool MslExtendedColumns = false;  // msl: the rows carry lambda, temperature code and status
  bool MslOffsetKnown = false;      // msl: the capture date gave its offset from UTC
  std::uint64_t Lines = 0;          // complete lines seen, header lines included
  std::vector<TBadLine> FirstBadLines;  // the first few rows skipped, for the messages
  // The usual time between two rows, found from the rows (the "NORMAL" sample tick until enough
  // rows are seen).
  double SampleInterval = sensor::NormalSampleIntervalMs / 1000.0;
};

struct TLog {
  std::string Name;  // as given to the reader; every message names it
  TFileFormat Format = TFileFormat::Text;
  // Empty when the log could be read; otherwise why not, naming the file and the line or byte.
  std::string Error;
  // What was tolerated (a record cut short, rows skipped), each naming the file and where.
  std::vector<std::string> Warnings;

  // Seconds on the file's own axis, one per record: from the first record for binary logs, as
  // written for text logs (a clock time counts from the first row's midnight; ours count from
  // local midnight of the first day and pass 86400 the next day).
  std::vector<double> Times;
  std::vector<TChannel> Channels;
  std::vector<TMarker> Markers;
  std::optional<TStartTime> Start;   // the wall-clock time of the first record
  std::uint64_t SkippedRecords = 0;  // records or rows that could not be read

  // Logs of ours only (empty for engine logs): TRowFlag marks, one per record.
  std::vector<std::uint8_t> RowFlags;
  TOurLogFacts Ours;

  bool Ok() const { return Error.empty(); }
  std::size_t Rows() const { return Times.size(); }
  // From the first record to the last, 0 with fewer than two records.
  double Duration() const;
  // The channel called `name` (letter case ignored), also as "Name [unit]" or "Name (unit)" where
  // the reader kept the unit apart; -1 when none is.
  int FindChannel(std::string_view name) const;
};

// Reads a log handed over in pieces of any size. Never throws on bad input: what cannot be read
// is counted, and a file that cannot be read at all sets Error, after which the rest is ignored.
class TLogReader {
 public:
  virtual ~TLogReader() = default;
  // Reads `bytes`, the next piece of the file; a piece ending inside a record or line keeps the
  // unfinished part until the next piece.
  void Feed(std::string_view bytes);
  // The file ends here: an unfinished last record is counted and dropped, an unfinished last line
  // is read, and a file without a single record becomes an error (an engine log's; a log of ours
  // may be a header alone, as a log just started is).
  void Finish();
  TLog& Log() { return Result; }
  const TLog& Log() const { return Result; }

 protected:
  // `name` for the messages; `sizeHint`: the file's size in bytes where known (0: unknown), so
  // that the columns are reserved once.
  TLogReader(std::string name, TFileFormat format, std::uint64_t sizeHint);
  // Reads whole records or lines from `data`, the bytes from file offset `offset` on, and returns
  // how many bytes it used. `atEnd`: nothing follows `data`.
  virtual std::size_t Consume(std::string_view data, std::uint64_t offset, bool atEnd) = 0;
  // Called once after the last Consume, before the empty-log check: a reader's last word.
  virtual void Complete() {}
  void Fail(const std::string& what);  // sets Error once: "<name>: <what>"
  void Warn(const std::string& what);

  TLog Result;
  std::uint64_t SizeHint = 0;
  bool EmptyIsError = true;  // Finish fails a log without records
  // Consume still gets the pieces after Error is set (and must read nothing from them): a reader
  // whose verdict on the first bytes may change as more of them come.
  bool SeesBytesAfterError = false;

 private:
  std::string Pending;
  std::uint64_t PendingOffset = 0;  // file offset of Pending's first byte
  bool Finished = false;
};

// The reader for a file that begins with `head` (SniffBytes of it, or the whole file when
// `wholeFile`), chosen once from these bytes: an engine log's reader for an engine log, our
// reader otherwise (which names the fault of a file that is no log at all). `name` for the
// messages, `sizeHint` as for TLogReader. Feed it the file from its first byte on.
std::unique_ptr<TLogReader> MakeLogReader(std::string_view head, bool wholeFile,
                                          const std::string& name, std::uint64_t sizeHint);

enum class TLogFormat : std::uint8_t;
// The reader for a log of `format` (as SniffLogFormat or SniffGrowingLog found it): an engine
// log's reader, or ours for a log of ours or none.
std::unique_ptr<TLogReader> MakeLogReaderFor(TLogFormat format, const std::string& name,
                                             std::uint64_t sizeHint);

// A whole log in one piece of memory, whichever log it is.
TLog ReadLog(std::string_view bytes, const std::string& name);

// The file at `path` read in pieces, whichever engine log it is. A file that cannot be opened,
// or is not an engine log, comes back with Error set; `name` is used in the messages.
TLog ReadEngineLogFile(const std::string& path, const std::string& name);

// A whole engine log in one piece of memory; a log of ours or none comes back with Error set.
TLog ReadEngineLog(std::string_view bytes, const std::string& name);

}  // namespace enginelog
