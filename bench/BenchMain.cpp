// kest-bench: the real monitor window, drawn offscreen, on the real driver and serial backend,
// against kestsim on a pseudo-terminal in a process of its own. Prints one "name: value unit" line
// per figure (lines starting with '#' are for people), phase by phase:
//   live    controller answering, normal rate, log on
//   fast    the same at the "FAST" rate
//   silent  a controller that never answers
//   spew    a line that carries junk without a single frame
//   busy    the live run with the driver's waits turned into busy loops (the yardstick)
//   stall   the FAST run again with a 10 ms probe timer watching the GUI thread
//   kestlog  kestlog as a child process on the live line, measured from outside
//   baseline a plain pyserial poller asking once per sample, the same way
// or, with --soak MINUTES, one long drive with faults and the log on.
//
// Figures.* prints and waits, Phases.* says what each phase runs and judges the targets,
// WindowSession.* measures the window through the engine's probe, FrameReport.* accounts for every
// byte, LogCheck.* reads the logs back through log/, Bench.* runs the phases and the children.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "bench/Figures.h"
#include "bench/Phases.h"
#include "bench/ProcReader.h"

namespace {

// kest-bench's options, in the order --help lists them.
struct TBenchParser {
  QCommandLineParser Parser;
  QCommandLineOption Seconds{QStringLiteral("seconds"),
                             QStringLiteral("Seconds measured per phase (30)."),
                             QStringLiteral("N"), QStringLiteral("30")};
  QCommandLineOption Quick{QStringLiteral("quick"), QStringLiteral("A smoke run: 3 s per phase.")};
  QCommandLineOption Soak{
      QStringLiteral("soak"),
      QStringLiteral("Only the soak: a drive with faults, log on, for MINUTES minutes."),
      QStringLiteral("MINUTES")};
  QCommandLineOption Only{QStringLiteral("only"),
                          QStringLiteral("Only these phases, comma-separated: "
                                         "live,fast,silent,spew,busy,stall,kestlog,baseline."),
                          QStringLiteral("LIST")};
  QCommandLineOption Sim{QStringLiteral("kestsim"),
                         QStringLiteral("The simulator (default: next to kest-bench)."),
                         QStringLiteral("PATH")};

  TBenchParser() {
    Parser.setApplicationDescription(QStringLiteral(
        "Measures the monitor window against the simulated controller (kestsim, run as a "
        "child)."));
    Parser.addHelpOption();
    Parser.addOptions({Seconds, Quick, Soak, Only, Sim});
  }
};

int RunSoak(bench::TBench& bench, const QString& minutesText) {
  bool ok = true;
  const int minutes = minutesText.toInt(&ok);
  if (!ok || minutes < 1) {
    std::fprintf(stderr, "kest-bench: --soak wants whole minutes, at least 1\n");
    return 2;
  }
  const bench::TPhaseResult r = bench.Run(bench::SoakPhase(minutes));
  if (!r.Ran) return 1;
  bench::SoakVerdicts(r);
  return 0;
}

int RunSuite(bench::TBench& bench, double seconds, const QStringList& only) {
  using bench::TPhase;
  std::map<std::string, bench::TPhaseResult> results;
  std::vector<TPhase> children;
  for (const TPhase& phase : bench::SuitePhases(seconds, only)) {
    if (phase.Subject != bench::TSubject::Window) {
      children.push_back(phase);  // run together once the window's phases are done
      continue;
    }
    results[phase.Name] = bench.Run(phase);
    if (!results[phase.Name].Ran) return 1;
  }
  if (!children.empty()) {
    const std::vector<bench::TPhaseResult> childResults = bench.RunChildren(children);
    if (childResults.size() != children.size()) return 1;
    for (std::size_t i = 0; i < children.size(); ++i) results[children[i].Name] = childResults[i];
  }
  const double rssEnd = bench::ResidentMegabytes();
  bench::Figure("process.rss_end", rssEnd, "MB", 1);
  bench::SuiteVerdicts(results, rssEnd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before the application exists: the window is drawn but never shown on a screen.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kest-bench"));
  TBenchParser p;
  p.Parser.process(application);

  const QString simProgram =
      p.Parser.isSet(p.Sim)
          ? p.Parser.value(p.Sim)
          : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestsim"));
  if (!QFile::exists(simProgram)) {
    std::fprintf(stderr, "kest-bench: no simulator at %s\n", qPrintable(simProgram));
    return 2;
  }
  bool ok = true;
  double seconds = p.Parser.value(p.Seconds).toDouble(&ok);
  if (!ok || seconds < 1) {
    std::fprintf(stderr, "kest-bench: --seconds wants a number of at least 1\n");
    return 2;
  }
  if (p.Parser.isSet(p.Quick)) seconds = 3;

  bench::PrintMachine();
  const QDir here(QCoreApplication::applicationDirPath());
  bench::TBench bench(simProgram, here.filePath(QStringLiteral("kestlog")),
                      here.filePath(QStringLiteral("kest-baseline-poller.py")));
  if (p.Parser.isSet(p.Soak)) return RunSoak(bench, p.Parser.value(p.Soak));
  return RunSuite(bench, seconds,
                  p.Parser.value(p.Only).split(QLatin1Char(','), Qt::SkipEmptyParts));
}
