// enginelog-bench: how fast kestview opens engine logs and what their columns cost. It writes a
// 1,000,000-record MLG log of 50 fields and a 1,000,000-row delimited text log of 20 columns, then
// reads each as the viewer does (in pieces from the file) and prints the time that took and the
// resident memory at its peak. It prints figures; nothing here is a test.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/BenchMlg.h"
#include "bench/Figures.h"
#include "bench/ProcReader.h"
#include "log/Log.h"
#include "log/MlgReader.h"

namespace {

constexpr int Records = 1000000;
constexpr int TextColumns = 20;

using bench::StatusMegabytes;

// The peak so far is forgotten, so that each phase's own peak shows.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void WriteText(const std::string& path) {
  std::ofstream file(path, std::ios::binary);
  std::string out = "Time";
  for (int c = 1; c < TextColumns; ++c) out += ",Channel" + std::to_string(c);
  out += "\n";
  char cell[32];
  for (int r = 0; r < Records; ++r) {
    std::snprintf(cell, sizeof cell, "%.3f", r * 0.02);
    out += cell;
    for (int c = 1; c < TextColumns; ++c) {
      // Every fifth channel is sparse: logged only when it changed.
      if (c % 5 == 0 && r % 4 != 0) {
        out += ',';
        continue;
      }
      std::snprintf(cell, sizeof cell, ",%.2f", 50 + 40 * std::sin(r / (100.0 + c)));
      out += cell;
    }
    out += '\n';
    if (out.size() > (1 << 20)) {
      file.write(out.data(), static_cast<std::streamsize>(out.size()));
      out.clear();
    }
  }
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
}

void Measure(const char* name, const std::string& path) {
  const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
  ResetPeak();
  const double before = StatusMegabytes("VmRSS");
  const bench::TClock::time_point start = bench::TClock::now();
  enginelog::TLog log = enginelog::ReadEngineLogFile(path, path);
  const double seconds = bench::SecondsSince(start);
  if (!log.Ok()) {
    std::printf("enginelog.%s: not read: %s\n", name, log.Error.c_str());
    return;
  }
  std::printf("enginelog.%s: %zu records, %zu channels, %s, %.1f MB file\n", name, log.Rows(),
              log.Channels.size(), enginelog::FormatName(log.Format), fileMb);
  const std::string prefix = std::string("enginelog.") + name;
  bench::Figure(prefix + "_open_s", seconds, "s", 3);
  bench::Figure(prefix + "_rss_mb", StatusMegabytes("VmRSS"), "MB", 1);
  bench::Figure(prefix + "_peak_rss_mb", StatusMegabytes("VmHWM"), "MB", 1);
  bench::Figure(prefix + "_rss_before_mb", before, "MB", 1);
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string mlg = (dir / "kest-enginelog-bench.mlg").string();
  const std::string text = (dir / "kest-enginelog-bench.csv").string();
  bench::WriteBenchMlg(mlg);
  Measure("mlg_1m_x50", mlg);
  std::filesystem::remove(mlg);
  WriteText(text);
  Measure("text_1m_x20", text);
  std::filesystem::remove(text);
  return 0;
}
