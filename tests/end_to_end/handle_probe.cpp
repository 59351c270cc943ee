// Tells whether it inherited a handle: appends "inherited" or "not inherited" to the file named by
// HANDLE_PROBE_RECORD, for the handle value in HANDLE_PROBE_VALUE. Given --new-setup-exe="<file>",
// as a patch run is, it copies itself there, so the install run that follows is a probe too.
#include <windows.h>

#include <cwchar>
#include <string>

#include "stand_in_setup.h"

int wmain() {
  const auto value = static_cast<uintptr_t>(std::wcstoull(Environment(L"HANDLE_PROBE_VALUE").c_str(), nullptr, 10));
  DWORD flags = 0;
  const bool inherited = value != 0 && GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
  AppendRecord(L"HANDLE_PROBE_RECORD", inherited ? "inherited\n" : "not inherited\n");

  const std::wstring new_setup = NewSetupPath();
  if (!new_setup.empty()) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!CopyFileW(self, new_setup.c_str(), TRUE)) return 3;
  }
  return 0;
}
