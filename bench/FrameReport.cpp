// kest-bench's frame accounting of a window phase: what the simulator sent, what the monitor read
// and purged, and whether every byte and request is accounted for.
#include "bench/FrameReport.h"

#include "bench/Figures.h"

namespace bench {

namespace {

void PrintCounts(const std::string& p, const sim::TSimCounters& sim, const TLineCounts& line,
                 const TStreamFrames& stream, const THandlerFrames& handler,
                 std::uint32_t leftQueued, bool aligned) {
  Count(p + "sim_requests", sim.RequestsSeen, "requests");
  Count(p + "sim_frames", sim.FramesSent, "frames");
  Count(p + "sim_corrupted", sim.FramesCorrupted, "frames");
  Count(p + "sim_junk_bytes", sim.JunkBytesSent, "bytes");
  Count(p + "sim_silent", sim.SilentRequestsIgnored, "requests");
  Count(p + "sim_other_bytes", sim.OtherBytesIgnored, "bytes");
  Count(p + "sim_dropped", sim.AnswersDropped, "answers");
  Count(p + "monitor_requests_tick", line.RequestsByTick, "requests");
  Count(p + "monitor_requests_handler", line.RequestsByHandler, "requests");
  Count(p + "monitor_poll_chunks", line.PollChunks, "chunks");
  Count(p + "monitor_bytes_read", stream.Bytes, "bytes");
  Count(p + "monitor_bytes_purged", stream.PurgedBytes, "bytes");
  Count(p + "monitor_bytes_left_queued", leftQueued, "bytes");
  Count(p + "stream_good_frames", stream.GoodFrames, "frames");
  Count(p + "stream_bad_frames", stream.BadFrames, "frames");
  Count(p + "stream_stray_bytes", stream.StrayBytes, "bytes");
  Count(p + "stream_frames_cut_by_purge", stream.CutByPurge, "frames");
  Count(p + "stream_frames_in_poll_chunks", stream.InPollChunks, "frames");
  Count(p + "stream_frames_read_by_handler", stream.InHandler, "frames");
  if (aligned) Count(p + "stream_bad_frames_read_by_handler", stream.BadInHandler, "frames");
  Count(p + "stream_frames_split", stream.Split, "frames");
  Count(p + "handler_calls", handler.Invocations, "calls");
  Count(p + "handler_accepted", handler.Accepted, "frames");
  Count(p + "handler_rejected", handler.Rejected, "frames");
  Count(p + "handler_no_frame", handler.NoFrame, "calls");
  Count(p + "handler_replay_disagreed", handler.Disagreed, "calls");
}

}  // namespace

void ReportFrames(const TPhase& phase, const std::optional<sim::TSimCounters>& simCounters,
                  const TBenchSerialApi& api, const TFrameAccounting& accounting,
                  std::uint32_t leftQueued, TPhaseResult& result) {
  const std::string p = phase.Name + ".";
  const TLineCounts& line = api.Counts();
  const TStreamFrames& stream = accounting.Stream();
  const THandlerFrames& handler = accounting.Handler();
  if (!simCounters) {
    Note("kestsim printed no summary: no frame accounting for " + phase.Name);
    result.FramesBalance = false;
    return;
  }
  const sim::TSimCounters& sim = *simCounters;
  PrintCounts(p, sim, line, stream, handler, leftQueued, phase.Aligned);

  const std::uint64_t requests = line.RequestsByTick + line.RequestsByHandler;
  bool balance = requests == sim.RequestsSeen && sim.OtherBytesIgnored == 0;
  if (phase.Conserves) {
    const std::uint64_t sent = 5 * sim.FramesSent + sim.JunkBytesSent;
    const std::uint64_t taken = stream.Bytes + stream.PurgedBytes + leftQueued;
    Count(p + "bytes_unaccounted", sent > taken ? sent - taken : 0, "bytes");
    Count(p + "bytes_invented", taken > sent ? taken - sent : 0, "bytes");
    balance = balance && sent == taken && sim.AnswersDropped == 0;
  }
  if (phase.Aligned && phase.Conserves) {
    const std::uint64_t found = stream.GoodFrames + stream.BadFrames + stream.CutByPurge;
    Count(p + "frames_lost", sim.FramesSent > found ? sim.FramesSent - found : 0, "frames");
    Count(p + "frames_invented", found > sim.FramesSent ? found - sim.FramesSent : 0, "frames");
    balance = balance && found == sim.FramesSent && stream.BadFrames == sim.FramesCorrupted &&
              stream.StrayBytes == 0;
  }
  // The handler accepts exactly the good frames it read whole, and rejects the bad ones it read
  // whole plus the false frames that began in the tail of a split answer.
  balance = balance && handler.Disagreed == 0;
  if (phase.Aligned) balance = balance && handler.Accepted == stream.GoodInHandler;
  if (!phase.Aligned && phase.Conserves) {
    // With junk on the line a sync byte in the junk can start a false frame whose check byte
    // happens to hold (one in 256); such a frame would hide the real one behind it. So this is
    // shown, not required.
    Count(p + "stream_good_frames_expected", sim.FramesSent - sim.FramesCorrupted, "frames");
  }
  result.FramesBalance = balance;
  Count(p + "frames_balance_ok", balance ? 1 : 0, "bool");
}

}  // namespace bench
