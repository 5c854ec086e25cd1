// Remedies for a serial device that would not open, in Linux terms.
#include "platform/OpenErrorHint.h"

namespace platform {

std::string OpenErrorHint(TOpenError error) {
  switch (error) {
    case TOpenError::PermissionDenied:
      // The usual first stumble with a USB adapter: udev gives serial devices to this group, and a
      // new membership counts only from the next login.
      return "On Linux, serial devices belong to the group dialout: add yourself with "
             "sudo usermod -aG dialout \"$USER\" and log out and in again.";
    case TOpenError::NotFound:
      return "Is the adapter plugged in? USB adapters appear as /dev/ttyUSB0 or /dev/ttyACM0, "
             "and by name under /dev/serial/by-id/.";
    case TOpenError::InUse:
      return "Another program holds the device; close it and try again.";
    case TOpenError::NotATerminal:
      return "That path is not a serial device.";
    case TOpenError::None:
    case TOpenError::Other:
      break;
  }
  return {};
}

}  // namespace platform
