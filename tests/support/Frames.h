// Controller answers for tests that script the line byte by byte: a well-formed frame from its
// three data bytes, and the same frame with a check byte that no longer holds.
#pragma once

#include <cstdint>
#include <vector>

namespace kesttest {

using TBytes = std::vector<std::uint8_t>;

// Sync byte 34, the three data bytes, and the check byte that makes the five sum to 255 (mod 256).
inline TBytes Frame(std::uint8_t afr, std::uint8_t volts, std::uint8_t temp) {
  const unsigned sum = 34u + afr + volts + temp;
  return {34, afr, volts, temp, static_cast<std::uint8_t>(255u - sum % 256u)};
}

// `frame` with its check byte off by one.
inline TBytes Corrupt(TBytes frame) {
  frame[4] = static_cast<std::uint8_t>(frame[4] + 1);
  return frame;
}

}  // namespace kesttest
