// The serial ports of a Windows system: the ports the system has started (its SERIALCOMM device
// map, which also holds ports without a Plug and Play driver), with what the SetupAPI knows of
// each (the friendly name Device Manager shows, the maker, the USB ids), and word from the system
// when a device comes or goes.
#include <QTimer>
#include <algorithm>
#include <map>
#include <string_view>

#include "platform/SerialDevices.h"
#include "platform/UserSettings.h"
// After our own headers (see Win32.h).
#include "platform/Win32.h"
// After <windows.h>, which they build on.
#include <dbt.h>
#include <setupapi.h>

namespace platform {

namespace {

// The device setup class of serial and parallel ports, and the interface class that serial port
// drivers register; written out here as the SDK headers that define them differ between
// toolchains.
constexpr GUID PortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID ComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// A new adapter's port number is written a moment after its interface arrives; one refresh a
// little later sees it, and takes a burst of arrivals (a hub with two adapters) as one change.
constexpr int SettleMs = 300;

std::string RegistryText(HKEY key, const char* name) {
  char value[256] = {};
  DWORD type = 0;
  DWORD size = sizeof value - 1;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return std::string(value, strnlen(value, size));
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  char value[512] = {};
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(value), sizeof value - 1,
                                           nullptr) ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    return {};
  }
  return value;  // of a list, the first entry: the most specific hardware id
}

// Four hex digits after `key` in a hardware id such as USB\VID_0403&PID_6001&REV_0600.
std::string IdAfter(std::string_view hardwareId, std::string_view key) {
  const std::size_t at = hardwareId.find(key);
  if (at == std::string_view::npos || at + key.size() + 4 > hardwareId.size()) return {};
  std::string id(hardwareId.substr(at + key.size(), 4));
  std::transform(id.begin(), id.end(), id.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return id;
}

// The record of port `name` ("COMn" as DeviceNameOf writes it), or nothing for any other name
// (a parallel port of the same setup class).
bool StartRecord(const std::string& name, TSerialDeviceRecord& record) {
  const std::optional<std::string> port = DeviceNameOf(name);
  if (!port) return false;
  record.Path = *port;
  record.SystemName = *port;
  record.SystemComNumber = std::stoi(port->substr(3));
  return true;
}

// Port name -> record, for the ports the system started.
void AddDeviceMap(std::map<int, TSerialDeviceRecord>& ports) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0;; ++index) {
    char valueName[256] = {};
    DWORD nameSize = sizeof valueName;
    char data[64] = {};
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG result = ::RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    TSerialDeviceRecord record;
    if (!StartRecord(std::string(data, strnlen(data, dataSize)), record)) continue;
    // The value's name is the kernel device behind the port, e.g. \Device\VCP0.
    record.Driver = valueName;
    ports.emplace(record.SystemComNumber, std::move(record));
  }
  ::RegCloseKey(key);
}

// What Plug and Play knows of the ports present.
void AddSetupInformation(std::map<int, TSerialDeviceRecord>& ports) {
  HDEVINFO set = ::SetupDiGetClassDevsA(&PortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const std::string portName = RegistryText(key, "PortName");
    ::RegCloseKey(key);
    TSerialDeviceRecord found;
    if (!StartRecord(portName, found)) continue;
    TSerialDeviceRecord& record = ports.try_emplace(found.SystemComNumber, found).first->second;
    record.FriendlyName = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
    record.Manufacturer = DeviceProperty(set, device, SPDRP_MFG);
    record.Product = DeviceProperty(set, device, SPDRP_DEVICEDESC);
    const std::string hardwareId = DeviceProperty(set, device, SPDRP_HARDWAREID);
    record.VendorId = IdAfter(hardwareId, "VID_");
    record.ProductId = IdAfter(hardwareId, "PID_");
    const std::string service = DeviceProperty(set, device, SPDRP_SERVICE);
    if (!service.empty()) record.Driver = service;
  }
  ::SetupDiDestroyDeviceInfoList(set);
}

constexpr char WatchClassName[] = "KestSerialDeviceWatch";

class TWin32SerialDevices final : public TSerialDeviceSource {
 public:
  TWin32SerialDevices() {
    Settle.setSingleShot(true);
    Settle.setInterval(SettleMs);
    QObject::connect(&Settle, &QTimer::timeout, &Settle, [this] {
      if (Changed) Changed();
    });
  }

  ~TWin32SerialDevices() override {
    if (Notification != nullptr) ::UnregisterDeviceNotification(Notification);
    if (Window != nullptr) {
      ::SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
      ::DestroyWindow(Window);
    }
  }

  std::vector<TSerialDeviceRecord> Devices() override {
    std::map<int, TSerialDeviceRecord> ports;  // in number order
    AddDeviceMap(ports);
    AddSetupInformation(ports);
    std::vector<TSerialDeviceRecord> records;
    for (auto& entry : ports) records.push_back(std::move(entry.second));
    return records;
  }

  // A message-only window registered for device interface news: the system posts to it, Qt's
  // event loop on this thread dispatches it, and nothing runs while nothing is plugged.
  bool Watch(std::function<void()> changed) override {
    Changed = std::move(changed);
    if (Window != nullptr) return true;
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    if (!RegisterWindowClass(instance)) return false;
    Window = ::CreateWindowExA(0, WatchClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               instance, nullptr);
    if (Window == nullptr) return false;
    ::SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ComPortInterface;
    // All interface classes: not every adapter's driver registers the serial port interface, but
    // every one of them brings some interface with it.
    Notification = ::RegisterDeviceNotificationA(
        Window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    return Notification != nullptr;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TWin32SerialDevices*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && msg == WM_DEVICECHANGE &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
      self->Settle.start();
      return TRUE;
    }
    return ::DefWindowProcA(window, msg, wParam, lParam);
  }

  static bool RegisterWindowClass(HINSTANCE instance) {
    static const bool registered = [instance] {
      WNDCLASSA windowClass{};
      windowClass.lpfnWndProc = &TWin32SerialDevices::Procedure;
      windowClass.hInstance = instance;
      windowClass.lpszClassName = WatchClassName;
      return ::RegisterClassA(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
  }

  HWND Window = nullptr;
  HDEVNOTIFY Notification = nullptr;
  QTimer Settle;
  std::function<void()> Changed;
};

}  // namespace

std::unique_ptr<TSerialDeviceSource> SystemSerialDevices() {
  return std::make_unique<TWin32SerialDevices>();
}

}  // namespace platform
