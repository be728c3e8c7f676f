// The journal of prepared branches: one text file per database in the journal
// folder, appended to when a branch is prepared and when it is finished, so a
// later process learns which branches are in doubt by replaying it.
#ifndef ZP_TOOLS_REFRM_JOURNAL_H
#define ZP_TOOLS_REFRM_JOURNAL_H

#include <string>
#include <vector>

#include "zpor8dtc23/xa.h"

namespace zp {
namespace refrm {

// A well-formed XID: format id not -1, gtrid 1..64 bytes, bqual 0..64 bytes.
bool xidIsValid(const XID& xid);
// The identity of a branch: format id and the gtrid and bqual bytes, as text.
// REQUIRES: xidIsValid(xid).
std::string xidKey(const XID& xid);

// The journal folder: the value of ZP_REFRM_JOURNAL_DIR when set, else
// "zp-refrm-journal" in the system's temporary folder. Creates it when
// missing; returns false when it cannot.
bool journalFolder(std::string* folder);
// The journal file of database in folder (unsafe characters of the name
// become '_').
std::string journalFile(const std::string& folder, const std::string& database);

// Appends one line saying the branch is prepared (or, with prepared false,
// finished). Returns false when the file cannot be written.
bool journalAppend(const std::string& file, const XID& xid, bool prepared);
// Replays the file: the branches prepared and not finished since, in the
// order they were prepared. A missing file holds none.
std::vector<XID> journalPending(const std::string& file);

}  // namespace refrm
}  // namespace zp

#endif  // ZP_TOOLS_REFRM_JOURNAL_H
