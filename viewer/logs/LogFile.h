// A log on disk, whichever log it is, read once and then, while followed, only by what was
// appended to it since. Its first bytes choose the reader (log/Log.h MakeLogReader).
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "log/Log.h"

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
  // why, naming the file. The reader is chosen from the file's first bytes (an empty file's
  // when more comes).
  bool Load(bool follow);
  // Reads the file as a log of ours whatever its first bytes say (the command line's second
  // engine log, which it does not line up, is judged as ours would judge it). Before Load.
  void SetOursOnly() { OursOnly = true; }
  // Starts or stops following: with follow on, rows appended later are read as they come. Turning
  // it on after a load that ended the log reads the file again.
  void SetFollow(bool follow);
  bool Following() const { return Follow; }
  // Reads what was appended since the last read (the whole file again when it shrank or was
  // replaced). Returns whether rows were added. Called by the watcher and the timer; public so
  // that a caller who knows the file changed need not wait.
  bool ReadAppended();

  const QString& Path() const { return FilePath; }
  const enginelog::TLog& Data() const { return Reader->Log(); }
  // The log read, taken out of this file, which then holds an empty log and follows no more: the
  // end of the file read so far ends the log. For an engine log, which is read once and kept.
  enginelog::TLog TakeLog();
  // The file is an engine log of another program (MLG, MSL, DataLog export or delimited text), not
  // one of ours.
  bool IsEngineLog() const;
  // Bytes read so far (the offset of the next read).
  qint64 BytesRead() const { return Offset; }

 signals:
  // Rows were added (or the file was read again from the start).
  void Grew();

 private:
  bool ReadFrom(qint64 offset);
  void Watch();

  QString FilePath;
  void Restart();

  std::unique_ptr<enginelog::TLogReader> Reader;
  bool OursOnly = false;
  bool Chosen = false;  // Reader was chosen from the file's first bytes
  qint64 Offset = 0;
  bool Follow = false;
  QFileSystemWatcher* Watcher = nullptr;
  QTimer* Fallback = nullptr;
  qint64 LastSize = -1;
};

}  // namespace viewer
