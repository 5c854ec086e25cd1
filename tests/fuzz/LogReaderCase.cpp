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
#include "viewer/chart/TraceColumns.h"
#include "viewer/logs/OurLog.h"
#include "viewer/logs/Summary.h"

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

std::optional<std::string> Differences(const reader::TLog& whole, const reader::TLog& pieces) {
  if (whole.Format != pieces.Format || whole.Error != pieces.Error) return "kind or error";
  if (whole.Ours.DateText != pieces.Ours.DateText ||
      whole.Ours.DecimalSeparator != pieces.Ours.DecimalSeparator ||
      whole.Ours.TwelveHourClock != pieces.Ours.TwelveHourClock ||
      whole.Ours.UtcOffsetSeconds != pieces.Ours.UtcOffsetSeconds ||
      whole.Ours.MslExtendedColumns != pieces.Ours.MslExtendedColumns ||
      whole.Ours.MslOffsetKnown != pieces.Ours.MslOffsetKnown ||
      whole.Ours.Date.Year != pieces.Ours.Date.Year ||
      whole.Ours.Date.Month != pieces.Ours.Date.Month ||
      whole.Ours.Date.Day != pieces.Ours.Date.Day)
    return "header";
  if (whole.Ours.Lines != pieces.Ours.Lines || whole.SkippedRecords != pieces.SkippedRecords)
    return "counts";
  if (whole.Ours.SampleInterval != pieces.Ours.SampleInterval) return "sample interval";
  if (whole.Rows() != pieces.Rows()) return "sample count";
  for (std::size_t i = 0; i < whole.Rows(); ++i) {
    if (!SameSample(viewer::SampleAt(whole, i), viewer::SampleAt(pieces, i)))
      return "sample " + std::to_string(i);
  }
  return std::nullopt;
}

std::optional<std::string> Rules(const reader::TLog& log) {
  if (!log.Error.empty() && log.Error.rfind(Name, 0) != 0) return "error without the name";
  if (log.Ours.FirstBadLines.size() > enginelog::KeptBadLines ||
      log.Ours.FirstBadLines.size() > log.SkippedRecords)
    return "more bad lines kept than allowed or counted";
  if (!(log.Ours.SampleInterval > 0) || !std::isfinite(log.Ours.SampleInterval))
    return "sample interval";
  for (std::size_t i = 0; i < log.Rows(); ++i) {
    const double time = log.Times[i];
    if (!std::isfinite(time)) return "sample " + std::to_string(i) + " has no finite time";
    if (i > 0 && time < log.Times[i - 1]) {
      return "sample " + std::to_string(i) + " goes back in time";
    }
  }
  return std::nullopt;
}

// What the viewer does with a log it has read: every sample summarized and drawn.
void Use(const reader::TLog& log) {
  const viewer::TDisplay display = viewer::LoggedDisplay(log);
  viewer::Summarize(log, -1e12, 1e12, display, {});
  if (log.Times.empty()) return;
  const double from = log.Times.front();
  const double to = std::max(log.Times.back(), from + 1);
  for (const auto quantity : {viewer::TTraceQuantity::Reading, viewer::TTraceQuantity::Volts}) {
    viewer::ReduceToColumns(log, {from, to, 700}, quantity, display);
  }
}

}  // namespace

std::optional<std::string> RunLogReader(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const reader::TLog whole = reader::ParseLogText(text, Name);
  const std::size_t piece = size == 0 ? 1 : data[0] % 16 + 1;
  enginelog::TOurLogReader parser(Name);
  for (std::size_t at = 0; at < size; at += piece) parser.Feed(text.substr(at, piece));
  parser.Finish();
  if (std::optional<std::string> difference = Differences(whole, parser.Log())) {
    return "read in pieces of " + std::to_string(piece) + ", the " + *difference + " differ";
  }
  if (std::optional<std::string> broken = Rules(whole)) return broken;
  Use(whole);
  return std::nullopt;
}

}  // namespace fuzz
