// The COM numbering as a function over tables: devices present, the port memory, the overrides.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "serial/PortAssignment.h"
#include "tests/serial/RecordedDevices.h"

namespace {

using kesttest::ById;
using kesttest::FtdiAdapter;
using kesttest::Uart;
using kesttest::WindowsPort;
using platform::TSerialDeviceRecord;
using TSource = TComPort::TSource;

// What one number stands for, compared by names rather than indexes: what is opened, the node of
// the present device behind it ("" when absent) and where the number came from.
struct TSeen {
  std::string Path;
  std::string Node;
  TSource Source;
  bool operator==(const TSeen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TSeen& seen) {
  return out << "{" << seen.Path << ", node '" << seen.Node << "', source "
             << static_cast<int>(seen.Source) << "}";
}

std::vector<TSerialDeviceRecord> SixteenAdapters() {
  std::vector<TSerialDeviceRecord> records;
  for (int i = 0; i < 16; ++i)
    records.push_back(FtdiAdapter("ttyUSB" + std::to_string(i), "S" + std::to_string(i)));
  return records;
}

TPortTable SixteenRemembered() {
  TPortTable table;
  for (int i = 0; i < 16; ++i) table[i + 1] = ById("S" + std::to_string(i));
  return table;
}

TEST(PortAssignment, NumbersDevicesByTheRules) {
  struct TCase {
    const char* Name;
    std::vector<TSerialDeviceRecord> Present;
    TPortTable Remembered;
    TPortTable Overrides;
    std::map<int, TSeen> Expected;
    TPortTable Memory;                    // the memory afterwards
    std::vector<std::string> Unnumbered;  // nodes
  };
  std::vector<TSerialDeviceRecord> seventeen = SixteenAdapters();
  seventeen.push_back(FtdiAdapter("ttyUSB16", "LATE"));

  const TCase cases[] = {
      {"UARTs only: each is COM n for ttyS<n-1>, nothing is remembered",
       {Uart(0), Uart(3), Uart(1, false)},
       {},
       {},
       {{1, {"/dev/ttyS0", "/dev/ttyS0", TSource::Uart}},
        {4, {"/dev/ttyS3", "/dev/ttyS3", TSource::Uart}}},
       {},
       {}},
      {"adapters only: the first is COM1, by their stable names",
       {FtdiAdapter("ttyUSB1", "B"), FtdiAdapter("ttyUSB0", "A")},
       {},
       {},
       {{1, {ById("A"), "/dev/ttyUSB0", TSource::New}},
        {2, {ById("B"), "/dev/ttyUSB1", TSource::New}}},
       {{1, ById("A")}, {2, ById("B")}},
       {}},
      {"a new adapter beside a UART takes the lowest free number",
       {Uart(0), FtdiAdapter("ttyUSB0", "A")},
       {},
       {},
       {{1, {"/dev/ttyS0", "/dev/ttyS0", TSource::Uart}},
        {2, {ById("A"), "/dev/ttyUSB0", TSource::New}}},
       {{2, ById("A")}},
       {}},
      {"a remembered adapter that is away keeps its number from a new one",
       {FtdiAdapter("ttyUSB0", "NEW")},
       {{1, ById("AWAY")}},
       {},
       {{1, {ById("AWAY"), "", TSource::Remembered}},
        {2, {ById("NEW"), "/dev/ttyUSB0", TSource::New}}},
       {{1, ById("AWAY")}, {2, ById("NEW")}},
       {}},
      {"an adapter back under another node keeps its number",
       {FtdiAdapter("ttyUSB3", "A")},
       {{5, ById("A")}},
       {},
       {{5, {ById("A"), "/dev/ttyUSB3", TSource::Remembered}}},
       {{5, ById("A")}},
       {}},
      {"a hand-written node path finds its device",
       {FtdiAdapter("ttyUSB0", "A")},
       {{3, "/dev/ttyUSB0"}},
       {},
       {{3, {ById("A"), "/dev/ttyUSB0", TSource::Remembered}}},
       {{3, "/dev/ttyUSB0"}},
       {}},
      {"a pseudo-terminal in the memory is opened by its path",
       {},
       {{2, "/dev/pts/7"}},
       {},
       {{2, {"/dev/pts/7", "", TSource::Remembered}}},
       {{2, "/dev/pts/7"}},
       {}},
      {"one device written for two numbers: the lower has it",
       {FtdiAdapter("ttyUSB0", "A")},
       {{2, ById("A")}, {6, "/dev/ttyUSB0"}},
       {},
       {{2, {ById("A"), "/dev/ttyUSB0", TSource::Remembered}},
        {6, {"/dev/ttyUSB0", "", TSource::Remembered}}},
       {{2, ById("A")}, {6, "/dev/ttyUSB0"}},
       {}},
      {"the memory wins over a UART's number; the UART then has none",
       {Uart(0), FtdiAdapter("ttyUSB0", "A")},
       {{1, ById("A")}},
       {},
       {{1, {ById("A"), "/dev/ttyUSB0", TSource::Remembered}}},
       {{1, ById("A")}},
       {"/dev/ttyS0"}},
      {"sixteen taken: a seventeenth gets no number and is not remembered",
       seventeen,
       SixteenRemembered(),
       {},
       {},  // checked below
       SixteenRemembered(),
       {"/dev/ttyUSB16"}},
      {"entries outside 1..16 and empty ones are ignored",
       {FtdiAdapter("ttyUSB0", "A")},
       {{0, "/dev/x"}, {17, ById("A")}, {4, ""}},
       {{0, "/dev/y"}, {17, "/dev/z"}},
       {{1, {ById("A"), "/dev/ttyUSB0", TSource::New}}},
       {{1, ById("A")}},
       {}},
      {"an override stands for this run and is not remembered",
       {Uart(0), FtdiAdapter("ttyUSB0", "A")},
       {{2, ById("A")}},
       {{1, "/dev/pts/4"}, {2, "/dev/ttyUSB0"}},
       {{1, {"/dev/pts/4", "", TSource::Override}},
        {2, {"/dev/ttyUSB0", "/dev/ttyUSB0", TSource::Override}}},
       {{2, ById("A")}},
       {"/dev/ttyS0"}},
      {"ports the system numbered keep their numbers to 16, get no other, and are not remembered",
       {WindowsPort(20), WindowsPort(14), WindowsPort(3)},
       {},
       {},
       {{3, {"COM3", "COM3", TSource::Uart}}, {14, {"COM14", "COM14", TSource::Uart}}},
       {},
       {"COM20"}},
      {"the memory maps a menu item to a port the system numbered, which leaves its own number",
       {WindowsPort(1), WindowsPort(14), WindowsPort(20)},
       {{2, "COM14"}, {3, "COM20"}},
       {},
       {{1, {"COM1", "COM1", TSource::Uart}},
        {2, {"COM14", "COM14", TSource::Remembered}},
        {3, {"COM20", "COM20", TSource::Remembered}}},
       {{2, "COM14"}, {3, "COM20"}},
       {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TSerialPort> present = SerialPortsOf(c.Present);
    const TPortAssignment result = AssignComNumbers(present, c.Remembered, c.Overrides);
    std::map<int, TSeen> seen;
    for (const auto& [number, port] : result.Ports) {
      seen[number] = {port.Path, port.Device ? present[*port.Device].Path : "", port.Source};
    }
    if (!c.Expected.empty()) {
      EXPECT_EQ(seen, c.Expected);
    }
    EXPECT_EQ(result.Memory, c.Memory);
    std::vector<std::string> unnumbered;
    for (std::size_t i : result.Unnumbered) unnumbered.push_back(present[i].Path);
    EXPECT_EQ(unnumbered, c.Unnumbered);
    // Every present device is either behind a number or listed as without one.
    for (std::size_t i = 0; i < present.size(); ++i) {
      const bool without = std::find(result.Unnumbered.begin(), result.Unnumbered.end(), i) !=
                           result.Unnumbered.end();
      EXPECT_NE(result.NumberOf(i).has_value(), without) << present[i].Path;
    }
  }
}

TEST(PortAssignment, SixteenTakenKeepEachTheirOwnNumber) {
  const std::vector<TSerialPort> present = SerialPortsOf(SixteenAdapters());
  // Remembered in reverse: the numbers follow the memory, not the order the devices come in.
  TPortTable remembered;
  for (int i = 0; i < 16; ++i) remembered[16 - i] = ById("S" + std::to_string(i));
  const TPortAssignment result = AssignComNumbers(present, remembered, {});
  ASSERT_EQ(result.Ports.size(), 16u);
  for (const auto& [number, port] : result.Ports) {
    ASSERT_TRUE(port.Device.has_value()) << number;
    EXPECT_EQ(present[*port.Device].Key(), remembered.at(number));
  }
}

}  // namespace
