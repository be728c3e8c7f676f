// A file one process keeps for itself on Windows: a handle opened without
// waiting, its type checked on the handle, and an exclusive LockFileEx lock
// on one byte far past any content (Windows byte-range locks are mandatory,
// so the data itself stays readable); the system drops it when the process
// ends. Windows does not name a lock's holder.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {

namespace {

HANDLE handleOf(const LockedFile* file) { return reinterpret_cast<HANDLE>(file->handle); }

// The locked byte: offset 2^62, which no file here reaches.
constexpr DWORD kLockOffsetHigh = 0x40000000;

void explain(const char* what, char* reason, size_t size) {
  char text[256];
  std::snprintf(text, sizeof text, "%s: error %lu", what,
                static_cast<unsigned long>(GetLastError()));
  copyText(text, reason, size);
}

OVERLAPPED lockPlace() {
  OVERLAPPED place;
  std::memset(&place, 0, sizeof place);
  place.OffsetHigh = kLockOffsetHigh;
  return place;
}

}  // namespace

LockedFileStatus lockedFileOpenSystem(const char* path, bool create, intptr_t* opened, uint32_t*,
                                      char* reason, size_t size) {
  // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS; a pipe
  // whose instances are busy fails at once.
  HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return LockedFileStatus::kMissing;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return LockedFileStatus::kNotRegular;
    SetLastError(error);
    explain("cannot open", reason, size);
    return LockedFileStatus::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return LockedFileStatus::kNotRegular;
  }
  OVERLAPPED place = lockPlace();
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return LockedFileStatus::kHeld;
    SetLastError(error);
    explain("cannot lock", reason, size);
    return LockedFileStatus::kFailed;
  }
  *opened = reinterpret_cast<intptr_t>(handle);
  return LockedFileStatus::kOpened;
}

bool lockedFileSize(LockedFile* file, uint64_t* size) {
  LARGE_INTEGER value;
  if (file == nullptr || !GetFileSizeEx(handleOf(file), &value)) return false;
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool lockedFileRead(LockedFile* file, uint64_t offset, char* buffer, size_t size, size_t* got) {
  *got = 0;
  if (file == nullptr) return false;
  OVERLAPPED place;
  std::memset(&place, 0, sizeof place);
  place.Offset = static_cast<DWORD>(offset & 0xffffffffu);
  place.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (!ReadFile(handleOf(file), buffer, static_cast<DWORD>(size), &read, &place)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return true;
    return false;
  }
  *got = read;
  return true;
}

bool lockedFileAppend(LockedFile* file, const char* bytes, size_t length) {
  if (file == nullptr || fault::shouldFail(fault::Point::kFileWrite)) return false;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(handleOf(file), zero, nullptr, FILE_END)) return false;
  while (length != 0) {
    DWORD written = 0;
    if (!WriteFile(handleOf(file), bytes, static_cast<DWORD>(length), &written, nullptr) ||
        written == 0)
      return false;
    bytes += written;
    length -= written;
  }
  return true;
}

bool lockedFileSync(LockedFile* file) {
  if (file == nullptr || fault::shouldFail(fault::Point::kFileWrite)) return false;
  return FlushFileBuffers(handleOf(file)) != 0;
}

bool lockedFileTruncate(LockedFile* file, uint64_t size) {
  if (file == nullptr || fault::shouldFail(fault::Point::kFileWrite)) return false;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(handleOf(file), end, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(file));
}

void lockedFileCloseSystem(intptr_t opened) {
  const HANDLE handle = reinterpret_cast<HANDLE>(opened);
  OVERLAPPED place = lockPlace();
  UnlockFileEx(handle, 0, 1, 0, &place);
  CloseHandle(handle);
}

}  // namespace platform
}  // namespace zp
