// Error records: KvError carries a message id, a message with numbered
// placeholders, an SQLSTATE (text, or the id of a message that holds it) and
// an ordering number, and ranks against other records by its SQLSTATE.
#ifndef ZP_SUPPORT_KVERROR_H
#define ZP_SUPPORT_KVERROR_H

#include <cstdint>

#include "support/kvobject.h"
#include "support/kvparams.h"
#include "support/kvstringw.h"

namespace zp {

// Message ids the support library posts.
enum : uint16_t {
  kMessageNotOwner = 2716,      // growth of a string that does not own its buffer
  kMessageInvalidUtf8 = 2737,   // UTF-8 input the converter refused
  kMessageOutOfMemory = 30190,  // the static out-of-memory record
};

// SQLSTATE given to the record of an invalid UTF-8 conversion, and its id.
extern const uint16_t kSqlStateTruncated[6];
constexpr uint16_t kSqlStateTruncatedId = 4;

// A node of the support library's lists; adds nothing to KvObject.
class KvNode : public KvObject {
 public:
  KvNode() = default;
  ~KvNode() override;
};

class KvError : public KvNode {
 public:
  enum : uint32_t {
    kNonBlocking = 1u << 0,  // does not stop further records from being admitted
    kStatic = 1u << 1,       // never destroyed by a list
    kOutOfMemory = 1u << 2,  // default SQLSTATE "HY001" instead of "HY000"
    kFixed = 1u << 3,        // addArgument leaves the message unchanged
  };
  static constexpr int kSqlStateUnits = 6;  // five characters and a terminator

  explicit KvError(uint16_t messageId, uint16_t stateId = 0, uint32_t flags = 0);
  // Destroys the message.
  ~KvError() override;

  // Orders by order, then by SQLSTATE rank: "08S01" first, then "01S01", then
  // states from "03" to "HZ", then "IM"; among records of one such rank this
  // record sorts first. Records no rank applies to compare equal.
  // REQUIRES: other is a KvError.
  int16_t compare(const KvObject& other) const override;

  // Substitutes text, converted by argumentEncoding, for the message's next
  // placeholder; "<unknown>" when it cannot be converted (UTF-8 is retried as
  // ANSI first). Returns this record, or the calling thread's error list's
  // substitute (null without a list) when the substitution ran out of memory.
  // A fixed record is returned unchanged.
  KvError* addArgument(const char* text);

  // Sets the SQLSTATE text (at most five units of state) and its id.
  void setSqlState(const uint16_t* state, uint16_t id);
  bool isStatic() const { return (flags & kStatic) != 0; }

  uint16_t messageId;
  uint16_t stateId;
  KvParamStringW message;
  int32_t argumentEncoding = kEncodingAnsi;
  uint16_t sqlState[kSqlStateUnits] = {};  // empty when not set
  int32_t order = 0;                       // smaller sorts first
  uint32_t flags;
  // Set by the list that admits the record: its admission count then.
  uint32_t admission = 0;

 private:
  // The state this record ranks by, at most five units, terminated.
  void stateText(uint16_t* state) const;
};

// The two static error records an error list may hand out: the out-of-memory
// record (message 30190, SQLSTATE "HY001") and the fixed record, whose
// message addArgument leaves alone. Neither is ever destroyed by a list. Built
// by the module with its other static objects, in their order
// (module/libmain.cc); each requires the module to be loaded.
KvError& staticOutOfMemoryError();
KvError& staticFixedError();

}  // namespace zp

#endif  // ZP_SUPPORT_KVERROR_H
