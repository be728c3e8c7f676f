// The transaction manager's log on a POSIX file: appended with write(2) and
// made durable with fsync(2) under one lock.
#include "tools/xadriver/tm_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zp {
namespace xadriver {
namespace {

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

TmLog::~TmLog() {
  if (fd_ >= 0) ::close(fd_);
}

bool TmLog::open(const std::string& path, std::string* error) {
  struct stat info;
  const bool existed = ::stat(path.c_str(), &info) == 0;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    *error = systemError("cannot open the log " + path);
    return false;
  }
  if (!existed) {
    // The new file's name must survive a crash as well as its lines.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = folder >= 0 && ::fsync(folder) == 0;
    if (folder >= 0) ::close(folder);
    if (!synced) {
      *error = systemError("cannot flush the folder of the log " + path);
      return false;
    }
  }
  return true;
}

bool TmLog::append(const std::string& line, bool durable, std::string* error) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) {
    *error = "the log is not open";
    return false;
  }
  size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(fd_, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = systemError("cannot write the log");
      return false;
    }
    written += static_cast<size_t>(n);
  }
  if (durable && ::fsync(fd_) != 0) {
    *error = systemError("cannot flush the log");
    return false;
  }
  return true;
}

bool TmLog::decideCommit(const std::string& gtrid, std::string* error) {
  return append("commit " + gtrid + "\n", true, error);
}

bool TmLog::noteDone(const std::string& gtrid, std::string* error) {
  return append("done " + gtrid + "\n", false, error);
}

bool TmLog::readDecisions(const std::string& path, std::set<std::string>* committed,
                          std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return true;
    *error = systemError("cannot read the log " + path);
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  const std::string content = text.str();
  size_t start = 0;
  int number = 0;
  while (start < content.size()) {
    const size_t end = content.find('\n', start);
    if (end == std::string::npos) break;  // a torn last line
    const std::string line = content.substr(start, end - start);
    start = end + 1;
    ++number;
    const size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string gtrid = blank == std::string::npos ? "" : line.substr(blank + 1);
    if ((word != "commit" && word != "done") || gtrid.empty() ||
        gtrid.find(' ') != std::string::npos) {
      *error = "the log " + path + " line " + std::to_string(number) + " is not a log record";
      return false;
    }
    if (word == "commit") committed->insert(gtrid);
  }
  return true;
}

}  // namespace xadriver
}  // namespace zp
