// The port memory on disk: kestlsugraph/ports.conf in the user's settings folder
// ($XDG_CONFIG_HOME, %APPDATA% on Windows), an INI file whose [ports] section holds COM1 to COM16,
// each the device (a stable path; on Windows a port the system numbered) the number belongs to.
//
//   [ports]
//   COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0
//   COM2=COM14
//
// Users may edit it. A line that cannot be used is skipped with a warning; nothing in the file
// can stop the program.
#pragma once

#include <string>
#include <vector>

#include "serial/PortAssignment.h"

// The file's path from the values of XDG_CONFIG_HOME and HOME (null when unset): the former when
// it is an absolute path, else $HOME/.config. Empty when neither gives one.
std::string PortsFilePath(const char* xdgConfigHome, const char* home);
// The file's path in the settings folder `configFolder`; empty for an empty folder.
std::string PortsFileIn(const std::string& configFolder);

// The table in the text of a ports file. Every line that cannot be used adds one warning to
// `warnings`, "line N: what is wrong", and is skipped: a key other than COM1..COM16, a number given
// twice, a device given to two numbers, a value that names no device on this system (not an
// absolute path; on Windows not a port name), a line that is not "KEY=VALUE", a key outside
// [ports]. Values are kept as platform::DeviceNameOf writes them.
TPortTable ParsePortsText(const std::string& text, std::vector<std::string>& warnings);

// The text ParsePortsText reads back as `table`, with a comment saying what the file is.
std::string PortsFileText(const TPortTable& table);

// Reads the file at `path` into `text`. A missing file is an empty one; false (and `error` set)
// when it exists but cannot be read.
bool ReadPortsFile(const std::string& path, std::string& text, std::string& error);

// Writes `table` to `path`, making its folder when needed; the old file is replaced only once the
// new one is complete. False, and `error` set, when it cannot be written.
bool WritePortsFile(const std::string& path, const TPortTable& table, std::string& error);
