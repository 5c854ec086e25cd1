// libFuzzer entry for one engine-log reader, chosen when it is built (KEST_FUZZ_ENGINE_READER is
// Mlg, Msl or Text). A broken rule aborts, which the fuzzer reports as a crash with its input.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/EngineLogCase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::TEngineCaseResult result =
      fuzz::RunEngineLogCase(fuzz::TEngineReader::KEST_FUZZ_ENGINE_READER, data, size);
  if (result.Failure) {
    std::fprintf(stderr, "engine log reader: %s\n", result.Failure->c_str());
    std::abort();
  }
  return 0;
}
