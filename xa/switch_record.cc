#include "xa/switch_record.h"

#include <cstddef>

#include "module/diag_log.h"

namespace zp {

const char kSwitchName[] = "Oracle8 Server";

namespace {

// Zero at load; bytes 15 to 31 of the name are never written.
xa_switch_t g_moduleSwitch;
// The entry point whose entries the record holds; null until the first fill.
const char* g_filledBy;

// Two threads may fetch the switch at once. Each field is stored atomically,
// so such fills (which store identical values for one entry point) do not
// race; a transaction manager reads the record as a plain struct afterwards.
template <typename T>
void store(T* field, T value) {
  __atomic_store_n(field, value, __ATOMIC_RELAXED);
}

}  // namespace

xa_switch_t* fill_switch_record(const XaEntrySet& entries, const char* entryPoint) {
  for (size_t i = 0; i < sizeof kSwitchName; ++i) store(&g_moduleSwitch.name[i], kSwitchName[i]);
  store(&g_moduleSwitch.flags, TMNOFLAGS);
  store(&g_moduleSwitch.version, 1L);
  // The open entry tells the two entry sets apart: exchanged, so that of
  // two threads switching the record at once each sees what it replaced.
  auto* const replaced =
      __atomic_exchange_n(&g_moduleSwitch.xa_open_entry, entries.open, __ATOMIC_RELAXED);
  const char* const previous = __atomic_exchange_n(&g_filledBy, entryPoint, __ATOMIC_RELAXED);
  store(&g_moduleSwitch.xa_close_entry, entries.close);
  store(&g_moduleSwitch.xa_start_entry, entries.start);
  store(&g_moduleSwitch.xa_end_entry, entries.end);
  store(&g_moduleSwitch.xa_rollback_entry, entries.rollback);
  store(&g_moduleSwitch.xa_prepare_entry, entries.prepare);
  store(&g_moduleSwitch.xa_commit_entry, entries.commit);
  store(&g_moduleSwitch.xa_recover_entry, entries.recover);
  store(&g_moduleSwitch.xa_forget_entry, entries.forget);
  store(&g_moduleSwitch.xa_complete_entry, entries.complete);
  if (replaced != nullptr && replaced != entries.open && diag_log_level() != kDiagOff) {
    diag_log_line(
        "switch record: %s replaces the entries %s gave; every holder of the switch now calls "
        "%s's entries (one process uses one entry point)",
        entryPoint, previous != nullptr ? previous : "the other entry point", entryPoint);
  }
  return &g_moduleSwitch;
}

}  // namespace zp
