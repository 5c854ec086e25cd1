// The words for a port that would not open: the same in the window's tool tip and in kestlog.
#include <gtest/gtest.h>

#include "serial/OpenFailureText.h"

namespace {

using platform::TOpenError;
using platform::TOpenFailure;

TEST(OpenFailureText, OneLineWithTheReasonAndTheRemedy) {
  struct TCase {
    TOpenFailure Failure;
    const char* Starts;
    const char* Contains;
  };
  const TCase cases[] = {
      // The remedies are the system's own (the dialout group on Linux, see the pty tests).
      {{TOpenError::PermissionDenied, "/dev/ttyUSB0", "Permission denied", ""},
       "could not open /dev/ttyUSB0: permission denied. ",
       ""},
      {{TOpenError::NotFound, "/dev/ttyUSB0", "No such file or directory", ""},
       "could not open /dev/ttyUSB0: no such device (No such file or directory). ",
       "plugged in"},
      {{TOpenError::InUse, "\\\\.\\COM3", "Access is denied", ""},
       "could not open \\\\.\\COM3: in use by another program (Access is denied). ",
       "close it"},
      {{TOpenError::InUse, "/dev/ttyUSB0", "Resource temporarily unavailable",
        "minicom (process 42)"},
       "could not open /dev/ttyUSB0: in use by another program, minicom (process 42). ",
       "close it"},
      {{TOpenError::InUse, "/dev/ttyUSB0", "", ""},
       "could not open /dev/ttyUSB0: in use by another program. ",
       "close it"},
      {{TOpenError::NotATerminal, "/tmp/file", "", ""},
       "could not open /tmp/file: not a serial device.",
       ""},
      {{TOpenError::Other, "/dev/ttyUSB0", "Input/output error", ""},
       "could not open /dev/ttyUSB0: Input/output error.",
       ""},
      // A backend that says nothing more: the name the caller gave, and a reason all the same.
      {{TOpenError::Other, "", "", ""}, "could not open COM3: the system refused.", ""},
      {{TOpenError::PermissionDenied, "", "", ""}, "could not open COM3: permission denied.", ""},
  };
  for (const TCase& c : cases) {
    const std::string text = OpenFailureText("COM3", c.Failure);
    SCOPED_TRACE(text);
    EXPECT_EQ(text.rfind(c.Starts, 0), 0u);
    EXPECT_NE(text.find(c.Contains), std::string::npos);
    EXPECT_EQ(text.find('\n'), std::string::npos);
  }
  // The window's tool tip puts the fix on a line of its own; the words are the same.
  const TOpenFailure refused{TOpenError::NotFound, "/dev/ttyUSB0", "", ""};
  std::string twoLines = OpenFailureText("COM3", refused, "\n");
  EXPECT_EQ(twoLines.find("no such device.\n"), twoLines.find("no such device."));
  twoLines.replace(twoLines.find('\n'), 1, " ");
  EXPECT_EQ(twoLines, OpenFailureText("COM3", refused));
}

}  // namespace
