// What the headless tests share: a sink that keeps its lines, files read back as CR LF lines.
#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/RowSink.h"

namespace headlesstest {

// Keeps every line; can be told to refuse, as a full disk would.
class TMemorySink : public headless::TRowSink {
 public:
  void WriteLine(const std::string& line) override {
    ++Writes;
    if (Refuse) throw csvlog::TLogFileError("Could not write to the log file mem: No space", 28);
    Lines.push_back(line);
  }
  std::vector<std::string> Lines;
  bool Refuse = false;
  int Writes = 0;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of a CR LF text; `complete` is false when the text does not end in CR LF or has a
// bare LF somewhere, i.e. when a line was cut.
inline std::vector<std::string> CrLfLines(const std::string& text, bool& complete) {
  std::vector<std::string> lines;
  complete = true;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      complete = false;
      lines.push_back(text.substr(start));
      break;
    }
    const std::string line = text.substr(start, end - start);
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
      complete = false;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

}  // namespace headlesstest
