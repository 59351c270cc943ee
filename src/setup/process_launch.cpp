#include "setup/process_launch.h"

#include <windows.h>

#include "cleanup/removal.h"

namespace {

bool IsHeldByAnother(DWORD error) noexcept { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

// The application name is given, so no search path is consulted; no handle is inherited.
bool StartProgram(const wchar_t* application_path, wchar_t* command_line, UniqueProcessInformation& started) noexcept {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION information{};
  if (!CreateProcessW(application_path, command_line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &information)) {
    return false;
  }
  started.process.Reset(information.hProcess);
  started.thread.Reset(information.hThread);
  return true;
}

}  // namespace

ExitOutcome HoldProgramFile(const wchar_t* program_path, uint32_t code_if_held,
                            UniqueFileHandle& program_hold) noexcept {
  for (int try_count = 1;; ++try_count) {
    program_hold.Reset(CreateFileW(program_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (program_hold.IsValid()) return {EXIT_OK, 0};
    const DWORD error = GetLastError();
    if (!IsHeldByAnother(error)) return {EXIT_OK, 0};
    if (try_count == kHeldFileTries) return {code_if_held, error};
    Sleep(kHeldFilePauseMilliseconds);
  }
}

ExitOutcome LaunchAndWait(const wchar_t* application_path, wchar_t* command_line, uint32_t code_if_file_not_found,
                          uint32_t code_if_path_not_found, uint32_t code_otherwise,
                          UniqueFileHandle& program_hold) noexcept {
  UniqueProcessInformation started;
  bool launched = false;
  DWORD error = ERROR_SUCCESS;
  for (int try_count = 1;; ++try_count) {
    launched = StartProgram(application_path, command_line, started);
    if (launched) break;
    error = GetLastError();
    if (!IsHeldByAnother(error) || try_count == kHeldFileTries) break;
    Sleep(kHeldFilePauseMilliseconds);
  }
  program_hold.Reset();
  started.thread.Reset();  // never used: only the process is waited for

  if (!launched) {
    // The attributes tell a missing program file from one that exists but did not start.
    const DWORD attributes = GetFileAttributesW(application_path);
    if (error == ERROR_FILE_NOT_FOUND) return {code_if_file_not_found, attributes};
    if (error == ERROR_PATH_NOT_FOUND) return {code_if_path_not_found, attributes};
    return {code_otherwise, error};
  }
  if (WaitForSingleObject(started.process.Get(), INFINITE) != WAIT_OBJECT_0) return {EXIT_WAIT_FAILED, GetLastError()};
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(started.process.Get(), &exit_code)) return {EXIT_WAIT_FAILED, GetLastError()};
  return {exit_code, 0};
}
