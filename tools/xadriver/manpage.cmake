# Renders `xadriver --help` as the manual page xadriver(1): the usage lines
# as the synopsis, the rest as the description, both as they are printed.
#
#   cmake -DDRIVER=<xadriver> -DVERSION=<version> -DOUTPUT=<file> [-DCOMPARE=<file>]
#         -P tools/xadriver/manpage.cmake
#
# With COMPARE, fails unless OUTPUT equals that file (the committed
# docs/man/xadriver.1 is kept in step with the help by a test); to bring it up to
# date, run the command with OUTPUT=docs/man/xadriver.1 and no COMPARE.
foreach(variable DRIVER VERSION OUTPUT)
  if(NOT ${variable})
    message(FATAL_ERROR "manpage.cmake: ${variable} is not set")
  endif()
endforeach()
execute_process(COMMAND ${DRIVER} --help RESULT_VARIABLE status OUTPUT_VARIABLE help ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "manpage.cmake: ${DRIVER} --help: exit status ${status}: ${error}")
endif()
string(REPLACE "\r" "" help "${help}")

# troff: a backslash is \e, a minus \-, and a line may not start with . or '.
function(zp_troff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(NOT help MATCHES "^usage: ([^\n]*(\n       xadriver[^\n]*)*)\n\n")
  message(FATAL_ERROR "manpage.cmake: the help does not begin with the usage lines")
endif()
set(synopsis "${CMAKE_MATCH_1}")
string(LENGTH "${CMAKE_MATCH_0}" skip)
string(SUBSTRING "${help}" ${skip} -1 description)
string(REGEX REPLACE "\n       xadriver" "\nxadriver" synopsis "${synopsis}")
zp_troff("${synopsis}" synopsis)
zp_troff("${description}" description)

set(page ".\\\" xadriver(1), generated from xadriver --help by tools/xadriver/manpage.cmake.
.TH XADRIVER 1 \"\" \"zpor8dtc23 ${VERSION}\" \"User Commands\"
.SH NAME
xadriver \\- drive an XA switch module as a transaction manager would, and check a setup
.SH SYNOPSIS
.nf
${synopsis}
.fi
.SH DESCRIPTION
.nf
${description}.fi
.SH SEE ALSO
The zpor8dtc23 user guide (user\\-guide.md among the package's documents).
")
file(WRITE ${OUTPUT} "${page}")
if(COMPARE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${COMPARE} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${COMPARE} is not what xadriver --help renders to (${OUTPUT}); "
                        "update it: cmake -DDRIVER=${DRIVER} -DVERSION=${VERSION} -DOUTPUT=${COMPARE} "
                        "-P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  message(STATUS "${COMPARE} matches xadriver --help")
endif()
