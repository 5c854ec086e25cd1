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
#include "ui/AboutWindows.h"
#include "ui/Kest3GraphMain.h"
#include "ui/Pictures.h"

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
      QStringLiteral("Use DEVICE for the menu's COM n (repeatable), e.g. COM1=/dev/ttyUSB0. "
                     "Without it, COM n is /dev/ttyS<n-1>."),
      QStringLiteral("COMn=DEVICE"));
  const QCommandLineOption demoOption(
      QStringLiteral("demo"),
      QStringLiteral("Attach a simulated controller to COM1, for a first look without hardware."));
  parser.addOption(portOption);
  parser.addOption(demoOption);
  parser.process(application);

  for (const QString& mapping : parser.values(portOption)) {
    if (!platform::PortMap().MapFromOption(mapping.toStdString())) {
      std::fprintf(stderr, "kestlsugraph: --port wants COMn=DEVICE with n from 1 to 16, not '%s'\n",
                   qPrintable(mapping));
      return 2;
    }
  }

  std::unique_ptr<TDemoController> demo;
  if (parser.isSet(demoOption)) {
    demo = StartDemoController();
    if (!demo) {
      std::fprintf(stderr, "kestlsugraph: could not start the simulated controller\n");
      return 1;
    }
    platform::PortMap().Map(1, demo->DevicePath());
  }

  ui::TKest3GraphMain mainWindow;
  ui::TAboutKest3Graph aboutKest;
  ui::TAboutKest3GraphDiskLog aboutDiskLog;
  mainWindow.AboutKest3Graph = &aboutKest;
  mainWindow.AboutKest3GraphDiskLog = &aboutDiskLog;
  mainWindow.show();
  const int result = QApplication::exec();
  return result;
}
