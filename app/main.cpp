// kestlsugraph: the program entry. Reads the command line, creates the main window and the two
// information windows (hidden), and runs the event loop until the main window closes.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QPixmap>
#include <QTextStream>
#include <cstdio>
#include <memory>

#include "app/Demo.h"
#include "platform/PortMap.h"
#include "platform/SerialApi.h"
#include "platform/SerialDevices.h"
#include "platform/UserSettings.h"
#include "serial/PortDirectory.h"
#include "serial/PortsFile.h"
#include "ui/AboutWindows.h"
#include "ui/Kest3GraphMain.h"
#include "ui/Pictures.h"

namespace {

// Each --port COMn=DEVICE of the command line puts DEVICE behind the menu's COM n for this run;
// false, with a message, for one that does not read.
bool OverridePorts(const QStringList& mappings, TPortDirectory& ports) {
  for (const QString& mapping : mappings) {
    const auto parsed = platform::TPortMap::ParseOption(mapping.toStdString());
    if (!parsed) {
      std::fprintf(stderr, "kestlsugraph: --port wants COMn=DEVICE with n from 1 to 16, not '%s'\n",
                   qPrintable(mapping));
      return false;
    }
    // Kept as the system writes device names (on Windows com14 and \\.\COM14 are COM14).
    ports.SetOverride(parsed->first,
                      platform::DeviceNameOf(parsed->second).value_or(parsed->second));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestlsugraph"));
  QApplication::setApplicationVersion(QStringLiteral(KEST_VERSION));
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(ui::ProgramIcon(64))));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Live monitor and data logger for a wideband lambda controller on a serial port."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption portOption(
      QStringLiteral("port"),
      QStringLiteral("Use DEVICE for the menu's COM n for this run (repeatable), e.g. "
                     "COM1=/dev/ttyUSB0, or COM2=COM14 on Windows. Without it, COM n is what "
                     "ports.conf says."),
      QStringLiteral("COMn=DEVICE"));
  const QCommandLineOption demoOption(
      QStringLiteral("demo"),
      QStringLiteral("Attach a simulated controller to COM1, for a first look without hardware."));
  parser.addOption(portOption);
  parser.addOption(demoOption);
  parser.process(application);

  // The serial devices and their COM numbers, kept current as adapters come and go; the one
  // writer of the port map the serial backend opens by.
  platform::TPortMap portMap;
  const std::unique_ptr<platform::TSerialApi> systemApi = platform::CreateSystemSerialApi(portMap);
  const std::unique_ptr<platform::TSerialDeviceSource> devices = platform::SystemSerialDevices();
  TPortDirectory ports(*devices, portMap, PortsFileIn(platform::UserConfigFolder()));
  ports.Warn = [](const std::string& line) {
    std::fprintf(stderr, "kestlsugraph: %s\n", line.c_str());
  };
  if (!OverridePorts(parser.values(portOption), ports)) return 2;

  platform::TSerialApi* serialApi = systemApi.get();
  std::unique_ptr<TDemoController> demo;
  if (parser.isSet(demoOption)) {
    demo = StartDemoController(*systemApi);
    if (!demo) {
      std::fprintf(stderr, "kestlsugraph: could not start the simulated controller\n");
      return 1;
    }
    serialApi = &demo->SerialApi();
    if (!demo->DevicePath().empty()) ports.SetOverride(1, demo->DevicePath());
  }
  ports.Watch();

  ui::TMainWindowOptions options;
  options.SerialApi = serialApi;
  options.Ports = &ports;
  ui::TKest3GraphMain mainWindow(std::move(options));
  ui::TAboutKest3Graph aboutKest;
  ui::TAboutKest3GraphDiskLog aboutDiskLog;
  mainWindow.AboutKest3Graph = &aboutKest;
  mainWindow.AboutKest3GraphDiskLog = &aboutDiskLog;
  mainWindow.show();
  const int result = QApplication::exec();
  return result;
}
