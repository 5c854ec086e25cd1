// Standard output as a row sink.
#include "headless/RowSink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace headless {

void TStandardOutputSink::WriteLine(const std::string& line) {
  errno = 0;
  const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                       std::fwrite("\r\n", 1, 2, stdout) == 2 && std::fflush(stdout) == 0;
  if (!written) {
    const int errorCode = errno != 0 ? errno : EIO;
    std::clearerr(stdout);
    throw csvlog::TLogFileError(
        std::string("Could not write to standard output: ") + std::strerror(errorCode), errorCode);
  }
}

}  // namespace headless
