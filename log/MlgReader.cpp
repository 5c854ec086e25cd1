// Reading MLG binary engine logs, versions 1 and 2, record by record as the file arrives.
#include "log/MlgReader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "text/Words.h"

namespace enginelog {

namespace {

std::uint8_t Byte(std::string_view data, std::size_t at) {
  return static_cast<std::uint8_t>(data[at]);
}
std::uint16_t Be16(std::string_view data, std::size_t at) {
  return static_cast<std::uint16_t>(Byte(data, at) << 8 | Byte(data, at + 1));
}
std::uint32_t Be32(std::string_view data, std::size_t at) {
  return static_cast<std::uint32_t>(Be16(data, at)) << 16 | Be16(data, at + 2);
}
std::uint64_t Be64(std::string_view data, std::size_t at) {
  return static_cast<std::uint64_t>(Be32(data, at)) << 32 | Be32(data, at + 4);
}

// A fixed-size text field: up to its first NUL, without trailing blanks.
std::string FixedText(std::string_view data, std::size_t at, std::size_t size) {
  std::string_view text = data.substr(at, size);
  text = text.substr(0, text.find('\0'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

constexpr double StampPeriod = 65536 * MlgStampSeconds;
// Reservations are only a guess from the file's size; a guess past this is not trusted.
constexpr std::uint64_t MaxReservedRecords = std::uint64_t{1} << 26;

}  // namespace

int MlgTypeSize(TMlgType type) {
  switch (type) {
    case TMlgType::U08:
    case TMlgType::S08:
      return 1;
    case TMlgType::U16:
    case TMlgType::S16:
      return 2;
    case TMlgType::U32:
    case TMlgType::S32:
    case TMlgType::F32:
      return 4;
    case TMlgType::S64:
      return 8;
  }
  return 0;
}

TMlgReader::TMlgReader(std::string name, std::uint64_t sizeHint)
    : TLogReader(std::move(name), TFileFormat::Mlg, sizeHint) {}

std::size_t TMlgReader::Consume(std::string_view data, std::uint64_t offset, bool atEnd) {
  std::size_t used = 0;
  if (!HeaderDone) {
    if (!ReadHeader(data, atEnd)) return 0;
    used = DataBegin;
  }
  if (Stopped) return data.size();
  ReadRecords(data.substr(used), offset + used, used, atEnd);
  return used;
}

bool TMlgReader::ReadHeader(std::string_view data, bool atEnd) {
  const auto tooShort = [&](std::uint64_t needed, const char* what) {
    if (data.size() >= needed) return false;
    if (atEnd) {
      Fail("the file ends at byte " + std::to_string(data.size()) + ", inside its " + what +
           " (which needs " + std::to_string(needed) + " bytes)");
    }
    return true;
  };
  if (tooShort(8, "header")) return false;
  if (data.substr(0, MlgMagic.size()) != MlgMagic) {
    Fail("does not start with the MLG signature");
    return false;
  }
  const std::uint16_t version = Be16(data, 6);
  if (version != 1 && version != 2) {
    Fail("is an MLG log of version " + std::to_string(version) + " (versions 1 and 2 are read)");
    return false;
  }
  const bool v1 = version == 1;
  const std::size_t headerSize = v1 ? MlgHeaderSize1 : MlgHeaderSize2;
  if (tooShort(headerSize, "header")) return false;
  const std::uint32_t start = Be32(data, 8);
  const std::size_t at = v1 ? 14 : 16;  // the info offset before it is 2 or 4 bytes long
  DataBegin = Be32(data, at);
  RecordLength = Be16(data, at + 4);
  const std::uint16_t fieldCount = Be16(data, at + 6);
  const std::size_t descriptorSize = v1 ? MlgDescriptorSize1 : MlgDescriptorSize2;
  const std::uint64_t descriptorsEnd = headerSize + std::uint64_t{fieldCount} * descriptorSize;
  if (fieldCount == 0) {
    Fail("declares no fields (byte " + std::to_string(at + 6) + ")");
    return false;
  }
  if (descriptorsEnd > DataBegin) {
    Fail("its " + std::to_string(fieldCount) + " field descriptors end at byte " +
         std::to_string(descriptorsEnd) + ", past the start of its records at byte " +
         std::to_string(DataBegin));
    return false;
  }
  if (SizeHint != 0 && DataBegin > SizeHint) {
    Fail("its records would start at byte " + std::to_string(DataBegin) +
         ", past the end of the file (" + std::to_string(SizeHint) + " bytes)");
    return false;
  }
  if (tooShort(DataBegin, "header and field descriptors")) return false;

  const std::optional<std::uint32_t> fieldsLength =
      ReadDescriptors(data, headerSize, descriptorSize, fieldCount);
  if (!fieldsLength) return false;
  if (*fieldsLength != RecordLength) {
    Fail("its records are declared " + std::to_string(RecordLength) + " bytes long (byte " +
         std::to_string(at + 4) + "), but its fields take " + std::to_string(*fieldsLength));
    return false;
  }
  if (start != 0) Result.Start = TStartTime{start, 0, 0};

  ReserveColumns();
  HeaderDone = true;
  return true;
}

std::optional<std::uint32_t> TMlgReader::ReadDescriptors(std::string_view data,
                                                         std::size_t headerSize,
                                                         std::size_t descriptorSize,
                                                         std::size_t fieldCount) {
  std::uint32_t recordOffset = 0;
  Fields.reserve(fieldCount);
  Result.Channels.reserve(fieldCount);
  for (std::size_t i = 0; i < fieldCount; ++i) {
    const std::size_t p = headerSize + i * descriptorSize;
    const std::uint8_t type = Byte(data, p);
    if (type >= MlgTypeCount) {
      Fail("field " + std::to_string(i + 1) + " (descriptor at byte " + std::to_string(p) +
           ") has the unknown type " + std::to_string(type));
      return std::nullopt;
    }
    TChannel channel;
    channel.Name = FixedText(data, p + 1, MlgNameSize);
    channel.Unit = FixedText(data, p + 1 + MlgNameSize, MlgUnitSize);
    const std::size_t numbers = p + 1 + MlgNameSize + MlgUnitSize + 1;  // after the display style
    const TField field{static_cast<TMlgType>(type), recordOffset,
                       std::bit_cast<float>(Be32(data, numbers)),
                       std::bit_cast<float>(Be32(data, numbers + 4))};
    recordOffset += static_cast<std::uint32_t>(MlgTypeSize(field.Type));
    if (TimeField < 0 && text::EqualsNoCase(channel.Name, "time") &&
        (text::EqualsNoCase(channel.Unit, "s") || text::EqualsNoCase(channel.Unit, "sec"))) {
      TimeField = static_cast<int>(i);
    }
    Fields.push_back(field);
    Result.Channels.push_back(std::move(channel));
  }
  return recordOffset;
}

void TMlgReader::ReserveColumns() {
  // The file's size tells how many records come, so each column grows once, not by doubling.
  if (SizeHint > DataBegin) {
    const std::uint64_t guess = std::min<std::uint64_t>(
        (SizeHint - DataBegin) / (MlgBlockHeaderSize + RecordLength + 1) + 1, MaxReservedRecords);
    Result.Times.reserve(guess);
    for (TChannel& channel : Result.Channels) channel.Values.reserve(guess);
  }
}

namespace {

// One field's raw value at `at`.
double RawValue(TMlgType type, std::string_view data, std::size_t at) {
  switch (type) {
    case TMlgType::U08:
      return Byte(data, at);
    case TMlgType::S08:
      return static_cast<std::int8_t>(Byte(data, at));
    case TMlgType::U16:
      return Be16(data, at);
    case TMlgType::S16:
      return static_cast<std::int16_t>(Be16(data, at));
    case TMlgType::U32:
      return Be32(data, at);
    case TMlgType::S32:
      return static_cast<std::int32_t>(Be32(data, at));
    case TMlgType::S64:
      return static_cast<double>(static_cast<std::int64_t>(Be64(data, at)));
    case TMlgType::F32:
      return std::bit_cast<float>(Be32(data, at));
  }
  return 0;
}

// One field of every record starting at `starts` (offsets of their values), into `out`. A loop
// per type, so that the type is decided once per field and not once per value.
template <TMlgType Type>
void DecodeColumn(std::string_view data, const std::vector<std::size_t>& starts,
                  std::uint32_t offset, double scale, double transform, std::vector<float>& out) {
  for (const std::size_t start : starts) {
    out.push_back(static_cast<float>((RawValue(Type, data, start + offset) + transform) * scale));
  }
}

}  // namespace

void TMlgReader::ReadRecords(std::string_view data, std::uint64_t offset, std::size_t& used,
                             bool atEnd) {
  const std::size_t dataRecordSize = MlgBlockHeaderSize + RecordLength + 1;
  const std::size_t markerSize = MlgBlockHeaderSize + MlgMarkerTextSize;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  // First the records are framed, checked and timed in file order; then each field is decoded
  // for all of them at once, which writes every column in one sweep.
  Starts.clear();
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::uint8_t type = bytes[pos];
    const std::size_t need = type == 0 ? dataRecordSize : type == 1 ? markerSize : 0;
    if (need == 0) {
      Warn("unknown block type " + std::to_string(type) + " at byte " +
           std::to_string(offset + pos) + "; the " + std::to_string(data.size() - pos) +
           " bytes from there are not read");
      Stopped = true;
      pos = data.size();
      break;
    }
    if (data.size() - pos < need) break;
    const std::uint16_t stamp = Be16(data, pos + 2);
    if (type == 1) {
      Result.Markers.push_back({Unwrap(stamp, std::numeric_limits<double>::quiet_NaN()),
                                FixedText(data, pos + MlgBlockHeaderSize, MlgMarkerTextSize)});
      pos += need;
      continue;
    }
    const std::size_t values = pos + MlgBlockHeaderSize;
    unsigned sum = 0;
    for (std::size_t i = 0; i < RecordLength; ++i) sum += bytes[values + i];
    if ((sum & 0xFF) != bytes[values + RecordLength]) {
      if (BadChecksums.empty()) FirstBadChecksumOffset = offset + pos;
      BadChecksums.push_back(Result.Times.size());
    }
    double fieldTime = std::numeric_limits<double>::quiet_NaN();
    if (TimeField >= 0) {
      const TField& field = Fields[static_cast<std::size_t>(TimeField)];
      fieldTime =
          (RawValue(field.Type, data, values + field.Offset) + field.Transform) * field.Scale;
    }
    Result.Times.push_back(Unwrap(stamp, fieldTime));
    Starts.push_back(values);
    ++DataRecords;
    pos += need;
  }
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    const TField& field = Fields[i];
    std::vector<float>& out = Result.Channels[i].Values;
    // Grown ahead only when the size guess fell short; the usual case was reserved at the header.
    if (out.capacity() < out.size() + Starts.size()) {
      out.reserve(std::max(out.size() + Starts.size(), out.capacity() + out.capacity() / 2));
    }
    const double scale = field.Scale;
    const double transform = field.Transform;
    switch (field.Type) {
      case TMlgType::U08:
        DecodeColumn<TMlgType::U08>(data, Starts, field.Offset, scale, transform, out);
        break;
      case TMlgType::S08:
        DecodeColumn<TMlgType::S08>(data, Starts, field.Offset, scale, transform, out);
        break;
      case TMlgType::U16:
        DecodeColumn<TMlgType::U16>(data, Starts, field.Offset, scale, transform, out);
        break;
      case TMlgType::S16:
        DecodeColumn<TMlgType::S16>(data, Starts, field.Offset, scale, transform, out);
        break;
      case TMlgType::U32:
        DecodeColumn<TMlgType::U32>(data, Starts, field.Offset, scale, transform, out);
        break;
      case TMlgType::S32:
        DecodeColumn<TMlgType::S32>(data, Starts, field.Offset, scale, transform, out);
        break;
      case TMlgType::S64:
        DecodeColumn<TMlgType::S64>(data, Starts, field.Offset, scale, transform, out);
        break;
      case TMlgType::F32:
        DecodeColumn<TMlgType::F32>(data, Starts, field.Offset, scale, transform, out);
        break;
    }
  }
  used += pos;
  if (atEnd && pos < data.size()) {
    const std::size_t need = bytes[pos] == 0 ? dataRecordSize : markerSize;
    Warn("the last record, at byte " + std::to_string(offset + pos) + ", is cut short (" +
         std::to_string(data.size() - pos) + " of " + std::to_string(need) +
         " bytes) and is left out");
    ++Result.SkippedRecords;
    used += data.size() - pos;
  }
}

double TMlgReader::Unwrap(std::uint16_t stamp, double fieldTime) {
  if (!HaveStamp) {
    HaveStamp = true;
    LastStamp = stamp;
    if (!std::isnan(fieldTime)) {
      LastFieldTime = fieldTime;
      NowAtFieldTime = 0;
    }
    return Now;
  }
  const auto delta = static_cast<std::uint16_t>(stamp - LastStamp);
  LastStamp = stamp;
  Now += delta * MlgStampSeconds;
  // The stamp wraps every 0.65536 s, so a longer pause between records is invisible in it. A Time
  // field in seconds shows how long the pause really was: whole periods of the stamp are added
  // until the two agree.
  if (!std::isnan(fieldTime)) {
    if (!std::isnan(LastFieldTime)) {
      const double missing = (fieldTime - LastFieldTime) - (Now - NowAtFieldTime);
      const double periods = std::floor(missing / StampPeriod + 0.5);
      if (periods > 0 && periods < 1e9) Now += periods * StampPeriod;
    }
    LastFieldTime = fieldTime;
    NowAtFieldTime = Now;
  }
  return Now;
}

void TMlgReader::Complete() {
  if (BadChecksums.empty()) return;
  if (BadChecksums.size() == DataRecords) {
    // The writer keeps its check some other way than the sum of the value bytes, which is a
    // reason to doubt the check, not every record.
    Warn("no record's checksum is the sum of its value bytes; the values are kept as read");
    return;
  }
  Warn(std::to_string(BadChecksums.size()) + " records fail their checksum (the first at byte " +
       std::to_string(FirstBadChecksumOffset) + ") and are left out");
  Result.SkippedRecords += BadChecksums.size();
  const auto keep = [&](auto& column) {
    std::size_t out = 0;
    std::size_t bad = 0;
    for (std::size_t row = 0; row < column.size(); ++row) {
      if (bad < BadChecksums.size() && BadChecksums[bad] == row) {
        ++bad;
        continue;
      }
      column[out++] = column[row];
    }
    column.resize(out);
  };
  keep(Result.Times);
  for (TChannel& channel : Result.Channels) keep(channel.Values);
}

TLog ReadMlg(std::string_view bytes, const std::string& name) {
  TMlgReader reader(name, bytes.size());
  reader.Feed(bytes);
  reader.Finish();
  return std::move(reader.Log());
}

}  // namespace enginelog
