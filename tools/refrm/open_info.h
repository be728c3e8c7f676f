// The open string as the reference resource manager reads it: the prefix
// "ORACLE_XA" and the options a database client understands, each checked.
#ifndef ZP_TOOLS_REFRM_OPEN_INFO_H
#define ZP_TOOLS_REFRM_OPEN_INFO_H

#include <string>

namespace zp {
namespace refrm {

struct OpenInfo {
  std::string user;      // from "+Acc=P/user/password"
  std::string dbName;    // "+DB=": names the connection inside the process
  std::string database;  // "+SqlNet=": which database; "default" without one
  long sessionTimeout = 0;
  bool threads = false;
};

// Parses an open string. Returns true and fills info when it is well formed:
// the prefix in any letter case, then options "+Keyword=value" with the
// keywords Acc, DB, SesTm, SqlNet and Threads (any letter case), each value of
// its kind. Otherwise returns false and names the first fault in *reason.
bool parseOpenInfo(const char* text, OpenInfo* info, std::string* reason);

}  // namespace refrm
}  // namespace zp

#endif  // ZP_TOOLS_REFRM_OPEN_INFO_H
