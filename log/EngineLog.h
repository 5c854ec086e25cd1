// An engine log read back: the engine software's named channels, each with its unit, on one time
// axis, with its markers and, where the file says, the wall-clock time of its first record. Kept
// compact for day-long logs: one time column per file and one float per value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace enginelog {

enum class TEngineLogFormat : std::uint8_t { Mlg, Msl, Text };

// "mlg", "msl" or "text", as the summaries name the format.
const char* FormatName(TEngineLogFormat format);

struct TChannel {
  std::string Name;
  std::string Unit;
  std::vector<float> Values;  // one per record; NaN before a sparse channel's first value
};

struct TMarker {
  double Time = 0;  // on the log's own time axis (see TEngineLog::Times)
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

struct TEngineLog {
  std::string Name;  // as given to the reader; every message names it
  TEngineLogFormat Format = TEngineLogFormat::Text;
  // Empty when the log could be read; otherwise why not, naming the file and the line or byte.
  std::string Error;
  // What was tolerated (a record cut short, rows skipped), each naming the file and where.
  std::vector<std::string> Warnings;

  // Seconds on the file's own axis, one per record: from the first record for binary logs, as
  // written for text logs (a clock time counts from the first row's midnight).
  std::vector<double> Times;
  std::vector<TChannel> Channels;
  std::vector<TMarker> Markers;
  std::optional<TStartTime> Start;   // the wall-clock time of the first record
  std::uint64_t SkippedRecords = 0;  // records or rows that could not be read

  bool Ok() const { return Error.empty(); }
  std::size_t Rows() const { return Times.size(); }
  // From the first record to the last, 0 with fewer than two records.
  double Duration() const;
  // The channel called `name` (letter case ignored), or -1.
  int FindChannel(std::string_view name) const;
};

// Reads a log handed over in pieces of any size. Never throws on bad input: what cannot be read
// is counted, and a file that cannot be read at all sets Error, after which the rest is ignored.
class TEngineLogReader {
 public:
  virtual ~TEngineLogReader() = default;
  // Reads `bytes`, the next piece of the file; a piece ending inside a record or line keeps the
  // unfinished part until the next piece.
  void Feed(std::string_view bytes);
  // The file ends here: an unfinished last record is counted and dropped, an unfinished last line
  // is read, and a file without a single record becomes an error.
  void Finish();
  TEngineLog& Log() { return Result; }

 protected:
  // `name` for the messages; `sizeHint`: the file's size in bytes where known (0: unknown), so
  // that the columns are reserved once.
  TEngineLogReader(std::string name, TEngineLogFormat format, std::uint64_t sizeHint);
  // Reads whole records or lines from `data`, the bytes from file offset `offset` on, and returns
  // how many bytes it used. `atEnd`: nothing follows `data`.
  virtual std::size_t Consume(std::string_view data, std::uint64_t offset, bool atEnd) = 0;
  // Called once after the last Consume, before the empty-log check: a reader's last word.
  virtual void Complete() {}
  void Fail(const std::string& what);  // sets Error once: "<name>: <what>"
  void Warn(const std::string& what);

  TEngineLog Result;
  std::uint64_t SizeHint = 0;

 private:
  std::string Pending;
  std::uint64_t PendingOffset = 0;  // file offset of Pending's first byte
  bool Finished = false;
};

// Reads the file at `path` in pieces, whichever engine log it is. A file that cannot be opened,
// or is not an engine log, comes back with Error set; `name` is used in the messages.
TEngineLog ReadEngineLogFile(const std::string& path, const std::string& name);

// A whole log in one piece of memory, whichever engine log it is.
TEngineLog ReadEngineLog(std::string_view bytes, const std::string& name);

}  // namespace enginelog
