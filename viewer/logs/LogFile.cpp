// Reading a log from disk, and following one that is still being written.
#include "viewer/logs/LogFile.h"

#include <QFile>
#include <QFileInfo>
#include <vector>

#include "log/LogSniffer.h"
#include "log/OurLogReader.h"

namespace viewer {

namespace {

// Read in pieces: a day-long log never sits in memory as text beside its samples.
constexpr qint64 ChunkBytes = 1 << 20;

}  // namespace

TLogFile::TLogFile(QString path, QObject* parent)
    : QObject(parent),
      FilePath(std::move(path)),
      Reader(std::make_unique<enginelog::TOurLogReader>(FilePath.toStdString())) {}

bool TLogFile::IsEngineLog() const {
  const enginelog::TFileFormat format = Data().Format;
  return format == enginelog::TFileFormat::Mlg || format == enginelog::TFileFormat::Msl ||
         format == enginelog::TFileFormat::Text || format == enginelog::TFileFormat::DataLog;
}

enginelog::TLog TLogFile::TakeLog() {
  SetFollow(false);
  Reader->Finish();
  enginelog::TLog log = std::move(Reader->Log());
  Restart();
  return log;
}

void TLogFile::Restart() {
  // Until the first bytes choose, our reader stands in: it names the fault of a file that cannot
  // be opened, or of an empty one.
  Reader = std::make_unique<enginelog::TOurLogReader>(FilePath.toStdString());
  Chosen = false;
  Offset = 0;
}

bool TLogFile::Load(bool follow) {
  Follow = follow;
  Restart();
  const bool read = ReadFrom(0);
  if (read && !Follow) Reader->Finish();
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
  const std::size_t before = Data().Rows();
  const std::uint64_t linesBefore = Data().Ours.Lines;
  QFileInfo info(FilePath);
  if (info.exists() && info.size() < Offset) {
    // Cut short or replaced: what was read no longer describes the file.
    Restart();
    ReadFrom(0);
    return true;
  }
  ReadFrom(Offset);
  return Data().Rows() != before || Data().Ours.Lines != linesBefore;
}

bool TLogFile::ReadFrom(qint64 offset) {
  QFile file(FilePath);
  if (!file.open(QIODevice::ReadOnly)) {
    Reader->Log().Error = FilePath.toStdString() + ": " + file.errorString().toStdString();
    return false;
  }
  if (offset > 0 && !file.seek(offset)) return false;
  std::vector<char> buffer(
      static_cast<std::size_t>(std::min(ChunkBytes, std::max<qint64>(file.size(), 1))));
  while (true) {
    const qint64 got = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
    if (got < 0) {
      Reader->Log().Error = FilePath.toStdString() + ": " + file.errorString().toStdString();
      return false;
    }
    if (got == 0) break;
    const std::string_view piece(buffer.data(), static_cast<std::size_t>(got));
    if (!Chosen && !OursOnly) {
      // The file's first bytes choose its reader, once: the piece holds them (a piece is larger
      // than what the choice looks at), and it is the whole file when it ends short of that.
      const bool whole = got < static_cast<qint64>(enginelog::SniffBytes) && file.atEnd();
      Reader =
          enginelog::MakeLogReader(piece.substr(0, enginelog::SniffBytes), whole,
                                   FilePath.toStdString(), static_cast<std::uint64_t>(file.size()));
      Chosen = true;
    }
    Reader->Feed(piece);
    Offset += got;
  }
  LastSize = Offset;
  return true;
}

}  // namespace viewer
