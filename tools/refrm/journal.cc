#include "tools/refrm/journal.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"
#include "tools/refrm/refrm.h"

namespace zp {
namespace refrm {
namespace {

const char kPreparedWord[] = "prepared";
const char kFinishedWord[] = "finished";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads "<word> <formatID> <gtrid> <bqual> <hex>" back into an XID.
bool parseLine(const char* line, bool* prepared, XID* xid) {
  char word[16] = {0};
  long formatId = 0, gtrid = 0, bqual = 0;
  int consumed = 0;
  if (std::sscanf(line, "%15s %ld %ld %ld %n", word, &formatId, &gtrid, &bqual, &consumed) != 4)
    return false;
  if (std::strcmp(word, kPreparedWord) == 0) {
    *prepared = true;
  } else if (std::strcmp(word, kFinishedWord) == 0) {
    *prepared = false;
  } else {
    return false;
  }
  std::memset(xid, 0, sizeof(*xid));
  xid->formatID = formatId;
  xid->gtrid_length = gtrid;
  xid->bqual_length = bqual;
  if (!xidIsValid(*xid)) return false;
  const char* hex = line + consumed;
  for (long i = 0; i < gtrid + bqual; ++i) {
    const int high = hexValue(hex[2 * i]), low = high < 0 ? -1 : hexValue(hex[2 * i + 1]);
    if (low < 0) return false;
    xid->data[i] = static_cast<char>(high * 16 + low);
  }
  return true;
}

}  // namespace

bool xidIsValid(const XID& xid) {
  return xid.formatID != -1 && xid.gtrid_length >= 1 && xid.gtrid_length <= MAXGTRIDSIZE &&
         xid.bqual_length >= 0 && xid.bqual_length <= MAXBQUALSIZE;
}

std::string xidKey(const XID& xid) {
  static const char kDigits[] = "0123456789abcdef";
  std::string key = std::to_string(xid.formatID) + " " + std::to_string(xid.gtrid_length) + " " +
                    std::to_string(xid.bqual_length) + " ";
  for (long i = 0; i < xid.gtrid_length + xid.bqual_length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(xid.data[i]);
    key += kDigits[byte >> 4];
    key += kDigits[byte & 15];
  }
  return key;
}

bool journalFolder(std::string* folder) {
  char value[1024];
  std::error_code error;
  std::filesystem::path path;
  const size_t length = platform::environmentGet(REFRM_JOURNAL_DIR_VARIABLE, value, sizeof(value));
  if (length > 0 && length < sizeof(value)) {
    path = value;
  } else {
    path = std::filesystem::temp_directory_path(error);
    if (error) return false;
    path /= "zp-refrm-journal";
  }
  std::filesystem::create_directories(path, error);
  if (error || !std::filesystem::is_directory(path, error)) return false;
  *folder = path.string();
  return true;
}

std::string journalFile(const std::string& folder, const std::string& database) {
  std::string name;
  for (char c : database) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
    name += safe ? c : '_';
  }
  return (std::filesystem::path(folder) / (name + ".journal")).string();
}

namespace {

// Whether the file is missing, empty or ends with a complete line.
bool endsWithNewline(const std::string& file) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return true;
  const bool complete = std::fseek(in, -1, SEEK_END) != 0 || std::fgetc(in) == '\n';
  std::fclose(in);
  return complete;
}

}  // namespace

bool journalAppend(const std::string& file, const XID& xid, bool prepared) {
  // A process that ended in the middle of an append leaves a last line
  // without its newline: the new line starts on a line of its own, or it
  // would be read as the torn line's tail and lost.
  const std::string start = endsWithNewline(file) ? "" : "\n";
  std::FILE* out = std::fopen(file.c_str(), "a");
  if (out == nullptr) return false;
  const std::string line =
      start + std::string(prepared ? kPreparedWord : kFinishedWord) + " " + xidKey(xid) + "\n";
  const bool written = std::fwrite(line.data(), 1, line.size(), out) == line.size();
  return std::fclose(out) == 0 && written;
}

std::vector<XID> journalPending(const std::string& file) {
  std::vector<XID> pending;
  std::FILE* in = std::fopen(file.c_str(), "r");
  if (in == nullptr) return pending;
  char line[512];
  while (std::fgets(line, sizeof(line), in) != nullptr) {
    bool prepared = false;
    XID xid;
    if (!parseLine(line, &prepared, &xid)) continue;
    const std::string key = xidKey(xid);
    for (size_t i = 0; i < pending.size(); ++i) {
      if (xidKey(pending[i]) == key) {
        pending.erase(pending.begin() + static_cast<long>(i));
        break;
      }
    }
    if (prepared) pending.push_back(xid);
  }
  std::fclose(in);
  return pending;
}

}  // namespace refrm
}  // namespace zp
