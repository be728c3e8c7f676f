# zp_add_test(NAME name SOURCES files... [ISOLATED] [LABELS labels...]
#             [ENVIRONMENT VAR=value...] [WORKING_DIRECTORY dir] [LIBRARIES libs...]
#             [CLIENTS folder])
#
# Builds a GoogleTest program linked with the module's objects and the shared
# test helpers (whose main loads the module's static objects, as the loader
# would). ISOLATED registers every test case as a CTest test of its own, so each
# runs in a fresh process: use it where the module's process-wide state
# matters. CLIENTS points the library search at one folder of stand-in client
# libraries (stand-ins/client). Every test has a timeout, so a hang fails
# instead of stalling.
include(GoogleTest)

# zp_tests_use_clients(folder tests...): the named CTest tests find exactly the
# client library candidates of <build>/clients/<folder>: through
# LD_LIBRARY_PATH natively, and as their working directory under Wine (the
# current directory is in the DLL search order; the test programs' own folder
# holds no candidate).
function(zp_tests_use_clients folder)
  set(dir ${CMAKE_BINARY_DIR}/clients/${folder})
  if(WIN32)
    set_tests_properties(${ARGN} PROPERTIES WORKING_DIRECTORY ${dir})
  else()
    set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT LD_LIBRARY_PATH=${dir})
  endif()
endfunction()

# zp_tests_use_trace_stand_ins(TESTS tests... [FIRST folders...]): the named
# CTest tests find the trace stand-ins of <build>/trace-stand-ins and the
# reference trace library of bin by file name: through LD_LIBRARY_PATH
# natively, through WINEPATH (added to the DLL search path) under Wine. The
# FIRST folders are searched before them.
function(zp_tests_use_trace_stand_ins)
  cmake_parse_arguments(U "" "" "TESTS;FIRST" ${ARGN})
  set(folders ${U_FIRST} ${ZP_TRACE_STANDIN_DIR} ${CMAKE_BINARY_DIR}/bin)
  if(WIN32)
    # Windows paths on Wine's drive Z:, which maps the root folder; the
    # escaped ';' keeps them in one value of the test's environment list.
    set(value "")
    foreach(folder ${folders})
      if(value)
        string(APPEND value "\\;")
      endif()
      string(APPEND value "Z:${folder}")
    endforeach()
    set_property(TEST ${U_TESTS} APPEND PROPERTY ENVIRONMENT "WINEPATH=${value}")
  else()
    string(REPLACE ";" ":" value "${folders}")
    set_property(TEST ${U_TESTS} APPEND PROPERTY ENVIRONMENT "LD_LIBRARY_PATH=${value}")
  endif()
endfunction()

# zp_tests_use_suite_clients(SUITE prefix tests...): each named test, whose
# suite is <prefix>_<folder>, finds the client candidates of
# <build>/clients/<folder> first and then the trace stand-ins and the reference
# trace library (zp_tests_use_trace_stand_ins). Under Wine the client folder is
# the working directory (the current folder is in the DLL search order) and the
# trace libraries come through WINEPATH; natively all come through the search
# path, not the program's RUNPATH, which a sanitizer's dlopen does not always
# apply.
function(zp_tests_use_suite_clients)
  cmake_parse_arguments(U "" "SUITE" "" ${ARGN})
  foreach(test ${U_UNPARSED_ARGUMENTS})
    if(NOT test MATCHES "^${U_SUITE}_([a-z0-9_]+)\\.")
      message(FATAL_ERROR "${test} names no client folder")
    endif()
    set(folder ${CMAKE_BINARY_DIR}/clients/${CMAKE_MATCH_1})
    if(WIN32)
      set_tests_properties(${test} PROPERTIES WORKING_DIRECTORY ${folder})
      zp_tests_use_trace_stand_ins(TESTS ${test})
    else()
      zp_tests_use_trace_stand_ins(TESTS ${test} FIRST ${folder})
    endif()
  endforeach()
endfunction()

function(zp_add_test)
  cmake_parse_arguments(T "ISOLATED" "NAME;WORKING_DIRECTORY;TIMEOUT;CLIENTS" "SOURCES;LABELS;ENVIRONMENT;LIBRARIES" ${ARGN})
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
  if(T_CLIENTS)
    zp_tests_use_clients(${T_CLIENTS} ${tests})
  endif()
  set(${T_NAME}_TESTS ${tests} PARENT_SCOPE)
endfunction()
