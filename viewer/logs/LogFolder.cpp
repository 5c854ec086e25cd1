// The newest log of each kind in watched folders.
#include "viewer/logs/LogFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace viewer {

TLogFolders::TLogFolders(QObject* parent) : QObject(parent) {}

void TLogFolders::SetFolders(const QStringList& folders) {
  Watched = folders;
  Seen.clear();
  delete Watcher;
  Watcher = nullptr;
  delete Poll;
  Poll = nullptr;
  if (folders.isEmpty()) return;
  Watcher = new QFileSystemWatcher(this);
  for (const QString& folder : folders) Watcher->addPath(folder);
  connect(Watcher, &QFileSystemWatcher::directoryChanged, this, &TLogFolders::Changed);
  Poll = new QTimer(this);
  Poll->setInterval(PollMs);
  connect(Poll, &QTimer::timeout, this, &TLogFolders::Changed);
  Poll->start();
}

std::optional<enginelog::TLogFormat> TLogFolders::FormatOf(const QString& path, qint64 size,
                                                           const QDateTime& modified) {
  TSeen& seen = Seen[path];
  if (seen.Size == size && seen.Modified == modified) return seen.Format;
  seen.Size = size;
  seen.Modified = modified;
  seen.Format.reset();
  QFile file(path);
  // One that cannot be read now is looked at again when it changes.
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray head = file.read(static_cast<qint64>(enginelog::SniffBytes));
  seen.Format = enginelog::SniffGrowingLog(
      std::string_view(head.constData(), static_cast<std::size_t>(head.size())));
  return seen.Format;
}

TLogFolders::TNewest TLogFolders::Newest() {
  QFileInfoList files;
  for (const QString& folder : Watched) {
    files += QDir(folder).entryInfoList(QDir::Files | QDir::Readable);
  }
  std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
    const QDateTime at = a.lastModified();
    const QDateTime bt = b.lastModified();
    return at != bt ? at > bt : a.fileName() > b.fileName();
  });
  TNewest newest;
  // From the newest down: the older files are never read once both kinds are found.
  for (const QFileInfo& info : files) {
    if (!newest.Engine.isEmpty() && !newest.Ours.isEmpty()) break;
    const QString path = info.absoluteFilePath();
    const std::optional<enginelog::TLogFormat> format =
        FormatOf(path, info.size(), info.lastModified());
    if (!format || *format == enginelog::TLogFormat::None) continue;
    QString& slot = *format == enginelog::TLogFormat::Ours ? newest.Ours : newest.Engine;
    if (slot.isEmpty()) slot = path;
  }
  return newest;
}

}  // namespace viewer
