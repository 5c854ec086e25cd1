// kest-bench's phases and targets.
#include "bench/Phases.h"

#include <algorithm>

#include "bench/Figures.h"

namespace bench {

void THistogram::Add(double ms) {
  const auto bucket = static_cast<std::size_t>(std::max(ms, 0.0) / Step);
  ++Buckets[std::min(bucket, Buckets.size() - 1)];
  ++Total;
}

double THistogram::Quantile(double share) const {
  const auto wanted = static_cast<std::uint64_t>(std::ceil(share * static_cast<double>(Total)));
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < Buckets.size(); ++i) {
    seen += Buckets[i];
    if (seen >= wanted && seen > 0) return static_cast<double>(i + 1) * Step;
  }
  return 0;
}

std::uint64_t THistogram::CountAbove(double ms) const {
  std::uint64_t n = 0;
  for (std::size_t i = static_cast<std::size_t>(ms / Step); i < Buckets.size(); ++i)
    n += Buckets[i];
  return n;
}

namespace {

// A controller that answers after about 2 ms, its bytes paced at the line's 19200 bit/s.
QStringList PacedLine() {
  return {QStringLiteral("--latency"), QStringLiteral("2"), QStringLiteral("--pace")};
}

}  // namespace

TPhase SoakPhase(int minutes) {
  const QStringList line = PacedLine();
  TPhase soak;
  soak.Name = "soak";
  soak.Title = "drive with 2% corrupt frames, junk, silent spells, warm-up, supply dips, log on";
  soak.SimArguments = line + QStringList{QStringLiteral("--scenario"),
                                         QStringLiteral("drive"),
                                         QStringLiteral("--corrupt"),
                                         QStringLiteral("0.02"),
                                         QStringLiteral("--junk"),
                                         QStringLiteral("0.02"),
                                         QStringLiteral("--silent-every"),
                                         QStringLiteral("60"),
                                         QStringLiteral("--silent-for"),
                                         QStringLiteral("3"),
                                         QStringLiteral("--warmup"),
                                         QStringLiteral("5"),
                                         QStringLiteral("--dip"),
                                         QStringLiteral("--seed"),
                                         QStringLiteral("7")};
  soak.Log = true;
  soak.Aligned = false;
  soak.Seconds = minutes * 60.0;
  soak.Soak = true;
  soak.StallProbe = true;
  return soak;
}

void SoakVerdicts(const TPhaseResult& r) {
  Verdict("soak: log rows well formed, rows and chart steps as the rules give", r.RowsOk,
          "see soak.log_* and soak.chart_steps*");
  Verdict("soak: resident memory under 40 MB", r.RssEnd < 40,
          Fixed(r.RssEnd, 1) + " MB at the end");
  Verdict("soak: memory flat (growth under 1 MB)", r.RssEnd - r.RssStart < 1,
          Fixed(r.RssEnd - r.RssStart) + " MB");
  Verdict("soak: no byte or request lost or invented", r.FramesBalance,
          "see soak.bytes_* and soak.handler_*");
}

std::vector<TPhase> SuitePhases(double seconds, const QStringList& only) {
  auto wanted = [&](const char* name) {
    return only.isEmpty() || only.contains(QString::fromLatin1(name));
  };
  const QStringList line = PacedLine();
  const QStringList liveLine =
      line + QStringList{QStringLiteral("--corrupt"), QStringLiteral("0.02"),
                         QStringLiteral("--seed"), QStringLiteral("1")};
  std::vector<TPhase> phases;
  TPhase live;
  live.Name = "live";
  live.Title = "controller answering, 2% corrupt frames, normal rate (100 ms), log on";
  live.SimArguments = liveLine;
  live.Log = true;
  live.Seconds = seconds;
  if (wanted("live")) phases.push_back(live);

  TPhase fast = live;
  fast.Name = "fast";
  fast.Title = "the same at the FAST rate (80 ms), log on";
  fast.Fast = true;
  if (wanted("fast")) phases.push_back(fast);

  TPhase silent;
  silent.Name = "silent";
  silent.Title = "controller that never answers, log off";
  // A silent spell of all but the first millisecond of a day.
  silent.SimArguments =
      line + QStringList{QStringLiteral("--silent-every"), QStringLiteral("86400"),
                         QStringLiteral("--silent-for"), QStringLiteral("86399.999")};
  silent.ExpectLive = false;
  silent.Seconds = seconds;
  if (wanted("silent")) phases.push_back(silent);

  TPhase spew;
  spew.Name = "spew";
  spew.Title = "line spewing junk without a frame at 19200 bit/s, log off";
  spew.SimArguments = {QStringLiteral("--spew")};
  spew.ExpectLive = false;
  spew.Aligned = false;
  spew.Conserves = false;
  spew.Seconds = seconds;
  if (wanted("spew")) phases.push_back(spew);

  TPhase busy = live;
  busy.Name = "busy";
  busy.Title = "the live run with the driver's waits made busy loops (yardstick)";
  busy.BusyLoop = true;
  if (wanted("busy")) phases.push_back(busy);

  TPhase stall = fast;
  stall.Name = "stall";
  stall.Title = "the FAST live run again with a 10 ms probe timer watching the GUI thread";
  stall.StallProbe = true;
  if (wanted("stall")) phases.push_back(stall);

  // The two programs the window's wake-ups are compared with, each on a simulator of its own
  // with the live line: kestlog at NORMAL, and the plainest pyserial poller as the baseline.
  TPhase kestlog = live;
  kestlog.Name = "kestlog";
  kestlog.Title = "kestlog as a child process, normal rate, rows to a file";
  kestlog.Subject = TSubject::Kestlog;
  if (wanted("kestlog")) phases.push_back(kestlog);

  TPhase baseline = live;
  baseline.Name = "baseline";
  baseline.Title = "pyserial poller asking once per sample (baseline), every 100 ms";
  baseline.Subject = TSubject::Baseline;
  if (wanted("baseline")) phases.push_back(baseline);
  return phases;
}

namespace {

// The targets of a live phase at its nominal sample rate.
void RateVerdicts(const std::string& name, double nominal, const TPhaseResult& r) {
  Verdict(name + ": chart samples within 1% of " + Fixed(nominal, 1) + "/s",
          std::abs(r.ChartRate - nominal) <= nominal * 0.01, Fixed(r.ChartRate, 3) + "/s");
  Verdict(name + ": log rows within 1% of " + Fixed(nominal, 1) + "/s",
          std::abs(r.LogRate - nominal) <= nominal * 0.01, Fixed(r.LogRate, 3) + "/s");
  Note(name + ": longest handlers: receive " + Fixed(r.Times.ReceiveMs) + " ms, sample tick " +
       Fixed(r.Times.SampleTickMs) + " ms, watchdog " + Fixed(r.Times.WatchdogMs) + " ms");
  Verdict(name + ": first live reading within 0.6 s", r.FirstReadingSeconds <= 0.6,
          Fixed(r.FirstReadingSeconds, 3) + " s");
  Verdict(name + ": memory flat over the run (growth under 1 MB)", r.RssEnd - r.RssStart < 1,
          Fixed(r.RssEnd - r.RssStart) + " MB");
  Verdict(name + ": frames, bytes and requests balance", r.FramesBalance,
          "see " + name + ".frames_*");
  Verdict(name + ": log rows well formed and as the rules give", r.RowsOk,
          "see " + name + ".log_*");
}

}  // namespace

void SuiteVerdicts(std::map<std::string, TPhaseResult>& results, double rssEnd) {
  Note("targets:");
  auto has = [&](const char* name) { return results.count(name) != 0; };
  if (has("live") && has("busy")) {
    const double ratio = results["busy"].CpuPercent / std::max(results["live"].CpuPercent, 1e-9);
    Figure("busy_to_live_ratio", ratio, "x", 1);
    Verdict("waits at least 20 times cheaper than the busy loop", ratio >= 20,
            Fixed(ratio, 1) + " x");
  }
  if (has("fast"))
    Verdict("under 1% of a core live at FAST", results["fast"].CpuPercent < 1,
            Fixed(results["fast"].CpuPercent, 3) + " %core");
  if (has("live"))
    Verdict("under 1% of a core live at NORMAL", results["live"].CpuPercent < 1,
            Fixed(results["live"].CpuPercent, 3) + " %core");
  if (has("silent"))
    Verdict("under 0.3% of a core silent", results["silent"].CpuPercent < 0.3,
            Fixed(results["silent"].CpuPercent, 3) + " %core");
  for (const auto& [name, nominal] :
       {std::pair<const char*, double>{"live", 10.0}, {"fast", 12.5}}) {
    if (has(name)) RateVerdicts(name, nominal, results[name]);
  }
  if (has("stall"))
    Verdict("longest stall of the GUI thread under 10 ms (probe timer, FAST, live)",
            results["stall"].MaxLateMs < 10,
            Fixed(results["stall"].MaxLateMs, 1) + " ms; 99% of probes within " +
                Fixed(results["stall"].StallP99) + " ms; " +
                std::to_string(results["stall"].StallsOver10) + " of " +
                std::to_string(results["stall"].StallProbes) + " probes late by 10 ms or more");
  Verdict("resident memory under 40 MB at the end", rssEnd < 40, Fixed(rssEnd, 1) + " MB");
  for (const char* name : {"live", "kestlog", "baseline"}) {
    if (!has(name)) continue;
    Note(std::string("wake-ups and CPU side by side: ") + name + " " +
         Fixed(results[name].WakeupsPerSample) + " per sample, " +
         Fixed(results[name].CpuPercent, 3) + " %core");
  }
  if (has("live"))
    Verdict("the window at most 7 wake-ups per sample", results["live"].WakeupsPerSample <= 7,
            Fixed(results["live"].WakeupsPerSample) + " per sample");
  if (has("kestlog"))
    Verdict("kestlog at most 7 wake-ups per sample", results["kestlog"].WakeupsPerSample <= 7,
            Fixed(results["kestlog"].WakeupsPerSample) + " per sample");
  if (has("kestlog") && has("baseline"))
    Verdict("kestlog's CPU at most the baseline's",
            results["kestlog"].CpuPercent <= results["baseline"].CpuPercent,
            Fixed(results["kestlog"].CpuPercent, 3) + " against " +
                Fixed(results["baseline"].CpuPercent, 3) + " %core");
}

}  // namespace bench
