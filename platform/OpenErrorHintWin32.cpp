// Remedies for a serial port that would not open, in Windows terms.
#include "platform/OpenErrorHint.h"

namespace platform {

std::string OpenErrorHint(TOpenError error) {
  switch (error) {
    case TOpenError::NotFound:
      // Windows often gives a USB adapter a number above the menu's eight.
      return "Is the adapter plugged in? Device Manager shows its number under Ports (COM & "
             "LPT); map a menu item to it in ports.conf (COM2=COM14) or with --port COM2=COM14, "
             "or give it a lower number in the port's Advanced settings.";
    case TOpenError::InUse:
      return "Another program holds the port (a terminal program, another kestlsugraph or "
             "kestlog); close it and try again.";
    case TOpenError::PermissionDenied:
      return "This user may not open the port; ask the administrator.";
    case TOpenError::NotATerminal:
      return "That name is not a serial port.";
    case TOpenError::None:
    case TOpenError::Other:
      break;
  }
  return {};
}

}  // namespace platform
