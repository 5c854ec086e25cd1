// Which log a file is, from its first bytes alone.
#include "log/LogSniffer.h"

#include <algorithm>
#include <string>

#include "log/CsvLog.h"
#include "log/DataLogReader.h"
#include "log/MlgReader.h"
#include "log/MslLog.h"
#include "log/TextLogReader.h"

namespace enginelog {

namespace {

// kestlog's extended header. The viewer's parser reads these files; here they only have to be
// recognised, so that the engine-log text reader, which would happily read them too, leaves them.
constexpr std::string_view ExtendedHeaderStart = "time,reading,afr,lambda,volts";

std::string_view FirstLine(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text.substr(0, text.find_first_of("\r\n"));
}

bool IsOurs(std::string_view head, bool wholeFile) {
  // Our MSL log is read as a mixture log of ours; only other programs' MSL logs are engine logs.
  if (csvlog::IsOurMslHead(head, wholeFile)) return true;
  const std::string_view line = FirstLine(head);
  std::string classic = csvlog::LogHeaderLine1("");
  // The date follows the classic header's two spaces; any trailing blanks may have been trimmed.
  classic.erase(classic.find_last_not_of(' ') + 1);
  return line.substr(0, classic.size()) == classic ||
         line.substr(0, ExtendedHeaderStart.size()) == ExtendedHeaderStart;
}

}  // namespace

TLogFormat SniffLogFormat(std::string_view head, bool wholeFile) {
  if (head.substr(0, MlgMagic.size()) == MlgMagic) return TLogFormat::Mlg;
  // Its rows would pass for a delimited text log's under a header the text reader cannot read.
  if (IsDataLogHead(head)) return TLogFormat::DataLog;
  if (IsOurs(head, wholeFile)) return TLogFormat::Ours;
  // Text logs have no NUL bytes; binary files nearly always do.
  if (head.find('\0') != std::string_view::npos) return TLogFormat::None;
  std::string error;
  const auto layout = DetectTextLayout(head, wholeFile, error);
  if (!layout) return TLogFormat::None;
  return layout->Format == TFileFormat::Msl ? TLogFormat::Msl : TLogFormat::Text;
}

std::optional<TLogFormat> SniffGrowingLog(std::string_view head) {
  if (head.size() >= SniffBytes) return SniffLogFormat(head.substr(0, SniffBytes), false);
  // Each test of SniffLogFormat reads only complete lines when the file may go on, so what it
  // finds stays found.
  const TLogFormat format = SniffLogFormat(head, false);
  if (format != TLogFormat::None) return format;
  // (The MLG signature's first five bytes hold neither a NUL nor a line end: a file that has
  // only those so far waits below.)
  if (head.find('\0') != std::string_view::npos) return TLogFormat::None;
  // No text log yet: none ever, once every line the text layout is found from is here.
  if (HoldsTextLayoutLines(head)) return TLogFormat::None;
  return std::nullopt;
}

}  // namespace enginelog
