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
  if (!parsed) {
    Say(stderr, "kestlog: " + error + " (see kestlog --help)\n");
    return 2;
  }
  const headless::TLogOptions& options = *parsed;
  if (options.Help) {
    Say(stdout, headless::LogUsage());
    return 0;
  }
  if (options.Version) {
    Say(stdout, std::string("kestlog ") + KEST_VERSION + "\n");
    return 0;
  }

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

  const bool toStandardOutput = options.Output == headless::StandardOutputName;
  // With the rows on standard output, everything else goes to standard error and no status line
  // is drawn among the rows.
  std::FILE* const console = toStandardOutput ? stderr : stdout;
  const bool statusLine =
      !toStandardOutput && platform::IsTerminal(platform::TStandardStream::Output);
  const std::string outputName = toStandardOutput ? "standard output" : options.Output;

  headless::TMonitorSettings settings;
  settings.DisplayMode = options.DisplayMode;
  settings.FuelType = options.FuelType;
  settings.Fast = options.Fast;
  settings.ComPort = options.ComNumber != 0 ? options.ComNumber : 1;
  settings.Format = options.Format;
  settings.Locale = platform::UserLocaleFormats();
  const std::unique_ptr<platform::TSerialApi> serialApi = platform::CreateSystemSerialApi(portMap);
  headless::THeadlessMonitor monitor(*serialApi, settings);

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
    if (!toStandardOutput) {
      file = std::make_unique<headless::TFileRowSink>(options.Output);
      sink = file.get();
    }
    platform::IgnoreBrokenPipe();
    monitor.Start(*sink);
  } catch (const csvlog::TLogFileError& failure) {
    Say(stderr, std::string("kestlog: ") + failure.what() + "\n");
    return 1;
  }

  int exitCode = 0;
  bool statusShown = false;
  monitor.OnRowError = [&](const csvlog::TLogFileError& failure) {
    if (statusShown) Say(stdout, "\n");
    statusShown = false;
    Say(stderr, std::string("kestlog: ") + failure.what() + "\n");
    exitCode = 1;
    QCoreApplication::quit();
  };
  monitor.OnPortLost = [&](bool lost) {
    if (statusLine) return;  // the status line says it
    Say(stderr, lost ? "kestlog: " + options.Port + " went away; waiting for it to come back\n"
                     : "kestlog: " + options.Port + " is back\n");
  };
  if (statusLine) {
    monitor.OnWatchdogTick = [&] {
      DrawStatusLine(headless::StatusLine(monitor.StatusView()));
      statusShown = true;
    };
  }

  // Ctrl-C, a hang-up or a kill end the run between two ticks, so the file closes with whole rows.
  const std::unique_ptr<platform::TStopSignalWatch> stopWatch =
      platform::WatchStopSignals([](int) { QCoreApplication::quit(); });
  if (!stopWatch) Say(stderr, "kestlog: could not catch Ctrl-C; rows are written as they come\n");
  if (options.Seconds > 0) {
    QTimer::singleShot(static_cast<int>(std::lround(options.Seconds * 1000)), &application,
                       [] { QCoreApplication::quit(); });
  }

  QElapsedTimer running;
  running.start();
  QCoreApplication::exec();
  monitor.Stop();
  if (statusShown) Say(stdout, "\n");
  if (file) {
    try {
      file->Close();
    } catch (const csvlog::TLogFileError& failure) {
      Say(stderr, std::string("kestlog: ") + failure.what() + "\n");
      exitCode = 1;
    }
  }
  Say(console, headless::SummaryText(monitor.Stats(), outputName, running.elapsed() / 1000.0));
  return exitCode;
}
