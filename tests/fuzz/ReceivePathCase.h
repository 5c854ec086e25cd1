// One run of the monitor's receive path over the scripted line, driven by arbitrary bytes: what
// arrives, in which chunks, with which time gaps, and when the device fails. The fuzzer and the
// corpus replay test both run it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fuzz {

struct TCaseResult {
  std::optional<std::string> Failure;  // the first rule broken, if any
  int Chunks = 0;                      // receive handler calls
  int FramesFound = 0;                 // ... that found a sync and four bytes after it
  int FramesKept = 0;                  // ... whose check byte held
};

// Runs the script in `data` (any bytes are a valid script; see the .cpp for how they are read)
// and checks the receive path's rules after every step.
TCaseResult RunReceivePathCase(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz
