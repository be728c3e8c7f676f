// XIDs as PostgreSQL gids: any bytes round-trip in either form (naming the
// database or, as an earlier version wrote, not), and only what the encoders
// write decodes, for its own database (other gids are skipped by recovery,
// never misread).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/sqlxa/xid_text.h"

namespace zp {
namespace sqlxa {
namespace {

XID makeXid(long formatId, const std::string& gtrid, const std::string& bqual) {
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = formatId;
  xid.gtrid_length = static_cast<long>(gtrid.size());
  xid.bqual_length = static_cast<long>(bqual.size());
  std::memcpy(xid.data, gtrid.data(), gtrid.size());
  std::memcpy(xid.data + gtrid.size(), bqual.data(), bqual.size());
  return xid;
}

TEST(SqlXaXidText, EveryValidXidRoundTripsWithinTheGidLimit) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  struct Case {
    const char* name;
    XID xid;
  } cases[] = {
      {"largest formatID, 64-byte parts",
       makeXid(0x7fffffff, bytes.substr(0, 64), bytes.substr(192, 64))},
      {"formatID 0, one byte, empty bqual", makeXid(0, "g", "")},
      {"zero bytes only", makeXid(5, std::string(3, '\0'), std::string(2, '\0'))},
      {"quotes and backslashes", makeXid(9, "'\"\\'", "';--")},
      {"each length modulo 3", makeXid(1, bytes.substr(100, 2), bytes.substr(200, 4))},
  };
  const unsigned long kLargestOid = 4294967295UL;
  for (const Case& c : cases) {
    for (unsigned long database : {1UL, 16384UL, kLargestOid}) {
      std::string gid = xid_to_gid(c.xid, database);
      EXPECT_LE(gid.size(), 199u) << c.name;
      EXPECT_EQ(gid.find_first_of("'\\ \""), std::string::npos) << c.name << ": " << gid;
      XID back;
      ASSERT_TRUE(gid_to_xid(gid, database, &back)) << c.name << ": " << gid;
      EXPECT_TRUE(xid_equal(back, c.xid)) << c.name;
      EXPECT_EQ(xid_to_gid(back, database), gid) << c.name;
      EXPECT_FALSE(gid_to_xid(gid, database + 1, &back)) << c.name << ": another database's";
    }
    // The earlier form, without the database, is read in any database.
    std::string old = xid_to_old_gid(c.xid);
    XID back;
    ASSERT_TRUE(gid_to_xid(old, 16384, &back)) << c.name << ": " << old;
    EXPECT_TRUE(xid_equal(back, c.xid)) << c.name;
    EXPECT_EQ(xid_to_old_gid(back), old) << c.name;
  }
}

TEST(SqlXaXidText, GidsTheEncoderDoesNotWriteAreRejected) {
  const char* foreign[] = {
      "",                        // empty
      "my-own-gid",              // another application's
      "zx3.1.Zw.Yg",             // another version
      "zx2.7.1.Zw.Yg",           // another database's
      "zx2.0.1.Zw.Yg",           // database 0
      "zx2.07.1.Zw.Yg",          // database with a leading zero
      "zx2.4294967296.1.Zw.Yg",  // database past 32 bits
      "zx2.1.Zw.Yg",             // no database
      "zx2..1.Zw.Yg",            // empty database
      "zx1..Zw.Yg",              // no formatID
      "zx1.01.Zw.Yg",            // leading zero
      "zx1.-1.Zw.Yg",            // sign
      "zx1.2147483648.Zw.Yg",    // formatID too large
      "zx1.1..Yg",               // empty gtrid
      "zx1.1.Zw",                // no bqual part
      "zx1.1.Zw.Yg.Yg",          // a part too many
      "zx1.1.Zx.Yg",             // bits set past the last byte
      "zx1.1.Z.Yg",              // a length no encoding has
      "zx1.1.Zw==.Yg",           // padding
      "zx1.1.Z+.Yg",             // outside the URL alphabet
  };
  for (const char* gid : foreign) {
    XID xid;
    EXPECT_FALSE(gid_to_xid(gid, 1, &xid)) << gid;
  }
  std::string tooLong = "zx1.1." + std::string(88, 'A') + ".";  // 66 bytes of gtrid
  XID xid;
  EXPECT_FALSE(gid_to_xid(tooLong, 1, &xid));
  EXPECT_FALSE(gid_to_xid("zx2.1." + tooLong.substr(4), 1, &xid));
}

TEST(SqlXaXidText, OnlyXidsTheDatabasesTakeAreValid) {
  struct Case {
    const char* name;
    XID xid;
    bool valid;
  } cases[] = {
      {"ordinary", makeXid(1, "g", "b"), true},
      {"null XID", makeXid(-1, "g", "b"), false},
      {"negative formatID", makeXid(-2, "g", "b"), false},
      {"formatID past 32 bits", makeXid(0x80000000L, "g", "b"), sizeof(long) == 4},
      {"empty gtrid", makeXid(1, "", "b"), false},
      {"65-byte gtrid", makeXid(1, std::string(65, 'g'), ""), false},
  };
  for (const Case& c : cases) EXPECT_EQ(xid_is_valid(c.xid), c.valid) << c.name;
  XID longBqual = makeXid(1, "g", std::string(64, 'b'));
  longBqual.bqual_length = 65;
  EXPECT_FALSE(xid_is_valid(longBqual));
  EXPECT_EQ(xid_to_mariadb(makeXid(3, std::string("\0'", 2), "")), "X'0027',X'',3");
}

}  // namespace
}  // namespace sqlxa
}  // namespace zp
