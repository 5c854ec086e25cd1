// libFuzzer entry: arbitrary bytes as the line's traffic, chunking, timing and faults for the
// receive path. A broken rule aborts, which the fuzzer reports as a crash with its input.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/ReceivePathCase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::TCaseResult result = fuzz::RunReceivePathCase(data, size);
  if (result.Failure) {
    std::fprintf(stderr, "receive path: %s\n", result.Failure->c_str());
    std::abort();
  }
  return 0;
}
