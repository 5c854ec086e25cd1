// The classic CSV log file: two header lines, then one row per sample, CR LF line ends, no quoting.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace csvlog {

// A file operation of the log failed. what() names the operation, the file and the system's reason.
class TLogFileError : public std::runtime_error {
 public:
  TLogFileError(const std::string& message, int errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode;  // errno of the failed call
};

// "Torvane KEST datalog.  " (two spaces) followed by the date text.
std::string LogHeaderLine1(const std::string& dateText);
inline constexpr const char* LogHeaderLine2 = "Time, AFR or LAMBDA, Supply volts";
// "time,reading,volts" with no spaces around the commas.
std::string LogRow(const std::string& timeText, const std::string& readingText,
                   const std::string& voltsText);
// The same row into `row`, replacing what it held and reusing its memory.
void LogRowInto(std::string& row, std::string_view timeText, std::string_view readingText,
                std::string_view voltsText);

// A text file written line by line. Every line reaches the operating system when it is written, so
// a crash or a kill loses no line already written. Each failure throws TLogFileError.
class TCsvLogFile {
 public:
  TCsvLogFile() = default;
  ~TCsvLogFile();  // closes quietly if still open
  TCsvLogFile(const TCsvLogFile&) = delete;
  TCsvLogFile& operator=(const TCsvLogFile&) = delete;

  // Creates `path` (an existing file is replaced). Throws and holds nothing when it cannot.
  void Create(const std::string& path);
  enum class TFlush { Now, WithNextLine };
  // Appends `line` and CR LF and, unless told to wait for the next line, hands everything written
  // so far to the system. Throws on a short write or a failed flush.
  void WriteLine(const std::string& line, TFlush flush = TFlush::Now);
  // Closes the file. Not open afterwards even when the close fails (it then throws).
  void Close();
  bool IsOpen() const { return File != nullptr; }
  const std::string& Path() const { return FilePath; }

 private:
  std::FILE* File = nullptr;
  std::string FilePath;
};

}  // namespace csvlog
