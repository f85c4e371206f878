# Packages people install, made by CPack in the build folder (`cpack`, or
# the `package` target):
#   Linux:   qelviewer_<version>_<arch>.deb  (the viewer, qel, the desktop
#            entry, the file type, the thumbnailer entry, icons, man pages),
#            and one package per image plugin, each on its own:
#            qel-pixbuf-loader_..., qt5-image-formats-plugin-qel_...,
#            qt6-image-formats-plugin-qel_...
#   Windows: QelViewer-<version>-win32.zip or -win64.zip (the programs, a
#            README.txt and the licence)
# The version is the project's, like everything else that shows one.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "QelViewer developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for packed picture files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Folders in a package are rwxr-xr-x whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(QEL_PACKAGE_MAINTAINER "QelViewer developers <dev@qelviewer.invalid>"
  CACHE STRING "Maintainer named in the Debian package")

if(WIN32)
  # The zip: one folder, QelViewer-<version>-win32, holding the programs, a
  # README.txt and the licence, both with Windows line endings. Only the
  # "zip" component goes in: install rules meant for Linux prefixes stay out.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QEL_ZIP_ARCH win64)
    set(QEL_ZIP_ARCH_TEXT "64-bit (x64)")
  else()
    set(QEL_ZIP_ARCH win32)
    set(QEL_ZIP_ARCH_TEXT "32-bit (x86)")
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${QEL_ZIP_ARCH})
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};zip;/")

  install(TARGETS QelViewer RUNTIME DESTINATION . COMPONENT zip)
  set(QEL_ZIP_QEL_LINE "")
  if(TARGET qel)
    install(TARGETS qel RUNTIME DESTINATION . COMPONENT zip)
    # A line of its own inside a template line, so it brings its own CRLF:
    # configure_file converts only the template's line ends.
    set(QEL_ZIP_QEL_LINE
      "  qel.exe         the command-line companion: run \"qel --help\" in a console\r\n")
  endif()
  set(QEL_ZIP_TITLE "QelViewer ${PROJECT_VERSION} for Windows, ${QEL_ZIP_ARCH_TEXT}")
  string(LENGTH "${QEL_ZIP_TITLE}" title_length)
  string(REPEAT "=" ${title_length} QEL_ZIP_TITLE_RULE)
  configure_file(${PROJECT_SOURCE_DIR}/resources/win32/README.txt.in
    ${CMAKE_BINARY_DIR}/zip/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE
    ${CMAKE_BINARY_DIR}/zip/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/zip/README.txt ${CMAKE_BINARY_DIR}/zip/LICENSE.txt
    DESTINATION . COMPONENT zip)
else()
  # The Debian package: everything `cmake --install` installs, under /usr.
  include(cmake/CompressedDocs.cmake)
  include(CPackComponent)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME qelviewer)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # One package per group of install components, so that nobody who wants
  # only the viewer pulls in Qt 5 or GdkPixbuf, and nobody who wants only a
  # plugin pulls in the viewer.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  foreach(component viewer qel_tools doc)
    cpack_add_component(${component} GROUP qelviewer)
  endforeach()
  set(CPACK_DEBIAN_QELVIEWER_PACKAGE_NAME qelviewer)
  # The file type that the viewer and every plugin go by, in a package that
  # each of theirs depends on.
  cpack_add_component(file_type GROUP file_type)
  set(CPACK_DEBIAN_FILE_TYPE_PACKAGE_NAME qel-file-type)
  set(CPACK_DEBIAN_FILE_TYPE_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_FILE_TYPE_DESCRIPTION "file type of packed picture files (.qel)
Declares the file type image/x-qel (also known as application/x-qel) for
names ending in .qel, so that desktops, file managers and image programs
know packed picture files: one zlib stream whose content is a small BMP
picture, typically a 24x24 sprite.")
  set(qel_file_type_dependency "qel-file-type (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_QELVIEWER_PACKAGE_DEPENDS ${qel_file_type_dependency})
  # Each summary is its package's own (the first line of its description).
  # CPack puts the project's summary above every description unless it is
  # CPack's own default, so it is set to that here.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QEL_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
  # The libraries the programs link (Qt, libpng, zlib, the C++ runtime), as
  # dpkg-shlibdeps finds them in the binaries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # CPack puts the summary above this and indents it for the control file.
  set(CPACK_DEBIAN_QELVIEWER_DESCRIPTION
"viewer for packed picture files
QelViewer shows the sprite in a packed picture file (.qel): one zlib
stream whose content is a small BMP picture, typically a 24x24 sprite.
Drag a file onto the window to see it on a backdrop; Extract(BMP) writes
the inflated picture as a BMP file.

The package also holds qel, a command-line companion that extracts,
inspects, packs and renders packed files in bulk, and a thumbnailer entry
so that file managers preview them.")
  # No maintainer scripts: the desktop's menu, file type and icon caches are
  # brought up to date by the file triggers of desktop-file-utils,
  # shared-mime-info and the icon cache packages.

  # /usr/share/doc/qelviewer: the licence in Debian's machine-readable form,
  # built from LICENSE, and the changelog, whose newest entry must name the
  # project's version.
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_PACKAGE_NAME})
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  if(NOT licence MATCHES "Copyright \\(c\\) ([^\n]+)")
    message(FATAL_ERROR "LICENSE names no copyright holder")
  endif()
  set(QEL_COPYRIGHT_HOLDERS "${CMAKE_MATCH_1}")
  string(FIND "${licence}" "Permission is hereby granted" at)
  string(SUBSTRING "${licence}" ${at} -1 licence)
  string(STRIP "${licence}" licence)
  # Each line indented by one space, an empty line written as " .".
  string(REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " QEL_LICENSE_TEXT " ${licence}")
  configure_file(${PROJECT_SOURCE_DIR}/resources/debian/copyright.in
    ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)

  set(changelog ${PROJECT_SOURCE_DIR}/resources/debian/changelog)
  file(STRINGS ${changelog} newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^${CPACK_DEBIAN_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
    message(WARNING "resources/debian/changelog has no entry for version ${PROJECT_VERSION} "
      "on top; add one before making a package")
  endif()
  qel_gzip_file(${changelog} ${CMAKE_BINARY_DIR}/debian/changelog.gz)

  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${doc_dir} COMPONENT doc)

  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qel-file-type COMPONENT file_type)

  # The plugin packages: Debian's habits for such modules (section libs, the
  # program libraries they plug into as Enhances, dependencies found by
  # dpkg-shlibdeps, files in the multiarch module folders). Each carries the
  # licence and changelog in a doc folder of its own.
  set(plugin_packages
    "pixbufloader-qel|pixbuf_loader|qel-pixbuf-loader|libgdk-pixbuf-2.0-0|GdkPixbuf loader for packed picture files (.qel)|GTK \
image viewers, thumbnailers and file choosers"
    "qel_qt5_image_plugin|qt5_image_plugin|qt5-image-formats-plugin-qel|libqt5gui5|Qt 5 image plugin for packed picture files (.qel)|Qt 5 \
image viewers, paint programs and KDE's thumbnails"
    "qel_qt6_image_plugin|qt6_image_plugin|qt6-image-formats-plugin-qel|libqt6gui6|Qt 6 image plugin for packed picture files (.qel)|Qt 6 \
image viewers and paint programs")
  foreach(entry IN LISTS plugin_packages)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 target)
    if(NOT TARGET ${target})
      continue()
    endif()
    list(GET entry 1 component)
    list(GET entry 2 package)
    list(GET entry 3 enhances)
    list(GET entry 4 summary)
    list(GET entry 5 hosts)
    string(TOUPPER ${component} group)
    cpack_add_component(${component} GROUP ${component})
    set(CPACK_DEBIAN_${group}_PACKAGE_NAME ${package})
    set(CPACK_DEBIAN_${group}_PACKAGE_SECTION libs)
    set(CPACK_DEBIAN_${group}_PACKAGE_ENHANCES ${enhances})
    set(CPACK_DEBIAN_${group}_PACKAGE_DEPENDS ${qel_file_type_dependency})
    set(CPACK_DEBIAN_${group}_DESCRIPTION "${summary}
Lets ${hosts}
open packed picture files (.qel): one zlib stream whose content is a small
BMP picture, typically a 24x24 sprite. They show exactly the picture
QelViewer shows, with the key colour transparent, and can save a picture
as a packed file when QelViewer could show it.")
    install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

include(CPack)
