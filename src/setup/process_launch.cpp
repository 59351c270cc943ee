#include "setup/process_launch.h"

#include <windows.h>

#include "conventions/held_file_retry.h"
#include "setup/setup_command_lines.h"

namespace {

bool IsHeldByAnother(DWORD error) noexcept { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

// Repeats attempt while it fails because another process holds the file, up to the tries the
// deletion allows; returns 0 once it succeeded, else the error of its last failure.
template <typename Attempt>
DWORD TryWhileHeld(Attempt attempt) noexcept {
  for (int try_count = 1;; ++try_count) {
    if (attempt()) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (!IsHeldByAnother(error) || try_count == kHeldFileTries) return error;
    Sleep(kHeldFilePauseMilliseconds);
  }
}

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

ExitOutcome TryToHoldProgramFile(const wchar_t* program_path, uint32_t code_if_held,
                                 UniqueFileHandle& program_hold) noexcept {
  const DWORD error = TryWhileHeld([&] {
    *program_hold.Put() = CreateFileW(program_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    return program_hold.IsValid();
  });
  return IsHeldByAnother(error) ? ExitOutcome{code_if_held, error} : ExitOutcome{EXIT_OK, 0};
}

ExitOutcome LaunchAndWait(const wchar_t* application_path, wchar_t* command_line,
                          const StartFailureCodes& start_failures, UniqueFileHandle& program_hold) noexcept {
  UniqueProcessInformation started;
  const DWORD error = TryWhileHeld([&] { return StartProgram(application_path, command_line, started); });
  program_hold.Reset();
  started.thread.Reset();  // never used: only the process is waited for

  if (error != ERROR_SUCCESS) {
    // The attributes tell a missing program file from one that exists but did not start.
    const DWORD attributes = GetFileAttributesW(application_path);
    if (error == ERROR_FILE_NOT_FOUND) return {start_failures.file_not_found, attributes};
    if (error == ERROR_PATH_NOT_FOUND) return {start_failures.path_not_found, attributes};
    return {start_failures.otherwise, error};
  }
  if (WaitForSingleObject(started.process.Get(), INFINITE) != WAIT_OBJECT_0) return {EXIT_WAIT_FAILED, GetLastError()};
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(started.process.Get(), &exit_code)) return {EXIT_WAIT_FAILED, GetLastError()};
  return {exit_code, 0};
}

ExitOutcome InvokeSetup(const wchar_t* command_line, const wchar_t* previous_version, const PathBuffer& archive_path,
                        const PathBuffer& setup_path, bool compressed_archive, UniqueFileHandle& setup_hold) noexcept {
  PathBuffer program;
  static_cast<void>(BoundedCopy(program, setup_path.units));
  CommandLineBuffer install_command_line;
  if (!BuildInstallCommandLine(program.units, archive_path.units, compressed_archive, previous_version, command_line,
                               install_command_line)) {
    return {EXIT_COMMAND_LINE_TOO_LONG, 0};
  }
  return LaunchAndWait(program.units, install_command_line.units, kInstallRunStartFailures, setup_hold);
}
