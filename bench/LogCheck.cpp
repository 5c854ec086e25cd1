// Reading the benchmark's logs back.
#include "bench/LogCheck.h"

#include <QFile>
#include <QList>
#include <string_view>

#include "log/RowGrammar.h"

namespace bench {

namespace {

// `line` without the CR of its CR LF; false when it has none.
bool WithoutCarriageReturn(const QByteArray& line, std::string_view& text) {
  if (!line.endsWith('\r')) return false;
  text = std::string_view(line.constData(), static_cast<std::size_t>(line.size() - 1));
  return true;
}

// A row as the window writes it in the benchmark's locale.
bool IsBenchRow(const QByteArray& line) {
  std::string_view text;
  if (!WithoutCarriageReturn(line, text)) return false;
  std::string separator = ".";
  csvlog::TClassicFields row;
  return csvlog::ReadClassicRow(text, separator, row) && !row.TwelveHour &&
         row.Kind == csvlog::TReadingKind::Afr;
}

}  // namespace

TLogCheck CheckLog(const QString& path) {
  TLogCheck check;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return check;
  QList<QByteArray> lines = file.readAll().split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  std::string_view first, second;
  std::string date;
  check.HeaderOk = lines.size() >= 2 && WithoutCarriageReturn(lines[0], first) &&
                   WithoutCarriageReturn(lines[1], second) &&
                   csvlog::IsClassicHeader(first, &date) && !date.empty() &&
                   csvlog::IsClassicColumns(second);
  for (qsizetype i = 2; i < lines.size(); ++i) {
    ++check.Rows;
    if (!IsBenchRow(lines[i])) {
      if (check.BadRows == 0) check.FirstBadRow = lines[i].toStdString();
      ++check.BadRows;
    }
  }
  return check;
}

std::uint64_t LinesIn(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  return static_cast<std::uint64_t>(file.readAll().count('\n'));
}

}  // namespace bench
