#include "support/kvcritse.h"

namespace zp {

KvCriticalSection::KvCriticalSection() {
  flags_ &= ~kSkipLocking;
  flags_ |= kInitialised;
  platform::lockInit(&lock_);
}

KvCriticalSection::~KvCriticalSection() {
  if (flags_ & kInitialised) {
    platform::lockDestroy(&lock_);
    flags_ &= ~kInitialised;
  }
}

// The analysis cannot see that the system lock stands for the section, and
// the skip-locking flag makes the acquisition conditional.
void KvCriticalSection::enter() NO_THREAD_SAFETY_ANALYSIS {
  if (!(flags_ & kSkipLocking)) platform::lockEnter(&lock_);
}

void KvCriticalSection::leave() NO_THREAD_SAFETY_ANALYSIS {
  if (!(flags_ & kSkipLocking)) platform::lockLeave(&lock_);
}

}  // namespace zp
