// kestview: looks back at logged runs, in a window or, for scripts, as an image or a summary.
#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Terminal.h"
#include "viewer/Export.h"
#include "viewer/LogFile.h"
#include "viewer/MslExport.h"
#include "viewer/ViewOptions.h"
#include "viewer/ViewerWindow.h"

namespace {

constexpr int ExitUnreadable = 1;

// Drawing and summing up without a window: reads every file, prints what it must, and says by
// its result whether every file could be read.
int RunHeadless(const viewer::TViewOptions& options) {
  std::vector<std::unique_ptr<viewer::TLogFile>> files;
  std::vector<viewer::TNamedLog> logs;
  bool allRead = true;
  for (const QString& path : options.Files) {
    auto file = std::make_unique<viewer::TLogFile>(path);
    if (!file->Load(false)) {
      std::fprintf(stderr, "kestview: %s\n", file->Data().Error.c_str());
      allRead = false;
    }
    files.push_back(std::move(file));
  }
  for (const auto& file : files) {
    if (!file->Data().Error.empty()) continue;
    const std::string skipped = viewer::SkippedRowsText(file->Data());
    if (!skipped.empty()) std::fprintf(stderr, "kestview: %s\n", skipped.c_str());
    logs.push_back({&file->Data(), QFileInfo(file->Path()).fileName()});
  }

  viewer::TDisplay display =
      logs.empty() ? viewer::TDisplay{} : viewer::LoggedDisplay(*logs.front().Log);
  if (options.DisplayMode) display.DisplayMode = *options.DisplayMode;
  if (options.FuelType) display.FuelType = *options.FuelType;

  if (options.Summary) {
    std::string out = options.Json ? "[" : "";
    bool first = true;
    for (const auto& file : files) {
      const viewer::TLogData& log = file->Data();
      if (options.Json) {
        if (!first) out += ",";
        if (!log.Error.empty()) {
          out += viewer::ErrorJson(log);
        } else {
          const viewer::TSummary summary =
              viewer::Summarize(log, -1e18, 1e18, display, options.Bands);
          out += viewer::SummaryJson(log, summary, display, options.Bands);
        }
      } else if (log.Error.empty()) {
        const viewer::TSummary summary =
            viewer::Summarize(log, -1e18, 1e18, display, options.Bands);
        out += (first ? "" : "\n") + viewer::SummaryText(log, summary, display, options.Bands);
      }
      first = false;
    }
    if (options.Json) out += "]\n";
    std::fputs(out.c_str(), stdout);
  }

  if (!options.ExportPath.isEmpty()) {
    if (logs.empty()) {
      std::fprintf(stderr, "kestview: nothing to draw, no file could be read\n");
      return ExitUnreadable;
    }
    QString error;
    if (viewer::IsMslPath(options.ExportPath)) {
      // One log of ours in a file the engine tuning suites' viewers open; the first file read.
      if (logs.size() > 1) {
        std::fprintf(stderr, "kestview: an MSL export holds one log; writing %s only\n",
                     logs.front().Name.toLocal8Bit().constData());
      }
      if (!viewer::ExportMsl(*logs.front().Log, display, options.ExportPath,
                             std::string("kestview ") + KEST_VERSION, &error)) {
        std::fprintf(stderr, "kestview: %s\n", error.toLocal8Bit().constData());
        return ExitUnreadable;
      }
      return allRead ? 0 : ExitUnreadable;
    }
    const viewer::TChartScene scene = viewer::MakeScene(logs, display, options.Relative);
    if (!viewer::ExportChart(scene, options.ExportPath, options.Size, &error)) {
      std::fprintf(stderr, "kestview: %s\n", error.toLocal8Bit().constData());
      return ExitUnreadable;
    }
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
  if (options->Summary || !options->ExportPath.isEmpty()) {
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
  window.OpenFiles(options->Files);
  if (options->DisplayMode || options->FuelType) {
    viewer::TDisplay display = window.Chart()->Scene().Display;
    if (options->DisplayMode) display.DisplayMode = *options->DisplayMode;
    if (options->FuelType) display.FuelType = *options->FuelType;
    window.SetDisplay(display);
  }
  window.show();
  return app.exec();
}
