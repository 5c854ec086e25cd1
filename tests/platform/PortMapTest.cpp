// Which device path stands behind "COM n": default names, the user's mappings, option parsing.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/PortMap.h"

namespace platform {
namespace {

TEST(PortMap, ResolvesComNamesToSerialDevicesByDefault) {
  const TPortMap map;
  const std::pair<const char*, const char*> cases[] = {
      {"\\\\.\\COM1", "/dev/ttyS0"},
      {"\\\\.\\COM2", "/dev/ttyS1"},
      {"\\\\.\\COM9", "/dev/ttyS8"},
      {"\\\\.\\COM10", "/dev/ttyS9"},
      {"\\\\.\\COM16", "/dev/ttyS15"},
      {"COM3", "/dev/ttyS2"},
      {"com4", "/dev/ttyS3"},
      // Not one of the driver's sixteen names: passed through for the open to refuse.
      {"\\\\.\\COM17", "\\\\.\\COM17"},
      {"\\\\.\\COM0", "\\\\.\\COM0"},
      {"\\\\.\\COM01", "\\\\.\\COM01"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"\\\\.\\COM", "\\\\.\\COM"},
      {"", ""},
  };
  for (const auto& [name, path] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(map.Resolve(name), path);
  }
}

TEST(PortMap, FindsTheComNumberInADeviceName) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"\\\\.\\COM10", 10},
      {"\\\\.\\COM1", 1},
      {"\\\\.\\COM16", 16},
      {"COM3", 3},
      {"cOm7", 7},
      {"\\\\.\\COM17", std::nullopt},
      {"\\\\.\\COM0", std::nullopt},
      {"\\\\.\\COM01", std::nullopt},
      {"\\\\.\\COM+3", std::nullopt},
      {"\\\\.\\COM-1", std::nullopt},
      {"\\\\.\\COM 3", std::nullopt},
      {"\\\\.\\COM3x", std::nullopt},
      {"\\\\.\\COM", std::nullopt},
      {"\\\\.\\LPT1", std::nullopt},
      {"\\\\?\\COM3", std::nullopt},
      {"xCOM3", std::nullopt},
      {"COM99999999999", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [name, number] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(TPortMap::ComNumberOf(name), number);
  }
}

TEST(PortMap, MappedPathsReplaceTheDefaultAndEachOther) {
  TPortMap map;
  EXPECT_TRUE(map.Map(3, "/dev/ttyUSB0"));
  EXPECT_EQ(map.Resolve("\\\\.\\COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(map.MappedPath(3), "/dev/ttyUSB0");
  EXPECT_EQ(map.Resolve("\\\\.\\COM4"), "/dev/ttyS3");  // the neighbours keep their defaults
  EXPECT_EQ(map.MappedPath(4), std::nullopt);

  EXPECT_TRUE(map.Map(3, "/dev/pts/7"));
  EXPECT_EQ(map.Resolve("\\\\.\\COM3"), "/dev/pts/7");

  EXPECT_TRUE(map.Map(16, "/dev/ttyACM0"));
  EXPECT_EQ(map.Resolve("\\\\.\\COM16"), "/dev/ttyACM0");
}

TEST(PortMap, RefusesMappingsOutsideTheSixteenPortsOrWithoutAPath) {
  TPortMap map;
  ASSERT_TRUE(map.Map(3, "/dev/ttyUSB0"));
  EXPECT_FALSE(map.Map(0, "/dev/x"));
  EXPECT_FALSE(map.Map(17, "/dev/x"));
  EXPECT_FALSE(map.Map(-1, "/dev/x"));
  EXPECT_FALSE(map.Map(3, ""));
  // Nothing stored by the refusals: COM3 keeps its path, the others have none.
  EXPECT_EQ(map.MappedPath(3), "/dev/ttyUSB0");
  EXPECT_EQ(map.MappedPath(0), std::nullopt);
  EXPECT_EQ(map.MappedPath(17), std::nullopt);
}

TEST(PortMap, ParsesPortOptions) {
  struct TOptionCase {
    const char* Option;
    std::optional<int> Number;  // what it maps; nothing when refused
    const char* Path;
  };
  const TOptionCase cases[] = {
      {"COM3=/dev/ttyUSB0", 3, "/dev/ttyUSB0"},
      {"com3=/dev/ttyUSB1", 3, "/dev/ttyUSB1"},
      {"Com10=/dev/pts/4", 10, "/dev/pts/4"},
      {"COM16=/dev/serial/by-id/usb-x=y", 16, "/dev/serial/by-id/usb-x=y"},
      {"COM3=", std::nullopt, ""},
      {"COM3", std::nullopt, ""},
      {"=/dev/ttyUSB0", std::nullopt, ""},
      {"COM17=/dev/ttyUSB0", std::nullopt, ""},
      {"COM0=/dev/ttyUSB0", std::nullopt, ""},
      {"COM03=/dev/ttyUSB0", std::nullopt, ""},
      {"COMx=/dev/ttyUSB0", std::nullopt, ""},
      {"COM3:/dev/ttyUSB0", std::nullopt, ""},
      {" COM3=/dev/ttyUSB0", std::nullopt, ""},
      {"COM 3=/dev/ttyUSB0", std::nullopt, ""},
      {"\\\\.\\COM3=/dev/ttyUSB0", std::nullopt, ""},
      {"", std::nullopt, ""},
  };
  for (const TOptionCase& c : cases) {
    SCOPED_TRACE(c.Option);
    TPortMap map;
    EXPECT_EQ(map.MapFromOption(c.Option), c.Number.has_value());
    for (int n = 1; n <= 16; ++n) {
      if (c.Number == n) {
        EXPECT_EQ(map.MappedPath(n), c.Path);
      } else {
        EXPECT_EQ(map.MappedPath(n), std::nullopt) << "COM" << n;
      }
    }
  }
}

}  // namespace
}  // namespace platform
