// COM ports as a Windows user names them: the names kept from ports.conf and --port, and the
// system backend opening the port a menu item is mapped to.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WindowsTestSupport.h"
#include "platform/PortMap.h"
#include "platform/SerialApi.h"
#include "platform/UserSettings.h"
#include "serial/PortsFile.h"

namespace {

TEST(PortNamesWin32, PortNamesAreKeptAsTheSystemWritesThem) {
  struct TCase {
    const char* Text;
    std::optional<std::string> Kept;
  };
  const TCase cases[] = {
      {"COM14", "COM14"},
      {"com3", "COM3"},
      {"\\\\.\\COM200", "COM200"},
      {"\\\\.\\com255", "COM255"},
      {"COM256", std::nullopt},  // beyond what the system numbers
      {"COM0", std::nullopt},
      {"COM03", std::nullopt},  // two spellings for one port would let two numbers name it
      {"COM", std::nullopt},
      {"COM1a", std::nullopt},
      {"LPT1", std::nullopt},
      {"/dev/ttyUSB0", std::nullopt},
      {"", std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(platform::DeviceNameOf(c.Text), c.Kept);
  }
}

TEST(PortNamesWin32, PortsFileMapsMenuItemsToPortsTheSystemNumbered) {
  std::vector<std::string> warnings;
  const TPortTable table =
      ParsePortsText("[ports]\nCOM2=com14\nCOM3=/dev/ttyUSB0\nCOM4=\\\\.\\COM20\n", warnings);
  EXPECT_EQ(table, (TPortTable{{2, "COM14"}, {4, "COM20"}}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("line 3: COM3 needs a port name such as COM14"), std::string::npos)
      << warnings[0];
  EXPECT_EQ(PortsFileIn("C:\\Users\\u\\AppData\\Roaming"),
            "C:\\Users\\u\\AppData\\Roaming\\kestlsugraph\\ports.conf");
}

// The backend opens a mapped menu item by the port it is mapped to, and says which one it tried
// and why it failed in the system's own words.
TEST(PortNamesWin32, TheBackendOpensTheMappedPort) {
  platform::TPortMap map;
  ASSERT_TRUE(map.Map(7, "COM200"));
  const std::unique_ptr<platform::TSerialApi> api = platform::CreateSystemSerialApi(map);
  EXPECT_EQ(api->CreateFile("\\\\.\\COM7"), platform::InvalidPortHandle);
  const platform::TOpenFailure failure = api->LastOpenFailure();
  EXPECT_EQ(failure.Error, platform::TOpenError::NotFound);
  EXPECT_EQ(failure.Path, "\\\\.\\COM200");
  EXPECT_FALSE(failure.SystemText.empty());

  const std::optional<kesttest::TTestLine> line = kesttest::AttachedLine();
  if (!line) GTEST_SKIP() << "no line attached (KEST_TEST_COM_PORT unset)";
  const std::string attached = "COM" + std::to_string(static_cast<int>(line->Port) + 1);
  ASSERT_TRUE(map.Map(7, attached));
  const platform::TPortHandle port = api->CreateFile("\\\\.\\COM7");
  ASSERT_NE(port, platform::InvalidPortHandle) << api->LastOpenFailure().SystemText;
  EXPECT_TRUE(api->CloseHandle(port));
}

}  // namespace
