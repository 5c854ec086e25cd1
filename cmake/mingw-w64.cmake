# Cross-compiling for 64-bit Windows with the MinGW-w64 compilers that use POSIX threads (their
# std::thread and std::mutex need no extra runtime of ours).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KEST_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KEST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KEST_MINGW_TRIPLE}-windres)

# Headers and libraries come from the Windows sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KEST_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry the compiler's C++, GCC and thread runtimes inside them, so a program runs on a
# Windows machine (or under Wine) as it is, without the toolchain's DLLs beside it. The tests'
# replacement operator new also needs it: with the runtime in a DLL, the DLL's own allocations
# would bypass the count.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Built programs, tests included, are run under Wine where it is installed (Debian's wine64 puts
# its loader outside PATH). A run that cannot find it still builds; only ctest needs it.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KEST_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(KEST_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KEST_WINE64})
  endif()
endif()
