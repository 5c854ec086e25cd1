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
