# Cross-build for 64-bit Intel Windows (PE32+).
set(QEL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
