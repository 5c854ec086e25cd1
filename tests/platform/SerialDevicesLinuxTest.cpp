// The system's own serial device source over this machine's udev, and who holds a device. A test
// machine may have no serial device at all, so the records are checked for form, not for number.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/DeviceHolder.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialDevices.h"

namespace platform {
namespace {

bool IsHexId(const std::string& text) {
  if (text.size() != 4) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

TEST(SerialDevicesLinux, ListsWellFormedRecordsOfRealDevices) {
  const std::unique_ptr<TSerialDeviceSource> source = SystemSerialDevices();
  const std::vector<TSerialDeviceRecord> records = source->Devices();
  std::printf("[ info ] %zu tty devices with hardware behind them\n", records.size());
  for (const TSerialDeviceRecord& record : records) {
    SCOPED_TRACE(record.Path);
    EXPECT_TRUE(record.Path.starts_with("/dev/"));
    EXPECT_FALSE(record.SystemName.empty());
    EXPECT_TRUE(record.Path.ends_with("/" + record.SystemName));
    // Virtual consoles and pseudo-terminals have no device behind them and are never listed.
    EXPECT_FALSE(record.SystemName.starts_with("pts"));
    EXPECT_NE(record.SystemName, "console");
    EXPECT_NE(record.SystemName, "ptmx");
    for (const std::string& link : record.Links) EXPECT_TRUE(link.starts_with("/dev/")) << link;
    if (!record.VendorId.empty()) {
      EXPECT_TRUE(IsHexId(record.VendorId)) << record.VendorId;
      EXPECT_TRUE(IsHexId(record.ProductId)) << record.ProductId;
    }
    if (!record.UartType.empty()) {
      EXPECT_EQ(record.UartType.find_first_not_of("0123456789"), std::string::npos)
          << record.UartType;
    }
  }
  // Asking twice gives the same answer when nothing is plugged in between.
  EXPECT_EQ(source->Devices().size(), records.size());
}

TEST(SerialDevicesLinux, WatchingNeedsNoMoreThanTheMonitorSocket) {
  const std::unique_ptr<TSerialDeviceSource> source = SystemSerialDevices();
  // A container may have no netlink socket for udev; then the answer is false, and nothing breaks.
  const bool watching = source->Watch([] {});
  std::printf("[ info ] udev monitor %s\n", watching ? "on" : "not available");
  EXPECT_EQ(source->Watch([] {}), watching) << "a second call replaces the first";
}

TEST(DeviceHolder, NamesAnotherProcessThatHoldsTheDevice) {
  TPseudoTerminal line;
  ASSERT_TRUE(line.Open()) << line.LastError();
  // We hold the slave ourselves (the pair keeps one), which does not count: we are not another.
  EXPECT_EQ(DeviceHolder(line.SlavePath()), "");

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    const char answer = fd >= 0 ? 'y' : 'n';
    (void)!write(ready[1], &answer, 1);
    pause();  // until killed
    _exit(0);
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  EXPECT_EQ(answer, 'y');
  const std::string holder = DeviceHolder(line.SlavePath());
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_NE(holder.find("(process " + std::to_string(child) + ")"), std::string::npos) << holder;
  EXPECT_EQ(DeviceHolder("/dev/no-such-device"), "");
}

}  // namespace
}  // namespace platform
