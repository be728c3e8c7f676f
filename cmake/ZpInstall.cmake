# What `cmake --install` installs and what CPack packs. Components: module (the
# switch module, and on Windows its DTC registration file), trace (the
# reference trace library), driver (xadriver), headers (the public headers),
# docs. Linux only: dev (the unversioned .so links, the pkg-config file and the
# CMake package configuration) and sqlxa (the SQL client XA library in its
# private folder, and xabank, the bank on it). The stand-ins, the reference
# resource manager, tests and benchmarks are never installed.
#
# Linux: the .tar.gz packs the whole tree; the .debs (packaging/debian/) are
# made from the same tree, one package per group of components. Windows: the
# DLLs, xadriver.exe and register-dtc.reg at the top, include/zpor8dtc23/ and
# doc/; packed as a .zip per word size.
# The folders: cmake/ZpInstallDirs.cmake.

# Hosts and users load the libraries by name at run time, so the Windows
# import libraries are not installed.
install(TARGETS zpor8dtc23
        RUNTIME DESTINATION ${ZP_INSTALL_BINDIR} COMPONENT module
        LIBRARY DESTINATION ${ZP_INSTALL_LIBDIR} COMPONENT module NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION lib COMPONENT import EXCLUDE_FROM_ALL)
install(TARGETS zptrace
        RUNTIME DESTINATION ${ZP_INSTALL_BINDIR} COMPONENT trace
        LIBRARY DESTINATION ${ZP_INSTALL_LIBDIR} COMPONENT trace NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION lib COMPONENT import EXCLUDE_FROM_ALL)
install(TARGETS xadriver RUNTIME DESTINATION ${ZP_INSTALL_BINDIR} COMPONENT driver)
install(FILES include/zpor8dtc23/xa.h include/zpor8dtc23/zpor8dtc23.h
        DESTINATION include/zpor8dtc23 COMPONENT headers)
install(FILES README.md docs/user-guide.md docs/architecture.md LICENSE CHANGELOG.md
        DESTINATION ${ZP_INSTALL_DOCDIR} COMPONENT docs)

if(NOT WIN32)
  # The SQL client XA library, under the vendor client's file names, in a
  # private folder that a transaction manager's LD_LIBRARY_PATH names; and
  # xabank, the bank that runs on it (native builds with libpq and
  # libmariadb).
  if(TARGET xabank)
    install(TARGETS xabank RUNTIME DESTINATION ${ZP_INSTALL_BINDIR} COMPONENT sqlxa)
    install(TARGETS zp_sqlxa_xa80 zp_sqlxa_oraclient8 zp_sqlxa_oraclient9 zp_sqlxa_oraclient10
            LIBRARY DESTINATION ${ZP_INSTALL_SQLXADIR} COMPONENT sqlxa)
    install(FILES tools/sqlxa/README.md DESTINATION ${ZP_INSTALL_DOCDIR} RENAME sqlxa.md
            COMPONENT sqlxa)
  endif()
  # The manual pages, when the tree has them.
  foreach(zp_page xadriver xabank)
    if(EXISTS ${CMAKE_SOURCE_DIR}/docs/man/${zp_page}.1)
      set(zp_component driver)
      if(zp_page STREQUAL "xabank")
        set(zp_component sqlxa)
      endif()
      install(FILES docs/man/${zp_page}.1 DESTINATION ${ZP_INSTALL_MANDIR}/man1 COMPONENT ${zp_component})
    endif()
  endforeach()
  # pkg-config and find_package(zpor8dtc23), both relocatable: they find the
  # prefix from their own folder, so that the .tar.gz works where it is
  # unpacked (the .debs write prefix=/usr into the .pc file).
  set(zp_up "")
  string(REPLACE "/" ";" zp_parts "${ZP_INSTALL_LIBDIR}")
  foreach(zp_part IN LISTS zp_parts)
    string(APPEND zp_up "/..")
  endforeach()
  set(ZP_PC_PREFIX "\${pcfiledir}/..${zp_up}")
  set(ZP_CMAKE_TO_PREFIX "../..${zp_up}")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/zpor8dtc23.pc.in ${ZP_GENERATED_DIR}/zpor8dtc23.pc @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/zpor8dtc23Config.cmake.in
                 ${ZP_GENERATED_DIR}/zpor8dtc23Config.cmake @ONLY)
  include(CMakePackageConfigHelpers)
  write_basic_package_version_file(${ZP_GENERATED_DIR}/zpor8dtc23ConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  install(FILES ${ZP_GENERATED_DIR}/zpor8dtc23.pc DESTINATION ${ZP_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
  install(FILES ${ZP_GENERATED_DIR}/zpor8dtc23Config.cmake ${ZP_GENERATED_DIR}/zpor8dtc23ConfigVersion.cmake
          DESTINATION ${ZP_INSTALL_LIBDIR}/cmake/zpor8dtc23 COMPONENT dev)
endif()

if(WIN32)
  # The registration file for DTC: a 64-bit DTC reads the native key, a
  # 32-bit one on 64-bit Windows the WOW6432Node key.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZP_REG_BITS 64)
    set(ZP_REG_KEY "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSDTC\\XADLL")
    set(ZP_REG_HOST "For the 64-bit DTC of 64-bit Windows.")
    set(ZP_REG_FOLDER "C:\\zpor8dtc23")
  else()
    set(ZP_REG_BITS 32)
    set(ZP_REG_KEY "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\MSDTC\\XADLL")
    set(ZP_REG_HOST "For 32-bit applications on 64-bit Windows (on 32-bit Windows, drop \\WOW6432Node).")
    set(ZP_REG_FOLDER "C:\\zpor8dtc23-32")
  endif()
  string(REPLACE "\\" "\\\\" ZP_REG_FOLDER_REG "${ZP_REG_FOLDER}")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/register-dtc.reg.in
                 ${ZP_GENERATED_DIR}/register-dtc.reg @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${ZP_GENERATED_DIR}/register-dtc.reg DESTINATION . COMPONENT module)
endif()

set(CPACK_PACKAGE_NAME zpor8dtc23)
set(CPACK_PACKAGE_VENDOR "zpor8dtc23")
set(CPACK_PACKAGE_CONTACT "zpor8dtc23 maintainers <zpor8dtc23@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "XA switch module for the Oracle client XA library")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_COMPONENTS_ALL module trace driver headers docs dev sqlxa)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME zpor8dtc23-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME zpor8dtc23-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  # The files at the top of the zip, so that unzipping into the folder the
  # user guide and register-dtc.reg name puts the DLL where the .reg says.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The .tar.gz, for other distributions; the .debs come from
  # packaging/debian/make-debs.sh, which lintian accepts.
  set(CPACK_PACKAGE_FILE_NAME zpor8dtc23-${PROJECT_VERSION}-linux-x86_64)
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
