# cmake -DCHECK=CheckLayering.cmake -DTREE=faulty-tree -DWIDGETS=<QtWidgets include dir>
#       -P CheckFaultyTree.cmake
# The layering check on a tree with known faults: it must fail and name each of them, and
# nothing that is allowed.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${TREE} -DLINKS=${TREE}/links.cmake
                        -DWIDGETS=${WIDGETS} -P ${CHECK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(status EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with faults:\n${out}")
endif()
set(expected
  "src/pipeline/View.h includes <QWidget>: only src/app may use Qt Widgets"
  "pavrel_pipeline links Qt6::Widgets: only src/app may use Qt Widgets"
  "src/tracking/Track.cpp includes <QString>: src/tracking stays free of platform headers"
  "src/tracking/Track.cpp includes <gst/gst.h>: src/tracking stays free of platform headers"
  "pavrel_mouse links PkgConfig::PAVREL_X11: src/mouse stays free of platform libraries"
  "src/mouse/Mouse.cpp includes a header of src/tracking, but src/mouse's target does not link pavrel_tracking"
  "src/pipeline/Uses.cpp includes \"app/...\": nothing below src/app depends on it"
  "src/image is the bottom layer, but it uses tracking"
  "in a circle: image, tracking, pipeline, app"
  "tools/Tool.cpp includes a header of src/mouse, but pavrel_tool does not link pavrel_mouse")
foreach(line IN LISTS expected)
  string(FIND "${out}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the check did not report: ${line}\nIt said:\n${out}")
  endif()
endforeach()
# Allowed: Widgets in src/app, QtGui below it, standard headers in src/tracking.
foreach(allowed "src/app/Main.h" "<QImage>" "<queue>" "src/mouse/Mouse.cpp includes a header of src/image"
                "tools/Tool.cpp includes a header of src/image")
  string(FIND "${out}" "${allowed}" at)
  if(NOT at LESS 0)
    message(FATAL_ERROR "the check reported something allowed (${allowed}):\n${out}")
  endif()
endforeach()
string(REGEX MATCH "([0-9]+) layering faults" count "${out}")
if(NOT CMAKE_MATCH_1 EQUAL 10)
  message(FATAL_ERROR "expected 10 faults:\n${out}")
endif()
