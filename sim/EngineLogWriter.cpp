// Writing the simulated engine's log: the MLG header, its field descriptors and records, or the
// rows of a delimited text log, from one table of channels.
#include "sim/EngineLogWriter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/Locale.h"
#include "text/Words.h"

namespace sim {

namespace {

// The MLG layout (version 2, all numbers big-endian).
constexpr char MlgMagic[6] = {'M', 'L', 'V', 'L', 'G', '\0'};
constexpr std::uint16_t MlgVersion = 2;
constexpr std::size_t MlgHeaderSize = 24;
constexpr std::size_t MlgNameSize = 34;
constexpr std::size_t MlgUnitSize = 10;
constexpr std::size_t MlgCategorySize = 34;
constexpr std::uint8_t MlgU08 = 0;
constexpr std::uint8_t MlgU16 = 2;
constexpr std::uint8_t MlgU32 = 4;
constexpr std::uint8_t MlgDataBlock = 0;
constexpr double MlgStampsPerSecond = 1e5;  // the record's time stamp counts 10 us steps
constexpr std::string_view MlgInfo{"Simulated engine of kestsim\0", 28};

// Flushed early when this much is gathered, so that a long catch-up never holds a whole log.
constexpr std::size_t FlushBytes = 1 << 20;
// How often what was gathered is written: twice a second of the drive, so that a follower sees the
// records within a second, as engine software flushes its log, even when the writing loop is late.
constexpr double FlushSeconds = 0.5;

// One channel as both formats store it: a value is (raw + Transform) x Scale, raw a whole number
// of the channel's type, which is also the precision the text log writes it to.
struct TField {
  const char* Name;
  const char* Unit;  // empty for a flag
  const char* Category;
  std::uint8_t Type;
  double Scale;
  double Transform;
  int Digits;
  double TEngineState::*Value;  // null: the log's own time
  bool EngineAfr = false;       // only with the engine's own mixture channel
};

// The channels of old first, in their order, so that a reader of the old log still finds them.
// Coolant in 0.1 C steps from -40 C, which an unsigned field takes by its transform.
constexpr std::array<TField, 13> Fields = {{
    {"Time", "s", "Time", MlgU32, 0.001, 0, 3, nullptr},
    {"RPM", "rpm", "Engine", MlgU16, 1, 0, 0, &TEngineState::Rpm},
    {"MAP", "kPa", "Engine", MlgU16, 0.1, 0, 1, &TEngineState::MapKpa},
    {"TPS", "%", "Engine", MlgU16, 0.1, 0, 1, &TEngineState::TpsPercent},
    {"CLT", "C", "Engine", MlgU16, 0.1, -400, 1, &TEngineState::CoolantC},
    {"AFR", "AFR", "Mixture", MlgU16, 0.01, 0, 2, &TEngineState::Afr, true},
    {"VE", "%", "Fuel", MlgU16, 0.1, 0, 1, &TEngineState::VePercent},
    {"AFR Target", "AFR", "Fuel", MlgU16, 0.01, 0, 2, &TEngineState::AfrTarget},
    {"Gego", "%", "Fuel", MlgU16, 0.1, 0, 1, &TEngineState::GegoPercent},
    {"WUE", "%", "Fuel", MlgU16, 0.1, 0, 1, &TEngineState::WuePercent},
    {"AE", "%", "Fuel", MlgU16, 0.1, 0, 1, &TEngineState::AePercent},
    {"Fuel Cut", "", "Fuel", MlgU08, 1, 0, 0, &TEngineState::FuelCut},
    {"PW", "ms", "Fuel", MlgU16, 0.001, 0, 3, &TEngineState::PulseWidthMs},
}};

// Calls `use` with each channel the log has, in order.
template <typename TUse>
void ForEachField(bool engineAfr, TUse use) {
  for (const TField& field : Fields) {
    if (!field.EngineAfr || engineAfr) use(field);
  }
}

int TypeBytes(std::uint8_t type) { return type == MlgU32 ? 4 : type == MlgU08 ? 1 : 2; }

// The raw whole number that stands for `value`, held inside the type's range.
std::uint32_t RawOf(const TField& field, double value) {
  const double raw = std::round(value / field.Scale - field.Transform);
  const double top = field.Type == MlgU32 ? 4294967295.0 : field.Type == MlgU08 ? 255.0 : 65535.0;
  return static_cast<std::uint32_t>(std::clamp(raw, 0.0, top));
}

void PutBe(std::string& out, std::uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

// A text in a fixed-size field, cut to fit and padded with NULs.
void PutText(std::string& out, std::string_view text, std::size_t size) {
  text = text.substr(0, size - 1);
  out.append(text);
  out.append(size - text.size(), '\0');
}

void PutFixed(std::string& out, double value, int digits) {
  char text[64];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, digits);
  out.append(text, result.ptr);
}

}  // namespace

std::optional<TEngineLogKind> EngineLogKindOf(const std::string& path) {
  if (text::EndsWithNoCase(path, ".mlg")) return TEngineLogKind::Mlg;
  if (text::EndsWithNoCase(path, ".csv")) return TEngineLogKind::Csv;
  return std::nullopt;
}

TEngineLogRecorder::TEngineLogRecorder(TSimConfig config, TEngineLogOptions options)
    : Config(std::move(config)), Options(std::move(options)) {}

TEngineLogRecorder::~TEngineLogRecorder() {
  if (File != nullptr) Close();
}

void TEngineLogRecorder::SetError(const std::string& what) {
  if (Error.empty()) Error = Options.Path + ": " + what;
}

bool TEngineLogRecorder::Open(double unixAtZero) {
  const auto kind = EngineLogKindOf(Options.Path);
  if (!kind) {
    SetError("an engine log is named .mlg or .csv");
    return false;
  }
  Kind = *kind;
  if (!(Options.RateHz > 0) || !std::isfinite(unixAtZero + Options.ClockOffsetSeconds)) {
    SetError("needs a rate above 0 and a finite clock");
    return false;
  }
  const double engineAtZero = unixAtZero + Options.ClockOffsetSeconds;
  const double start = std::ceil(engineAtZero);
  if (start < 1 || start > std::numeric_limits<std::uint32_t>::max()) {
    SetError("the engine's clock falls outside 1970 to 2106");
    return false;
  }
  StartUnix = static_cast<std::int64_t>(start);
  FirstRecord = start - engineAtZero;
  File = std::fopen(Options.Path.c_str(), "wb");
  if (File == nullptr) {
    SetError(std::generic_category().message(errno));
    return false;
  }
  Records = 0;
  LastFlush = FirstRecord;
  AppendHeader();
  return Flush();
}

void TEngineLogRecorder::AppendHeader() {
  if (Kind == TEngineLogKind::Csv) {
    // The engine's local time with its offset from UTC, so that the start is read back the same
    // in any time zone; no comma in the line, which would make it look like a row of cells.
    Buffer += "Simulated engine log started ";
    Buffer +=
        platform::FormatLocalTime("%Y-%m-%d %H:%M:%S %z", static_cast<std::time_t>(StartUnix));
    Buffer += '\n';
    bool first = true;
    ForEachField(Options.Afr, [&](const TField& field) {
      if (!first) Buffer += ',';
      first = false;
      Buffer += field.Name;
      if (*field.Unit != '\0') {
        Buffer += " (";
        Buffer += field.Unit;
        Buffer += ')';
      }
    });
    Buffer += '\n';
    return;
  }
  constexpr std::size_t DescriptorSize =
      1 + MlgNameSize + MlgUnitSize + 1 + 4 + 4 + 1 + MlgCategorySize;
  std::size_t count = 0;
  std::size_t recordLength = 0;
  ForEachField(Options.Afr, [&](const TField& field) {
    ++count;
    recordLength += TypeBytes(field.Type);
  });
  const std::size_t infoOffset = MlgHeaderSize + count * DescriptorSize;
  Buffer.append(MlgMagic, sizeof MlgMagic);
  PutBe(Buffer, MlgVersion, 2);
  PutBe(Buffer, static_cast<std::uint64_t>(StartUnix), 4);
  PutBe(Buffer, infoOffset, 4);
  PutBe(Buffer, infoOffset + MlgInfo.size(), 4);  // the records follow the info text
  PutBe(Buffer, recordLength, 2);
  PutBe(Buffer, count, 2);
  ForEachField(Options.Afr, [&](const TField& field) {
    Buffer.push_back(static_cast<char>(field.Type));
    PutText(Buffer, field.Name, MlgNameSize);
    PutText(Buffer, field.Unit, MlgUnitSize);
    Buffer.push_back('\0');  // display style: a plain number
    PutBe(Buffer, std::bit_cast<std::uint32_t>(static_cast<float>(field.Scale)), 4);
    PutBe(Buffer, std::bit_cast<std::uint32_t>(static_cast<float>(field.Transform)), 4);
    Buffer.push_back(static_cast<char>(field.Digits));
    PutText(Buffer, field.Category, MlgCategorySize);
  });
  Buffer.append(MlgInfo);
}

void TEngineLogRecorder::AppendRecord(double logSeconds, const TEngineState& state) {
  const auto valueOf = [&](const TField& field) {
    return field.Value == nullptr ? logSeconds : state.*field.Value;
  };
  if (Kind == TEngineLogKind::Csv) {
    bool first = true;
    ForEachField(Options.Afr, [&](const TField& field) {
      if (!first) Buffer += ',';
      first = false;
      // The value the binary log would give back, so that both kinds say the same.
      PutFixed(Buffer, (RawOf(field, valueOf(field)) + field.Transform) * field.Scale,
               field.Digits);
    });
    Buffer += '\n';
    return;
  }
  Buffer.push_back(static_cast<char>(MlgDataBlock));
  Buffer.push_back(static_cast<char>(Records & 0xFF));  // the rolling counter
  PutBe(Buffer, static_cast<std::uint64_t>(std::llround(logSeconds * MlgStampsPerSecond)) & 0xFFFF,
        2);
  const std::size_t values = Buffer.size();
  ForEachField(Options.Afr, [&](const TField& field) {
    PutBe(Buffer, RawOf(field, valueOf(field)), TypeBytes(field.Type));
  });
  unsigned sum = 0;
  for (std::size_t i = values; i < Buffer.size(); ++i) sum += static_cast<std::uint8_t>(Buffer[i]);
  Buffer.push_back(static_cast<char>(sum & 0xFF));
}

bool TEngineLogRecorder::OpenAt(std::chrono::steady_clock::time_point driveStart) {
  using namespace std::chrono;
  DriveStart = driveStart;
  // The wall clock read once, and carried back to the drive's start on the steady clock, which is
  // what the box keeps its time by.
  const steady_clock::time_point now = steady_clock::now();
  const double wallNow = duration<double>(system_clock::now().time_since_epoch()).count();
  return Open(wallNow - duration<double>(now - driveStart).count());
}

bool TEngineLogRecorder::CatchUpTo(std::chrono::steady_clock::time_point now) {
  return CatchUp(std::chrono::duration<double>(now - DriveStart).count());
}

bool TEngineLogRecorder::CatchUp(double driveSeconds) {
  if (File == nullptr || !Error.empty()) return false;
  for (;;) {
    const double logSeconds = static_cast<double>(Records) / Options.RateHz;
    const double at = FirstRecord + logSeconds;
    if (at > driveSeconds) break;
    AppendRecord(logSeconds, EngineStateAt(Config, at));
    ++Records;
    if (Buffer.size() >= FlushBytes && !Flush()) return false;
  }
  if (driveSeconds - LastFlush >= FlushSeconds) {
    LastFlush = driveSeconds;
    return Flush();
  }
  return true;
}

bool TEngineLogRecorder::Flush() {
  if (File == nullptr) return false;
  if (!Buffer.empty() && std::fwrite(Buffer.data(), 1, Buffer.size(), File) != Buffer.size()) {
    SetError(std::generic_category().message(errno));
  }
  Buffer.clear();
  if (Error.empty() && std::fflush(File) != 0) SetError(std::generic_category().message(errno));
  return Error.empty();
}

bool TEngineLogRecorder::Close() {
  if (File == nullptr) return Error.empty();
  if (Error.empty()) Flush();
  if (std::fclose(File) != 0) SetError(std::generic_category().message(errno));
  File = nullptr;
  return Error.empty();
}

}  // namespace sim
