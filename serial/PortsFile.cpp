// Reading and writing the port memory, ports.conf.
#include "serial/PortsFile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/PortMap.h"
#include "platform/UserSettings.h"
#include "text/Words.h"

namespace {

constexpr std::string_view PortsSection = "ports";

// The blanks of a line of ports.conf: a CR of a file saved on Windows, form feeds and vertical tabs
// as a text editor may leave them.
std::string_view Trimmed(std::string_view text) { return text::Trim(text, " \t\r\f\v"); }

}  // namespace

std::string PortsFilePath(const char* xdgConfigHome, const char* home) {
  return PortsFileIn(platform::XdgConfigFolder(xdgConfigHome, home));
}

std::string PortsFileIn(const std::string& configFolder) {
  if (configFolder.empty()) return {};
  return (std::filesystem::path(configFolder) / "kestlsugraph" / "ports.conf").string();
}

TPortTable ParsePortsText(const std::string& text, std::vector<std::string>& warnings) {
  TPortTable table;
  std::set<std::string> devices;
  bool inPorts = false;
  std::istringstream lines(text);
  std::string line;
  for (int lineNumber = 1; std::getline(lines, line); ++lineNumber) {
    auto warn = [&](const std::string& what) {
      warnings.push_back("line " + std::to_string(lineNumber) + ": " + what);
    };
    std::string_view content = Trimmed(line);
    if (lineNumber == 1 && content.starts_with("\xEF\xBB\xBF"))
      content = Trimmed(content.substr(3));
    if (content.empty() || content.front() == '#' || content.front() == ';') continue;
    if (content.front() == '[') {
      if (content.back() != ']') {
        warn("a section name must end with ']'");
        inPorts = false;
        continue;
      }
      inPorts = text::EqualsNoCase(Trimmed(content.substr(1, content.size() - 2)), PortsSection);
      continue;
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
      warn("not KEY=VALUE");
      continue;
    }
    const std::string key(Trimmed(content.substr(0, equals)));
    const std::string written(Trimmed(content.substr(equals + 1)));
    if (!inPorts) {
      warn("'" + key + "' is outside the [ports] section");
      continue;
    }
    const std::optional<int> number = platform::TPortMap::ComNumberOf(key);
    if (!number) {
      warn("'" + key + "' is not one of COM1 to COM16");
      continue;
    }
    const std::optional<std::string> device = platform::DeviceNameOf(written);
    if (!device) {
      warn(key + " needs " + platform::DeviceNameRule() + ", not '" + written + "'");
      continue;
    }
    const std::string& value = *device;
    if (table.count(*number) != 0) {
      warn("COM" + std::to_string(*number) + " is given again; the first one stands");
      continue;
    }
    if (!devices.insert(value).second) {
      warn(value + " already has a COM number; the first one stands");
      continue;
    }
    table[*number] = value;
  }
  return table;
}

std::string PortsFileText(const TPortTable& table) {
  std::string text =
      "# The COM numbers of this computer's serial devices, as kestlsugraph and kestlog give\n"
      "# them: each number stays with its device. Edit a line to give a device another number.\n"
      "[ports]\n";
  for (const auto& [number, device] : table) {
    text += "COM" + std::to_string(number) + "=" + device + "\n";
  }
  return text;
}

bool ReadPortsFile(const std::string& path, std::string& text, std::string& error) {
  std::error_code status;
  if (!std::filesystem::exists(path, status) && !status) {
    text.clear();
    return true;
  }
  if (!std::filesystem::is_regular_file(path, status)) {
    error = path + " is not a file";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  if (file) contents << file.rdbuf();
  if (!file || file.bad()) {
    error = "cannot read " + path;
    return false;
  }
  text = contents.str();
  return true;
}

bool WritePortsFile(const std::string& path, const TPortTable& table, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code status;
  const fs::path target(path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), status);
  if (status) {
    error = "cannot make " + target.parent_path().string() + ": " + status.message();
    return false;
  }
  // Written beside it and renamed over it: a full disk or a crash never leaves half a memory.
  const std::string partial = path + ".new";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << PortsFileText(table);
    file.flush();
    if (!file) {
      error = "cannot write " + partial;
      std::remove(partial.c_str());
      return false;
    }
  }
  fs::rename(partial, target, status);
  if (status) {
    error = "cannot replace " + path + ": " + status.message();
    std::remove(partial.c_str());
    return false;
  }
  return true;
}
