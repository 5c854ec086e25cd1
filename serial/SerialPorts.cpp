// Turning the system's device records into the serial ports the program offers.
#include "serial/SerialPorts.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

constexpr std::string_view ById = "/dev/serial/by-id/";
constexpr std::string_view ByPath = "/dev/serial/by-path/";
constexpr int LastComNumber = 16;

// The kernel name split into its letters and its number, so ttyUSB10 sorts after ttyUSB9.
std::pair<std::string_view, long> NameOrder(std::string_view name) {
  std::size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  long number = -1;
  std::from_chars(name.data() + digits, name.data() + name.size(), number);
  return {name.substr(0, digits), number};
}

// n for "ttyS<n-1>" with n within the sixteen COM numbers.
std::optional<int> UartComNumberOf(std::string_view systemName) {
  const auto [letters, index] = NameOrder(systemName);
  if (letters != "ttyS" || index < 0 || index >= LastComNumber) return std::nullopt;
  if (systemName.size() > 5 && systemName[4] == '0') return std::nullopt;  // no "ttyS01"
  return static_cast<int>(index) + 1;
}

std::string StableNameOf(const std::vector<std::string>& links) {
  for (std::string_view prefix : {ById, ByPath}) {
    for (const std::string& link : links) {
      if (link.starts_with(prefix)) return link;
    }
  }
  return {};
}

// The adapter's own words, as plain as they come: maker and product (without saying the maker
// twice, as many products begin with it), then the serial number, which tells two alike apart.
std::string DescriptionOf(const platform::TSerialDeviceRecord& record, bool uart) {
  // The system's own name for it is the one the user sees everywhere else (Device Manager).
  if (!record.FriendlyName.empty()) return record.FriendlyName;
  std::string text = record.Manufacturer;
  if (!record.Product.empty()) {
    if (text.empty() || record.Product.starts_with(text)) {
      text = record.Product;
    } else {
      text += " " + record.Product;
    }
  }
  if (text.empty() && !record.VendorId.empty()) {
    text = "USB serial adapter " + record.VendorId + ":" + record.ProductId;
  }
  if (!text.empty()) {
    if (!record.SerialNumber.empty()) text += " (" + record.SerialNumber + ")";
    return text;
  }
  if (uart) return "built-in serial port";
  if (!record.Driver.empty()) return "serial device (" + record.Driver + ")";
  return "serial device";
}

}  // namespace

bool TSerialPort::HasName(const std::string& name) const {
  return name == Path || std::find(Links.begin(), Links.end(), name) != Links.end();
}

std::vector<TSerialPort> SerialPortsOf(const std::vector<platform::TSerialDeviceRecord>& records) {
  std::vector<const platform::TSerialDeviceRecord*> kept;
  for (const platform::TSerialDeviceRecord& record : records) {
    // A UART's type code is 0 when no chip answered at its address: the node is only a name.
    if (record.UartType == "0" || record.Path.empty()) continue;
    kept.push_back(&record);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const auto* a, const auto* b) {
    return NameOrder(a->SystemName) < NameOrder(b->SystemName);
  });
  std::vector<TSerialPort> ports;
  for (const platform::TSerialDeviceRecord* record : kept) {
    TSerialPort port;
    port.Path = record->Path;
    port.StableName = StableNameOf(record->Links);
    port.Links = record->Links;
    const std::optional<int> uart = UartComNumberOf(record->SystemName);
    port.SystemComNumber = uart;
    if (record->SystemComNumber > 0) port.SystemComNumber = record->SystemComNumber;
    port.Description = DescriptionOf(*record, uart.has_value());
    ports.push_back(std::move(port));
  }
  return ports;
}
