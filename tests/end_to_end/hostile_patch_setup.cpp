// Stands in for the installed setup program during a patch run and does what an attacker or an
// unlucky neighbour would do to the scratch directory meanwhile. It finds the new setup path in its
// --new-setup-exe="<file>" switch and acts as HOSTILE_PATCH_MODE says:
//   rename  tries to rename the scratch directory away and, if that works, puts a directory of its
//           own with a planted setup.exe (a copy of HOSTILE_PLANTED_PROGRAM) in its place; appends
//           "rename=<error>" (0 when it worked) to HOSTILE_PATCH_RECORD; then writes the new setup
//           program, a copy of HOSTILE_NEW_SETUP_SOURCE, and ends with 0.
//   hold    writes the new setup program, has a process of its own hold it without sharing for
//           HOSTILE_HOLD_MILLISECONDS, and ends with 0 once that process holds it.
//   fail    writes 7 bytes as the new setup program and ends with 7.
// Exit code 3 when it cannot do what it was asked. "--hold <file> <milliseconds> <event>" is the
// holding process itself.
#include <windows.h>

#include <cwchar>
#include <string>

#include "stand_in_setup.h"

namespace {

int Hold(const wchar_t* file_path, DWORD milliseconds, const wchar_t* event_name) {
  HANDLE file = CreateFileW(file_path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name);
  if (file == INVALID_HANDLE_VALUE || held == nullptr) return 3;
  SetEvent(held);
  Sleep(milliseconds);
  CloseHandle(file);
  return 0;
}

int StartHolder(const std::wstring& file_path) {
  const std::wstring event_name = L"hostile-hold-" + std::to_wstring(GetCurrentProcessId());
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command_line = L"\"" + std::wstring(self) + L"\" --hold \"" + file_path + L"\" " +
                              Environment(L"HOSTILE_HOLD_MILLISECONDS") + L" " + event_name;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(self, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return 3;
  }
  const HANDLE either[] = {held, started.hProcess};
  const DWORD which = WaitForMultipleObjects(2, either, FALSE, 30000);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return which == WAIT_OBJECT_0 ? 0 : 3;
}

}  // namespace

int wmain(int argument_count, wchar_t** arguments) {
  if (argument_count == 5 && std::wcscmp(arguments[1], L"--hold") == 0) {
    return Hold(arguments[2], std::wcstoul(arguments[3], nullptr, 10), arguments[4]);
  }
  const std::wstring new_setup = NewSetupPath();
  const std::wstring mode = Environment(L"HOSTILE_PATCH_MODE");
  if (new_setup.empty()) return 3;

  if (mode == L"fail") {
    HANDLE file = CreateFileW(new_setup.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, "partial", 7, &written, nullptr);
    CloseHandle(file);
    return 7;
  }
  if (mode == L"rename") {
    const std::wstring scratch = new_setup.substr(0, new_setup.rfind(L'\\'));
    const std::wstring moved = scratch + L".swapped";
    DWORD error = 0;
    if (MoveFileW(scratch.c_str(), moved.c_str())) {
      CreateDirectoryW(scratch.c_str(), nullptr);
      CopyFileW(Environment(L"HOSTILE_PLANTED_PROGRAM").c_str(), new_setup.c_str(), FALSE);
    } else {
      error = GetLastError();
    }
    AppendRecord(L"HOSTILE_PATCH_RECORD", "rename=" + std::to_string(error) + "\n");
  }
  if (!CopyFileW(Environment(L"HOSTILE_NEW_SETUP_SOURCE").c_str(), new_setup.c_str(), TRUE)) {
    // A planted program already sits there: the attack went through, and the run must show it.
    AppendRecord(L"HOSTILE_PATCH_RECORD", "new-setup-write=" + std::to_string(GetLastError()) + "\n");
    return 0;
  }
  return mode == L"hold" ? StartHolder(new_setup) : 0;
}
