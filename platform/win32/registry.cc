// Machine-wide settings on Windows: string values under HKEY_LOCAL_MACHINE,
// read in the registry view of the module's own word size (a 32-bit module
// on 64-bit Windows sees SOFTWARE\WOW6432Node).
#include <windows.h>

#include <cstdio>
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

namespace {

const char* typeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
      return "REG_LINK";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    default:
      return nullptr;
  }
}

// Copies text into buffer; kTooLong (buffer empty) when it does not fit.
RegistrySetting copyText(const char* text, size_t length, char* buffer, size_t size) {
  if (length >= size) {
    buffer[0] = '\0';
    return RegistrySetting::kTooLong;
  }
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return RegistrySetting::kText;
}

}  // namespace

RegistrySetting registryReadMachineSetting(const char* subKey, const char* name, char* buffer,
                                           size_t size) {
  if (size == 0) return RegistrySetting::kTooLong;
  buffer[0] = '\0';
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) {
    return RegistrySetting::kAbsent;
  }
  // Room for any value a setting can use, one byte kept for a terminator the
  // stored value may lack; a longer one reads as too long.
  char data[2048];
  DWORD type = 0;
  DWORD bytes = sizeof data - 1;
  const LONG status =
      RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
  if (status == ERROR_MORE_DATA) return RegistrySetting::kTooLong;
  if (status != ERROR_SUCCESS) return RegistrySetting::kAbsent;
  data[bytes] = '\0';
  switch (type) {
    case REG_SZ:
      return copyText(data, std::strlen(data), buffer, size);
    case REG_EXPAND_SZ: {
      // The count includes the terminator; a result that does not fit says
      // how much room it needs, which is then more than size.
      const DWORD needed = ExpandEnvironmentStringsA(data, buffer, static_cast<DWORD>(size));
      if (needed == 0 || needed > size) {
        buffer[0] = '\0';
        return RegistrySetting::kTooLong;
      }
      return RegistrySetting::kText;
    }
    case REG_DWORD:
    case REG_QWORD: {
      unsigned long long number = 0;
      std::memcpy(&number, data, bytes < sizeof number ? bytes : sizeof number);
      if (type == REG_DWORD) number &= 0xffffffffull;
      char digits[32];
      const int length = std::snprintf(digits, sizeof digits, "%llu", number);
      return copyText(digits, static_cast<size_t>(length), buffer, size);
    }
    default: {
      char unknown[32];
      const char* shown = typeName(type);
      if (shown == nullptr) {
        std::snprintf(unknown, sizeof unknown, "registry type %lu",
                      static_cast<unsigned long>(type));
        shown = unknown;
      }
      copyText(shown, std::strlen(shown), buffer, size);
      return RegistrySetting::kWrongType;
    }
  }
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

}  // namespace platform
}  // namespace zp
