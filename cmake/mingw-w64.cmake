# Cross-compiling for 64-bit Windows with the MinGW-w64 compilers that use POSIX threads (their
# std::thread and std::mutex need no extra runtime of ours).
#
# KEST_QT_PREFIX names the folder of a Qt built for this target (unpacked from its archive by
# scripts/cross-build.sh); without it only the Qt-free libraries can be built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KEST_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KEST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KEST_MINGW_TRIPLE}-windres)

# Headers and libraries come from the Windows sysroot and the target's Qt only; build tools (moc,
# rcc, uic: the host's own of the same Qt version) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KEST_MINGW_TRIPLE})
if(KEST_QT_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KEST_QT_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${KEST_QT_PREFIX})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KEST_QT_PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs load the compiler's C++, GCC and thread runtimes from DLLs, the same ones Qt's DLLs
# load, so that a process holds one C++ runtime, not two; the build copies them beside the
# programs (see the top-level CMakeLists.txt).

# Built programs, tests included, are run under Wine where it is installed (Debian's wine64 puts
# its loader outside PATH). A run that cannot find it still builds; only ctest needs it.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KEST_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(KEST_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KEST_WINE64})
  endif()
endif()
