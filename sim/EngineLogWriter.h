// The engine side of a simulated drive written as the engine software would log it: an MLG binary
// log (version 2) or a delimited text log, at the engine software's own rate, with its clock a
// chosen number of seconds away from the machine's, so that lining it up with a mixture log of the
// same drive has work to do. Its channels, in this order: Time (s), RPM (rpm), MAP (kPa), TPS (%),
// CLT (C), AFR (AFR; the engine's own wideband, on request), then the fuel arithmetic that made the
// box's mixture: VE (%), AFR Target (AFR), Gego (%, the closed loop's correction, 100 = none),
// WUE (%) and AE (%) (warm-up and acceleration enrichment, 100 = none), Fuel Cut (a flag, 0 or 1,
// no unit) and PW (ms, the injectors' pulse width, 0 while the fuel is cut).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "sim/EngineModel.h"
#include "sim/SimConfig.h"

namespace sim {

enum class TEngineLogKind : std::uint8_t { Mlg, Csv };

// The kind a file name asks for by its ending (.mlg or .csv, letter case ignored), or nothing.
std::optional<TEngineLogKind> EngineLogKindOf(const std::string& path);

struct TEngineLogOptions {
  std::string Path;  // empty: no engine log
  double RateHz = 20;
  bool Afr = false;  // a mixture channel of the engine's own
  // The engine's clock against the machine's: its log says it started this much later.
  double ClockOffsetSeconds = 0;
};

// Writes the engine log of a drive record by record as the drive's time passes. Records are
// gathered in memory and written twice a second of the drive and at Close, so that a slow disk
// holds up nobody; a record is always written whole.
class TEngineLogRecorder {
 public:
  TEngineLogRecorder(TSimConfig config, TEngineLogOptions options);
  // Closes the file if still open (errors then go unreported: call Close to see them).
  ~TEngineLogRecorder();
  TEngineLogRecorder(const TEngineLogRecorder&) = delete;
  TEngineLogRecorder& operator=(const TEngineLogRecorder&) = delete;

  // Creates the file and writes its header. `unixAtZero`: the machine's wall-clock time (Unix
  // seconds with their fraction) when the drive's time was 0. The log starts at the first whole
  // second of the engine's clock (machine plus offset), so that the start it states is exact:
  // FirstRecordSeconds() into the drive. False, with LastError(), when the file cannot be made.
  bool Open(double unixAtZero);
  // Writes every record due by `driveSeconds` that is not written yet. False, with LastError(),
  // once a write failed; nothing is written after that.
  bool CatchUp(double driveSeconds);
  // The same on the machine's clocks, for a drive that runs in real time from `driveStart`.
  bool OpenAt(std::chrono::steady_clock::time_point driveStart);
  bool CatchUpTo(std::chrono::steady_clock::time_point now);
  // Writes what is gathered and closes the file. False, with LastError(), when anything failed.
  bool Close();

  const std::string& LastError() const { return Error; }
  // The drive's time of the first record and the Unix time the log gives for it.
  double FirstRecordSeconds() const { return FirstRecord; }
  std::int64_t StartUnixSeconds() const { return StartUnix; }
  std::uint64_t RecordsWritten() const { return Records; }

 private:
  void AppendHeader();
  void AppendRecord(double logSeconds, const TEngineState& state);
  bool Flush();
  void SetError(const std::string& what);

  TSimConfig Config;
  std::chrono::steady_clock::time_point DriveStart{};
  TEngineLogOptions Options;
  TEngineLogKind Kind = TEngineLogKind::Csv;
  std::FILE* File = nullptr;
  std::string Buffer;
  std::string Error;
  double FirstRecord = 0;
  std::int64_t StartUnix = 0;
  std::uint64_t Records = 0;
  double LastFlush = 0;  // the drive's time of the last write to the file
};

}  // namespace sim
