// Serial devices on systems that number their serial ports themselves (Windows gives every adapter
// its COM number and keeps it): there is nothing for us to find or to number.
#include "platform/SerialDevices.h"

namespace platform {

namespace {

class TNoSerialDevices final : public TSerialDeviceSource {
 public:
  std::vector<TSerialDeviceRecord> Devices() override { return {}; }
  bool Watch(std::function<void()>) override { return false; }
};

}  // namespace

std::unique_ptr<TSerialDeviceSource> SystemSerialDevices() {
  return std::make_unique<TNoSerialDevices>();
}

}  // namespace platform
