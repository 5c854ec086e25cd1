// The serial devices of a Linux system, from udev: the enumeration of the tty subsystem for what
// is there, and udev's monitor socket for what comes and goes.
//
// udev already knows every name and attribute we show (the stable links it made, the USB strings),
// so they are read from it, not from /sys by hand.
#include <libudev.h>

#include <QSocketNotifier>
#include <memory>
#include <string_view>

#include "platform/SerialDevices.h"

namespace platform {

namespace {

struct TUdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using TUdevPtr = std::unique_ptr<T, TUdevDeleter>;

std::string TextOf(const char* value) {
  return value != nullptr ? std::string(value) : std::string();
}

// The record of one tty device, or nothing for a tty with no hardware behind it (virtual
// consoles, the console, ptmx): those have no parent device.
bool FillRecord(udev_device* tty, TSerialDeviceRecord& record) {
  udev_device* parent = udev_device_get_parent(tty);  // owned by `tty`
  const char* node = udev_device_get_devnode(tty);
  if (parent == nullptr || node == nullptr) return false;
  record.Path = node;
  record.SystemName = TextOf(udev_device_get_sysname(tty));
  for (udev_list_entry* link = udev_device_get_devlinks_list_entry(tty); link != nullptr;
       link = udev_list_entry_get_next(link)) {
    record.Links.push_back(TextOf(udev_list_entry_get_name(link)));
  }
  record.Driver = TextOf(udev_device_get_driver(parent));
  record.UartType = TextOf(udev_device_get_sysattr_value(tty, "type"));
  // A USB adapter's strings belong to the USB device a few levels up (port, interface, device).
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device")) {
    record.VendorId = TextOf(udev_device_get_sysattr_value(usb, "idVendor"));
    record.ProductId = TextOf(udev_device_get_sysattr_value(usb, "idProduct"));
    record.Manufacturer = TextOf(udev_device_get_sysattr_value(usb, "manufacturer"));
    record.Product = TextOf(udev_device_get_sysattr_value(usb, "product"));
    record.SerialNumber = TextOf(udev_device_get_sysattr_value(usb, "serial"));
  }
  return true;
}

class TUdevSerialDevices final : public TSerialDeviceSource {
 public:
  TUdevSerialDevices() : Udev(udev_new()) {}

  std::vector<TSerialDeviceRecord> Devices() override {
    std::vector<TSerialDeviceRecord> records;
    if (!Udev) return records;
    TUdevPtr<udev_enumerate> scan(udev_enumerate_new(Udev.get()));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0) {
      return records;
    }
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(scan.get()); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
      TUdevPtr<udev_device> tty(
          udev_device_new_from_syspath(Udev.get(), udev_list_entry_get_name(entry)));
      TSerialDeviceRecord record;
      if (tty && FillRecord(tty.get(), record)) records.push_back(std::move(record));
    }
    return records;
  }

  // udev's monitor socket: the system wakes us when a tty comes or goes, and an idle line costs
  // nothing. The events are those udev has finished with, so the stable links already exist when
  // the devices are listed again.
  bool Watch(std::function<void()> changed) override {
    Changed = std::move(changed);
    if (Notifier) return true;
    if (!Udev) return false;
    TUdevPtr<udev_monitor> monitor(udev_monitor_new_from_netlink(Udev.get(), "udev"));
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
      return false;
    }
    Monitor = std::move(monitor);
    Notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(Monitor.get()),
                                                 QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(),
                     [this] { OnMonitorReadable(); });
    return true;
  }

 private:
  void OnMonitorReadable() {
    // Every queued event is taken, so one burst (a hub with two adapters) makes one call.
    bool any = false;
    while (TUdevPtr<udev_device> event{udev_monitor_receive_device(Monitor.get())}) any = true;
    if (any && Changed) Changed();
  }

  TUdevPtr<udev> Udev;
  TUdevPtr<udev_monitor> Monitor;
  std::unique_ptr<QSocketNotifier> Notifier;
  std::function<void()> Changed;
};

}  // namespace

std::unique_ptr<TSerialDeviceSource> SystemSerialDevices() {
  return std::make_unique<TUdevSerialDevices>();
}

}  // namespace platform
