// One fuzz case for an engine-log reader: arbitrary bytes read whole and in pieces, with the rules
// every read must keep. The targets mlg_reader, msl_reader, text_reader and datalog_reader
// (FuzzTargets.h) run it; the corpus replay also reads what it says of the seeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fuzz {

enum class TEngineReader : std::uint8_t { Mlg, Msl, Text, DataLog };

struct TEngineCaseResult {
  std::optional<std::string> Failure;  // a broken rule, said in words
  bool Read = false;                   // the bytes read as a log
  std::size_t Rows = 0;
};

// Reads `data` with the reader for `reader` (and through the format sniffer) and checks that:
// pieces of any size read as the whole; a log read has a value per record in every channel and
// at least one record; a log not read says so naming the file and holds nothing; binary logs'
// times never go back.
TEngineCaseResult RunEngineLogCase(TEngineReader reader, const std::uint8_t* data,
                                   std::size_t size);

}  // namespace fuzz
