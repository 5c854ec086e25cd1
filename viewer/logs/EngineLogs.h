// An engine log beside our mixture logs: where one falls on the
// mixture chart's time axis (by clock, by matching the mixture traces, or by hand), which of its
// channels are shown first, and its summary. No widgets: the window, the export and the command
// line share it.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/ChannelRoles.h"
#include "log/Log.h"
#include "viewer/logs/OurLog.h"
#include "viewer/logs/Summary.h"

namespace viewer {

// How the user asked the engine log to be lined up.
enum class TAlignMode : unsigned char { Clock, Match, None };
// "clock", "match", "none"; nothing for another word.
std::optional<TAlignMode> AlignModeOf(std::string_view word);

// Where the engine log lies on the mixture log's axis and how that was found.
struct TAlignment {
  // Seconds after the mixture log's first row at which the engine log's first record falls.
  double Offset = 0;
  // "clock", "match", "hand" or "none" (the logs start together: nothing else was possible).
  std::string How = "none";
  // Why the way asked for could not be used; empty when it was.
  std::string Note;
};

// The wall-clock time of a mixture log's first row: an extended log's own time and offset, or a
// classic log's header date and first row in the local zone (no offset). None without a date.
std::optional<enginelog::TStartTime> MixtureStart(const TLog& log);

// Lines `engine` up with `mixture`. A hand offset wins; otherwise `mode` decides: by clock when
// both logs carry wall-clock time, or by matching `engineMixture` (the engine log's mixture
// channel, none without one) against our readings around the clock's offset (searched over
// DefaultSearchWindow), falling back to the clock and then to none, with the reason in Note.
// `localUtcOffsetSeconds`: this machine's zone at the mixture log's start, for the starts written
// without an offset.
TAlignment AlignEngineLog(const TLog& mixture, const enginelog::TLog& engine,
                          std::optional<std::size_t> engineMixture, TAlignMode mode,
                          std::optional<double> handOffset, int localUtcOffsetSeconds);
// What to add to `engine`'s own times to place them on `mixture`'s time axis (its Times),
// its first record `offset` seconds after the mixture log's first row.
double EngineShift(const TLog& mixture, const enginelog::TLog& engine, double offset);
// This machine's offset from UTC at the mixture log's start (at today's date without one).
int LocalUtcOffsetAt(const TLog& mixture);

// The channels shown before the user picks: engine speed and load (manifold pressure, a calculated
// load, boost or the throttle), found by their roles; the first channel when neither is there.
std::vector<std::size_t> DefaultShownChannels(const enginelog::TLog& log,
                                              const enginelog::TChannelNames& names);
// The channels named in `names` (letter case ignored), in that order; unknown names in `unknown`.
std::vector<std::size_t> ChannelsNamed(const enginelog::TLog& log,
                                       const std::vector<std::string>& names,
                                       std::vector<std::string>& unknown);

// Seconds between two records beyond which an engine log's trace breaks: five of the log's usual
// intervals, half a second at least.
double RecordGapSeconds(const enginelog::TLog& log);

// An engine log's mixture channel as the summaries give it: which channel it is (none: the log
// has none; the caller finds it by its role) and the unit and bands of its figures.
struct TEngineMixture {
  std::optional<std::size_t> Channel;
  TDisplay Display;
  TBands Bands;
};

// The summary of an engine log as one JSON object: file, format, rows, duration_s, start (ISO 8601
// or null), markers, channels [{name, unit, min, max, mean}], offset_s and align when it was
// lined up with a mixture log, and with a mixture channel, mixture {channel, unit, fuel,
// readings, implausible, min, max, mean, rich_share, stoichiometric_share, lean_share} of its
// plausible values over the whole log (null figures without one).
std::string EngineSummaryJson(const std::string& file, const enginelog::TLog& log,
                              const std::optional<TAlignment>& alignment,
                              const TEngineMixture& mixture = {});
// The same as lines for a terminal.
std::string EngineSummaryText(const std::string& file, const enginelog::TLog& log,
                              const std::optional<TAlignment>& alignment,
                              const TEngineMixture& mixture = {});
// The summary panel's lines for an engine log: its file name, format, records and duration; its
// mixture channel and, with `figures` (that channel summed up over the visible range, as the
// chart draws it), their figures; and every channel with its unit.
std::string EnginePanelText(const std::string& file, const enginelog::TLog& log,
                            const TEngineMixture& mixture, const TSummary* figures);

}  // namespace viewer
