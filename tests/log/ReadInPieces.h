// Reads a log for the tests as a file arrives in pieces: the reader chosen from its first bytes,
// as kestview chooses it, fed a given number of bytes at a time. Every reader must make of it what
// it makes of the file in one piece.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

}  // namespace logtest
