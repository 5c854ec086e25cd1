// Reading a log from disk, and following one that is still being written.
#include "viewer/logs/LogFile.h"

#include <QFile>
#include <QFileInfo>
#include <tuple>
#include <vector>

#include "log/LogSniffer.h"
#include "log/OurLogReader.h"

namespace viewer {

namespace {

// Read in pieces: a day-long log never sits in memory as text beside its samples.
constexpr qint64 ChunkBytes = 1 << 20;

// What a read may have changed that a view shows.
auto Shape(const enginelog::TLog& log, bool chosen) {
  return std::make_tuple(chosen, log.Rows(), log.Ours.Lines, log.Channels.size(),
                         log.Markers.size());
}

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

void TLogFile::Restart() {
  // Until the first bytes choose, our reader stands in: it names the fault of a file that cannot
  // be opened, or of an empty one.
  Reader = std::make_unique<enginelog::TOurLogReader>(FilePath.toStdString());
  ReaderChosen = false;
  Offset = 0;
  Head.clear();
}

bool TLogFile::Load(bool follow) {
  Follow = follow;
  Restart();
  QFile file(FilePath);
  bool read = file.open(QIODevice::ReadOnly);
  if (read) {
    read = ReadFrom(file, 0);
  } else {
    Reader->Log().Error = FilePath.toStdString() + ": " + file.errorString().toStdString();
  }
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
  delete Gather;
  Gather = nullptr;
}

void TLogFile::Watch() {
  if (Watcher == nullptr) {
    Watcher = new QFileSystemWatcher(this);
    Gather = new QTimer(this);
    Gather->setSingleShot(true);
    Gather->setInterval(GatherMs);
    connect(Gather, &QTimer::timeout, this, &TLogFile::Refresh);
    connect(Watcher, &QFileSystemWatcher::fileChanged, this, [this] {
      // A file that was replaced is dropped from the watch list; watch the new one.
      if (!Watcher->files().contains(FilePath)) Watcher->addPath(FilePath);
      if (!Gather->isActive()) Gather->start();
    });
  }
  if (!Watcher->files().contains(FilePath)) Watcher->addPath(FilePath);
  if (Fallback == nullptr) {
    Fallback = new QTimer(this);
    Fallback->setInterval(FallbackPollMs);
    connect(Fallback, &QTimer::timeout, this, [this] {
      // Only a look at the directory entry while nothing changes; the watcher may not have been
      // able to watch. The time catches a file replaced by one of the same size.
      const QFileInfo info(FilePath);
      if (info.size() == LastSize && info.lastModified() == LastModified) return;
      if (Watcher != nullptr && !Watcher->files().contains(FilePath)) Watcher->addPath(FilePath);
      Refresh();
    });
    Fallback->start();
  }
}

void TLogFile::Refresh() {
  if (ReadAppended()) emit Grew();
}

bool TLogFile::StartsWithHead(QFile& file) const {
  if (Head.empty()) return true;
  if (!file.seek(0)) return false;
  const QByteArray now = file.read(static_cast<qint64>(Head.size()));
  return std::string_view(now.constData(), static_cast<std::size_t>(now.size())) == Head;
}

bool TLogFile::ReadAppended() {
  QFile file(FilePath);
  // Gone or locked for the moment, as while another program replaces it: what was read stays,
  // and the file is looked at again when it changes.
  if (!file.open(QIODevice::ReadOnly)) return false;
  if (file.size() < Offset || !StartsWithHead(file)) {
    // Cut short or replaced: what was read no longer describes the file.
    Restart();
    ReadFrom(file, 0);
    return true;
  }
  const auto before = Shape(Data(), ReaderChosen);
  ReadFrom(file, Offset);
  return Shape(Data(), ReaderChosen) != before;
}

bool TLogFile::ReadFrom(QFile& file, qint64 offset) {
  if (!file.seek(offset)) return false;
  const qint64 size = file.size();
  LastModified = QFileInfo(FilePath).lastModified();
  std::vector<char> buffer(
      static_cast<std::size_t>(std::min(ChunkBytes, std::max<qint64>(size, 1))));
  while (true) {
    const qint64 got = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
    if (got < 0) {
      Reader->Log().Error = FilePath.toStdString() + ": " + file.errorString().toStdString();
      return false;
    }
    if (got == 0) break;
    const std::string_view piece(buffer.data(), static_cast<std::size_t>(got));
    if (!ReaderChosen && OursOnly) {
      ReaderChosen = true;  // the reader standing in is the one
    } else if (!ReaderChosen) {
      // The file's first bytes choose its reader, once: the piece holds them (nothing was fed
      // before the choice, and a piece is larger than what the choice looks at).
      if (Follow) {
        // A file being written may not say yet what it is: its header may be half written.
        // Nothing is fed until it does, and no size is hinted, as the file will grow past it.
        const std::optional<enginelog::TLogFormat> format = enginelog::SniffGrowingLog(piece);
        if (!format) {
          LastSize = size;
          return true;
        }
        Reader = enginelog::MakeLogReaderFor(*format, FilePath.toStdString(), 0);
      } else {
        // It is the whole file when it ends short of what the choice looks at.
        const bool whole = got < static_cast<qint64>(enginelog::SniffBytes) && file.atEnd();
        Reader = enginelog::MakeLogReader(piece.substr(0, enginelog::SniffBytes), whole,
                                          FilePath.toStdString(), static_cast<std::uint64_t>(size));
      }
      ReaderChosen = true;
    }
    if (Offset < HeadBytes && static_cast<qint64>(Head.size()) == Offset) {
      Head.append(piece.substr(0, static_cast<std::size_t>(HeadBytes - Offset)));
    }
    Reader->Feed(piece);
    Offset += got;
  }
  LastSize = Offset;
  return true;
}

}  // namespace viewer
