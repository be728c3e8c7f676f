// Machine-wide settings on Windows: string values under HKEY_LOCAL_MACHINE,
// read in the registry view of the module's own word size (a 32-bit module
// on 64-bit Windows sees SOFTWARE\WOW6432Node).
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

// Closes the key when it goes out of scope.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

size_t registryReadMachineString(const char* subKey, const char* name, char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) {
    return 0;
  }
  DWORD type = 0;
  // One byte is kept back for the terminator, which a stored value may lack.
  DWORD bytes = static_cast<DWORD>(size - 1);
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[bytes] = '\0';
  // The stored length counts the value's own terminator, if it has one.
  size_t length = 0;
  while (length < bytes && buffer[length] != '\0') ++length;
  return length;
}

bool registryReadMachineNumber(const char* subKey, const char* name, uint32_t* value) {
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD number = 0;
  DWORD bytes = sizeof number;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return false;
  }
  *value = number;
  return true;
}

bool registryWriteMachineString(const char* subKey, const char* name, const char* value) {
  RegistryKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>(std::strlen(value) + 1);
  return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) ==
         ERROR_SUCCESS;
}

bool registryDeleteMachineValue(const char* subKey, const char* name) {
  RegistryKey key;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_SET_VALUE, key.out());
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  const LONG deleted = RegDeleteValueA(key.get(), name);
  return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

RegistryKind registryReadMachineText(const char* subKey, const char* name, char* buffer,
                                     size_t size) {
  if (size == 0) return RegistryKind::kAbsent;
  buffer[0] = '\0';
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) {
    return RegistryKind::kAbsent;
  }
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) {
    return RegistryKind::kAbsent;
  }
  if (type == REG_DWORD || type == REG_QWORD) {
    unsigned long long number = 0;  // little-endian: a DWORD fills its low half
    DWORD got = sizeof number;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &got) !=
        ERROR_SUCCESS) {
      return RegistryKind::kAbsent;
    }
    if (type == REG_DWORD) number &= 0xffffffffull;
    char text[24];
    int length = 0;
    do {
      text[length++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    if (static_cast<size_t>(length) >= size) return RegistryKind::kAbsent;
    for (int i = 0; i < length; ++i) buffer[i] = text[length - 1 - i];
    buffer[length] = '\0';
    return RegistryKind::kNumber;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return RegistryKind::kOther;
  return registryReadMachineString(subKey, name, buffer, size) > 0 || bytes <= 1
             ? RegistryKind::kString
             : RegistryKind::kAbsent;
}

}  // namespace platform
}  // namespace zp
