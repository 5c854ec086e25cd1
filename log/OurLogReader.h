// Reading our own logs back into the one log model: the window's classic CSV log and kestlog's
// extended log, in whatever locale they were written, and the MSL log our programs write. The
// rows' grammar is RowGrammar's; this is the run they make: where each row sits in time, which
// rows repeat a silent controller, the usual sample interval. No file, clock or locale of the
// reader is consulted, so a log reads the same on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "log/Log.h"
#include "log/MslLog.h"

namespace enginelog {

// How far behind its last row a log of ours being read is as it will stay: the reader still
// places the rows of the second being written (a classic log's rows carry whole seconds) and marks
// a run of equal rows as a silent controller's repeats once the run outlasts the watchdog, both
// within this of the last row. Rows further back keep their times, values and marks however the
// log grows; only the sample interval, learnt from every row, may still change.
inline constexpr double OurRowsFinalBehindSeconds = 3.0;

// Reads a log of ours handed over in pieces of any size (a whole file, or what a growing file
// gained since the last look) into channels OurReading..OurStatus, RowFlags and Ours. Line ends
// may be LF, CR LF or CR, mixed. A last line without a line end is held back until more text
// comes, or read at Finish(). Never throws on bad input: bad rows are counted (SkippedRecords)
// and skipped, and a file that is not a log at all sets Error and reads nothing more. A header
// without rows is a log, an empty one.
class TOurLogReader : public TLogReader {
 public:
  explicit TOurLogReader(std::string name);

 private:
  // A row as read, before it is placed in time.
  struct TRow {
    double Time = 0;
    float Value = 0;
    float Volts = 0;
    float Lambda = 0;
    bool Lambdas = false;  // the reading is a lambda
    TSampleStatus Status = TSampleStatus::None;
    bool BreakBefore = false;
    std::uint16_t Temp = 0;
  };

  std::size_t Consume(std::string_view data, std::uint64_t offset, bool atEnd) override;
  void FeedLines(std::string_view bytes);
  void FinishLines();
  void ReadLine(std::string_view line, bool complete);
  void ReadHeaderOrFirstRow(std::string_view line);
  void ReadMslHeaderLine(std::string_view line);
  bool ReadMslRow(std::string_view line);
  bool ReadClassicRow(std::string_view line);
  bool ReadExtendedRow(std::string_view line);
  void AddClassicRow(int dayTime, TRow row);
  void PlaceClassicRun(bool nextSecondFollows);
  void MarkStale();
  void AddBad(std::string reason);
  void UpdateExtendedInterval(double delta);
  void AddTimedRow(TRow row);
  void Append(const TRow& row);
  void SetError(const std::string& text);

  std::vector<float>& Column(TOurChannel channel) { return Result.Channels[channel].Values; }

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
  std::size_t RunStart = 0;     // index of its first row
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
bool HasStatusColumn(const TLog& log);
// Ours.UtcOffsetSeconds is the log's own: an extended log, or an MSL log whose capture date gave
// it. Otherwise the times are local time of an unknown zone.
bool HasUtcOffset(const TLog& log);

// Messages for a log, each naming the file: the error, or a line about the skipped rows (empty
// when none were skipped).
std::string SkippedRowsText(const TLog& log);

}  // namespace enginelog
