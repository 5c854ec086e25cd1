// The CSV log file: header and row texts, and a file that keeps every row it was given.
#include "log/CsvLog.h"

#include <cerrno>
#include <cstring>

namespace csvlog {

namespace {

constexpr char LineEnd[] = "\r\n";
constexpr std::size_t LineEndLength = sizeof(LineEnd) - 1;

// The errno of the call that just failed. Some stdio failures leave errno alone; the caller still
// gets a reason rather than "Success".
int LastError() { return errno != 0 ? errno : EIO; }

[[noreturn]] void Fail(const char* what, const std::string& path, int errorCode) {
  throw TLogFileError(std::string(what) + path + ": " + std::strerror(errorCode), errorCode);
}

}  // namespace

std::string LogHeaderLine1(const std::string& dateText) {
  return "Torvane KEST datalog.  " + dateText;
}

std::string LogRow(const std::string& timeText, const std::string& readingText,
                   const std::string& voltsText) {
  std::string row;
  LogRowInto(row, timeText, readingText, voltsText);
  return row;
}

void LogRowInto(std::string& row, std::string_view timeText, std::string_view readingText,
                std::string_view voltsText) {
  row.clear();  // keeps the capacity: a buffer used again allocates only to grow
  row.reserve(timeText.size() + readingText.size() + voltsText.size() + 2);
  row.append(timeText).append(",").append(readingText).append(",").append(voltsText);
}

TCsvLogFile::~TCsvLogFile() {
  // Nothing can be reported from here; every row already went to the system when it was written.
  if (File != nullptr) std::fclose(File);
}

void TCsvLogFile::Create(const std::string& path) {
  // A log is started only after the last one was stopped; should one still be open, it is closed
  // first so that its handle is not leaked (a failing close is reported and nothing is created).
  Close();
  FilePath.clear();
  errno = 0;
  // Binary mode, so that the rows end in exactly CR LF on every system.
  std::FILE* const file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail("Could not create the log file ", path, LastError());
  File = file;
  FilePath = path;
}

void TCsvLogFile::WriteLine(const std::string& line, TFlush flush) {
  if (File == nullptr) {
    throw TLogFileError("Could not write to the log file " + FilePath + ": it is not open", EBADF);
  }
  errno = 0;
  bool written = std::fwrite(line.data(), 1, line.size(), File) == line.size() &&
                 std::fwrite(LineEnd, 1, LineEndLength, File) == LineEndLength;
  // Flushed row by row, unlike a plain buffered text file: a crash, a kill or a pulled plug then
  // loses none of the rows already logged, and a full disk is reported on the row that hit it
  // rather than at STOP. The row goes out in one piece, as a single write to the system.
  if (written && flush == TFlush::Now) written = std::fflush(File) == 0;
  if (!written) {
    const int errorCode = LastError();
    // The file stays open: the user keeps logging and decides when to stop. The error flag is
    // cleared so that the next row is tried afresh.
    std::clearerr(File);
    Fail("Could not write to the log file ", FilePath, errorCode);
  }
}

void TCsvLogFile::Close() {
  if (File == nullptr) return;
  std::FILE* const file = File;
  // fclose releases the stream even when it fails, so the file is not held either way.
  File = nullptr;
  errno = 0;
  if (std::fclose(file) != 0) Fail("Could not close the log file ", FilePath, LastError());
}

}  // namespace csvlog
