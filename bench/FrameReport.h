// The frame accounting of one window phase, printed and judged.
#pragma once

#include <cstdint>
#include <optional>

#include "bench/BenchSerialApi.h"
#include "bench/FrameAccounting.h"
#include "bench/Phases.h"
#include "sim/KestSimulator.h"

namespace bench {

// Prints what the simulator sent and what the monitor read, purged and left queued, and sets
// result.FramesBalance: no request, byte or frame lost or invented (as far as the phase's line
// allows telling). Without the simulator's counters nothing balances.
void ReportFrames(const TPhase& phase, const std::optional<sim::TSimCounters>& simCounters,
                  const TBenchSerialApi& api, const TFrameAccounting& accounting,
                  std::uint32_t leftQueued, TPhaseResult& result);

}  // namespace bench
