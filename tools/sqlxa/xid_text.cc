// XIDs as PostgreSQL gids and MariaDB hex literals. The gid forms are
// canonical: decoding accepts exactly what encoding produces, so a gid that
// decodes is one this library wrote, and decoding then encoding gives the same
// text.
#include "tools/sqlxa/xid_text.h"

#include <cstring>

namespace zp {
namespace sqlxa {
namespace {

// Version 2 names the database (by OID) as well; version 1 is read only.
const char kGidPrefix[] = "zx2.";
const char kOldGidPrefix[] = "zx1.";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const long kMaxFormatId = 0x7fffffff;
const unsigned long kMaxDatabase = 0xffffffffUL;

std::string base64url(const char* data, long length) {
  std::string out;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  long i = 0;
  for (; i + 3 <= length; i += 3) {
    unsigned value = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kBase64[(value >> 18) & 63];
    out += kBase64[(value >> 12) & 63];
    out += kBase64[(value >> 6) & 63];
    out += kBase64[value & 63];
  }
  if (length - i == 1) {
    unsigned value = bytes[i] << 16;
    out += kBase64[(value >> 18) & 63];
    out += kBase64[(value >> 12) & 63];
  } else if (length - i == 2) {
    unsigned value = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kBase64[(value >> 18) & 63];
    out += kBase64[(value >> 12) & 63];
    out += kBase64[(value >> 6) & 63];
  }
  return out;
}

int base64_value(char c) {
  const char* found = c == '\0' ? nullptr : std::strchr(kBase64, c);
  return found == nullptr ? -1 : static_cast<int>(found - kBase64);
}

// Decodes unpadded base64url strictly: a length that leaves one character, a
// character outside the alphabet or set bits past the last byte fail.
bool unbase64url(const std::string& text, std::string* out) {
  if (text.size() % 4 == 1) return false;
  out->clear();
  unsigned value = 0;
  int bits = 0;
  for (char c : text) {
    int digit = base64_value(c);
    if (digit < 0) return false;
    value = (value << 6) | static_cast<unsigned>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<char>((value >> bits) & 0xff));
    }
  }
  return (value & ((1u << bits) - 1)) == 0;
}

// A decimal number without sign or leading zeros, at most limit.
bool parse_number(const std::string& text, unsigned long long limit, unsigned long long* value) {
  if (text.empty() || text.size() > 10 || (text[0] == '0' && text.size() > 1)) return false;
  unsigned long long result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<unsigned long long>(c - '0');
  }
  if (result > limit) return false;
  *value = result;
  return true;
}

// "<formatID>.<gtrid>.<bqual>", the part of a gid after its prefix.
bool parse_xid_part(const std::string& text, XID* xid) {
  size_t dot1 = text.find('.');
  if (dot1 == std::string::npos) return false;
  size_t dot2 = text.find('.', dot1 + 1);
  if (dot2 == std::string::npos || text.find('.', dot2 + 1) != std::string::npos) return false;
  unsigned long long format_id = 0;
  std::string gtrid;
  std::string bqual;
  if (!parse_number(text.substr(0, dot1), kMaxFormatId, &format_id) ||
      !unbase64url(text.substr(dot1 + 1, dot2 - dot1 - 1), &gtrid) ||
      !unbase64url(text.substr(dot2 + 1), &bqual) || gtrid.empty() || gtrid.size() > MAXGTRIDSIZE ||
      bqual.size() > MAXBQUALSIZE) {
    return false;
  }
  XID result{};
  result.formatID = static_cast<long>(format_id);
  result.gtrid_length = static_cast<long>(gtrid.size());
  result.bqual_length = static_cast<long>(bqual.size());
  std::memcpy(result.data, gtrid.data(), gtrid.size());
  std::memcpy(result.data + gtrid.size(), bqual.data(), bqual.size());
  *xid = result;
  return true;
}

std::string xid_part(const XID& xid) {
  return std::to_string(xid.formatID) + "." + base64url(xid.data, xid.gtrid_length) + "." +
         base64url(xid.data + xid.gtrid_length, xid.bqual_length);
}

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string hex(const char* data, long length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (long i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(data[i]);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

}  // namespace

bool xid_is_valid(const XID& xid) {
  return xid.formatID >= 0 && xid.formatID <= kMaxFormatId && xid.gtrid_length >= 1 &&
         xid.gtrid_length <= MAXGTRIDSIZE && xid.bqual_length >= 0 &&
         xid.bqual_length <= MAXBQUALSIZE;
}

bool xid_equal(const XID& a, const XID& b) {
  return a.formatID == b.formatID && a.gtrid_length == b.gtrid_length &&
         a.bqual_length == b.bqual_length &&
         std::memcmp(a.data, b.data, static_cast<size_t>(a.gtrid_length + a.bqual_length)) == 0;
}

std::string xid_to_gid(const XID& xid, unsigned long database) {
  return kGidPrefix + std::to_string(database) + "." + xid_part(xid);
}

std::string xid_to_old_gid(const XID& xid) { return kOldGidPrefix + xid_part(xid); }

bool gid_to_xid(const std::string& gid, unsigned long database, XID* xid) {
  if (starts_with(gid, kOldGidPrefix))
    return parse_xid_part(gid.substr(sizeof kOldGidPrefix - 1), xid);
  if (!starts_with(gid, kGidPrefix)) return false;
  const size_t prefix = sizeof kGidPrefix - 1;
  const size_t dot = gid.find('.', prefix);
  unsigned long long named = 0;
  if (dot == std::string::npos ||
      !parse_number(gid.substr(prefix, dot - prefix), kMaxDatabase, &named) || named == 0 ||
      named != database) {
    return false;
  }
  return parse_xid_part(gid.substr(dot + 1), xid);
}

std::string xid_to_mariadb(const XID& xid) {
  return "X'" + hex(xid.data, xid.gtrid_length) + "',X'" +
         hex(xid.data + xid.gtrid_length, xid.bqual_length) + "'," + std::to_string(xid.formatID);
}

}  // namespace sqlxa
}  // namespace zp
