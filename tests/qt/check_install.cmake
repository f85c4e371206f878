# Installs the viewer component into a scratch prefix and checks that the
# desktop finds what the entry names: the program on Exec, the icon on Icon.
#   cmake -DBINARY_DIR=... -DPREFIX=... -DAPP_ID=... -DVERSION=... -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
# With the file type, a component of its own.
foreach(component viewer file_type)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${PREFIX} --component ${component}
    RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
  endif()
endforeach()

set(failures "")
function(expect_file path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    set(failures "${failures}\n  not installed: ${path}" PARENT_SCOPE)
  endif()
endfunction()

set(entry "${PREFIX}/share/applications/${APP_ID}.desktop")
expect_file("${entry}")
expect_file("${PREFIX}/share/mime/packages/${APP_ID}.xml")
if(EXISTS "${entry}")
  file(READ "${entry}" text)
  set(text "\n${text}")
  # A list cannot hold ';', so the wanted lines spell it '@'.
  foreach(wanted "[Desktop Entry]" "Type=Application" "Name=QelViewer" "Exec=qelviewer %f"
                 "Icon=${APP_ID}" "Categories=Graphics@Viewer@" "MimeType=image/x-qel@"
                 "Version=1.0" "X-QelViewer-Version=${VERSION}")
    string(REPLACE "@" ";" wanted "${wanted}")
    string(FIND "${text}" "\n${wanted}\n" at)
    if(at EQUAL -1)
      set(failures "${failures}\n  the desktop entry has no line '${wanted}'")
    endif()
  endforeach()
  # What the entry points at must be where the desktop looks for it.
  if(text MATCHES "\nExec=([^ \n]+)")
    expect_file("${PREFIX}/bin/${CMAKE_MATCH_1}")
  endif()
  if(text MATCHES "\nIcon=([^\n]+)")
    expect_file("${PREFIX}/share/icons/hicolor/48x48/apps/${CMAKE_MATCH_1}.png")
    expect_file("${PREFIX}/share/icons/hicolor/scalable/apps/${CMAKE_MATCH_1}.svg")
  endif()
endif()

file(REMOVE_RECURSE ${PREFIX})
if(failures)
  message(FATAL_ERROR "install check failed:${failures}")
endif()
