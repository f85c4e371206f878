# libpng as the target qel_png.
#
# Linux links the system's libpng. The Windows build compiles libpng itself,
# statically, from the same Debian source package (the upstream release with
# Debian's patches, which are security fixes), against the same static zlib:
# the same library then gives the same bytes and the same refusals on both
# systems, and qel.exe needs no DLL beyond the system's. The source is fetched
# once into the build folder by scripts/debian-source.sh; to build offline,
# point QEL_LIBPNG_SOURCE at an unpacked (and patched) libpng 1.6 tree.
add_library(qel_png INTERFACE)
if(NOT WIN32)
  find_package(PNG REQUIRED)
  target_link_libraries(qel_png INTERFACE PNG::PNG)
  return()
endif()

enable_language(C)
set(QEL_LIBPNG_SOURCE "" CACHE PATH "An unpacked libpng 1.6 source tree for the Windows build (empty: fetch Debian's)")
set(libpng_dir "${QEL_LIBPNG_SOURCE}")
if(NOT libpng_dir)
  set(cache "${CMAKE_BINARY_DIR}/third-party")
  set(libpng_dir "${cache}/libpng-patched")
  if(NOT EXISTS "${libpng_dir}/.qel-patched")
    execute_process(COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/debian-source.sh" libpng1.6 "${cache}"
      OUTPUT_VARIABLE pristine OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT EXISTS "${pristine}/png.h")
      message(FATAL_ERROR "Could not fetch Debian's libpng1.6 source (${rc}); set QEL_LIBPNG_SOURCE to build offline")
    endif()
    # Debian's patches go onto a copy, so that a failed patch never leaves a
    # half-patched tree that a later configure would take as done.
    file(GLOB debian_tarball "${cache}/libpng1.6_*.debian.tar.*")
    list(LENGTH debian_tarball count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "Expected one Debian changes tarball in ${cache}, found ${count}")
    endif()
    file(REMOVE_RECURSE "${cache}/debian-changes" "${libpng_dir}")
    file(ARCHIVE_EXTRACT INPUT "${debian_tarball}" DESTINATION "${cache}/debian-changes")
    file(COPY "${pristine}/" DESTINATION "${libpng_dir}")
    file(STRINGS "${cache}/debian-changes/debian/patches/series" patches)
    foreach(patch IN LISTS patches)
      string(STRIP "${patch}" patch)
      if(patch STREQUAL "" OR patch MATCHES "^#")
        continue()
      endif()
      execute_process(COMMAND patch -p1 --forward --silent
        -i "${cache}/debian-changes/debian/patches/${patch}"
        WORKING_DIRECTORY "${libpng_dir}" RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        file(REMOVE_RECURSE "${libpng_dir}")
        message(FATAL_ERROR "Debian's patch ${patch} does not apply to libpng")
      endif()
    endforeach()
    file(TOUCH "${libpng_dir}/.qel-patched")
  endif()
endif()

file(STRINGS "${libpng_dir}/png.h" version_line REGEX "^#define PNG_LIBPNG_VER_STRING ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" libpng_version "${version_line}")
message(STATUS "libpng ${libpng_version} for Windows from ${libpng_dir}")

# The library's default configuration, as its own builds generate it.
configure_file("${libpng_dir}/scripts/pnglibconf.h.prebuilt"
  "${CMAKE_BINARY_DIR}/third-party/libpng-config/pnglibconf.h" COPYONLY)
set(sources png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c pngrtran.c pngrutil.c
  pngset.c pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c)
list(TRANSFORM sources PREPEND "${libpng_dir}/")
add_library(qel_libpng STATIC ${sources})
target_include_directories(qel_libpng SYSTEM PUBLIC "${libpng_dir}" "${CMAKE_BINARY_DIR}/third-party/libpng-config")
target_link_libraries(qel_libpng PUBLIC qel_zlib)
# Someone else's code: its warnings are not ours to fix.
target_compile_options(qel_libpng PRIVATE -w)
target_link_libraries(qel_png INTERFACE qel_libpng)
