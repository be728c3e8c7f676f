# The licence, the changelog and xadriver's manual page, into every package:
# LICENSE and CHANGELOG.md beside the other documents (component docs); on
# Linux docs/xadriver.1, compressed as manual pages are, into
# share/man/man1 (component driver). docs/xadriver.1 is generated from
# xadriver --help (tools/xadriver/manpage.cmake) and a test keeps it so.
install(FILES LICENSE CHANGELOG.md DESTINATION ${ZP_INSTALL_DOCDIR} COMPONENT docs)
if(NOT WIN32)
  find_program(ZP_GZIP gzip)
  if(ZP_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/xadriver.1.gz
                       COMMAND ${ZP_GZIP} -9nc ${CMAKE_SOURCE_DIR}/docs/xadriver.1 > ${CMAKE_BINARY_DIR}/xadriver.1.gz
                       DEPENDS ${CMAKE_SOURCE_DIR}/docs/xadriver.1
                       COMMENT "xadriver.1.gz")
    add_custom_target(zp_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/xadriver.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/xadriver.1.gz DESTINATION share/man/man1 COMPONENT driver)
  endif()
endif()
