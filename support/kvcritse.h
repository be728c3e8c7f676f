// KvCriticalSection: a KvObject around one re-entrant system lock. Every lock
// of the module is a static instance of it.
#ifndef ZP_SUPPORT_KVCRITSE_H
#define ZP_SUPPORT_KVCRITSE_H

#include <cstdint>

#include "platform/platform.h"
#include "support/kvobject.h"

namespace zp {

class CAPABILITY("mutex") KvCriticalSection : public KvObject {
 public:
  enum : uint32_t {
    kInitialised = 1u << 0,
    kSkipLocking = 1u << 1,  // nothing in the module sets it
  };

  // Clears the skip-locking flag, marks the section initialised and
  // initialises the system lock.
  KvCriticalSection();
  // Deletes the system lock only when it is marked initialised.
  ~KvCriticalSection() override;

  // Re-entrant on the owning thread; skipped while kSkipLocking is set.
  void enter() ACQUIRE();
  void leave() RELEASE();

  uint32_t flags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }

 private:
  platform::LockStorage lock_;
  uint32_t flags_ = 0;
};

// Holds a KvCriticalSection for the guard's scope.
class SCOPED_CAPABILITY KvLockGuard {
 public:
  explicit KvLockGuard(KvCriticalSection& section) ACQUIRE(section) : section_(section) {
    section_.enter();
  }
  ~KvLockGuard() RELEASE() { section_.leave(); }
  KvLockGuard(const KvLockGuard&) = delete;
  KvLockGuard& operator=(const KvLockGuard&) = delete;

 private:
  KvCriticalSection& section_;
};

}  // namespace zp

#endif  // ZP_SUPPORT_KVCRITSE_H
