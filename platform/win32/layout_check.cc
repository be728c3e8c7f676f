// The XA records' layout on the Windows targets, as every transaction manager
// there declares it: long is 4 bytes (LLP64), entries are pointers.
#include <cstddef>

#include "zpor8dtc23/xa.h"

static_assert(sizeof(long) == 4, "the Windows targets' long is 4 bytes");
static_assert(sizeof(XID) == 140, "XID is 140 bytes");
static_assert(offsetof(XID, data) == 12, "XID data at 12");
static_assert(offsetof(xa_switch_t, name) == 0, "name at 0");
static_assert(offsetof(xa_switch_t, flags) == 32, "flags at 32");
static_assert(offsetof(xa_switch_t, version) == 36, "version at 36");
static_assert(offsetof(xa_switch_t, xa_open_entry) == 40, "first entry at 40");
#ifndef _WIN64
static_assert(offsetof(xa_switch_t, xa_close_entry) == 44, "entries 4 bytes apart");
static_assert(offsetof(xa_switch_t, xa_complete_entry) == 76, "last entry at 76");
static_assert(sizeof(xa_switch_t) == 80, "switch record is 80 bytes");
#endif
