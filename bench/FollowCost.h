// What following costs: kestview following a growing engine log (20 records a second) and a log
// of ours (10 rows a second), each record flushed as the programs that write them do.
#pragma once

#include <QString>

namespace bench {

// Runs kestview (the program at `kestview`) twice beside a writer that appends to both logs for
// `seconds`: its window with Follow on and the table shown, whose share of one core is printed,
// and `--table --follow --json`, where the time from each record's append to the first line that
// counts it is printed. The window runs on the platform QT_QPA_PLATFORM names.
void FollowCostPhase(const QString& kestview, double seconds);

}  // namespace bench
