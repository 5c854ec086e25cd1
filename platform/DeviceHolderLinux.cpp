// Finding who holds a device on Linux: every process's open descriptors are links under
// /proc/PID/fd to what they opened, and /proc/PID/comm is the program's name.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/DeviceHolder.h"
#include "text/Number.h"

namespace platform {

namespace {

// Compared by device number, not by name: the holder may have opened a link to the node, or the
// node under another name.
bool SameDevice(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string DeviceHolder(const std::string& path) {
  struct stat wanted {};
  if (::stat(path.c_str(), &wanted) != 0) return {};
  namespace fs = std::filesystem;
  const long self = static_cast<long>(::getpid());
  std::error_code error;
  for (fs::directory_iterator process("/proc", error), end; !error && process != end;
       process.increment(error)) {
    // The folders named by a number are the processes.
    const std::optional<long> pid = text::ParseWhole<long>(process->path().filename().string());
    if (!pid || *pid == self) continue;
    std::error_code fdError;  // a process we may not look into, or one that just ended
    for (fs::directory_iterator fd(process->path() / "fd", fdError); !fdError && fd != end;
         fd.increment(fdError)) {
      struct stat opened {};
      if (::stat(fd->path().c_str(), &opened) != 0 || !SameDevice(opened, wanted)) continue;
      std::string name;
      std::ifstream comm(process->path() / "comm");
      std::getline(comm, name);
      if (name.empty()) name = "a program";
      return name + " (process " + std::to_string(*pid) + ")";
    }
  }
  return {};
}

}  // namespace platform
