// Builds MLG engine logs byte by byte for the tests: a header, field descriptors, data records with
// their checksum and marker records, each part overridable to make a broken file on purpose.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace logtest {

class TMlgBuilder {
 public:
  explicit TMlgBuilder(int version, std::uint32_t start = 0) : Version(version), Start(start) {}

  TMlgBuilder& Field(std::uint8_t type, const std::string& name, const std::string& unit,
                     float scale = 1, float transform = 0) {
    Fields.push_back({type, name, unit, scale, transform});
    return *this;
  }
  // A data record: one raw value per field (a float's value for F32 fields).
  TMlgBuilder& Record(std::uint16_t stamp, const std::vector<double>& raw) {
    std::string values;
    for (std::size_t i = 0; i < Fields.size(); ++i) {
      const double v = i < raw.size() ? raw[i] : 0;
      switch (Fields[i].Type) {
        case 0:
        case 1:
          Put(values, static_cast<std::uint64_t>(static_cast<std::int64_t>(v)), 1);
          break;
        case 2:
        case 3:
          Put(values, static_cast<std::uint64_t>(static_cast<std::int64_t>(v)), 2);
          break;
        case 4:
        case 5:
          Put(values, static_cast<std::uint64_t>(static_cast<std::int64_t>(v)), 4);
          break;
        case 6:
          Put(values, static_cast<std::uint64_t>(static_cast<std::int64_t>(v)), 8);
          break;
        default:
          Put(values, std::bit_cast<std::uint32_t>(static_cast<float>(v)), 4);
          break;
      }
    }
    unsigned sum = 0;
    for (const char c : values) sum += static_cast<std::uint8_t>(c);
    Records += std::string{'\0', static_cast<char>(Counter++)};
    Put(Records, stamp, 2);
    Records += values;
    Records += static_cast<char>((sum + ChecksumError) & 0xFF);
    return *this;
  }
  TMlgBuilder& Marker(std::uint16_t stamp, const std::string& text) {
    Records += std::string{'\1', static_cast<char>(Counter++)};
    Put(Records, stamp, 2);
    std::string padded = text;
    padded.resize(50, '\0');
    Records += padded;
    return *this;
  }
  TMlgBuilder& Raw(const std::string& bytes) {
    Records += bytes;
    return *this;
  }

  std::string Bytes() const {
    const bool v1 = Version == 1;
    const std::size_t headerSize = v1 ? 22 : 24;
    const std::size_t descriptorSize = v1 ? 55 : 89;
    const std::string info = "Capture Date: test";
    const std::size_t infoAt = headerSize + Fields.size() * descriptorSize;
    const std::size_t dataBegin = DataBegin.value_or(infoAt + info.size() + 1);
    std::size_t recordLength = 0;
    for (const auto& field : Fields) recordLength += Size(field.Type);
    std::string out("MLVLG\0", 6);
    Put(out, static_cast<std::uint64_t>(Version), 2);
    Put(out, Start, 4);
    Put(out, infoAt, v1 ? 2 : 4);
    Put(out, dataBegin, 4);
    Put(out, RecordLength.value_or(recordLength), 2);
    Put(out, FieldCount.value_or(Fields.size()), 2);
    for (const auto& field : Fields) {
      out += static_cast<char>(field.Type);
      out += Padded(field.Name, 34);
      out += Padded(field.Unit, 10);
      out += '\0';  // display style
      Put(out, std::bit_cast<std::uint32_t>(field.Scale), 4);
      Put(out, std::bit_cast<std::uint32_t>(field.Transform), 4);
      out += '\2';  // digits
      if (!v1) out += Padded("Engine", 34);
    }
    out += info;
    out += '\0';
    out.resize(std::max(out.size(), dataBegin), '\0');
    return out + Records;
  }

  static std::size_t Size(std::uint8_t type) {
    static const std::size_t Sizes[] = {1, 1, 2, 2, 4, 4, 8, 4};
    return type < 8 ? Sizes[type] : 1;
  }

  std::optional<std::uint64_t> RecordLength;
  std::optional<std::uint64_t> FieldCount;
  std::optional<std::size_t> DataBegin;
  unsigned ChecksumError = 0;  // added to the next records' checksums

 private:
  struct TField {
    std::uint8_t Type;
    std::string Name;
    std::string Unit;
    float Scale;
    float Transform;
  };
  static void Put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  static std::string Padded(std::string text, std::size_t size) {
    text.resize(size, '\0');
    return text;
  }
  int Version;
  std::uint32_t Start;
  std::vector<TField> Fields;
  std::string Records;
  std::uint8_t Counter = 0;
};

}  // namespace logtest
