// KvErrorList: a thread's error list, kept in slot 0 of its KvThreadInfo. It
// holds KvError records in compare order, admits or refuses new ones, and
// carries an out-of-memory mark. The module itself never installs one; a host
// that wants the records does, and may override the three virtual operations.
#ifndef ZP_SUPPORT_KVLIST_H
#define ZP_SUPPORT_KVLIST_H

#include <cstdint>

#include "support/kvarray.h"
#include "support/kverror.h"

namespace zp {

class KvErrorList : public KvArray {
 public:
  enum : uint32_t {
    kAcceptAll = 1u << 0,           // every new record is admitted
    kOutOfMemoryPending = 1u << 1,  // an out-of-memory report is waiting
  };
  enum : uint32_t { kSortAppend = 3u };  // sortMode bits: append, do not order

  KvErrorList() = default;
  // Destroys the records it holds, except static ones.
  ~KvErrorList() override;

  // The record handed out for a pending out-of-memory report: the static
  // out-of-memory record.
  virtual KvError* takeOutOfMemoryError();
  // The record handed to a caller whose record was refused or could not be
  // completed: the static out-of-memory record while an out-of-memory report
  // is pending, else the static fixed record.
  virtual KvError* substituteError();
  // Builds a record for messageId with a copy of text. The three further
  // values are reserved (0). Null, reported, when memory runs out.
  virtual KvError* newError(uint16_t messageId, const uint16_t* text, uint32_t reserved1,
                            uint32_t reserved2, uint32_t reserved3);

  KvError* error(uint32_t index) const { return static_cast<KvError*>(at(index)); }
  // Records admitted so far, counting removed ones.
  uint32_t admissions() const { return admissions_; }

  // The pending out-of-memory record (clearing the mark), else the last record
  // (removed; the caller owns it), else null.
  KvError* popError();
  // True when some record, from the first on, lacks the non-blocking flag.
  // Leaves the cursor behind the last record examined.
  bool hasBlockingError();
  // Inserts record in compare order (behind records it compares equal to), or
  // appends when the list is empty or sortMode says so. Returns kSupportOk, or
  // kSupportFailed when the list could not grow.
  int32_t insertSorted(KvError* record);
  // Admits record (inserted and returned) when the list accepts all or holds
  // no blocking record; otherwise destroys it. A null, refused or uninserted
  // record gives substituteError().
  KvError* submitError(KvError* record);
  // Removes the newest record (or the pending out-of-memory one) and destroys
  // it unless static.
  void discardLastError();
  // Removes and destroys (unless static) the records admitted after the
  // admission count given.
  void discardAdmittedAfter(uint32_t admissionCount);

  // The list-side steps of the error entry points.
  void markOutOfMemory();
  KvError* post(uint16_t messageId);

  // Destroys record unless it is null or static.
  static void destroyError(KvError* record);

  uint32_t sortMode = 0;
  uint32_t flags = 0;
  uint32_t cursor = 0;

 private:
  uint32_t admissions_ = 0;
};

// The calling thread's error list (slot 0 of its record), or null.
KvErrorList* currentErrorList();

}  // namespace zp

#endif  // ZP_SUPPORT_KVLIST_H
