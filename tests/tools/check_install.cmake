# Installs the qel component into a scratch prefix and checks what a desktop
# needs: the program, the file type and the thumbnailer entry that runs it.
file(REMOVE_RECURSE ${PREFIX})
# With the file type, a component of its own.
foreach(component qel_tools file_type)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --component ${component}
    RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "install failed: ${result}")
  endif()
endforeach()

if(NOT EXISTS ${PREFIX}/bin/qel)
  message(FATAL_ERROR "bin/qel not installed")
endif()

set(mime ${PREFIX}/share/mime/packages/io.github.qelviewer.QelViewer.xml)
if(NOT EXISTS ${mime})
  message(FATAL_ERROR "the file type package not installed in share/mime/packages")
endif()
file(READ ${mime} text)
foreach(needle [[type="image/x-qel"]] [[<alias type="application/x-qel"/>]] [[<glob pattern="*.qel" case-sensitive="true"/>]]
    [[xmlns="http://www.freedesktop.org/standards/shared-mime-info"]])
  string(FIND "${text}" "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the file type package lacks ${needle}")
  endif()
endforeach()

# The type's one entry (the file type's): qel where installed, else GdkPixbuf's thumbnailer.
set(entry ${PREFIX}/share/thumbnailers/io.github.qelviewer.QelViewer.thumbnailer)
if(NOT EXISTS ${entry})
  message(FATAL_ERROR "share/thumbnailers/io.github.qelviewer.QelViewer.thumbnailer not installed")
endif()
file(STRINGS ${entry} lines)
foreach(needle "[Thumbnailer Entry]" "TryExec=sh" "MimeType=image/x-qel;"
    [[Exec=sh -c 'command -v qel > /dev/null && exec qel thumbnail -s "$0" "$1" "$2"; exec gdk-pixbuf-thumbnailer -s "$0" "$1" "$2"' %s %i %o]])
  list(FIND lines "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the thumbnailer entry lacks the line '${needle}'")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
