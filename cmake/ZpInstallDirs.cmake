# The install folders, relative to the install prefix; read before the tools,
# which look for the installed module from their own installed folder.
#
# Linux: the Debian layout (under /usr in the .debs, under the top folder in
# the .tar.gz): bin/, lib/<multiarch>/ (lib/x86_64-linux-gnu on Debian; lib
# where the compiler names no multiarch folder), include/zpor8dtc23/,
# share/doc/zpor8dtc23/, share/man/; the SQL client XA library in a private
# folder, lib/<multiarch>/zpor8dtc23/sqlxa/, off the library search, since
# it carries the vendor client's file names.
# Windows: the DLLs, xadriver.exe and register-dtc.reg at the top, include/
# and doc/.
if(WIN32)
  set(ZP_INSTALL_BINDIR .)
  set(ZP_INSTALL_LIBDIR .)
  set(ZP_INSTALL_DOCDIR doc)
else()
  set(ZP_INSTALL_BINDIR bin)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(ZP_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
  else()
    set(ZP_INSTALL_LIBDIR lib)
  endif()
  set(ZP_INSTALL_DOCDIR share/doc/zpor8dtc23)
  set(ZP_INSTALL_MANDIR share/man)
  set(ZP_INSTALL_SQLXADIR ${ZP_INSTALL_LIBDIR}/zpor8dtc23/sqlxa)
endif()
