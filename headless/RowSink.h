// Where kestlog's lines go: a file, standard output, or (in tests) memory.
#pragma once

#include <string>

#include "log/CsvLog.h"

namespace headless {

// Takes whole lines; each ends in CR LF, as the window's log does, and reaches the operating
// system before WriteLine returns. Failures throw csvlog::TLogFileError.
class TRowSink {
 public:
  virtual ~TRowSink() = default;
  virtual void WriteLine(const std::string& line) = 0;
};

// A log file, replaced if it exists: the window's own log file underneath.
class TFileRowSink final : public TRowSink {
 public:
  // Throws TLogFileError when the file cannot be created.
  explicit TFileRowSink(const std::string& path) { File.Create(path); }
  void WriteLine(const std::string& line) override { File.WriteLine(line); }
  // Throws TLogFileError when the close fails; closed afterwards either way.
  void Close() { File.Close(); }

 private:
  csvlog::TCsvLogFile File;
};

// Standard output, flushed line by line so that a pipe's reader sees each row as it comes.
class TStandardOutputSink final : public TRowSink {
 public:
  void WriteLine(const std::string& line) override;
};

}  // namespace headless
