# The Qt image plugin for one Qt major version: qel_add_qt_image_plugin(5)
# or (6). Each is called from a folder of its own (qt5/, qt6/) that found
# only its own Qt: find_package's targets and variables are scoped to the
# folder, so Qt 5's and Qt 6's versionless targets, moc and helper variables
# never meet, while both plugins stay in the one build with the core they
# link, the tests and the packages.
#
# The plugin is built into build/plugins/qt<N>/imageformats/libqqel.so, the
# layout QCoreApplication::addLibraryPath(build/plugins/qt<N>) expects, and
# installed into that Qt's own plugin folder under the install prefix.
function(qel_add_qt_image_plugin major)
  set(target qel_qt${major}_image_plugin)
  set(here ${PROJECT_SOURCE_DIR}/plugins/qt)
  add_library(${target} MODULE ${here}/QelImagePlugin.cpp ${here}/QelImagePlugin.h)
  target_link_libraries(${target} PRIVATE Qt${major}::Gui qel_packed qel_zlib)
  # Only Qt's plugin entry points leave the module.
  set(exports ${CMAKE_CURRENT_BINARY_DIR}/exports.map)
  file(WRITE ${exports} "{ global: qt_plugin_instance; qt_plugin_query_metadata*; local: *; };\n")
  target_link_options(${target} PRIVATE -Wl,--version-script=${exports} -Wl,--no-undefined)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports})
  # The moc of this Qt, named outright rather than guessed from the folder.
  get_target_property(moc Qt${major}::moc IMPORTED_LOCATION)
  set_target_properties(${target} PROPERTIES
    AUTOMOC ON
    AUTOMOC_EXECUTABLE ${moc}
    OUTPUT_NAME qqel
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins/qt${major}/imageformats
    CXX_VISIBILITY_PRESET hidden)

  # Where this Qt looks for plugins (/usr/lib/<triplet>/qt<N>/plugins), as a
  # path below its prefix, so that the install follows ours.
  get_target_property(qmake Qt${major}::qmake IMPORTED_LOCATION)
  execute_process(COMMAND ${qmake} -query QT_INSTALL_PREFIX OUTPUT_VARIABLE qt_prefix OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${qmake} -query QT_INSTALL_PLUGINS OUTPUT_VARIABLE qt_plugins OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT qt_plugins)
    message(FATAL_ERROR "${qmake} names no plugin folder")
  endif()
  file(RELATIVE_PATH plugin_dir "${qt_prefix}" "${qt_plugins}/imageformats")
  install(TARGETS ${target} LIBRARY DESTINATION ${plugin_dir} COMPONENT qt${major}_image_plugin)
endfunction()
