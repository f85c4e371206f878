# The Windows installer of this build, made with wixl from
# resources/win32/QelViewer.wxs.in (the `msi` target, part of the build):
#   build-win64/QelViewer-<version>-x64.msi  x86-64 programs, 64-bit registry view
#   build-win32/QelViewer-<version>-x86.msi  i686 programs
# It holds QelViewer.exe, qel.exe, the thumbnail handler QelThumbnail.dll, a
# README.txt and the licence, and registers the .qel file type. The zips
# (cmake/Packaging.cmake) stay, for use without installing.
find_program(QEL_WIXL wixl)
find_program(QEL_MSIBUILD msibuild)
find_program(QEL_MSIINFO msiinfo)
if(NOT QEL_WIXL OR NOT QEL_MSIBUILD OR NOT QEL_MSIINFO)
  message(STATUS "wixl or msitools not found: no Windows installer (scripts/deps.sh installs them)")
  return()
endif()
if(NOT TARGET qel OR NOT TARGET qel_explorer_thumbnail)
  message(STATUS "no Windows installer without qel.exe and the thumbnail handler")
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QEL_MSI_ARCH x64)
  set(QEL_MSI_ARCH_TEXT "64-bit (x64)")
  set(QEL_MSI_WIN64 yes)
  set(QEL_MSI_PROGRAM_FILES ProgramFiles64Folder)
  # Its template already keeps it off 32-bit Windows.
  set(QEL_MSI_ARCH_CONDITION "")
else()
  set(QEL_MSI_ARCH x86)
  set(QEL_MSI_ARCH_TEXT "32-bit (x86)")
  set(QEL_MSI_WIN64 no)
  set(QEL_MSI_PROGRAM_FILES ProgramFilesFolder)
  # On 64-bit Windows the x64 package is the one to install; an x86 package
  # installed there before stays removable.
  set(QEL_MSI_ARCH_CONDITION "    <Condition Message=\"This is the 32-bit (x86) package of QelViewer. On 64-bit \
Windows, install ${PROJECT_NAME}-${PROJECT_VERSION}-x64.msi instead.\">NOT VersionNT64 OR Installed</Condition>")
endif()
# One upgrade code for every version and both architectures: Windows finds
# the installed QelViewer by it and replaces it.
set(upgrade_code 4B1E9F52-7C3A-4D0B-9E61-2F8A5C7D3B10)
set(QEL_MSI_UPGRADE_CODE "{${upgrade_code}}")
set(QEL_MSI_PROGID "QelViewer.PackedPicture")
# The handler's class id, as the DLL answers to it.
file(STRINGS ${PROJECT_SOURCE_DIR}/plugins/explorer/ThumbnailClsid.h clsid_line
  REGEX "^#define QEL_THUMBNAIL_CLSID_TEXT ")
if(NOT clsid_line MATCHES "\"({[0-9A-F-]+})\"")
  message(FATAL_ERROR "plugins/explorer/ThumbnailClsid.h defines no QEL_THUMBNAIL_CLSID_TEXT")
endif()
set(QEL_THUMBNAIL_CLSID ${CMAKE_MATCH_1})
# The WIC decoder's class, container format and vendor, as the DLL knows them.
foreach(id DECODER_CLSID CONTAINER_FORMAT VENDOR)
  file(STRINGS ${PROJECT_SOURCE_DIR}/plugins/explorer/DecoderIds.h id_line REGEX "^#define QEL_${id}_TEXT ")
  if(NOT id_line MATCHES "\"({[0-9A-F-]+})\"")
    message(FATAL_ERROR "plugins/explorer/DecoderIds.h defines no QEL_${id}_TEXT")
  endif()
  set(QEL_${id} ${CMAKE_MATCH_1})
endforeach()
# Component ids: fixed for each component and architecture (Windows counts
# installed files by them), derived rather than written out.
foreach(component Viewer Companion Thumbnails Decoder Documents StartMenu)
  string(UUID guid NAMESPACE ${upgrade_code} NAME "${QEL_MSI_ARCH}/${component}" TYPE SHA1 UPPER)
  set(QEL_MSI_GUID_${component} "{${guid}}")
endforeach()

# The files as they are installed: the programs and the DLL stripped, the
# texts with Windows line ends, the README naming what the installer adds.
set(QEL_MSI_FILES ${CMAKE_BINARY_DIR}/msi/files)
set(QEL_ZIP_DLL_LINE
  "  QelThumbnail.dll thumbnails of .qel files in Explorer, and their decoder for programs that\r\n                  read pictures through WIC (Photo Viewer, WPF); registered by the installer\r\n")
configure_file(${PROJECT_SOURCE_DIR}/resources/win32/README.txt.in ${QEL_MSI_FILES}/README.txt @ONLY
  NEWLINE_STYLE CRLF)
set(QEL_ZIP_DLL_LINE "")
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${QEL_MSI_FILES}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
set(wxs ${CMAKE_BINARY_DIR}/msi/QelViewer.wxs)
configure_file(${PROJECT_SOURCE_DIR}/resources/win32/QelViewer.wxs.in ${wxs} @ONLY)

# The custom action that tells the shell the file type changed, carried in
# the package (Binary table) and never installed.
add_library(qel_msi_actions MODULE ${PROJECT_SOURCE_DIR}/resources/win32/MsiActions.cpp
  ${PROJECT_SOURCE_DIR}/resources/win32/MsiActions.def)
set_target_properties(qel_msi_actions PROPERTIES OUTPUT_NAME QelMsiActions PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/msi)
target_link_libraries(qel_msi_actions PRIVATE shell32)
target_link_options(qel_msi_actions PRIVATE -static-libgcc -static-libstdc++)

set(QEL_MSI_FILE ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-${QEL_MSI_ARCH}.msi)
set(binaries QelViewer qel qel_explorer_thumbnail qel_msi_actions)
set(copies "")
foreach(target IN LISTS binaries)
  list(APPEND copies COMMAND ${CMAKE_STRIP} -o ${QEL_MSI_FILES}/$<TARGET_FILE_NAME:${target}>
    $<TARGET_FILE:${target}>)
endforeach()
add_custom_command(OUTPUT ${QEL_MSI_FILE}
  ${copies}
  # wixl takes the files' paths relative to the folder it runs in: files/.
  COMMAND ${QEL_WIXL} -a ${QEL_MSI_ARCH} -o ${QEL_MSI_FILE} ${wxs}
  COMMAND ${CMAKE_COMMAND} -DMSI=${QEL_MSI_FILE} -DMSIINFO=${QEL_MSIINFO} -DMSIBUILD=${QEL_MSIBUILD}
    -P ${PROJECT_SOURCE_DIR}/cmake/MsiTables.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/msi
  DEPENDS ${binaries} ${wxs} ${QEL_MSI_FILES}/README.txt ${QEL_MSI_FILES}/LICENSE.txt
    ${PROJECT_SOURCE_DIR}/cmake/MsiTables.cmake
  COMMENT "Making ${PROJECT_NAME}-${PROJECT_VERSION}-${QEL_MSI_ARCH}.msi"
  VERBATIM)
add_custom_target(msi ALL DEPENDS ${QEL_MSI_FILE})

# Installed, upgraded and uninstalled in a fresh Wine prefix of its own.
if(QEL_BUILD_TESTS AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME qel_msi_install_upgrade_uninstall
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/test-msi.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(qel_msi_install_upgrade_uninstall PROPERTIES LABELS emulator)
endif()
