// The benchmarks' day-long MLG log: BenchMlgRecords records of BenchMlgFields fields (16-bit
// values mostly, some bytes, 32-bit values and floats, each a slow wave), 50 records a second.
#pragma once

#include <string>

namespace bench {

inline constexpr int BenchMlgRecords = 1000000;
inline constexpr int BenchMlgFields = 50;

// Writes it to `path` (about 100 MB).
void WriteBenchMlg(const std::string& path);

}  // namespace bench
