// What the benchmark reads from /proc: memory, sleeps, run time and waiting of this process or of a
// child it started, and the machine's load. Every reader gives -1 where the system does not say.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// A "Key: value" field of a text file such as /proc/self/status; empty when there is none.
std::string FieldOf(const std::string& path, const std::string& key);

// A field of /proc/self/status given in kB ("VmRSS", "VmHWM"), in MB.
double StatusMegabytes(const std::string& key);
// Resident memory of this process in MB.
double ResidentMegabytes();

// Times the GUI thread (this process's main thread) went to sleep and was woken again.
double VoluntarySwitches();

// Seconds the GUI thread spent ready to run but waiting for a processor.
double RunQueueWaitSeconds();

// The system's load average over the last minute.
double LoadAverage();

// Summed over every thread a process has at the moment of reading. Threads that ended before are
// not counted, so a reading is taken while the process runs its steady state.
struct TProcessTally {
  double Wakeups = -1;           // voluntary context switches: sleeps that ended in a wake-up
  double CpuSeconds = -1;        // time on a processor, user and system, to the nanosecond
  double QueueWaitSeconds = -1;  // time ready to run but waiting for a processor
};

// `pid` 0 means this process.
TProcessTally TallyOf(std::int64_t pid);

}  // namespace bench
