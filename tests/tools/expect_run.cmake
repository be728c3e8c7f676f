# Runs a program and holds its exit status and output against expectations.
#   cmake -DCOMMAND=<;-list> -DSTATUS=<n> [-DEXPECT=<;-list of regexes>]
#         [-DFORBID=<;-list of regexes>] -P expect_run.cmake
# The working directory and the environment are the test's own. Lists may
# also be given with "@@" between their items.
foreach(list COMMAND EXPECT FORBID)
  string(REPLACE "@@" ";" ${list} "${${list}}")
endforeach()
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
set(problems "")
if(NOT "${status}" STREQUAL "${STATUS}")
  string(APPEND problems "exit status ${status}, wanted ${STATUS}\n")
endif()
foreach(pattern IN LISTS EXPECT)
  if(NOT "${out}${err}" MATCHES "${pattern}")
    string(APPEND problems "no output matches: ${pattern}\n")
  endif()
endforeach()
foreach(pattern IN LISTS FORBID)
  if("${out}${err}" MATCHES "${pattern}")
    string(APPEND problems "output matches what it must not: ${pattern}\n")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
