# zlib as the target qel_zlib. The Windows build links it statically so that
# the program runs without extra DLLs.
add_library(qel_zlib INTERFACE)
if(WIN32)
  find_library(QEL_ZLIB_STATIC NAMES libz.a REQUIRED)
  find_path(QEL_ZLIB_INCLUDE NAMES zlib.h REQUIRED)
  target_link_libraries(qel_zlib INTERFACE ${QEL_ZLIB_STATIC})
  target_include_directories(qel_zlib INTERFACE ${QEL_ZLIB_INCLUDE})
else()
  find_package(ZLIB REQUIRED)
  target_link_libraries(qel_zlib INTERFACE ZLIB::ZLIB)
endif()
