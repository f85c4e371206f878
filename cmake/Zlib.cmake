# zlib as the target qel_zlib. The Windows build links it statically so that
# the program runs without extra DLLs. The WebAssembly build has no system
# zlib to link: it compiles the release the Linux build uses from its source
# tree, QEL_ZLIB_SOURCE_DIR (scripts/debian-source.sh zlib DIR fetches it).
add_library(qel_zlib INTERFACE)
if(WIN32)
  find_library(QEL_ZLIB_STATIC NAMES libz.a REQUIRED)
  find_path(QEL_ZLIB_INCLUDE NAMES zlib.h REQUIRED)
  target_link_libraries(qel_zlib INTERFACE ${QEL_ZLIB_STATIC})
  target_include_directories(qel_zlib INTERFACE ${QEL_ZLIB_INCLUDE})
elseif(EMSCRIPTEN)
  set(QEL_ZLIB_SOURCE_DIR "" CACHE PATH "Unpacked zlib source tree to compile")
  if(NOT EXISTS "${QEL_ZLIB_SOURCE_DIR}/inflate.c")
    message(FATAL_ERROR "QEL_ZLIB_SOURCE_DIR must name a zlib source tree "
      "(scripts/debian-source.sh zlib build-web/deps prints one)")
  endif()
  enable_language(C)
  set(_zlib_sources adler32.c compress.c crc32.c deflate.c inffast.c inflate.c inftrees.c trees.c
    uncompr.c zutil.c)
  list(TRANSFORM _zlib_sources PREPEND "${QEL_ZLIB_SOURCE_DIR}/")
  add_library(qel_zlib_source STATIC ${_zlib_sources})
  target_include_directories(qel_zlib_source SYSTEM PUBLIC "${QEL_ZLIB_SOURCE_DIR}")
  # Someone else's code: its warnings are not ours to fix.
  target_compile_options(qel_zlib_source PRIVATE -w)
  target_link_libraries(qel_zlib INTERFACE qel_zlib_source)
else()
  find_package(ZLIB REQUIRED)
  target_link_libraries(qel_zlib INTERFACE ZLIB::ZLIB)
endif()
