// Reads a log for the tests as a file arrives in pieces: the reader chosen from its first bytes,
// as kestview chooses it, fed a given number of bytes at a time. Every reader must make of it what
// it makes of the file in one piece.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "log/Log.h"
#include "log/LogSniffer.h"

namespace logtest {

// `bytes` fed in pieces of `piece` bytes (the last may be shorter) to the reader their first bytes
// choose, then finished. `name` for the messages.
inline enginelog::TLog ReadInPieces(std::string_view bytes, std::size_t piece,
                                    const std::string& name = "x") {
  const auto reader = enginelog::MakeLogReader(bytes.substr(0, enginelog::SniffBytes),
                                               bytes.size() <= enginelog::SniffBytes, name, 0);
  for (std::size_t at = 0; at < bytes.size(); at += piece) reader->Feed(bytes.substr(at, piece));
  reader->Finish();
  return std::move(reader->Log());
}

// `bytes` as a followed file that is written up to each of `ends` in turn (rising, the last the
// whole): the reader chosen as a followed file's is, once what has arrived says which log it is
// (SniffGrowingLog), and fed what came since; `check(log, arrived)` is called after each piece the
// reader took. At the end the file ends (a reader not chosen yet is chosen from the whole file)
// and the log is finished.
template <typename TCheck>
enginelog::TLog FollowInPieces(std::string_view bytes, const std::vector<std::size_t>& ends,
                               TCheck&& check, const std::string& name = "x") {
  std::unique_ptr<enginelog::TLogReader> reader;
  std::size_t fed = 0;
  for (const std::size_t end : ends) {
    const std::size_t arrived = std::min(end, bytes.size());
    if (!reader) {
      const auto format = enginelog::SniffGrowingLog(bytes.substr(0, arrived));
      if (!format) continue;
      reader = enginelog::MakeLogReaderFor(*format, name, 0);
    }
    reader->Feed(bytes.substr(fed, arrived - fed));
    fed = arrived;
    check(reader->Log(), arrived);
  }
  if (!reader) {
    reader = enginelog::MakeLogReader(bytes.substr(0, enginelog::SniffBytes),
                                      bytes.size() <= enginelog::SniffBytes, name, 0);
  }
  reader->Feed(bytes.substr(fed));
  reader->Finish();
  return std::move(reader->Log());
}

}  // namespace logtest
