// The benchmarks' figures, verdicts and clocks.
#include "bench/Figures.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>

#include "bench/ProcReader.h"

namespace bench {

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

double MsBetween(TClock::time_point from, TClock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double ProcessCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void Figure(const std::string& name, double value, const char* unit, int decimals) {
  std::printf("%s: %.*f %s\n", name.c_str(), decimals, value, unit);
  std::fflush(stdout);
}

void Count(const std::string& name, std::uint64_t value, const char* unit) {
  std::printf("%s: %llu %s\n", name.c_str(), static_cast<unsigned long long>(value), unit);
  std::fflush(stdout);
}

void Note(const std::string& text) {
  std::printf("# %s\n", text.c_str());
  std::fflush(stdout);
}

void Verdict(const std::string& what, bool met, const std::string& detail) {
  Note(std::string(met ? "MET     " : "NOT MET ") + what + " (" + detail + ")");
}

void Target(const std::string& name, bool met, const std::string& bound) {
  std::printf("%s: %s (%s)\n", name.c_str(), met ? "met" : "NOT MET", bound.c_str());
  std::fflush(stdout);
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void PrintMachine() {
  const std::string model = FieldOf("/proc/cpuinfo", "model name");
  std::ifstream release("/proc/sys/kernel/osrelease");
  std::string kernel;
  std::getline(release, kernel);
  const std::time_t now = std::time(nullptr);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %Z", std::localtime(&now));
  Note("machine: " + std::to_string(std::thread::hardware_concurrency()) + " cores, " +
       (model.empty() ? std::string("unknown CPU") : model) + ", kernel " +
       (kernel.empty() ? std::string("unknown") : kernel) + ", " + date);
  Count("machine.cores", std::thread::hardware_concurrency(), "cores");
}

}  // namespace bench
