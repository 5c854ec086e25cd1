// TPortDirectory: the serial devices of this computer and their COM numbers, kept current.
//
// It lists the devices the system reports, reads the port memory (ports.conf), numbers the devices
// (AssignComNumbers), writes the memory back when a device got a new number, and tells the port map
// the device of every number, so that the serial backend opens "COM n" where it now is. With
// Watch() it does all that again whenever a device comes or goes. The window and kestlog each own
// one; it is the one writer of the port map it is given.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/PortMap.h"
#include "platform/SerialDevices.h"
#include "serial/PortAssignment.h"
#include "serial/SerialPorts.h"

class TPortDirectory {
 public:
  // `source` and `map` must outlive the directory. `portsFile` is the memory's path; empty: keep
  // the memory for this run only. Nothing is read until Refresh or Watch.
  TPortDirectory(platform::TSerialDeviceSource& source, platform::TPortMap& map,
                 std::string portsFile);

  // COM `number` is `path` for this run, whatever the memory says; not remembered.
  void SetOverride(int number, const std::string& path);

  // Lists the devices, reads the memory, numbers the devices, writes the memory when it gained a
  // number and updates the port map. Problems with the file are warned about, never fatal.
  void Refresh();
  // Refresh, then again (followed by OnChange) whenever a device comes or goes. False when the
  // system cannot tell: the numbers are then those of this Refresh.
  bool Watch();
  // Called after each refresh that Watch started; runs on the thread that called Watch.
  std::function<void()> OnChange;
  // Where warnings go: one line each, without the program's name or a newline. Standard error,
  // as they are, unless replaced.
  std::function<void(const std::string&)> Warn;

  const std::vector<TSerialPort>& Devices() const { return FDevices; }
  const TPortAssignment& Assignment() const { return FAssignment; }
  // What stands behind COM `number`, for a tool tip: "FTDI FT232R USB UART (A1234567) on
  // /dev/ttyUSB0", "/dev/pts/3", "/dev/serial/by-id/... (not plugged in)" or "no device".
  std::string Describe(int number) const;
  // The path COM `number` is opened by, if it stands for anything.
  std::optional<std::string> PathOf(int number) const;

 private:
  void ReadMemory();
  void WarnLine(const std::string& text) const;

  platform::TSerialDeviceSource& Source;
  platform::TPortMap& Map;
  std::string PortsFile;
  TPortTable Overrides;
  TPortTable Memory;         // what the program remembers, the file's content and this run's
  std::string LastFileText;  // warnings are given once per content of the file
  bool FileWarned = false;   // a failure to write is told once
  std::vector<TSerialPort> FDevices;
  TPortAssignment FAssignment;
};
