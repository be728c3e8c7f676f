# Runs a program and holds its exit status and output against expectations.
#   cmake -DCOMMAND=<;-list> -DSTATUS=<n> [-DEXPECT=<;-list of regexes>]
#         [-DFORBID=<;-list of regexes>] [-DFILE=<path> -DFILE_EXPECT=<regexes>
#         -DFILE_FORBID=<regexes>] [-DCLEAN_DIR=<folder>]
#         [-DFIRST=<;-list> -DFIRST_EXPECT=<regexes>] [-DINPUT=<path>] -P expect_run.cmake
# FILE and CLEAN_DIR are removed before the run, and FILE is read after it.
# FIRST is a command run before COMMAND, in a process of its own; it must exit
# with status 0 and print what FIRST_EXPECT asks for. INPUT is COMMAND's
# standard input.
# The working directory and the environment are the test's own. Lists may
# also be given with "@@" between their items.
foreach(list COMMAND EXPECT FORBID FILE_EXPECT FILE_FORBID FIRST FIRST_EXPECT)
  string(REPLACE "@@" ";" ${list} "${${list}}")
endforeach()
if(FILE)
  file(REMOVE "${FILE}")
endif()
if(CLEAN_DIR)
  file(REMOVE_RECURSE "${CLEAN_DIR}")
endif()
if(FIRST)
  execute_process(COMMAND ${FIRST} RESULT_VARIABLE first_status OUTPUT_VARIABLE first_out ERROR_VARIABLE first_err)
  message("${first_out}${first_err}")
endif()
set(input "")
if(INPUT)
  set(input INPUT_FILE "${INPUT}")
endif()
execute_process(COMMAND ${COMMAND} ${input} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")

# Appends to problems what text (named what) lacks of expect or holds of forbid.
function(check_text text what expect forbid)
  foreach(pattern IN LISTS expect)
    if(NOT "${text}" MATCHES "${pattern}")
      string(APPEND problems "nothing in ${what} matches: ${pattern}\n")
    endif()
  endforeach()
  foreach(pattern IN LISTS forbid)
    if("${text}" MATCHES "${pattern}")
      string(APPEND problems "${what} holds what it must not: ${pattern}\n")
    endif()
  endforeach()
  set(problems "${problems}" PARENT_SCOPE)
endfunction()

set(problems "")
if(FIRST)
  if(NOT "${first_status}" STREQUAL "0")
    string(APPEND problems "the first run's exit status ${first_status}, wanted 0\n")
  endif()
  check_text("${first_out}${first_err}" "the first run's output" "${FIRST_EXPECT}" "")
endif()
if(NOT "${status}" STREQUAL "${STATUS}")
  string(APPEND problems "exit status ${status}, wanted ${STATUS}\n")
endif()
check_text("${out}${err}" "the output" "${EXPECT}" "${FORBID}")
if(FILE)
  set(content "")
  if(EXISTS "${FILE}")
    file(READ "${FILE}" content)
  else()
    string(APPEND problems "no file ${FILE}\n")
  endif()
  check_text("${content}" "${FILE}" "${FILE_EXPECT}" "${FILE_FORBID}")
endif()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
