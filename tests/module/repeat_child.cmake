# Runs a child process RUNS times, each with a time limit of TIMEOUT seconds,
# and fails with the count of runs that crashed, hung, exited with a code
# other than 0 or printed nothing that matches EXPECT:
#   cmake -DCOMMAND=prog|arg|... [-DEMULATOR=wine64] -DRUNS=n -DTIMEOUT=s
#         -DEXPECT=regex -P repeat_child.cmake
# COMMAND's parts are separated by "|".
string(REPLACE "|" ";" command "${COMMAND}")
if(EMULATOR)
  list(PREPEND command ${EMULATOR})
endif()
set(failed 0)
set(first "")
foreach(run RANGE 1 ${RUNS})
  execute_process(COMMAND ${command} TIMEOUT ${TIMEOUT} RESULT_VARIABLE result
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result STREQUAL "0" OR NOT output MATCHES "${EXPECT}")
    math(EXPR failed "${failed} + 1")
    if(NOT first)
      set(first "run ${run}: result '${result}', output '${output}' ${errors}")
    endif()
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "${failed} of ${RUNS} runs failed (crashed, hung past ${TIMEOUT} s, or "
                      "did not print '${EXPECT}'); the first: ${first}")
endif()
message(STATUS "${RUNS} runs, every one ended in time and printed '${EXPECT}'")
