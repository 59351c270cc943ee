// Starts a program the way an updater would and reads its full 32-bit exit code, which a Linux exit
// status under Wine would cut to its low byte.
#pragma once

#include <windows.h>

#include <string>

struct ChildResult {
  bool started = false;
  DWORD start_error = 0;  // the last refusal, when the harness had to try the start again
  DWORD exit_code = 0;
};

// Starts a program without waiting for it and returns its process handle, owned by the caller, or
// null with the error left for GetLastError. With inherit_handles it inherits this process's
// inheritable handles, as a program started by an updater with redirected pipes does.
HANDLE StartChild(const std::wstring& program_path, const std::wstring& command_line,
                  const std::wstring& current_directory = L"", bool inherit_handles = false);

// Waits for a started program (killing it after the timeout), closes its handle, and returns its
// full exit code.
DWORD WaitForChild(HANDLE process, DWORD timeout_milliseconds = 120000);

// command_line is the whole line, program name included; an empty current_directory keeps ours.
ChildResult RunChild(const std::wstring& program_path, const std::wstring& command_line,
                     const std::wstring& current_directory = L"", DWORD timeout_milliseconds = 120000);

// Sets an environment variable of this process (and so of its children) for the length of a scope;
// a null value removes it. The old value comes back at the end.
class EnvironmentVariableScope {
 public:
  EnvironmentVariableScope(const wchar_t* name, const wchar_t* value);
  EnvironmentVariableScope(const EnvironmentVariableScope&) = delete;
  EnvironmentVariableScope& operator=(const EnvironmentVariableScope&) = delete;
  ~EnvironmentVariableScope();

 private:
  std::wstring name_;
  std::wstring old_value_;
  bool had_value_ = false;
};
