// Library loading over LoadLibraryA / GetProcAddress, and the paths of loaded
// libraries, of this module and of the program.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

// "error N: " and the system's text for N, without its closing line break.
void describeError(DWORD error, char* buffer, size_t size) {
  if (size == 0) return;
  const int prefix = std::snprintf(buffer, size, "error %lu: ", static_cast<unsigned long>(error));
  if (prefix < 0 || static_cast<size_t>(prefix) >= size) return;
  char* text = buffer + prefix;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     text, static_cast<DWORD>(size - static_cast<size_t>(prefix)), nullptr);
  size_t end = length;
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ')) --end;
  if (end == 0) {
    copyText("no text for this error", text, size - static_cast<size_t>(prefix));
  } else {
    text[end] = '\0';
  }
}

size_t modulePath(HMODULE module, char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  const DWORD length = GetModuleFileNameA(module, buffer, static_cast<DWORD>(size));
  // A path that does not fit comes back cut, with the whole buffer used.
  if (length == 0 || length >= size) {
    buffer[0] = '\0';
    return 0;
  }
  return length;
}

}  // namespace

Library* libraryOpen(const char* fileName, char* reason, size_t size) {
  HMODULE library = LoadLibraryA(fileName);
  if (library == nullptr) describeError(GetLastError(), reason, size);
  return reinterpret_cast<Library*>(library);
}

void* libraryLookUp(Library* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void libraryUnload(Library* library) {
  if (library != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

size_t libraryFilePath(Library* library, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  if (library == nullptr) return 0;
  return modulePath(reinterpret_cast<HMODULE>(library), buffer, size);
}

// The program's own file is the module of the null handle.
size_t processFilePath(char* buffer, size_t size) { return modulePath(nullptr, buffer, size); }

size_t moduleFilePath(char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&moduleFilePath), &self)) {
    return 0;
  }
  return modulePath(self, buffer, size);
}

}  // namespace platform
}  // namespace zp
