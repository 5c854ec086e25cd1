// A log of ours as the viewer reads it: each row as a sample, put together from the one log
// model's channels and marks (log/Log.h), so that the chart, the summary and the table ask about a
// row in one place. Pure: no file, clock or locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/Log.h"
#include "log/OurLogReader.h"
#include "log/RowGrammar.h"

namespace viewer {

using csvlog::TReadingKind;
using enginelog::HasStatusColumn;
using enginelog::HasUtcOffset;
using enginelog::SkippedRowsText;
using enginelog::TFileFormat;
using enginelog::TLog;
using enginelog::TSampleStatus;

// One row of a log of ours (a value, not a reference into the log).
struct TSample {
  double Time = 0;  // seconds since local midnight of the log's first day (passes 86400 next day)
  float Value = 0;  // the reading as logged, in the unit of Kind
  float Volts = 0;
  // The extended log's lambda column (and the MSL log's); NaN in a classic log, which needs a fuel
  // to tell it.
  float Lambda = 0;
  TReadingKind Kind = TReadingKind::Afr;
  TSampleStatus Status = TSampleStatus::None;
  bool BreakBefore = false;  // the clock went back before this row
  bool Stale = false;        // a repeat of a silent controller, not a measurement
  std::uint16_t Temp = 0;    // the temperature code of the extended columns; 0 in a classic log
};

// Row `index` (< log.Rows()) of `log`, a log of ours.
TSample SampleAt(const TLog& log, std::size_t index);

// The rows of a log of ours, in order, for a range-for.
class TSampleRange {
 public:
  class TIterator {
   public:
    TIterator(const TLog& log, std::size_t index) : Log(&log), Index(index) {}
    TSample operator*() const { return SampleAt(*Log, Index); }
    TIterator& operator++() {
      ++Index;
      return *this;
    }
    bool operator!=(const TIterator& other) const { return Index != other.Index; }

   private:
    const TLog* Log;
    std::size_t Index;
  };

  explicit TSampleRange(const TLog& log) : Log(log) {}
  TIterator begin() const { return {Log, 0}; }
  TIterator end() const { return {Log, Log.Rows()}; }

 private:
  const TLog& Log;
};

inline TSampleRange Samples(const TLog& log) { return TSampleRange(log); }

// A log of ours of `format` made of `samples` as they are (the reader's placing in time, repeats
// and breaks are theirs to say), with `interval` as its usual time between rows: logs for the
// chart's, the table's and the bench's known answers.
TLog OurLogOf(const std::vector<TSample>& samples, double interval,
              TFileFormat format = TFileFormat::Extended);

// A whole log of ours in one string (what a file of that text would read as).
TLog ParseLogText(std::string_view text, const std::string& name);

}  // namespace viewer
