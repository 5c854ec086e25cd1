// The committed seed inputs of the receive-path fuzzer, replayed as an ordinary test in every
// build: each is a small script of bytes, chunks, gaps and faults (a frame split over ticks, a
// chunk larger than the buffer, an unplug inside a frame, ...). Every seed must keep every rule,
// and the seeds that tell a story must also end as that story says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/fuzz/ReceivePathCase.h"

namespace {

namespace fs = std::filesystem;

struct TOutcome {
  int FramesFound;
  int FramesKept;
};

// What the named seeds must come to; seeds not listed need only keep the rules.
const std::map<std::string, TOutcome> Expected = {
    {"valid-frame", {1, 1}},           {"doubled-sync", {1, 1}},
    {"bad-check-then-good", {2, 1}},   {"junk-18-then-frame", {1, 1}},
    {"junk-19-then-frame", {0, 0}},  // the sync on the twentieth read is discarded
    {"frame-split-over-gaps", {1, 1}}, {"warmup-frame", {1, 1}},
    {"unplug-inside-frame", {1, 1}},  // the frame after the re-open
};

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(KEST_FUZZ_CORPUS_DIR)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzCorpus, EverySeedKeepsEveryRule) {
  const std::vector<fs::path> files = CorpusFiles();
  ASSERT_GE(files.size(), 10u) << "the seed corpus is missing";
  std::size_t storiesSeen = 0;
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    const fuzz::TCaseResult result = fuzz::RunReceivePathCase(bytes.data(), bytes.size());
    EXPECT_FALSE(result.Failure.has_value()) << *result.Failure;
    EXPECT_GT(result.Chunks, 0) << "the seed never reaches the receive handler";
    const auto story = Expected.find(name);
    if (story == Expected.end()) continue;
    ++storiesSeen;
    EXPECT_EQ(result.FramesFound, story->second.FramesFound);
    EXPECT_EQ(result.FramesKept, story->second.FramesKept);
  }
  EXPECT_EQ(storiesSeen, Expected.size());
}

}  // namespace
