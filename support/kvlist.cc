// The error list; see kvlist.h.
#include "support/kvlist.h"

#include "support/kverror.h"
#include "support/perthred.h"
#include "support/wingetst.h"

namespace zp {

namespace {
// postError's buffer: twice what is requested from the resources.
constexpr uint32_t kPostBufferUnits = 2 * kMessageCapacity;
}  // namespace

KvErrorList::~KvErrorList() {
  for (uint32_t i = 0; i < count(); ++i) destroyError(error(i));
}

void KvErrorList::destroyError(KvError* record) {
  if (record != nullptr && !record->isStatic()) delete record;
}

KvError* KvErrorList::takeOutOfMemoryError() { return &staticOutOfMemoryError(); }

KvError* KvErrorList::substituteError() {
  if (flags & kOutOfMemoryPending) return &staticOutOfMemoryError();
  return &staticFixedError();
}

KvError* KvErrorList::newError(uint16_t messageId, const uint16_t* text, uint32_t, uint32_t,
                               uint32_t) {
  KvError* record = new KvError(messageId);
  if (record == nullptr) {
    reportOutOfMemory();
    return nullptr;
  }
  if (record->message.assignUtf16(text, wideLength(text)) != 0) {
    delete record;
    return nullptr;
  }
  return record;
}

KvError* KvErrorList::popError() {
  if (flags & kOutOfMemoryPending) {
    flags &= ~kOutOfMemoryPending;
    return takeOutOfMemoryError();
  }
  if (count() == 0) return nullptr;
  KvError* last = error(count() - 1);
  removeAt(count() - 1);
  cursor = 0;
  return last;
}

bool KvErrorList::hasBlockingError() {
  if (count() == 0) return false;
  for (cursor = 0; cursor < count();) {
    const KvError* record = error(cursor++);
    if (record == nullptr) return false;
    if ((record->flags & KvError::kNonBlocking) == 0) return true;
  }
  return false;
}

int32_t KvErrorList::insertSorted(KvError* record) {
  uint32_t position = count();
  if (count() != 0 && (sortMode & kSortAppend) == 0) {
    if (record->compare(*error(0)) < 0) {
      position = 0;
    } else {
      uint32_t lo = 0;
      uint32_t hi = count() - 1;
      uint32_t mid = 0;
      int16_t r = 1;
      while (lo <= hi) {
        mid = (lo + hi) / 2;
        r = record->compare(*error(mid));
        if (r == 0) break;
        if (r > 0) {
          lo = mid + 1;
        } else {
          if (mid == 0) break;  // nothing lies before the first
          hi = mid - 1;
        }
      }
      if (r == 0) {
        // Behind the last of the records it ranks equal with.
        position = mid + 1;
        while (position < count() && record->compare(*error(position)) == 0) ++position;
      } else {
        position = r > 0 ? mid + 1 : mid;
      }
    }
  }
  if (insertAt(record, position) != kSupportOk) return kSupportFailed;
  record->admission = ++admissions_;
  return kSupportOk;
}

KvError* KvErrorList::submitError(KvError* record) {
  if ((flags & kAcceptAll) || !hasBlockingError()) {
    if (record == nullptr) return substituteError();
    if (insertSorted(record) == 0) return record;
  }
  // Refused, or the list could not grow to take it.
  destroyError(record);
  return substituteError();
}

void KvErrorList::discardLastError() { destroyError(popError()); }

void KvErrorList::discardAdmittedAfter(uint32_t admissionCount) {
  for (uint32_t i = count(); i > 0; --i) {
    KvError* record = error(i - 1);
    if (record != nullptr && record->admission > admissionCount) {
      removeAt(i - 1);
      destroyError(record);
    }
  }
  cursor = 0;
}

void KvErrorList::markOutOfMemory() {
  // The newest blocking record gives its memory back first.
  if ((flags & kAcceptAll) == 0 && hasBlockingError()) discardLastError();
  flags |= kOutOfMemoryPending;
}

KvError* KvErrorList::post(uint16_t messageId) {
  uint16_t text[kPostBufferUnits];
  loadMessage(text, messageId);
  return submitError(newError(messageId, text, 0, 0, 0));
}

KvErrorList* currentErrorList() { return static_cast<KvErrorList*>(threadSlot(0)); }

}  // namespace zp
