#include "tools/xadriver/xa_names.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "zpor8dtc23/xa.h"

namespace zp {
namespace xadriver {
namespace {

struct Named {
  const char* name;
  long value;
};

const Named kResults[] = {
    {"XA_OK", XA_OK},
    {"XA_RDONLY", XA_RDONLY},
    {"XA_RETRY", XA_RETRY},
    {"XA_HEURMIX", XA_HEURMIX},
    {"XA_HEURRB", XA_HEURRB},
    {"XA_HEURCOM", XA_HEURCOM},
    {"XA_HEURHAZ", XA_HEURHAZ},
    {"XA_NOMIGRATE", XA_NOMIGRATE},
    {"XA_RBROLLBACK", XA_RBROLLBACK},
    {"XA_RBCOMMFAIL", XA_RBCOMMFAIL},
    {"XA_RBDEADLOCK", XA_RBDEADLOCK},
    {"XA_RBINTEGRITY", XA_RBINTEGRITY},
    {"XA_RBOTHER", XA_RBOTHER},
    {"XA_RBPROTO", XA_RBPROTO},
    {"XA_RBTIMEOUT", XA_RBTIMEOUT},
    {"XA_RBTRANSIENT", XA_RBTRANSIENT},
    {"XAER_ASYNC", XAER_ASYNC},
    {"XAER_RMERR", XAER_RMERR},
    {"XAER_NOTA", XAER_NOTA},
    {"XAER_INVAL", XAER_INVAL},
    {"XAER_PROTO", XAER_PROTO},
    {"XAER_RMFAIL", XAER_RMFAIL},
    {"XAER_DUPID", XAER_DUPID},
    {"XAER_OUTSIDE", XAER_OUTSIDE},
};

// Flags as 32-bit patterns: TMASYNC does not fit a 32-bit long.
struct NamedFlag {
  const char* name;
  unsigned long value;
};

const NamedFlag kFlags[] = {
    {"TMASYNC", TMASYNC},       {"TMONEPHASE", TMONEPHASE},
    {"TMFAIL", TMFAIL},         {"TMNOWAIT", TMNOWAIT},
    {"TMRESUME", TMRESUME},     {"TMSUCCESS", TMSUCCESS},
    {"TMSUSPEND", TMSUSPEND},   {"TMSTARTRSCAN", TMSTARTRSCAN},
    {"TMENDRSCAN", TMENDRSCAN}, {"TMMULTIPLE", TMMULTIPLE},
    {"TMJOIN", TMJOIN},         {"TMMIGRATE", TMMIGRATE},
};

// A number in C notation (decimal, 0x hexadecimal or 0 octal) within
// [lowest, highest], nothing before or after it.
bool parseNumber(const std::string& text, long long lowest, long long highest, long long* value) {
  const size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (digits >= text.size() || text[digits] < '0' || text[digits] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || errno == ERANGE || number < lowest || number > highest) return false;
  *value = number;
  return true;
}

// Flags are 32-bit patterns, written as names or as unsigned numbers.
constexpr long long kFlagsHighest = 0xffffffffLL;

}  // namespace

std::string resultName(int result) {
  for (const Named& named : kResults) {
    if (named.value == result) return named.name;
  }
  return std::to_string(result);
}

bool parseResult(const std::string& text, int* result) {
  for (const Named& named : kResults) {
    if (text == named.name) {
      *result = static_cast<int>(named.value);
      return true;
    }
  }
  long long value = 0;
  if (!parseNumber(text, INT_MIN, INT_MAX, &value)) return false;
  *result = static_cast<int>(value);
  return true;
}

std::string flagsName(long flags) {
  if (flags == TMNOFLAGS) return "TMNOFLAGS";
  std::string text;
  unsigned long rest = static_cast<unsigned long>(flags) & 0xffffffffUL;
  for (const NamedFlag& named : kFlags) {
    const unsigned long bit = named.value & 0xffffffffUL;
    if ((rest & bit) == bit) {
      text += (text.empty() ? "" : "|") + std::string(named.name);
      rest &= ~bit;
    }
  }
  if (rest != 0) {
    char hex[24];
    std::snprintf(hex, sizeof(hex), "0x%lx", rest);
    text += (text.empty() ? "" : "|") + std::string(hex);
  }
  return text;
}

bool parseFlags(const std::string& text, long* flags) {
  long value = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t bar = text.find('|', at);
    if (bar == std::string::npos) bar = text.size();
    const std::string word = text.substr(at, bar - at);
    long long number = 0;
    bool known = word == "TMNOFLAGS" || parseNumber(word, 0, kFlagsHighest, &number);
    long bit = static_cast<long>(static_cast<unsigned long>(number));
    for (const NamedFlag& named : kFlags) {
      if (word == named.name) {
        bit = static_cast<long>(named.value);
        known = true;
      }
    }
    if (!known) return false;
    value |= bit;
    at = bar + 1;
  }
  *flags = value;
  return true;
}

}  // namespace xadriver
}  // namespace zp
