# The databases' own client libraries (libpq, libmariadb) that the SQL client
# XA library, the driver's bank and their tests build on. Native only: the
# Windows targets have no database clients here. Sets ZP_HAVE_DATABASE_CLIENTS
# and, with it, ZP_LIBPQ, ZP_LIBMARIADB and their include folders.
set(ZP_HAVE_DATABASE_CLIENTS OFF)
if(NOT WIN32)
  find_library(ZP_LIBPQ pq)
  find_library(ZP_LIBMARIADB mariadb)
  find_path(ZP_LIBPQ_INCLUDE libpq-fe.h PATH_SUFFIXES postgresql)
  find_path(ZP_LIBMARIADB_INCLUDE mysql.h PATH_SUFFIXES mariadb)
  if(ZP_LIBPQ AND ZP_LIBMARIADB AND ZP_LIBPQ_INCLUDE AND ZP_LIBMARIADB_INCLUDE)
    set(ZP_HAVE_DATABASE_CLIENTS ON)
  endif()
endif()
