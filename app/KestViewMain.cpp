// kestview: looks back at logged runs, in a window or, for scripts, as an image or a summary.
#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <memory>
#include <vector>

#include "log/Log.h"
#include "platform/CommandLine.h"
#include "platform/Terminal.h"
#include "viewer/EngineLogs.h"
#include "viewer/Export.h"
#include "viewer/LogFile.h"
#include "viewer/MslExport.h"
#include "viewer/TableCommand.h"
#include "viewer/ViewOptions.h"
#include "viewer/ViewerWindow.h"

namespace {

constexpr int ExitUnreadable = 1;

// The files of the command line, read: our logs and at most one engine log (the first given).
struct THeadlessFiles {
  std::vector<std::unique_ptr<viewer::TLogFile>> Ours;
  std::vector<viewer::TNamedLog> Logs;  // the readable ones of Ours
  std::unique_ptr<enginelog::TLog> Engine;
  QString EngineName;
  std::optional<viewer::TAlignment> Alignment;  // with a mixture log beside the engine log
  std::vector<QString> Order;                   // every file, as given: ours or the engine log
  bool AllRead = true;
};

void ReadFiles(const viewer::TViewOptions& options, THeadlessFiles& files) {
  for (const QString& path : options.Files) {
    // Each file is opened and read once; its first bytes chose its reader.
    auto file = std::make_unique<viewer::TLogFile>(path);
    // One engine log is lined up: a second is read as ours would be, and its fault named so.
    if (files.Engine) file->SetOursOnly();
    const bool loaded = file->Load(false);
    if (file->IsEngineLog()) {
      auto log = std::make_unique<enginelog::TLog>(file->TakeLog());
      for (const std::string& warning : log->Warnings) {
        std::fprintf(stderr, "kestview: %s\n", warning.c_str());
      }
      if (!log->Ok()) {
        std::fprintf(stderr, "kestview: %s\n", log->Error.c_str());
        files.AllRead = false;
        continue;
      }
      files.Engine = std::move(log);
      files.EngineName = path;
      files.Order.push_back(path);
      continue;
    }
    if (!loaded) {
      std::fprintf(stderr, "kestview: %s\n", file->Data().Error.c_str());
      files.AllRead = false;
    }
    files.Order.push_back(path);
    files.Ours.push_back(std::move(file));
  }
  for (const auto& file : files.Ours) {
    if (!file->Data().Error.empty()) continue;
    const std::string skipped = viewer::SkippedRowsText(file->Data());
    if (!skipped.empty()) std::fprintf(stderr, "kestview: %s\n", skipped.c_str());
    files.Logs.push_back({&file->Data(), QFileInfo(file->Path()).fileName()});
  }
  if (files.Engine && !files.Logs.empty()) {
    const viewer::TLog& mixture = *files.Logs.front().Log;
    files.Alignment = viewer::AlignEngineLog(mixture, *files.Engine, options.Align, options.Offset,
                                             viewer::LocalUtcOffsetAt(mixture));
  }
}

void PrintSummaries(const viewer::TViewOptions& options, const THeadlessFiles& files,
                    const viewer::TDisplay& display) {
  std::string out = options.Json ? "[" : "";
  bool first = true;
  std::size_t ours = 0;
  for (const QString& path : files.Order) {
    std::string entry;
    if (files.Engine && path == files.EngineName) {
      const std::string name = QFileInfo(path).fileName().toStdString();
      entry = options.Json ? viewer::EngineSummaryJson(name, *files.Engine, files.Alignment)
                           : viewer::EngineSummaryText(name, *files.Engine, files.Alignment);
    } else {
      const viewer::TLog& log = files.Ours[ours++]->Data();
      if (!log.Error.empty()) {
        if (options.Json) entry = viewer::ErrorJson(log);
      } else {
        const viewer::TSummary summary =
            viewer::Summarize(log, -1e18, 1e18, display, options.Bands);
        entry = options.Json ? viewer::SummaryJson(log, summary, display, options.Bands)
                             : viewer::SummaryText(log, summary, display, options.Bands);
      }
    }
    if (entry.empty()) continue;
    if (!first) out += options.Json ? "," : "\n";
    out += entry;
    first = false;
  }
  if (options.Json) out += "]\n";
  std::fputs(out.c_str(), stdout);
}

int ExportFiles(const viewer::TViewOptions& options, const THeadlessFiles& files,
                const viewer::TDisplay& display) {
  if (files.Logs.empty() && !files.Engine) {
    std::fprintf(stderr, "kestview: nothing to draw, no file could be read\n");
    return ExitUnreadable;
  }
  if (viewer::IsMslPath(options.ExportPath)) {
    // One log of ours in a file the engine tuning suites' viewers open; the first file read.
    if (files.Logs.empty()) {
      std::fprintf(stderr, "kestview: an MSL export needs a log of kestlsugraph or kestlog\n");
      return ExitUnreadable;
    }
    if (files.Logs.size() > 1) {
      std::fprintf(stderr, "kestview: an MSL export holds one log; writing %s only\n",
                   files.Logs.front().Name.toLocal8Bit().constData());
    }
    QString error;
    if (!viewer::ExportMsl(*files.Logs.front().Log, display, options.ExportPath,
                           std::string("kestview ") + KEST_VERSION, &error)) {
      std::fprintf(stderr, "kestview: %s\n", error.toLocal8Bit().constData());
      return ExitUnreadable;
    }
    return 0;
  }
  // An engine log alone is drawn on the time since its start.
  const bool relative =
      !files.Engine || options.RelativeGiven ? options.Relative : files.Logs.size() != 1;
  viewer::TChartScene scene = viewer::MakeScene(files.Logs, display, relative);
  viewer::TPaneScene panes;
  if (files.Engine) {
    std::vector<std::string> unknown;
    std::vector<std::size_t> shown =
        options.Channels.empty() ? viewer::DefaultShownChannels(*files.Engine)
                                 : viewer::ChannelsNamed(*files.Engine, options.Channels, unknown);
    for (const std::string& name : unknown) {
      std::fprintf(stderr, "kestview: %s has no channel %s\n",
                   files.EngineName.toLocal8Bit().constData(), name.c_str());
    }
    panes = viewer::PlacePanes(scene, *files.Engine, files.Alignment ? files.Alignment->Offset : 0,
                               std::move(shown));
    scene.MoreExtents.push_back(viewer::PaneExtent(panes));
    const viewer::TValueRange extent = viewer::TimeExtent(scene);
    scene.From = panes.From = extent.Low;
    scene.To = panes.To = extent.High;
  }
  QString error;
  if (!viewer::ExportChart(scene, options.ExportPath, options.Size, &error,
                           files.Engine ? &panes : nullptr)) {
    std::fprintf(stderr, "kestview: %s\n", error.toLocal8Bit().constData());
    return ExitUnreadable;
  }
  return 0;
}

// The mixture table on standard output or in its CSV file. No table when a file could not be read
// (the readers said why): one made of the rest would pass for the whole.
int PrintTable(const viewer::TViewOptions& options, const THeadlessFiles& files) {
  if (!files.AllRead) return ExitUnreadable;
  viewer::TTableFiles tableFiles;
  tableFiles.Engine = files.Engine.get();
  tableFiles.Mixture = files.Logs.empty() ? nullptr : files.Logs.front().Log;
  tableFiles.OursGiven = files.Ours.size();
  tableFiles.Alignment = files.Alignment;
  const viewer::TTableOutcome outcome = viewer::RunTable(options, tableFiles);
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

// Drawing and summing up without a window: reads every file, prints what it must, and says by
// its result whether every file could be read.
int RunHeadless(const viewer::TViewOptions& options) {
  THeadlessFiles files;
  ReadFiles(options, files);
  if (options.Table.Wanted) return PrintTable(options, files);
  viewer::TDisplay display =
      files.Logs.empty() ? viewer::TDisplay{} : viewer::LoggedDisplay(*files.Logs.front().Log);
  if (options.DisplayMode) display.DisplayMode = *options.DisplayMode;
  if (options.FuelType) display.FuelType = *options.FuelType;
  if (options.Summary) PrintSummaries(options, files, display);
  if (!options.ExportPath.isEmpty()) {
    const int exit = ExportFiles(options, files, display);
    if (exit != 0) return exit;
  }
  return files.AllRead ? 0 : ExitUnreadable;
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
  if (options->Summary || !options->ExportPath.isEmpty() || options->Table.Wanted) {
    // Scripts run where there is no screen: draw off screen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RunHeadless(*options);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestview"));
  QApplication::setDesktopFileName(QStringLiteral("kestview"));
  viewer::TKestViewWindow window;
  if (options->Follow) window.SetFollow(true);
  viewer::TBands bands = options->Bands;
  window.SetBands(bands);
  if (options->Relative && options->Files.size() <= 1) window.SetRelative(true);
  window.SetAlign(options->Align);
  if (options->Offset) window.SetHandOffset(options->Offset);
  window.OpenFiles(options->Files);
  if (!options->Channels.empty()) {
    for (const std::string& name : window.SetShownChannels(options->Channels)) {
      std::fprintf(stderr, "kestview: the engine log has no channel %s\n", name.c_str());
    }
  }
  if (options->DisplayMode || options->FuelType) {
    viewer::TDisplay display = window.Chart()->Scene().Display;
    if (options->DisplayMode) display.DisplayMode = *options->DisplayMode;
    if (options->FuelType) display.FuelType = *options->FuelType;
    window.SetDisplay(display);
  }
  window.show();
  return app.exec();
}
