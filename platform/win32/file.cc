// Appending to a regular file on Windows: opened for appending only, its type
// checked on the open handle.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "platform/alloc.h"
#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

// Closes the handle when it goes out of scope.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Text of this many bytes or fewer, line ends converted, is written from the
// stack; a longer one from one allocated block, so that it is still one write.
constexpr size_t kStackTextSize = 4096;
// Wide path buffers: a name up to the module's own limit made absolute.
constexpr int kWidePathSize = 4096;

// The path as the wide-character calls take it. A name that the ANSI calls
// cannot take (MAX_PATH characters or more) is made absolute and given the
// \\?\ form, which lifts that limit ("\\?\UNC\" for a network name).
class WidePath {
 public:
  explicit WidePath(const char* path) {
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, path_, kWidePathSize);
    if (length <= 0) return;
    if (length - 1 < MAX_PATH - 12 || std::wcsncmp(path_, L"\\\\?\\", 4) == 0) {
      valid_ = true;
      return;
    }
    wchar_t full[kWidePathSize];
    const DWORD fullLength = GetFullPathNameW(path_, kWidePathSize, full, nullptr);
    if (fullLength == 0 || fullLength >= kWidePathSize) return;
    const bool network = full[0] == L'\\' && full[1] == L'\\';
    const wchar_t* prefix = network ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    const wchar_t* rest = network ? full + 2 : full;
    const size_t prefixLength = std::wcslen(prefix);
    const size_t restLength = std::wcslen(rest);
    if (prefixLength + restLength >= static_cast<size_t>(kWidePathSize)) return;
    std::wmemcpy(path_, prefix, prefixLength);
    std::wmemcpy(path_ + prefixLength, rest, restLength + 1);
    valid_ = true;
  }

  // Null when the name could not be converted or does not fit.
  const wchar_t* get() const { return valid_ ? path_ : nullptr; }

 private:
  wchar_t path_[kWidePathSize];
  bool valid_ = false;
};

bool writeAll(HANDLE file, const char* bytes, size_t length) {
  while (length != 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr) || written == 0) {
      return false;
    }
    bytes += written;
    length -= written;
  }
  return true;
}

// Text mode, as the C runtime's: each line feed is written as CR LF. The
// whole converted text goes out in one write, so that a line appended by
// one process is never split by another's.
bool writeConverted(HANDLE file, const char* text, size_t length) {
  size_t converted = length;
  for (size_t i = 0; i < length; ++i) converted += text[i] == '\n' ? 1 : 0;
  char onStack[kStackTextSize];
  char* target = onStack;
  if (converted > sizeof onStack) {
    target = static_cast<char*>(allocate(converted));
    if (target == nullptr) return false;
  }
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n') target[used++] = '\r';
    target[used++] = text[i];
  }
  const bool written = writeAll(file, target, used);
  if (target != onStack) release(target);
  return written;
}

}  // namespace

bool fileAppendRegular(const char* path, const char* text, size_t length) {
  if (path == nullptr || path[0] == '\0' || text == nullptr) return false;
  if (fault::shouldFail(fault::Point::kFileOpen)) return false;
  // FILE_APPEND_DATA alone: every write lands at the end of the file. A
  // directory does not open without FILE_FLAG_BACKUP_SEMANTICS; a pipe whose
  // instances are all busy fails at once instead of waiting.
  const WidePath wide(path);
  if (wide.get() == nullptr) return false;
  FileHandle file(CreateFileW(wide.get(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  // A failed write is passed over like a file that cannot be opened.
  if (fault::shouldFail(fault::Point::kFileWrite)) return false;
  // Appenders of every process take turns on one byte far past any end of
  // file: an append is one write, but not every file system (nor Wine) keeps
  // the appends of several processes from landing at the same offset. The
  // lock is held for one write and goes with the handle.
  OVERLAPPED turn = {};
  turn.Offset = 0xFFFFFFFEu;
  turn.OffsetHigh = 0x7FFFFFFFu;
  const bool locked = LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
  const bool written = writeConverted(file.get(), text, length);
  if (locked) UnlockFileEx(file.get(), 0, 1, 0, &turn);
  return written;
}

bool fileSize(const char* path, uint64_t* size) {
  if (path == nullptr) return false;
  const WidePath wide(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (wide.get() == nullptr || !GetFileAttributesExW(wide.get(), GetFileExInfoStandard, &data)) {
    return false;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool fileIsNotRegular(const char* path) {
  if (path == nullptr) return false;
  if (std::strncmp(path, "\\\\.\\", 4) == 0) return true;  // a device or a pipe
  const WidePath wide(path);
  if (wide.get() == nullptr) return false;
  const DWORD attributes = GetFileAttributesW(wide.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0;
}

}  // namespace platform
}  // namespace zp
