// The one log model, the reader base that every format's reader shares, and the choice of reader
// from a file's first bytes.
#include "log/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "log/DataLogReader.h"
#include "log/LogSniffer.h"
#include "log/MlgReader.h"
#include "log/OurLogReader.h"
#include "log/TextLogReader.h"
#include "text/Words.h"

namespace enginelog {

const char* FormatName(TFileFormat format) {
  switch (format) {
    case TFileFormat::Mlg:
      return "mlg";
    case TFileFormat::Msl:
    case TFileFormat::OurMsl:
      return "msl";
    case TFileFormat::Classic:
      return "classic";
    case TFileFormat::Extended:
      return "extended";
    case TFileFormat::DataLog:
      return "datalog";
    case TFileFormat::Text:
    case TFileFormat::Unknown:
      break;
  }
  return "text";
}

bool IsOurs(TFileFormat format) {
  return format == TFileFormat::Classic || format == TFileFormat::Extended ||
         format == TFileFormat::OurMsl;
}

double TLog::Duration() const { return Times.size() < 2 ? 0 : Times.back() - Times.front(); }

int TLog::FindChannel(std::string_view name) const {
  for (std::size_t i = 0; i < Channels.size(); ++i) {
    if (text::EqualsNoCase(Channels[i].Name, name)) return static_cast<int>(i);
  }
  // The name as the log's own header wrote it, its unit in brackets ("Engine Speed [rpm]"), where
  // the reader kept the unit apart.
  for (std::size_t i = 0; i < Channels.size(); ++i) {
    const TChannel& channel = Channels[i];
    if (channel.Unit.empty()) continue;
    for (const char* brackets : {"[]", "()"}) {
      const std::string written = channel.Name + " " + brackets[0] + channel.Unit + brackets[1];
      if (text::EqualsNoCase(written, text::Trim(name))) return static_cast<int>(i);
    }
  }
  return -1;
}

TLogReader::TLogReader(std::string name, TFileFormat format, std::uint64_t sizeHint)
    : SizeHint(sizeHint) {
  Result.Name = std::move(name);
  Result.Format = format;
}

void TLogReader::Fail(const std::string& what) {
  if (Result.Error.empty()) Result.Error = Result.Name + ": " + what;
}

void TLogReader::Warn(const std::string& what) {
  Result.Warnings.push_back(Result.Name + ": " + what);
}

void TLogReader::Feed(std::string_view bytes) {
  if (Finished || bytes.empty()) return;
  if (!Result.Ok()) {
    // A reader that may still take its error back sees the bytes that could change its mind.
    if (SeesBytesAfterError) Consume(bytes, PendingOffset, false);
    return;
  }
  try {
    // An unfinished record or line from the last piece is completed from the start of this one;
    // as soon as it is read, the rest of the piece is read where it lies, not copied.
    while (!Pending.empty() && !bytes.empty()) {
      const std::size_t old = Pending.size();
      const std::size_t take = std::min(bytes.size(), std::max<std::size_t>(old, 64 * 1024));
      Pending.append(bytes.substr(0, take));
      const std::size_t used = Consume(Pending, PendingOffset, false);
      PendingOffset += used;
      if (!Result.Ok()) {
        Pending.clear();
        return;
      }
      if (used >= old) {
        bytes.remove_prefix(used - old);
        Pending.clear();
        break;
      }
      Pending.erase(0, used);
      bytes.remove_prefix(take);
    }
    if (Pending.empty() && !bytes.empty() && Result.Ok()) {
      const std::size_t used = Consume(bytes, PendingOffset, false);
      PendingOffset += used;
      Pending.assign(bytes.substr(used));
    }
  } catch (const std::bad_alloc&) {
    Fail("too large to hold in memory");
  }
}

void TLogReader::Finish() {
  if (Finished) return;
  Finished = true;
  try {
    if (Result.Ok()) {
      Consume(Pending, PendingOffset, true);
      PendingOffset += Pending.size();
      Pending.clear();
      Pending.shrink_to_fit();
    }
    if (Result.Ok()) Complete();
  } catch (const std::bad_alloc&) {
    Fail("too large to hold in memory");
  }
  if (Result.Ok() && Result.Times.empty() && EmptyIsError) Fail("holds no records");
  if (!Result.Ok()) {
    // A log that could not be read shows nothing of itself, not a part that looks whole. Ours
    // keep their fixed channels, empty.
    Result.Times = {};
    Result.RowFlags = {};
    if (EmptyIsError) {
      Result.Channels = {};
    } else {
      for (TChannel& channel : Result.Channels) channel.Values = {};
    }
    Result.Markers = {};
    return;
  }
  // Columns reserved from a guess that came out far too large give the rest back; a little spare
  // room is cheaper than copying every column once more.
  const auto trim = [](auto& column) {
    if (column.capacity() - column.size() > column.size() / 8) column.shrink_to_fit();
  };
  for (TChannel& channel : Result.Channels) trim(channel.Values);
  trim(Result.Times);
  trim(Result.RowFlags);
}

namespace {

std::unique_ptr<TLogReader> EngineReaderFor(TLogFormat format, const std::string& name,
                                            std::uint64_t sizeHint) {
  switch (format) {
    case TLogFormat::Mlg:
      return std::make_unique<TMlgReader>(name, sizeHint);
    case TLogFormat::Msl:
    case TLogFormat::Text:
      return std::make_unique<TTextLogReader>(name, sizeHint);
    case TLogFormat::DataLog:
      return std::make_unique<TDataLogReader>(name, sizeHint);
    case TLogFormat::Ours:
    case TLogFormat::None:
      break;
  }
  return nullptr;
}

TLog NotAnEngineLog(const std::string& name, TLogFormat format) {
  TLog log;
  log.Name = name;
  log.Error = name + (format == TLogFormat::Ours
                          ? ": is a mixture log of ours, not an engine log"
                          : ": is not an engine log (neither MLG, MSL, a DataLog export nor a "
                            "delimited text log with a header row and a time column)");
  return log;
}

}  // namespace

std::unique_ptr<TLogReader> MakeLogReaderFor(TLogFormat format, const std::string& name,
                                             std::uint64_t sizeHint) {
  auto reader = EngineReaderFor(format, name, sizeHint);
  if (reader) return reader;
  return std::make_unique<TOurLogReader>(name);
}

std::unique_ptr<TLogReader> MakeLogReader(std::string_view head, bool wholeFile,
                                          const std::string& name, std::uint64_t sizeHint) {
  return MakeLogReaderFor(SniffLogFormat(head, wholeFile), name, sizeHint);
}

TLog ReadLog(std::string_view bytes, const std::string& name) {
  const auto reader =
      MakeLogReader(bytes.substr(0, SniffBytes), bytes.size() <= SniffBytes, name, bytes.size());
  reader->Feed(bytes);
  reader->Finish();
  return std::move(reader->Log());
}

TLog ReadEngineLog(std::string_view bytes, const std::string& name) {
  const TLogFormat format = SniffLogFormat(bytes.substr(0, SniffBytes), bytes.size() <= SniffBytes);
  const auto reader = EngineReaderFor(format, name, bytes.size());
  if (!reader) return NotAnEngineLog(name, format);
  reader->Feed(bytes);
  reader->Finish();
  return std::move(reader->Log());
}

TLog ReadEngineLogFile(const std::string& path, const std::string& name) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    TLog log;
    log.Name = name;
    log.Error = name + ": cannot be opened (" + std::strerror(errno) + ")";
    return log;
  }
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  const std::uint64_t sizeHint = error ? 0 : size;

  // Pieces of a few megabytes keep the file's bytes out of memory beside its columns.
  constexpr std::size_t PieceSize = 4 << 20;
  std::string piece(PieceSize, '\0');
  file.read(piece.data(), static_cast<std::streamsize>(SniffBytes));
  std::size_t got = static_cast<std::size_t>(file.gcount());
  const bool whole = !file;
  const TLogFormat format = SniffLogFormat(std::string_view(piece.data(), got), whole);
  const auto reader = EngineReaderFor(format, name, sizeHint);
  if (!reader) return NotAnEngineLog(name, format);
  reader->Feed(std::string_view(piece.data(), got));
  while (file && reader->Log().Ok()) {
    file.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    got = static_cast<std::size_t>(file.gcount());
    reader->Feed(std::string_view(piece.data(), got));
  }
  if (file.bad() && reader->Log().Ok()) {
    TLog log;
    log.Name = name;
    log.Error = name + ": could not be read to its end";
    return log;
  }
  reader->Finish();
  return std::move(reader->Log());
}

}  // namespace enginelog
