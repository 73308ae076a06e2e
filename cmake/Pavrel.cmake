# Helpers shared by the subsystem folders.

# pavrel_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [ENV ...] [TIMEOUT s])
# One GoogleTest executable, registered with CTest as a single test. Tests labelled
# "threading" are also built by the target `threading_tests` (run under ThreadSanitizer).
function(pavrel_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
  set(env "PAVREL_SOURCE_DIR=${PROJECT_SOURCE_DIR}" "PAVREL_MEDIA_DIR=${PROJECT_SOURCE_DIR}/media"
          "QT_QPA_PLATFORM=offscreen" "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
          "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp" ${T_ENV})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}")
  if("threading" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY PAVREL_THREADING_TESTS ${T_NAME})
  endif()
endfunction()

function(pavrel_finish_threading_target)
  get_property(tests GLOBAL PROPERTY PAVREL_THREADING_TESTS)
  add_custom_target(threading_tests)
  if(tests)
    add_dependencies(threading_tests ${tests})
  endif()
endfunction()
