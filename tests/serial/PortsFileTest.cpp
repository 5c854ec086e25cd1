// The port memory's file: where it lives, what of a hand-edited or broken file is used, and that
// what is written reads back the same.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/PortsFile.h"

namespace {

namespace fs = std::filesystem;

TEST(PortsFile, PathFollowsTheBaseDirectoryRules) {
  struct TCase {
    const char* Xdg;
    const char* Home;
    const char* Path;
  };
  const TCase cases[] = {
      {"/x/cfg", "/home/u", "/x/cfg/kestlsugraph/ports.conf"},
      {nullptr, "/home/u", "/home/u/.config/kestlsugraph/ports.conf"},
      {"", "/home/u", "/home/u/.config/kestlsugraph/ports.conf"},
      {"relative/cfg", "/home/u", "/home/u/.config/kestlsugraph/ports.conf"},
      {nullptr, nullptr, ""},
      {nullptr, "", ""},
      {"/x/cfg", nullptr, "/x/cfg/kestlsugraph/ports.conf"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Xdg ? c.Xdg : "(unset)") + " " + (c.Home ? c.Home : "(unset)"));
    EXPECT_EQ(PortsFilePath(c.Xdg, c.Home), c.Path);
  }
}

TEST(PortsFile, UsesWhatItCanOfAHandEditedFileAndWarnsOncePerBadLine) {
  const std::string text =
      "\xEF\xBB\xBF# made by hand\n"                       // 1 byte-order mark and comment
      "COM9=/dev/ttyUSB9\n"                                // 2 outside [ports]
      "[ports]\r\n"                                        // 3 a file from another system
      "  COM1 = /dev/serial/by-id/usb-A-if00-port0  \r\n"  // 4
      "com2=/dev/ttyUSB1\n"                                // 5 the key in any case
      "COM17=/dev/ttyUSB2\n"                               // 6 beyond sixteen
      "COM01=/dev/ttyUSB3\n"                               // 7 not how a number is written
      "COM3=ttyUSB4\n"                                     // 8 not a path
      "COM4=\n"                                            // 9 empty
      "COM1=/dev/ttyUSB5\n"                                // 10 given again
      "COM5=/dev/ttyUSB1\n"                                // 11 device given again
      "just some words\n"                                  // 12
      "; another comment\n"                                // 13
      "[ports\n"                                           // 14 broken section
      "COM6=/dev/ttyUSB6\n"                                // 15 so not in [ports]
      "[Ports]\n"                                          // 16 the name in any case
      "COM16=/dev/pts/3\n"                                 // 17
      "[other]\n"                                          // 18
      "COM7=/dev/ttyUSB7\n"                                // 19
      "\x01\xff=\xfe\n";                                   // 20 junk bytes
  std::vector<std::string> warnings;
  const TPortTable table = ParsePortsText(text, warnings);
  EXPECT_EQ(table, (TPortTable{{1, "/dev/serial/by-id/usb-A-if00-port0"},
                               {2, "/dev/ttyUSB1"},
                               {16, "/dev/pts/3"}}));
  std::vector<int> lines;
  for (const std::string& warning : warnings) {
    lines.push_back(std::stoi(warning.substr(5)));
    EXPECT_EQ(warning.find('\n'), std::string::npos);
  }
  EXPECT_EQ(lines, (std::vector<int>{2, 6, 7, 8, 9, 10, 11, 12, 14, 15, 19, 20}));
}

TEST(PortsFile, WhatIsWrittenReadsBackTheSame) {
  const TPortTable table = {{1, "/dev/serial/by-id/usb-FTDI_A-if00-port0"},
                            {7, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0"},
                            {16, "/dev/ttyACM0"}};
  std::vector<std::string> warnings;
  EXPECT_EQ(ParsePortsText(PortsFileText(table), warnings), table);
  EXPECT_TRUE(warnings.empty());

  const fs::path folder = fs::temp_directory_path() / ("kest-ports-" + std::to_string(getpid()));
  fs::remove_all(folder);
  const std::string path = (folder / "deep" / "kestlsugraph" / "ports.conf").string();
  std::string text = "stale";
  std::string error;
  ASSERT_TRUE(ReadPortsFile(path, text, error)) << "a missing file is an empty memory";
  EXPECT_EQ(text, "");
  ASSERT_TRUE(WritePortsFile(path, table, error)) << error;
  ASSERT_TRUE(ReadPortsFile(path, text, error)) << error;
  EXPECT_EQ(ParsePortsText(text, warnings), table);
  EXPECT_FALSE(fs::exists(path + ".new"));
  fs::remove_all(folder);
}

TEST(PortsFile, AFileThatCannotBeReadOrWrittenIsAnErrorNotACrash) {
  const fs::path folder =
      fs::temp_directory_path() / ("kest-ports-bad-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder / "ports.conf");  // a folder where the file should be
  std::string text;
  std::string error;
  EXPECT_FALSE(ReadPortsFile((folder / "ports.conf").string(), text, error));
  EXPECT_NE(error.find("ports.conf"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(WritePortsFile((folder / "ports.conf").string(), {{1, "/dev/x"}}, error));
  EXPECT_FALSE(error.empty());
  // A parent that is a file.
  std::ofstream(folder / "plain") << "x";
  error.clear();
  EXPECT_FALSE(WritePortsFile((folder / "plain" / "ports.conf").string(), {{1, "/dev/x"}}, error));
  EXPECT_FALSE(error.empty());
  fs::remove_all(folder);
}

}  // namespace
