# Cross-build for 32-bit Intel Windows (PE32): the primary Windows program.
set(QEL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
