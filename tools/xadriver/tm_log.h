// The transaction manager's log: one record per commit decision, on disk
// before phase two begins. A global transaction of this transaction manager
// without a decision in the log was never decided and is rolled back
// (presumed abort). Both targets.
//
// Each record is one line that carries its own length and checksum:
//
//   LENGTH CRC PAYLOAD      LENGTH: the payload's bytes in decimal; CRC: the
//                           CRC-32C of the payload, 8 hex digits
//
// and the payloads are, in order:
//
//   zpbank-log 2 tm ID      the header, first: ID (16 hex digits) is the
//                           identity fixed when the log was made; every
//                           global transaction id of this log starts with
//                           "zpbank-ID-"
//   commit GTRID            the decision, flushed to disk before it returns
//   done GTRID              both branches committed (written, not flushed)
//
// A reader takes the start of a record after the last line end (what a
// crash in the middle of an append leaves) as no record, and a whole record
// without its line end as a record; a damaged record anywhere, the last one
// too, is refused with its position, never skipped. A CR before a line end and blank
// lines are allowed (an edited copy). A process that writes or recovers the
// log holds an exclusive lock on it for as long as it has it open.
#ifndef ZP_TOOLS_XADRIVER_TM_LOG_H
#define ZP_TOOLS_XADRIVER_TM_LOG_H

#include <cstdint>
#include <set>
#include <string>

#include "platform/platform.h"

namespace zp {
namespace xadriver {

// What a log holds.
struct TmLogContents {
  std::string tmId;                 // the header's identity
  std::set<std::string> committed;  // the global transactions decided to commit
  uint64_t wholeEnd = 0;            // the end of the last whole line
  bool tornTail = false;            // the start of a record after it, cut short
  bool unterminated = false;        // the last record lacks only its line end
  int records = 0;                  // whole records, the header included
};

// The largest log read (64 MiB: some 700 000 decisions); a bigger file is
// refused rather than read into memory.
constexpr uint64_t kTmLogMostBytes = 64ull << 20;

class TmLog {
 public:
  TmLog();
  ~TmLog();
  TmLog(const TmLog&) = delete;
  TmLog& operator=(const TmLog&) = delete;

  // Opens the log at path for appending and locks it. A missing or empty
  // file gets a header with a new identity, flushed before this returns; an
  // existing one must read whole (a torn tail is cut first, so appended
  // records stay whole). False with the reason in *error: not a regular
  // file, locked by another process (named), not the bank's, damaged.
  bool open(const std::string& path, std::string* error);
  // Opens the existing log at path for recovery, locks it until this object
  // goes, and reads it into *contents. False with one line in *error naming
  // the log and the reason: missing, not a regular file, locked, no header,
  // too large, damaged, unreadable.
  bool openForRecovery(const std::string& path, TmLogContents* contents, std::string* error);

  // The identity of the open log.
  const std::string& tmId() const { return tmId_; }
  enum class Outcome {
    kWritten,     // the record is in the log (durable, when asked for)
    kNotWritten,  // nothing of it is in the log
    kUnknown,     // it could not be taken back: it may be in the log or not
  };
  // Writes the commit decision for gtrid and flushes it to disk. kWritten
  // only when the record is durable: the transaction is decided. After
  // kNotWritten it is not (its branches may be rolled back); after kUnknown
  // only recovery, reading the log, may decide it, and the log takes no more
  // records. Safe from several threads.
  Outcome decideCommit(const std::string& gtrid, std::string* error);
  // Notes that gtrid's branches are all committed; true when written.
  bool noteDone(const std::string& gtrid, std::string* error);

  // Reads the bytes of a log. False with the reason (and the byte position
  // of a damaged record) in *error.
  static bool parse(const std::string& bytes, TmLogContents* contents, std::string* error);
  // One record line for payload, line end included.
  static std::string record(const std::string& payload);
  // The header's payload for identity id.
  static std::string headerPayload(const std::string& id);
  // The prefix every global transaction id of the log with identity id has.
  static std::string gtridPrefix(const std::string& id) { return "zpbank-" + id + "-"; }

 private:
  bool lockAndRead(const std::string& path, bool create, TmLogContents* contents,
                   std::string* error);
  Outcome append(const std::string& payload, bool durable, std::string* error);
  Outcome appendLocked(const std::string& payload, bool durable, std::string* error)
      REQUIRES(lock_);
  // Closes and unlocks the file; returns result.
  bool close(bool result);

  platform::LockStorage lock_;  // over appends from several threads
  platform::LockedFile* file_ = nullptr;
  std::string path_;
  std::string tmId_;
  uint64_t end_ GUARDED_BY(lock_) = 0;     // the end of the last whole record
  bool broken_ GUARDED_BY(lock_) = false;  // a failed append could not be taken back
};

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_TM_LOG_H
