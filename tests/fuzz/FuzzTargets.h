// The fuzz targets: each runs one reader of bytes we did not write (the serial line, a log file,
// ports.conf, an engine log of each format, what users paste into the mixture table, a tune file)
// over arbitrary input and checks the rules its output must keep. libFuzzer drives one target per
// program (FuzzerEntry.cpp); the corpus replay runs every target over the inputs kept in its
// folder, tests/fuzz/corpus/<name>/.
//
// A reader of a new format gets its target in three steps: a case file with its run function,
// a line in Targets below, and a kest_fuzz_target line in this folder's CMakeLists.txt; then seeds
// in a corpus folder of the same name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fuzz {

// One run over `size` bytes at `data` (any bytes are valid input): the first rule broken, or
// nothing when all held. Never throws.
using TRun = std::optional<std::string> (*)(const std::uint8_t* data, std::size_t size);

std::optional<std::string> RunReceivePath(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunLogReader(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunPortsFile(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunMlgReader(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunMslReader(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunTextReader(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunDataLogReader(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunTableText(const std::uint8_t* data, std::size_t size);
std::optional<std::string> RunTuneReader(const std::uint8_t* data, std::size_t size);

struct TTarget {
  const char* Name;  // its corpus folder and, with "_fuzzer", its program
  TRun Run;
};

inline constexpr TTarget Targets[] = {
    {"receive_path", RunReceivePath},     {"log_reader", RunLogReader},
    {"ports_file", RunPortsFile},         {"mlg_reader", RunMlgReader},
    {"msl_reader", RunMslReader},         {"text_reader", RunTextReader},
    {"datalog_reader", RunDataLogReader}, {"table_text", RunTableText},
    {"tune_reader", RunTuneReader},
};

}  // namespace fuzz
