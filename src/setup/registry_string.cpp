#include "setup/registry_string.h"

LSTATUS ReadKeyStringValue(HKEY key, const wchar_t* value_name, wchar_t* buffer, uint64_t capacity) noexcept {
  DWORD type = 0;
  DWORD byte_count = static_cast<DWORD>(capacity * 2);
  const LSTATUS status =
      RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &byte_count);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ) return ERROR_NOT_SUPPORTED;
  if (byte_count < 2) {
    buffer[0] = 0;
    return ERROR_SUCCESS;
  }
  const uint64_t unit_count = byte_count / 2;  // an odd last byte is dropped
  if (buffer[unit_count - 1] == 0) return ERROR_SUCCESS;
  if (unit_count >= capacity) return ERROR_MORE_DATA;
  buffer[unit_count] = 0;
  return ERROR_SUCCESS;
}
