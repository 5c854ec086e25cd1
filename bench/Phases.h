// kest-bench's phases: what each one runs against and measures, what it found, and the targets
// the figures are judged by.
#pragma once

#include <QStringList>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Durations in milliseconds, in 0.25 ms steps up to 100 ms: fixed size, so a soak of hours does
// not grow the memory it measures.
class THistogram {
 public:
  void Add(double ms);
  std::uint64_t Count() const { return Total; }
  // The smallest duration that `share` (0 to 1) of the samples do not exceed; 0 without samples.
  double Quantile(double share) const;
  std::uint64_t CountAbove(double ms) const;

 private:
  static constexpr double Step = 0.25;
  std::array<std::uint64_t, 400> Buckets{};
  std::uint64_t Total = 0;
};

// The longest run of one of the window's handlers, timed from outside at no cost worth naming.
struct THandlerTimes {
  double ReceiveMs = 0;
  THistogram Receive;
  double SampleTickMs = 0;
  double WatchdogMs = 0;
};

// What a phase measures: the window in this process, or a program of its own as a child.
enum class TSubject { Window, Kestlog, Baseline };

struct TPhase {
  std::string Name;
  TSubject Subject = TSubject::Window;
  std::string Title;
  QStringList SimArguments;
  bool Fast = false;
  bool BusyLoop = false;
  bool ExpectLive = true;  // the controller answers: wait for the first reading
  bool Log = false;
  bool Aligned = true;    // nothing but whole frames on the line
  bool Conserves = true;  // every byte sent is read or purged (not so for a line that never stops)
  double Seconds = 30;
  bool Soak = false;
  bool StallProbe = false;  // the 10 ms probe timer runs (and costs CPU of its own)
};

struct TPhaseResult {
  bool Ran = false;
  double CpuPercent = 0;
  double WallSeconds = 0;
  double ChartRate = 0;
  double LogRate = 0;
  double FirstReadingSeconds = -1;
  double RssStart = 0;
  double RssEnd = 0;
  double MaxLateMs = -1;  // -1: no probe in this phase
  double StallP99 = -1;
  std::uint64_t StallsOver10 = 0;
  std::uint64_t StallProbes = 0;
  double SimQueueWaitMs = 0;
  double WakeupsPerSample = -1;  // voluntary context switches of the whole process per sample
  THandlerTimes Times;
  bool FramesBalance = true;
  bool RowsOk = true;
};

// The suite's phases in the order they run, those named in `only` (all when it is empty).
std::vector<TPhase> SuitePhases(double seconds, const QStringList& only);
// The soak: one long drive with every fault the simulator has, log and probe on.
TPhase SoakPhase(int minutes);

// The suite's targets, each judged only when the phases it needs ran.
void SuiteVerdicts(std::map<std::string, TPhaseResult>& results, double rssEnd);
void SoakVerdicts(const TPhaseResult& result);

}  // namespace bench
