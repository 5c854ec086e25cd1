// What kestlog shows besides its rows, as pure functions: the status decision, the ISO time, the
// status line and the summary.
#include <gtest/gtest.h>

#include <QDateTime>

#include "headless/StatusText.h"

namespace {

using csvlog::TRowStatus;

TEST(RowStatus, OfflineBeforeWarmupBeforeLiveness) {
  struct TCase {
    headless::TLampState Lamps;  // PortOpen, Online, WarmingUp, Live, LowVolts
    TRowStatus Status;
  };
  const TCase cases[] = {
      {{false, true, false, true, false}, TRowStatus::Offline},  // port closed: stale
      {{true, false, false, true, false}, TRowStatus::Offline},  // silent controller
      {{true, false, true, false, false}, TRowStatus::Offline},  // silent while warming
      {{true, true, true, false, false}, TRowStatus::Warmup},
      {{true, true, true, false, true}, TRowStatus::Warmup},     // warm-up wins over volts
      {{true, true, false, false, false}, TRowStatus::Offline},  // answers, but no frame yet
      {{true, true, false, true, false}, TRowStatus::Live},
      {{true, true, false, true, true}, TRowStatus::LowVolts},
  };
  for (const TCase& c : cases) {
    const auto& l = c.Lamps;
    EXPECT_EQ(headless::RowStatusOf(c.Lamps), c.Status)
        << l.PortOpen << l.Online << l.WarmingUp << l.Live << l.LowVolts;
  }
}

TEST(IsoTimestamp, LocalTimeWithMillisecondsAndOffset) {
  struct TCase {
    QDateTime When;
    const char* Text;
  };
  const QDate day(2024, 5, 1);
  const TCase cases[] = {
      {QDateTime(day, QTime(14, 3, 27, 7), Qt::OffsetFromUTC, 7200),
       "2024-05-01T14:03:27.007+02:00"},
      {QDateTime(day, QTime(9, 0, 0, 999), Qt::OffsetFromUTC, -(5 * 3600 + 30 * 60)),
       "2024-05-01T09:00:00.999-05:30"},
      {QDateTime(day, QTime(23, 59, 59, 0), Qt::UTC), "2024-05-01T23:59:59.000+00:00"},
      {QDateTime(QDate(2024, 12, 31), QTime(0, 0, 0, 120), Qt::OffsetFromUTC, 13 * 3600 + 45 * 60),
       "2024-12-31T00:00:00.120+13:45"},
  };
  for (const TCase& c : cases) EXPECT_EQ(headless::IsoTimestamp(c.When), c.Text);
}

TEST(StatusLine, ShowsTheLampsAsWords) {
  headless::TStatusView view;
  view.ReadoutText = "14.7";
  view.VoltsText = "12.5 V";
  view.FramesPerSecond = 9.84;
  view.ChecksumFailures = 3;
  view.Timeouts = 7;
  struct TCase {
    const char* What;
    headless::TLampState Lamps;
    bool Lost;
    const char* Middle;
  };
  const TCase cases[] = {
      {"online", {true, true, false, true, false}, false, "  online  "},
      {"warming", {true, true, true, false, false}, false, "  online warmup  "},
      {"low volts", {true, true, false, true, true}, false, "  online lowvolts  "},
      {"silent", {true, false, false, false, false}, false, "  offline  "},
      {"lost device", {false, false, false, false, false}, true, "  device lost  "},
  };
  for (const TCase& c : cases) {
    view.Lamps = c.Lamps;
    view.PortLost = c.Lost;
    const std::string line = headless::StatusLine(view);
    EXPECT_EQ(line, std::string("AFR 14.7  12.5 V") + c.Middle +
                        "9.8 frames/s  3 bad checksums  7 time-outs")
        << c.What;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_LE(line.size(), 80u) << c.What;
  }
  view.DisplayMode = sensor::dmLambda;
  view.ReadoutText = "1.00";
  EXPECT_EQ(headless::StatusLine(view).rfind("LAMBDA 1.00  ", 0), 0u);
}

TEST(Summary, CountsWhatTheRunDid) {
  headless::TMonitorStats stats;
  stats.Rows = 1234;
  stats.FramesAccepted = 1240;
  stats.FramesRejected = 3;
  stats.ReadTimeouts = 12;
  stats.OfflineSpells = 2;
  const std::string text = headless::SummaryText(stats, "drive.csv", 125.04);
  EXPECT_EQ(text,
            "kestlog: stopped after 125.0 s\n"
            "  rows written:    1234 (drive.csv)\n"
            "  frames accepted: 1240\n"
            "  frames rejected: 3 (bad checksum)\n"
            "  read time-outs:  12\n"
            "  offline spells:  2\n");
  stats.PortLosses = 1;
  EXPECT_NE(headless::SummaryText(stats, "x", 1).find("  device lost:     1\n"), std::string::npos);
}

}  // namespace
