// The rules an engine-log reader keeps on any input, checked for one input.
#include "tests/fuzz/EngineLogCase.h"

#include <memory>
#include <string_view>

#include "log/DataLogReader.h"
#include "log/Log.h"
#include "log/MlgReader.h"
#include "log/TextLogReader.h"
#include "tests/fuzz/FuzzTargets.h"

namespace fuzz {

namespace {

using enginelog::TLog;

std::unique_ptr<enginelog::TLogReader> MakeReader(TEngineReader reader) {
  if (reader == TEngineReader::Mlg) return std::make_unique<enginelog::TMlgReader>("fuzz", 0);
  if (reader == TEngineReader::DataLog) {
    return std::make_unique<enginelog::TDataLogReader>("fuzz", 0);
  }
  return std::make_unique<enginelog::TTextLogReader>("fuzz", 0);
}

std::optional<std::string> CheckShape(const TLog& log) {
  if (!log.Ok()) {
    if (log.Error.rfind("fuzz: ", 0) != 0) return "an error that does not name the file";
    if (!log.Times.empty() || !log.Channels.empty()) return "an unread log that holds data";
    return std::nullopt;
  }
  if (log.Times.empty()) return "a log read without a record";
  for (const auto& channel : log.Channels) {
    if (channel.Values.size() != log.Times.size()) return "a channel of another length";
  }
  if (log.Format == enginelog::TFileFormat::Mlg) {
    for (std::size_t i = 1; i < log.Times.size(); ++i) {
      if (!(log.Times[i] >= log.Times[i - 1])) return "binary log times going back";
    }
  }
  return std::nullopt;
}

bool SameValues(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && !(a[i] != a[i] && b[i] != b[i])) return false;  // NaN equals NaN here
  }
  return true;
}

}  // namespace

TEngineCaseResult RunEngineLogCase(TEngineReader reader, const std::uint8_t* data,
                                   std::size_t size) {
  TEngineCaseResult result;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const auto whole = MakeReader(reader);
  whole->Feed(bytes);
  whole->Finish();
  const TLog& log = whole->Log();
  result.Failure = CheckShape(log);
  if (result.Failure) return result;
  result.Read = log.Ok();
  result.Rows = log.Rows();

  // The same bytes in pieces whose size the input's first byte chooses.
  const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 61;
  const auto pieces = MakeReader(reader);
  for (std::size_t at = 0; at < size; at += piece) pieces->Feed(bytes.substr(at, piece));
  pieces->Finish();
  const TLog& again = pieces->Log();
  if (again.Error != log.Error || again.Times != log.Times ||
      again.Channels.size() != log.Channels.size() || again.Markers.size() != log.Markers.size()) {
    result.Failure = "pieces of " + std::to_string(piece) + " bytes read otherwise than the whole";
    return result;
  }
  for (std::size_t c = 0; c < log.Channels.size(); ++c) {
    if (!SameValues(again.Channels[c].Values, log.Channels[c].Values)) {
      result.Failure = "pieces of " + std::to_string(piece) + " bytes give other values";
      return result;
    }
  }

  // Through the sniffer, as the viewer opens a file: whatever it takes the bytes for.
  const auto failure = CheckShape(enginelog::ReadEngineLog(bytes, "fuzz"));
  if (failure) result.Failure = "read through the sniffer: " + *failure;
  return result;
}

std::optional<std::string> RunMlgReader(const std::uint8_t* data, std::size_t size) {
  return RunEngineLogCase(TEngineReader::Mlg, data, size).Failure;
}
std::optional<std::string> RunMslReader(const std::uint8_t* data, std::size_t size) {
  return RunEngineLogCase(TEngineReader::Msl, data, size).Failure;
}
std::optional<std::string> RunTextReader(const std::uint8_t* data, std::size_t size) {
  return RunEngineLogCase(TEngineReader::Text, data, size).Failure;
}
std::optional<std::string> RunDataLogReader(const std::uint8_t* data, std::size_t size) {
  return RunEngineLogCase(TEngineReader::DataLog, data, size).Failure;
}

}  // namespace fuzz
