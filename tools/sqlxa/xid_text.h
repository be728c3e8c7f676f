// XIDs as text for the two databases: PostgreSQL's transaction identifiers
// (gid, at most 199 characters) and MariaDB's hex literals.
#ifndef ZP_TOOLS_SQLXA_XID_TEXT_H
#define ZP_TOOLS_SQLXA_XID_TEXT_H

#include <string>

#include "zpor8dtc23/xa.h"

namespace zp {
namespace sqlxa {

// Whether xid can be sent to a database: formatID 0 to 2^31-1 (-1 is the null
// XID), gtrid 1 to 64 bytes, bqual 0 to 64 bytes.
bool xid_is_valid(const XID& xid);

// Whether two valid XIDs name the same branch (formatID and both parts).
bool xid_equal(const XID& a, const XID& b);

// The gid of a valid xid in the database of OID database (1 to 2^32-1):
// "zx2.<database>.<formatID>.<gtrid>.<bqual>", both parts in unpadded
// base64url, so any bytes round-trip and no quoting is needed; at most 199
// characters. PostgreSQL's gids are unique server-wide, so naming the
// database lets one XID be prepared in several databases of a server.
std::string xid_to_gid(const XID& xid, unsigned long database);

// The gid an earlier version wrote for xid: "zx1.<formatID>.<gtrid>.<bqual>".
std::string xid_to_old_gid(const XID& xid);

// The XID a gid of database stands for: a version 2 gid naming database, or
// a version 1 gid. False for any text the two encoders cannot produce
// (another prefix or database, a non-canonical number or part, bad lengths):
// such gids belong to someone else and are skipped.
bool gid_to_xid(const std::string& gid, unsigned long database, XID* xid);

// MariaDB's form of a valid xid: X'<gtrid hex>',X'<bqual hex>',<formatID>.
std::string xid_to_mariadb(const XID& xid);

}  // namespace sqlxa
}  // namespace zp

#endif  // ZP_TOOLS_SQLXA_XID_TEXT_H
