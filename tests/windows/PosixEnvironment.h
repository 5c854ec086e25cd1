// setenv and unsetenv, which the Windows C library does not have, for test files of the POSIX
// builds that set an environment variable and are built for Windows as they are. Included before
// such a file by the cross build (tests/windows/CMakeLists.txt), never by a source file.
#pragma once

#include <stdlib.h>

#include <string>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// A std::filesystem path is wide on Windows, so POSIX code that passes a path's c_str() hands
// over wide text.
inline int setenv(const char* name, const wchar_t* value, int overwrite) {
  const std::string narrowName(name);
  const std::wstring wideName(narrowName.begin(), narrowName.end());  // names are ASCII
  if (overwrite == 0 && _wgetenv(wideName.c_str()) != nullptr) return 0;
  return _wputenv_s(wideName.c_str(), value) == 0 ? 0 : -1;
}

// An empty value removes the variable on Windows.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
