// The window as a new user meets it: nothing on the command line, a ports.conf that maps COM2 to
// the simulated box on a pseudo-terminal, the port menu's items unchanged, and tool tips that say
// what stands behind each number and why an open failed. Real timers; every wait polls its
// condition with a generous deadline.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>
#include <string>

#include "platform/PortMap.h"
#include "serial/PortDirectory.h"
#include "serial/PortsFile.h"
#include "sim/KestSimulator.h"
#include "tests/integration/WaitUntil.h"
#include "tests/serial/RecordedDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Kest3GraphMain.h"

namespace {

constexpr int DeadlineMs = 5000;

using integrationtest::WaitUntil;

// The main window as the program makes it, over the system's backend and the port directory,
// with the default locale; shown, so it opens its port.
std::unique_ptr<ui::TKest3GraphMain> ShowMainWindow(platform::TSerialApi& serial,
                                                    uitest::TRecordingServices& services,
                                                    TPortDirectory& ports) {
  ui::TMainWindowOptions options;
  options.SerialApi = &serial;
  options.Services = &services;
  options.Ports = &ports;
  options.Locale = platform::TLocaleFormats{};
  auto window = std::make_unique<ui::TKest3GraphMain>(std::move(options));
  window->show();
  return window;
}

TEST(PortsConfWindow, ComTwoFromThePortsFileReachesTheBoxFromTheMenu) {
  QTemporaryDir config;  // XDG_CONFIG_HOME of a user who has never run the program
  ASSERT_TRUE(config.isValid());
  sim::TSimConfig simConfig;
  simConfig.ConstantAfr = 147;
  sim::TKestSimulator box(simConfig);
  ASSERT_TRUE(box.Start()) << box.LastError();
  const std::string file = PortsFilePath(config.path().toStdString().c_str(), nullptr);
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  std::ofstream(file) << "[ports]\nCOM2=" << box.SlavePath() << "\n";

  // An adapter that udev reports but whose node this machine does not have: it is given COM1,
  // which then fails to open, as an adapter pulled out meanwhile would.
  kesttest::TRecordedDevices devices;
  devices.Records = {kesttest::FtdiAdapter("ttyUSB0")};
  platform::TPortMap portMap;
  const std::unique_ptr<platform::TSerialApi> serial = platform::CreateSystemSerialApi(portMap);
  TPortDirectory ports(devices, portMap, file);
  std::vector<std::string> warnings;
  ports.Warn = [&](const std::string& line) { warnings.push_back(line); };
  ASSERT_TRUE(ports.Watch());

  uitest::TRecordingServices services;
  const std::unique_ptr<ui::TKest3GraphMain> shown = ShowMainWindow(*serial, services, ports);
  ui::TKest3GraphMain& window = *shown;
  ASSERT_TRUE(WaitUntil([&] { return !window.StatusBarText().isEmpty(); }, DeadlineMs));
  EXPECT_EQ(window.StatusBarText(), "Error: could not open Com1");
  EXPECT_TRUE(window.StatusText->toolTip().startsWith(
      "could not open /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0: no such "
      "device"))
      << window.StatusText->toolTip().toStdString();

  // The menu is as it always was; the tool tips tell what stands behind each number.
  ASSERT_EQ(window.Setup1->actions().size(), 8);
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(window.Setup1->actions()[n - 1]->text(), QStringLiteral("COM%1").arg(n));
  }
  EXPECT_TRUE(window.Setup1->toolTipsVisible());
  EXPECT_EQ(window.PortItems[0]->toolTip(), "FTDI FT232R USB UART (A1234567) on /dev/ttyUSB0");
  EXPECT_EQ(window.PortItems[1]->toolTip(), QString::fromStdString(box.SlavePath()));
  EXPECT_EQ(window.PortItems[2]->toolTip(), "no device");

  window.PortItems[1]->trigger();
  EXPECT_EQ(window.StatusBarText(), "Com2 Port Open");
  EXPECT_EQ(window.StatusText->toolTip(), QString::fromStdString("COM2: " + box.SlavePath()));
  EXPECT_TRUE(WaitUntil(
      [&] { return window.DigitalDisplay->isEnabled() && window.DigitalDisplay->text() == "14.7"; },
      DeadlineMs))
      << window.DigitalDisplay->text().toStdString();

  // The adapter is pulled out: its number stays, and its tool tip says so.
  devices.Records.clear();
  devices.AnnounceChange();
  EXPECT_EQ(window.PortItems[0]->toolTip(),
            "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0 (not plugged in)");
  EXPECT_EQ(window.StatusBarText(), "Com2 Port Open");
  EXPECT_TRUE(warnings.empty());
  // The memory now holds the adapter too, and still the box.
  std::string text;
  std::string error;
  ASSERT_TRUE(ReadPortsFile(file, text, error));
  EXPECT_NE(text.find("COM1=/dev/serial/by-id/usb-FTDI"), std::string::npos) << text;
  EXPECT_NE(text.find("COM2=" + box.SlavePath()), std::string::npos) << text;
}

// A number whose device is plugged in while the program waits on it: opened at once, quietly.
TEST(PortsConfWindow, AChosenPortOpensWhenItsAdapterArrives) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  const std::string link = config.filePath(QStringLiteral("ttyKEST")).toStdString();
  kesttest::TRecordedDevices devices;
  // Whatever the system lists, the link is this adapter's stable name.
  platform::TSerialDeviceRecord adapter = kesttest::FtdiAdapter("ttyUSB0");
  adapter.Links = {link};
  platform::TPortMap portMap;
  const std::unique_ptr<platform::TSerialApi> serial = platform::CreateSystemSerialApi(portMap);
  TPortDirectory ports(devices, portMap, "");
  ports.SetOverride(1, link);
  ports.Watch();

  uitest::TRecordingServices services;
  const std::unique_ptr<ui::TKest3GraphMain> shown = ShowMainWindow(*serial, services, ports);
  ui::TKest3GraphMain& window = *shown;
  ASSERT_TRUE(WaitUntil([&] { return !window.StatusBarText().isEmpty(); }, DeadlineMs));
  EXPECT_EQ(window.StatusBarText(), "Error: could not open Com1");
  EXPECT_EQ(services.Beeps, 1);

  sim::TSimConfig simConfig;
  simConfig.LinkPath = link;
  sim::TKestSimulator box(simConfig);
  ASSERT_TRUE(box.Start()) << box.LastError();
  devices.Records = {adapter};
  devices.AnnounceChange();
  EXPECT_EQ(window.StatusBarText(), "Com1 Port Open");
  EXPECT_EQ(window.PortItems[0]->toolTip(), "FTDI FT232R USB UART (A1234567) on /dev/ttyUSB0");
  EXPECT_EQ(services.Beeps, 1) << "nobody asked: no beep";
  EXPECT_TRUE(WaitUntil([&] { return window.DigitalDisplay->isEnabled(); }, DeadlineMs));
}

}  // namespace
