# qel_add_version_resource(TARGET DESCRIPTION): gives a Windows program a
# version resource with the project's version, so that the file's properties
# show the same version as the packages and `qel --version`.
# The resource script is resources/win32/version.rc.in, written once per
# program into the build tree.
enable_language(RC)

function(qel_add_version_resource target description)
  # FILEVERSION takes four numbers; missing parts of the version count as 0.
  set(parts "")
  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      list(APPEND parts 0)
    else()
      list(APPEND parts ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  list(JOIN parts "," QEL_RC_VERSION_COMMAS)
  set(QEL_RC_NAME ${target})
  set(QEL_RC_DESCRIPTION "${description}")
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type MATCHES "^(MODULE|SHARED)_LIBRARY$")
    set(QEL_RC_FILE_NAME "${output_name}.dll")
    set(QEL_RC_FILE_TYPE VFT_DLL)
  else()
    set(QEL_RC_FILE_NAME "${output_name}${CMAKE_EXECUTABLE_SUFFIX}")
    set(QEL_RC_FILE_TYPE VFT_APP)
  endif()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/win32/version.rc.in ${script} @ONLY)
  target_sources(${target} PRIVATE ${script})
endfunction()
