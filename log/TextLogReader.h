// Text engine logs: the MSL format (optional quoted header lines, a row of names starting with
// Time, a row of units, tab-separated rows, MARK lines) and the delimited logs of other engine
// software (names with units beside or below them, comma, semicolon or tab, decimal point or
// comma, time in seconds, milliseconds or as a clock, empty cells for unchanged values). How a
// file is laid out is found from the file itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/Log.h"

namespace enginelog {

enum class TTimeForm : std::uint8_t { Count, Clock };  // a number of units, or a time of day

struct TTextLayout {
  TFileFormat Format = TFileFormat::Text;
  char Delimiter = ',';
  char Decimal = '.';
  std::size_t NamesLine = 0;      // 0-based line of the channel names
  std::size_t FirstDataLine = 0;  // 0-based line of the first row
  std::vector<std::string> Names;
  std::vector<std::string> Units;
  std::size_t TimeColumn = 0;
  TTimeForm TimeForm = TTimeForm::Count;
  double SecondsPerCount = 1;     // TTimeForm::Count: 1, 0.001 for milliseconds, ...
  std::vector<bool> TextColumns;  // columns that hold words, not numbers: not channels
  // The first date and time found in the lines above the names, if any; a date alone has
  // HeaderHasTime false.
  std::optional<TStartTime> HeaderStart;
  bool HeaderHasTime = false;
  double SampleLineLength = 0;  // mean bytes per row in the sample, to reserve the columns
};

// The line that begins at `pos` in `data` (without its line end, which is LF, CR LF or CR), with
// `pos` moved past it; false when no complete line is left. `atEnd`: nothing follows `data`, so
// its last line is complete without a line end.
bool NextLine(std::string_view data, std::size_t& pos, bool atEnd, std::string_view& line);

// How many lines DetectTextLayout looks at: once a file's first bytes hold this many complete
// lines, more of them cannot change the layout found.
inline constexpr std::size_t TextLayoutLines = 62;
// Whether `head` holds TextLayoutLines complete lines (the last one ended by its line end).
bool HoldsTextLayoutLines(std::string_view head);

// How the text in `head` (a file's first bytes) is laid out, or nothing with `error` saying why.
// `wholeFile`: `head` is the whole file, so its last line is complete.
std::optional<TTextLayout> DetectTextLayout(std::string_view head, bool wholeFile,
                                            std::string& error);

// A date and time written anywhere in `text`: 2024-05-01 12:34:56, 01.05.2024 12:34, 05/01/2024
// 12:34:56 (day first when the first number cannot be a month), Mon Dec 28 13:30:43 CET 2020;
// UTC, GMT, Z or +hh:mm after the time give the offset. `hasTime` says whether a time came with
// the date.
std::optional<TStartTime> FindDateTime(std::string_view text, bool& hasTime);

class TTextLogReader : public TLogReader {
 public:
  TTextLogReader(std::string name, std::uint64_t sizeHint);

 private:
  struct TBad {
    std::uint64_t Count = 0;
    std::uint64_t FirstLine = 0;
    std::string FirstReason;
    void Add(std::uint64_t line, const std::string& reason);
  };

  std::size_t Consume(std::string_view data, std::uint64_t offset, bool atEnd) override;
  void Complete() override;
  void Start(const TTextLayout& layout);
  void ReadLine(std::string_view line);
  bool ReadTime(std::string_view cell, double& time);

  bool LayoutDone = false;
  TTextLayout Layout;
  std::uint64_t LineIndex = 0;       // 0-based index of the next line
  std::vector<int> ChannelOfColumn;  // -1: not a channel
  std::vector<float> Last;           // each channel's last value, carried into empty cells
  std::int64_t FirstDay = 0;         // clock times with a date: the first row's day
  bool HaveFirstRow = false;
  double LastClock = 0;  // clock times without a date: to see midnight pass
  double DayOffset = 0;
  TBad SkippedRows;
  TBad ShortRows;
  TBad BadCells;
};

// A whole text log in one piece of memory.
TLog ReadTextLog(std::string_view bytes, const std::string& name);

}  // namespace enginelog
