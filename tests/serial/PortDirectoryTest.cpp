// The port directory over recorded devices and a real ports file: the numbers it gives and keeps,
// what it remembers on disk, what it tells the port map, and the news of devices coming and going.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/PortMap.h"
#include "serial/PortDirectory.h"
#include "serial/PortsFile.h"
#include "tests/serial/RecordedDevices.h"

namespace {

namespace fs = std::filesystem;
using kesttest::ById;
using kesttest::FtdiAdapter;
using kesttest::TRecordedDevices;
using kesttest::Uart;

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class PortDirectoryTest : public testing::Test {
 protected:
  PortDirectoryTest()
      : Folder(fs::temp_directory_path() / ("kest-directory-" + std::to_string(getpid()))),
        File((Folder / "kestlsugraph" / "ports.conf").string()) {
    fs::remove_all(Folder);
    Directory.Warn = [this](const std::string& line) { Warnings.push_back(line); };
    Directory.OnChange = [this] { ++Changes; };
  }
  ~PortDirectoryTest() override { fs::remove_all(Folder); }

  void WriteFile(const std::string& text) {
    fs::create_directories(fs::path(File).parent_path());
    std::ofstream(File) << text;
  }
  std::string Resolved(int number) const { return Map.Resolve("COM" + std::to_string(number)); }

  fs::path Folder;
  std::string File;
  TRecordedDevices Devices;
  platform::TPortMap Map;
  TPortDirectory Directory{Devices, Map, File};
  std::vector<std::string> Warnings;
  int Changes = 0;
};

TEST_F(PortDirectoryTest, ANewUserWithOneAdapterHasItAsCom1AndItIsRemembered) {
  Devices.Records = {Uart(0, false), Uart(1, false), FtdiAdapter("ttyUSB0")};
  ASSERT_TRUE(Directory.Watch());
  EXPECT_EQ(Resolved(1), ById("A1234567"));
  EXPECT_EQ(Directory.Describe(1), "FTDI FT232R USB UART (A1234567) on /dev/ttyUSB0");
  EXPECT_EQ(Directory.Describe(2), "no device");
  EXPECT_EQ(Resolved(2), "/dev/ttyS1") << "a number that stands for nothing keeps its default";
  EXPECT_EQ(ReadAll(File), PortsFileText({{1, ById("A1234567")}}));
  EXPECT_TRUE(Warnings.empty());
  EXPECT_EQ(Changes, 0) << "the first listing is not news";
}

TEST_F(PortDirectoryTest, AnAdapterKeepsItsNumberAcrossUnplugReplugAndAnotherSocket) {
  Devices.Records = {FtdiAdapter("ttyUSB0", "A"), FtdiAdapter("ttyUSB1", "B")};
  Directory.Watch();
  ASSERT_EQ(Resolved(2), ById("B"));

  Devices.Records = {FtdiAdapter("ttyUSB0", "A")};  // B pulled out
  Devices.AnnounceChange();
  EXPECT_EQ(Changes, 1);
  EXPECT_EQ(Directory.Describe(2), ById("B") + " (not plugged in)");
  EXPECT_EQ(Resolved(2), ById("B")) << "the port still names it, to be re-opened when back";

  Devices.Records.push_back(FtdiAdapter("ttyUSB1", "C"));  // a new one meanwhile
  Devices.AnnounceChange();
  EXPECT_EQ(Resolved(3), ById("C")) << "the absent B keeps COM2";

  Devices.Records = {FtdiAdapter("ttyUSB0", "A"), FtdiAdapter("ttyUSB1", "C"),
                     FtdiAdapter("ttyUSB4", "B")};  // B back on another node
  Devices.AnnounceChange();
  EXPECT_EQ(Directory.Describe(2), "FTDI FT232R USB UART (B) on /dev/ttyUSB4");
  EXPECT_EQ(ReadAll(File), PortsFileText({{1, ById("A")}, {2, ById("B")}, {3, ById("C")}}));

  // Another run of the program (the same memory, devices listed in another order).
  TRecordedDevices later;
  later.Records = {FtdiAdapter("ttyUSB0", "C"), FtdiAdapter("ttyUSB1", "B")};
  platform::TPortMap laterMap;
  TPortDirectory again(later, laterMap, File);
  again.Refresh();
  EXPECT_EQ(laterMap.Resolve("COM2"), ById("B"));
  EXPECT_EQ(laterMap.Resolve("COM3"), ById("C"));
  EXPECT_EQ(again.Describe(1), ById("A") + " (not plugged in)");
}

TEST_F(PortDirectoryTest, OverridesStandForThisRunOnlyAndUserEditsCountFromTheNextChange) {
  WriteFile("[ports]\nCOM2=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A-if00-port0\n");
  Devices.Records = {FtdiAdapter("ttyUSB0", "A")};
  Directory.SetOverride(1, "/dev/pts/9");
  Directory.Watch();
  EXPECT_EQ(Resolved(1), "/dev/pts/9");
  EXPECT_EQ(Resolved(2), ById("A"));
  const std::string written = ReadAll(File);
  EXPECT_EQ(written.find("pts"), std::string::npos) << written;

  // The user moves the adapter to COM5 while the program runs.
  WriteFile("[ports]\nCOM5=" + ById("A") + "\n");
  Devices.AnnounceChange();
  EXPECT_EQ(Resolved(5), ById("A"));
  EXPECT_EQ(Resolved(2), "/dev/ttyS1") << "COM2 stands for nothing any more";
}

// The file is the user's: while no device gets a new number it is never written, so comments,
// spacing and order stay as the user left them, whatever comes and goes.
TEST_F(PortDirectoryTest, ARefreshThatNumbersNothingNewLeavesTheFileAsWritten) {
  const std::string mine =
      "; my adapter\n[Ports]\n  COM5 = " + ById("A") + "\r\n\nCOM2=/dev/pts/9\n";
  WriteFile(mine);
  Devices.Records = {FtdiAdapter("ttyUSB0", "A")};
  Directory.Watch();
  Devices.Records.clear();
  Devices.AnnounceChange();
  Devices.Records = {FtdiAdapter("ttyUSB3", "A")};
  Devices.AnnounceChange();
  EXPECT_EQ(Resolved(5), ById("A"));
  EXPECT_EQ(ReadAll(File), mine);
}

TEST_F(PortDirectoryTest, ABrokenFileIsWarnedAboutOnceAndNeverStopsAnything) {
  WriteFile("[ports]\nCOM1=/dev/ttyUSB7\nCOM99=/dev/x\nnonsense\n");
  Devices.Records = {FtdiAdapter("ttyUSB0", "A")};
  Directory.Watch();
  ASSERT_EQ(Warnings.size(), 2u);
  EXPECT_NE(Warnings[0].find(File + ", line 3"), std::string::npos) << Warnings[0];
  EXPECT_NE(Warnings[1].find("line 4"), std::string::npos) << Warnings[1];
  EXPECT_EQ(Resolved(2), ById("A")) << "COM1 is the user's even with its device away";
  Devices.AnnounceChange();
  EXPECT_EQ(Warnings.size(), 2u) << "the same file is not warned about again";

  // Memory that cannot be written: the numbers still hold for this run, told once.
  Warnings.clear();
  fs::remove(File);
  fs::create_directories(File);  // a folder where the file should be
  Devices.Records.push_back(FtdiAdapter("ttyUSB1", "B"));
  Devices.AnnounceChange();
  Devices.AnnounceChange();
  EXPECT_EQ(Resolved(1), "/dev/ttyUSB7") << "this run's memory holds while the file is unusable";
  EXPECT_EQ(Resolved(2), ById("A"));
  EXPECT_EQ(Resolved(3), ById("B"));
  EXPECT_EQ(Warnings.size(), 2u);  // cannot read it; cannot write it
}

TEST_F(PortDirectoryTest, WithoutAFileTheMemoryLastsForTheRun) {
  platform::TPortMap map;
  TPortDirectory directory(Devices, map, "");
  Devices.Records = {FtdiAdapter("ttyUSB0", "A")};
  directory.Refresh();
  Devices.Records = {FtdiAdapter("ttyUSB0", "B"), FtdiAdapter("ttyUSB1", "A")};
  directory.Refresh();
  EXPECT_EQ(map.Resolve("COM1"), ById("A"));
  EXPECT_EQ(map.Resolve("COM2"), ById("B"));
  EXPECT_FALSE(fs::exists(Folder));
}

}  // namespace
