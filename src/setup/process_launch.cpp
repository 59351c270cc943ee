#include "setup/process_launch.h"

#include <windows.h>

#include "handles/unique_handle.h"

ExitOutcome LaunchAndWait(const wchar_t* application_path, wchar_t* command_line, uint32_t code_if_file_not_found,
                          uint32_t code_if_path_not_found, uint32_t code_otherwise) noexcept {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  // The application name is given, so no search path is consulted; no handle is inherited.
  if (!CreateProcessW(application_path, command_line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &started)) {
    const DWORD error = GetLastError();
    // The attributes tell a missing program file from one that exists but did not start.
    const DWORD attributes = GetFileAttributesW(application_path);
    if (error == ERROR_FILE_NOT_FOUND) return {code_if_file_not_found, attributes};
    if (error == ERROR_PATH_NOT_FOUND) return {code_if_path_not_found, attributes};
    return {code_otherwise, error};
  }
  UniqueKernelHandle process(started.hProcess);
  UniqueKernelHandle thread(started.hThread);
  thread.Reset();  // never used: only the process is waited for

  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) return {EXIT_WAIT_FAILED, GetLastError()};
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.Get(), &exit_code)) return {EXIT_WAIT_FAILED, GetLastError()};
  return {exit_code, 0};
}
