// Folders that logs are written into, watched for the newest of them: the engine software starts
// a new log in its folder now and then, kestlog one a run. kestview --follow-dir and File >
// Follow folder follow the newest of each kind and move on when a newer one appears.
#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <map>
#include <optional>

#include "log/LogSniffer.h"

namespace viewer {

class TLogFolders : public QObject {
  Q_OBJECT

 public:
  // How often the folders are listed besides what the system's watcher says (some file systems
  // never tell, and a file's time changes without a word about the folder).
  static constexpr int PollMs = 1000;

  explicit TLogFolders(QObject* parent = nullptr);

  // Watches `folders` (none: watches nothing).
  void SetFolders(const QStringList& folders);
  const QStringList& Folders() const { return Watched; }

  struct TNewest {
    QString Engine;  // absolute paths; empty where the folders hold none
    QString Ours;
  };
  // The newest engine log and the newest log of ours in the folders, by modification time (the
  // later name on a tie). A file counts once its first bytes say which log it is, so one whose
  // header is still being written is passed over until it is whole; other files never count.
  // Each file's first bytes are read once for each size and time it is seen with.
  TNewest Newest();

 signals:
  // A folder changed, or the time for a look came: Newest may have another answer.
  void Changed();

 private:
  std::optional<enginelog::TLogFormat> FormatOf(const QString& path, qint64 size,
                                                const QDateTime& modified);

  QStringList Watched;
  QFileSystemWatcher* Watcher = nullptr;
  QTimer* Poll = nullptr;
  struct TSeen {
    qint64 Size = -1;
    QDateTime Modified;
    std::optional<enginelog::TLogFormat> Format;
  };
  std::map<QString, TSeen> Seen;
};

}  // namespace viewer
