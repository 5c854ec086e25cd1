// The kept inputs of every fuzz target, replayed as an ordinary test in every build: the seeds
// committed with each target and every crash a fuzzing run found, kept as a regression input.
// Every input must keep every rule; the receive path's seeds that tell a story (a frame split over
// ticks, an unplug inside a frame, ...) must also end as that story says, an engine-log seed
// named valid-* must read as a log, and a tune seed named valid-* as a tune with a fuel table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "log/Tune.h"
#include "tests/fuzz/EngineLogCase.h"
#include "tests/fuzz/FuzzTargets.h"
#include "tests/fuzz/ReceivePathCase.h"

namespace {

namespace fs = std::filesystem;

struct TOutcome {
  int FramesFound;
  int FramesKept;
};

// What the named receive-path seeds must come to; seeds not listed need only keep the rules.
const std::map<std::string, TOutcome> Expected = {
    {"valid-frame", {1, 1}},           {"doubled-sync", {1, 1}},
    {"bad-check-then-good", {2, 1}},   {"junk-18-then-frame", {1, 1}},
    {"junk-19-then-frame", {0, 0}},  // the sync on the twentieth read is discarded
    {"frame-split-over-gaps", {1, 1}}, {"warmup-frame", {1, 1}},
    {"unplug-inside-frame", {1, 1}},  // the frame after the re-open
};

const fs::path Corpus = KEST_FUZZ_CORPUS_DIR;

std::vector<fs::path> InputsOf(const std::string& target) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(Corpus / target)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> BytesOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FuzzCorpus, EveryTargetHasItsFolderAndEveryFolderItsTarget) {
  std::set<std::string> folders;
  for (const auto& entry : fs::directory_iterator(Corpus)) {
    if (entry.is_directory()) folders.insert(entry.path().filename().string());
  }
  std::set<std::string> targets;
  for (const fuzz::TTarget& target : fuzz::Targets) targets.insert(target.Name);
  EXPECT_EQ(folders, targets);
}

TEST(FuzzCorpus, EveryKeptInputKeepsEveryRule) {
  for (const fuzz::TTarget& target : fuzz::Targets) {
    const std::vector<fs::path> files = InputsOf(target.Name);
    EXPECT_GE(files.size(), 3u) << target.Name << ": the seeds are missing";
    for (const fs::path& file : files) {
      SCOPED_TRACE(std::string(target.Name) + "/" + file.filename().string());
      const std::vector<std::uint8_t> bytes = BytesOf(file);
      const std::optional<std::string> failure = target.Run(bytes.data(), bytes.size());
      EXPECT_FALSE(failure.has_value()) << *failure;
    }
  }
}

TEST(FuzzCorpus, ReceivePathSeedsTellTheirStories) {
  std::size_t storiesSeen = 0;
  for (const fs::path& file : InputsOf("receive_path")) {
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> bytes = BytesOf(file);
    const fuzz::TCaseResult result = fuzz::RunReceivePathCase(bytes.data(), bytes.size());
    // A kept crash may be anything; a seed is written to reach the handler.
    if (name.rfind("crash-", 0) != 0) {
      EXPECT_GT(result.Chunks, 0) << "the seed never reaches the receive handler";
    }
    const auto story = Expected.find(name);
    if (story == Expected.end()) continue;
    ++storiesSeen;
    EXPECT_EQ(result.FramesFound, story->second.FramesFound);
    EXPECT_EQ(result.FramesKept, story->second.FramesKept);
  }
  EXPECT_EQ(storiesSeen, Expected.size());
}

TEST(FuzzCorpus, EngineLogSeedsNamedValidReadAsALog) {
  const std::pair<const char*, fuzz::TEngineReader> readers[] = {
      {"mlg_reader", fuzz::TEngineReader::Mlg},
      {"msl_reader", fuzz::TEngineReader::Msl},
      {"text_reader", fuzz::TEngineReader::Text},
      {"datalog_reader", fuzz::TEngineReader::DataLog},
  };
  for (const auto& [target, reader] : readers) {
    std::size_t valid = 0;
    for (const fs::path& file : InputsOf(target)) {
      const std::string name = file.filename().string();
      if (name.rfind("valid-", 0) != 0) continue;
      SCOPED_TRACE(std::string(target) + "/" + name);
      ++valid;
      const std::vector<std::uint8_t> bytes = BytesOf(file);
      const fuzz::TEngineCaseResult result =
          fuzz::RunEngineLogCase(reader, bytes.data(), bytes.size());
      EXPECT_TRUE(result.Read);
      EXPECT_GT(result.Rows, 0u);
    }
    EXPECT_GE(valid, 2u) << target;
  }
}

TEST(FuzzCorpus, TuneSeedsNamedValidReadWithAFuelTable) {
  std::size_t valid = 0;
  for (const fs::path& file : InputsOf("tune_reader")) {
    const std::string name = file.filename().string();
    if (name.rfind("valid-", 0) != 0) continue;
    SCOPED_TRACE(name);
    ++valid;
    const std::vector<std::uint8_t> bytes = BytesOf(file);
    const tune::TTune tune = tune::ReadMsq(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), name);
    ASSERT_TRUE(tune.Ok()) << tune.Error;
    std::string error;
    EXPECT_TRUE(tune::FindFuelTable(tune, error)) << error;
  }
  EXPECT_GE(valid, 2u);
}

}  // namespace
