# cmake -DBUILD_DIR=... -DPREFIX=... [-DVALIDATE=desktop-file-validate] -P CheckInstall.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the install failed:\n${output}")
endif()

set(program ${PREFIX}/bin/kavomanager)
set(entry ${PREFIX}/share/applications/kavomanager.desktop)
set(icon ${PREFIX}/share/icons/hicolor/scalable/apps/kavomanager.svg)
foreach(path ${program} ${entry} ${icon})
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
execute_process(COMMAND test -f ${program} -a -x ${program} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "not a program: ${program}")
endif()

# The lines the desktop needs to start the program with a store link and to find its icon.
file(STRINGS ${entry} lines)
foreach(line "Type=Application" "Exec=kavomanager %u" "Icon=kavomanager" "Terminal=false"
    "MimeType=x-scheme-handler/quorvelapps;")
  list(FIND lines "${line}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks \"${line}\"")
  endif()
endforeach()
list(FILTER lines INCLUDE REGEX "^Categories=.+;$")
if(NOT lines)
  message(FATAL_ERROR "the desktop entry names no categories")
endif()

file(READ ${icon} svg)
if(NOT svg MATCHES "<svg[^>]*xmlns=\"http://www.w3.org/2000/svg\"" OR NOT svg MATCHES "</svg>[ \n]*$")
  message(FATAL_ERROR "the icon is no SVG document")
endif()

if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} ${entry} RESULT_VARIABLE result OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR output)
    message(FATAL_ERROR "desktop-file-validate finds fault with the entry:\n${output}")
  endif()
endif()
