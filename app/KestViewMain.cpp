// kestview: looks back at logged runs, in a window or, for scripts, as an image or a summary.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/CommandLine.h"
#include "platform/Terminal.h"
#include "platform/UserSettings.h"
#include "viewer/chart/Export.h"
#include "viewer/chart/MslExport.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/session/TableCommand.h"
#include "viewer/session/ViewOptions.h"
#include "viewer/session/ViewSession.h"
#include "viewer/window/ViewerWindow.h"

namespace {

constexpr int ExitUnreadable = 1;

// The names engine channels are known by, with the user's from channels.conf in the settings
// folder; a line of it that cannot be used, and a file that cannot be read, are said on standard
// error and left out.
enginelog::TChannelNames ChannelNames() {
  enginelog::TChannelNames names;
  const std::string path = enginelog::ChannelNamesFileIn(platform::UserConfigFolder());
  if (path.empty()) return names;
  std::ifstream file(path, std::ios::binary);
  if (!file) return names;  // no file: the built-in names alone
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    std::fprintf(stderr, "kestview: %s cannot be read; using the built-in channel names\n",
                 path.c_str());
    return names;
  }
  std::vector<std::string> warnings;
  names.AddUserText(text.str(), warnings);
  for (const std::string& warning : warnings) {
    std::fprintf(stderr, "kestview: %s: %s\n", path.c_str(), warning.c_str());
  }
  return names;
}

// The command line's files opened through `session`, its faults said on standard error; false
// when a file could not be read.
bool ReadFiles(const viewer::TViewOptions& options, viewer::TViewSession& session) {
  bool allRead = true;
  for (const auto& report : session.OpenFiles(options.Files)) {
    for (const std::string& warning : report.Warnings) {
      std::fprintf(stderr, "kestview: %s\n", warning.c_str());
    }
    if (!report.Error.empty()) {
      std::fprintf(stderr, "kestview: %s\n", report.Error.c_str());
      allRead = false;
    }
  }
  for (const auto& file : session.Logs()) {
    const std::string skipped = viewer::SkippedRowsText(file->Data());
    if (!skipped.empty()) std::fprintf(stderr, "kestview: %s\n", skipped.c_str());
  }
  return allRead;
}

// What the command line asks of the view, in the session; the window shows it as it is.
void ApplyOptions(const viewer::TViewOptions& options, viewer::TViewSession& session,
                  bool handOffset) {
  session.SetBands(options.Bands);
  if (options.DisplayMode || options.FuelType) {
    viewer::TDisplay display = session.Display();
    if (options.DisplayMode) display.DisplayMode = *options.DisplayMode;
    if (options.FuelType) display.FuelType = *options.FuelType;
    session.SetDisplay(display);
  }
  if (handOffset && options.Offset) session.SetHandOffset(options.Offset);
}

void PrintSummaries(const viewer::TViewOptions& options, const viewer::TViewSession& session) {
  const viewer::TDisplay& display = session.Display();
  const viewer::TBands& bands = session.Bands();
  std::string out = options.Json ? "[" : "";
  bool first = true;
  using TKind = viewer::TViewSession::TGivenFile::TKind;
  for (const viewer::TViewSession::TGivenFile& given : session.Given()) {
    std::string entry;
    if (given.Kind == TKind::Engine) {
      const std::string name = QFileInfo(given.Path).fileName().toStdString();
      const viewer::TEngineMixture mixture{session.EngineMixture(), display, bands};
      entry =
          session.EngineLog() == nullptr ? std::string()
          : options.Json
              ? viewer::EngineSummaryJson(name, *session.EngineLog(), session.LinedUp(), mixture)
              : viewer::EngineSummaryText(name, *session.EngineLog(), session.LinedUp(), mixture);
    } else if (given.Kind == TKind::Unreadable) {
      if (options.Json) entry = viewer::ErrorJson(session.UnreadableLogs()[given.Index]->Data());
    } else {
      const viewer::TLog& log = session.Logs()[given.Index]->Data();
      const viewer::TSummary summary = viewer::Summarize(log, -1e18, 1e18, display, bands);
      entry = options.Json ? viewer::SummaryJson(log, summary, display, bands)
                           : viewer::SummaryText(log, summary, display, bands);
    }
    if (entry.empty()) continue;
    if (!first) out += options.Json ? "," : "\n";
    out += entry;
    first = false;
  }
  if (options.Json) out += "]\n";
  std::fputs(out.c_str(), stdout);
}

int ExportFiles(const viewer::TViewOptions& options, viewer::TViewSession& session) {
  if (session.Logs().empty() && session.EngineLog() == nullptr) {
    std::fprintf(stderr, "kestview: nothing to draw, no file could be read\n");
    return ExitUnreadable;
  }
  if (viewer::IsMslPath(options.ExportPath)) {
    // One log of ours in a file the engine tuning suites' viewers open; the first file read.
    if (session.Logs().empty()) {
      std::fprintf(stderr, "kestview: an MSL export needs a log of kestlsugraph or kestlog\n");
      return ExitUnreadable;
    }
    const viewer::TLogFile& first = *session.Logs().front();
    if (session.Logs().size() > 1) {
      std::fprintf(stderr, "kestview: an MSL export holds one log; writing %s only\n",
                   QFileInfo(first.Path()).fileName().toLocal8Bit().constData());
    }
    QString error;
    if (!viewer::ExportMsl(first.Data(), session.Display(), options.ExportPath,
                           std::string("kestview ") + KEST_VERSION, &error)) {
      std::fprintf(stderr, "kestview: %s\n", error.toLocal8Bit().constData());
      return ExitUnreadable;
    }
    return 0;
  }
  if (session.EngineLog() != nullptr && !options.Channels.empty()) {
    for (const std::string& name : session.SetShownChannelNames(options.Channels)) {
      std::fprintf(stderr, "kestview: %s has no channel %s\n",
                   session.EnginePath().toLocal8Bit().constData(), name.c_str());
    }
  }
  const viewer::TSessionScene scene = viewer::MakeSessionScene(session);
  QString error;
  if (!viewer::ExportChart(scene.Chart, options.ExportPath, options.Size, &error,
                           session.EngineLog() != nullptr ? &scene.Panes : nullptr)) {
    std::fprintf(stderr, "kestview: %s\n", error.toLocal8Bit().constData());
    return ExitUnreadable;
  }
  return 0;
}

// The mixture table (or the corrected fuel table) on standard output or in its file. No table when
// a file could not be read
// (the readers said why): one made of the rest would pass for the whole.
int PrintTable(const viewer::TViewOptions& options, viewer::TViewSession& session, bool allRead) {
  if (!allRead) return ExitUnreadable;
  const viewer::TTableOutcome outcome = options.Correct.Wanted
                                            ? viewer::RunCorrect(options, session)
                                            : viewer::RunTable(options, session);
  for (const std::string& warning : outcome.Warnings) {
    std::fprintf(stderr, "kestview: %s\n", warning.c_str());
  }
  if (outcome.Status != viewer::TTableStatus::Done) {
    std::fprintf(stderr, "kestview: %s\n", outcome.Message.c_str());
    return outcome.Status == viewer::TTableStatus::BadRequest ? platform::ExitBadCommandLine
                                                              : ExitUnreadable;
  }
  std::fputs(outcome.Output.c_str(), stdout);
  return 0;
}

// One line of the followed table on standard output, whole: built before, written at once and
// flushed, so that a reader of the pipe never waits for the rest of a line.
bool WriteLine(const std::string& line) {
  return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
         std::fflush(stdout) == 0;
}

// The table (or the corrected fuel table) on standard output, a JSON line again whenever the files
// grew, until an interrupt, a terminate signal or --seconds stops it. Starts as PrintTable would:
// what it would refuse or fail, this does too. Started as logging begins, the engine log may not
// have shown what it is yet (a text log's layout is known from its first lines): the table waits
// for it rather than refusing a log that is still being written.
int FollowTable(const viewer::TViewOptions& options, viewer::TViewSession& session, bool allRead) {
  if (!allRead) return ExitUnreadable;
  // A reader that went away ends the lines with an error rather than the process on the spot.
  platform::IgnoreBrokenPipe();
  viewer::TTableFollower follower(options, session, WriteLine, [](const std::string& message) {
    std::fprintf(stderr, "kestview: %s\n", message.c_str());
  });
  bool started = false;
  // The first table: 0 when it was written, else the exit status of its refusal or failure.
  const auto start = [&] {
    started = true;
    const viewer::TTableOutcome first = follower.Start();
    for (const std::string& warning : first.Warnings) {
      std::fprintf(stderr, "kestview: %s\n", warning.c_str());
    }
    if (first.Status == viewer::TTableStatus::Done) return 0;
    std::fprintf(stderr, "kestview: %s\n", first.Message.c_str());
    return first.Status == viewer::TTableStatus::BadRequest ? platform::ExitBadCommandLine
                                                            : ExitUnreadable;
  };
  if (session.EngineLog() != nullptr) {
    if (const int exit = start(); exit != 0) return exit;
  } else {
    std::fprintf(stderr, "kestview: waiting for the engine log's first records\n");
    QObject::connect(&session, &viewer::TViewSession::Changed, &follower, [&] {
      if (started || session.EngineLog() == nullptr) return;
      if (const int exit = start(); exit != 0) QCoreApplication::exit(exit);
    });
  }
  const std::unique_ptr<platform::TStopSignalWatch> stopWatch =
      platform::WatchStopSignals([](int) { QCoreApplication::quit(); });
  QObject::connect(&follower, &viewer::TTableFollower::WriteFailed, &follower,
                   [] { QCoreApplication::exit(ExitUnreadable); });
  if (options.Seconds) {
    QTimer::singleShot(std::chrono::milliseconds(std::llround(*options.Seconds * 1000)), &follower,
                       [] { QCoreApplication::quit(); });
  }
  return QCoreApplication::exec();
}

// Drawing and summing up without a window: reads every file through a session, prints what it
// must, and says by its result whether every file could be read.
int RunHeadless(const viewer::TViewOptions& options) {
  // A second engine log is read as a log of ours, which says it is none.
  viewer::TViewSession session(viewer::TViewSession::TSecondEngineLog::KeepFirst);
  session.SetChannelNames(ChannelNames());
  session.SetAlign(options.Align);
  const bool following = options.Follow && (options.Table.Wanted || options.Correct.Wanted);
  // Followed logs are read as growing ones: a last line not yet ended waits for its end.
  session.SetFollow(following);
  const bool allRead = ReadFiles(options, session);
  // An engine log alone is summed up, tabled and drawn from its own start: an offset places it
  // against a log of ours.
  const bool beside = session.EngineLog() != nullptr && !session.Logs().empty();
  if (options.Table.Wanted || options.Correct.Wanted) {
    if (beside && options.Offset) session.SetHandOffset(options.Offset);
    return following ? FollowTable(options, session, allRead)
                     : PrintTable(options, session, allRead);
  }
  ApplyOptions(options, session, beside);
  // Without --relative an engine log is drawn on the time since its start unless there is one
  // log of ours to share the time of day with.
  session.SetRelative(session.EngineLog() == nullptr || options.RelativeGiven
                          ? options.Relative
                          : session.Logs().size() != 1);
  if (options.Summary) PrintSummaries(options, session);
  if (!options.ExportPath.isEmpty()) {
    const int exit = ExportFiles(options, session);
    if (exit != 0) return exit;
  }
  return allRead ? 0 : ExitUnreadable;
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseParentConsole();
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  std::string error;
  const std::optional<viewer::TViewOptions> options = viewer::ParseViewOptions(arguments, error);
  const platform::TProgramTexts texts{"kestview", std::string("\n") + viewer::ViewUsage(),
                                      viewer::ViewUsage(),
                                      std::string("kestview ") + KEST_VERSION + "\n"};
  if (const std::optional<int> exit = platform::AnswerCommandLine(options, error, texts))
    return *exit;
  if (options->Summary || !options->ExportPath.isEmpty() || options->Table.Wanted ||
      options->Correct.Wanted) {
    // Scripts run where there is no screen: draw off screen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RunHeadless(*options);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestview"));
  QApplication::setDesktopFileName(QStringLiteral("kestview"));
  viewer::TViewSession session;
  session.SetChannelNames(ChannelNames());
  session.SetFollow(options->Follow);
  if (options->Relative && options->Files.size() <= 1) session.SetRelative(true);
  session.SetAlign(options->Align);
  // Files that cannot be read are named in the window's message line.
  session.OpenFiles(options->Files);
  for (const QString& folder : options->FollowDirs) {
    if (!QFileInfo(folder).isDir()) {
      std::fprintf(stderr, "kestview: --follow-dir %s is no folder\n",
                   folder.toLocal8Bit().constData());
    }
  }
  if (!options->FollowDirs.isEmpty()) session.FollowFolders(options->FollowDirs);
  if (!options->Channels.empty()) {
    for (const std::string& name : session.SetShownChannelNames(options->Channels)) {
      std::fprintf(stderr, "kestview: the engine log has no channel %s\n", name.c_str());
    }
  }
  ApplyOptions(*options, session, true);
  // The tune the table panel corrects, as Load tune... would load it.
  if (!options->Correct.TunePath.isEmpty()) {
    session.SetTuneNames(options->Correct.Table, options->Correct.XAxis, options->Correct.YAxis);
    session.SetMaxChange(options->Correct.MaxChange);
    std::string tuneError;
    if (!session.LoadTune(options->Correct.TunePath, tuneError)) {
      std::fprintf(stderr, "kestview: %s\n", tuneError.c_str());
    }
  }
  viewer::TKestViewWindow window(&session);
  window.show();
  return app.exec();
}
