// Sets a registry value for the length of a scope and puts back what was there before (or removes
// the value, and the key if the scope created it). Tests that share a value hold the ctest resource
// lock "registry".
#pragma once

#include <windows.h>

#include <string>

class RegistryValueScope {
 public:
  // view is 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY.
  RegistryValueScope(HKEY hive, const wchar_t* subkey, const wchar_t* value_name, REGSAM view = 0);
  RegistryValueScope(const RegistryValueScope&) = delete;
  RegistryValueScope& operator=(const RegistryValueScope&) = delete;
  ~RegistryValueScope();

  bool Set(DWORD type, const void* data, DWORD byte_count);
  // A REG_SZ value with its terminator.
  bool SetString(const std::wstring& text);
  bool Remove();

 private:
  HKEY hive_;
  std::wstring subkey_;
  std::wstring value_name_;
  REGSAM view_;
  bool key_existed_ = false;
  bool had_value_ = false;
  DWORD old_type_ = 0;
  std::string old_data_;
};
