// Appending to a regular file on Windows: opened for appending only, its type
// checked on the open handle.
#include <windows.h>

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

// Line ends are converted in pieces of this size; a stamp line fits one.
constexpr size_t kChunkSize = 512;

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

}  // namespace

bool fileAppendRegular(const char* path, const char* text, size_t length) {
  if (path == nullptr || path[0] == '\0' || text == nullptr) return false;
  if (fault::shouldFail(fault::Point::kFileOpen)) return false;
  // FILE_APPEND_DATA alone: every write lands at the end of the file. A
  // directory does not open without FILE_FLAG_BACKUP_SEMANTICS; a pipe whose
  // instances are all busy fails at once instead of waiting.
  FileHandle file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  // A failed write is passed over like a file that cannot be opened.
  if (fault::shouldFail(fault::Point::kFileWrite)) return false;
  // Text mode, as the C runtime's: each line feed is written as CR LF.
  char chunk[kChunkSize];
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    if (used + 2 > kChunkSize) {
      if (!writeAll(file.get(), chunk, used)) return false;
      used = 0;
    }
    if (text[i] == '\n') chunk[used++] = '\r';
    chunk[used++] = text[i];
  }
  return writeAll(file.get(), chunk, used);
}

bool fileSize(const char* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path == nullptr || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace platform
}  // namespace zp
