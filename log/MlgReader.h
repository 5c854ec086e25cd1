// The MLG binary engine log, versions 1 and 2: a big-endian header, one descriptor per field, then
// data records (a block type, a rolling counter, a 16-bit time stamp in 10 us steps, the values
// and a one-byte checksum) and marker records carrying a text.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/Log.h"

namespace enginelog {

inline constexpr std::string_view MlgMagic{"MLVLG\0", 6};

// The stored types of a field's raw value.
enum class TMlgType : std::uint8_t { U08, S08, U16, S16, U32, S32, S64, F32 };
inline constexpr int MlgTypeCount = 8;
// Bytes a raw value of `type` takes.
int MlgTypeSize(TMlgType type);

// Where each part of the layout sits.
inline constexpr std::size_t MlgHeaderSize1 = 22;  // version 1: a 2-byte info offset
inline constexpr std::size_t MlgHeaderSize2 = 24;
inline constexpr std::size_t MlgDescriptorSize1 = 55;  // version 1: no category
inline constexpr std::size_t MlgDescriptorSize2 = 89;
inline constexpr std::size_t MlgNameSize = 34;
inline constexpr std::size_t MlgUnitSize = 10;
inline constexpr std::size_t MlgCategorySize = 34;
inline constexpr std::size_t MlgBlockHeaderSize = 4;  // block type, counter, 16-bit time stamp
inline constexpr std::size_t MlgMarkerTextSize = 50;
inline constexpr double MlgStampSeconds = 10e-6;  // one step of the time stamp

class TMlgReader : public TLogReader {
 public:
  TMlgReader(std::string name, std::uint64_t sizeHint);

 private:
  struct TField {
    TMlgType Type;
    std::uint32_t Offset;  // in the record's values
    float Scale;
    float Transform;
  };

  std::size_t Consume(std::string_view data, std::uint64_t offset, bool atEnd) override;
  // The header and the descriptors; false while more bytes are needed (or on an error).
  bool ReadHeader(std::string_view data, bool atEnd);
  // Reads the field descriptors into Fields and the channels; the length of a record they make,
  // or nothing after a Fail.
  std::optional<std::uint32_t> ReadDescriptors(std::string_view data, std::size_t headerSize,
                                               std::size_t descriptorSize, std::size_t fieldCount);
  void ReserveColumns();
  void ReadRecords(std::string_view data, std::uint64_t offset, std::size_t& used, bool atEnd);
  // The record's time on the log's axis from its stamp and, where the log has one, its Time field
  // (NaN where not).
  double Unwrap(std::uint16_t stamp, double fieldTime);
  // Leaves out the records whose checksum failed.
  void Complete() override;

  bool HeaderDone = false;
  bool Stopped = false;  // an unknown block type: what follows cannot be framed
  std::uint32_t DataBegin = 0;
  std::uint16_t RecordLength = 0;
  std::vector<TField> Fields;
  int TimeField = -1;  // a field named Time in seconds, which tells how often the stamp wrapped

  bool HaveStamp = false;
  std::uint16_t LastStamp = 0;
  double Now = 0;
  double LastFieldTime = std::numeric_limits<double>::quiet_NaN();
  double NowAtFieldTime = 0;  // Now when LastFieldTime was read

  std::uint64_t DataRecords = 0;
  std::vector<std::size_t> Starts;        // where the values of each data record of a piece begin
  std::vector<std::size_t> BadChecksums;  // rows whose checksum did not match
  std::uint64_t FirstBadChecksumOffset = 0;
};

// A whole MLG file in one piece of memory.
TLog ReadMlg(std::string_view bytes, const std::string& name);

}  // namespace enginelog
