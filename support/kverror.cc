// Error records; see kverror.h.
#include "support/kverror.h"

#include "support/kvlist.h"
#include "support/wingetst.h"

namespace zp {

const uint16_t kSqlStateTruncated[6] = {'0', '1', '0', '0', '4', 0};

namespace {

const uint16_t kStateCommunicationLink[] = {'0', '8', 'S', '0', '1', 0};
const uint16_t kStateOptionChanged[] = {'0', '1', 'S', '0', '1', 0};
const uint16_t kStateRangeLow[] = {'0', '3', 0};
const uint16_t kStateRangeHigh[] = {'H', 'Z', 0};
const uint16_t kStateDriverManager[] = {'I', 'M', 0};
const uint16_t kStateGeneral[] = {'H', 'Y', '0', '0', '0', 0};
const uint16_t kStateMemory[] = {'H', 'Y', '0', '0', '1', 0};
const uint16_t kUnknownArgument[] = {'<', 'u', 'n', 'k', 'n', 'o', 'w', 'n', '>', 0};

constexpr int kUnranked = 5;

// 1 to 4 by the first rule the state meets, kUnranked when it meets none.
int rankOf(const uint16_t* state) {
  if (wideEqual(state, kStateCommunicationLink)) return 1;
  if (wideEqual(state, kStateOptionChanged)) return 2;
  if (wideCompare(state, kStateRangeLow) >= 0 && wideCompare(state, kStateRangeHigh) <= 0) return 3;
  if (wideEqual(state, kStateDriverManager)) return 4;
  return kUnranked;
}

// Copies at most five units of source and terminates.
void copyState(uint16_t* state, const uint16_t* source) {
  int i = 0;
  for (; i < KvError::kSqlStateUnits - 1 && source[i] != 0; ++i) state[i] = source[i];
  state[i] = 0;
}

}  // namespace

KvNode::~KvNode() = default;

KvError::KvError(uint16_t id, uint16_t state, uint32_t initialFlags)
    : messageId(id), stateId(state), flags(initialFlags) {}

KvError::~KvError() = default;

void KvError::setSqlState(const uint16_t* state, uint16_t id) {
  copyState(sqlState, state);
  stateId = id;
}

void KvError::stateText(uint16_t* state) const {
  if (sqlState[0] != 0) {
    copyState(state, sqlState);
  } else if (stateId != 0) {
    // A longer message counts with its first five characters.
    uint16_t text[kMessageCapacity];
    loadMessage(text, stateId);
    copyState(state, text);
  } else {
    copyState(state, (flags & kOutOfMemory) ? kStateMemory : kStateGeneral);
  }
}

int16_t KvError::compare(const KvObject& other) const {
  const KvError& that = static_cast<const KvError&>(other);
  if (order != that.order) return order < that.order ? -1 : 1;
  uint16_t mine[kSqlStateUnits];
  uint16_t theirs[kSqlStateUnits];
  stateText(mine);
  that.stateText(theirs);
  const int rankA = rankOf(mine);
  const int rankB = rankOf(theirs);
  if (rankA == kUnranked && rankB == kUnranked) return 0;
  // This record is tested first, so it wins a tie of ranks.
  return rankA <= rankB ? -1 : 1;
}

KvError* KvError::addArgument(const char* text) {
  if (flags & kFixed) return this;
  KvErrorList* list = currentErrorList();
  const uint32_t noted = list != nullptr ? list->count() : 0;
  const uint32_t notedAdmissions = list != nullptr ? list->admissions() : 0;
  KvStringW converted;
  int32_t failed = text == nullptr ? 1 : converted.assignCString(text, argumentEncoding);
  int32_t substituted = 1;
  if (failed == 0) {
    substituted = message.substitute(converted);
  } else {
    // Text that is not UTF-8 is often ANSI text: when the failed conversion
    // left a record behind (so it was not for want of memory), drop it and
    // try the ANSI code page.
    const bool utf8 = argumentEncoding != kEncodingAnsi && argumentEncoding != kEncodingUtf16;
    if (utf8 && text != nullptr && list != nullptr && list->count() > noted &&
        (list->flags & KvErrorList::kOutOfMemoryPending) == 0) {
      list->discardAdmittedAfter(notedAdmissions);
      converted.clear();
      failed = converted.assignCString(text, kEncodingAnsi);
      if (failed == 0) {
        substituted = message.substitute(converted);
      } else {
        list->discardAdmittedAfter(notedAdmissions);
      }
    }
    if (failed != 0) substituted = message.substitute(kUnknownArgument);
  }
  if (substituted != 0) return list != nullptr ? list->substituteError() : nullptr;
  return this;
}

}  // namespace zp
