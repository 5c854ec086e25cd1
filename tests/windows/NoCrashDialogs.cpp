// Linked into every test binary of the Windows build: a test binary that crashes must end at once
// with a failure. Without this, Windows shows a crash dialog that nobody will close, and Wine
// starts its debugger. Set before main, so that it holds for everything the binary does.
#include <windows.h>

namespace {

const bool CrashDialogsOff = [] {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  return true;
}();

}  // namespace
