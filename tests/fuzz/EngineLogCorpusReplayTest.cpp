// The committed seeds of the engine-log fuzzers, replayed as an ordinary test in every build: each
// must keep every rule, and the seeds named valid-* must read as a log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/EngineLogCase.h"

namespace {

namespace fs = std::filesystem;

TEST(EngineLogFuzzCorpus, EverySeedKeepsEveryRule) {
  const std::vector<std::pair<std::string, fuzz::TEngineReader>> folders = {
      {"corpus-mlg", fuzz::TEngineReader::Mlg},
      {"corpus-msl", fuzz::TEngineReader::Msl},
      {"corpus-text", fuzz::TEngineReader::Text},
  };
  for (const auto& [folder, reader] : folders) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(KEST_FUZZ_DIR) / folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    EXPECT_GE(files.size(), 4u) << folder << ": the seed corpus is missing";
    for (const fs::path& file : files) {
      const std::string name = folder + "/" + file.filename().string();
      SCOPED_TRACE(name);
      std::ifstream in(file, std::ios::binary);
      const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                            std::istreambuf_iterator<char>()};
      const fuzz::TEngineCaseResult result =
          fuzz::RunEngineLogCase(reader, bytes.data(), bytes.size());
      EXPECT_FALSE(result.Failure.has_value()) << *result.Failure;
      if (file.filename().string().rfind("valid-", 0) == 0) {
        EXPECT_TRUE(result.Read);
        EXPECT_GT(result.Rows, 0u);
      }
    }
  }
}

}  // namespace
