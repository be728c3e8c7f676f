# What `cmake --install` installs and what CPack packs. Components: module (the
# switch module, and on Windows its DTC registration file), trace (the
# reference trace library), driver (xadriver), headers (the public headers),
# docs. The stand-ins, the reference resource manager, tests and benchmarks
# are never installed.
#
# Linux: bin/, lib/ (libzpor8dtc23.so.<version>, the .so.<major> soname and
# the plain .so hosts are configured with), include/zpor8dtc23/,
# share/doc/zpor8dtc23/; packed as a .deb (with its dependencies) and a
# .tar.gz. Windows: the DLLs, xadriver.exe and register-dtc.reg at the top,
# include/zpor8dtc23/ and doc/; packed as a .zip per word size.
if(WIN32)
  set(ZP_INSTALL_BINDIR .)
  set(ZP_INSTALL_LIBDIR .)
  set(ZP_INSTALL_DOCDIR doc)
else()
  set(ZP_INSTALL_BINDIR bin)
  set(ZP_INSTALL_LIBDIR lib)
  set(ZP_INSTALL_DOCDIR share/doc/zpor8dtc23)
endif()

# Hosts and users load the libraries by name at run time, so the Windows
# import libraries are not installed.
install(TARGETS zpor8dtc23
        RUNTIME DESTINATION ${ZP_INSTALL_BINDIR} COMPONENT module
        LIBRARY DESTINATION ${ZP_INSTALL_LIBDIR} COMPONENT module NAMELINK_COMPONENT module
        ARCHIVE DESTINATION lib COMPONENT import EXCLUDE_FROM_ALL)
install(TARGETS zptrace
        RUNTIME DESTINATION ${ZP_INSTALL_BINDIR} COMPONENT trace
        LIBRARY DESTINATION ${ZP_INSTALL_LIBDIR} COMPONENT trace
        ARCHIVE DESTINATION lib COMPONENT import EXCLUDE_FROM_ALL)
install(TARGETS xadriver RUNTIME DESTINATION ${ZP_INSTALL_BINDIR} COMPONENT driver)
install(FILES include/zpor8dtc23/xa.h include/zpor8dtc23/zpor8dtc23.h
        DESTINATION include/zpor8dtc23 COMPONENT headers)
install(FILES README.md docs/user-guide.md docs/architecture.md DESTINATION ${ZP_INSTALL_DOCDIR}
        COMPONENT docs)

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
set(CPACK_COMPONENTS_ALL module trace driver headers docs)
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
  set(CPACK_PACKAGE_FILE_NAME zpor8dtc23-${PROJECT_VERSION}-linux-x86_64)
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The module a transaction manager (Microsoft DTC, IBM MQ) loads to drive an Oracle database as \
an XA resource manager; with xadriver, the reference trace library zptrace and the public headers.")
  # The dependencies are read off the files (dpkg-shlibdeps): ICU for the
  # module and the driver, the C++ runtime for the driver and zptrace.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()
include(CPack)
