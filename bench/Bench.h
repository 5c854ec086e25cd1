// kest-bench's runs: each window phase in this process, and kestlog and the baseline poller as
// child processes measured from outside, side by side over one stretch.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <vector>

#include "bench/Phases.h"

namespace bench {

struct TChildRun;

class TBench {
 public:
  TBench(QString simProgram, QString logProgram, QString baselineScript)
      : SimProgram(std::move(simProgram)),
        LogProgram(std::move(logProgram)),
        BaselineScript(std::move(baselineScript)) {}

  // The window in this process.
  TPhaseResult Run(const TPhase& phase);
  // kestlog and the baseline poller, each a child on a simulator of its own, all measured from
  // outside over one and the same stretch (the first phase's length): whatever else the machine
  // does then weighs on them alike, so their figures can be compared. Empty when one failed.
  std::vector<TPhaseResult> RunChildren(const std::vector<TPhase>& phases);

 private:
  QString SimProgram;
  QString LogProgram;
  QString BaselineScript;
  QTemporaryDir Folder;

  bool StartChild(TChildRun& run);
};

}  // namespace bench
