// Reading a log from disk, and following one that is still being written.
#include "viewer/LogFile.h"

#include <QFile>
#include <QFileInfo>
#include <vector>

namespace viewer {

namespace {

// Read in pieces: a day-long log never sits in memory as text beside its samples.
constexpr qint64 ChunkBytes = 1 << 20;

}  // namespace

TLogFile::TLogFile(QString path, QObject* parent)
    : QObject(parent),
      FilePath(std::move(path)),
      Parser(std::make_unique<TLogParser>(FilePath.toStdString())) {}

bool TLogFile::Load(bool follow) {
  Follow = follow;
  Parser = std::make_unique<TLogParser>(FilePath.toStdString());
  Offset = 0;
  const bool read = ReadFrom(0);
  if (read && !Follow) Parser->Finish();
  if (Follow) Watch();
  return read && Data().Error.empty();
}

void TLogFile::SetFollow(bool follow) {
  if (follow == Follow) return;
  if (follow) {
    Load(true);
    emit Grew();
    return;
  }
  Follow = false;
  delete Watcher;
  Watcher = nullptr;
  delete Fallback;
  Fallback = nullptr;
}

void TLogFile::Watch() {
  if (Watcher == nullptr) {
    Watcher = new QFileSystemWatcher(this);
    connect(Watcher, &QFileSystemWatcher::fileChanged, this, [this] {
      // A file that was replaced is dropped from the watch list; watch the new one.
      if (!Watcher->files().contains(FilePath)) Watcher->addPath(FilePath);
      if (ReadAppended()) emit Grew();
    });
  }
  if (!Watcher->files().contains(FilePath)) Watcher->addPath(FilePath);
  if (Fallback == nullptr) {
    Fallback = new QTimer(this);
    Fallback->setInterval(FallbackPollMs);
    connect(Fallback, &QTimer::timeout, this, [this] {
      // Only a stat while nothing changes; the watcher may not have been able to watch.
      const qint64 size = QFileInfo(FilePath).size();
      if (size == LastSize) return;
      if (Watcher != nullptr && !Watcher->files().contains(FilePath)) Watcher->addPath(FilePath);
      if (ReadAppended()) emit Grew();
    });
    Fallback->start();
  }
}

bool TLogFile::ReadAppended() {
  const std::size_t before = Data().Samples.size();
  const std::uint64_t linesBefore = Data().Lines;
  QFileInfo info(FilePath);
  if (info.exists() && info.size() < Offset) {
    // Cut short or replaced: what was read no longer describes the file.
    Parser = std::make_unique<TLogParser>(FilePath.toStdString());
    Offset = 0;
    ReadFrom(0);
    return true;
  }
  ReadFrom(Offset);
  return Data().Samples.size() != before || Data().Lines != linesBefore;
}

bool TLogFile::ReadFrom(qint64 offset) {
  QFile file(FilePath);
  if (!file.open(QIODevice::ReadOnly)) {
    Parser->Data().Error = FilePath.toStdString() + ": " + file.errorString().toStdString();
    return false;
  }
  if (offset > 0 && !file.seek(offset)) return false;
  std::vector<char> buffer(
      static_cast<std::size_t>(std::min(ChunkBytes, std::max<qint64>(file.size(), 1))));
  while (true) {
    const qint64 got = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
    if (got < 0) {
      Parser->Data().Error = FilePath.toStdString() + ": " + file.errorString().toStdString();
      return false;
    }
    if (got == 0) break;
    Parser->Feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    Offset += got;
  }
  LastSize = Offset;
  return true;
}

}  // namespace viewer
