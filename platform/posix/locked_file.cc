// A file one process keeps for itself on Linux: a descriptor opened without
// waiting, its type checked on the descriptor, and a whole-file fcntl write
// lock, which the kernel drops when the process ends however it ends and
// whose holder F_GETLK names.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {

namespace {

int fdOf(const LockedFile* file) { return static_cast<int>(file->handle); }

// O_NONBLOCK: a FIFO opens at once instead of waiting for a peer.
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0666;

int openRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void explain(const char* what, char* reason, size_t size) {
  char text[256];
  std::snprintf(text, sizeof text, "%s: %s", what, std::strerror(errno));
  copyText(text, reason, size);
}

// Flushes the folder entry of a new file at path.
bool syncFolderOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  char folder[4096];
  if (slash == nullptr) {
    std::strcpy(folder, ".");
  } else {
    const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length >= sizeof folder) return false;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
  }
  const int fd = openRetrying(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

}  // namespace

LockedFileStatus lockedFileOpenSystem(const char* path, bool create, intptr_t* handle,
                                      uint32_t* holder, char* reason, size_t size) {
  bool created = false;
  int fd = openRetrying(path, kOpenFlags);
  if (fd < 0 && errno == ENOENT && create) {
    // O_EXCL refuses a symbolic link, so a dangling one makes nothing.
    fd = openRetrying(path, kOpenFlags | O_CREAT | O_EXCL);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = openRetrying(path, kOpenFlags);
  }
  if (fd < 0) {
    if (errno == ENOENT) return LockedFileStatus::kMissing;
    if (errno == EISDIR || errno == ENXIO) return LockedFileStatus::kNotRegular;
    explain("cannot open", reason, size);
    return LockedFileStatus::kFailed;
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    explain("cannot query", reason, size);
    close(fd);
    return LockedFileStatus::kFailed;
  }
  if (!S_ISREG(status.st_mode)) {
    close(fd);
    return LockedFileStatus::kNotRegular;
  }
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_SETLK, &lock) != 0) {
    if (errno != EACCES && errno != EAGAIN) {
      explain("cannot lock", reason, size);
      close(fd);
      return LockedFileStatus::kFailed;
    }
    struct flock other;
    std::memset(&other, 0, sizeof other);
    other.l_type = F_WRLCK;
    other.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &other) == 0 && other.l_type != F_UNLCK && other.l_pid > 0)
      *holder = static_cast<uint32_t>(other.l_pid);
    close(fd);
    return LockedFileStatus::kHeld;
  }
  // The new file's name must survive a crash as well as what it will hold.
  if (created && !syncFolderOf(path)) {
    explain("cannot flush the folder", reason, size);
    close(fd);
    return LockedFileStatus::kFailed;
  }
  *handle = fd;
  return LockedFileStatus::kOpened;
}

bool lockedFileSize(LockedFile* file, uint64_t* size) {
  struct stat status;
  if (file == nullptr || fstat(fdOf(file), &status) != 0) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool lockedFileRead(LockedFile* file, uint64_t offset, char* buffer, size_t size, size_t* got) {
  *got = 0;
  if (file == nullptr) return false;
  ssize_t n;
  do {
    n = pread(fdOf(file), buffer, size, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *got = static_cast<size_t>(n);
  return true;
}

bool lockedFileAppend(LockedFile* file, const char* bytes, size_t length) {
  if (file == nullptr || fault::shouldFail(fault::Point::kFileWrite)) return false;
  if (lseek(fdOf(file), 0, SEEK_END) < 0) return false;
  while (length != 0) {
    const ssize_t written = write(fdOf(file), bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool lockedFileSync(LockedFile* file) {
  if (file == nullptr || fault::shouldFail(fault::Point::kFileWrite)) return false;
  return fsync(fdOf(file)) == 0;
}

bool lockedFileTruncate(LockedFile* file, uint64_t size) {
  if (file == nullptr || fault::shouldFail(fault::Point::kFileWrite)) return false;
  int result;
  do {
    result = ftruncate(fdOf(file), static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Closing the descriptor drops the process's lock on the file.
void lockedFileCloseSystem(intptr_t handle) { close(static_cast<int>(handle)); }

}  // namespace platform
}  // namespace zp
