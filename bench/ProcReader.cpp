// The benchmark's /proc reader: plain text fields of status, schedstat and loadavg files.
#include "bench/ProcReader.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace bench {

std::string FieldOf(const std::string& path, const std::string& key) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(key, 0) == 0) {
      std::string value = line.substr(key.size());
      const auto first = value.find_first_not_of(" \t:");
      return first == std::string::npos ? std::string() : value.substr(first);
    }
  }
  return {};
}

double StatusMegabytes(const std::string& key) {
  const std::string value = FieldOf("/proc/self/status", key + ":");
  if (value.empty()) return -1;
  return std::stod(value) / 1024.0;
}

double ResidentMegabytes() { return StatusMegabytes("VmRSS"); }

double VoluntarySwitches() {
  const std::string value = FieldOf("/proc/self/status", "voluntary_ctxt_switches");
  return value.empty() ? -1 : std::stod(value);
}

double RunQueueWaitSeconds() {
  std::ifstream file("/proc/thread-self/schedstat");
  double running = 0, waiting = -1;
  if (!(file >> running >> waiting)) return -1;
  return waiting / 1e9;  // nanoseconds
}

double LoadAverage() {
  std::ifstream file("/proc/loadavg");
  double load = -1;
  file >> load;
  return load;
}

TProcessTally TallyOf(std::int64_t pid) {
  namespace fs = std::filesystem;
  TProcessTally tally;
  std::error_code error;
  const fs::path tasks =
      fs::path("/proc") / (pid == 0 ? std::string("self") : std::to_string(pid)) / "task";
  for (const auto& task : fs::directory_iterator(tasks, error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    double running = 0, waiting = 0;
    if (schedstat >> running >> waiting) {  // nanoseconds
      tally.CpuSeconds = std::max(tally.CpuSeconds, 0.0) + running / 1e9;
      tally.QueueWaitSeconds = std::max(tally.QueueWaitSeconds, 0.0) + waiting / 1e9;
    }
    const std::string switches =
        FieldOf((task.path() / "status").string(), "voluntary_ctxt_switches");
    if (!switches.empty()) tally.Wakeups = std::max(tally.Wakeups, 0.0) + std::stod(switches);
  }
  return tally;
}

}  // namespace bench
