#include "support/registry_value_scope.h"

RegistryValueScope::RegistryValueScope(HKEY hive, const wchar_t* subkey, const wchar_t* value_name, REGSAM view)
    : hive_(hive), subkey_(subkey), value_name_(value_name), view_(view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(hive_, subkey_.c_str(), 0, KEY_QUERY_VALUE | view_, &key) != ERROR_SUCCESS) return;
  key_existed_ = true;
  DWORD size = 0;
  if (RegQueryValueExW(key, value_name_.c_str(), nullptr, &old_type_, nullptr, &size) == ERROR_SUCCESS) {
    old_data_.resize(size);
    had_value_ = RegQueryValueExW(key, value_name_.c_str(), nullptr, &old_type_,
                                  reinterpret_cast<BYTE*>(old_data_.data()), &size) == ERROR_SUCCESS;
    old_data_.resize(size);
  }
  RegCloseKey(key);
}

RegistryValueScope::~RegistryValueScope() {
  if (had_value_) {
    Set(old_type_, old_data_.data(), static_cast<DWORD>(old_data_.size()));
  } else if (!key_existed_) {
    RegDeleteKeyExW(hive_, subkey_.c_str(), view_, 0);
  } else {
    Remove();
  }
}

bool RegistryValueScope::Set(DWORD type, const void* data, DWORD byte_count) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(hive_, subkey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view_, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const bool ok =
      RegSetValueExW(key, value_name_.c_str(), 0, type, static_cast<const BYTE*>(data), byte_count) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool RegistryValueScope::SetString(const std::wstring& text) {
  return Set(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool RegistryValueScope::Remove() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(hive_, subkey_.c_str(), 0, KEY_SET_VALUE | view_, &key) != ERROR_SUCCESS) return true;
  const LSTATUS status = RegDeleteValueW(key, value_name_.c_str());
  RegCloseKey(key);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
