// Reading open strings for display: the account password hidden, and the
// "+DB=" value the client will see.
#ifndef ZP_TOOLS_XADRIVER_OPEN_TEXT_H
#define ZP_TOOLS_XADRIVER_OPEN_TEXT_H

#include <string>

namespace zp {
namespace xadriver {

// The text as the driver may print it: the password of every account option
// masked by the module's own rule (mask_open_string, support/open_mask.h).
// Every open string, option or piece of one that the driver prints goes
// through it.
std::string maskPassword(const std::string& text);

// The value of the first "+DB=" option (keyword in any letter case), or "".
std::string dbValue(const std::string& text);

// Whether two texts are equal, letter case of ASCII letters ignored.
bool sameIgnoringCase(const std::string& a, const std::string& b);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_OPEN_TEXT_H
