// A log on disk, read once and then, while followed, only by what was appended to it since.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "viewer/LogParser.h"

namespace viewer {

class TLogFile : public QObject {
  Q_OBJECT

 public:
  // How often a followed file is looked at when the system's file watcher says nothing (some file
  // systems never tell): a size check, no read, unless the size changed.
  static constexpr int FallbackPollMs = 1000;

  explicit TLogFile(QString path, QObject* parent = nullptr);

  // Reads the whole file. Unless following, the end of the file ends the log (a cut last line is
  // counted as skipped). False when the file could not be opened or is no log; Data().Error says
  // why, naming the file.
  bool Load(bool follow);
  // Starts or stops following: with follow on, rows appended later are read as they come. Turning
  // it on after a load that ended the log reads the file again.
  void SetFollow(bool follow);
  bool Following() const { return Follow; }
  // Reads what was appended since the last read (the whole file again when it shrank or was
  // replaced). Returns whether rows were added. Called by the watcher and the timer; public so
  // that a caller who knows the file changed need not wait.
  bool ReadAppended();

  const QString& Path() const { return FilePath; }
  const TLogData& Data() const { return Parser->Data(); }
  // Bytes read so far (the offset of the next read).
  qint64 BytesRead() const { return Offset; }

 signals:
  // Rows were added (or the file was read again from the start).
  void Grew();

 private:
  bool ReadFrom(qint64 offset);
  void Watch();

  QString FilePath;
  std::unique_ptr<TLogParser> Parser;
  qint64 Offset = 0;
  bool Follow = false;
  QFileSystemWatcher* Watcher = nullptr;
  QTimer* Fallback = nullptr;
  qint64 LastSize = -1;
};

}  // namespace viewer
