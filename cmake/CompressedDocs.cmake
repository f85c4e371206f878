# Documentation installed the way Debian keeps it: man pages and the
# changelog compressed with gzip at its best, without a name or time stamp in
# the header, so that the same source always gives the same bytes.
include_guard(GLOBAL)
include(GNUInstallDirs)
find_program(QEL_GZIP gzip REQUIRED)

# Writes OUTPUT, the gzip-compressed copy of INPUT, when the project is
# configured; a change to INPUT configures it again.
function(qel_gzip_file input output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
  execute_process(COMMAND ${QEL_GZIP} -9 -n -c ${input}
    OUTPUT_FILE ${output} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${input}: ${result}")
  endif()
endfunction()

# Installs the man page NAME.1, written from SOURCE (a .1.in file in which
# @PROJECT_VERSION@ stands for the version), into COMPONENT.
function(qel_install_man_page source component)
  get_filename_component(page ${source} NAME_WLE)
  configure_file(${source} ${CMAKE_CURRENT_BINARY_DIR}/${page} @ONLY)
  qel_gzip_file(${CMAKE_CURRENT_BINARY_DIR}/${page} ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
