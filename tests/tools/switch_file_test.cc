// The switch-file example of the user guide, as an XA transaction manager on
// Linux loads it: dlopen, then its own lookup function (lixa_get_xa_switch),
// then a transaction through the switch it returns against the reference
// resource manager, with a prepared branch found again by recovery with its
// branch qualifier as the transaction manager wrote it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace {

constexpr int kRmid = 1;

// formatID "LIXA", a gtrid of 16 bytes and a bqual of 8 (shorter than 32).
XID branch(char tag) {
  XID xid = {};
  xid.formatID = 0x4c495841;
  xid.gtrid_length = 16;
  xid.bqual_length = 8;
  std::memset(xid.data, tag, 24);
  return xid;
}

bool sameXid(const XID& a, const XID& b) {
  return a.formatID == b.formatID && a.gtrid_length == b.gtrid_length &&
         a.bqual_length == b.bqual_length &&
         std::memcmp(a.data, b.data, static_cast<size_t>(a.gtrid_length + a.bqual_length)) == 0;
}

TEST(SwitchFile, TransactionThroughTheExampleShim) {
  // Every run starts without journals, a repeated one too.
  char journal[1024] = {0};
  ASSERT_NE(platform::environmentGet("ZP_REFRM_JOURNAL_DIR", journal, sizeof journal), 0u);
  std::error_code ignored;
  std::filesystem::remove_all(journal, ignored);
  platform::Library* shim = platform::libraryLoad(ZP_SWITCH_FILE);
  ASSERT_NE(shim, nullptr) << ZP_SWITCH_FILE;
  using GetSwitch = xa_switch_t* (*)();
  auto get = reinterpret_cast<GetSwitch>(platform::librarySymbol(shim, "lixa_get_xa_switch"));
  ASSERT_NE(get, nullptr);
  xa_switch_t* sw = get();
  ASSERT_NE(sw, nullptr);
  EXPECT_STREQ(sw->name, "Oracle8 Server");

  std::string info = "ORACLE_XA+Acc=P/scott/tiger+SqlNet=switch_file+DB=sf+SesTm=60";
  ASSERT_EQ(sw->xa_open_entry(&info[0], kRmid, TMNOFLAGS), XA_OK);
  // The application's work: the connection of this thread (the MQ switch
  // appends the process and thread ids to the +DB value), through the
  // module's accessor and the resource manager's own call.
  std::string db = "sf" + std::to_string(platform::currentProcessId()) +
                   std::to_string(platform::currentThreadId());
  using Accessor = void* (*)(char*);
  auto serviceContext = reinterpret_cast<Accessor>(platform::librarySymbol(shim, "hkMQXaoSvcCtx"));
  platform::Library* refrm = platform::libraryLoad("libxa80.so");
  ASSERT_NE(refrm, nullptr);
  using Work = int (*)(void*, const char*);
  auto work = reinterpret_cast<Work>(platform::librarySymbol(refrm, "refrm_work"));
  ASSERT_NE(serviceContext, nullptr);
  ASSERT_NE(work, nullptr);
  void* connection = serviceContext(&db[0]);
  // One branch committed in one phase, one prepared and completed from the
  // recovery scan, as a transaction manager does after a restart.
  XID first = branch('a');
  EXPECT_EQ(sw->xa_start_entry(&first, kRmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(work(connection, "update"), XA_OK);
  EXPECT_EQ(sw->xa_end_entry(&first, kRmid, TMSUCCESS), XA_OK);
  EXPECT_EQ(sw->xa_commit_entry(&first, kRmid, TMONEPHASE), XA_OK);
  XID second = branch('b');
  EXPECT_EQ(sw->xa_start_entry(&second, kRmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(work(connection, "update"), XA_OK);
  EXPECT_EQ(sw->xa_end_entry(&second, kRmid, TMSUCCESS), XA_OK);
  EXPECT_EQ(sw->xa_prepare_entry(&second, kRmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(second.bqual_length, 8) << "the MQStart switch keeps the branch qualifier";

  std::vector<XID> found(8);
  const int count = sw->xa_recover_entry(found.data(), 8, kRmid, TMSTARTRSCAN | TMENDRSCAN);
  ASSERT_EQ(count, 1);
  EXPECT_TRUE(sameXid(found[0], branch('b'))) << "bqual_length " << found[0].bqual_length;
  EXPECT_EQ(sw->xa_commit_entry(&found[0], kRmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw->xa_recover_entry(found.data(), 8, kRmid, TMSTARTRSCAN | TMENDRSCAN), 0);
  char empty[1] = {'\0'};
  EXPECT_EQ(sw->xa_close_entry(empty, kRmid, TMNOFLAGS), XA_OK);
  platform::libraryUnload(refrm);
  platform::libraryUnload(shim);
}

}  // namespace
}  // namespace zp
