/* The SQL client XA library: a client XA library over PostgreSQL (libpq) and
 * MariaDB (libmariadb), loaded by the module under the client's file names.
 * It exports the switch `xaosw` and the two handle accessors below. */
#ifndef ZP_TOOLS_SQLXA_SQLXA_H
#define ZP_TOOLS_SQLXA_SQLXA_H

#include "zpor8dtc23/xa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Environment variable naming the connections file ("NAME = URI" lines). */
#define SQLXA_CONNECTIONS_VARIABLE "ZPSQLXA_CONNECTIONS"

/* The switch: name "sqlxa", flags TMNOMIGRATE, version 0. */
extern struct xa_switch_t xaosw;

/* The native handle of the calling thread's connection whose +DB name is
 * dbname: a PGconn* for PostgreSQL, a MYSQL* for MariaDB. dbname also matches
 * the name extended with this process's and thread's ids; a null dbname means
 * the thread's only connection. Null for an unknown name, for several
 * candidates, and on any thread but the one that opened the connection. */
void* xaoSvcCtx(char* dbname);

/* A handle that identifies the environment of the same connection (stable for
 * the life of the connection; not a database handle); null as above. */
void* xaoEnv(char* dbname);

#ifdef __cplusplus
}
#endif

#endif /* ZP_TOOLS_SQLXA_SQLXA_H */
