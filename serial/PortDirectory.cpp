// TPortDirectory: the devices, the memory and the port map, brought together.
#include "serial/PortDirectory.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "serial/PortsFile.h"

TPortDirectory::TPortDirectory(platform::TSerialDeviceSource& source, platform::TPortMap& map,
                               std::string portsFile)
    : Source(source), Map(map), PortsFile(std::move(portsFile)) {}

void TPortDirectory::SetOverride(int number, const std::string& path) { Overrides[number] = path; }

void TPortDirectory::WarnLine(const std::string& text) const {
  if (Warn) {
    Warn(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

// The file is read again on every refresh, so an edit counts from the next device that comes or
// goes; but it is parsed, and its faults told, only when its text has changed.
void TPortDirectory::ReadMemory() {
  if (PortsFile.empty()) return;
  std::string text;
  std::string error;
  if (!ReadPortsFile(PortsFile, text, error)) {
    if (LastFileText != "\n" + error) WarnLine(error);
    LastFileText = "\n" + error;  // no file's text begins so: told once until it changes
    return;
  }
  if (text == LastFileText) return;
  LastFileText = text;
  std::vector<std::string> warnings;
  Memory = ParsePortsText(text, warnings);
  for (const std::string& warning : warnings) {
    WarnLine(PortsFile + ", " + warning + "; ignored");
  }
}

void TPortDirectory::Refresh() {
  ReadMemory();
  FDevices = SerialPortsOf(Source.Devices());
  FAssignment = AssignComNumbers(FDevices, Memory, Overrides);
  if (FAssignment.Memory != Memory) {
    // Kept for this run even when it cannot be written, so that numbers do not move meanwhile.
    Memory = FAssignment.Memory;
    std::string error;
    if (!PortsFile.empty()) {
      if (WritePortsFile(PortsFile, Memory, error)) {
        LastFileText = PortsFileText(Memory);
        FileWarned = false;
      } else if (!FileWarned) {
        WarnLine(error + "; COM numbers of new devices last for this run only");
        FileWarned = true;
      }
    }
  }
  for (int number = FirstAssignedComNumber; number <= LastAssignedComNumber; ++number) {
    if (const std::optional<std::string> path = PathOf(number)) {
      Map.Map(number, *path);
    } else {
      Map.Unmap(number);
    }
  }
}

bool TPortDirectory::Watch() {
  const bool watching = Source.Watch([this] {
    Refresh();
    if (OnChange) OnChange();
  });
  Refresh();
  return watching;
}

std::optional<std::string> TPortDirectory::PathOf(int number) const {
  const auto found = FAssignment.Ports.find(number);
  if (found == FAssignment.Ports.end()) return std::nullopt;
  return found->second.Path;
}

std::string TPortDirectory::Describe(int number) const {
  const auto found = FAssignment.Ports.find(number);
  if (found == FAssignment.Ports.end()) return "no device";
  const TComPort& port = found->second;
  if (port.Device) {
    const TSerialPort& device = FDevices[*port.Device];
    return device.Description + " on " + device.Path;
  }
  // Not among the devices the system listed: a pseudo-terminal, or an adapter that is away.
  std::error_code status;
  if (std::filesystem::exists(port.Path, status)) return port.Path;
  return port.Path + " (not plugged in)";
}
