# zp_add_test(NAME name SOURCES files... [ISOLATED] [LABELS labels...]
#             [ENVIRONMENT VAR=value...] [WORKING_DIRECTORY dir] [LIBRARIES libs...])
#
# Builds a GoogleTest program linked with the module's objects and the shared
# test helpers (whose main loads the module's static objects, as the loader
# would). ISOLATED registers every test case as a CTest test of its own, so each
# runs in a fresh process: use it where the module's process-wide state
# matters. Every test has a timeout, so a hang fails instead of stalling.
include(GoogleTest)

function(zp_add_test)
  cmake_parse_arguments(T "ISOLATED" "NAME;WORKING_DIRECTORY;TIMEOUT" "SOURCES;LABELS;ENVIRONMENT;LIBRARIES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE zp_test_support ${T_LIBRARIES})
  target_compile_options(${T_NAME} PRIVATE ${ZP_WARNINGS})
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
  set(env ${T_ENVIRONMENT})
  if(T_ISOLATED)
    gtest_add_tests(TARGET ${T_NAME} SOURCES ${T_SOURCES} TEST_LIST tests
                    WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
    set(tests ${T_NAME})
  endif()
  set_tests_properties(${tests} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${tests} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(env)
    set_tests_properties(${tests} PROPERTIES ENVIRONMENT "${env}")
  endif()
endfunction()
