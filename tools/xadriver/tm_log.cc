// The transaction manager's log on a locked file (platform::LockedFile):
// records appended and made durable under one lock, read back whole or
// refused.
#include "tools/xadriver/tm_log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "platform/platform.h"

namespace zp {
namespace xadriver {
namespace {

const char kHeaderWord[] = "zpbank-log 2 tm ";
constexpr size_t kIdDigits = 16;
// A record's payload: a word and a global transaction id of at most 64 bytes.
constexpr size_t kMostPayload = 128;

// CRC-32C (Castagnoli, reflected), the table made at compile time.
struct Crc32cTable {
  uint32_t entry[256];
  constexpr Crc32cTable() : entry() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ (0x82f63b78u & (0u - (value & 1)));
      entry[i] = value;
    }
  }
};
constexpr Crc32cTable kCrc32c;

uint32_t crc32c(const std::string& bytes) {
  uint32_t crc = 0xffffffffu;
  for (unsigned char byte : bytes) crc = kCrc32c.entry[(crc ^ byte) & 0xff] ^ (crc >> 8);
  return crc ^ 0xffffffffu;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// A global transaction id as the log writes it: printable, no blanks.
bool isGtrid(const std::string& text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text)
    if (c <= ' ' || c > '~') return false;
  return true;
}

// The payload of one record line (line end and any CR before it removed);
// false when its length or checksum does not match.
bool payloadOf(const std::string& line, std::string* payload) {
  size_t at = 0;
  size_t length = 0;
  while (at < line.size() && at < 4 && line[at] >= '0' && line[at] <= '9')
    length = length * 10 + static_cast<size_t>(line[at++] - '0');
  if (at == 0 || at >= line.size() || line[at] != ' ' || line.size() < at + 10) return false;
  const std::string crc = line.substr(at + 1, 8);
  for (char c : crc)
    if (!isHex(c)) return false;
  if (line[at + 9] != ' ') return false;
  *payload = line.substr(at + 10);
  if (payload->size() != length || length == 0 || length > kMostPayload) return false;
  char expected[9];
  std::snprintf(expected, sizeof expected, "%08x", static_cast<unsigned>(crc32c(*payload)));
  return crc == expected;
}

// Whether tail (the bytes after the last line end) is what an append cut
// short leaves: the start of a record, perhaps followed by the zero bytes a
// file system fills an unwritten block with. A whole record followed by
// more, or anything else, is damage.
bool isTornRecord(const std::string& tail) {
  const size_t used = tail.find_last_not_of('\0');
  const std::string start = used == std::string::npos ? "" : tail.substr(0, used + 1);
  size_t at = 0;
  size_t length = 0;
  while (at < start.size() && at < 4 && start[at] >= '0' && start[at] <= '9')
    length = length * 10 + static_cast<size_t>(start[at++] - '0');
  if (at == start.size()) return true;
  if (at == 0 || start[at] != ' ' || length == 0 || length > kMostPayload) return false;
  size_t digits = 0;
  for (++at; at < start.size() && digits < 8 && isHex(start[at]); ++at) ++digits;
  if (at == start.size()) return true;
  if (digits < 8 || start[at] != ' ') return false;
  return start.size() - at - 1 < length;
}

std::string newIdentity() {
  std::random_device device;
  const uint64_t clock =
      static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  uint64_t value = (static_cast<uint64_t>(device()) << 32) ^ device() ^ clock ^
                   (static_cast<uint64_t>(platform::currentProcessId()) << 20);
  char text[kIdDigits + 1];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::string TmLog::record(const std::string& payload) {
  char head[32];
  std::snprintf(head, sizeof head, "%zu %08x ", payload.size(),
                static_cast<unsigned>(crc32c(payload)));
  return head + payload + "\n";
}

std::string TmLog::headerPayload(const std::string& id) { return kHeaderWord + id; }

bool TmLog::parse(const std::string& bytes, TmLogContents* contents, std::string* error) {
  *contents = TmLogContents();
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) {
      // What an append cut short by a crash leaves is no record; a whole
      // record that lost only its line end still counts.
      end = bytes.size();
      std::string payload;
      if (isTornRecord(bytes.substr(start))) {
        contents->tornTail = true;
        break;
      }
      contents->unterminated = payloadOf(bytes.substr(start), &payload);
    }
    std::string line = bytes.substr(start, end - start);
    const size_t at = start;
    start = last ? end : end + 1;
    if (!last && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      contents->wholeEnd = start;
      continue;
    }
    std::string payload;
    const std::string where =
        "byte " + std::to_string(at) + " (record " + std::to_string(contents->records + 1) + ")";
    if (!payloadOf(line, &payload)) {
      *error = "a damaged record at " + where;
      return false;
    }
    if (contents->records == 0) {
      const std::string id = payload.substr(0, std::min(payload.size(), sizeof kHeaderWord - 1));
      if (id != kHeaderWord || payload.size() != sizeof kHeaderWord - 1 + kIdDigits) {
        *error = "no bank log header at byte " + std::to_string(at);
        return false;
      }
      contents->tmId = payload.substr(sizeof kHeaderWord - 1);
      for (char c : contents->tmId)
        if (!isHex(c)) {
          *error = "no bank log header at byte " + std::to_string(at);
          return false;
        }
    } else {
      const size_t blank = payload.find(' ');
      const std::string word = payload.substr(0, blank);
      const std::string gtrid = blank == std::string::npos ? "" : payload.substr(blank + 1);
      if ((word != "commit" && word != "done") || !isGtrid(gtrid)) {
        *error = "an unknown record at " + where;
        return false;
      }
      if (word == "commit") contents->committed.insert(gtrid);
    }
    ++contents->records;
    contents->wholeEnd = start;
  }
  if (contents->records == 0) {
    *error = "no bank log header (the file holds no whole record)";
    return false;
  }
  return true;
}

TmLog::TmLog() { platform::lockInit(&lock_); }

TmLog::~TmLog() {
  platform::lockedFileClose(file_);
  platform::lockDestroy(&lock_);
}

bool TmLog::lockAndRead(const std::string& path, bool create, TmLogContents* contents,
                        std::string* error) {
  const std::string name = "the log " + path;
  if (file_ != nullptr) {
    *error = name + ": a log is open already";
    return false;
  }
  uint32_t holder = 0;
  char reason[256];
  platform::LockedFile* file = nullptr;
  switch (platform::lockedFileOpen(path.c_str(), create, &file, &holder, reason, sizeof reason)) {
    case platform::LockedFileStatus::kOpened:
      break;
    case platform::LockedFileStatus::kMissing:
      *error = name + " does not exist";
      return false;
    case platform::LockedFileStatus::kNotRegular:
      *error = name + " is not a regular file";
      return false;
    case platform::LockedFileStatus::kHeld:
      *error = name + " is in use by " +
               (holder != 0 ? "process " + std::to_string(holder) : std::string("another process"));
      return false;
    case platform::LockedFileStatus::kFailed:
      *error = name + ": " + reason;
      return false;
  }
  file_ = file;
  path_ = path;
  uint64_t size = 0;
  if (!platform::lockedFileSize(file_, &size)) {
    *error = name + ": cannot tell its size";
    return false;
  }
  if (size > kTmLogMostBytes) {
    *error = name + " is larger than " + std::to_string(kTmLogMostBytes) +
             " bytes: recover, then start a new log";
    return false;
  }
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    size_t got = 0;
    if (!platform::lockedFileRead(file_, done, &bytes[done], bytes.size() - done, &got)) {
      *error = name + ": cannot read it";
      return false;
    }
    if (got == 0) break;
    done += got;
  }
  if (done != bytes.size()) {
    *error = name + ": read " + std::to_string(done) + " of its " + std::to_string(size) + " bytes";
    return false;
  }
  if (!parse(bytes, contents, error)) {
    *error = name + ": " + *error;
    return false;
  }
  tmId_ = contents->tmId;
  return true;
}

bool TmLog::open(const std::string& path, std::string* error) {
  TmLogContents contents;
  if (lockAndRead(path, true, &contents, error)) {
    // A tail cut short by a crash is no record; cut it so that the next
    // record starts on a line of its own.
    if (contents.tornTail && !platform::lockedFileTruncate(file_, contents.wholeEnd)) {
      *error = "the log " + path + ": cannot cut its torn tail";
      return close(false);
    }
    // A whole last record without its line end gets one.
    if (contents.unterminated &&
        (!platform::lockedFileAppend(file_, "\n", 1) || !platform::lockedFileSync(file_))) {
      *error = "the log " + path + ": cannot end its last record";
      return close(false);
    }
    platform::lockEnter(&lock_);
    end_ = contents.wholeEnd + (contents.unterminated ? 1 : 0);
    platform::lockLeave(&lock_);
    return true;
  }
  if (file_ == nullptr) return false;
  // A new log, or one whose making a crash interrupted (nothing but a torn
  // header: no transaction can have used it): give it a header.
  if (contents.records > 0 || error->find("no whole record") == std::string::npos)
    return close(false);
  const std::string id = newIdentity();
  std::string written;
  platform::lockEnter(&lock_);
  end_ = 0;
  platform::lockLeave(&lock_);
  if (!platform::lockedFileTruncate(file_, 0) ||
      append(headerPayload(id), true, &written) != Outcome::kWritten) {
    *error = "the log " + path + ": cannot write its header";
    return close(false);
  }
  tmId_ = id;
  error->clear();
  return true;
}

bool TmLog::openForRecovery(const std::string& path, TmLogContents* contents, std::string* error) {
  return lockAndRead(path, false, contents, error) || close(false);
}

bool TmLog::close(bool result) {
  platform::lockedFileClose(file_);
  file_ = nullptr;
  return result;
}

TmLog::Outcome TmLog::append(const std::string& payload, bool durable, std::string* error) {
  platform::lockEnter(&lock_);
  const Outcome outcome = appendLocked(payload, durable, error);
  platform::lockLeave(&lock_);
  return outcome;
}

TmLog::Outcome TmLog::appendLocked(const std::string& payload, bool durable, std::string* error) {
  if (file_ == nullptr || broken_) {
    *error = file_ == nullptr ? "the log is not open" : "the log " + path_ + " failed earlier";
    return Outcome::kNotWritten;
  }
  const std::string line = record(payload);
  const bool written = platform::lockedFileAppend(file_, line.data(), line.size());
  if (written && (!durable || platform::lockedFileSync(file_))) {
    end_ += line.size();
    return Outcome::kWritten;
  }
  *error = (written ? "cannot flush the log " : "cannot write the log ") + path_;
  // What part of the record reached the file is taken back, so that no later
  // record follows a torn one, and the file's end made durable. A log that
  // cannot be mended takes no more, and what it holds of this record is
  // unknown: it may reach the disk yet.
  if (platform::lockedFileTruncate(file_, end_) && platform::lockedFileSync(file_))
    return Outcome::kNotWritten;
  broken_ = true;
  *error += " (and cannot take the record back: what the log holds of it is unknown)";
  return Outcome::kUnknown;
}

TmLog::Outcome TmLog::decideCommit(const std::string& gtrid, std::string* error) {
  return append("commit " + gtrid, true, error);
}

bool TmLog::noteDone(const std::string& gtrid, std::string* error) {
  return append("done " + gtrid, false, error) == Outcome::kWritten;
}

}  // namespace xadriver
}  // namespace zp
