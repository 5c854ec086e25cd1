// Which program holds a device open, for telling a user whom to ask when a port is in use.
#pragma once

#include <string>

namespace platform {

// "NAME (process PID)" of a process other than this one that has the device at `path` open (the
// path may be a link to it), or empty when the system cannot tell or nobody else holds it. Looks
// only at processes this user may look into.
std::string DeviceHolder(const std::string& path);

}  // namespace platform
