// Test entry for the binaries of the cross build for Windows, which has no Qt: GoogleTest alone.
#include <gtest/gtest.h>
#include <windows.h>

int main(int argc, char** argv) {
  // A test binary that crashes must end at once with a failure. Without this, Windows shows a
  // crash dialog that nobody will close, and Wine starts its debugger.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
