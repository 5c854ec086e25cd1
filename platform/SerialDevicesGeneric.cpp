// Serial devices on systems we have no way to ask: none are found, and COM n is what the user maps
// to it.
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
