// Telling log files apart from their first bytes: our own mixture logs (classic, extended and the
// MSL log we write), an MLG binary engine log, another program's MSL text engine log, an engine
// software's "%DataLog%" CSV export, another engine software's delimited text log, or none of
// these.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace enginelog {

enum class TLogFormat : std::uint8_t {
  // The window's classic log, kestlog's extended log or an MSL log of our programs: read by the
  // viewer's own parser
  Ours,
  Mlg,
  Msl,
  Text,
  DataLog,
  None,
};

// How many bytes of a file's start SniffLogFormat wants to see to decide (fewer when the file is
// shorter).
inline constexpr std::size_t SniffBytes = 64 * 1024;

// Which log `head` starts. `wholeFile`: `head` is the entire file, so a short head is no reason to
// doubt.
TLogFormat SniffLogFormat(std::string_view head, bool wholeFile);

// Which log a file still being written starts with, once its first bytes tell: nothing while more
// bytes could change the answer (the MLG signature or a first line not yet whole, a text log's
// header without its rows). `head`: the file so far (only its first SniffBytes are looked at).
// A file that is no log is None once enough of it is there to say so.
std::optional<TLogFormat> SniffGrowingLog(std::string_view head);

}  // namespace enginelog
