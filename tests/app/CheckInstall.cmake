# Installs the build into a scratch prefix and checks the program's files: the executable,
# the desktop entry (category Accessibility, starting pavrel) and both icons.
# Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P CheckInstall.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/pavrel share/applications/pavrel.desktop
             share/icons/hicolor/32x32/apps/pavrel.png
             share/icons/hicolor/scalable/apps/pavrel.svg)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/pavrel.desktop" entry)
foreach(line "Type=Application" "Exec=pavrel" "Icon=pavrel" "Name=Pavrel")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "desktop entry lacks ${line}")
  endif()
endforeach()
list(FILTER entry INCLUDE REGEX "^Categories=")
if(NOT entry MATCHES "(^|[=;])Accessibility;")
  message(FATAL_ERROR "desktop entry is not in the Accessibility category: ${entry}")
endif()
file(READ "${PREFIX}/share/icons/hicolor/32x32/apps/pavrel.png" header LIMIT 24 HEX)
# PNG signature, then the IHDR chunk: width and height 32.
if(NOT header MATCHES "^89504e470d0a1a0a0000000d4948445200000020" OR
   NOT header MATCHES "00000020$")
  message(FATAL_ERROR "the 32 x 32 icon is not a 32 x 32 PNG: ${header}")
endif()
file(READ "${PREFIX}/share/icons/hicolor/scalable/apps/pavrel.svg" svg)
if(NOT svg MATCHES "<svg[^>]*viewBox=\"0 0 32 32\"")
  message(FATAL_ERROR "the scalable icon is no SVG")
endif()
