#include "tools/refrm/open_info.h"

#include <cctype>
#include <cstring>

namespace zp {
namespace refrm {
namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool allDigits(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "P/user/password": the user may not be empty; the password may.
bool parseAccount(const std::string& value, std::string* user) {
  if (value.size() < 3 || (value[0] != 'P' && value[0] != 'p') || value[1] != '/') return false;
  const size_t second = value.find('/', 2);
  if (second == std::string::npos || second == 2) return false;
  *user = value.substr(2, second - 2);
  return true;
}

bool applyOption(const std::string& keyword, const std::string& value, OpenInfo* info,
                 std::string* reason) {
  if (equalsIgnoringCase(keyword, "Acc")) {
    if (parseAccount(value, &info->user)) return true;
    *reason = "+Acc needs the form P/user/password";
  } else if (equalsIgnoringCase(keyword, "DB")) {
    if (!value.empty()) {
      info->dbName = value;
      return true;
    }
    *reason = "+DB has an empty value";
  } else if (equalsIgnoringCase(keyword, "SqlNet")) {
    if (!value.empty()) {
      info->database = value;
      return true;
    }
    *reason = "+SqlNet has an empty value";
  } else if (equalsIgnoringCase(keyword, "SesTm")) {
    if (allDigits(value)) {
      info->sessionTimeout = std::stol(value);
      return true;
    }
    *reason = "+SesTm needs a number of seconds";
  } else if (equalsIgnoringCase(keyword, "Threads")) {
    if (equalsIgnoringCase(value, "true") || equalsIgnoringCase(value, "false")) {
      info->threads = equalsIgnoringCase(value, "true");
      return true;
    }
    *reason = "+Threads needs true or false";
  } else {
    *reason = "unknown option +" + keyword;
  }
  return false;
}

}  // namespace

bool parseOpenInfo(const char* text, OpenInfo* info, std::string* reason) {
  *info = OpenInfo();
  info->database = "default";
  if (text == nullptr) {
    *reason = "no open string";
    return false;
  }
  const std::string source(text);
  if (source.size() < 9 || !equalsIgnoringCase(source.substr(0, 9), "ORACLE_XA")) {
    *reason = "the open string does not begin with ORACLE_XA";
    return false;
  }
  size_t at = 9;
  while (at < source.size()) {
    if (source[at] != '+') {
      *reason = "text outside an option at offset " + std::to_string(at);
      return false;
    }
    size_t end = source.find('+', at + 1);
    if (end == std::string::npos) end = source.size();
    const std::string option = source.substr(at + 1, end - at - 1);
    const size_t equals = option.find('=');
    if (equals == std::string::npos || equals == 0) {
      *reason = "option without keyword=value: +" + option;
      return false;
    }
    if (!applyOption(option.substr(0, equals), option.substr(equals + 1), info, reason))
      return false;
    at = end;
  }
  return true;
}

}  // namespace refrm
}  // namespace zp
