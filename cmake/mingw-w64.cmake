# Cross-build for Intel Windows with mingw-w64, for either architecture:
# included by mingw-i686.cmake (32-bit, the program every Windows PC runs) or
# mingw-x86_64.cmake (64-bit), which set QEL_MINGW_ARCH first. Both builds
# come from the same sources and differ only in what is set here.
if(NOT QEL_MINGW_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "QEL_MINGW_ARCH must be i686 or x86_64, not \"${QEL_MINGW_ARCH}\"")
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QEL_MINGW_ARCH})
set(QEL_MINGW_TRIPLE ${QEL_MINGW_ARCH}-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which GCC 12's win32
# thread model lacks. -static below links winpthreads in, so the program still
# needs no DLLs beyond the system's.
set(CMAKE_C_COMPILER ${QEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QEL_MINGW_TRIPLE}-windres)
# zlib (libz-mingw-w64-dev) is found here, as a static library for each.
set(CMAKE_FIND_ROOT_PATH /usr/${QEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(QEL_MINGW_ARCH STREQUAL i686)
  # SSE2 floating point rather than x87, so that double arithmetic rounds as
  # on every other build (x86-64 uses SSE2 anyway).
  set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
endif()
# The runtime is linked in so no DLLs are needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests run under Wine, each architecture under its own loader. The `wine`
# wrapper is no use for the 64-bit build: it starts the 32-bit loader
# whenever that is installed, even on a host that cannot run it.
if(QEL_MINGW_ARCH STREQUAL i686)
  set(QEL_WINE_LOADER /usr/lib/wine/wine CACHE FILEPATH "Wine loader that runs the tests")
else()
  set(QEL_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the tests")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEL_WINE_LOADER})
