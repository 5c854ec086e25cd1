// The benchmarks' day-long MLG log, written field by field as an engine controller would.
#include "bench/BenchMlg.h"

#include <cmath>
#include <cstring>
#include <fstream>

#include "log/MlgReader.h"

namespace bench {

namespace {

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Field types as an engine controller logs them: mostly 16-bit, some bytes and floats.
std::uint8_t FieldType(int field) {
  static const std::uint8_t Types[] = {2, 3, 0, 7, 2, 5, 1, 2, 3, 4};
  return Types[field % 10];
}

}  // namespace

void WriteBenchMlg(const std::string& path) {
  std::ofstream file(path, std::ios::binary);
  std::string out("MLVLG\0", 6);
  Put(out, 2, 2);
  Put(out, 1714564800, 4);
  const std::size_t dataBegin =
      enginelog::MlgHeaderSize2 + BenchMlgFields * enginelog::MlgDescriptorSize2;
  std::size_t recordLength = 0;
  for (int f = 0; f < BenchMlgFields; ++f) {
    recordLength += enginelog::MlgTypeSize(static_cast<enginelog::TMlgType>(FieldType(f)));
  }
  Put(out, 0, 4);
  Put(out, dataBegin, 4);
  Put(out, recordLength, 2);
  Put(out, BenchMlgFields, 2);
  for (int f = 0; f < BenchMlgFields; ++f) {
    out += static_cast<char>(FieldType(f));
    std::string name = "Field" + std::to_string(f);
    name.resize(enginelog::MlgNameSize, '\0');
    out += name + std::string(enginelog::MlgUnitSize + 1, '\0');
    Put(out, 0x3DCCCCCD, 4);  // scale 0.1
    Put(out, 0, 4);
    out += std::string(1 + enginelog::MlgCategorySize, '\0');
  }
  std::string values;
  for (int r = 0; r < BenchMlgRecords; ++r) {
    values.clear();
    for (int f = 0; f < BenchMlgFields; ++f) {
      const double wave = 1000 + 800 * std::sin(r / (200.0 + f));
      const std::uint8_t type = FieldType(f);
      if (type == 7) {
        float value = static_cast<float>(wave);
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        Put(values, bits, 4);
      } else {
        Put(values, static_cast<std::uint64_t>(static_cast<std::int64_t>(wave)),
            enginelog::MlgTypeSize(static_cast<enginelog::TMlgType>(type)));
      }
    }
    unsigned sum = 0;
    for (const char c : values) sum += static_cast<std::uint8_t>(c);
    out += '\0';
    out += static_cast<char>(r & 0xFF);
    Put(out, static_cast<std::uint64_t>(r) * 2000 & 0xFFFF, 2);  // 50 records a second
    out += values;
    out += static_cast<char>(sum & 0xFF);
    if (out.size() > (1 << 20)) {
      file.write(out.data(), static_cast<std::streamsize>(out.size()));
      out.clear();
    }
  }
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
}

}  // namespace bench
