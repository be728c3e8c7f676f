// Reading open strings for display: the account password hidden, and the
// "+DB=" value the client will see.
#ifndef ZP_TOOLS_XADRIVER_OPEN_TEXT_H
#define ZP_TOOLS_XADRIVER_OPEN_TEXT_H

#include <string>

namespace zp {
namespace xadriver {

// The text with the password of every "+Acc=P/user/password" option (keyword
// in any letter case) shown as "****": everything after the value's second
// '/' up to the next '+' or the end. A value with fewer than two '/' stays.
std::string maskPassword(const std::string& text);

// The value of the first "+DB=" option (keyword in any letter case), or "".
std::string dbValue(const std::string& text);

// Whether two texts are equal, letter case of ASCII letters ignored.
bool sameIgnoringCase(const std::string& a, const std::string& b);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_OPEN_TEXT_H
