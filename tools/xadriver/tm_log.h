// The transaction manager's log: one line per commit decision, on disk before
// phase two begins. A global transaction without a decision in the log was
// never decided and is rolled back (presumed abort). Native target only.
//
//   commit GTRID     the decision, flushed to disk before it returns
//   done GTRID       both branches committed (written, not flushed: only a hint)
//
// GTRID is the global transaction id as printable text without blanks.
#ifndef ZP_TOOLS_XADRIVER_TM_LOG_H
#define ZP_TOOLS_XADRIVER_TM_LOG_H

#include <mutex>
#include <set>
#include <string>

namespace zp {
namespace xadriver {

class TmLog {
 public:
  TmLog() = default;
  ~TmLog();
  TmLog(const TmLog&) = delete;
  TmLog& operator=(const TmLog&) = delete;

  // Opens (creates) the log at path for appending; a new file's folder entry
  // is flushed too. False with the reason in *error.
  bool open(const std::string& path, std::string* error);
  // Writes the commit decision for gtrid and flushes it to disk. Returns only
  // when the line is durable; false (decision not made) on any failure.
  // Safe from several threads.
  bool decideCommit(const std::string& gtrid, std::string* error);
  // Notes that gtrid's branches are all committed.
  bool noteDone(const std::string& gtrid, std::string* error);

  // The global transactions the log at path decided to commit. A missing file
  // decided none. False when the file exists but cannot be read, or holds a
  // line it does not know (a torn last line, without its line end, is no
  // decision: it never completed its flush).
  static bool readDecisions(const std::string& path, std::set<std::string>* committed,
                            std::string* error);

 private:
  bool append(const std::string& line, bool durable, std::string* error);

  std::mutex lock_;
  int fd_ = -1;
};

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_TM_LOG_H
