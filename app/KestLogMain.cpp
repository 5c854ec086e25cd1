// kestlog: the monitor without a window. Polls the controller on a serial device exactly as the
// window does and writes its rows to a file or to standard output until Ctrl-C or --seconds, with
// a live status line when a person is watching.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "headless/DeviceList.h"
#include "headless/HeadlessMonitor.h"
#include "headless/LogOptions.h"
#include "headless/RowSink.h"
#include "platform/CommandLine.h"
#include "platform/Locale.h"
#include "platform/PortMap.h"
#include "platform/SerialApi.h"
#include "platform/SerialDevices.h"
#include "platform/Terminal.h"
#include "platform/UserSettings.h"
#include "serial/OpenFailureText.h"
#include "serial/PortDirectory.h"
#include "serial/PortsFile.h"

namespace {

void Say(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

// "\r", the line, and an erase to the end of the line: the status is redrawn where it stands.
void DrawStatusLine(const std::string& line) { Say(stdout, "\r" + line + "\x1b[K"); }

headless::TMonitorSettings SettingsOf(const headless::TLogOptions& options) {
  headless::TMonitorSettings settings;
  settings.DisplayMode = options.DisplayMode;
  settings.FuelType = options.FuelType;
  settings.Fast = options.Fast;
  settings.ComPort = options.ComNumber != 0 ? options.ComNumber : 1;
  settings.Format = options.Format;
  settings.Program = std::string("kestlog ") + KEST_VERSION;
  settings.Locale = platform::UserLocaleFormats();
  return settings;
}

// Where one run's rows and messages go, and how it ends.
struct TRun {
  explicit TRun(const headless::TLogOptions& options)
      : Options(options),
        ToStandardOutput(options.Output == headless::StandardOutputName),
        // With the rows on standard output, everything else goes to standard error and no status
        // line is drawn among the rows.
        Console(ToStandardOutput ? stderr : stdout),
        StatusLine(!ToStandardOutput && platform::IsTerminal(platform::TStandardStream::Output)),
        OutputName(ToStandardOutput ? "standard output" : options.Output) {}
  const headless::TLogOptions& Options;
  const bool ToStandardOutput;
  std::FILE* const Console;
  const bool StatusLine;
  const std::string OutputName;
  int ExitCode = 0;
  bool StatusShown = false;
};

// What the monitor reports while it runs: a failed row ends the run, a call on the port that
// begins to fail is said once with the system's reason, a lost device is said once (unless the
// status line says it), and the status line is redrawn on every watchdog tick.
void Wire(headless::THeadlessMonitor& monitor, TRun& run) {
  monitor.OnRowError = [&run](const csvlog::TLogFileError& failure) {
    if (run.StatusShown) Say(stdout, "\n");
    run.StatusShown = false;
    Say(stderr, std::string("kestlog: ") + failure.what() + "\n");
    run.ExitCode = 1;
    QCoreApplication::quit();
  };
  // Said even beside the status line, which has no room for it: on a line of its own, once.
  monitor.OnPortFailure = [&run](const platform::TPortFailure& failure) {
    if (run.StatusShown) Say(stdout, "\n");
    run.StatusShown = false;
    Say(stderr, "kestlog: " + run.Options.Port + ": " + PortFailureText(failure) + "\n");
  };
  monitor.OnPortLost = [&run](bool lost) {
    if (run.StatusLine) return;  // the status line says it
    const std::string& port = run.Options.Port;
    Say(stderr, lost ? "kestlog: " + port + " went away; waiting for it to come back\n"
                     : "kestlog: " + port + " is back\n");
  };
  if (run.StatusLine) {
    monitor.OnWatchdogTick = [&run, &monitor] {
      DrawStatusLine(headless::StatusLine(monitor.StatusView()));
      run.StatusShown = true;
    };
  }
}

// Logs until Ctrl-C, --seconds or a failure; the exit status.
int Log(const headless::TLogOptions& options, platform::TPortMap& portMap) {
  TRun run(options);
  const std::unique_ptr<platform::TSerialApi> serialApi = platform::CreateSystemSerialApi(portMap);
  headless::THeadlessMonitor monitor(*serialApi, SettingsOf(options));

  // The port first: a device that will not open must not leave an empty log behind.
  if (!monitor.OpenPort()) {
    const std::string prefix = options.ComNumber != 0 ? options.Port + ": " : std::string();
    Say(stderr,
        "kestlog: " + prefix + OpenFailureText(options.Port, monitor.LastOpenFailure()) + "\n");
    return 1;
  }

  headless::TStandardOutputSink standardOutput;
  std::unique_ptr<headless::TFileRowSink> file;
  headless::TRowSink* sink = &standardOutput;
  try {
    if (!run.ToStandardOutput) {
      file = std::make_unique<headless::TFileRowSink>(options.Output);
      sink = file.get();
    }
    platform::IgnoreBrokenPipe();
    monitor.Start(*sink);
  } catch (const csvlog::TLogFileError& failure) {
    Say(stderr, std::string("kestlog: ") + failure.what() + "\n");
    return 1;
  }
  Wire(monitor, run);

  // Ctrl-C, a hang-up or a kill end the run between two ticks, so the file closes with whole rows.
  const std::unique_ptr<platform::TStopSignalWatch> stopWatch =
      platform::WatchStopSignals([](int) { QCoreApplication::quit(); });
  if (!stopWatch) Say(stderr, "kestlog: could not catch Ctrl-C; rows are written as they come\n");
  if (options.Seconds > 0) {
    QTimer::singleShot(static_cast<int>(std::lround(options.Seconds * 1000)),
                       QCoreApplication::instance(), [] { QCoreApplication::quit(); });
  }

  QElapsedTimer running;
  running.start();
  QCoreApplication::exec();
  monitor.Stop();
  if (run.StatusShown) Say(stdout, "\n");
  if (file) {
    try {
      file->Close();
    } catch (const csvlog::TLogFileError& failure) {
      Say(stderr, std::string("kestlog: ") + failure.what() + "\n");
      run.ExitCode = 1;
    }
  }
  Say(run.Console,
      headless::SummaryText(monitor.Stats(), run.OutputName, running.elapsed() / 1000.0));
  return run.ExitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // kestlog has no window and nothing to share a GLib main loop with; Qt's own event loop wakes
  // up with fewer system calls, and kestlog wakes about fifty times a second for as long as it
  // logs. A user's own setting of the variable is kept.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("kestlog"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KEST_VERSION));

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string error;
  const std::optional<headless::TLogOptions> parsed = headless::ParseLogOptions(arguments, error);
  const platform::TProgramTexts texts{"kestlog", " (see kestlog --help)\n", headless::LogUsage(),
                                      std::string("kestlog ") + KEST_VERSION + "\n"};
  if (const std::optional<int> exit = platform::AnswerCommandLine(parsed, error, texts))
    return *exit;
  const headless::TLogOptions& options = *parsed;

  // The devices and their COM numbers, as the window's menu has them; kept current while logging
  // COMn, so an adapter that comes back on another node is found again. A device named by its
  // path needs no number, and the port memory is then left alone.
  const bool numbered = options.List || options.ComNumber != 0;
  platform::TPortMap portMap;  // what the serial backend opens COM n by
  const std::unique_ptr<platform::TSerialDeviceSource> devices = platform::SystemSerialDevices();
  TPortDirectory directory(*devices, portMap,
                           numbered ? PortsFileIn(platform::UserConfigFolder()) : std::string());
  directory.Warn = [](const std::string& line) { Say(stderr, "kestlog: " + line + "\n"); };
  if (options.List) {
    directory.Refresh();
    Say(stdout, headless::DeviceListText(directory.Devices(), directory.Assignment()));
    return 0;
  }
  if (options.ComNumber != 0) {
    directory.Watch();
  } else {
    // A path is the monitor's COM1, as --port COM1=DEVICE makes it for the window.
    directory.SetOverride(1, options.Port);
    directory.Refresh();
  }
  return Log(options, portMap);
}
