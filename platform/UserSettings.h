// What a user writes down for the serial ports, in this system's terms: the names of serial devices
// (in ports.conf and after --port) and the folder the port memory is kept in. One source file per
// system says how.
#pragma once

#include <optional>
#include <string>

namespace platform {

// `text` as the device name the program keeps and opens it by: on POSIX systems an absolute path,
// unchanged; on Windows a port name, "COMn" or "\\.\COMn" in any case (n from 1 to 255), as
// "COMn". Nothing for text that names no serial device on this system.
std::optional<std::string> DeviceNameOf(const std::string& text);

// What DeviceNameOf accepts, for a warning: "a device path beginning with '/'" and the like.
std::string DeviceNameRule();

// The folder that holds this user's settings of every program, each program keeping a folder of
// its own in it: $XDG_CONFIG_HOME, else ~/.config, on POSIX systems; %APPDATA% on Windows. Empty
// when the environment names none.
std::string UserConfigFolder();

// The base directory rule of POSIX desktops over the values of XDG_CONFIG_HOME and HOME (null when
// unset): the former when it is an absolute path, else $HOME/.config; empty when neither gives an
// absolute path.
std::string XdgConfigFolder(const char* xdgConfigHome, const char* home);

}  // namespace platform
