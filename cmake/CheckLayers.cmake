# Checks that the module's layers point down only:
#   platform -> support -> module -> xa / trace -> tools
# Every quoted #include in those folders names a project header by its folder;
# a file may include its own layer or a lower one, never a higher one, and
# trace/ never includes xa/ (xa/ includes trace/). Public headers (zpor8dtc23/)
# and generated ones sit below every layer. System headers that reach the
# operating system (<windows.h>, <pthread.h>, <dlfcn.h>, <unistd.h>, <sys/...>)
# are included only by platform/, by the load hooks in module/ and by tools/.
# Each violation is printed as "file:line: text"; any violation fails.
#
#   cmake -DSOURCE_DIR=<repository> -P cmake/CheckLayers.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayers: SOURCE_DIR is not set")
endif()

set(zp_layers platform support module xa trace tools)
set(zp_rank_platform 0)
set(zp_rank_support 1)
set(zp_rank_module 2)
set(zp_rank_xa 3)
set(zp_rank_trace 3)
set(zp_rank_tools 4)
set(zp_system_pattern "^(windows\\.h|pthread\\.h|dlfcn\\.h|unistd\\.h|sys/)")

set(zp_violations 0)
set(zp_checked 0)
foreach(layer ${zp_layers})
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cc)
  foreach(file ${files})
    math(EXPR zp_checked "${zp_checked} + 1")
    file(STRINGS ${SOURCE_DIR}/${file} lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
        continue()
      endif()
      set(delimiter "${CMAKE_MATCH_1}")
      set(target "${CMAKE_MATCH_2}")
      set(reason "")
      if(delimiter STREQUAL "<")
        if(target MATCHES "${zp_system_pattern}" AND NOT layer STREQUAL "platform"
           AND NOT layer STREQUAL "tools" AND NOT file MATCHES "^module/load_hook_")
          set(reason "operating-system header outside platform/")
        endif()
      elseif(target MATCHES "^([^/]+)/")
        set(to "${CMAKE_MATCH_1}")
        if(DEFINED zp_rank_${to})
          if(zp_rank_${to} GREATER zp_rank_${layer})
            set(reason "${layer}/ includes the higher layer ${to}/")
          elseif(layer STREQUAL "trace" AND to STREQUAL "xa")
            set(reason "trace/ includes xa/, which includes trace/")
          endif()
        endif()
      endif()
      if(reason)
        message("${file}:${number}: ${reason}: ${line}")
        math(EXPR zp_violations "${zp_violations} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(zp_violations GREATER 0)
  message(FATAL_ERROR "CheckLayers: ${zp_violations} include(s) point up the layer order "
                      "platform -> support -> module -> xa / trace -> tools")
endif()
message("CheckLayers: ${zp_checked} files, every include points down")
