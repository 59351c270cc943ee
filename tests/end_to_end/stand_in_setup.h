// What the end-to-end tests' stand-ins for an installed setup program share: their settings come
// from the environment, the patch run names the new setup program in its command line, and what
// they saw goes to a record file.
#pragma once

#include <windows.h>

#include <string>

// The value of an environment variable, or empty when it is unset or longer than 1,023 units.
inline std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// The path in --new-setup-exe="<file>" of this process's command line, or empty without one.
inline std::wstring NewSetupPath() {
  const std::wstring line = GetCommandLineW();
  const std::wstring key = L"--new-setup-exe=\"";
  const size_t start = line.find(key);
  if (start == std::wstring::npos) return {};
  const size_t end = line.find(L'"', start + key.size());
  return end == std::wstring::npos ? std::wstring() : line.substr(start + key.size(), end - start - key.size());
}

// Appends text to the record file named by the environment variable record_variable.
inline void AppendRecord(const wchar_t* record_variable, const std::string& text) {
  HANDLE file = CreateFileW(Environment(record_variable).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}
