# Installs the build into a scratch prefix and checks the uinput rule (uaccess tag on the
# uinput node) and the module-load file.
# Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P CheckUdevInstall.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(rules "${PREFIX}/lib/udev/rules.d/70-pavrel-uinput.rules")
if(NOT EXISTS "${rules}")
  message(FATAL_ERROR "not installed: ${rules}")
endif()
file(STRINGS "${rules}" rule REGEX "^KERNEL==")
if(NOT rule MATCHES "KERNEL==\"uinput\"" OR NOT rule MATCHES "TAG\\+=\"uaccess\"")
  message(FATAL_ERROR "the rule does not tag the uinput node for the seat's user: ${rule}")
endif()
file(READ "${PREFIX}/lib/modules-load.d/pavrel-uinput.conf" modules)
if(NOT modules STREQUAL "uinput\n")
  message(FATAL_ERROR "the module-load file does not name uinput: ${modules}")
endif()
