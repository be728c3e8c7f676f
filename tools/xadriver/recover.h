// The driver's recover command: the operator's tool for in-doubt branches.
// It lists what a resource manager holds in doubt for one rmid, each XID in a
// form that can be pasted back, and resolves one chosen branch.
#ifndef ZP_TOOLS_XADRIVER_RECOVER_H
#define ZP_TOOLS_XADRIVER_RECOVER_H

#include <string>

#include "zpor8dtc23/xa.h"

namespace zp {
namespace xadriver {

// "FORMAT:GTRID:BQUAL", each part in hexadecimal (the format identifier as a
// 32-bit pattern, the two others byte by byte, lower case); an empty branch
// qualifier leaves "FORMAT:GTRID:".
std::string xidToHex(const XID& xid);
// Reads that form back (either letter case). Returns false, with xid
// untouched, unless the format fits 32 bits, the global transaction id holds
// 1 to 64 whole bytes and the branch qualifier 0 to 64 ("FORMAT:GTRID", with
// no second colon, is an empty one too).
bool xidFromHex(const std::string& text, XID* xid);

// The command word: the first argument that is neither an option of the
// driver nor an option's value ("" when there is none).
std::string commandWord(int argc, char** argv);
// Runs it: xadriver [--module FILE] [--tm dtc|mq] [--open STRING] [--rmid N]
// [--log FILE] recover --list | --commit XID | --rollback XID | --forget XID.
// Returns the exit status: 0 when the list was read or the branch resolved
// with XA_OK, 1 otherwise, 2 for wrong arguments or a log that cannot be
// read (with --log, --list marks each branch the log's own or not).
int runRecover(int argc, char** argv);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_RECOVER_H
