// libFuzzer's entry for one target, chosen by the build (KEST_FUZZ_RUN): a broken rule aborts,
// which the fuzzer reports as a crash and keeps the input of.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const std::optional<std::string> failure = KEST_FUZZ_RUN(data, size)) {
    std::fprintf(stderr, "%s: %s\n", KEST_FUZZ_NAME, failure->c_str());
    std::abort();
  }
  return 0;
}
