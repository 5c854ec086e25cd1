// kestview's MSL export: the rows of a log read back, through log/'s MSL writer, into a file.
#include "viewer/chart/MslExport.h"

#include <QSaveFile>
#include <cmath>

#include "log/MslLog.h"

namespace viewer {

namespace {

csvlog::TRowStatus RowStatusOf(TSampleStatus status) {
  switch (status) {
    case TSampleStatus::Live:
      return csvlog::TRowStatus::Live;
    case TSampleStatus::Warmup:
      return csvlog::TRowStatus::Warmup;
    case TSampleStatus::LowVolts:
      return csvlog::TRowStatus::LowVolts;
    case TSampleStatus::None:
    case TSampleStatus::Offline:
      break;
  }
  return csvlog::TRowStatus::Offline;
}

// Written in pieces of about this size, so that a day-long log never sits in memory as text.
constexpr std::size_t ChunkBytes = 1 << 16;

}  // namespace

bool IsMslPath(const QString& path) {
  return path.endsWith(QStringLiteral(".msl"), Qt::CaseInsensitive);
}

bool ExportMsl(const TLog& log, const TDisplay& display, const QString& path,
               const std::string& program, QString* error) {
  const auto fail = [&](const QString& why) {
    if (error != nullptr) *error = path + QStringLiteral(": ") + why;
    return false;
  };
  if (log.Times.empty()) return fail(QStringLiteral("the log has no rows to write"));

  const TSample first = SampleAt(log, 0);
  csvlog::TMslCaptureDate date;
  date.Year = log.Ours.Date.Year;
  date.Month = log.Ours.Date.Month;
  date.Day = log.Ours.Date.Day;
  date.DayMs = std::llround(first.Time * 1000.0);
  // Only some logs' times carry their offset from UTC; the classic log's are local.
  if (HasUtcOffset(log)) date.OffsetSeconds = log.Ours.UtcOffsetSeconds;
  const csvlog::TMslColumns columns =
      HasStatusColumn(log) ? csvlog::TMslColumns::Extended : csvlog::TMslColumns::Classic;
  const csvlog::TReadingKind kind = display.DisplayMode == sensor::dmAirFuelRatio
                                        ? csvlog::TReadingKind::Afr
                                        : csvlog::TReadingKind::Lambda;

  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  std::string text;
  text.reserve(ChunkBytes + 256);
  bool written = true;
  const auto flush = [&] {
    written = written && file.write(text.data(), static_cast<qint64>(text.size())) ==
                             static_cast<qint64>(text.size());
    text.clear();
  };
  for (const std::string& line : csvlog::MslHeaderLines(program, date, columns, kind)) {
    text += line;
    text += "\r\n";
  }
  std::string row;
  for (const TSample& sample : Samples(log)) {
    csvlog::TMslValues values;
    values.Reading = DisplayValue(sample, display);
    values.Volts = sample.Volts;
    values.Lambda = LambdaOf(sample, display.FuelType);
    values.Temp = sample.Temp;
    values.Status = RowStatusOf(sample.Status);
    text += csvlog::MslRow(row, sample.Time - first.Time, values, columns, kind);
    text += "\r\n";
    if (text.size() >= ChunkBytes) flush();
  }
  flush();
  if (!written) {
    file.cancelWriting();
    return fail(file.errorString());
  }
  if (!file.commit()) return fail(file.errorString());
  return true;
}

}  // namespace viewer
