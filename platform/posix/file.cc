// Appending to a regular file on Linux: opened without blocking, its type
// checked on the open descriptor.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }

 private:
  int fd_;
};

// O_NONBLOCK: opening a FIFO for writing fails at once (ENXIO) without a
// reader instead of waiting for one; a device never waits for a carrier.
// O_NOCTTY: a terminal never becomes the process's controlling terminal.
constexpr int kAppendFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// New files get what fopen would give them; the umask applies.
constexpr mode_t kNewFileMode = 0666;

int openForAppend(const char* path) {
  int fd;
  do {
    fd = open(path, kAppendFlags);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 || errno != ENOENT) return fd;
  // Nothing of that name: create it. O_EXCL refuses a symbolic link, so a
  // dangling link never creates the file it points to.
  do {
    fd = open(path, kAppendFlags | O_CREAT | O_EXCL, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 || errno != EEXIST) return fd;
  // Another process made it meanwhile (or it is a dangling link): take what
  // is there now, or nothing.
  do {
    fd = open(path, kAppendFlags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

bool fileAppendRegular(const char* path, const char* text, size_t length) {
  if (path == nullptr || path[0] == '\0' || text == nullptr) return false;
  if (fault::shouldFail(fault::Point::kFileOpen)) return false;
  FileDescriptor file(openForAppend(path));
  if (file.get() < 0) return false;
  struct stat status;
  if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  // A failed write is passed over like a file that cannot be opened.
  if (fault::shouldFail(fault::Point::kFileWrite)) return false;
  while (length != 0) {
    const ssize_t written = write(file.get(), text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool fileSize(const char* path, uint64_t* size) {
  struct stat status;
  if (path == nullptr || stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool fileIsNotRegular(const char* path) {
  struct stat status;
  if (path == nullptr || stat(path, &status) != 0) return false;
  return !S_ISREG(status.st_mode);
}

}  // namespace platform
}  // namespace zp
