// A log on disk, whichever log it is, read once and then, while followed, only by what was
// appended to it since. Its first bytes choose the reader (log/Log.h MakeLogReader).
#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

#include "log/Log.h"

class QFile;

namespace viewer {

class TLogFile : public QObject {
  Q_OBJECT

 public:
  // How often a followed file is looked at when the system's file watcher says nothing (some file
  // systems never tell): a size and time check, no read, unless either changed.
  static constexpr int FallbackPollMs = 1000;
  // A logger that flushes every row makes the watcher tell of every row: what arrives within this
  // time after the first word is read at once, so a growing file is read, and its views redrawn,
  // a few times a second rather than at each row.
  static constexpr int GatherMs = 500;
  // How much of a followed file's start is kept to see that it was replaced by another.
  static constexpr qint64 HeadBytes = 4096;

  explicit TLogFile(QString path, QObject* parent = nullptr);

  // Reads the whole file. Unless following, the end of the file ends the log (a cut last line is
  // counted as skipped). False when the file could not be opened or is no log; Data().Error says
  // why, naming the file. The reader is chosen from the file's first bytes; a followed file whose
  // first bytes do not tell yet which log it is (an empty one, an MLG or text header still being
  // written) is waited for: its log stays empty, without an error, until they do.
  bool Load(bool follow);
  // Reads the file as a log of ours whatever its first bytes say (the command line's second
  // engine log, which it does not line up, is judged as ours would judge it). Before Load.
  void SetOursOnly() { OursOnly = true; }
  // Starts or stops following: with follow on, rows appended later are read as they come. Turning
  // it on after a load that ended the log reads the file again.
  void SetFollow(bool follow);
  bool Following() const { return Follow; }
  // Reads what was appended since the last read; the whole file again, from its first byte, when
  // it shrank or was replaced (its first bytes are no longer those read). A file that cannot be
  // opened for the moment (being replaced) is waited for. Returns whether the log changed: rows or
  // markers added, the reader chosen, or the file read again (Data() is then another object).
  bool ReadAppended();
  // ReadAppended, and Grew when the log changed: what the watcher and the timer do. Public so
  // that a caller who knows the file changed need not wait for them.
  void Refresh();

  const QString& Path() const { return FilePath; }
  // The log read so far. The same object until the file is read again from its start; a holder
  // of it fetches it anew after Grew.
  const enginelog::TLog& Data() const { return Reader->Log(); }
  // The file is an engine log of another program (MLG, MSL, DataLog export or delimited text), not
  // one of ours.
  bool IsEngineLog() const;
  // Whether its first bytes have chosen its reader (always, once loaded without following).
  bool Chosen() const { return ReaderChosen; }
  // Bytes read so far (the offset of the next read).
  qint64 BytesRead() const { return Offset; }

 signals:
  // Rows were added (or the file was read again from the start).
  void Grew();

 private:
  bool ReadFrom(QFile& file, qint64 offset);
  bool StartsWithHead(QFile& file) const;
  void Watch();
  void Restart();

  QString FilePath;
  std::unique_ptr<enginelog::TLogReader> Reader;
  bool OursOnly = false;
  bool ReaderChosen = false;  // Reader was chosen from the file's first bytes
  qint64 Offset = 0;
  std::string Head;  // the first HeadBytes read (fewer while the file is shorter)
  bool Follow = false;
  QFileSystemWatcher* Watcher = nullptr;
  QTimer* Fallback = nullptr;
  QTimer* Gather = nullptr;  // from the watcher's first word to the read
  qint64 LastSize = -1;
  QDateTime LastModified;
};

}  // namespace viewer
