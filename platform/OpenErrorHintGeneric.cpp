// Remedies for a serial device that would not open, on systems without words of their own.
#include "platform/OpenErrorHint.h"

namespace platform {

std::string OpenErrorHint(TOpenError error) {
  switch (error) {
    case TOpenError::PermissionDenied:
      return "This user may not open the device; ask the administrator for access to serial "
             "ports.";
    case TOpenError::NotFound:
      return "Is the adapter plugged in, and is this its name?";
    case TOpenError::InUse:
      return "Another program holds the device; close it and try again.";
    case TOpenError::NotATerminal:
      return "That device is not a serial port.";
    case TOpenError::None:
    case TOpenError::Other:
      break;
  }
  return {};
}

}  // namespace platform
