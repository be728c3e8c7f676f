// The module switch record: one address, the name and its zero tail, flags
// and version, and the last fill's entries.
#include <gtest/gtest.h>

#include <cstring>

#include "xa/dtc_switch.h"
#include "xa/mq_switch.h"
#include "xa/switch_record.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

int openA(char*, int, long) { return 1; }
int openB(char*, int, long) { return 2; }
int closeA(char*, int, long) { return 3; }
int recoverA(XID*, long, int, long) { return 4; }

TEST(SwitchRecord, FillsNameFlagsVersionAndEntries) {
  XaEntrySet first = {};
  first.open = openA;
  first.close = closeA;
  first.recover = recoverA;
  xa_switch_t* record = fill_switch_record(first);
  ASSERT_NE(record, nullptr);

  char expectedName[RMNAMESZ] = {};
  std::memcpy(expectedName, "Oracle8 Server", 14);
  EXPECT_EQ(std::memcmp(record->name, expectedName, RMNAMESZ), 0) << "name and 18 zero bytes";
  EXPECT_EQ(record->flags, 0);
  EXPECT_EQ(record->version, 1);
  EXPECT_EQ(record->xa_open_entry, openA);
  EXPECT_EQ(record->xa_close_entry, closeA);
  EXPECT_EQ(record->xa_recover_entry, recoverA);
  EXPECT_EQ(record->xa_start_entry, nullptr);

  // The same set again: same address, identical bytes.
  xa_switch_t copy;
  std::memcpy(&copy, record, sizeof copy);
  EXPECT_EQ(fill_switch_record(first), record);
  EXPECT_EQ(std::memcmp(&copy, record, sizeof copy), 0);

  // Another set: same address, the later entries for every holder.
  XaEntrySet second = first;
  second.open = openB;
  EXPECT_EQ(fill_switch_record(second), record);
  EXPECT_EQ(record->xa_open_entry, openB);
  EXPECT_EQ(record->version, 1);
}

// Both entry points fill the one record: the later call's entries win for
// every holder, and neither loads a client library.
TEST(SwitchRecord, EntryPointsShareOneRecordAndTheLastWins) {
  xa_switch_t* fromDtc = nullptr;
  ASSERT_EQ(GetXaSwitch(0, &fromDtc), 0);
  ASSERT_NE(fromDtc, nullptr);
  EXPECT_EQ(fromDtc->xa_open_entry, dtc_xa_open);

  xa_switch_t* fromMq = MQStart();
  EXPECT_EQ(fromMq, fromDtc);
  EXPECT_EQ(fromDtc->xa_open_entry, or8_mq_xa_open);
  EXPECT_EQ(fromDtc->flags, 0);
  EXPECT_EQ(fromDtc->version, 1);
  EXPECT_STREQ(fromDtc->name, "Oracle8 Server");

  xa_switch_t* again = nullptr;
  ASSERT_EQ(GetXaSwitch(0, &again), 0);
  EXPECT_EQ(again, fromMq);
  EXPECT_EQ(fromMq->xa_open_entry, dtc_xa_open);
}

}  // namespace
}  // namespace zp
