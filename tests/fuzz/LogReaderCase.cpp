// The log reader over arbitrary bytes: a log from another machine, in any locale's form, cut
// short, or not a log at all. The bytes are read whole and again in pieces (of 1 to 16 bytes,
// chosen by the first byte), and what is read then goes through the summary and the chart's
// column reduction, which trust the reader's output.
//
// Rules: the two reads agree in every field; samples are in time order with finite times (the
// viewer's searches depend on it); the bad lines kept are within their count and bound; an error
// names the file.
#include <cmath>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzTargets.h"
#include "viewer/LogParser.h"
#include "viewer/Summary.h"
#include "viewer/TraceColumns.h"

namespace fuzz {

namespace {

// The reader under test, through its public functions only.
namespace reader = viewer;

constexpr const char* Name = "fuzz.csv";

bool SameSample(const reader::TSample& a, const reader::TSample& b) {
  auto same = [](float x, float y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  return a.Time == b.Time && same(a.Value, b.Value) && same(a.Volts, b.Volts) &&
         same(a.Lambda, b.Lambda) && a.Kind == b.Kind && a.Status == b.Status &&
         a.BreakBefore == b.BreakBefore && a.Stale == b.Stale && a.Temp == b.Temp;
}

std::optional<std::string> Differences(const reader::TLogData& whole,
                                       const reader::TLogData& pieces) {
  if (whole.Kind != pieces.Kind || whole.Error != pieces.Error) return "kind or error";
  if (whole.DateText != pieces.DateText || whole.DecimalSeparator != pieces.DecimalSeparator ||
      whole.TwelveHourClock != pieces.TwelveHourClock ||
      whole.UtcOffsetSeconds != pieces.UtcOffsetSeconds ||
      whole.MslExtendedColumns != pieces.MslExtendedColumns ||
      whole.MslOffsetKnown != pieces.MslOffsetKnown || whole.Date.Year != pieces.Date.Year ||
      whole.Date.Month != pieces.Date.Month || whole.Date.Day != pieces.Date.Day)
    return "header";
  if (whole.Lines != pieces.Lines || whole.SkippedRows != pieces.SkippedRows) return "counts";
  if (whole.SampleInterval != pieces.SampleInterval) return "sample interval";
  if (whole.Samples.size() != pieces.Samples.size()) return "sample count";
  for (std::size_t i = 0; i < whole.Samples.size(); ++i) {
    if (!SameSample(whole.Samples[i], pieces.Samples[i])) return "sample " + std::to_string(i);
  }
  return std::nullopt;
}

std::optional<std::string> Rules(const reader::TLogData& log) {
  if (!log.Error.empty() && log.Error.rfind(Name, 0) != 0) return "error without the name";
  if (log.FirstBadLines.size() > reader::KeptBadLines || log.FirstBadLines.size() > log.SkippedRows)
    return "more bad lines kept than allowed or counted";
  if (!(log.SampleInterval > 0) || !std::isfinite(log.SampleInterval)) return "sample interval";
  for (std::size_t i = 0; i < log.Samples.size(); ++i) {
    const double time = log.Samples[i].Time;
    if (!std::isfinite(time)) return "sample " + std::to_string(i) + " has no finite time";
    if (i > 0 && time < log.Samples[i - 1].Time) {
      return "sample " + std::to_string(i) + " goes back in time";
    }
  }
  return std::nullopt;
}

// What the viewer does with a log it has read: every sample summarized and drawn.
void Use(const reader::TLogData& log) {
  const viewer::TDisplay display = viewer::LoggedDisplay(log);
  viewer::Summarize(log, -1e12, 1e12, display, {});
  if (log.Samples.empty()) return;
  const double from = log.Samples.front().Time;
  const double to = std::max(log.Samples.back().Time, from + 1);
  for (const auto quantity : {viewer::TTraceQuantity::Reading, viewer::TTraceQuantity::Volts}) {
    viewer::ReduceToColumns(log, {from, to, 700}, quantity, display);
  }
}

}  // namespace

std::optional<std::string> RunLogReader(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const reader::TLogData whole = reader::ParseLogText(text, Name);
  const std::size_t piece = size == 0 ? 1 : data[0] % 16 + 1;
  reader::TLogParser parser(Name);
  for (std::size_t at = 0; at < size; at += piece) parser.Feed(text.substr(at, piece));
  parser.Finish();
  if (std::optional<std::string> difference = Differences(whole, parser.Data())) {
    return "read in pieces of " + std::to_string(piece) + ", the " + *difference + " differ";
  }
  if (std::optional<std::string> broken = Rules(whole)) return broken;
  Use(whole);
  return std::nullopt;
}

}  // namespace fuzz
